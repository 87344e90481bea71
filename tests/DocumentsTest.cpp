// The documents an administrator follows: the README's exit-code table and
// switches, and the deployment guide, whose command lines use real switches
// only. Read from the source tree, so natively only.
#include "app/HelpText.h"
#include "app/RunOutcome.h"

#include "common/Utf.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>

using namespace keystrip;

namespace {

#ifndef _WIN32
std::string ReadDocument(const std::string& name) {
    std::ifstream in(std::string(KEYSTRIP_SOURCE_DIR) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::set<std::string> KnownSwitches() {
    std::set<std::string> known;
    for (const TSwitchHelp& row : SwitchHelpRows()) {
        const std::string names = Utf16ToUtf8(row.Switch);
        std::smatch m;
        for (auto it = names.cbegin();
             std::regex_search(it, names.cend(), m, std::regex("-[a-z?]+")); it = m[0].second)
            known.insert(m.str());
    }
    return known;
}

// The switches in the document's code (indented or fenced lines): every
// lower-case word after a dash that stands alone. The tools' own options are
// written in other case (PowerShell's -FilePath) or with a slash (/wait).
std::set<std::string> UsedSwitches(const std::string& text) {
    std::set<std::string> used;
    std::istringstream lines(text);
    std::string line;
    bool fenced = false;
    const std::regex word(R"((^|[\s'"(,])(-[a-z?]+)(?=$|[\s'"),]))");
    while (std::getline(lines, line)) {
        if (line.rfind("```", 0) == 0) {
            fenced = !fenced;
            continue;
        }
        if (!fenced && line.rfind("    ", 0) != 0)
            continue;
        std::smatch m;
        for (auto it = line.cbegin(); std::regex_search(it, line.cend(), m, word); it = m[2].second)
            used.insert(m.str(2));
    }
    return used;
}

TEST(DocumentsTest, TheReadmeHasTheExitCodeTableAndEverySwitch) {
    const std::string readme = ReadDocument("README.md");
    ASSERT_FALSE(readme.empty());
    for (const std::string& name : KnownSwitches())
        EXPECT_NE(readme.find("`" + name), std::string::npos) << name;
    for (TExitCode code : {ecDone, ecRuleFailed, ecUnknownProduct, ecCouldNotStart})
        EXPECT_NE(
            readme.find("| " + std::to_string(code) + " | " + Utf16ToUtf8(DescribeExitCode(code))),
            std::string::npos)
            << code;
}

// Each combination the help lists, as written there, in the README's switch
// table and in the deployment guide.
TEST(DocumentsTest, BothDocumentsSayWhatTheSwitchesDoTogether) {
    for (const char* name : {"README.md", "docs/deploy.md"}) {
        const std::string text = ReadDocument(name);
        ASSERT_FALSE(text.empty()) << name;
        for (const TSwitchCombination& row : SwitchCombinationRows())
            EXPECT_NE(text.find("`" + Utf16ToUtf8(row.Switches) + "`"), std::string::npos)
                << name << " misses " << Utf16ToUtf8(row.Switches);
    }
}

TEST(DocumentsTest, TheDeploymentGuideRunsTheProgramWithRealSwitchesOnly) {
    const std::string guide = ReadDocument("docs/deploy.md");
    ASSERT_FALSE(guide.empty());
    const std::set<std::string> known = KnownSwitches();
    const std::set<std::string> used = UsedSwitches(guide);
    for (const std::string& name : used)
        EXPECT_EQ(known.count(name), 1u) << name << " is no switch of the program";
    for (const char* needed : {"-silent", "-product", "-log", "-exitcode", "-allusers"})
        EXPECT_EQ(used.count(needed), 1u) << needed << " is never used";
}
#endif

} // namespace
