// The product remover against the in-memory registry and, in the Windows
// build, against the real one.
#include "rules/ZolvaRuleProcessor.h"

#include "tests/support/LogEntries.h"
#include "tests/support/ScratchRegistry.h"

#include <gtest/gtest.h>

namespace keystrip::test {
namespace {

using namespace platform;

class ProductRemoverTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        auto& s = Scratch();
        for (auto path : {u"Product", u"Product\\Sub\\Deep", u"Product\\Other"})
            s.SetString(rkLocalMachine, path, u"v", u"x");
        s.SetString(rkLocalMachine, u"Product\\Sub", u"", u"default");
        s.SetString(rkCurrentUser, u"Settings", u"", u"default");
        s.SetString(rkCurrentUser, u"Settings", u"Window", u"1,2,3");
        s.SetDword(rkCurrentUser, u"Settings", u"Keep", 1);
        s.SetString(rkLocalMachine, u"ProductKeep", u"v", u"stay");
    }

    bool Remove(TZolvaProduct* product, bool simulate = false) {
        TZolvaProductRemover remover(product, &FLog, Registry());
        EXPECT_FALSE(remover.SimulateOnly());
        remover.SetSimulateOnly(simulate);
        return remover.ProductRemoved();
    }
    std::u16string Machine(const std::u16string& relative) {
        return u"HKEY_LOCAL_MACHINE\\" + Key(rkLocalMachine, relative);
    }
    std::u16string User(const std::u16string& relative) {
        return u"HKEY_CURRENT_USER\\" + Key(rkCurrentUser, relative);
    }

    TActivityLogger FLog;
};

TEST_P(ProductRemoverTest, AKeyRuleDeletesTheWholeSubtreeWithOneEntry) {
    TZolvaProduct product(u"Zolva Suite");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Product"), u"", raCompleteKey);
    EXPECT_TRUE(Remove(&product));
    std::vector<LogEntry> expected = {
        {asInfo, ssStartRemoval, u"Zolva Suite"},
        {asInfo, aaKeyDeleted, Machine(u"Product")},
        {asInfo, ssStopRemoval, u"Success"},
    };
    EXPECT_EQ(Entries(FLog), expected);
    EXPECT_FALSE(Scratch().KeyPresent(rkLocalMachine, u"Product"));
    EXPECT_TRUE(Scratch().ValuePresent(rkLocalMachine, u"ProductKeep", u"v"));
}

TEST_P(ProductRemoverTest, ValueRulesDeleteOnlyTheirValue) {
    TZolvaProduct product(u"P");
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Settings"), u"WINDOW", raNameOnly);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Settings"), u"", raNameOnly);
    EXPECT_TRUE(Remove(&product));
    std::vector<LogEntry> expected = {
        {asInfo, ssStartRemoval, u"P"},
        {asInfo, aaNameDeleted, User(u"Settings") + u"\\WINDOW"},
        {asInfo, aaNameDeleted, User(u"Settings") + u"\\"},
        {asInfo, ssStopRemoval, u"Success"},
    };
    EXPECT_EQ(Entries(FLog), expected);
    EXPECT_FALSE(Scratch().ValuePresent(rkCurrentUser, u"Settings", u"Window"));
    EXPECT_FALSE(Scratch().ValuePresent(rkCurrentUser, u"Settings", u""));
    EXPECT_TRUE(Scratch().ValuePresent(rkCurrentUser, u"Settings", u"Keep"));
}

TEST_P(ProductRemoverTest, WhatIsAlreadyAbsentCountsAsRemoved) {
    TZolvaProduct product(u"P");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Product"), u"", raCompleteKey);
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"product"), u"", raCompleteKey);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Settings"), u"Nope", raNameOnly);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Nope"), u"Window", raNameOnly);
    EXPECT_TRUE(Remove(&product));
    std::vector<LogEntry> expected = {
        {asInfo, ssStartRemoval, u"P"},
        {asInfo, aaKeyDeleted, Machine(u"Product")},
        {asInfo, aaKeyNotFound, Machine(u"product")},
        {asInfo, aaNameNotFound, User(u"Settings") + u"\\Nope"},
        {asInfo, aaKeyNotFound, User(u"Nope")},
        {asInfo, ssStopRemoval, u"Success"},
    };
    EXPECT_EQ(Entries(FLog), expected);
}

