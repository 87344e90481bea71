// The preview's tree, built from the record of a real preview: it holds the
// same keys and values as the text report counts, and says what a removal
// would refuse, and why, where it is.
#include "app/PreviewTree.h"

#include "rules/ZolvaProductInspector.h"

#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace keystrip::test {
namespace {

using namespace platform;

// Every label below a node, depth first, indented by level.
void Walk(const TPreviewTree& tree, const TPreviewNode& node, int level,
          std::vector<std::u16string>& out) {
    out.push_back(std::u16string(static_cast<size_t>(level) * 2, u' ') + tree.Label(node));
    const auto children = tree.Children(node);
    EXPECT_EQ(tree.HasChildren(node), !children.empty()) << Utf16ToUtf8(tree.Label(node));
    for (const auto& child : children)
        Walk(tree, child, level + 1, out);
}

class PreviewTreeTest : public RegistryTest {
protected:
    // The labels of the product's preview tree, with its text report.
    std::vector<std::u16string> Labels(TZolvaProduct& product) {
        std::vector<TPreviewProduct> record(1);
        TActivityLogger log;
        TZolvaProductInspector inspector(&product, &log, Registry());
        inspector.SetRecord(&record.front());
        inspector.ProductInspected();
        Report = Utf16ToUtf8(log.Export({eoInfo, eoWarning, eoError}));
        TPreviewTree tree(record);
        std::vector<std::u16string> labels;
        for (const auto& root : tree.Roots())
            Walk(tree, root, 0, labels);
        return labels;
    }
    std::u16string Hklm() { return u"HKEY_LOCAL_MACHINE\\" + Key(rkLocalMachine, u""); }

    std::string Report;
};

TEST_P(PreviewTreeTest, HoldsWhatTheReportCountsAndMarksRefusalsWhereTheyAre) {
    auto& s = Scratch();
    s.SetString(rkLocalMachine, u"Office", u"", u"default");
    s.SetString(rkLocalMachine, u"Office\\Settings", u"Path", u"C:\\x");
    s.SetDword(rkLocalMachine, u"Office\\Settings\\Deep", u"Level", 3);
    s.CreateKey(rkLocalMachine, u"Office\\Empty");
    s.CreateLink(rkLocalMachine, u"Office\\Link", rkLocalMachine, u"Victim");
    s.CreateNamedKey(rkLocalMachine, u"Office", std::u16string(u"Odd\0name", 8));
    s.SetString(rkLocalMachine, u"Victim\\Office", u"v", u"precious");
    s.CreateLink(rkCurrentUser, u"Vendor", rkLocalMachine, u"Victim");
    s.SetString(rkCurrentUser, u"Run", u"Office", u"office.exe");
    TZolvaProduct product(u"Zolva Office");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Office"), u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Missing"), u"", raCompleteKey);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Run"), u"Office", raNameOnly);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Run"), u"Gone", raNameOnly);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Vendor\\Office"), u"", raCompleteKey);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Vendor\\Office"), u"v", raNameOnly);
    const std::vector<std::u16string> labels = Labels(product);
    const std::u16string hklm = Hklm();
    const std::u16string hkcu = u"HKEY_CURRENT_USER\\" + Key(rkCurrentUser, u"");
    // The link's target is the kernel's name of the key, which differs by registry.
    ASSERT_GT(labels.size(), 3u);
    const std::u16string& link = labels[3];
    EXPECT_EQ(link.rfind(u"    Link (registry link to \\REGISTRY\\", 0), 0u) << Utf16ToUtf8(link);
    EXPECT_NE(link.find(u"\\Victim, not followed)"), std::u16string::npos) << Utf16ToUtf8(link);
    const std::u16string reason = u"the way to it leads through a registry link";
    const std::u16string refused = u": would not be deleted, " + reason;
    // Subkeys before values, in the registry's order; the default value by name.
    EXPECT_EQ(labels, (std::vector<std::u16string>{
                          u"Zolva Office (not everything would be removed)",
                          u"  " + hklm + u"\\Office (6 keys, 3 values)",
                          u"    Empty (1 key, 0 values)",
                          link,
                          u"    Odd\\0name (1 key, 0 values)",
                          u"    Settings (2 keys, 2 values)",
                          u"      Deep (1 key, 1 value)",
                          u"        Level (REG_DWORD, 4 bytes)",
                          u"      Path (REG_SZ, 10 bytes)",
                          u"    (Default) (REG_SZ, 16 bytes)",
                          u"  " + hklm + u"\\Missing: not found",
                          u"  " + hkcu + u"\\Run",
                          u"    Office (REG_SZ, 22 bytes)",
                          u"  " + hkcu + u"\\Run\\Gone: not found",
                          u"  " + hkcu + u"\\Vendor\\Office" + refused,
                          u"  " + hkcu + u"\\Vendor\\Office\\v" + refused,
                      }));
    // The report counts the same.
    for (const std::string& line :
         {"Key \"" + Utf16ToUtf8(hklm) + "\\Office\" would be deleted (6 keys, 3 values)",
          "Name \"" + Utf16ToUtf8(hkcu) + R"(\Run\Office" would be deleted (REG_SZ, 22 bytes))",
          "would not be deleted (" + Utf16ToUtf8(reason) + ")"})
        EXPECT_NE(Report.find(line), std::string::npos) << line << "\n" << Report;
}

