#include "app/InterfaceTexts.h"

#include "common/Errors.h"
#include "common/TextLines.h"
#include "common/Utf.h"
#include "platform/LocaleText.h"
#include "platform/TextDecoding.h"

#include <memory>
#include <utility>

namespace keystrip {

namespace {

bool IsTrimmed(char16_t c) {
    return c <= 32;
}

std::u16string Trim(const std::u16string& text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && IsTrimmed(text[first]))
        ++first;
    while (last > first && IsTrimmed(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

// The key of a stored entry: what stands before its first "=". Entries
// without "=" have none.
bool EntryKey(const std::u16string& entry, std::u16string& key) {
    const size_t eq = entry.find(u'=');
    if (eq == std::u16string::npos)
        return false;
    key = entry.substr(0, eq);
    return true;
}

} // namespace

void TInterfaceTexts::SetStrings(const std::vector<std::u16string>& Lines) {
    FSections.Clear();
    TSection* current = nullptr;
    for (const auto& raw : Lines) {
        const std::u16string line = Trim(raw);
        if (line.empty() || line[0] == u';')
            continue;
        if (line.size() >= 2 && line.front() == u'[' && line.back() == u']') {
            auto section = std::make_unique<TSection>();
            section->Name = Trim(line.substr(1, line.size() - 2));
            section->UpperName = platform::SystemLocaleUpper(section->Name);
            current = FSections.Add(std::move(section));
            continue;
        }
        if (current == nullptr)
            continue;
        const size_t eq = line.find(u'=');
        if (eq == std::u16string::npos)
            current->Entries.push_back(line);
        else
            current->Entries.push_back(Trim(line.substr(0, eq)) + u"=" + Trim(line.substr(eq + 1)));
    }
}

std::u16string TInterfaceTexts::ReadString(const std::u16string& Section,
                                           const std::u16string& Ident,
                                           const std::u16string& Default) const {
    const std::u16string wantedSection = platform::SystemLocaleUpper(Section);
    for (int i = 0; i < FSections.Count(); ++i) {
        const TSection* section = FSections.Get(i);
        if (section->UpperName != wantedSection)
            continue;
        // Only the first section of that name is searched.
        const std::u16string wantedKey = platform::SystemLocaleUpper(Ident);
        std::u16string key;
        for (const auto& entry : section->Entries)
            if (EntryKey(entry, key) && platform::SystemLocaleUpper(key) == wantedKey)
                return entry.substr(key.size() + 1);
        return Default;
    }
    return Default;
}

void TInterfaceTexts::LoadFromBytes(const std::vector<uint8_t>& Bytes) {
    SetStrings(SplitLines(platform::DecodeText(Bytes)));
}

void TInterfaceTexts::LoadFromStream(platform::ByteStream& Stream) {
    LoadFromBytes(Stream.ReadToEnd());
}

bool TInterfaceTexts::LoadFromResources(const platform::IResourceSource& Resources) {
    std::unique_ptr<platform::ByteStream> stream = Resources.Open(kInterfaceTextsResource);
    if (!stream)
        return false;
    LoadFromStream(*stream);
    return true;
}

// --- Formatting with one argument ------------------------------------------

namespace {

// Widths and precisions above this are refused rather than allocated.
constexpr unsigned kMaxFieldSize = 65535;

struct TFormatArgument {
    bool IsInteger;
    std::u16string Text;
    int32_t Number;
};

[[noreturn]] void FormatFailure(const std::u16string& format) {
    throw EFormatError("Format \"" + Utf16ToUtf8(format) + "\" does not fit its argument");
}

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Digits at pos as a number; fails the format when they are too many.
unsigned ReadNumber(const std::u16string& format, size_t& pos) {
    unsigned value = 0;
    while (pos < format.size() && IsDigit(format[pos])) {
        value = value * 10 + static_cast<unsigned>(format[pos] - u'0');
        if (value > kMaxFieldSize)
            FormatFailure(format);
        ++pos;
    }
    return value;
}

std::u16string Digits(uint32_t value, unsigned base) {
    static const char16_t kDigits[] = u"0123456789ABCDEF";
    std::u16string out;
    do {
        out.insert(out.begin(), kDigits[value % base]);
        value /= base;
    } while (value != 0);
    return out;
}

// Precision for integers is the minimum number of digits.
std::u16string FormatNumber(char16_t kind, int32_t number, bool hasPrecision, unsigned precision) {
    const bool negative = kind == u'd' && number < 0;
    const uint32_t magnitude =
        negative ? 0u - static_cast<uint32_t>(number) : static_cast<uint32_t>(number);
    std::u16string digits = Digits(magnitude, kind == u'x' ? 16 : 10);
    if (hasPrecision && digits.size() < precision)
        digits.insert(0, precision - digits.size(), u'0');
    return negative ? u"-" + digits : digits;
}

// At most precision characters, without cutting a surrogate pair in half.
std::u16string Truncate(const std::u16string& text, unsigned precision) {
    if (text.size() <= precision)
        return text;
    size_t keep = precision;
    if (keep > 0 && text[keep - 1] >= 0xD800 && text[keep - 1] <= 0xDBFF && text[keep] >= 0xDC00 &&
        text[keep] <= 0xDFFF)
        --keep;
    return text.substr(0, keep);
}

std::u16string FormatWith(const std::u16string& format, const TFormatArgument& argument) {
    std::u16string out;
    const size_t n = format.size();
    size_t pos = 0;
    unsigned nextIndex = 0;
    while (pos < n) {
        const char16_t c = format[pos++];
        if (c != u'%') {
            out += c;
            continue;
        }
        if (pos < n && format[pos] == u'%') {
            out += u'%';
            ++pos;
            continue;
        }
        // "*" would take a width from the argument list, which holds only the
        // one argument the placeholder itself needs.
        unsigned index = nextIndex;
        const size_t start = pos;
        const unsigned number = ReadNumber(format, pos);
        if (pos > start && pos < n && format[pos] == u':') {
            index = number;
            ++pos;
        } else {
            pos = start;
        }
        bool left = false;
        if (pos < n && format[pos] == u'-') {
            left = true;
            ++pos;
        }
        const unsigned width = ReadNumber(format, pos);
        bool hasPrecision = false;
        unsigned precision = 0;
        if (pos < n && format[pos] == u'.') {
            ++pos;
            hasPrecision = true;
            precision = ReadNumber(format, pos);
        }
        if (pos >= n)
            FormatFailure(format);
        char16_t kind = format[pos++];
        if (kind >= u'A' && kind <= u'Z')
            kind = static_cast<char16_t>(kind - u'A' + u'a');
        if (index != 0)
            FormatFailure(format);
        nextIndex = index + 1;

        std::u16string field;
        if (kind == u's' && !argument.IsInteger)
            field = hasPrecision ? Truncate(argument.Text, precision) : argument.Text;
        else if ((kind == u'd' || kind == u'u' || kind == u'x') && argument.IsInteger)
            field = FormatNumber(kind, argument.Number, hasPrecision, precision);
        else
            FormatFailure(format);

        if (field.size() < width) {
            const std::u16string pad(width - field.size(), u' ');
            field.insert(left ? field.size() : 0, pad);
        }
        out += field;
    }
    return out;
}

} // namespace

std::u16string FormatString(const std::u16string& Format, const std::u16string& Argument) {
    return FormatWith(Format, TFormatArgument{false, Argument, 0});
}

std::u16string FormatInteger(const std::u16string& Format, int32_t Argument) {
    return FormatWith(Format, TFormatArgument{true, {}, Argument});
}

} // namespace keystrip
