#include "rules/RuleBackup.h"

#include "backup/RegFile.h"
#include "common/Errors.h"

#include <vector>

namespace keystrip {

using namespace platform;

namespace {

std::vector<uint8_t> Utf16Bytes(const std::u16string& text) {
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

} // namespace

void TRuleBackup::BackUpTree(TRegistryTree& Tree, RegKey Key, const std::u16string& KernelName,
                             const std::u16string& Path) {
    std::u16string text;
    bool unreadable = false;
    const uint8_t gaps = Tree.VisitTree(Key, KernelName, [&](const TTreeKey& visited) {
        TRegFileKey section;
        section.Path = visited.Path.empty() ? Path : Path + u'\\' + visited.Path;
        if (visited.IsLink) {
            // Recorded as the link it is, never as what it leads to.
            section.Link = true;
            section.Values.push_back(
                {kSymbolicLinkValueName, kRegLink, Utf16Bytes(visited.LinkTarget)});
        } else {
            for (uint32_t index = 0;; ++index) {
                TRegFileValue value;
                const long error =
                    FRegistry.EnumValue(visited.Handle, index, value.Name, value.Type, value.Data);
                if (error == kErrorNoMoreItems)
                    break;
                if (error != kErrorSuccess) {
                    unreadable = true;
                    return false;
                }
                section.Values.push_back(std::move(value));
            }
        }
        text += RegFileKeyText(section); // raises for a name the format cannot carry
        return true;
    });
    // What the deletion leaves (refused subkeys, keys below the depth limit)
    // needs no backup; what it would delete unread would be lost.
    if (unreadable || (gaps & (tgUnreadable | tgStopped)))
        throw EKeystripError("part of it cannot be read");
    FSink.Append(text);
}

void TRuleBackup::BackUpValue(RegKey Key, const std::u16string& Path, const std::u16string& Name) {
    TRegFileKey section;
    section.Path = Path;
    TRegFileValue& value = section.Values.emplace_back();
    value.Name = Name;
    uint32_t size = 0;
    if (FRegistry.QueryValue(Key, Name, &value.Type, nullptr, &size) != kErrorSuccess)
        throw EKeystripError("it cannot be read");
    value.Data.resize(size);
    uint32_t read = size;
    if (size > 0 &&
        FRegistry.QueryValue(Key, Name, &value.Type, value.Data.data(), &read) != kErrorSuccess)
        throw EKeystripError("it cannot be read");
    value.Data.resize(read);
    FSink.Append(RegFileKeyText(section));
}

} // namespace keystrip
