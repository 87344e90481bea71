// The -json file read back and held against what the same run did to the
// registry, and its fields for the run as a whole.
#include "app/RunJson.h"
#include "app/RunExtras.h"

#include "common/TextCase.h"
#include "common/Utf.h"
#include "platform/doubles/FakeHives.h"
#include "platform/doubles/FakeResources.h"
#include "platform/doubles/MemoryRegistry.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <map>
#include <set>
#include <string>

namespace keystrip::test {
namespace {

using namespace platform;
using nlohmann::json;

const std::u16string kUser = u"S-1-5-21-7-7-7-1001";

// Every key and value of the registry by kernel name, lower case.
struct Snapshot {
    std::set<std::string> keys;
    std::set<std::string> values; // "key\x01name"
};

Snapshot Take(const MemoryRegistry& registry) {
    Snapshot snapshot;
    for (const auto& key : registry.Content()) {
        const std::string name = Utf16ToUtf8(AsciiLower(key.kernelName));
        snapshot.keys.insert(name);
        for (const auto& value : key.values)
            snapshot.values.insert(name + "\x01" + Utf16ToUtf8(AsciiLower(value.name)));
    }
    return snapshot;
}

// A path of the JSON file as the kernel names it.
std::string Kernel(const std::string& path) {
    std::string lower = Utf16ToUtf8(AsciiLower(Utf8ToUtf16(path)));
    for (const auto& [root, kernel] :
         {std::pair<std::string, std::string>{"hkey_local_machine", "\\registry\\machine"},
          {"hkey_users", "\\registry\\user"}})
        if (lower.rfind(root, 0) == 0)
            return kernel + lower.substr(root.size());
    ADD_FAILURE() << "a path on an unexpected root: " << path;
    return lower;
}

class RunJsonTest : public testing::Test {
protected:
    RunJsonTest() {
        Registry.SetString(kHkeyLocalMachine, u"SOFTWARE\\Zolva\\A\\Sub", u"v", u"x");
        Registry.SetString(kHkeyLocalMachine, u"SOFTWARE\\Zolva\\A", u"w", u"x");
        Registry.SetString(kHkeyLocalMachine, u"SOFTWARE\\Zolva\\Keep", u"v", u"x");
        Registry.SetString(kHkeyUsers, kUser + u"\\Software\\Zolva\\A", u"v", u"x");
        Registry.SetString(kHkeyUsers, kUser + u"\\Software\\Run", u"Zolva A", u"x");
        Registry.SetString(kHkeyUsers, kUser + u"\\Software\\Run", u"Other", u"x");
        Hives.AddProfile(kUser, u"C:\\Users\\u\\NTUSER.DAT");

        auto a = std::make_unique<TZolvaProduct>(u"Zolva A");
        a->AddRemoval(rkLocalMachine, u"SOFTWARE\\Zolva\\A", u"", raCompleteKey);
        a->AddRemoval(rkLocalMachine, u"SOFTWARE\\Zolva\\Gone", u"", raCompleteKey);
        a->AddRemoval(rkCurrentUser, u"Software\\Zolva\\A", u"", raCompleteKey);
        a->AddRemoval(rkCurrentUser, u"Software\\Run", u"Zolva A", raNameOnly);
        Products.Add(std::move(a));
        Switches.JsonFile = u"result.json";
        Switches.AllUsers = true;
    }

    json Run(pZolvaProductsItem Item) {
        {
            TRunExtras extras(Switches, Registry, &Hives, Outcome);
            TRunExtras::TRun run(extras, Products, true);
            extras.Apply(Products, Item);
        }
        const TRunJsonHeader header{{2026, 12, 10, 14, 3, 22, 60, 0}, u"PC-0815", u"k.exe -json x"};
        const std::string text = RunResultJson(header, Products.Activity(), Outcome, true);
        for (char c : text)
            EXPECT_TRUE(static_cast<unsigned char>(c) < 0x80) << "not ASCII";
        return json::parse(text);
    }

