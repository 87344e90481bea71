// The product detector against the in-memory registry and, in the Windows
// build, against the real one.
#include "rules/ZolvaRuleProcessor.h"

#include "tests/support/LogEntries.h"
#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

namespace keystrip::test {
namespace {

using namespace platform;

class ProductDetectorTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        auto& s = Scratch();
        s.SetString(rkLocalMachine, u"App", u"", u"Default Text");
        s.SetString(rkLocalMachine, u"App", u"Edition", u"Professional");
        s.SetString(rkLocalMachine, u"App", u"Umlaut", u"\u00c4pfel");
        s.SetString(rkLocalMachine, u"App", u"Path", u"%ProgramFiles%\\Zolva", kRegExpandSz);
        s.SetString(rkLocalMachine, u"App", u"Empty", u"");
        s.SetValue(rkLocalMachine, u"App", u"Nul", kRegSz,
                   Utf16Bytes(std::u16string(u"abc\0def\0", 8)));
        s.SetDword(rkLocalMachine, u"App", u"Minus", 0xFFFFFFFFu);
        s.SetDword(rkLocalMachine, u"App", u"Zero", 0);
        s.SetValue(rkLocalMachine, u"App", u"Binary", kRegBinary, Utf16Bytes(u"1"));
        s.SetValue(rkLocalMachine, u"App", u"Multi", kRegMultiSz,
                   Utf16Bytes(std::u16string(u"a\0b\0\0", 5)));
        s.SetValue(rkLocalMachine, u"App", u"Qword", kRegQword, {1, 0, 0, 0, 0, 0, 0, 0});
        s.SetValue(rkLocalMachine, u"App", u"None", kRegNone, {'1', 0});
        s.SetValue(rkLocalMachine, u"App", u"NoneEmpty", kRegNone, {});
        s.CreateKey(rkLocalMachine, u"Vendor\\\u00c4rger");
        s.CreateKey(rkCurrentUser, u"UserOnly");
    }

    bool Detect(TZolvaProduct* product) {
        TZolvaProductDetector detector(product, &FLog, Registry());
        return detector.ProductPresent();
    }
    std::u16string Machine(const std::u16string& relative) {
        return u"HKEY_LOCAL_MACHINE\\" + Key(rkLocalMachine, relative);
    }

    TActivityLogger FLog;
};

enum DataKind { dkKeyPath, dkValuePath, dkValueText };

struct DetectCase {
    const char* label;
    std::u16string key; // below the scratch tree of HKLM
    std::u16string name;
    std::u16string value;
    TZolvaProductDetectAction action;
    bool holds;
    TActivityAction entry;
    DataKind data;
};

