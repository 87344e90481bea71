// The outcome of a run and the exit code it gives under -exitcode.
#include "app/RunOutcome.h"

#include "common/Errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace keystrip;

namespace {

using P = TRunProblem;

struct CodeRow {
    const char* name;
    std::vector<TRunProblem> problems;
    int code;
};

void PrintTo(const CodeRow& row, std::ostream* os) {
    *os << row.name;
}

class ExitCodeTest : public testing::TestWithParam<CodeRow> {};

TEST_P(ExitCodeTest, IsTheHighestCodeOfTheProblemsAndZeroWithoutTheSwitch) {
    TRunOutcome outcome;
    for (TRunProblem problem : GetParam().problems)
        outcome.Note(problem, u"detail");
    EXPECT_EQ(ExitCodeOf(outcome), GetParam().code);
    EXPECT_EQ(ProcessExitCode(outcome, true), GetParam().code);
    EXPECT_EQ(ProcessExitCode(outcome, false), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExitCodeTest,
    testing::Values(
        CodeRow{"Nothing", {}, 0}, CodeRow{"RuleFailed", {P::RuleFailed}, 1},
        CodeRow{"RunBrokeOff", {P::RunBrokeOff}, 1},
        CodeRow{"UnknownProduct", {P::UnknownProduct}, 2},
        CodeRow{"NoDefinitions", {P::NoDefinitions}, 3},
        CodeRow{"TermsUnreadable", {P::TermsUnreadable}, 3},
        CodeRow{"WindowNotCreated", {P::WindowNotCreated}, 3},
        CodeRow{"LogNotWritten", {P::LogNotWritten}, 3},
        CodeRow{"BackupNotWritten", {P::BackupNotWritten}, 3},
        CodeRow{"WouldNotRestore", {P::WouldNotRestore}, 1},
        CodeRow{"RestoreCombined", {P::RestoreCombined}, 3},
        CodeRow{"CombinedOverIncomplete", {P::RestoreIncomplete, P::RestoreCombined}, 3},
        CodeRow{"UnknownOverRule", {P::RuleFailed, P::UnknownProduct}, 2},
        CodeRow{"UnknownOverRuleInAnyOrder", {P::UnknownProduct, P::RuleFailed}, 2},
        CodeRow{"LogOverUnknown", {P::UnknownProduct, P::LogNotWritten}, 3},
        CodeRow{"TermsOverRule", {P::TermsUnreadable, P::RuleFailed}, 3},
        CodeRow{"Everything",
                {P::RuleFailed, P::RunBrokeOff, P::UnknownProduct, P::NoDefinitions,
                 P::TermsUnreadable, P::WindowNotCreated, P::LogNotWritten, P::BackupNotWritten},
                3}),
    [](const testing::TestParamInfo<CodeRow>& info) { return std::string(info.param.name); });

TEST(RunOutcomeTest, CountsRemovalsAndNotesEachIncompleteProductByName) {
    TRunOutcome outcome;
    outcome.CountRemoval(u"Zolva A", true);
    EXPECT_EQ(ExitCodeOf(outcome), ecDone);
    outcome.CountRemoval(u"Zolva B", false);
    outcome.CountRemoval(u"Zolva C", false);
    EXPECT_EQ(outcome.ProductsRequested(), 3);
    EXPECT_EQ(outcome.ProductsRemoved(), 1);
    ASSERT_EQ(outcome.Notes().size(), 2u);
    EXPECT_EQ(outcome.Notes()[0].Problem, P::RuleFailed);
    EXPECT_EQ(outcome.Notes()[0].Detail, u"Zolva B");
    EXPECT_EQ(outcome.Notes()[1].Detail, u"Zolva C");
    EXPECT_EQ(ExitCodeOf(outcome), ecRuleFailed);
}

TEST(RunOutcomeTest, NotesTheSameProblemWithTheSameDetailOnce) {
    TRunOutcome outcome;
    // The window asks for the product switch once when silent and again on Accept.
    outcome.Note(P::UnknownProduct, u"Zolva X");
    outcome.Note(P::UnknownProduct, u"Zolva X");
    outcome.Note(P::UnknownProduct, u"Zolva Y");
    EXPECT_EQ(outcome.Notes().size(), 2u);
    EXPECT_TRUE(outcome.Has(P::UnknownProduct));
    EXPECT_FALSE(outcome.Has(P::RuleFailed));
}

struct PageRow {
    int code;
    TRunProblem problem;
    int exitCode;
};

class ErrorPageTest : public testing::TestWithParam<PageRow> {};

TEST_P(ErrorPageTest, StandsForItsProblem) {
    EXPECT_EQ(ProblemOfErrorPage(GetParam().code), GetParam().problem);
    EXPECT_EQ(ExitCodeOf(GetParam().problem), GetParam().exitCode);
}

INSTANTIATE_TEST_SUITE_P(Codes, ErrorPageTest,
                         testing::Values(PageRow{1000, P::TermsUnreadable, 3},
                                         PageRow{1001, P::RunBrokeOff, 1},
                                         PageRow{1002, P::RunBrokeOff, 1},
                                         PageRow{1003, P::NoDefinitions, 3}));

TEST(RunOutcomeTest, EveryProblemAndCodeHasItsOwnDescription) {
    std::vector<std::u16string> seen;
    for (int p = 0; p <= static_cast<int>(P::RestoreCombined); ++p) {
        const std::u16string text = DescribeProblem(static_cast<TRunProblem>(p));
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(std::find(seen.begin(), seen.end(), text), seen.end());
        seen.push_back(text);
    }
    for (TExitCode code : {ecDone, ecRuleFailed, ecUnknownProduct, ecCouldNotStart}) {
        const std::u16string text = DescribeExitCode(code);
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(std::find(seen.begin(), seen.end(), text), seen.end());
        seen.push_back(text);
    }
}

TEST(RunOutcomeTest, CurrentExceptionTextIsTheMessageOfTheErrorBeingHandled) {
    EXPECT_EQ(CurrentExceptionText(), u"");
    try {
        throw EInOutError("the terms of use are missing");
    } catch (...) {
        EXPECT_EQ(CurrentExceptionText(), u"the terms of use are missing");
    }
    try {
        throw 42;
    } catch (...) {
        EXPECT_EQ(CurrentExceptionText(), u"");
    }
}

} // namespace
