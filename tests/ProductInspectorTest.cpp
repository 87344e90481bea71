// The preview of a removal against the in-memory registry and, in the Windows
// build, against the real one: what it reports, that it changes nothing, and
// that it agrees with what the remover then does, hostile states included.
#include "rules/ZolvaProductInspector.h"

#include "rules/RegistryTree.h"

#include "tests/support/LogEntries.h"
#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

namespace keystrip::test {
namespace {

using namespace platform;

const std::u16string kNul(1, u'\0');

class ProductInspectorTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        auto& s = Scratch();
        // Product: 4 keys (Product, Sub, Sub\Deep, Empty) and 5 values.
        s.SetString(rkLocalMachine, u"Product", u"", u"default");
        s.SetString(rkLocalMachine, u"Product", u"Path", u"C:\\x");
        s.SetDword(rkLocalMachine, u"Product\\Sub", u"Level", 3);
        s.SetValue(rkLocalMachine, u"Product\\Sub\\Deep", u"Blob", kRegBinary, {1, 2, 3});
        s.SetValue(rkLocalMachine, u"Product\\Sub\\Deep", u"Q", kRegQword,
                   {1, 0, 0, 0, 0, 0, 0, 0});
        s.CreateKey(rkLocalMachine, u"Product\\Empty");
        s.SetString(rkCurrentUser, u"Settings", u"Window", u"1,2,3");
        s.SetValue(rkCurrentUser, u"Settings", u"Odd", 0x4711, {9});
    }

    bool Inspect(TZolvaProduct& product, TPreviewProduct* record = nullptr) {
        TZolvaProductInspector inspector(&product, &FLog, Registry());
        inspector.SetRecord(record);
        return inspector.ProductInspected();
    }
    std::u16string Path(TZolvaProductRootKey root, const std::u16string& relative) {
        return RootKeyToText(root) + u'\\' + Key(root, relative);
    }

    TActivityLogger FLog;
};

TEST_P(ProductInspectorTest, ReportsWhatEachRuleWouldDeleteAndChangesNothing) {
    TZolvaProduct product(u"Zolva Suite");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Product"), u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Product\\Empty"), u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Missing"), u"", raCompleteKey);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Settings"), u"WINDOW", raNameOnly);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Settings"), u"Odd", raNameOnly);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Settings"), u"Gone", raNameOnly);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Nothing"), u"x", raNameOnly);
    std::vector<MemoryRegistry::KeyContent> before;
    if (Scratch().Memory())
        before = Scratch().Memory()->Content();

    EXPECT_TRUE(Inspect(product));
    const std::u16string settings = Path(rkCurrentUser, u"Settings");
    const std::vector<LogEntry> expected = {
        {asInfo, aaStartPreview, u"Zolva Suite"},
        {asInfo, aaKeyWouldBeDeleted,
         WithDetail(Path(rkLocalMachine, u"Product"), u"4 keys, 5 values")},
        {asInfo, aaKeyWouldBeDeleted,
         WithDetail(Path(rkLocalMachine, u"Product\\Empty"), u"1 key, 0 values")},
        {asInfo, aaKeyNotFound, Path(rkLocalMachine, u"Missing")},
        {asInfo, aaNameWouldBeDeleted, WithDetail(settings + u"\\WINDOW", u"REG_SZ, 12 bytes")},
        {asInfo, aaNameWouldBeDeleted, WithDetail(settings + u"\\Odd", u"type 18193, 1 byte")},
        {asInfo, aaNameNotFound, settings + u"\\Gone"},
        {asInfo, aaKeyNotFound, Path(rkCurrentUser, u"Nothing")},
        {asInfo, aaStopPreview, u"Success"},
    };
    EXPECT_EQ(Entries(FLog), expected);
    if (Scratch().Memory()) {
        const auto after = Scratch().Memory()->Content();
        ASSERT_EQ(after.size(), before.size());
        for (size_t i = 0; i < after.size(); ++i) {
            EXPECT_EQ(after[i].kernelName, before[i].kernelName);
            EXPECT_TRUE(after[i].values == before[i].values);
        }
    }
    EXPECT_TRUE(Scratch().ValuePresent(rkLocalMachine, u"Product\\Sub\\Deep", u"Blob"));
    EXPECT_TRUE(Scratch().ValuePresent(rkCurrentUser, u"Settings", u"Window"));
}

