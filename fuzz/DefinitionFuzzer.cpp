// A product definition document as it comes from a resource or a file: any
// bytes, with or without a byte-order mark, read through LoadFromStream.
// Properties: only the program's own errors escape; a stream with nothing
// after its mark leaves the product as it was; whatever loads is written as
// 7-bit ASCII and reads back to the same name and rules.
#include "common/Errors.h"
#include "common/Utf.h"
#include "definitions/ZolvaProduct.h"
#include "fuzz/FuzzSupport.h"
#include "platform/ByteStream.h"
#include "platform/Files.h"

#include <unistd.h>

#include <string>
#include <vector>

using namespace keystrip;
using keystrip::fuzz::Input;

namespace {

// The input's first byte picks how the rest reaches the reader.
enum Variant : uint8_t { kRaw, kUtf8Mark, kUtf16LEMark, kUtf16BEMark };

std::vector<uint8_t> Encode(Variant variant, const std::string& rest) {
    std::vector<uint8_t> out;
    switch (variant) {
    case kRaw:
        out.assign(rest.begin(), rest.end());
        break;
    case kUtf8Mark:
        out = {0xEF, 0xBB, 0xBF};
        out.insert(out.end(), rest.begin(), rest.end());
        break;
    case kUtf16LEMark:
    case kUtf16BEMark: {
        // The rest as UTF-8 text, so the JSON structure survives re-encoding.
        const bool little = variant == kUtf16LEMark;
        out = little ? std::vector<uint8_t>{0xFF, 0xFE} : std::vector<uint8_t>{0xFE, 0xFF};
        for (const char16_t c : Utf8ToUtf16(rest)) {
            const auto lo = static_cast<uint8_t>(c & 0xFF);
            const auto hi = static_cast<uint8_t>(c >> 8);
            out.push_back(little ? lo : hi);
            out.push_back(little ? hi : lo);
        }
        break;
    }
    }
    return out;
}

bool OnlyAMark(const std::vector<uint8_t>& bytes) {
    const std::vector<std::vector<uint8_t>> marks = {
        {0xEF, 0xBB, 0xBF}, {0xFF, 0xFE}, {0xFE, 0xFF}};
    for (const auto& mark : marks)
        if (bytes == mark)
            return true;
    return false;
}

const std::u16string& ScratchFile() {
    static const std::u16string name =
        U16("/tmp/keystrip-fuzz-definition-" + std::to_string(getpid()) + ".json");
    return name;
}

void CheckSameRules(const TZolvaProduct& a, const TZolvaProduct& b) {
    FUZZ_CHECK(a.Name() == b.Name());
    FUZZ_CHECK(a.DetectionCount() == b.DetectionCount());
    FUZZ_CHECK(a.RemovalCount() == b.RemovalCount());
    for (int i = 0; i < a.DetectionCount(); ++i) {
        const auto& x = *a.Detections(i);
        const auto& y = *b.Detections(i);
        FUZZ_CHECK(x.Root == y.Root && x.Key == y.Key && x.Name == y.Name && x.Value == y.Value &&
                   x.Action == y.Action);
    }
    for (int i = 0; i < a.RemovalCount(); ++i) {
        const auto& x = *a.Removals(i);
        const auto& y = *b.Removals(i);
        FUZZ_CHECK(x.Root == y.Root && x.Key == y.Key && x.Name == y.Name && x.Action == y.Action);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const uint8_t control = in.Byte();
    const auto variant = static_cast<Variant>(control & 3);
    // The reader starts at the stream's position; bit 2 puts junk before it.
    const bool skipPrefix = (control & 4) != 0;
    const std::vector<uint8_t> document = Encode(variant, in.Rest());

    std::vector<uint8_t> bytes;
    if (skipPrefix)
        bytes = {'J', 'U', 'N', 'K', 0};
    const size_t start = bytes.size();
    bytes.insert(bytes.end(), document.begin(), document.end());
    platform::MemoryStream stream(bytes);
    stream.Seek(static_cast<int64_t>(start));

    TZolvaProduct product(u"untouched");
    product.AddRemoval(rkLocalMachine, u"SOFTWARE\\Kept", u"", raCompleteKey);
    try {
        product.LoadFromStream(stream);
    } catch (const EKeystripError&) {
        return 0; // an unreadable document is an ordinary outcome
    }
    if (document.empty() || OnlyAMark(document)) {
        FUZZ_CHECK(product.Name() == u"untouched");
        FUZZ_CHECK(product.DetectionCount() == 0 && product.RemovalCount() == 1);
        return 0;
    }

    product.SaveToFile(ScratchFile(), u"fuzz \u00e9");
    const std::vector<uint8_t> written = platform::ReadFileBytes(ScratchFile());
    for (size_t i = 0; i < written.size(); ++i) {
        const uint8_t b = written[i];
        FUZZ_CHECK(b < 0x80);
        // Control characters only as the CR LF line breaks.
        FUZZ_CHECK(b >= 0x20 || (b == '\r' && i + 1 < written.size() && written[i + 1] == '\n') ||
                   (b == '\n' && i > 0 && written[i - 1] == '\r'));
    }

    TZolvaProduct reread(u"");
    reread.LoadFromFile(ScratchFile());
    FUZZ_CHECK(reread.Version() == 1);
    CheckSameRules(product, reread);
    return 0;
}
