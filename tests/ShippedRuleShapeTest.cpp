// The shape of every shipped removal rule, checked on the rules as the program
// reads them (escapes decoded). A complete-key rule must delete a key that
// belongs to its product alone: deep enough below its root, and ending in a
// part that names the product or its maker, or is one of its GUIDs or file
// extensions. A name-only rule must delete one of the product's own values.
// So a typo that shortens a key to its shared parent, or a NUL at which the
// registry would cut a name, fails here whatever the key is.
#include "common/TextCase.h"
#include "common/Utf.h"
#include "definitions/ZolvaProduct.h"
#include "platform/ByteStream.h"
#include "platform/EmbeddedResources.h"
#include "resources/ShippedResources.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>
#include <ostream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

using namespace keystrip;
using Json = nlohmann::ordered_json;

namespace {

constexpr auto npos = std::u16string::npos;

std::vector<std::u16string> Split(const std::u16string& text, char16_t separator) {
    std::vector<std::u16string> parts;
    for (size_t start = 0;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == npos)
            return parts;
        start = end + 1;
    }
}

bool Contains(const std::u16string& text, const std::u16string& part) {
    return !part.empty() && AsciiLower(text).find(AsciiLower(part)) != npos;
}

bool HoldsNul(const std::u16string& text) {
    return text.find(u'\0') != npos;
}

// --- What names a product --------------------------------------------------------

// The maker is the first word of a product's name and the title what follows
// it, without the version at the end: "Zolva Office Suite 2010" is maker
// "Zolva", title "Office Suite".
struct Identity {
    std::u16string maker;
    std::u16string title;
};

Identity IdentityOf(const std::u16string& name) {
    std::vector<std::u16string> words = Split(name, u' ');
    const auto isVersion = [](const std::u16string& word) {
        return !word.empty() && word.find_first_not_of(u"0123456789.") == npos;
    };
    while (words.size() > 1 && isVersion(words.back()))
        words.pop_back();
    Identity id{words.front(), {}};
    for (size_t i = 1; i < words.size(); ++i)
        id.title += (i > 1 ? u" " : u"") + words[i];
    return id;
}

bool IsBracedGuid(const std::u16string& part) {
    static const std::regex guid(R"(\{[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}\})");
    return std::regex_match(Utf16ToUtf8(part), guid);
}

// The form Windows Installer files a product or upgrade code under.
bool IsPackedGuid(const std::u16string& part) {
    static const std::regex packed("[0-9A-Fa-f]{32}");
    return std::regex_match(Utf16ToUtf8(part), packed);
}

bool IsFileExtension(const std::u16string& part) {
    static const std::regex extension(R"(\.[0-9A-Za-z]{1,8})");
    return std::regex_match(Utf16ToUtf8(part), extension);
}

bool HasWholeKeyRule(const TZolvaProduct& product, TZolvaProductRootKey root,
                     const std::u16string& key) {
    for (int i = 0; i < product.RemovalCount(); ++i) {
        const auto& r = *product.Removals(i);
        if (r.Action == raCompleteKey && r.Root == root && AsciiSameText(r.Key, key))
            return true;
    }
    return false;
}

// An extension is the product's when it removes both the class key and the
// user's choice of program for it; a typo in either breaks the pair.
bool RegistersExtension(const TZolvaProduct& product, const std::u16string& extension) {
    return HasWholeKeyRule(product, rkClassesRoot, extension) &&
           HasWholeKeyRule(product, rkCurrentUser,
                           u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\" +
                               extension);
}

// A GUID is the product's when one of its complete-key rules ends in it.
bool OwnsGuid(const TZolvaProduct& product, const std::u16string& guid) {
    for (int i = 0; i < product.RemovalCount(); ++i) {
        const auto& r = *product.Removals(i);
        if (r.Action == raCompleteKey && AsciiSameText(Split(r.Key, u'\\').back(), guid))
            return true;
    }
    return false;
}

// --- The checks ------------------------------------------------------------------