TEST_P(ProductInspectorTest, TheReportLineNamesTheKeyAndWhatItHolds) {
    TZolvaProduct product(u"P");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Product"), u"", raCompleteKey);
    Inspect(product);
    EXPECT_EQ(FLog.Export({eoInfo}),
              u"Checking what removing product \"P\" would delete\r\n  Key \"" +
                  Path(rkLocalMachine, u"Product") +
                  u"\" would be deleted (4 keys, 5 values)\r\nDone: Success");
}

// Hostile states: the preview says a rule would not be applied exactly when
// the remover then fails it, and counts a link inside a tree as one key.
TEST_P(ProductInspectorTest, AgreesWithTheRemoverOnPlantedStates) {
    auto& s = Scratch();
    s.SetString(rkLocalMachine, u"Victim\\Office", u"v", u"precious");
    s.CreateLink(rkCurrentUser, u"Vendor", rkLocalMachine, u"Victim");
    s.CreateNamedKey(rkLocalMachine, u"Product\\Sub", u"ghost" + kNul + u"x");
    s.CreateLink(rkLocalMachine, u"Product\\ToVictim", rkLocalMachine, u"Victim");
    std::u16string deep = u"Deep";
    for (int i = 0; i < TRegistryTree::kMaxDepth; ++i)
        deep += u"\\D";
    s.CreateKey(rkLocalMachine, deep);

    TZolvaProduct product(u"P");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Product"), u"", raCompleteKey);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Vendor\\Office"), u"", raCompleteKey);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Vendor\\Office"), u"v", raNameOnly);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Deep"), u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, kNul), u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, u"", u"", raCompleteKey);
    EXPECT_FALSE(Inspect(product));
    const auto preview = Entries(FLog);
    ASSERT_EQ(preview.size(), 8u);
    EXPECT_EQ(preview[1],
              (LogEntry{asInfo, aaKeyWouldBeDeleted,
                        WithDetail(Path(rkLocalMachine, u"Product"), u"6 keys, 5 values")}));
    const TActivityAction refusals[] = {aaKeyWouldNotBeDeleted, aaNameWouldNotBeDeleted,
                                        aaKeyWouldNotBeDeleted, aaKeyWouldNotBeDeleted,
                                        aaKeyWouldNotBeDeleted};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(preview[i + 2].action, refusals[i]) << i;
        EXPECT_EQ(preview[i + 2].severity, asWarning) << i;
    }
    EXPECT_NE(preview[2].data.find(u"registry link"), std::u16string::npos);
    EXPECT_NE(preview[5].data.find(u"NUL"), std::u16string::npos);

    TActivityLogger removal;
    EXPECT_FALSE(TZolvaProductRemover(&product, &removal, Registry()).ProductRemoved());
    const auto removed = Entries(removal);
    ASSERT_EQ(removed.size(), preview.size());
    for (size_t i = 1; i + 1 < removed.size(); ++i)
        EXPECT_EQ(removed[i].severity, preview[i].severity) << i;
    EXPECT_TRUE(s.ValuePresent(rkLocalMachine, u"Victim\\Office", u"v"));
}

