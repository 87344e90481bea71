// The nesting bound of the definition reader: a document may nest arrays and
// objects 256 levels deep, the document itself included, and one level more
// makes it unreadable. Brackets inside strings do not count, whatever escapes
// the strings hold.
#include "definitions/ZolvaProduct.h"

#include "common/Errors.h"
#include "common/Utf.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

using namespace keystrip;

namespace {

const std::string kTooDeep = "The product definition is nested too deeply.";

std::string Repeat(const std::string& part, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += part;
    return out;
}

// `levels` arrays, each inside the one before.
std::string Arrays(int levels) {
    return Repeat("[", levels) + Repeat("]", levels);
}

// `levels` objects, each the only member of the one before.
std::string Objects(int levels) {
    return Repeat(R"({"a":)", levels) + "1" + Repeat("}", levels);
}

// A document whose name member holds `value`, so the document's own object
// is the first level and the value starts at the second.
std::string WithName(const std::string& value) {
    return R"({"detection":[],"removal":[],"name":)" + value + "}";
}

struct NestingRow {
    const char* label;
    std::string document;
    bool readable;
    std::u16string name; // the name read, when readable
};

void PrintTo(const NestingRow& row, std::ostream* os) {
    *os << row.label;
}

class NestingTest : public testing::TestWithParam<NestingRow> {};

TEST_P(NestingTest, ReadsUpTo256LevelsAndRefusesDeeperDocuments) {
    const auto& row = GetParam();
    TZolvaProduct product(u"before");
    product.AddRemoval(rkUsers, u"old", u"", raCompleteKey);
    std::string error;
    try {
        product.LoadFromBuffer(U16(row.document));
    } catch (const EParseError& e) {
        error = e.what();
    }
    if (row.readable) {
        EXPECT_EQ(error, "");
        EXPECT_EQ(product.Name(), row.name);
    } else {
        EXPECT_EQ(error, kTooDeep);
        EXPECT_EQ(product.RemovalCount(), 0);
    }
}

const std::string k300Open = Repeat("[", 150) + Repeat("{", 150);

INSTANTIATE_TEST_SUITE_P(
    Table, NestingTest,
    testing::Values(
        NestingRow{"ArraysToTheBound", WithName(Arrays(255)), true, U16(Arrays(255))},
        NestingRow{"ArraysOneBeyond", WithName(Arrays(256)), false, u""},
        NestingRow{"ObjectsToTheBound", WithName(Objects(255)), true, U16(Objects(255))},
        NestingRow{"ObjectsOneBeyond", WithName(Objects(256)), false, u""},
        NestingRow{"OpenArraysWithoutEnd", Repeat("[", 200000), false, u""},
        // The text's unbalanced brackets are no nesting at all.
        NestingRow{"BracketsInAString", WithName('"' + k300Open + '"'), true, U16(k300Open)},
        NestingRow{"BracketsAfterAnEscapedQuote", WithName(R"("\")" + k300Open + '"'), true,
                   U16('"' + k300Open)},
        NestingRow{"ClosingBracketsInAStringTakeNoLevelAway",
                   WithName(R"([")" + Repeat("]", 300) + R"(",)" + Arrays(255) + "]"), false, u""},
        // An escaped backslash ends the escape, so the quote after it ends the string.
        NestingRow{"NestingAfterAnEscapedBackslashToTheBound",
                   WithName(R"(["x\\",)" + Arrays(254) + "]"), true,
                   U16(R"(["x\\",)" + Arrays(254) + "]")},
        NestingRow{"NestingAfterAnEscapedBackslashOneBeyond",
                   WithName(R"(["x\\",)" + Arrays(255) + "]"), false, u""},
        NestingRow{"BracketsAfterAnEscapedUnicodeCharacter",
                   WithName(R"("\u005c\u0022)" + k300Open + '"'), true, U16("\\\"" + k300Open)}),
    [](const testing::TestParamInfo<NestingRow>& info) { return std::string(info.param.label); });

} // namespace