// The fewest parts a key needs below its root to belong to one product. The
// machine and user hives hold SOFTWARE and SYSTEM at the first level and, at
// the second, what all products share (SOFTWARE\Zolva, SOFTWARE\Classes,
// SYSTEM\CurrentControlSet); a profile under HKEY_USERS adds a level; the
// classes root holds a product's classes directly. Other roots hold no
// product's keys (0).
int OwnedKeyDepth(TZolvaProductRootKey root) {
    switch (root) {
    case rkClassesRoot:
        return 1;
    case rkCurrentUser:
    case rkLocalMachine:
        return 3;
    case rkUsers:
        return 4;
    default:
        return 0;
    }
}

// Why the key may not belong to the product alone; empty when it does.
std::string OwnedKeyProblem(const TZolvaProduct& product, TZolvaProductRootKey root,
                            const std::u16string& key) {
    if (HoldsNul(key))
        return "the key holds a NUL, where the registry would cut it";
    if (key.empty())
        return "the key is the root itself";
    const int least = OwnedKeyDepth(root);
    if (least == 0)
        return "the root holds no product's keys";
    const std::vector<std::u16string> parts = Split(key, u'\\');
    if (static_cast<int>(parts.size()) < least)
        return "the key lies fewer than " + std::to_string(least) + " levels below its root";
    const std::u16string& last = parts.back();
    if (IsBracedGuid(last) || IsPackedGuid(last))
        return {};
    if (IsFileExtension(last))
        return RegistersExtension(product, last) ? ""
                                                 : "the key is an extension the product does "
                                                   "not register both ways";
    const Identity id = IdentityOf(product.Name());
    if (AsciiSameText(last, id.maker))
        return "the key is the maker's, shared by all its products";
    if (Contains(last, id.maker) || Contains(last, id.title))
        return {};
    return "the key's last part names neither the product, its maker nor a GUID";
}

// Why the rule may delete something that is not the product's; empty when
// it may not.
std::string RemovalProblem(const TZolvaProduct& product, const TZolvaProductRemoveRule& rule) {
    if (HoldsNul(rule.Name))
        return "the value name holds a NUL, where the registry would cut it";
    if (rule.Action == raCompleteKey) {
        if (!rule.Name.empty())
            return "a complete-key rule with a value name";
        return OwnedKeyProblem(product, rule.Root, rule.Key);
    }
    if (rule.Action != raNameOnly)
        return "an unknown action";
    if (HoldsNul(rule.Key))
        return "the key holds a NUL, where the registry would cut it";
    if (rule.Key.empty())
        return "the value is taken out of the root itself";
    if (OwnedKeyDepth(rule.Root) == 0)
        return "the root holds no product's values";
    // A value sits in a list one level above the keys a product owns
    // (SOFTWARE\RegisteredApplications).
    if (static_cast<int>(Split(rule.Key, u'\\').size()) < OwnedKeyDepth(rule.Root) - 1)
        return "the value's key lies too near its root";
    if (rule.Name.empty())
        return OwnedKeyProblem(product, rule.Root, rule.Key).empty()
                   ? ""
                   : "the default value of a key the product does not own";
    if (Contains(rule.Name, IdentityOf(product.Name()).maker))
        return {};
    if (IsBracedGuid(rule.Name) && OwnsGuid(product, rule.Name))
        return {};
    return "the value's name names neither the maker nor one of the product's GUIDs";
}