TEST_P(ProductDetectorTest, EachRuleGivesItsAnswerAndOneDebugEntry) {
    const DetectCase cases[] = {
        {"key exists", u"App", u"", u"", daKeyExist, true, baKeyFound, dkKeyPath},
        {"key missing", u"Nope", u"", u"", daKeyExist, false, aaKeyNotFound, dkKeyPath},
        {"key in other case", u"VENDOR\\\u00e4RGER", u"", u"", daKeyExist, true, baKeyFound,
         dkKeyPath},
        {"name exists", u"App", u"edition", u"", daNameExist, true, aaNameFound, dkValuePath},
        {"default value exists", u"App", u"", u"", daNameExist, true, aaNameFound, dkValuePath},
        {"name missing", u"App", u"Nope", u"", daNameExist, false, aaNameNotFound, dkValuePath},
        {"no default value", u"Vendor", u"", u"", daNameExist, false, aaNameNotFound, dkValuePath},
        {"name in missing key", u"Nope", u"Edition", u"", daNameExist, false, aaKeyNotFound,
         dkKeyPath},
        {"text equal", u"App", u"Edition", u"Professional", daNameMatchValue, true, aaValueEqual,
         dkValueText},
        {"text equal in ASCII case", u"App", u"Edition", u"PROFESSIONAL", daNameMatchValue, true,
         aaValueEqual, dkValueText},
        {"text different", u"App", u"Edition", u"Home", daNameMatchValue, false, aaValueDifferent,
         dkValueText},
        {"text longer", u"App", u"Edition", u"Professional ", daNameMatchValue, false,
         aaValueDifferent, dkValueText},
        {"non-ASCII case differs", u"App", u"Umlaut", u"\u00e4pfel", daNameMatchValue, false,
         aaValueDifferent, dkValueText},
        {"non-ASCII same", u"App", u"Umlaut", u"\u00c4PFEL", daNameMatchValue, true, aaValueEqual,
         dkValueText},
        {"default value text", u"App", u"", u"default text", daNameMatchValue, true, aaValueEqual,
         dkValueText},
        {"expandable unexpanded", u"App", u"Path", u"%programfiles%\\zolva", daNameMatchValue, true,
         aaValueEqual, dkValueText},
        {"expandable never expanded", u"App", u"Path", u"C:\\Program Files\\Zolva",
         daNameMatchValue, false, aaValueDifferent, dkValueText},
        {"text cut at NUL", u"App", u"Nul", u"abc", daNameMatchValue, true, aaValueEqual,
         dkValueText},
        {"dword -1", u"App", u"Minus", u"-1", daNameMatchValue, true, aaValueEqual, dkValueText},
        {"dword not unsigned", u"App", u"Minus", u"4294967295", daNameMatchValue, false,
         aaValueDifferent, dkValueText},
        {"dword 0", u"App", u"Zero", u"0", daNameMatchValue, true, aaValueEqual, dkValueText},
        {"dword 0 no leading zeros", u"App", u"Zero", u"00", daNameMatchValue, false,
         aaValueDifferent, dkValueText},
        {"dword 0 against empty", u"App", u"Zero", u"", daNameMatchValue, false, aaValueDifferent,
         dkValueText},
        {"empty string", u"App", u"Empty", u"", daNameMatchValue, false, aaNameInvalid,
         dkValuePath},
        {"binary", u"App", u"Binary", u"1", daNameMatchValue, false, aaNameInvalid, dkValuePath},
        {"multi string", u"App", u"Multi", u"a", daNameMatchValue, false, aaNameInvalid,
         dkValuePath},
        {"qword", u"App", u"Qword", u"1", daNameMatchValue, false, aaNameInvalid, dkValuePath},
        {"none", u"App", u"None", u"", daNameMatchValue, false, aaNameInvalid, dkValuePath},
        {"none without data", u"App", u"NoneEmpty", u"", daNameMatchValue, false, aaNameInvalid,
         dkValuePath},
        {"value missing", u"App", u"Nope", u"x", daNameMatchValue, false, aaNameNotFound,
         dkValuePath},
        {"match in missing key", u"Nope", u"Edition", u"x", daNameMatchValue, false, aaKeyNotFound,
         dkKeyPath},
    };
    for (const auto& c : cases) {
        TZolvaProduct product(u"Zolva Suite");
        std::u16string key = Key(rkLocalMachine, c.key);
        product.AddDetection(rkLocalMachine, key, c.name, c.value, c.action);
        TActivityLogger log;
        TZolvaProductDetector detector(&product, &log, Registry());
        EXPECT_EQ(detector.ProductPresent(), c.holds) << c.label;

        std::u16string data = u"HKEY_LOCAL_MACHINE\\" + key;
        if (c.data != dkKeyPath)
            data += u"\\" + c.name;
        if (c.data == dkValueText)
            data += u": " + c.value;
        std::vector<LogEntry> expected = {
            {asDebug, aaStartDetection, u"Zolva Suite"},
            {asDebug, c.entry, data},
            {asDebug, aaStopDetection, c.holds ? u"Success" : u"Failure"},
        };
        EXPECT_EQ(Entries(log), expected) << c.label;
    }
}

