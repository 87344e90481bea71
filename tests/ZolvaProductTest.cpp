// The product definition model: enumeration texts and the owned rule lists.
#include "definitions/ZolvaProduct.h"

#include "common/Errors.h"

#include <gtest/gtest.h>

#include <string>

using namespace keystrip;

namespace {

// --- Enumeration conversions --------------------------------------------------

struct ToTextRow {
    unsigned value;
    std::u16string root, detect, remove; // expected texts for each enumeration
};

class EnumToTextTest : public testing::TestWithParam<ToTextRow> {};

TEST_P(EnumToTextTest, GivesTheTextFormAndOrdinalZeroOutsideTheMembers) {
    const auto& row = GetParam();
    EXPECT_EQ(RootKeyToText(static_cast<TZolvaProductRootKey>(row.value)), row.root);
    EXPECT_EQ(DetectActionToText(static_cast<TZolvaProductDetectAction>(row.value)), row.detect);
    EXPECT_EQ(RemoveActionToText(static_cast<TZolvaProductRemoveAction>(row.value)), row.remove);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EnumToTextTest,
    testing::Values(ToTextRow{0, u"HKEY_CLASSES_ROOT", u"KeyExist", u"CompleteKey"},
                    ToTextRow{1, u"HKEY_CURRENT_USER", u"NameExist", u"NameOnly"},
                    ToTextRow{2, u"HKEY_LOCAL_MACHINE", u"NameMatchValue", u"CompleteKey"},
                    ToTextRow{3, u"HKEY_USERS", u"KeyExist", u"CompleteKey"},
                    ToTextRow{4, u"HKEY_PERFORMANCE_DATA", u"KeyExist", u"CompleteKey"},
                    ToTextRow{5, u"HKEY_CURRENT_CONFIG", u"KeyExist", u"CompleteKey"},
                    ToTextRow{6, u"HKEY_DYN_DATA", u"KeyExist", u"CompleteKey"},
                    ToTextRow{7, u"HKEY_CLASSES_ROOT", u"KeyExist", u"CompleteKey"},
                    ToTextRow{255, u"HKEY_CLASSES_ROOT", u"KeyExist", u"CompleteKey"}));

struct RootTextRow {
    std::u16string text;
    TZolvaProductRootKey expected;
};

class TextToRootKeyTest : public testing::TestWithParam<RootTextRow> {};

TEST_P(TextToRootKeyTest, FoldsAsciiCaseOnlyAndFallsBackToClassesRoot) {
    EXPECT_EQ(TextToRootKey(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextToRootKeyTest,
    testing::Values(RootTextRow{u"HKEY_CLASSES_ROOT", rkClassesRoot},
                    RootTextRow{u"HKEY_CURRENT_USER", rkCurrentUser},
                    RootTextRow{u"hkey_local_machine", rkLocalMachine},
                    RootTextRow{u"Hkey_Local_MACHINE", rkLocalMachine},
                    RootTextRow{u"HKEY_USERS", rkUsers},
                    RootTextRow{u"hkey_performance_data", rkPerformanceData},
                    RootTextRow{u"HKEY_CURRENT_CONFIG", rkCurrentConfig},
                    RootTextRow{u"HKEY_DYN_DATA", rkDynData}, RootTextRow{u"HKLM", rkClassesRoot},
                    RootTextRow{u" HKEY_USERS", rkClassesRoot},
                    RootTextRow{u"HKEY_USERS\\", rkClassesRoot},
                    RootTextRow{u"HKEY_USER", rkClassesRoot}, RootTextRow{u"", rkClassesRoot},
                    // U+0130 and U+212A fold to ASCII letters under Unicode rules, not here.
                    RootTextRow{u"HKEY_DYN_DATA\u0130", rkClassesRoot},
                    RootTextRow{u"H\u212AEY_USERS", rkClassesRoot}));

struct ActionTextRow {
    std::u16string text;
    TZolvaProductDetectAction detect;
    TZolvaProductRemoveAction remove;
};

class TextToActionTest : public testing::TestWithParam<ActionTextRow> {};

TEST_P(TextToActionTest, FoldsAsciiCaseOnlyAndFallsBackToOrdinalZero) {
    EXPECT_EQ(TextToDetectAction(GetParam().text), GetParam().detect);
    EXPECT_EQ(TextToRemoveAction(GetParam().text), GetParam().remove);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextToActionTest,
    testing::Values(ActionTextRow{u"KeyExist", daKeyExist, raCompleteKey},
                    ActionTextRow{u"nameexist", daNameExist, raCompleteKey},
                    ActionTextRow{u"NAMEMATCHVALUE", daNameMatchValue, raCompleteKey},
                    ActionTextRow{u"NameMatchValue ", daKeyExist, raCompleteKey},
                    ActionTextRow{u"NameOnly", daKeyExist, raNameOnly},
                    ActionTextRow{u"nameonly", daKeyExist, raNameOnly},
                    ActionTextRow{u"completekey", daKeyExist, raCompleteKey},
                    ActionTextRow{u"Delete", daKeyExist, raCompleteKey},
                    ActionTextRow{u"Name", daKeyExist, raCompleteKey},
                    ActionTextRow{u"", daKeyExist, raCompleteKey}));

// --- The rule lists -----------------------------------------------------------

TEST(ZolvaProductModelTest, StartsWithItsNameVersionOneAndNoRules) {
    TZolvaProduct product(u"Zolva Reader");
    EXPECT_EQ(product.Name(), u"Zolva Reader");
    EXPECT_EQ(product.Version(), 1);
    EXPECT_EQ(product.DetectionCount(), 0);
    EXPECT_EQ(product.RemovalCount(), 0);
}

TEST(ZolvaProductModelTest, AddKeepsEveryFieldAndTheOrderDuplicatesIncluded) {
    TZolvaProduct product(u"P");
    auto* d1 = product.AddDetection(rkLocalMachine, u"K1", u"N1", u"V1", daNameMatchValue);
    auto* d2 = product.AddDetection(rkLocalMachine, u"K1", u"N1", u"V1", daNameMatchValue);
    auto* r1 = product.AddRemoval(rkUsers, u"K2", u"N2", raNameOnly);
    ASSERT_EQ(product.DetectionCount(), 2);
    ASSERT_EQ(product.RemovalCount(), 1);
    EXPECT_NE(d1, d2);
    EXPECT_EQ(product.Detections(0), d1);
    EXPECT_EQ(product.Detections(1), d2);
    EXPECT_EQ(d1->Root, rkLocalMachine);
    EXPECT_EQ(d1->Key, u"K1");
    EXPECT_EQ(d1->Name, u"N1");
    EXPECT_EQ(d1->Value, u"V1");
    EXPECT_EQ(d1->Action, daNameMatchValue);
    EXPECT_EQ(product.Removals(0), r1);
    EXPECT_EQ(r1->Root, rkUsers);
    EXPECT_EQ(r1->Key, u"K2");
    EXPECT_EQ(r1->Name, u"N2");
    EXPECT_EQ(r1->Action, raNameOnly);
}

TEST(ZolvaProductModelTest, FindIsByIdentityNotContent) {
    TZolvaProduct product(u"P");
    TZolvaProduct other(u"Q");
    auto* a = product.AddDetection(rkCurrentUser, u"K", u"", u"", daKeyExist);
    auto* b = product.AddDetection(rkCurrentUser, u"K", u"", u"", daKeyExist);
    auto* foreign = other.AddDetection(rkCurrentUser, u"K", u"", u"", daKeyExist);
    auto* r = product.AddRemoval(rkCurrentUser, u"K", u"", raCompleteKey);
    auto* foreignRemoval = other.AddRemoval(rkCurrentUser, u"K", u"", raCompleteKey);
    EXPECT_EQ(product.FindDetection(a), 0);
    EXPECT_EQ(product.FindDetection(b), 1);
    EXPECT_EQ(product.FindDetection(foreign), -1);
    EXPECT_EQ(product.FindDetection(nullptr), -1);
    EXPECT_EQ(product.FindRemoval(r), 0);
    EXPECT_EQ(product.FindRemoval(foreignRemoval), -1);
}

TEST(ZolvaProductModelTest, DeleteMovesLaterRulesUp) {
    TZolvaProduct product(u"P");
    product.AddDetection(rkClassesRoot, u"A", u"", u"", daKeyExist);
    auto* b = product.AddDetection(rkClassesRoot, u"B", u"", u"", daKeyExist);
    auto* c = product.AddDetection(rkClassesRoot, u"C", u"", u"", daKeyExist);
    product.AddRemoval(rkClassesRoot, u"X", u"", raCompleteKey);
    auto* y = product.AddRemoval(rkClassesRoot, u"Y", u"", raCompleteKey);
    product.DeleteDetection(0);
    product.DeleteRemoval(0);
    ASSERT_EQ(product.DetectionCount(), 2);
    EXPECT_EQ(product.Detections(0), b);
    EXPECT_EQ(product.Detections(1), c);
    ASSERT_EQ(product.RemovalCount(), 1);
    EXPECT_EQ(product.Removals(0), y);
}

class BadIndexTest : public testing::TestWithParam<int> {};

TEST_P(BadIndexTest, FailsWithTheIndexAndChangesNothing) {
    const int index = GetParam();
    TZolvaProduct product(u"P");
    product.AddDetection(rkClassesRoot, u"A", u"", u"", daKeyExist);
    product.AddDetection(rkClassesRoot, u"B", u"", u"", daKeyExist);
    product.AddRemoval(rkClassesRoot, u"X", u"", raCompleteKey);
    const std::string message = "List index out of bounds (" + std::to_string(index) + ")";
    const auto expectListError = [&](auto call) {
        try {
            call();
            ADD_FAILURE() << "no error for index " << index;
        } catch (const EListError& e) {
            EXPECT_EQ(e.what(), message);
        }
    };
    // The removal list has one rule, so index 1 is bad for it too.
    if (index < 0 || index >= 2) {
        expectListError([&] { product.Detections(index); });
        expectListError([&] { product.DeleteDetection(index); });
    }
    expectListError([&] { product.Removals(index); });
    expectListError([&] { product.DeleteRemoval(index); });
    EXPECT_EQ(product.DetectionCount(), 2);
    EXPECT_EQ(product.RemovalCount(), 1);
    EXPECT_EQ(product.Detections(1)->Key, u"B");
}

INSTANTIATE_TEST_SUITE_P(Table, BadIndexTest, testing::Values(-1, 1, 2, 1000, -2147483647 - 1));

TEST(ZolvaProductModelTest, ClearEmptiesBothListsAndKeepsNameAndVersion) {
    TZolvaProduct product(u"P");
    product.AddDetection(rkClassesRoot, u"A", u"", u"", daKeyExist);
    product.AddRemoval(rkClassesRoot, u"X", u"", raCompleteKey);
    product.Clear();
    EXPECT_EQ(product.DetectionCount(), 0);
    EXPECT_EQ(product.RemovalCount(), 0);
    EXPECT_EQ(product.Name(), u"P");
    EXPECT_EQ(product.Version(), 1);
    // Adding after a clear starts again at index 0.
    auto* again = product.AddRemoval(rkUsers, u"Z", u"", raNameOnly);
    EXPECT_EQ(product.Removals(0), again);
}

} // namespace