std::string Describe(const TZolvaProductRemoveRule& rule) {
    std::string text = Utf16ToUtf8(RootKeyToText(rule.Root) + u"\\" + rule.Key + u" [" + rule.Name +
                                   u"] " + RemoveActionToText(rule.Action));
    for (size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', at))
        text.replace(at, 1, "<NUL>");
    return text;
}

// --- The shipped definitions, read the way the program reads them ----------------------

std::string Bytes(int number) {
    platform::EmbeddedResources source(resources::ShippedFiles());
    auto stream = source.Open(U16("ZOLVAPRODUCT" + std::to_string(number)));
    if (!stream)
        return {};
    auto bytes = stream->ReadToEnd();
    return std::string(bytes.begin(), bytes.end());
}

std::unique_ptr<TZolvaProduct> Read(const std::string& text) {
    auto product = std::make_unique<TZolvaProduct>(u"");
    platform::MemoryViewStream stream(text.data(), text.size());
    product->LoadFromStream(stream);
    return product;
}

std::vector<std::unique_ptr<TZolvaProduct>> Shipped() {
    std::vector<std::unique_ptr<TZolvaProduct>> all;
    for (int n = 1;; ++n) {
        const std::string text = Bytes(n);
        if (text.empty())
            return all;
        all.push_back(Read(text));
    }
}

TEST(ShippedRuleShapeTest, EveryProductNamesTheOneMakerAndATitle) {
    const auto all = Shipped();
    ASSERT_EQ(all.size(), 7u);
    const std::u16string maker = IdentityOf(all.front()->Name()).maker;
    EXPECT_GE(maker.size(), 3u);
    for (const auto& product : all) {
        const Identity id = IdentityOf(product->Name());
        EXPECT_EQ(id.maker, maker) << Utf16ToUtf8(product->Name());
        EXPECT_GE(id.title.size(), 4u) << Utf16ToUtf8(product->Name());
    }
}

class ShippedDefinitionRuleTest : public testing::TestWithParam<int> {
protected:
    void SetUp() override {
        text_ = Bytes(GetParam());
        ASSERT_FALSE(text_.empty());
        product_ = Read(text_);
        ASSERT_GT(product_->RemovalCount(), 0);
    }
    std::string text_;
    std::unique_ptr<TZolvaProduct> product_;
};

TEST_P(ShippedDefinitionRuleTest, EveryRemovalRuleDeletesOnlyWhatIsTheProducts) {
    for (int i = 0; i < product_->RemovalCount(); ++i) {
        const auto& rule = *product_->Removals(i);
        EXPECT_EQ(RemovalProblem(*product_, rule), "") << Describe(rule);
    }
}

TEST_P(ShippedDefinitionRuleTest, NoTextReadHoldsANul) {
    EXPECT_FALSE(HoldsNul(product_->Name()));
    for (int i = 0; i < product_->DetectionCount(); ++i) {
        const auto& d = *product_->Detections(i);
        EXPECT_FALSE(HoldsNul(d.Key) || HoldsNul(d.Name) || HoldsNul(d.Value))
            << "detection rule " << i;
    }
    for (int i = 0; i < product_->RemovalCount(); ++i) {
        const auto& r = *product_->Removals(i);
        EXPECT_FALSE(HoldsNul(r.Key) || HoldsNul(r.Name)) << Describe(r);
    }
}

// Every key above a shipped one (the rule with its last part dropped, then
// the next, up to the root) is refused, and so is a value rule that lost its
// name or its key.
TEST_P(ShippedDefinitionRuleTest, EveryShortenedRuleIsRefused) {
    for (int i = 0; i < product_->RemovalCount(); ++i) {
        const TZolvaProductRemoveRule& rule = *product_->Removals(i);
        TZolvaProductRemoveRule mutant = rule;
        if (rule.Action == raCompleteKey) {
            while (!mutant.Key.empty()) {
                const size_t cut = mutant.Key.rfind(u'\\');
                mutant.Key.resize(cut == npos ? 0 : cut);
                EXPECT_NE(RemovalProblem(*product_, mutant), "")
                    << Describe(mutant) << " passes, shortened from " << Describe(rule);
            }
        } else {
            mutant.Name.clear();
            EXPECT_NE(RemovalProblem(*product_, mutant), "") << Describe(mutant);
            mutant = rule;
            mutant.Key.clear();
            EXPECT_NE(RemovalProblem(*product_, mutant), "") << Describe(mutant);
        }
    }
}

// A \u0000 escape is plain ASCII in the file; only the rule as read holds
// the NUL. Every removal rule gets one at the start of its key, then at its
// first separator, then at its end, and a value rule also in its name; each
// rule read from each such document is refused.
TEST_P(ShippedDefinitionRuleTest, ANulEscapeInAKeyOrNameIsRefusedOnceRead) {
    const Json document = Json::parse(text_);
    struct Place {
        const char* member;
        bool (*applies)(const Json& rule);
        size_t (*at)(const std::string& text);
    };
    const auto any = [](const Json&) { return true; };
    const auto valueRule = [](const Json& rule) { return rule["action"] == "NameOnly"; };
    const Place places[] = {
        {"key", any, [](const std::string&) { return size_t{0}; }},
        {"key", any,
         [](const std::string& text) { return std::min(text.find('\\'), text.size()); }},
        {"key", any, [](const std::string& text) { return text.size(); }},
        {"name", valueRule, [](const std::string&) { return size_t{0}; }},
        {"name", valueRule, [](const std::string& text) { return text.size(); }},
    };
    for (const Place& place : places) {
        Json mutated = document;
        std::vector<int> changed;
        for (size_t i = 0; i < mutated["removal"].size(); ++i) {
            Json& rule = mutated["removal"][i];
            if (!place.applies(rule))
                continue;
            auto text = rule[place.member].get<std::string>();
            text.insert(place.at(text), 1, '\0');
            rule[place.member] = text;
            changed.push_back(static_cast<int>(i));
        }
        const std::string written = mutated.dump();
        ASSERT_NE(written.find("\\u0000"), std::string::npos);
        const auto product = Read(written);
        ASSERT_EQ(product->RemovalCount(), static_cast<int>(mutated["removal"].size()));
        for (const int i : changed)
            EXPECT_NE(RemovalProblem(*product, *product->Removals(i)), "")
                << Describe(*product->Removals(i)) << " passes";
    }
}

// Windows Installer files a product under its product code in packed form:
// each of the first three groups reversed, then each byte's digits swapped.
std::u16string Packed(const std::u16string& guid) {
    const std::u16string hex = guid.substr(1, 8) + guid.substr(10, 4) + guid.substr(15, 4) +
                               guid.substr(20, 4) + guid.substr(25, 12);
    std::u16string out(hex.rbegin() + 24, hex.rend()); // the first 8 digits reversed
    out.append(hex.rbegin() + 20, hex.rbegin() + 24);
    out.append(hex.rbegin() + 16, hex.rbegin() + 20);
    for (size_t i = 16; i < 32; i += 2) {
        out += hex[i + 1];
        out += hex[i];
    }
    return out;
}

TEST_P(ShippedDefinitionRuleTest, InstallerKeysCarryTheProductCodeOfTheUninstallEntry) {
    const std::u16string uninstall = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    std::u16string code;
    for (int i = 0; i < product_->RemovalCount(); ++i) {
        const auto& key = product_->Removals(i)->Key;
        if (key.rfind(uninstall, 0) == 0 && IsBracedGuid(key.substr(uninstall.size())))
            code = Packed(key.substr(uninstall.size()));
    }
    const std::vector<std::u16string> filedByCode = {
        u"SOFTWARE\\Classes\\Installer\\Products\\", u"SOFTWARE\\Classes\\Installer\\Features\\",
        u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\"};
    for (int i = 0; i < product_->RemovalCount(); ++i) {
        const auto& key = product_->Removals(i)->Key;
        for (const auto& parent : filedByCode)
            if (key.rfind(parent, 0) == 0) {
                EXPECT_EQ(Utf16ToUtf8(key.substr(parent.size())), Utf16ToUtf8(code))
                    << Utf16ToUtf8(key);
            }
    }
}

// The program keeps the record of its backups in a key of its own; a rule
// that deleted it, or anything above or below it, would make every backup
// unrestorable. Both names by which the 32-bit view reaches it count.
TEST_P(ShippedDefinitionRuleTest, NoRuleReachesTheProgramsOwnKey) {
    const std::vector<std::vector<std::u16string>> own = {
        {u"software", u"zolvakeystrip"}, {u"software", u"wow6432node", u"zolvakeystrip"}};
    for (int i = 0; i < product_->RemovalCount(); ++i) {
        const TZolvaProductRemoveRule& rule = *product_->Removals(i);
        std::vector<std::u16string> parts;
        for (const std::u16string& part : Split(AsciiLower(rule.Key), u'\\'))
            if (!part.empty())
                parts.push_back(part);
        for (const auto& key : own) {
            const size_t common = std::min(parts.size(), key.size());
            EXPECT_FALSE(rule.Root == rkLocalMachine &&
                         std::equal(parts.begin(), parts.begin() + common, key.begin()))
                << Describe(rule);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shipped, ShippedDefinitionRuleTest, testing::Range(1, 8));

TEST(ShippedRuleShapeTest, The147CompleteKeyRulesAreAllChecked) {
    int wholeKeys = 0;
    for (const auto& product : Shipped())
        for (int i = 0; i < product->RemovalCount(); ++i)
            wholeKeys += product->Removals(i)->Action == raCompleteKey;
    EXPECT_EQ(wholeKeys, 147);
}

// --- The checks on rules written for them ------------------------------------------

struct ShapeRow {
    const char* label;
    TZolvaProductRootKey root;
    std::u16string key;
    std::u16string name;
    TZolvaProductRemoveAction action;
    bool accepted;
};

void PrintTo(const ShapeRow& row, std::ostream* os) {
    *os << row.label;
}

class RuleShapeTest : public testing::TestWithParam<ShapeRow> {};

TEST_P(RuleShapeTest, AcceptsOnlyWhatIsTheProducts) {
    TZolvaProduct product(u"Zolva Office Suite 2010");
    product.AddRemoval(rkClassesRoot, u".zwd", u"", raCompleteKey);
    product.AddRemoval(rkCurrentUser,
                       u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.zwd",
                       u"", raCompleteKey);
    product.AddRemoval(rkClassesRoot, u".zwt", u"", raCompleteKey); // no user's choice
    product.AddRemoval(rkClassesRoot, u"CLSID\\{9AB25A0D-F75C-5638-AD5F-438876B528EB}", u"",
                       raCompleteKey);
    const auto& row = GetParam();
    TZolvaProductRemoveRule rule;
    rule.Root = row.root;
    rule.Key = row.key;
    rule.Name = row.name;
    rule.Action = row.action;
    const std::string problem = RemovalProblem(product, rule);
    EXPECT_EQ(problem.empty(), row.accepted) << problem;
}

// A literal with its NUL characters kept.
template <size_t N> std::u16string WithNul(const char16_t (&text)[N]) {
    return {text, N - 1};
}

const std::u16string kRun = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::u16string kFileExts =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";

INSTANTIATE_TEST_SUITE_P(
    Table, RuleShapeTest,
    testing::Values(
        ShapeRow{"ProductKey", rkLocalMachine, u"SOFTWARE\\Zolva\\Office Suite", u"", raCompleteKey,
                 true},
        ShapeRow{"ProductKeyInAnyCase", rkCurrentUser, u"software\\zolva\\OFFICE SUITE", u"",
                 raCompleteKey, true},
        ShapeRow{"MakersKey", rkLocalMachine, u"SOFTWARE\\Zolva", u"", raCompleteKey, false},
        ShapeRow{"MakersKeyDeeper", rkLocalMachine, u"SOFTWARE\\Shared\\Zolva", u"", raCompleteKey,
                 false},
        ShapeRow{"MakerNamedKeyTooShallow", rkLocalMachine, u"SOFTWARE\\ZolvaOffice", u"",
                 raCompleteKey, false},
        ShapeRow{"ProfileKey", rkUsers, u".DEFAULT\\Software\\Zolva\\Office Suite", u"",
                 raCompleteKey, true},
        ShapeRow{"ProfileKeyTooShallow", rkUsers, u".DEFAULT\\Software\\Zolva Office", u"",
                 raCompleteKey, false},
        ShapeRow{"OneWordOfTheTitle", rkLocalMachine, u"SOFTWARE\\Microsoft\\Office", u"",
                 raCompleteKey, false},
        ShapeRow{"ClassNamedByTheMaker", rkClassesRoot, u"Zolva.Write.Document.14", u"",
                 raCompleteKey, true},
        ShapeRow{"ClassesRoot", rkClassesRoot, u"", u"", raCompleteKey, false},
        ShapeRow{"BracedGuid", rkClassesRoot, u"CLSID\\{D2D8DB74-7358-5648-9CB9-137E88B47C55}", u"",
                 raCompleteKey, true},
        ShapeRow{"GuidOneDigitShort", rkClassesRoot,
                 u"CLSID\\{D2D8DB74-7358-5648-9CB9-137E88B47C5}", u"", raCompleteKey, false},
        ShapeRow{"PackedGuid", rkLocalMachine,
                 u"SOFTWARE\\Classes\\Installer\\Products\\D229DE0E990D30E598B49C39FE0EB107", u"",
                 raCompleteKey, true},
        ShapeRow{"ExtensionRegisteredBothWays", rkClassesRoot, u".zwd", u"", raCompleteKey, true},
        ShapeRow{"UsersChoiceOfARegisteredExtension", rkCurrentUser, kFileExts + u".zwd", u"",
                 raCompleteKey, true},
        ShapeRow{"ExtensionWithoutTheUsersChoice", rkClassesRoot, u".zwt", u"", raCompleteKey,
                 false},
        ShapeRow{"SomeoneElsesExtension", rkCurrentUser, kFileExts + u".doc", u"", raCompleteKey,
                 false},
        ShapeRow{"NulInKey", rkLocalMachine, WithNul(u"SOFTWARE\0\\Zolva\\Office Suite"), u"",
                 raCompleteKey, false},
        ShapeRow{"CompleteKeyWithAName", rkLocalMachine, u"SOFTWARE\\Zolva\\Office Suite", u"x",
                 raCompleteKey, false},
        ShapeRow{"RootWithoutProductKeys", rkCurrentConfig, u"Software\\Zolva\\Office Suite", u"",
                 raCompleteKey, false},
        ShapeRow{"ValueNamedByTheMaker", rkLocalMachine, kRun, u"ZolvaOfficeQuickStart", raNameOnly,
                 true},
        ShapeRow{"SomeoneElsesValue", rkLocalMachine, kRun, u"OtherUpdate", raNameOnly, false},
        ShapeRow{"DefaultValueOfASharedKey", rkLocalMachine, kRun, u"", raNameOnly, false},
        ShapeRow{"DefaultValueOfTheProductsKey", rkLocalMachine, u"SOFTWARE\\Zolva\\Office Suite",
                 u"", raNameOnly, true},
        ShapeRow{"ValueOfTheRoot", rkLocalMachine, u"", u"ZolvaOfficeQuickStart", raNameOnly,
                 false},
        ShapeRow{"ValueTooNearTheRoot", rkLocalMachine, u"SOFTWARE", u"ZolvaOfficeQuickStart",
                 raNameOnly, false},
        ShapeRow{"ValueInARootWithoutProductKeys", rkCurrentConfig, u"Software\\Zolva",
                 u"ZolvaOfficeQuickStart", raNameOnly, false},
        ShapeRow{"ValueNamedByAProductGuid", rkLocalMachine, kRun,
                 u"{9AB25A0D-F75C-5638-AD5F-438876B528EB}", raNameOnly, true},
        ShapeRow{"ValueNamedByAnotherGuid", rkLocalMachine, kRun,
                 u"{00000000-0000-0000-C000-000000000046}", raNameOnly, false},
        ShapeRow{"NulInName", rkLocalMachine, kRun, WithNul(u"Zolva\0x"), raNameOnly, false},
        ShapeRow{"NulInValuesKey", rkLocalMachine, WithNul(u"SOFTWARE\0\\Run"),
                 u"ZolvaOfficeQuickStart", raNameOnly, false}),
    [](const testing::TestParamInfo<ShapeRow>& info) { return std::string(info.param.label); });

} // namespace
