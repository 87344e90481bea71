#include "backup/RegFile.h"

#include "common/TextCase.h"
#include "common/Utf.h"

#include <utility>

namespace keystrip {

namespace {

constexpr char16_t kCrLf[] = u"\r\n";
// The registry editor's own width for wrapped hex data: no line longer than
// this, the final backslash included.
constexpr size_t kLineWidth = 80;
// Texts quoted in messages are cut to this many code units.
constexpr size_t kShownUnits = 48;

struct TRootName {
    platform::RegKey Root;
    const char16_t* Name;
};

constexpr TRootName kRoots[] = {
    {platform::kHkeyClassesRoot, u"HKEY_CLASSES_ROOT"},
    {platform::kHkeyCurrentUser, u"HKEY_CURRENT_USER"},
    {platform::kHkeyLocalMachine, u"HKEY_LOCAL_MACHINE"},
    {platform::kHkeyUsers, u"HKEY_USERS"},
    {platform::kHkeyCurrentConfig, u"HKEY_CURRENT_CONFIG"},
};

const TRootName* FindRoot(const std::u16string& path) {
    const std::u16string name = path.substr(0, path.find(u'\\'));
    for (const TRootName& entry : kRoots) {
        if (AsciiSameText(name, entry.Name))
            return &entry;
    }
    return nullptr;
}

// Why SplitRegFilePath refuses a path.
std::string PathProblem(const std::u16string& path) {
    if (FindRoot(path) == nullptr)
        return "does not start with HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, "
               "HKEY_USERS or HKEY_CURRENT_CONFIG";
    return "has an empty name part (two backslashes in a row, or one at the end)";
}

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

bool IsHexDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

uint32_t HexDigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return c - u'A' + 10;
}

std::u16string Trimmed(const std::u16string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// A text for a message: UTF-8, control characters spelled out, cut short.
std::string Shown(const std::u16string& text) {
    std::u16string cut = text.substr(0, kShownUnits);
    std::u16string out;
    for (char16_t c : cut) {
        if (c == u'\0')
            out += u"\\0";
        else if (c == u'\r')
            out += u"\\r";
        else if (c == u'\n')
            out += u"\\n";
        else
            out += c;
    }
    std::string shown = "\"" + Utf16ToUtf8(out);
    if (text.size() > kShownUnits)
        shown += "...";
    return shown + "\"";
}

bool HasNulOrLineBreak(const std::u16string& text) {
    return text.find_first_of(u"\0\r\n", 0, 3) != std::u16string::npos;
}

constexpr char16_t kHexDigits[] = u"0123456789abcdef";

void AppendHexByte(std::u16string& text, uint8_t byte) {
    text.push_back(kHexDigits[byte >> 4]);
    text.push_back(kHexDigits[byte & 0xF]);
}

std::u16string LowerHex(uint32_t value) {
    std::u16string out;
    do {
        out.insert(out.begin(), kHexDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return out;
}

std::u16string Escaped(const std::u16string& text) {
    std::u16string out;
    out.reserve(text.size() + 2);
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"')
            out += u'\\';
        out += c;
    }
    return out;
}

char16_t UnitAt(const std::vector<uint8_t>& data, size_t index) {
    return static_cast<char16_t>(data[2 * index] | (data[2 * index + 1] << 8));
}

// A REG_SZ whose bytes the quoted form gives back exactly: whole UTF-16
// units, one NUL at the end and none before it, and no line break (the
// format is line based).
bool QuotedFormIsExact(const TRegFileValue& value) {
    if (value.Type != platform::kRegSz || value.Data.size() < 2 || value.Data.size() % 2 != 0)
        return false;
    const size_t units = value.Data.size() / 2;
    if (UnitAt(value.Data, units - 1) != u'\0')
        return false;
    for (size_t i = 0; i + 1 < units; ++i) {
        const char16_t c = UnitAt(value.Data, i);
        if (c == u'\0' || c == u'\r' || c == u'\n')
            return false;
    }
    return true;
}

std::u16string QuotedText(const std::vector<uint8_t>& data) {
    std::u16string text;
    for (size_t i = 0; i + 1 < data.size() / 2; ++i)
        text += UnitAt(data, i);
    return text;
}

void CheckKeyPath(const std::u16string& path) {
    if (HasNulOrLineBreak(path))
        throw ERegFileError(0, "the key " + Shown(path) +
                                   " cannot be written: its name holds a NUL or a line break");
    platform::RegKey root = 0;
    std::u16string relative;
    if (!SplitRegFilePath(path, root, relative))
        throw ERegFileError(0, "the key " + Shown(path) + " cannot be written: it " +
                                   PathProblem(path));
}

// --- Reading -----------------------------------------------------------------

struct TLine {
    size_t Begin;
    size_t Length;
};

class TRegFileReader {
public:
    TRegFileReader(const uint8_t* bytes, size_t size) {
        if (size < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE)
            throw ERegFileError(1, "the file is not UTF-16LE text with a byte order mark "
                                   "(FF FE)");
        FText.resize((size - 2) / 2);
        for (size_t i = 0; i < FText.size(); ++i)
            FText[i] = static_cast<char16_t>(bytes[2 + 2 * i] | (bytes[3 + 2 * i] << 8));
        SplitLines();
        if (size % 2 != 0) {
            // The stray byte sits after the last line break.
            const bool broken = !FText.empty() && (FText.back() == u'\r' || FText.back() == u'\n');
            throw ERegFileError(static_cast<int>(FLines.size() + (broken ? 1 : 0)),
                                "the file ends in the middle of a character");
        }
    }

    TRegFileDocument Read() {
        CheckHeader();
        TRegFileDocument document;
        int linkMark = 0; // the line of a link mark waiting for its section
        for (FNext = 1; FNext < FLines.size();) {
            const int number = static_cast<int>(FNext) + 1;
            const std::u16string line = Trimmed(LineText(FNext++));
            if (linkMark != 0 && (line.empty() || line[0] != u'['))
                throw ERegFileError(linkMark, "the link mark is not followed directly by the "
                                              "[key] section of the link");
            if (line == kRegFileLinkMark) {
                linkMark = number;
                continue;
            }
            if (line.empty() || line[0] == u';')
                continue;
            if (line[0] == u'[') {
                document.Keys.push_back(ReadSection(line, number));
                document.Keys.back().Link = linkMark != 0;
                linkMark = 0;
            } else if (line[0] == u'@' || line[0] == u'"') {
                if (document.Keys.empty())
                    throw ERegFileError(number, "a value comes before the first [key] section");
                document.Keys.back().Values.push_back(ReadValue(line, number));
            } else {
                throw ERegFileError(number, "the line " + Shown(line) +
                                                " is neither a [key] section, a value nor a "
                                                "; comment");
            }
        }
        if (linkMark != 0)
            throw ERegFileError(linkMark, "the link mark is not followed directly by the "
                                          "[key] section of the link");
        for (const TRegFileKey& key : document.Keys) {
            if (key.Link && !key.HasLinkShape())
                throw ERegFileError(key.Line, "the link " + Shown(key.Path) +
                                                  " holds more or other than its one "
                                                  "\"SymbolicLinkValue\" of type REG_LINK");
        }
        return document;
    }

private:
    void SplitLines() {
        size_t start = 0;
        size_t i = 0;
        while (i < FText.size()) {
            const char16_t c = FText[i];
            if (c == u'\r' || c == u'\n') {
                FLines.push_back({start, i - start});
                if (c == u'\r' && i + 1 < FText.size() && FText[i + 1] == u'\n')
                    ++i;
                start = ++i;
            } else {
                ++i;
            }
        }
        if (start < FText.size() || FLines.empty())
            FLines.push_back({start, FText.size() - start});
    }

    std::u16string LineText(size_t index) const {
        const TLine& line = FLines[index];
        std::u16string text = FText.substr(line.Begin, line.Length);
        if (text.find(u'\0') != std::u16string::npos)
            throw ERegFileError(static_cast<int>(index) + 1, "the line holds a NUL character");
        return text;
    }

    void CheckHeader() const {
        std::u16string first = LineText(0);
        while (!first.empty() && IsBlank(first.back()))
            first.pop_back();
        if (first != kRegFileHeader)
            throw ERegFileError(1, "the file does not start with the line \"" +
                                       Utf16ToUtf8(kRegFileHeader) + "\"");
    }

    static TRegFileKey ReadSection(const std::u16string& line, int number) {
        const size_t close = line.rfind(u']');
        if (close == std::u16string::npos)
            throw ERegFileError(number, "the section " + Shown(line) + " has no closing ]");
        if (close + 1 != line.size())
            throw ERegFileError(number,
                                "the section " + Shown(line) + " has text after its closing ]");
        TRegFileKey key;
        key.Path = line.substr(1, close - 1);
        key.Line = number;
        if (!key.Path.empty() && key.Path[0] == u'-')
            throw ERegFileError(number, "the section " + Shown(line) +
                                            " deletes a key, which a backup never does");
        platform::RegKey root = 0;
        std::u16string relative;
        if (!SplitRegFilePath(key.Path, root, relative))
            throw ERegFileError(number, "the key " + Shown(key.Path) + " " + PathProblem(key.Path));
        return key;
    }

    // A quoted text from text[pos] (just after the opening quote); pos ends
    // just after the closing quote.
    static bool Unquote(const std::u16string& text, size_t& pos, std::u16string& out,
                        std::string& problem) {
        while (pos < text.size()) {
            const char16_t c = text[pos++];
            if (c == u'"')
                return true;
            if (c == u'\\') {
                if (pos >= text.size())
                    break;
                const char16_t next = text[pos++];
                if (next != u'\\' && next != u'"') {
                    problem = "has the unknown escape \\" + Utf16ToUtf8(std::u16string(1, next));
                    return false;
                }
                out += next;
            } else {
                out += c;
            }
        }
        problem = "has no closing quote";
        return false;
    }

    // After the data: only blanks and a ; comment may follow.
    static bool OnlyCommentFrom(const std::u16string& text, size_t pos) {
        while (pos < text.size() && IsBlank(text[pos]))
            ++pos;
        return pos == text.size() || text[pos] == u';';
    }

    TRegFileValue ReadValue(const std::u16string& line, int number) {
        TRegFileValue value;
        size_t pos = 1;
        if (line[0] == u'"') {
            std::string problem;
            if (!Unquote(line, pos, value.Name, problem))
                throw ERegFileError(number, "the value name in " + Shown(line) + " " + problem);
        }
        while (pos < line.size() && IsBlank(line[pos]))
            ++pos;
        if (pos >= line.size() || line[pos] != u'=')
            throw ERegFileError(number,
                                "the value name in " + Shown(line) + " is not followed by =");
        ++pos;
        while (pos < line.size() && IsBlank(line[pos]))
            ++pos;
        const std::u16string data = line.substr(pos);

        if (data.empty())
            throw ERegFileError(number, "the value " + Shown(line) + " has no data");
        if (data[0] == u'-')
            throw ERegFileError(number, "the value " + Shown(line) +
                                            " deletes a value (=-), which a backup never does");
        if (data[0] == u'"') {
            ReadQuotedData(data, number, value);
        } else if (data.compare(0, 6, u"dword:") == 0) {
            ReadDword(data, number, value);
        } else if (data.compare(0, 4, u"hex:") == 0) {
            value.Type = platform::kRegBinary;
            ReadHexData(data, 4, number, value);
        } else if (data.compare(0, 4, u"hex(") == 0) {
            size_t end = 4;
            uint32_t type = 0;
            while (end < data.size() && end < 12 && IsHexDigit(data[end]))
                type = (type << 4) | HexDigitValue(data[end++]);
            if (end == 4 || data.compare(end, 2, u"):") != 0)
                throw ERegFileError(number, "the value type in " + Shown(data) +
                                                " is not hex(N): with N of 1 to 8 hex digits");
            value.Type = type;
            ReadHexData(data, end + 2, number, value);
        } else {
            throw ERegFileError(number, "the value data " + Shown(data) +
                                            " has an unknown form (not \"text\", dword:, hex: "
                                            "or hex(N):)");
        }
        return value;
    }

    static void ReadQuotedData(const std::u16string& data, int number, TRegFileValue& value) {
        size_t pos = 1;
        std::u16string text;
        std::string problem;
        if (!Unquote(data, pos, text, problem))
            throw ERegFileError(number, "the value data " + Shown(data) + " " + problem);
        if (!OnlyCommentFrom(data, pos))
            throw ERegFileError(number, "the value data " + Shown(data) +
                                            " has text after its closing quote");
        value.Type = platform::kRegSz;
        value.Data.reserve(2 * text.size() + 2);
        for (char16_t c : text) {
            value.Data.push_back(static_cast<uint8_t>(c & 0xFF));
            value.Data.push_back(static_cast<uint8_t>(c >> 8));
        }
        value.Data.push_back(0);
        value.Data.push_back(0);
    }

    static void ReadDword(const std::u16string& data, int number, TRegFileValue& value) {
        size_t pos = 6;
        uint32_t dword = 0;
        while (pos < data.size() && IsHexDigit(data[pos]) && pos < 14)
            dword = (dword << 4) | HexDigitValue(data[pos++]);
        if (pos == 6 || !OnlyCommentFrom(data, pos))
            throw ERegFileError(number, "the value data " + Shown(data) +
                                            " is not a dword of 1 to 8 hex digits");
        value.Type = platform::kRegDword;
        value.Data = {static_cast<uint8_t>(dword), static_cast<uint8_t>(dword >> 8),
                      static_cast<uint8_t>(dword >> 16), static_cast<uint8_t>(dword >> 24)};
    }

    // Comma-separated pairs of hex digits from data[start], continued on the
    // next lines while a line ends with a backslash (; comment lines in
    // between are skipped, as the registry editor does).
    void ReadHexData(const std::u16string& data, size_t start, int number, TRegFileValue& value) {
        const std::u16string form = data.substr(0, start);
        std::u16string segment = data.substr(start);
        int segmentLine = number;
        for (;;) {
            segment = Trimmed(segment.substr(0, segment.find(u';')));
            const bool continued = !segment.empty() && segment.back() == u'\\';
            if (continued) {
                segment.pop_back();
                segment = Trimmed(segment);
                if (!segment.empty() && segment.back() != u',')
                    throw ERegFileError(segmentLine, "the value data " + Shown(form + segment) +
                                                         " is continued without a comma before "
                                                         "the backslash");
                if (!segment.empty())
                    segment.pop_back();
            }
            ReadHexBytes(form, segment, segmentLine, value.Data);
            if (!continued)
                return;
            for (;;) {
                if (FNext >= FLines.size())
                    throw ERegFileError(segmentLine, "the value data " + Shown(form) +
                                                         " is continued past the end of the file");
                segmentLine = static_cast<int>(FNext) + 1;
                segment = Trimmed(LineText(FNext++));
                if (segment.empty())
                    throw ERegFileError(segmentLine, "the value data " + Shown(form) +
                                                         " is continued by an empty line");
                if (segment[0] != u';')
                    break;
            }
        }
    }

    static void ReadHexBytes(const std::u16string& form, const std::u16string& text, int number,
                             std::vector<uint8_t>& out) {
        if (text.empty())
            return;
        size_t pos = 0;
        for (;;) {
            const size_t comma = text.find(u',', pos);
            const size_t end = comma == std::u16string::npos ? text.size() : comma;
            const std::u16string token = Trimmed(text.substr(pos, end - pos));
            if (token.size() != 2 || !IsHexDigit(token[0]) || !IsHexDigit(token[1]))
                throw ERegFileError(number, "the value data " + Shown(form + text) +
                                                " is not hexadecimal (at " + Shown(token) + ")");
            out.push_back(
                static_cast<uint8_t>(HexDigitValue(token[0]) << 4 | HexDigitValue(token[1])));
            if (comma == std::u16string::npos)
                return;
            pos = comma + 1;
        }
    }

    std::u16string FText;
    std::vector<TLine> FLines;
    size_t FNext = 0;
};

} // namespace

ERegFileError::ERegFileError(int line, const std::string& problem)
    : EParseError(line > 0 ? "line " + std::to_string(line) + ": " + problem : problem),
      FLine(line), FProblem(problem) {}

bool TRegFileKey::IsLink() const {
    return Link && HasLinkShape();
}

bool TRegFileKey::HasLinkShape() const {
    return Values.size() == 1 && Values[0].Type == platform::kRegLink &&
           AsciiSameText(Values[0].Name, platform::kSymbolicLinkValueName);
}

std::u16string TRegFileKey::LinkTarget() const {
    if (!IsLink())
        return std::u16string();
    const std::vector<uint8_t>& data = Values[0].Data;
    std::u16string target;
    for (size_t i = 0; i < data.size() / 2; ++i)
        target += UnitAt(data, i);
    return target;
}

std::u16string RegFileRootName(platform::RegKey root) {
    for (const TRootName& entry : kRoots) {
        if (entry.Root == root)
            return entry.Name;
    }
    return std::u16string();
}

bool SplitRegFilePath(const std::u16string& path, platform::RegKey& root,
                      std::u16string& relative) {
    const TRootName* found = FindRoot(path);
    if (found == nullptr)
        return false;
    const size_t slash = path.find(u'\\');
    std::u16string rest = slash == std::u16string::npos ? u"" : path.substr(slash + 1);
    if (slash != std::u16string::npos) {
        // Every part between backslashes must have a name.
        size_t start = 0;
        for (;;) {
            const size_t next = rest.find(u'\\', start);
            if (next == start || start == rest.size())
                return false;
            if (next == std::u16string::npos)
                break;
            start = next + 1;
        }
    }
    root = found->Root;
    relative = std::move(rest);
    return true;
}

std::u16string RegFileHeaderText() {
    return std::u16string(kRegFileHeader) + kCrLf + kCrLf;
}

std::u16string RegFileValueText(const TRegFileValue& value) {
    if (HasNulOrLineBreak(value.Name))
        throw ERegFileError(0, "the value " + Shown(value.Name) +
                                   " cannot be written: its name holds a NUL or a line break");
    std::u16string line = value.Name.empty() ? u"@" : u"\"" + Escaped(value.Name) + u"\"";
    line += u'=';
    if (QuotedFormIsExact(value))
        return line + u"\"" + Escaped(QuotedText(value.Data)) + u"\"" + kCrLf;
    if (value.Type == platform::kRegDword && value.Data.size() == 4) {
        std::u16string digits = LowerHex(static_cast<uint32_t>(value.Data[0]) |
                                         static_cast<uint32_t>(value.Data[1]) << 8 |
                                         static_cast<uint32_t>(value.Data[2]) << 16 |
                                         static_cast<uint32_t>(value.Data[3]) << 24);
        return line + u"dword:" + std::u16string(8 - digits.size(), u'0') + digits + kCrLf;
    }
    line += value.Type == platform::kRegBinary ? u"hex:" : u"hex(" + LowerHex(value.Type) + u"):";
    // Wrapped like the registry editor: a line ends after a comma with a
    // backslash once the next byte would not fit, and goes on indented by two.
    std::u16string text;
    // Three characters a byte, and five more for each wrap (25 bytes a line).
    text.reserve(line.size() + value.Data.size() * 3 + value.Data.size() / 4 + 8);
    size_t lineStart = 0;
    text += line;
    for (size_t i = 0; i < value.Data.size(); ++i) {
        AppendHexByte(text, value.Data[i]);
        if (i + 1 == value.Data.size())
            break;
        text += u',';
        // Room for "xx," and the backslash?
        if (text.size() - lineStart + 4 > kLineWidth) {
            text += u"\\\r\n";
            lineStart = text.size();
            text += u"  ";
        }
    }
    text += kCrLf;
    return text;
}

std::u16string RegFileKeyText(const TRegFileKey& key) {
    CheckKeyPath(key.Path);
    if (key.Link && !key.HasLinkShape())
        throw ERegFileError(0, "the link " + Shown(key.Path) +
                                   " cannot be written: a link holds its one "
                                   "\"SymbolicLinkValue\" of type REG_LINK and nothing else");
    std::u16string text = key.Link ? std::u16string(kRegFileLinkMark) + kCrLf : u"";
    text += u"[" + key.Path + u"]" + kCrLf;
    for (const TRegFileValue& value : key.Values)
        text += RegFileValueText(value);
    text += kCrLf;
    return text;
}

std::u16string RegFileDocumentText(const TRegFileDocument& document) {
    std::u16string text = RegFileHeaderText();
    for (const TRegFileKey& key : document.Keys)
        text += RegFileKeyText(key);
    return text;
}

std::vector<uint8_t> EncodeRegFileText(const std::u16string& text, bool byteOrderMark) {
    const size_t start = byteOrderMark ? 2 : 0;
    std::vector<uint8_t> bytes(start + text.size() * 2);
    if (byteOrderMark) {
        bytes[0] = 0xFF;
        bytes[1] = 0xFE;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        bytes[start + 2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
        bytes[start + 2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
    }
    return bytes;
}

TRegFileDocument ReadRegFile(const uint8_t* bytes, size_t size) {
    return TRegFileReader(bytes, size).Read();
}

TRegFileDocument ReadRegFile(const std::vector<uint8_t>& bytes) {
    return ReadRegFile(bytes.data(), bytes.size());
}

} // namespace keystrip
