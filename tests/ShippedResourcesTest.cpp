// The data the executable ships with: the product definitions, the interface
// texts and the terms of use, read from the same files the resource script
// embeds.
#include "resources/ShippedResources.h"
#include "common/TextCase.h"
#include "common/Utf.h"
#include "definitions/ZolvaProduct.h"
#include "platform/EmbeddedResources.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>
#include <set>
#include <string>
#include <vector>

using namespace keystrip;
using Json = nlohmann::ordered_json;

namespace {

std::string Bytes(const std::u16string& name) {
    platform::EmbeddedResources source(resources::ShippedFiles());
    auto stream = source.Open(name);
    if (!stream)
        return {};
    auto bytes = stream->ReadToEnd();
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> Keys(const Json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items())
        keys.push_back(item.key());
    return keys;
}

std::u16string DefinitionName(int number) {
    return U16("ZOLVAPRODUCT" + std::to_string(number));
}

TEST(ShippedResourcesTest, NamesAreTheDefinitionsInNumberOrderThenTextsAndTerms) {
    std::vector<std::u16string> names;
    for (const auto& file : resources::ShippedFiles())
        names.emplace_back(file.Name);
    const std::vector<std::u16string> expected = {
        u"ZOLVAPRODUCT1", u"ZOLVAPRODUCT2", u"ZOLVAPRODUCT3", u"ZOLVAPRODUCT4", u"ZOLVAPRODUCT5",
        u"ZOLVAPRODUCT6", u"ZOLVAPRODUCT7", u"ZOLVASTRINGS",  u"EULA"};
    EXPECT_EQ(names, expected);
}

TEST(ShippedResourcesTest, EmbeddedSourceFindsNamesInAnyCaseAndNothingElse) {
    platform::EmbeddedResources source(resources::ShippedFiles());
    auto exact = source.Open(u"EULA");
    auto lower = source.Open(u"eula");
    ASSERT_TRUE(exact && lower);
    EXPECT_EQ(exact->ReadToEnd(), lower->ReadToEnd());
    EXPECT_EQ(lower->Position(), lower->Size());
    for (const char16_t* missing : {u"ZOLVAPRODUCT8", u"ZOLVAPRODUCT0", u"EULA ", u""})
        EXPECT_EQ(source.Open(missing), nullptr) << Utf16ToUtf8(missing);
}

// --- Product definitions -----------------------------------------------------

struct Definition {
    int number;
    std::string text;
    Json json;
};

std::vector<Definition> Definitions() {
    std::vector<Definition> all;
    for (int n = 1;; ++n) {
        std::string text = Bytes(DefinitionName(n));
        if (text.empty())
            break;
        all.push_back({n, text, Json::parse(text)});
    }
    return all;
}

// Keys no removal rule may delete whole: the roots themselves and the shared
// hives, classes and lists that hold other software's entries too, among them
// every parent of a shipped complete-key rule. A second guard only: the shape
// checks in ShippedRuleShapeTest.cpp refuse such keys whatever their names.
const std::set<std::u16string>& SharedKeys() {
    static const std::set<std::u16string> keys = {
        u"",
        u"software",
        u"software\\classes",
        u"software\\microsoft",
        u"software\\microsoft\\windows",
        u"software\\microsoft\\windows\\currentversion",
        u"software\\microsoft\\windows\\currentversion\\run",
        u"software\\microsoft\\windows\\currentversion\\runonce",
        u"software\\microsoft\\windows\\currentversion\\uninstall",
        u"software\\microsoft\\windows\\currentversion\\app paths",
        u"software\\microsoft\\windows\\currentversion\\shareddlls",
        u"software\\microsoft\\windows\\currentversion\\explorer\\fileexts",
        u"software\\classes\\installer\\products",
        u"software\\wow6432node",
        u"software\\zolva",
        u"system",
        u"system\\currentcontrolset",
        u"system\\currentcontrolset\\services",
        u"clsid",
        u"interface",
        u"typelib",
        u"appid",
        u"directory",
        u"applications",
        u"systemfileassociations",
        u".default",
        u".default\\software",
        u"software\\classes\\clsid",
        u"software\\classes\\installer\\features",
        u"software\\classes\\installer\\upgradecodes",
        u"software\\clients\\media",
        u"software\\microsoft\\office\\outlook\\addins",
        u"software\\microsoft\\windows nt\\currentversion\\schedule\\taskcache\\tree",
        u"software\\microsoft\\windows\\currentversion\\explorer\\autoplayhandlers\\handlers",
        u"software\\microsoft\\windows\\currentversion\\explorer\\menuorder\\start "
        u"menu2\\programs",
        u"software\\microsoft\\windows\\currentversion\\explorer\\mycomputer\\namespace",
        u"software\\microsoft\\windows\\currentversion\\explorer\\volumecaches",
        u"software\\microsoft\\windows\\currentversion\\installer\\userdata\\s-1-5-18\\products",
        u"software\\microsoft\\windows\\currentversion\\previewhandlers",
        u"system\\currentcontrolset\\control\\print\\environments\\windows nt "
        u"x86\\drivers\\version-3",
        u"system\\currentcontrolset\\control\\print\\monitors",
        u"system\\currentcontrolset\\control\\print\\printers",
        u"system\\currentcontrolset\\services\\eventlog\\application",
        u"directory\\shellex\\contextmenuhandlers",
        u"drive\\shellex\\contextmenuhandlers",
        u"systemfileassociations\\image\\shell",
        u".default\\software\\zolva",
    };
    return keys;
}

TEST(ShippedDefinitionsTest, SevenDefinitionsWithDistinctNamesAnd179RulesInAll) {
    const auto all = Definitions();
    ASSERT_EQ(all.size(), 7u);
    std::set<std::u16string> names;
    size_t rules = 0, usersRules = 0;
    for (const auto& d : all) {
        const std::u16string name = AsciiLower(U16(d.json.value("name", std::string())));
        EXPECT_FALSE(name.empty()) << d.number;
        EXPECT_TRUE(names.insert(name).second) << "duplicate name in " << d.number;
        rules += d.json["detection"].size() + d.json["removal"].size();
        for (const auto& r : d.json["removal"])
            usersRules += r["root"] == "HKEY_USERS";
    }
    EXPECT_EQ(rules, 179u);
    EXPECT_EQ(usersRules, 1u);
}

class ShippedDefinitionTest : public testing::TestWithParam<int> {
protected:
    void SetUp() override {
        text_ = Bytes(DefinitionName(GetParam()));
        ASSERT_FALSE(text_.empty());
        json_ = Json::parse(text_);
    }
    std::string text_;
    Json json_;
};

TEST_P(ShippedDefinitionTest, IsOneLineOfSevenBitJsonWithoutMark) {
    for (unsigned char c : text_) {
        ASSERT_GE(c, 0x20) << "control character in the document";
        ASSERT_LT(c, 0x80) << "byte outside 7-bit ASCII";
    }
    EXPECT_EQ(text_.front(), '{');
    EXPECT_EQ(text_.back(), '}');
    // Compact: re-serialising without indentation gives the same bytes.
    EXPECT_EQ(json_.dump(), text_);
}

TEST_P(ShippedDefinitionTest, MembersAreInTheWritersOrder) {
    using Names = std::vector<std::string>;
    EXPECT_EQ(Keys(json_), (Names{"creator", "detection", "version", "removal", "name"}));
    EXPECT_EQ(json_["version"], 1);
    EXPECT_TRUE(json_["creator"].is_string() && !json_["creator"].get<std::string>().empty());
    for (const auto& r : json_["detection"])
        EXPECT_EQ(Keys(r), (Names{"action", "key", "value", "root", "name"}));
    for (const auto& r : json_["removal"])
        EXPECT_EQ(Keys(r), (Names{"action", "key", "root", "name"}));
}

TEST_P(ShippedDefinitionTest, DetectionIsOneToThreeKeyTestsOnTheMachineHive) {
    const auto& rules = json_["detection"];
    ASSERT_TRUE(rules.is_array());
    EXPECT_GE(rules.size(), 1u);
    EXPECT_LE(rules.size(), 3u);
    for (const auto& r : rules) {
        EXPECT_EQ(r["action"], "KeyExist");
        EXPECT_EQ(r["root"], "HKEY_LOCAL_MACHINE");
        EXPECT_EQ(r["name"], "");
        EXPECT_EQ(r["value"], "");
    }
}

TEST_P(ShippedDefinitionTest, RemovalRulesNameWholeKeysOrSingleValues) {
    const auto& rules = json_["removal"];
    ASSERT_TRUE(rules.is_array());
    EXPECT_GE(rules.size(), 5u);
    EXPECT_LE(rules.size(), 59u);
    const std::set<std::string> roots = {"HKEY_LOCAL_MACHINE", "HKEY_CLASSES_ROOT",
                                         "HKEY_CURRENT_USER", "HKEY_USERS"};
    for (const auto& r : rules) {
        const auto key = r["key"].get<std::string>();
        EXPECT_TRUE(roots.count(r["root"].get<std::string>())) << r["root"];
        if (r["action"] == "CompleteKey") {
            EXPECT_EQ(r["name"], "") << key;
        } else if (r["action"] == "NameOnly") {
            EXPECT_NE(r["name"], "") << key;
        } else {
            ADD_FAILURE() << "action " << r["action"];
        }
        if (r["root"] == "HKEY_USERS") { // the default profile, which every Windows has
            EXPECT_EQ(key.rfind(".DEFAULT\\", 0), 0u) << key;
        }
    }
}

TEST_P(ShippedDefinitionTest, KeyPathsAreRelativeBoundedAndLiteral) {
    static const std::regex guidTail(R"(\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}$)");
    std::vector<Json> rules(json_["detection"].begin(), json_["detection"].end());
    rules.insert(rules.end(), json_["removal"].begin(), json_["removal"].end());
    for (const auto& r : rules) {
        const auto key = r["key"].get<std::string>();
        EXPECT_FALSE(key.empty());
        EXPECT_LE(key.size(), 112u) << key;
        EXPECT_NE(key.front(), '\\') << key;
        EXPECT_NE(key.back(), '\\') << key;
        EXPECT_EQ(key.find("\\\\"), std::string::npos) << "empty part in " << key;
        EXPECT_EQ(key.find_first_of("*?/"), std::string::npos) << key;
        if (key.back() == '}') {
            EXPECT_TRUE(std::regex_search(key, guidTail)) << "malformed GUID in " << key;
        }
    }
}

TEST_P(ShippedDefinitionTest, NoRemovalReachesARootOrASharedKey) {
    for (const auto& r : json_["removal"]) {
        const std::u16string key = AsciiLower(U16(r["key"].get<std::string>()));
        if (r["action"] == "CompleteKey") {
            EXPECT_FALSE(SharedKeys().count(key)) << r["root"] << "\\" << r["key"];
        }
        // A value is only ever taken out of a named key, never out of a root.
        EXPECT_FALSE(key.empty());
    }
}

// Keeps the list above complete: a rule under a new parent must name it there.
TEST_P(ShippedDefinitionTest, EveryParentOfAWholeKeyIsListedAsShared) {
    for (const auto& r : json_["removal"]) {
        if (r["action"] != "CompleteKey")
            continue;
        const std::u16string key = AsciiLower(U16(r["key"].get<std::string>()));
        const size_t cut = key.rfind(u'\\');
        const std::u16string parent = cut == std::u16string::npos ? u"" : key.substr(0, cut);
        EXPECT_TRUE(SharedKeys().count(parent)) << r["root"] << "\\" << r["key"];
    }
}

// The written form with the line breaks and indentation taken out, which is
// all that tells it from the one-line form.
std::string WithoutLayout(const std::vector<uint8_t>& written) {
    std::string compact;
    bool inString = false, escaped = false;
    for (const uint8_t byte : written) {
        const char c = static_cast<char>(byte);
        if (inString) {
            compact += c;
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
            compact += c;
        } else if (c != ' ' && c != '\r' && c != '\n') {
            compact += c;
        }
    }
    return compact;
}

TEST_P(ShippedDefinitionTest, LoadsAndIsWrittenBackIdenticallyApartFromLineLayout) {
    platform::MemoryViewStream stream(text_.data(), text_.size());
    TZolvaProduct product(u"");
    product.LoadFromStream(stream);
    EXPECT_EQ(product.Name(), U16(json_["name"].get<std::string>()));
    EXPECT_EQ(product.Version(), 1);
    EXPECT_EQ(product.DetectionCount(), static_cast<int>(json_["detection"].size()));
    EXPECT_EQ(product.RemovalCount(), static_cast<int>(json_["removal"].size()));

    testing_support::TempDir dir;
    const auto file = dir.File(u"written.json");
    product.SaveToFile(file, U16(json_["creator"].get<std::string>()));
    EXPECT_EQ(WithoutLayout(testing_support::ReadBytes(file)), text_);
}

INSTANTIATE_TEST_SUITE_P(Shipped, ShippedDefinitionTest, testing::Range(1, 8));

// --- Interface texts ---------------------------------------------------------

TEST(ShippedStringsTest, IsAsciiIniWithCrLfAndNoFinalLineEnd) {
    const std::string text = Bytes(u"ZOLVASTRINGS");
    ASSERT_FALSE(text.empty());
    for (unsigned char c : text)
        ASSERT_LT(c, 0x80);
    EXPECT_NE(text.compare(0, 3, "\xEF\xBB\xBF"), 0);
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "lone LF at " << i;
        }
        if (text[i] == '\r') {
            ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "lone CR at " << i;
        }
    }
}

