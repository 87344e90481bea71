// The preview's tree, built from the record of a real preview: it holds the
// same keys and values as the text report counts, rule by rule, and says
// what a removal would refuse, and why, where it is.
#include "app/PreviewTree.h"

#include "rules/ZolvaProductInspector.h"

#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

namespace keystrip::test {
namespace {

using namespace platform;

class PreviewTreeTest : public RegistryTest {
protected:
    // Inspects the product, with its record and its report.
    void Inspect(TZolvaProduct& product) {
        FProducts.emplace_back();
        TZolvaProductInspector inspector(&product, &FLog, Registry());
        inspector.SetRecord(&FProducts.back());
        inspector.ProductInspected();
    }

    // Every label below a node, depth first, indented by level.
    void Walk(const TPreviewTree& tree, const TPreviewNode& node, int level,
              std::vector<std::pair<TPreviewNode, std::u16string>>& out) {
        out.emplace_back(node,
                         std::u16string(static_cast<size_t>(level) * 2, u' ') + tree.Label(node));
        const auto children = tree.Children(node);
        EXPECT_EQ(tree.HasChildren(node), !children.empty()) << Utf16ToUtf8(tree.Label(node));
        for (const auto& child : children)
            Walk(tree, child, level + 1, out);
    }

    std::vector<TPreviewProduct> FProducts;
    TActivityLogger FLog;
};

TEST_P(PreviewTreeTest, HoldsTheKeysAndValuesTheReportCountsRuleByRule) {
    auto& s = Scratch();
    s.SetString(rkLocalMachine, u"Office", u"", u"default");
    s.SetString(rkLocalMachine, u"Office\\Settings", u"Path", u"C:\\x");
    s.SetDword(rkLocalMachine, u"Office\\Settings\\Deep", u"Level", 3);
    s.CreateKey(rkLocalMachine, u"Office\\Empty");
    for (int i = 0; i < 12; ++i)
        s.SetDword(rkLocalMachine, U16("Office\\Many\\K" + std::to_string(i)), u"n", 1);
    s.SetString(rkCurrentUser, u"Run", u"Office", u"office.exe");
    TZolvaProduct product(u"Zolva Office");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Office"), u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Missing"), u"", raCompleteKey);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Run"), u"Office", raNameOnly);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Run"), u"Gone", raNameOnly);
    Inspect(product);
    const std::u16string report = FLog.Export({eoInfo, eoWarning, eoError});

    TPreviewTree tree(FProducts);
    ASSERT_EQ(tree.Roots().size(), 1u);
    std::vector<std::pair<TPreviewNode, std::u16string>> all;
    Walk(tree, tree.Roots()[0], 0, all);
    EXPECT_EQ(all[0].second, u"Zolva Office");

    // Each target against its report line, and what lies below it against
    // the report's counts.
    const std::string text = Utf16ToUtf8(report);
    size_t targets = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        const TPreviewNode& node = all[i].first;
        if (node.Kind != TPreviewNodeKind::Target)
            continue;
        ++targets;
        const TPreviewRule& rule = FProducts[0].Rules[node.Rule];
        const std::string label = Utf16ToUtf8(all[i].second.substr(2));
        size_t keys = 0, values = 0;
        std::string valueLabel;
        for (size_t j = i + 1; j < all.size() && all[j].second.compare(0, 4, u"    ") == 0; ++j) {
            keys += all[j].first.Kind == TPreviewNodeKind::Key;
            if (all[j].first.Kind == TPreviewNodeKind::Value) {
                ++values;
                valueLabel = Utf16ToUtf8(all[j].second);
            }
        }
        std::smatch match;
        if (rule.Action == raCompleteKey && rule.Status == psWouldBeDeleted) {
            const std::string path = Utf16ToUtf8(rule.KeyPath());
            const std::string line = "Key \"" + path + "\" would be deleted (";
            const size_t at = text.find(line);
            ASSERT_NE(at, std::string::npos) << text;
            const std::string counts = text.substr(at + line.size());
            ASSERT_TRUE(
                std::regex_search(counts, match, std::regex(R"(^(\d+) keys?, (\d+) values?\))")));
            EXPECT_EQ(label,
                      path + " (" + match[1].str() + " keys, " + match[2].str() + " values)");
            EXPECT_EQ(keys + 1, std::stoul(match[1].str())) << "the target is the rule's key";
            EXPECT_EQ(values, std::stoul(match[2].str()));
        } else if (rule.Action == raNameOnly && rule.Status == psWouldBeDeleted) {
            ASSERT_TRUE(std::regex_search(
                text, match, std::regex(R"(\\Office" would be deleted \((REG_SZ, \d+ bytes)\))")))
                << text;
            EXPECT_EQ(label, Utf16ToUtf8(rule.KeyPath()));
            EXPECT_EQ(values, 1u);
            EXPECT_EQ(valueLabel, "    Office (" + match[1].str() + ")");
        } else {
            EXPECT_EQ(rule.Status, psNotFound);
            EXPECT_NE(label.find(": not found"), std::string::npos) << label;
            EXPECT_NE(text.find("not found"), std::string::npos);
            EXPECT_EQ(keys + values, 0u);
        }
    }
    EXPECT_EQ(targets, 4u);
    // Subkeys before values, each with its own counts; the default value by name.
    const std::vector<std::u16string> expected = {
        u"    Settings (2 keys, 2 values)",
        u"      Deep (1 key, 1 value)",
        u"        Level (REG_DWORD, 4 bytes)",
        u"      Path (REG_SZ, 10 bytes)",
    };
    auto settings = std::find_if(all.begin(), all.end(), [](const auto& n) {
        return n.second == u"    Settings (2 keys, 2 values)";
    });
    ASSERT_NE(settings, all.end());
    for (size_t k = 0; k < expected.size(); ++k)
        EXPECT_EQ((settings + static_cast<long>(k))->second, expected[k]);
    EXPECT_NE(
        std::find_if(all.begin(), all.end(),
                     [](const auto& n) { return n.second == u"    (Default) (REG_SZ, 16 bytes)"; }),
        all.end());
}