TEST_P(ProductDetectorTest, TheFirstHoldingRuleEndsTheDetection) {
    TZolvaProduct product(u"P");
    product.AddDetection(rkLocalMachine, Key(rkLocalMachine, u"Nope"), u"", u"", daKeyExist);
    product.AddDetection(rkLocalMachine, Key(rkLocalMachine, u"App"), u"Edition", u"professional",
                         daNameMatchValue);
    product.AddDetection(rkLocalMachine, Key(rkLocalMachine, u"App"), u"", u"", daKeyExist);
    EXPECT_TRUE(Detect(&product));
    std::vector<LogEntry> expected = {
        {asDebug, aaStartDetection, u"P"},
        {asDebug, aaKeyNotFound, Machine(u"Nope")},
        {asDebug, aaValueEqual, Machine(u"App") + u"\\Edition: professional"},
        {asDebug, aaStopDetection, u"Success"},
    };
    EXPECT_EQ(Entries(FLog), expected);
}

TEST_P(ProductDetectorTest, NoRuleHoldingMeansAbsentAfterCheckingThemAll) {
    TZolvaProduct product(u"P");
    product.AddDetection(rkLocalMachine, Key(rkLocalMachine, u"Nope"), u"", u"", daKeyExist);
    product.AddDetection(rkLocalMachine, Key(rkLocalMachine, u"App"), u"Nope", u"", daNameExist);
    // Only in HKEY_CURRENT_USER: the root of the rule decides.
    product.AddDetection(rkLocalMachine, Key(rkCurrentUser, u"UserOnly"), u"", u"", daKeyExist);
    EXPECT_FALSE(Detect(&product));
    auto entries = Entries(FLog);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries.back(), (LogEntry{asDebug, aaStopDetection, u"Failure"}));
}

TEST_P(ProductDetectorTest, KeyPathsShowTheRuleKeyAsWritten) {
    TZolvaProduct product(u"P");
    product.AddDetection(rkLocalMachine, u"\\" + Key(rkLocalMachine, u"App"), u"", u"", daKeyExist);
    EXPECT_TRUE(Detect(&product));
    EXPECT_EQ(Entries(FLog)[1].data, u"HKEY_LOCAL_MACHINE\\\\" + Key(rkLocalMachine, u"App"));

    TZolvaProduct user(u"U");
    user.AddDetection(rkCurrentUser, Key(rkCurrentUser, u"UserOnly"), u"", u"", daKeyExist);
    EXPECT_TRUE(Detect(&user));
    EXPECT_EQ(Entries(FLog)[4].data, u"HKEY_CURRENT_USER\\" + Key(rkCurrentUser, u"UserOnly"));
}

TEST_P(ProductDetectorTest, AnEmptyKeyIsTheRootItself) {
    TZolvaProduct product(u"P");
    product.AddDetection(rkCurrentUser, u"", u"", u"", daKeyExist);
    EXPECT_TRUE(Detect(&product));
    EXPECT_EQ(Entries(FLog)[1], (LogEntry{asDebug, baKeyFound, u"HKEY_CURRENT_USER\\"}));
}

TEST_P(ProductDetectorTest, WithoutRulesOrProductNothingIsFound) {
    EXPECT_FALSE(Detect(nullptr));
    EXPECT_EQ(FLog.Count(), 0);

    TZolvaProduct product(u"Empty");
    EXPECT_FALSE(Detect(&product));
    std::vector<LogEntry> expected = {
        {asDebug, aaStartDetection, u"Empty"},
        {asDebug, aaStopDetection, u"Failure"},
    };
    EXPECT_EQ(Entries(FLog), expected);
}

TEST_P(ProductDetectorTest, AnUnknownActionNeverHoldsAndIsNotLogged) {
    TZolvaProduct product(u"P");
    product.AddDetection(rkLocalMachine, Key(rkLocalMachine, u"App"), u"", u"",
                         static_cast<TZolvaProductDetectAction>(3));
    EXPECT_FALSE(Detect(&product));
    EXPECT_EQ(FLog.Count(), 2);
}

INSTANTIATE_TEST_SUITE_P(Registries, ProductDetectorTest, ::testing::ValuesIn(RegistryKinds()),
                         RegistryKindName);

} // namespace
} // namespace keystrip::test