TEST_P(ProductInspectorTest, RecordsEachRuleAsTheReportCountsItAndTheReportStaysTheSame) {
    TZolvaProduct product(u"Zolva Suite");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Product"), u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Missing"), u"", raCompleteKey);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Settings"), u"Odd", raNameOnly);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Settings"), u"Gone", raNameOnly);
    Inspect(product);
    const auto withoutRecord = Entries(FLog);
    FLog.Clear();
    TPreviewProduct record;
    EXPECT_TRUE(Inspect(product, &record));
    EXPECT_EQ(Entries(FLog), withoutRecord);

    EXPECT_EQ(record.Name, u"Zolva Suite");
    EXPECT_TRUE(record.Complete);
    ASSERT_EQ(record.Rules.size(), 4u);
    struct Expected {
        TZolvaProductRemoveAction action;
        TPreviewStatus status;
        uint64_t keys, values, bytes;
    };
    const Expected expected[] = {
        {raCompleteKey, psWouldBeDeleted, 4, 5, 41},
        {raCompleteKey, psNotFound, 0, 0, 0},
        {raNameOnly, psWouldBeDeleted, 0, 1, 1},
        {raNameOnly, psNotFound, 0, 0, 0},
    };
    for (size_t i = 0; i < record.Rules.size(); ++i) {
        const TPreviewRule& rule = record.Rules[i];
        EXPECT_EQ(rule.RuleIndex, static_cast<int>(i));
        EXPECT_EQ(rule.Action, expected[i].action) << i;
        EXPECT_EQ(rule.Status, expected[i].status) << i;
        EXPECT_EQ(rule.Keys, expected[i].keys) << i;
        EXPECT_EQ(rule.Values, expected[i].values) << i;
        EXPECT_EQ(rule.Bytes, expected[i].bytes) << i;
        EXPECT_TRUE(rule.Reason.empty()) << i;
        EXPECT_EQ(rule.KeyPath(), RootKeyToText(product.Removals(static_cast<int>(i))->Root) +
                                      u'\\' + product.Removals(static_cast<int>(i))->Key);
    }
    EXPECT_EQ(record.Rules[0].Tree[0].Name, Key(rkLocalMachine, u"Product"));
    EXPECT_TRUE(record.Rules[1].Tree.empty());
    EXPECT_EQ(record.Rules[2].ValueName, u"Odd");
    EXPECT_EQ(record.Rules[2].Value.Name, u"Odd");
    EXPECT_EQ(record.Rules[2].Value.Type, 0x4711u);
    EXPECT_EQ(record.Rules[2].Value.Size, 1u);
}

// Every refusal the report gives has its reason in the record; the depth
// limit is marked at the last key the walk reached.
TEST_P(ProductInspectorTest, RecordsWhatARemovalWouldRefuseAndWhere) {
    auto& s = Scratch();
    s.SetString(rkLocalMachine, u"Victim\\Office", u"v", u"precious");
    s.CreateLink(rkCurrentUser, u"Vendor", rkLocalMachine, u"Victim");
    std::u16string deep = u"Deep";
    for (int i = 0; i < TRegistryTree::kMaxDepth; ++i)
        deep += u"\\D";
    s.CreateKey(rkLocalMachine, deep);
    TZolvaProduct product(u"P");
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Vendor\\Office"), u"", raCompleteKey);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Vendor\\Office"), u"v", raNameOnly);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Deep"), u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, kNul), u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, u"", u"", raCompleteKey);
    TPreviewProduct record;
    EXPECT_FALSE(Inspect(product, &record));
    EXPECT_FALSE(record.Complete);
    ASSERT_EQ(record.Rules.size(), 5u);
    const std::vector<LogEntry> log = Entries(FLog);
    for (size_t i = 0; i < record.Rules.size(); ++i) {
        const TPreviewRule& rule = record.Rules[i];
        EXPECT_EQ(rule.Status, psWouldNotBeDeleted) << i;
        ASSERT_FALSE(rule.Reason.empty()) << i;
        // The report's line for the rule gives the same reason.
        EXPECT_NE(log.at(i + 1).data.find(rule.Reason), std::u16string::npos) << i;
    }
    EXPECT_TRUE(record.Rules[0].Tree.empty());
    const TPreviewRule& tooDeep = record.Rules[2];
    ASSERT_FALSE(tooDeep.Tree.empty());
    EXPECT_EQ(tooDeep.Gaps, tgTooDeep);
    EXPECT_EQ(tooDeep.Tree.back().Gaps, tgTooDeep);
    EXPECT_EQ(tooDeep.Tree.front().Gaps, tgNone);
}

INSTANTIATE_TEST_SUITE_P(Registries, ProductInspectorTest, ::testing::ValuesIn(RegistryKinds()),
                         RegistryKindName);

} // namespace
} // namespace keystrip::test
