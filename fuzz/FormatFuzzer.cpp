// The two texts that take an argument: Text01 (one string) and Text02 (one
// integer) come from the exchangeable texts resource, so any format text must
// either format or fail with a format error. Properties: nothing else
// escapes; a text without "%" comes back unchanged; a format's literal
// characters all reach the output.
#include "app/InterfaceTexts.h"
#include "common/Errors.h"
#include "fuzz/FuzzSupport.h"

#include <string>

using namespace keystrip;
using keystrip::fuzz::Input;

namespace {

// Every code unit of the format outside its placeholders is in the output,
// so the output is never shorter than the format's literal part.
size_t LiteralUnits(const std::u16string& format) {
    size_t n = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != u'%') {
            ++n;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == u'%') {
            ++n;
            ++i;
            continue;
        }
        // A placeholder runs to its type letter.
        while (i + 1 < format.size() && !((format[i + 1] >= u'a' && format[i + 1] <= u'z') ||
                                          (format[i + 1] >= u'A' && format[i + 1] <= u'Z')))
            ++i;
        ++i;
    }
    return n;
}

template <typename Call> void Check(const std::u16string& format, Call call) {
    std::u16string out;
    try {
        out = call();
    } catch (const EFormatError&) {
        return;
    }
    if (format.find(u'%') == std::u16string::npos)
        FUZZ_CHECK(out == format);
    FUZZ_CHECK(out.size() >= LiteralUnits(format));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    int32_t number = 0;
    for (int i = 0; i < 4; ++i)
        number = static_cast<int32_t>(static_cast<uint32_t>(number) << 8 | in.Byte());
    const std::u16string argument = in.Text16(in.Byte());
    // The format: ASCII bytes mostly, which is what placeholders are made of.
    const std::string bytes = in.Rest();
    std::u16string format(bytes.begin(), bytes.end());
    for (auto& c : format)
        c = static_cast<char16_t>(static_cast<uint8_t>(c));

    Check(format, [&] { return FormatString(format, argument); });
    Check(format, [&] { return FormatInteger(format, number); });
    // A format holding only "%s" gives the argument unchanged.
    FUZZ_CHECK(FormatString(u"%s", argument) == argument);
    return 0;
}
