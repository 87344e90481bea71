#include "definitions/ZolvaProduct.h"

#include "common/Errors.h"
#include "common/TextCase.h"
#include "common/TextLines.h"
#include "common/Utf.h"
#include "platform/Files.h"
#include "platform/TextDecoding.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <initializer_list>
#include <memory>

namespace keystrip {

namespace {

using Json = nlohmann::json;

constexpr const char16_t* kRootKeyTexts[] = {
    u"HKEY_CLASSES_ROOT",     u"HKEY_CURRENT_USER",   u"HKEY_LOCAL_MACHINE", u"HKEY_USERS",
    u"HKEY_PERFORMANCE_DATA", u"HKEY_CURRENT_CONFIG", u"HKEY_DYN_DATA"};
constexpr const char16_t* kDetectActionTexts[] = {u"KeyExist", u"NameExist", u"NameMatchValue"};
constexpr const char16_t* kRemoveActionTexts[] = {u"CompleteKey", u"NameOnly"};

// Real definitions nest three levels deep. The bound keeps a hostile document
// from exhausting the stack in the library's recursive dump and teardown.
constexpr int kMaxNesting = 256;

template <size_t N>
std::u16string OrdinalToText(const char16_t* const (&texts)[N], unsigned value) {
    return value < N ? texts[value] : texts[0];
}

// The first member whose text equals the input, ASCII case folded; else ordinal 0.
template <size_t N>
unsigned TextToOrdinal(const char16_t* const (&texts)[N], const std::u16string& text) {
    for (unsigned i = 0; i < N; ++i)
        if (AsciiSameText(texts[i], text))
            return i;
    return 0;
}

int32_t LowBits(uint32_t value) {
    return value <= 0x7FFFFFFFu ? static_cast<int32_t>(value)
                                : static_cast<int32_t>(static_cast<int64_t>(value) - 0x100000000LL);
}

// The nearest integer, a half going to the even neighbour, reduced to its low 32 bits.
int32_t VersionFromDouble(double x) {
    if (!std::isfinite(x))
        return 0;
    const double down = std::floor(x);
    const double fraction = x - down; // exact for every finite double
    double rounded = down;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(down, 2.0) != 0.0))
        rounded = down + 1.0;
    double low = std::fmod(rounded, 4294967296.0); // exact, keeps the sign
    if (low < 0)
        low += 4294967296.0;
    return LowBits(static_cast<uint32_t>(low));
}

// An optional sign and decimal digits, nothing else; larger numbers keep their low 32 bits.
int32_t VersionFromString(const std::string& text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    if (i == text.size())
        return 0;
    uint32_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return 0;
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
    }
    return LowBits(negative ? 0u - value : value);
}

int32_t ReadVersion(const Json& document) {
    if (!document.is_object())
        return 0;
    const auto it = document.find("version");
    if (it == document.end())
        return 0;
    switch (it->type()) {
    case Json::value_t::number_integer:
        return LowBits(static_cast<uint32_t>(it->get<int64_t>()));
    case Json::value_t::number_unsigned:
        return LowBits(static_cast<uint32_t>(it->get<uint64_t>()));
    case Json::value_t::number_float:
        return VersionFromDouble(it->get<double>());
    case Json::value_t::boolean:
        return it->get<bool>() ? 1 : 0;
    case Json::value_t::string:
        return VersionFromString(it->get_ref<const std::string&>());
    default:
        return 0;
    }
}

// A string member's text; any other value reads as its compact JSON text.
std::u16string ReadText(const Json& object, const char* name) {
    if (!object.is_object())
        return {};
    const auto it = object.find(name);
    if (it == object.end())
        return {};
    if (it->is_string())
        return Utf8ToUtf16(it->get_ref<const std::string&>());
    return Utf8ToUtf16(it->dump());
}

// The member holding a rule list; absence makes the document unreadable.
const Json& RuleList(const Json& document, const char* name) {
    if (document.is_object()) {
        const auto it = document.find(name);
        if (it != document.end())
            return *it;
    }
    throw EParseError(std::string("The product definition has no \"") + name + "\" member.");
}

// Iterating a primitive value would visit the value itself, so only arrays
// and objects hold rules (an object's values in the library's key order).
bool HoldsRules(const Json& list) {
    return list.is_array() || list.is_object();
}

bool IsWellFormedUtf16(const std::u16string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

// Whether no array or object lies more than `bound` levels deep, in one pass
// over the text: brackets count only outside strings, and an escaped
// character never ends a string. For valid JSON this is the parser's own
// nesting; anything else the parser refuses anyway. (A parser callback could
// count too, but the library then scans the enclosing array after every
// object, which makes a long rule list quadratic.)
bool NestsWithin(const std::string& text, int bound) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > bound)
                return false;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