TEST(ShippedStringsTest, HoldsExactlyTheCaptionsAndMessages) {
    const std::string text = Bytes(u"ZOLVASTRINGS");
    std::vector<std::string> lines;
    for (size_t start = 0;;) {
        const size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    const std::vector<std::string> expected = {
        "[MainForm]",
        "EulaAcceptButton=&Accept",
        "EulaExitButton=&Exit",
        "EulaAcceptLabel=Please read the terms of use above and press Accept to agree to them "
        "and continue.",
        "ProductsLabel1=Please choose Zolva products from the list where all registry keys "
        "should be removed.",
        "ProductsSelectAllBox=Select all / none",
        "ProductsLabel2=Clicking on Remove will remove all registry keys of the selected "
        "products which may affect the system stability. Use at own risk.",
        "ProductsRemoveButton=&Remove",
        "ProductsCancelButton=&Cancel",
        "SuccessShowDetailsBox=Show details about removed registry keys",
        "SuccessCloseButton=&Ok",
        "ErrorCloseButton=&Close",
        "",
        "[Texts]",
        "Text01=%s. Please wait. This might take some time...",
        "Text02=An unknown error occurred. Error code: %d.",
        "Text03=Checking your system for installed Zolva products",
        "Text04=Removing all registry keys of selected Zolva products",
        "Text05=All selected Zolva registry keys have been successfully removed. The changes "
        "will be active after you have restarted your computer. Please close all open "
        "applications before you restart.",
        "Text06=Not all selected Zolva registry keys could be removed. Please restart your "
        "computer into safe mode and run the Zolva Keystrip again. Please close all open "
        "applications before you restart.",
        "Text07=The log file could not be written.",
        "Text08=Nothing was removed. The details show what removing the selected Zolva products "
        "would delete.",
        "Text09=Everything in the backup has been restored.",
        "Text10=Not everything in the backup could be restored. The details show what could not.",
        "Text11=Checking what removing the selected Zolva products would delete",
        "Text12=Restoring the registry keys and values of the backup",
        "Text13=Checking what restoring the backup would write",
        "Text14=Nothing was restored. The details show what restoring the backup would write.",
        "Text15=A backup cannot be restored together with a removal (-product) or a backup "
        "(-backup). Nothing was removed or restored.",
        "",
        "[PreviewForm]",
        "PreviewForm=What will be removed",
        "PreviewCopyButton=&Copy",
        "PreviewCloseButton=&Close",
        "",
        "[Accessibility]",
        "Success=Success",
        "Warning=Warning",
        "Error=Error",
        "Check=Check",
        "Uncheck=Uncheck",
    };
    EXPECT_EQ(lines, expected);
}

// --- Terms of use ------------------------------------------------------------

TEST(ShippedTermsTest, IsWindows1252TextWithCrLfOfAbout47Kilobytes) {
    const std::string text = Bytes(u"EULA");
    EXPECT_GE(text.size(), 45000u);
    EXPECT_LE(text.size(), 50000u);
    EXPECT_NE(text.compare(0, 3, "\xEF\xBB\xBF"), 0);
    EXPECT_NE(text.compare(0, 2, "\xFF\xFE"), 0);
    const std::string undefined1252("\x81\x8D\x8F\x90\x9D", 5);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        ASSERT_EQ(undefined1252.find(c), std::string::npos) << "byte undefined in 1252 at " << i;
        ASSERT_TRUE(c == '\r' || c == '\n' || static_cast<unsigned char>(c) >= 0x20)
            << "control character at " << i;
        if (c == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "lone LF at " << i;
        }
        if (c == '\r') {
            ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "lone CR at " << i;
        }
    }
    // Curly quotation marks, a bullet and a u with diaeresis, in their 1252 bytes.
    for (const char* mark : {"\x93", "\x94", "\x95", "\xFC"})
        EXPECT_NE(text.find(mark), std::string::npos)
            << "missing byte " << std::hex << (static_cast<int>(*mark) & 0xFF);
    EXPECT_NE(text.find("Z\xFCrich"), std::string::npos);
    EXPECT_NE(text.find("Zolva Keystrip"), std::string::npos);
}

} // namespace
