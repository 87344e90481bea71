// The locale-aware comparisons behave alike on Windows and in the native
// build for the letters the program's texts and switches can hold.
#include "platform/LocaleText.h"

#include "common/Utf.h"

#include <gtest/gtest.h>

using namespace keystrip;

namespace {

struct LocaleRow {
    std::u16string a, b;
    bool same;
};

void PrintTo(const LocaleRow& row, std::ostream* os) {
    *os << Utf16ToUtf8(row.a) << " / " << Utf16ToUtf8(row.b);
}

class LocaleTextTest : public testing::TestWithParam<LocaleRow> {};

TEST_P(LocaleTextTest, IgnoresOnlyLetterCase) {
    const auto& row = GetParam();
    EXPECT_EQ(platform::UserLocaleSameText(row.a, row.b), row.same);
    EXPECT_EQ(platform::UserLocaleSameText(row.b, row.a), row.same);
    EXPECT_EQ(platform::SystemLocaleUpper(row.a) == platform::SystemLocaleUpper(row.b), row.same);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LocaleTextTest,
    testing::Values(LocaleRow{u"silent", u"SILENT", true},
                    LocaleRow{u"MainForm", u"mAINfORM", true}, LocaleRow{u"", u"", true},
                    LocaleRow{u"\u00E4rger\u00E9", u"\u00C4RGER\u00C9", true},       // Latin-1
                    LocaleRow{u"\u0142\u00F3d\u017A", u"\u0141\u00D3D\u0179", true}, // Latin Ext-A
                    LocaleRow{u"\u03C9\u03AC", u"\u03A9\u0386", true},               // Greek
                    LocaleRow{u"\u0436\u0451", u"\u0416\u0401", true},               // Cyrillic
                    LocaleRow{u"silent", u"silent ", false}, LocaleRow{u"silent", u"silen", false},
                    LocaleRow{u"a", u"b", false}, LocaleRow{u"\u00E4", u"a", false},
                    LocaleRow{u"1", u"!", false}, LocaleRow{u"[", u"{", false}));

TEST(LocaleTextTest, UpperCasingKeepsEverythingElse) {
    EXPECT_EQ(Utf16ToUtf8(platform::SystemLocaleUpper(u"Text01 = [a\u00E4] 42%")),
              Utf16ToUtf8(u"TEXT01 = [A\u00C4] 42%"));
}

} // namespace
