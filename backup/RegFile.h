// The registry editor's text format (.reg, "Windows Registry Editor Version
// 5.00"): what a backup appends before a deletion, and what a restore reads
// back. Pure data and text; no registry calls.
//
// Writing never guesses: every value comes back with the same type and the
// same bytes, and a name the format cannot carry exactly (NUL, CR or LF in it,
// an empty key path part, an unknown root) is refused with ERegFileError, so
// that the caller can refuse to delete what it cannot back up.
//
// Reading checks the whole text before handing anything over; every problem
// is an ERegFileError with its 1-based line number.
#pragma once

#include "common/Errors.h"
#include "platform/Registry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace keystrip {

// The file's first line.
constexpr char16_t kRegFileHeader[] = u"Windows Registry Editor Version 5.00";
// The comment line right before a section that records a registry link. A
// comment, so that the registry editor reads the file as before.
constexpr char16_t kRegFileLinkMark[] = u"; registry link";

struct TRegFileValue {
    std::u16string Name; // empty for the key's default value
    uint32_t Type = platform::kRegNone;
    std::vector<uint8_t> Data;

    bool operator==(const TRegFileValue& other) const {
        return Name == other.Name && Type == other.Type && Data == other.Data;
    }
    bool operator!=(const TRegFileValue& other) const { return !(*this == other); }
};

struct TRegFileKey {
    // The full path with the root's full name, for example
    // u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Zolva\\Office".
    std::u16string Path;
    std::vector<TRegFileValue> Values; // in file order
    int Line = 0;                      // where the section starts (reader only)
    // Marked as a registry link: the writer puts kRegFileLinkMark on the line
    // before the section, and the reader sets this from it.
    bool Link = false;

    // A registry link is recorded as a marked section whose only value is
    // "SymbolicLinkValue" of type REG_LINK holding the target's kernel path
    // (\REGISTRY\MACHINE\...). An unmarked section of that shape is a plain
    // key that holds such a value (any user can make one under
    // HKEY_CURRENT_USER), and it stays one.
    bool IsLink() const;
    // Whether the values have the shape of a link's, marked or not.
    bool HasLinkShape() const;
    // The target of a link (its data as text); empty when !IsLink().
    std::u16string LinkTarget() const;
};

struct TRegFileDocument {
    std::vector<TRegFileKey> Keys;
};

// A text that is not a readable .reg file (Line() >= 1: "line N: what"), or
// a key or value the writer cannot represent (Line() == 0: just "what").
class ERegFileError : public EParseError {
public:
    ERegFileError(int line, const std::string& problem);
    int Line() const { return FLine; }
    // The message without its "line N: " prefix.
    const std::string& Problem() const { return FProblem; }

private:
    int FLine;
    std::string FProblem;
};

// --- Paths -------------------------------------------------------------------

// The full name of a root the format knows (HKEY_CLASSES_ROOT,
// HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG);
// empty for any other handle.
std::u16string RegFileRootName(platform::RegKey root);
// Splits u"HKEY_CURRENT_USER\\Software\\X" into the root and u"Software\\X".
// The root name is matched without regard to ASCII case. False (outputs
// untouched) for an unknown root or an empty part ("A\\\\B", a trailing
// backslash); a path that is only the root gives an empty relative path.
bool SplitRegFilePath(const std::u16string& path, platform::RegKey& root, std::u16string& relative);

// --- Writing -----------------------------------------------------------------
// Text with CR LF line ends, as UTF-16; EncodeRegFileText makes the bytes.

// The header line and the empty line after it: what a new file starts with.
std::u16string RegFileHeaderText();
// One value line (wrapped hex data included), with its CR LF.
std::u16string RegFileValueText(const TRegFileValue& value);
// "[path]", the value lines, and the empty line that ends the section; for a
// link, the link mark before it (a Link key of any other shape is refused).
std::u16string RegFileKeyText(const TRegFileKey& key);
// The header and every key.
std::u16string RegFileDocumentText(const TRegFileDocument& document);
// UTF-16LE bytes, with the byte order mark FF FE in front when asked (the
// start of a file; appended sections go without).
std::vector<uint8_t> EncodeRegFileText(const std::u16string& text, bool byteOrderMark);

// --- Reading -----------------------------------------------------------------

// The whole file's bytes: UTF-16LE with its byte order mark, the header line,
// then sections and values. Throws ERegFileError at the first problem.
TRegFileDocument ReadRegFile(const uint8_t* bytes, size_t size);
TRegFileDocument ReadRegFile(const std::vector<uint8_t>& bytes);

} // namespace keystrip
