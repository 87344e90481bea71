// The interface texts as they come from the resource: any bytes through the
// store's byte loading, then lines handed to SetStrings directly, then
// lookups. Properties: nothing escapes; what the store keeps is trimmed and
// free of comments; the first entry of the first section is what a lookup
// with its own section name and key finds; a missing section gives the
// default.
#include "app/InterfaceTexts.h"
#include "fuzz/FuzzSupport.h"

#include <string>
#include <vector>

using namespace keystrip;
using keystrip::fuzz::Input;

namespace {

bool IsBlank(char16_t c) {
    return c <= 32;
}

void CheckStore(const TInterfaceTexts& texts) {
    for (int s = 0; s < texts.SectionCount(); ++s) {
        const std::u16string& name = texts.SectionName(s);
        FUZZ_CHECK(name.empty() || (!IsBlank(name.front()) && !IsBlank(name.back())));
        for (const std::u16string& entry : texts.SectionEntries(s)) {
            FUZZ_CHECK(!entry.empty());
            FUZZ_CHECK(!IsBlank(entry.front()) && !IsBlank(entry.back()));
            FUZZ_CHECK(entry.front() != u';');
        }
    }
    if (texts.SectionCount() == 0)
        return;
    // The first keyed entry of the first section can always be found by its
    // own names: nothing before it has the same section or key.
    const std::u16string& section = texts.SectionName(0);
    for (const std::u16string& entry : texts.SectionEntries(0)) {
        const size_t eq = entry.find(u'=');
        if (eq == std::u16string::npos)
            continue;
        const std::u16string key = entry.substr(0, eq);
        const std::u16string value = entry.substr(eq + 1);
        FUZZ_CHECK(texts.ReadString(section, key, u"\u0001default") == value);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    // Part one: raw bytes for the loader, up to the first 0xFF byte.
    const std::string raw = in.Field();
    TInterfaceTexts texts;
    texts.LoadFromBytes(std::vector<uint8_t>(raw.begin(), raw.end()));
    CheckStore(texts);

    // Part two: lines as UTF-16 code units, split at U+000A, for SetStrings
    // (which must cope with any code unit, line breaks and NUL included).
    const std::u16string rest = in.Rest16();
    std::vector<std::u16string> lines;
    size_t begin = 0;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i == rest.size() || rest[i] == u'\n') {
            lines.push_back(rest.substr(begin, i - begin));
            begin = i + 1;
        }
    }
    // The last line doubles as a lookup: section and key split at its first
    // code unit 0x0001.
    const std::u16string probe = lines.empty() ? std::u16string() : lines.back();
    texts.SetStrings(lines);
    CheckStore(texts);

    const size_t split = probe.find(u'\u0001');
    const std::u16string section = probe.substr(0, split);
    const std::u16string ident = split == std::u16string::npos ? u"" : probe.substr(split + 1);
    const std::u16string found = texts.ReadString(section, ident, u"\u0002default");
    (void)found;

    TInterfaceTexts empty;
    FUZZ_CHECK(empty.ReadString(section, ident, u"fallback") == u"fallback");
    return 0;
}
