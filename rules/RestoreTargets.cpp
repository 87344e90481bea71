#include "rules/RestoreTargets.h"

#include "backup/RegFile.h"
#include "common/RegistryName.h"
#include "common/TextCase.h"
#include "common/Utf.h"

#include <limits>

namespace keystrip {

using namespace platform;

namespace {

const std::u16string kClassesSuffix = u"_Classes";

// How a section's path may be read: the rules of RuleRoot, matched against
// Parts (below Root, or below the user's hive), less Skip leading parts of
// the rule's key (Software\Classes of a user's rule, in the classes hive).
struct TReading {
    TZolvaProductRootKey RuleRoot;
    RegKey Root;
    std::u16string Hive;
    std::vector<std::u16string> Parts;
    std::vector<std::u16string> Skip;
};

bool SameParts(const std::vector<std::u16string>& a, size_t from, size_t count,
               const std::vector<std::u16string>& b, size_t bFrom) {
    for (size_t i = 0; i < count; ++i)
        if (!AsciiSameText(a[from + i], b[bFrom + i]))
            return false;
    return true;
}

bool IsNumber(const std::u16string& text) {
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == u'0'))
        return false;
    uint64_t value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - u'0');
    }
    return value <= std::numeric_limits<uint32_t>::max();
}

std::vector<TReading> ReadingsOf(RegKey root, const std::vector<std::u16string>& parts) {
    switch (root) {
    case kHkeyLocalMachine:
        return {{rkLocalMachine, root, u"", parts, {}}};
    case kHkeyClassesRoot:
        return {{rkClassesRoot, root, u"", parts, {}}};
    case kHkeyCurrentUser:
        return {{rkCurrentUser, root, u"", parts, {}}};
    case kHkeyCurrentConfig:
        return {{rkCurrentConfig, root, u"", parts, {}}};
    case kHkeyUsers:
        break;
    default:
        return {};
    }
    std::vector<TReading> readings = {{rkUsers, root, u"", parts, {}}};
    if (parts.empty())
        return readings;
    const std::u16string& hive = parts[0];
    const std::vector<std::u16string> below(parts.begin() + 1, parts.end());
    if (TRestoreTargets::IsUserSid(hive)) {
        readings.push_back({rkCurrentUser, root, hive, below, {}});
    } else if (hive.size() > kClassesSuffix.size() &&
               hive.compare(hive.size() - kClassesSuffix.size(), kClassesSuffix.size(),
                            kClassesSuffix) == 0 &&
               TRestoreTargets::IsUserSid(hive.substr(0, hive.size() - kClassesSuffix.size()))) {
        readings.push_back({rkClassesRoot, root, hive, below, {}});
        readings.push_back({rkCurrentUser, root, hive, below, {u"Software", u"Classes"}});
    }
    return readings;
}

} // namespace

bool TRestoreTargets::IsUserSid(const std::u16string& Name) {
    std::u16string rest;
    for (const std::u16string prefix : {u"S-1-5-21-", u"S-1-12-1-"})
        if (Name.compare(0, prefix.size(), prefix) == 0)
            rest = Name.substr(prefix.size());
    if (rest.empty())
        return false;
    int numbers = 0;
    size_t start = 0;
    for (;;) {
        const size_t end = rest.find(u'-', start);
        if (!IsNumber(rest.substr(start, end == std::u16string::npos ? end : end - start)))
            return false;
        ++numbers;
        if (end == std::u16string::npos)
            return numbers == 4;
        start = end + 1;
    }
}

void TRestoreTargets::Add(const TZolvaProductRemoveRule& Rule) {
    if (Rule.Key.find(u'\0') != std::u16string::npos ||
        Rule.Name.find(u'\0') != std::u16string::npos)
        return;
    TTarget target;
    target.Root = Rule.Root;
    target.Key = SplitRegistryPath(Rule.Key);
    target.ValueRule = Rule.Action == raNameOnly;
    target.Name = Rule.Name;
    // A complete-key rule on a root itself deletes nothing; its values are
    // not restored onto a root either.
    if (target.Key.empty() || (Rule.Action != raCompleteKey && Rule.Action != raNameOnly))
        return;
    FTargets.push_back(std::move(target));
}

void TRestoreTargets::Add(const TZolvaProduct& Product) {
    for (int i = 0; i < Product.RemovalCount(); ++i)
        Add(*Product.Removals(i));
}

bool TRestoreTargets::Place(const TRegFileKey& Section, TRestorePlace& Place,
                            std::string& Why) const {
    const std::string where = "line " + std::to_string(Section.Line) + ": the section [" +
                              Utf16ToUtf8(Section.Path) + "] ";
    RegKey root = 0;
    std::u16string relative;
    if (!SplitRegFilePath(Section.Path, root, relative) || relative.empty()) {
        Why = where + "names no key below a root";
        return false;
    }
    bool valueKey = false;
    bool found = false;
    for (const TReading& reading : ReadingsOf(root, SplitRegistryPath(relative))) {
        for (const TTarget& target : FTargets) {
            if (target.Root != reading.RuleRoot || target.Key.size() <= reading.Skip.size() ||
                !SameParts(target.Key, 0, reading.Skip.size(), reading.Skip, 0))
                continue;
            const size_t length = target.Key.size() - reading.Skip.size();
            if (reading.Parts.size() < length ||
                !SameParts(reading.Parts, 0, length, target.Key, reading.Skip.size()))
                continue;
            if (target.ValueRule) {
                if (reading.Parts.size() != length)
                    continue;
                valueKey = true;
                // The one value the rule names, and never a link.
                if (found || Section.Values.size() != 1 || Section.IsLink() ||
                    !AsciiSameText(Section.Values[0].Name, target.Name))
                    continue;
            } else if (found && !Place.ValueRule && Place.OwnFrom <= length - 1) {
                continue; // the outermost rule's key decides
            }
            found = true;
            Place.Root = reading.Root;
            Place.UserHive = reading.Hive;
            Place.Parts = reading.Parts;
            Place.ValueRule = target.ValueRule;
            Place.OwnFrom = target.ValueRule ? length : length - 1;
        }
    }
    if (found)
        return true;
    Why = where + (valueKey ? "is a value rule's key and may hold that one value only"
                            : "lies outside the keys and values the product rules remove");
    return false;
}

} // namespace keystrip