    MemoryRegistry Registry;
    FakeHives Hives{Registry};
    FakeResources Resources;
    TZolvaProducts Products{Registry, Resources};
    TRunSwitches Switches;
    TRunOutcome Outcome;
};

std::string Lower(const json& name) {
    return Utf16ToUtf8(AsciiLower(Utf8ToUtf16(name.get<std::string>())));
}

std::string ValueAt(const json& rule, const json& name) {
    return Kernel(rule["root"].get<std::string>() + "\\" + rule["key"].get<std::string>()) +
           "\x01" + Lower(name);
}

// What is in the first snapshot and not in the second.
Snapshot Gone(const Snapshot& before, const Snapshot& after) {
    Snapshot gone;
    for (const std::string& key : before.keys)
        if (!after.keys.count(key))
            gone.keys.insert(key);
    for (const std::string& value : before.values)
        if (!after.values.count(value))
            gone.values.insert(value);
    return gone;
}

TEST_F(RunJsonTest, APreviewListsWhatTheRemovalTakesAndTheRemovalSaysWhatWent) {
    Registry.SetValue(kHkeyLocalMachine, u"SOFTWARE\\Zolva\\A\\Sub\\Deep", u"bin", kRegBinary,
                      {1, 2, 3});
    const Snapshot before = Take(Registry);
    Switches.Preview = true;
    const json preview = Run(Products.Items(0));
    EXPECT_TRUE(Gone(before, Take(Registry)).keys.empty()); // a preview changes nothing
    const json& previewed = preview["products"][0];
    EXPECT_EQ(previewed["action"], "previewed");
    EXPECT_EQ(previewed["complete"], true);
    Snapshot listed;
    for (const json& rule : previewed["rules"]) {
        if (rule["result"] == "notFound")
            continue;
        ASSERT_EQ(rule["result"], "wouldBeDeleted") << rule.dump();
        if (rule["action"] == "NameOnly") {
            listed.values.insert(ValueAt(rule, rule["value"]["name"]));
            continue;
        }
        EXPECT_EQ(rule["tree"].size(), rule["keys"].get<size_t>());
        uint64_t bytes = 0;
        for (const json& key : rule["tree"]) {
            listed.keys.insert(Kernel(key["path"]));
            for (const json& value : key["values"]) {
                listed.values.insert(Kernel(key["path"]) + "\x01" + Lower(value["name"]));
                bytes += value["size"].get<uint64_t>();
            }
        }
        EXPECT_EQ(rule["bytes"], bytes);
    }
    ASSERT_EQ(preview["profiles"].size(), 1u);
    EXPECT_EQ(preview["profiles"][0]["hive"], "HKEY_USERS\\S-1-5-21-7-7-7-1001");

    Switches.Preview = false;
    Outcome = TRunOutcome();
    const json removal = Run(Products.Items(0));
    const Snapshot gone = Gone(before, Take(Registry));
    const json& removed = removal["products"][0];
    EXPECT_EQ(removed["found"], true); // no detection ran: the run met its traces
    EXPECT_EQ(removed["removedCompletely"], true);
    Snapshot reported;
    std::map<std::string, int> results;
    for (const json& rule : removed["rules"]) {
        ++results[rule["result"].get<std::string>()];
        const std::string path = Kernel(rule["path"]);
        if (rule["result"] != "deleted") {
            EXPECT_EQ(before.keys.count(path), 0u) << path;
        } else if (rule["action"] == "NameOnly") {
            reported.values.insert(ValueAt(rule, rule["name"]));
        } else {
            for (const std::string& key : before.keys)
                if (key == path || key.rfind(path + "\\", 0) == 0)
                    reported.keys.insert(key);
        }
    }
    for (const std::string& value : before.values)
        if (reported.keys.count(value.substr(0, value.find('\x01'))))
            reported.values.insert(value);

    // The preview's list, the removal's report and what the registry lost agree.
    EXPECT_EQ(listed.keys, gone.keys);
    EXPECT_EQ(listed.values, gone.values);
    EXPECT_EQ(reported.keys, gone.keys);
    EXPECT_EQ(reported.values, gone.values);
    EXPECT_EQ(gone.keys.size(), 4u); // A, A\Sub, A\Sub\Deep and the user's A
    EXPECT_EQ(results, (std::map<std::string, int>{{"deleted", 3}, {"notFound", 1}}));
    // The real path of the user's hive, under -allusers.
    EXPECT_EQ(removed["rules"][3]["path"],
              "HKEY_USERS\\S-1-5-21-7-7-7-1001\\Software\\Run\\Zolva A");
}

TEST_F(RunJsonTest, TellsTheRunAsAWhole) {
    Registry.DenyDelete(kHkeyLocalMachine, u"SOFTWARE\\Zolva\\A\\Sub");
    Products.Activity()->Log(asDebug, aaStartDetection, u"Zolva B");
    Products.Activity()->Log(asDebug, aaStopDetection, u"Failure");
    const json doc = Run(Products.Items(0));
    EXPECT_EQ(doc["schemaVersion"], kResultSchemaVersion);
    EXPECT_EQ(doc["program"], "Zolva Keystrip");
    EXPECT_FALSE(doc["version"].get<std::string>().empty());
    EXPECT_EQ(doc["computer"], "PC-0815");
    EXPECT_EQ(doc["commandLine"], "k.exe -json x");
    EXPECT_EQ(doc["time"], "2026-12-10T14:03:22+01:00");
    EXPECT_EQ(doc["exitCode"], 1);
    EXPECT_EQ(doc["result"], 1);
    EXPECT_EQ(doc["allUsers"], true);
    EXPECT_EQ(doc["productsRequested"], 1);
    EXPECT_EQ(doc["productsRemovedCompletely"], 0);
    ASSERT_EQ(doc["problems"].size(), 1u);
    EXPECT_EQ(doc["problems"][0]["problem"], "ruleFailed");
    EXPECT_EQ(doc["problems"][0]["code"], 1);
    EXPECT_EQ(doc["problems"][0]["detail"], "Zolva A");
    // A product the detection checked and nothing ran for, then the one removed.
    ASSERT_EQ(doc["products"].size(), 2u);
    EXPECT_EQ(doc["products"][0]["name"], "Zolva B");
    EXPECT_EQ(doc["products"][0]["found"], false);
    EXPECT_EQ(doc["products"][0]["action"], "none");
    EXPECT_TRUE(doc["products"][0]["complete"].is_null());
    EXPECT_EQ(doc["products"][1]["removedCompletely"], false);
    EXPECT_EQ(doc["products"][1]["complete"], false);
    EXPECT_EQ(doc["products"][1]["rules"][0]["result"], "notDeleted");
}

TEST_F(RunJsonTest, NamesThatNoTextHoldsStayReadable) {
    EXPECT_EQ(IsoTime({2026, 7, 1, 9, 5, 7, -210, 0}), u"2026-07-01T09:05:07-03:30");
    const std::u16string odd(u"Zolva \u00E9\0\xD800", 9);
    auto product = std::make_unique<TZolvaProduct>(odd);
    product->AddRemoval(rkLocalMachine, odd, u"", raCompleteKey);
    const json doc = Run(Products.Add(std::move(product)));
    // A NUL escaped, an unpaired surrogate replaced: the file always parses.
    EXPECT_EQ(doc["products"][0]["name"], "Zolva \xC3\xA9" + std::string(1, '\0') + "\xEF\xBF\xBD");
}

} // namespace
} // namespace keystrip::test