Json Parse(const std::u16string& buffer) {
    if (!IsWellFormedUtf16(buffer))
        throw EParseError("The product definition holds an unpaired surrogate.");
    const std::string text = Utf16ToUtf8(buffer);
    if (!NestsWithin(text, kMaxNesting))
        throw EParseError("The product definition is nested too deeply.");
    try {
        // Trailing white space and line breaks are accepted; comments are not.
        return Json::parse(text, nullptr, true, false);
    } catch (const Json::exception& e) {
        throw EParseError(std::string("The product definition is not valid JSON: ") + e.what());
    }
}

// --- Writer ------------------------------------------------------------------

void AppendEscaped(std::string& out, const std::u16string& text) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (const char16_t c : text) {
        switch (c) {
        case u'"':
            out += "\\\"";
            break;
        case u'\\':
            out += "\\\\";
            break;
        case u'/':
            out += "\\/";
            break;
        case u'\b':
            out += "\\b";
            break;
        case u'\t':
            out += "\\t";
            break;
        case u'\n':
            out += "\\n";
            break;
        case u'\f':
            out += "\\f";
            break;
        case u'\r':
            out += "\\r";
            break;
        default:
            if (c < 0x20 || c > 0x7F) {
                out += "\\u";
                for (int shift = 12; shift >= 0; shift -= 4)
                    out += kHex[(c >> shift) & 0xF];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
}

constexpr const char* kLineBreak = "\r\n";

struct TextMember {
    const char* name;
    std::u16string value;
};

void AppendMember(std::string& out, int indent, const char* name) {
    out.append(static_cast<size_t>(indent), ' ');
    out += '"';
    out += name;
    out += "\": ";
}

// A rule object that starts where its array put it and whose members sit one
// level deeper than the array's elements.
void AppendRule(std::string& out, std::initializer_list<TextMember> members) {
    constexpr int kElementIndent = 2;
    out += '{';
    bool first = true;
    for (const auto& member : members) {
        out += first ? "" : ",";
        out += kLineBreak;
        AppendMember(out, kElementIndent + 1, member.name);
        AppendEscaped(out, member.value);
        first = false;
    }
    out += kLineBreak;
    out.append(kElementIndent, ' ');
    out += '}';
}

// An array breaks the line once, indents its elements one level and then
// separates them with a bare comma; an empty one is two brackets.
template <typename List, typename WriteRule>
void AppendRuleArray(std::string& out, const List& list, WriteRule writeRule) {
    out += '[';
    if (list.Count() > 0) {
        out += kLineBreak;
        out += "  ";
        for (int i = 0; i < list.Count(); ++i) {
            if (i > 0)
                out += ',';
            writeRule(*list.Get(i));
        }
    }
    out += ']';
}

} // namespace

std::u16string RootKeyToText(TZolvaProductRootKey value) {
    return OrdinalToText(kRootKeyTexts, value);
}

TZolvaProductRootKey TextToRootKey(const std::u16string& text) {
    return static_cast<TZolvaProductRootKey>(TextToOrdinal(kRootKeyTexts, text));
}

std::u16string DetectActionToText(TZolvaProductDetectAction value) {
    return OrdinalToText(kDetectActionTexts, value);
}

TZolvaProductDetectAction TextToDetectAction(const std::u16string& text) {
    return static_cast<TZolvaProductDetectAction>(TextToOrdinal(kDetectActionTexts, text));
}

std::u16string RemoveActionToText(TZolvaProductRemoveAction value) {
    return OrdinalToText(kRemoveActionTexts, value);
}

TZolvaProductRemoveAction TextToRemoveAction(const std::u16string& text) {
    return static_cast<TZolvaProductRemoveAction>(TextToOrdinal(kRemoveActionTexts, text));
}

TZolvaProduct::TZolvaProduct(std::u16string name) : FName(std::move(name)) {}

TZolvaProduct::~TZolvaProduct() {
    Clear();
}

void TZolvaProduct::Clear() {
    FDetections.Clear();
    FRemovals.Clear();
}

pZolvaProductDectectRule TZolvaProduct::AddDetection(TZolvaProductRootKey Root,
                                                     const std::u16string& Key,
                                                     const std::u16string& Name,
                                                     const std::u16string& Value,
                                                     TZolvaProductDetectAction Action) {
    auto rule = std::make_unique<TZolvaProductDectectRule>();
    rule->Root = Root;
    rule->Key = Key;
    rule->Name = Name;
    rule->Value = Value;
    rule->Action = Action;
    return FDetections.Add(std::move(rule));
}

pZolvaProductRemoveRule TZolvaProduct::AddRemoval(TZolvaProductRootKey Root,
                                                  const std::u16string& Key,
                                                  const std::u16string& Name,
                                                  TZolvaProductRemoveAction Action) {
    auto rule = std::make_unique<TZolvaProductRemoveRule>();
    rule->Root = Root;
    rule->Key = Key;
    rule->Name = Name;
    rule->Action = Action;
    return FRemovals.Add(std::move(rule));
}

void TZolvaProduct::DeleteDetection(int Index) {
    FDetections.Delete(Index);
}

void TZolvaProduct::DeleteRemoval(int Index) {
    FRemovals.Delete(Index);
}

int TZolvaProduct::FindDetection(const TZolvaProductDectectRule* Item) const {
    return FDetections.IndexOf(Item);
}

int TZolvaProduct::FindRemoval(const TZolvaProductRemoveRule* Item) const {
    return FRemovals.IndexOf(Item);
}

pZolvaProductDectectRule TZolvaProduct::GetDetectionItem(int Index) const {
    return FDetections.Get(Index);
}

pZolvaProductRemoveRule TZolvaProduct::GetRemovalItem(int Index) const {
    return FRemovals.Get(Index);
}

void TZolvaProduct::LoadFromBuffer(const std::u16string& Buffer) {
    if (Buffer.empty())
        return;
    Clear();
    const Json document = Parse(Buffer);
    FName = ReadText(document, "name");
    FVersion = ReadVersion(document);

    // A missing "removal" fails only after the detection rules were added.
    const Json& detections = RuleList(document, "detection");
    if (HoldsRules(detections))
        for (const Json& rule : detections)
            AddDetection(TextToRootKey(ReadText(rule, "root")), ReadText(rule, "key"),
                         ReadText(rule, "name"), ReadText(rule, "value"),
                         TextToDetectAction(ReadText(rule, "action")));

    const Json& removals = RuleList(document, "removal");
    if (HoldsRules(removals))
        for (const Json& rule : removals)
            AddRemoval(TextToRootKey(ReadText(rule, "root")), ReadText(rule, "key"),
                       ReadText(rule, "name"), TextToRemoveAction(ReadText(rule, "action")));
}

void TZolvaProduct::LoadFromBytes(const std::vector<uint8_t>& Bytes) {
    // Every line, the last included, ends in CR LF; a NUL ends the text.
    const std::vector<std::u16string> lines = SplitLines(platform::DecodeText(Bytes));
    LoadFromBuffer(JoinLinesCrLf(lines));
}

void TZolvaProduct::LoadFromFile(const std::u16string& FileName) {
    if (!platform::FileExists(FileName))
        return;
    LoadFromBytes(platform::ReadFileBytes(FileName));
}

void TZolvaProduct::LoadFromStream(platform::ByteStream& Stream) {
    if (Stream.Size() == 0)
        return;
    // From the current position on; the stream is not rewound.
    LoadFromBytes(Stream.ReadToEnd());
}

void TZolvaProduct::SaveToFile(const std::u16string& FileName,
                               const std::u16string& Creator) const {
    // Members in the fixed order of the document form, whatever a reader expects.
    std::string out = "{";
    out += kLineBreak;
    if (!Creator.empty()) {
        AppendMember(out, 1, "creator");
        AppendEscaped(out, Creator);
        out += ',';
        out += kLineBreak;
    }
    AppendMember(out, 1, "detection");
    AppendRuleArray(out, FDetections, [&out](const TZolvaProductDectectRule& rule) {
        AppendRule(out, {{"action", DetectActionToText(rule.Action)},
                         {"key", rule.Key},
                         {"value", rule.Value},
                         {"root", RootKeyToText(rule.Root)},
                         {"name", rule.Name}});
    });
    out += ',';
    out += kLineBreak;
    // The written version is always 1, whatever was read.
    AppendMember(out, 1, "version");
    out += "1,";
    out += kLineBreak;
    AppendMember(out, 1, "removal");
    AppendRuleArray(out, FRemovals, [&out](const TZolvaProductRemoveRule& rule) {
        AppendRule(out, {{"action", RemoveActionToText(rule.Action)},
                         {"key", rule.Key},
                         {"root", RootKeyToText(rule.Root)},
                         {"name", rule.Name}});
    });
    out += ',';
    out += kLineBreak;
    AppendMember(out, 1, "name");
    AppendEscaped(out, FName);
    out += kLineBreak;
    out += '}';
    platform::WriteFileBytes(FileName, out);
}

} // namespace keystrip