TEST_P(ProductRemoverTest, ALeadingBackslashAddressesTheSameKey) {
    TZolvaProduct product(u"P");
    product.AddRemoval(rkLocalMachine, u"\\" + Key(rkLocalMachine, u"Product\\Sub"), u"",
                       raCompleteKey);
    EXPECT_TRUE(Remove(&product));
    EXPECT_EQ(Entries(FLog)[1],
              (LogEntry{asInfo, aaKeyDeleted,
                        u"HKEY_LOCAL_MACHINE\\\\" + Key(rkLocalMachine, u"Product\\Sub")}));
    EXPECT_FALSE(Scratch().KeyPresent(rkLocalMachine, u"Product\\Sub"));
    EXPECT_TRUE(Scratch().KeyPresent(rkLocalMachine, u"Product\\Other"));
}

TEST_P(ProductRemoverTest, SimulationLogsEveryRuleAndTouchesNothing) {
    TZolvaProduct product(u"P");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Product"), u"", raCompleteKey);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Settings"), u"Window", raNameOnly);
    product.AddRemoval(rkCurrentUser, Key(rkCurrentUser, u"Nope"), u"x", raNameOnly);
    EXPECT_TRUE(Remove(&product, true));
    std::vector<LogEntry> expected = {
        {asInfo, ssStartRemoval, u"P"},
        {asInfo, ssSimulationOnly, Machine(u"Product") + u"\\"},
        {asInfo, ssSimulationOnly, User(u"Settings") + u"\\Window"},
        {asInfo, ssSimulationOnly, User(u"Nope") + u"\\x"},
        {asInfo, ssStopRemoval, u"Success"},
    };
    EXPECT_EQ(Entries(FLog), expected);
    EXPECT_TRUE(Scratch().KeyPresent(rkLocalMachine, u"Product\\Sub\\Deep"));
    EXPECT_TRUE(Scratch().ValuePresent(rkCurrentUser, u"Settings", u"Window"));
}

TEST_P(ProductRemoverTest, WithoutRulesOrProductThereIsNothingToFail) {
    EXPECT_TRUE(Remove(nullptr));
    EXPECT_EQ(FLog.Count(), 0);

    TZolvaProduct product(u"Empty");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Product"), u"",
                       static_cast<TZolvaProductRemoveAction>(2));
    EXPECT_TRUE(Remove(&product));
    std::vector<LogEntry> expected = {
        {asInfo, ssStartRemoval, u"Empty"},
        {asInfo, ssStopRemoval, u"Success"},
    };
    EXPECT_EQ(Entries(FLog), expected);
    EXPECT_TRUE(Scratch().KeyPresent(rkLocalMachine, u"Product"));
}

TEST_P(ProductRemoverTest, LinksInsideAProductTreeGoWithoutTheirTargets) {
    Scratch().SetString(rkCurrentUser, u"Shared\\Data", u"v", u"precious");
    Scratch().CreateLink(rkLocalMachine, u"Product\\Sub\\ToShared", rkCurrentUser, u"Shared");
    Scratch().CreateLink(rkLocalMachine, u"Product\\ToKeep", rkLocalMachine, u"ProductKeep");
    TZolvaProduct product(u"P");
    product.AddRemoval(rkLocalMachine, Key(rkLocalMachine, u"Product"), u"", raCompleteKey);
    EXPECT_TRUE(Remove(&product));
    EXPECT_EQ(Entries(FLog)[1], (LogEntry{asInfo, aaKeyDeleted, Machine(u"Product")}));
    EXPECT_FALSE(Scratch().KeyPresent(rkLocalMachine, u"Product"));
    EXPECT_TRUE(Scratch().ValuePresent(rkCurrentUser, u"Shared\\Data", u"v"));
    EXPECT_TRUE(Scratch().ValuePresent(rkLocalMachine, u"ProductKeep", u"v"));
}

INSTANTIATE_TEST_SUITE_P(Registries, ProductRemoverTest, ::testing::ValuesIn(RegistryKinds()),
                         RegistryKindName);

} // namespace
} // namespace keystrip::test