TEST_P(PreviewTreeTest, ASubkeyTheWalkCannotOpenIsLeftOutAtItsParent) {
    if (!Scratch().Memory())
        GTEST_SKIP() << "only the in-memory registry refuses every access";
    Scratch().CreateKey(rkLocalMachine, u"Product\\Sub\\Locked\\Inner");
    Scratch().Memory()->DenyOpen(kHkeyLocalMachine, Key(rkLocalMachine, u"Product\\Sub\\Locked"),
                                 kKeyAllAccess | kDelete);
    TZolvaProduct product(u"P");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Product"), u"", raCompleteKey);
    EXPECT_EQ(Labels(product),
              (std::vector<std::u16string>{u"P", u"  " + Hklm() + u"\\Product (2 keys, 0 values)",
                                           u"    Sub (1 key, 0 values; part of it cannot be read)",
                                           u"      Locked (left alone: it cannot be opened)"}));
    EXPECT_NE(Report.find("part of it cannot be read"), std::string::npos) << Report;
}

// Wide and deep at once: every key once, below its own parent.
TEST_P(PreviewTreeTest, ALargeTreeHoldsEveryKeyOnceBelowItsParent) {
    for (int a = 0; a < 20; ++a)
        for (int b = 0; b < 20; ++b)
            Scratch().SetDword(rkLocalMachine,
                               U16("Big\\A" + std::to_string(a) + "\\B" + std::to_string(b)), u"n",
                               1);
    TZolvaProduct product(u"P");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Big"), u"", raCompleteKey);
    const std::vector<std::u16string> labels = Labels(product);
    ASSERT_EQ(labels.size(), 2u + 20 + 400 + 400);
    EXPECT_EQ(labels[1], u"  " + Hklm() + u"\\Big (421 keys, 400 values)");
    EXPECT_EQ(std::count(labels.begin(), labels.end(), u"        n (REG_DWORD, 4 bytes)"), 400);
    size_t wide = 0;
    for (const auto& label : labels)
        if (label.rfind(u"    A", 0) == 0) {
            ++wide;
            EXPECT_NE(label.find(u" (21 keys, 20 values)"), std::u16string::npos)
                << Utf16ToUtf8(label);
        }
    EXPECT_EQ(wide, 20u);
}

INSTANTIATE_TEST_SUITE_P(Registries, PreviewTreeTest, ::testing::ValuesIn(RegistryKinds()),
                         RegistryKindName);

} // namespace
} // namespace keystrip::test
