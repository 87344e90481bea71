// The backup file format, both ways. Part one: the fuzzer's bytes as a
// whole .reg file. Reading never escapes with anything but ERegFileError;
// what it reads, the writer accepts, and reading the written text gives the
// same keys, values and bytes again (and the same text once more).
// Part two: the same bytes as a document built directly (any names, types
// and data, sections marked as links or not): the writer refuses exactly the
// names the format cannot carry and marked sections that hold more than a
// link's value, and whatever it writes reads back identically.
#include "backup/RegFile.h"
#include "fuzz/FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace keystrip;
using keystrip::fuzz::Input;

namespace {

bool SameKeys(const TRegFileDocument& a, const TRegFileDocument& b) {
    if (a.Keys.size() != b.Keys.size())
        return false;
    for (size_t i = 0; i < a.Keys.size(); ++i) {
        if (a.Keys[i].Path != b.Keys[i].Path || a.Keys[i].Values != b.Keys[i].Values ||
            a.Keys[i].Link != b.Keys[i].Link)
            return false;
    }
    return true;
}

bool Writable(const std::u16string& name) {
    return name.find_first_of(u"\0\r\n", 0, 3) == std::u16string::npos;
}

bool Writable(const TRegFileDocument& document) {
    for (const TRegFileKey& key : document.Keys) {
        platform::RegKey root = 0;
        std::u16string relative;
        if (!Writable(key.Path) || !SplitRegFilePath(key.Path, root, relative) ||
            (key.Link && !key.HasLinkShape()))
            return false;
        for (const TRegFileValue& value : key.Values) {
            if (!Writable(value.Name))
                return false;
        }
    }
    return true;
}

void CheckWrittenReadsBack(const TRegFileDocument& document) {
    const std::u16string text = RegFileDocumentText(document);
    const TRegFileDocument again = ReadRegFile(EncodeRegFileText(text, true));
    FUZZ_CHECK(SameKeys(document, again));
    FUZZ_CHECK(RegFileDocumentText(again) == text);
}

void ReadWholeFile(const uint8_t* data, size_t size) {
    TRegFileDocument document;
    try {
        document = ReadRegFile(data, size);
    } catch (const ERegFileError& e) {
        FUZZ_CHECK(e.Line() >= 1);
        return;
    }
    for (const TRegFileKey& key : document.Keys)
        FUZZ_CHECK(key.Line >= 2);
    FUZZ_CHECK(Writable(document));
    CheckWrittenReadsBack(document);
}

const char16_t* const kRoots[] = {u"HKEY_LOCAL_MACHINE",  u"hkey_current_user",
                                  u"HKEY_CLASSES_ROOT",   u"HKEY_USERS",
                                  u"HKEY_CURRENT_CONFIG", u"HKEY_ZOLVA"};
const uint32_t kTypes[] = {0, 1, 2, 3, 4, 5, 6, 7, 11};

void WriteBuiltDocument(Input& in) {
    TRegFileDocument document;
    const int keys = in.Byte() % 4;
    for (int k = 0; k < keys; ++k) {
        TRegFileKey key;
        key.Path = kRoots[in.Byte() % 6];
        key.Link = in.Byte() % 8 == 0;
        const int parts = in.Byte() % 4;
        for (int p = 0; p < parts; ++p)
            key.Path += u'\\' + in.Text16(in.Byte() % 12);
        const int values = in.Byte() % 4;
        for (int v = 0; v < values; ++v) {
            TRegFileValue value;
            value.Name = in.Text16(in.Byte() % 8);
            const uint8_t kind = in.Byte();
            if (kind < 200) {
                value.Type = kTypes[kind % 9];
            } else {
                for (int b = 0; b < 4; ++b)
                    value.Type = value.Type << 8 | in.Byte();
            }
            const int bytes = in.Byte() % 40;
            for (int b = 0; b < bytes; ++b)
                value.Data.push_back(in.Byte());
            key.Values.push_back(value);
        }
        document.Keys.push_back(key);
    }
    const bool writable = Writable(document);
    try {
        CheckWrittenReadsBack(document);
        FUZZ_CHECK(writable);
    } catch (const ERegFileError& e) {
        // A refusal is a writer's (line 0), and only for what cannot be written.
        FUZZ_CHECK(e.Line() == 0);
        FUZZ_CHECK(!writable);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadWholeFile(data, size);
    Input in(data, size);
    WriteBuiltDocument(in);
    return 0;
}
