#include "backup/BackupProvenance.h"

#include "common/Utf.h"
#include "platform/SystemInfo.h"

#include <algorithm>

namespace keystrip {

namespace {

constexpr char16_t kIdPrefix[] = u"; Zolva Keystrip backup ";
constexpr char16_t kWrittenOn[] = u" written on ";
constexpr char16_t kPartEnd[] = u"; end of part ";
constexpr size_t kIdUnits = 32;

std::vector<uint8_t> Units(const std::u16string& text) {
    return EncodeRegFileText(text, false);
}

char16_t UnitAt(const std::vector<uint8_t>& bytes, size_t offset) {
    return static_cast<char16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

// The first place at or after from (even) where pattern starts on a whole unit.
size_t FindUnits(const std::vector<uint8_t>& bytes, size_t from,
                 const std::vector<uint8_t>& pattern) {
    for (auto at = bytes.begin() + static_cast<std::ptrdiff_t>(from);;) {
        at = std::search(at, bytes.end(), pattern.begin(), pattern.end());
        if (at == bytes.end())
            return std::u16string::npos;
        const auto offset = static_cast<size_t>(at - bytes.begin());
        if (offset % 2 == 0)
            return offset;
        ++at;
    }
}

// The line an offset falls on, counted from 1 after the byte order mark.
int LineAt(const std::vector<uint8_t>& bytes, size_t offset) {
    int line = 1;
    for (size_t i = 2; i + 1 < offset && i + 1 < bytes.size(); i += 2)
        if (UnitAt(bytes, i) == u'\n')
            ++line;
    return line;
}

bool IsIdUnit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
}

struct TStart {
    std::u16string Id;
    std::u16string Computer; // as the file says: only for messages
    size_t End = 0;          // where the first part begins
};

TStart ReadStart(const std::vector<uint8_t>& bytes) {
    const std::vector<uint8_t> head = EncodeRegFileText(RegFileHeaderText() + kIdPrefix, true);
    const auto refuse = [] {
        throw EBackupRefused("the file does not begin as this program's backups do (the line "
                             "after the header names no backup): it is another file, or a "
                             "backup written by an older version, which cannot be proved "
                             "whole and unchanged");
    };
    if (bytes.size() < head.size() + 2 * kIdUnits ||
        !std::equal(head.begin(), head.end(), bytes.begin()))
        refuse();
    TStart start;
    size_t at = head.size();
    for (size_t i = 0; i < kIdUnits; ++i, at += 2) {
        const char16_t c = UnitAt(bytes, at);
        if (!IsIdUnit(c))
            refuse();
        start.Id += c;
    }
    const size_t lineEnd = FindUnits(bytes, at, Units(u"\r\n\r\n"));
    if (lineEnd == std::u16string::npos)
        refuse();
    std::u16string rest;
    for (; at < lineEnd; at += 2)
        rest += UnitAt(bytes, at);
    const std::u16string writtenOn = kWrittenOn;
    if (!rest.empty() && rest.compare(0, writtenOn.size(), writtenOn) != 0)
        refuse();
    if (!rest.empty())
        start.Computer = rest.substr(writtenOn.size());
    start.End = lineEnd + 8;
    return start;
}

std::u16string Text(const std::string& text) {
    return Utf8ToUtf16(text);
}

// The first part-end marker line at or after from: its number (0 when there
// is none, or its number is cut off) and where its line begins.
uint32_t NextMarker(const std::vector<uint8_t>& bytes, size_t from, size_t& line) {
    const size_t found = FindUnits(bytes, from, Units(u"\r\n" + std::u16string(kPartEnd)));
    if (found == std::u16string::npos)
        return 0;
    line = found + 4;
    uint64_t number = 0;
    size_t at = found + 2 * (2 + std::char_traits<char16_t>::length(kPartEnd));
    for (; at + 1 < bytes.size() && number < 0x100000000u; at += 2) {
        const char16_t c = UnitAt(bytes, at);
        if (c < u'0' || c > u'9')
            break;
        number = number * 10 + (c - u'0');
    }
    return number < 0x100000000u ? static_cast<uint32_t>(number) : 0;
}

// Where the whole end of part Part (its marker line and the empty line)
// ends, when it begins at line.
size_t PartEndsAt(size_t line, uint32_t part) {
    return line + 2 * BackupPartEndText(part).size();
}

} // namespace

std::u16string NewBackupId() {
    static const char16_t kDigits[] = u"0123456789abcdef";
    std::u16string id;
    for (uint8_t byte : platform::RandomBytes(kIdUnits / 2)) {
        id += kDigits[byte >> 4];
        id += kDigits[byte & 15];
    }
    return id;
}

std::u16string BackupStartText(const std::u16string& Id, const std::u16string& Computer) {
    std::u16string name;
    for (char16_t c : Computer)
        if (c != u'\r' && c != u'\n' && c != u'\0')
            name += c;
    std::u16string text = RegFileHeaderText() + kIdPrefix + Id;
    if (!name.empty())
        text += kWrittenOn + name;
    return text + u"\r\n\r\n";
}

std::u16string BackupPartEndText(uint32_t Part) {
    return kPartEnd + Text(std::to_string(Part)) + u"\r\n\r\n";
}

TSha256Digest ChainedDigest(const TSha256Digest& Before, const std::vector<uint8_t>& Part) {
    TSha256 hash;
    hash.Add(Before.data(), Before.size());
    hash.Add(Part);
    return hash.Finish();
}

TVerifiedBackup VerifyBackup(const std::vector<uint8_t>& Bytes, IBackupLedger& Ledger) {
    const TStart start = ReadStart(Bytes);
    const std::vector<TSha256Digest> recorded = Ledger.Recorded(start.Id);
    const std::string id = Utf16ToUtf8(start.Id);
    if (recorded.empty())
        throw EBackupRefused(
            "this computer holds no record of the backup " + id +
            (start.Computer.empty()
                 ? std::string()
                 : " (the file says it was written on " + Utf16ToUtf8(start.Computer) + ")") +
            ": only a backup this computer wrote can be restored; import another one "
            "deliberately with reg import after reading it");
    if (Sha256({Bytes.begin(), Bytes.begin() + static_cast<std::ptrdiff_t>(start.End)}) !=
        recorded[0])
        throw EBackupRefused("the start of the backup " + id +
                             " has been changed since it was "
                             "written");

    TVerifiedBackup verified;
    TSha256Digest digest = recorded[0];
    size_t offset = start.End;
    const auto parts = static_cast<uint32_t>(recorded.size() - 1);
    for (uint32_t part = 1; part <= parts; ++part) {
        // A marker line follows the part's sections, so it begins a line.
        const size_t found = FindUnits(Bytes, offset, Units(u"\r\n" + BackupPartEndText(part)));
        if (found == std::u16string::npos) {
            // Cut short: what is left is part of this part at most.
            size_t line = 0;
            const uint32_t later = NextMarker(Bytes, offset, line);
            if (later != 0 && later != part)
                throw EBackupRefused("part " + std::to_string(part) + " of the backup " + id +
                                     " is missing, but part " + std::to_string(later) +
                                     " is there: the file has been changed since it was "
                                     "written");
            verified.Incomplete = true;
            verified.Notes.push_back(
                Text("the file has been cut short: ") +
                (part == parts ? Text("part " + std::to_string(part) + " is")
                               : Text("parts " + std::to_string(part) + " to " +
                                      std::to_string(parts) + " are")) +
                Text(" missing, which this computer recorded; what " +
                     std::string(part == parts ? "it" : "they") + " held cannot be restored"));
            break;
        }
        const size_t end = PartEndsAt(found + 4, part);
        const std::vector<uint8_t> bytes(Bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                         Bytes.begin() + static_cast<std::ptrdiff_t>(end));
        digest = ChainedDigest(digest, bytes);
        if (digest != recorded[part])
            throw EBackupRefused("part " + std::to_string(part) + " of the backup " + id +
                                 " (from line " + std::to_string(LineAt(Bytes, offset)) +
                                 ") has been changed since it was written");
        offset = end;
    }
    if (!verified.Incomplete && offset < Bytes.size()) {
        // What follows the last recorded part: the next part, written in part
        // or in full when the run stopped or could not record it. Nothing of
        // it was deleted. A backup never goes on after such a part.
        const uint32_t next = parts + 1;
        size_t line = 0;
        const uint32_t marker = NextMarker(Bytes, offset, line);
        if ((marker != 0 && marker != next) ||
            (marker == next && PartEndsAt(line, next) < Bytes.size()))
            throw EBackupRefused("the backup " + id + " goes on after its last recorded part (" +
                                 std::to_string(parts) +
                                 ") with more than one part: it has "
                                 "been changed since it was written");
        verified.Notes.push_back(Text("part " + std::to_string(next) +
                                      " at the end of the file was never recorded as written "
                                      "whole; nothing of it was deleted, and it is not restored"));
    }
    try {
        verified.Document = ReadRegFile(Bytes.data(), offset);
    } catch (const ERegFileError& e) {
        throw EBackupRefused(e.what());
    }
    return verified;
}

} // namespace keystrip
