#include "rules/PreviewRecord.h"

#include "common/Utf.h"
#include "rules/ZolvaProductInspector.h"

namespace keystrip {

using namespace platform;

namespace {

std::u16string Count(uint64_t count, const char* one, const char* many) {
    return U16(std::to_string(count) + ' ' + (count == 1 ? one : many));
}

} // namespace

std::u16string KeysAndValuesText(uint64_t Keys, uint64_t Values) {
    return Count(Keys, "key", "keys") + u", " + Count(Values, "value", "values");
}

std::u16string TypeAndSizeText(uint32_t Type, uint64_t Size) {
    return RegistryTypeName(Type) + u", " + Count(Size, "byte", "bytes");
}

TPreviewTreeBuilder::TPreviewTreeBuilder(IRegistry& Registry, TPreviewRule& Rule)
    : FRegistry(Registry), FRule(Rule) {}

void TPreviewTreeBuilder::Add(const TTreeKey& Key) {
    auto& tree = FRule.Tree;
    const auto index = static_cast<uint32_t>(tree.size());
    FOpen.resize(Key.Level);
    TPreviewKey& added = tree.emplace_back();
    if (Key.Level == 0) {
        added.Name = FRule.Key;
    } else {
        added.Parent = FOpen.back();
        const size_t separator = Key.Path.rfind(u'\\');
        added.Name = separator == std::u16string::npos ? Key.Path : Key.Path.substr(separator + 1);
    }
    FOpen.push_back(index);
    added.SubKeyCount = Key.SubKeys;
    added.ValueCount = Key.Values;
    added.IsLink = Key.IsLink;
    added.LinkTarget = Key.LinkTarget;
    added.FirstValue = static_cast<uint32_t>(FRule.KeyValues.size());
    std::vector<uint8_t> data;
    for (uint32_t i = 0; i < Key.Values; ++i) {
        TPreviewValue value;
        if (FRegistry.EnumValue(Key.Handle, i, value.Name, value.Type, data) != kErrorSuccess)
            continue;
        value.Size = static_cast<uint32_t>(data.size());
        FRule.Bytes += value.Size;
        FRule.KeyValues.push_back(std::move(value));
    }
    added.ListedValues = static_cast<uint32_t>(FRule.KeyValues.size()) - added.FirstValue;
}

void TPreviewTreeBuilder::Gap(const TTreeKey& Key, uint8_t Gap, const std::u16string* Name) {
    if (Key.Level >= FOpen.size())
        return;
    const uint32_t at = FOpen[Key.Level];
    FRule.Tree[at].Gaps |= Gap;
    if (Name != nullptr)
        FRule.LeftOut.push_back(TPreviewLeftOut{at, Gap, *Name});
}

void TPreviewTreeBuilder::Finish() {
    auto& tree = FRule.Tree;
    const auto count = static_cast<uint32_t>(tree.size());
    for (auto& key : tree) {
        key.End = 0;
        key.SubtreeValues = key.ValueCount;
    }
    // Children come after their parents: one pass from the end carries each
    // key's subtree up to its parent.
    for (uint32_t i = count; i-- > 0;) {
        TPreviewKey& key = tree[i];
        if (key.End == 0)
            key.End = i + 1;
        if (key.Parent != kNoPreviewKey) {
            TPreviewKey& parent = tree[key.Parent];
            parent.SubtreeValues += key.SubtreeValues;
            if (parent.End < key.End)
                parent.End = key.End;
        }
    }
    FRule.Keys = count;
    FRule.Values = count > 0 ? tree[0].SubtreeValues : 0;
    FOpen.clear();
}

} // namespace keystrip
