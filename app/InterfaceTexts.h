// The interface-texts store: INI-style lines parsed into ordered sections of
// entries, looked up by section and key with the system locale's case
// folding. Filled once from the raw-data resource "ZOLVASTRINGS" and
// read-only afterwards. Also the formatting of the two texts that take an
// argument.
#pragma once

#include "common/OwnedList.h"
#include "platform/ByteStream.h"
#include "platform/Resources.h"

#include <cstdint>
#include <string>
#include <vector>

namespace keystrip {

// The raw-data resource the window's texts come from.
inline const std::u16string kInterfaceTextsResource = u"ZOLVASTRINGS";

class TInterfaceTexts {
public:
    // Clears the store, then parses the lines: each is trimmed of codes 0..32;
    // empty lines and lines starting with ";" are skipped; "[name]" opens a
    // section; inside a section a line with "=" is stored as key "=" value
    // (both trimmed), any other line unchanged, where no lookup finds it.
    // Lines before the first section are dropped.
    void SetStrings(const std::vector<std::u16string>& Lines);

    // The text after the first "=" of the first entry named Ident in the first
    // section named Section (names compared upper-cased by the system locale),
    // or Default when either is missing.
    std::u16string ReadString(const std::u16string& Section, const std::u16string& Ident,
                              const std::u16string& Default) const;

    // Decodes the bytes (byte-order mark, else the ANSI code page), splits
    // them into lines (a NUL ends the text) and hands them to SetStrings.
    void LoadFromBytes(const std::vector<uint8_t>& Bytes);
    void LoadFromStream(platform::ByteStream& Stream);
    // Loads the resource "ZOLVASTRINGS" when it exists and reports whether it
    // did; without it the store is left as it was. A resource that exists but
    // cannot be read fails with the source's error.
    bool LoadFromResources(const platform::IResourceSource& Resources);

    // The parsed form, in the order of the lines.
    int SectionCount() const { return FSections.Count(); }
    const std::u16string& SectionName(int Index) const { return FSections.Get(Index)->Name; }
    const std::vector<std::u16string>& SectionEntries(int Index) const {
        return FSections.Get(Index)->Entries;
    }

private:
    struct TSection {
        std::u16string Name;
        std::u16string UpperName;
        std::vector<std::u16string> Entries;
    };

    OwnedList<TSection> FSections;
};

// Format with one string argument: "%s" takes it; "%%" is a percent sign.
// A placeholder may carry an index ("%0:s"), a "-" for left alignment, a
// width and a precision ("%-10.3s": at most 3 characters, padded to 10).
// A text without placeholder comes back unchanged. A placeholder without an
// argument left for it, of another kind, or malformed raises EFormatError.
std::u16string FormatString(const std::u16string& Format, const std::u16string& Argument);
// The same with one integer argument, taken by "%d" (decimal), "%u"
// (unsigned decimal) or "%x" (upper-case hexadecimal); there the precision
// is the minimum number of digits.
std::u16string FormatInteger(const std::u16string& Format, int32_t Argument);

} // namespace keystrip