// What a removal would refuse reads with its reason where it is.
TEST_P(PreviewTreeTest, MarksRefusalsLinksAndOddNamesWhereTheyAre) {
    auto& s = Scratch();
    s.SetString(rkLocalMachine, u"Victim\\Office", u"v", u"precious");
    s.CreateLink(rkCurrentUser, u"Vendor", rkLocalMachine, u"Victim");
    s.CreateLink(rkLocalMachine, u"Product\\ToVictim", rkLocalMachine, u"Victim");
    s.CreateNamedKey(rkLocalMachine, u"Product", std::u16string(u"odd\0name", 8));
    TZolvaProduct product(u"P");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Product"), u"", raCompleteKey);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Vendor\\Office"), u"", raCompleteKey);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Vendor\\Office"), u"v", raNameOnly);
    Inspect(product);
    TPreviewTree tree(FProducts);
    std::vector<std::pair<TPreviewNode, std::u16string>> all;
    Walk(tree, tree.Roots()[0], 0, all);
    std::vector<std::u16string> labels(all.size());
    std::transform(all.begin(), all.end(), labels.begin(),
                   [](const auto& node) { return node.second; });
    const std::u16string hklm = u"HKEY_LOCAL_MACHINE\\" + Key(rkLocalMachine, u"");
    const std::u16string hkcu = u"HKEY_CURRENT_USER\\" + Key(rkCurrentUser, u"");
    ASSERT_EQ(labels.size(), 6u);
    EXPECT_EQ(labels[0], u"P (not everything would be removed)");
    EXPECT_EQ(labels[1], u"  " + hklm + u"\\Product (3 keys, 0 values)");
    // The two subkeys in the registry's order.
    const std::u16string odd = u"    odd\\0name (1 key, 0 values)";
    const std::u16string link = u"    ToVictim (registry link to \\REGISTRY\\";
    const bool oddFirst = labels[2] == odd;
    EXPECT_EQ(labels[oddFirst ? 2 : 3], odd);
    const std::u16string& linkLabel = labels[oddFirst ? 3 : 2];
    EXPECT_EQ(linkLabel.rfind(link, 0), 0u) << Utf16ToUtf8(linkLabel);
    EXPECT_NE(linkLabel.find(u"\\Victim, not followed)"), std::u16string::npos)
        << Utf16ToUtf8(linkLabel);
    EXPECT_EQ(labels[4], u"  " + hkcu +
                             u"\\Vendor\\Office: would not be deleted, the way to it "
                             u"leads through a registry link");
    EXPECT_EQ(labels[5], u"  " + hkcu +
                             u"\\Vendor\\Office\\v: would not be deleted, the way to it "
                             u"leads through a registry link");
}

INSTANTIATE_TEST_SUITE_P(Registries, PreviewTreeTest, ::testing::ValuesIn(RegistryKinds()),
                         RegistryKindName);

} // namespace
} // namespace keystrip::test
