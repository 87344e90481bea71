// The activity log and its text report.
#include "activity/ActivityLogger.h"

#include "common/Errors.h"

#include <gtest/gtest.h>

#include <string>

using namespace keystrip;

namespace {

const std::u16string kHeader =
    u"Zolva Keystrip\r\nCopyright (c) 2026 Zolva Software AG.\r\nAll rights reserved.\r\n";

// --- The log ------------------------------------------------------------------

TEST(ActivityLoggerTest, KeepsEveryEntryAsLoggedInLoggingOrder) {
    TActivityLogger log;
    EXPECT_EQ(log.Count(), 0);
    log.Log(asWarning, aaKeyNotDeleted, u"HKEY_USERS\\X");
    log.Log(asInfo, aaKeyDeleted, u"");
    log.Log(asInfo, aaKeyDeleted, u"");
    // Values outside the enumerations are stored as passed.
    log.Log(static_cast<TActivitySeverity>(200), static_cast<TActivityAction>(99), u"odd");
    ASSERT_EQ(log.Count(), 4);
    EXPECT_EQ(log.GetEntry(0)->Severity, asWarning);
    EXPECT_EQ(log.GetEntry(0)->Action, aaKeyNotDeleted);
    EXPECT_EQ(log.GetEntry(0)->Data, u"HKEY_USERS\\X");
    EXPECT_EQ(log.GetEntry(1)->Data, u"");
    EXPECT_NE(log.GetEntry(1), log.GetEntry(2));
    EXPECT_EQ(log.Entries(2), log.GetEntry(2));
    EXPECT_EQ(log.GetEntry(3)->Severity, 200);
    EXPECT_EQ(log.GetEntry(3)->Action, 99);
}

TEST(ActivityLoggerTest, ClearEmptiesTheLogAndLoggingStartsAgainAtZero) {
    TActivityLogger log;
    log.Log(asInfo, ssStartRemoval, u"A");
    log.Log(asInfo, ssStopRemoval, u"Success");
    log.Clear();
    EXPECT_EQ(log.Count(), 0);
    EXPECT_EQ(log.Export(TActivityExportOptions::FromByte(0x3F)), kHeader);
    log.Log(asDebug, aaStartDetection, u"B");
    ASSERT_EQ(log.Count(), 1);
    EXPECT_EQ(log.GetEntry(0)->Data, u"B");
}

class LogBadIndexTest : public testing::TestWithParam<int> {};

TEST_P(LogBadIndexTest, FailsWithTheIndexGivenAndLeavesTheLogAsItWas) {
    TActivityLogger log;
    log.Log(asInfo, aaNameDeleted, u"a");
    log.Log(asInfo, aaNameDeleted, u"b");
    const int index = GetParam();
    try {
        log.GetEntry(index);
        FAIL() << "no error for index " << index;
    } catch (const EListError& e) {
        EXPECT_EQ(e.what(), "List index out of bounds (" + std::to_string(index) + ")");
    }
    EXPECT_THROW(log.Entries(index), EListError);
    EXPECT_EQ(log.Count(), 2);
    EXPECT_EQ(log.GetEntry(1)->Data, u"b");
}

INSTANTIATE_TEST_SUITE_P(Table, LogBadIndexTest, testing::Values(-1, 2, 3, 2147483647));

// --- Message formats ------------------------------------------------------------

struct FormatRow {
    unsigned action;
    std::u16string line; // with the text X in place of %s
};

class MessageFormatTest : public testing::TestWithParam<FormatRow> {};

TEST_P(MessageFormatTest, PutsTheTextIntoTheFormatOfTheAction) {
    TActivityLogger log;
    log.Log(asInfo, static_cast<TActivityAction>(GetParam().action), u"X");
    EXPECT_EQ(log.Export({eoInfo}), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MessageFormatTest,
    testing::Values(
        FormatRow{aaFatalError, u"Fatal exception X error"},
        FormatRow{aaStartDetection, u"Detecting product \"X\""},
        FormatRow{aaStopDetection, u"Done: X"},
        FormatRow{ssStartRemoval, u"Removing product \"X\""}, FormatRow{ssStopRemoval, u"Done: X"},
        FormatRow{ssSimulationOnly, u"  !!!Simulation Mode!!! Deleting \"X\""},
        FormatRow{baKeyFound, u"  Key \"X\" found"},
        FormatRow{aaKeyNotFound, u"  Key \"X\" not found"},
        FormatRow{aaNameFound, u"  Name \"X\" found"},
        FormatRow{aaNameNotFound, u"  Name \"X\" not found"},
        FormatRow{aaNameInvalid, u"  Name \"X\" invalid"},
        FormatRow{aaValueEqual, u"  Value \"X\" found"},
        FormatRow{aaValueDifferent, u"  Value \"X\" not found"},
        FormatRow{aaKeyDeleted, u"  Key \"X\" deleted"},
        FormatRow{aaKeyNotDeleted, u"  Key \"X\" not deleted (access denied or locked)"},
        FormatRow{aaNameDeleted, u"  Name \"X\" deleted"},
        FormatRow{aaNameNotDeleted, u"  Name \"X\" not deleted  (access denied or locked)"},
        FormatRow{200, u"Unknown action!"}, FormatRow{255, u"Unknown action!"}));

// The actions beyond the removal itself, with data "X" and, where the format
// has a detail, the detail "Y".
INSTANTIATE_TEST_SUITE_P(
    BeyondRemoval, MessageFormatTest,
    testing::Values(FormatRow{aaStartPreview, u"Checking what removing product \"X\" would delete"},
                    FormatRow{aaStopPreview, u"Done: X"},
                    FormatRow{aaBackupFile, u"Backup of everything deleted: \"X\""},
                    FormatRow{aaStartRestore, u"Restoring from \"X\""},
                    FormatRow{aaStopRestore, u"Done: X"},
                    FormatRow{aaRestoreRefused, u"Nothing was restored: X"},
                    FormatRow{aaStartRestorePreview,
                              u"Checking what restoring from \"X\" would write"}));

TEST(ActivityDetailTest, AnEntryWithADetailShowsBothPartsInItsFormat) {
    const std::pair<TActivityAction, std::u16string> rows[] = {
        {aaKeyWouldBeDeleted, u"  Key \"X\" would be deleted (Y)"},
        {aaNameWouldBeDeleted, u"  Name \"X\" would be deleted (Y)"},
        {aaKeyWouldNotBeDeleted, u"  Key \"X\" would not be deleted (Y)"},
        {aaNameWouldNotBeDeleted, u"  Name \"X\" would not be deleted (Y)"},
        {aaKeyNotBackedUp, u"  Key \"X\" not deleted: the backup could not be written (Y)"},
        {aaNameNotBackedUp, u"  Name \"X\" not deleted: the backup could not be written (Y)"},
        {aaKeyRestored, u"  Key \"X\" restored (Y)"},
        {aaKeyNotRestored, u"  Key \"X\" not restored (Y)"},
        {aaProfileNotLoaded, u"Profile \"X\" not loaded (Y)"},
        {aaKeyWouldBeRestored, u"  Key \"X\" would be restored (Y)"},
        {aaKeyWouldNotBeRestored, u"  Key \"X\" would not be restored (Y)"},
    };
    for (const auto& [action, line] : rows) {
        TActivityLogger log;
        log.Log(asInfo, action, WithDetail(u"X", u"Y"));
        EXPECT_EQ(log.Export({eoInfo}), line) << int(action);
    }
    // A NUL in the data of an action without a detail is data like any other.
    TActivityLogger log;
    log.Log(asInfo, aaKeyDeleted, WithDetail(u"X", u"%s"));
    EXPECT_EQ(log.Export({eoInfo}), std::u16string(u"  Key \"X\0%s\" deleted", 20));
}

struct DataRow {
    std::u16string data;
    std::u16string line;
};

class MessageDataTest : public testing::TestWithParam<DataRow> {};

TEST_P(MessageDataTest, CopiesTheTextAsStored) {
    TActivityLogger log;
    log.Log(asDebug, aaStartDetection, GetParam().data);
    EXPECT_EQ(log.Export({eoDebug}), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MessageDataTest,
    testing::Values(DataRow{u"", u"Detecting product \"\""},
                    DataRow{u"%s %d %%", u"Detecting product \"%s %d %%\""},
                    DataRow{u" \"quoted\" ", u"Detecting product \" \"quoted\" \""},
                    DataRow{u"Zolva \u00DCber \U0001F600",
                            u"Detecting product \"Zolva \u00DCber \U0001F600\""},
                    DataRow{u"two\r\nlines", u"Detecting product \"two\r\nlines\""}));

// --- Severity selection, tags and the report's shape -----------------------------

// One entry of each severity, and one of a severity outside the enumeration.
void LogOneOfEach(TActivityLogger& log) {
    log.Log(asInfo, ssStartRemoval, u"I");
    log.Log(asWarning, aaKeyNotDeleted, u"W");
    log.Log(asError, aaFatalError, u"3");
    log.Log(asDebug, aaStopDetection, u"Success");
    log.Log(static_cast<TActivitySeverity>(4), aaKeyDeleted, u"never");
}

const std::u16string kInfoLine = u"Removing product \"I\"";
const std::u16string kWarningLine = u"  Key \"W\" not deleted (access denied or locked)";
const std::u16string kErrorLine = u"Fatal exception 3 error";
const std::u16string kDebugLine = u"Done: Success";

struct ExportRow {
    const char* label;
    uint8_t options;
    std::u16string report;
};

class ExportTest : public testing::TestWithParam<ExportRow> {};

TEST_P(ExportTest, SelectsBySeverityAndShapesTheReport) {
    TActivityLogger log;
    LogOneOfEach(log);
    const auto options = TActivityExportOptions::FromByte(GetParam().options);
    EXPECT_EQ(log.Export(options), GetParam().report);
    // Exporting reads only.
    EXPECT_EQ(log.Export(options), GetParam().report);
    EXPECT_EQ(log.Count(), 5);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExportTest,
    testing::Values(
        ExportRow{"None", 0, u""}, ExportRow{"HeaderOnly", 1, kHeader},
        ExportRow{"SeverityOnly", 32, u""}, ExportRow{"HeaderAndSeverity", 33, kHeader},
        ExportRow{"Info", 2, kInfoLine}, ExportRow{"Warning", 4, kWarningLine},
        ExportRow{"Error", 8, kErrorLine}, ExportRow{"Debug", 16, kDebugLine},
        ExportRow{"MainWindow", 14, kInfoLine + u"\r\n" + kWarningLine + u"\r\n" + kErrorLine},
        ExportRow{"HeaderAndEntries", 1 | 2 | 16,
                  kHeader + u"\r\n" + kInfoLine + u"\r\n" + kDebugLine},
        ExportRow{"Tagged", 2 | 4 | 8 | 16 | 32,
                  u"[INFO]    " + kInfoLine + u"\r\n[WARNING] " + kWarningLine + u"\r\n[ERROR]   " +
                      kErrorLine + u"\r\n[DEBUG]   " + kDebugLine},
        ExportRow{"Everything", 63,
                  kHeader + u"\r\n[INFO]    " + kInfoLine + u"\r\n[WARNING] " + kWarningLine +
                      u"\r\n[ERROR]   " + kErrorLine + u"\r\n[DEBUG]   " + kDebugLine},
        // Bits beyond the six options select nothing more.
        ExportRow{"HighBits", 0xC0 | 16, kDebugLine}),
    [](const testing::TestParamInfo<ExportRow>& info) { return std::string(info.param.label); });

TEST(ActivityExportTest, OptionSetsHaveTheirByteValues) {
    EXPECT_EQ(TActivityExportOptions({eoHeader}).Byte(), 1);
    EXPECT_EQ(TActivityExportOptions({eoInfo}).Byte(), 2);
    EXPECT_EQ(TActivityExportOptions({eoWarning}).Byte(), 4);
    EXPECT_EQ(TActivityExportOptions({eoError}).Byte(), 8);
    EXPECT_EQ(TActivityExportOptions({eoDebug}).Byte(), 16);
    EXPECT_EQ(TActivityExportOptions({eoSeverity}).Byte(), 32);
    EXPECT_EQ(TActivityExportOptions({eoInfo, eoWarning, eoError}).Byte(), 14);
    EXPECT_EQ(TActivityExportOptions().Byte(), 0);
}

TEST(ActivityExportTest, ADetectionOnlyLogIsEmptyUnderTheMainWindowsOptions) {
    TActivityLogger log;
    log.Log(asDebug, aaStartDetection, u"Zolva Reader");
    log.Log(asDebug, baKeyFound, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Zolva");
    log.Log(asDebug, aaStopDetection, u"Success");
    EXPECT_EQ(log.Export({eoInfo, eoWarning, eoError}), u"");
    EXPECT_EQ(log.Export({eoDebug}), u"Detecting product \"Zolva Reader\"\r\n"
                                     u"  Key \"HKEY_LOCAL_MACHINE\\SOFTWARE\\Zolva\" found\r\n"
                                     u"Done: Success");
}

TEST(ActivityExportTest, AnEmptyLogGivesTheEmptyTextOrTheHeaderAlone) {
    TActivityLogger log;
    EXPECT_EQ(log.Export(TActivityExportOptions::FromByte(0x3E)), u"");
    EXPECT_EQ(log.Export(TActivityExportOptions::FromByte(0x3F)), kHeader);
}

} // namespace
