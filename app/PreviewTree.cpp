#include "app/PreviewTree.h"

namespace keystrip {

namespace {

using K = TPreviewNodeKind;

// What a key's own level left out, as the report words it.
std::u16string GapNote(uint8_t gaps) {
    std::u16string note;
    if (gaps & tgUnreadable)
        note += u"; part of it cannot be read";
    if (gaps & tgRefused)
        note += u"; a key inside it is not what its name says";
    if (gaps & tgTooDeep)
        note += u"; keys below the registry's depth limit would stay";
    return note;
}

std::u16string KeyLabel(const TPreviewRule& rule, uint32_t index, const std::u16string& name) {
    const TPreviewKey& key = rule.Tree[index];
    if (key.IsLink)
        return name + u" (registry link to " + key.LinkTarget + u", not followed)";
    return name + u" (" + KeysAndValuesText(key.End - index, key.SubtreeValues) +
           GapNote(key.Gaps) + u")";
}

} // namespace

std::u16string ShownName(const std::u16string& Name, bool IsValue) {
    if (IsValue && Name.empty())
        return u"(Default)";
    std::u16string shown;
    shown.reserve(Name.size());
    for (char16_t c : Name) {
        if (c == u'\0')
            shown += u"\\0";
        else
            shown += c;
    }
    return shown;
}

TPreviewTree::TPreviewTree(const std::vector<TPreviewProduct>& Products) : FProducts(Products) {}

const TPreviewRule& TPreviewTree::RuleOf(const TPreviewNode& Node) const {
    return FProducts.at(Node.Product).Rules.at(Node.Rule);
}

uint32_t TPreviewTree::KeyOf(const TPreviewNode& Node) const {
    switch (Node.Kind) {
    case K::Target:
        return RuleOf(Node).Tree.empty() ? kNoPreviewKey : 0;
    case K::Key:
        return Node.Item;
    default:
        return kNoPreviewKey;
    }
}

std::vector<TPreviewNode> TPreviewTree::Roots() const {
    std::vector<TPreviewNode> roots;
    for (uint32_t p = 0; p < FProducts.size(); ++p)
        roots.push_back(TPreviewNode{K::Product, p, 0, 0});
    return roots;
}

std::vector<TPreviewNode> TPreviewTree::Children(const TPreviewNode& Node) const {
    std::vector<TPreviewNode> children;
    if (Node.Kind == K::Product) {
        const auto count = static_cast<uint32_t>(FProducts.at(Node.Product).Rules.size());
        for (uint32_t r = 0; r < count; ++r)
            children.push_back(TPreviewNode{K::Target, Node.Product, r, 0});
        return children;
    }
    if (Node.Kind == K::Value || Node.Kind == K::LeftOut)
        return children;
    const TPreviewRule& rule = RuleOf(Node);
    if (Node.Kind == K::Target && rule.Action == raNameOnly) {
        if (rule.Status == psWouldBeDeleted)
            children.push_back(TPreviewNode{K::Value, Node.Product, Node.Rule, kNoPreviewKey});
        return children;
    }
    const uint32_t index = KeyOf(Node);
    if (index == kNoPreviewKey)
        return children;
    const TPreviewKey& key = rule.Tree[index];
    for (uint32_t child = index + 1; child < key.End; child = rule.Tree[child].End)
        children.push_back(TPreviewNode{K::Key, Node.Product, Node.Rule, child});
    for (uint32_t v = key.FirstValue; v < key.FirstValue + key.ListedValues; ++v)
        children.push_back(TPreviewNode{K::Value, Node.Product, Node.Rule, v});
    for (uint32_t left = 0; left < rule.LeftOut.size(); ++left)
        if (rule.LeftOut[left].Parent == index)
            children.push_back(TPreviewNode{K::LeftOut, Node.Product, Node.Rule, left});
    return children;
}

bool TPreviewTree::HasChildren(const TPreviewNode& Node) const {
    switch (Node.Kind) {
    case K::Product:
        return !FProducts.at(Node.Product).Rules.empty();
    case K::Value:
    case K::LeftOut:
        return false;
    default:
        break;
    }
    const TPreviewRule& rule = RuleOf(Node);
    if (Node.Kind == K::Target && rule.Action == raNameOnly)
        return rule.Status == psWouldBeDeleted;
    const uint32_t index = KeyOf(Node);
    if (index == kNoPreviewKey)
        return false;
    const TPreviewKey& key = rule.Tree[index];
    if (key.End > index + 1 || key.ListedValues > 0)
        return true;
    for (const auto& left : rule.LeftOut)
        if (left.Parent == index)
            return true;
    return false;
}

std::u16string TPreviewTree::Label(const TPreviewNode& Node) const {
    if (Node.Kind == K::Product) {
        const TPreviewProduct& product = FProducts.at(Node.Product);
        return product.Complete ? product.Name
                                : product.Name + u" (not everything would be removed)";
    }
    const TPreviewRule& rule = RuleOf(Node);
    switch (Node.Kind) {
    case K::Target: {
        std::u16string path = rule.KeyPath();
        if (rule.Action == raNameOnly && rule.Status != psWouldBeDeleted)
            path += u'\\' + ShownName(rule.ValueName, false);
        if (rule.Status == psNotFound)
            return path + u": not found";
        if (!rule.Tree.empty())
            path = KeyLabel(rule, 0, path);
        if (rule.Status == psWouldNotBeDeleted)
            return path + u": would not be deleted, " + rule.Reason;
        return path;
    }
    case K::Key:
        return KeyLabel(rule, Node.Item, ShownName(rule.Tree[Node.Item].Name, false));
    case K::Value: {
        const TPreviewValue& value =
            Node.Item == kNoPreviewKey ? rule.Value : rule.KeyValues.at(Node.Item);
        return ShownName(value.Name, true) + u" (" + TypeAndSizeText(value.Type, value.Size) + u")";
    }
    case K::LeftOut: {
        const TPreviewLeftOut& left = rule.LeftOut.at(Node.Item);
        return ShownName(left.Name, false) + ((left.Gap & tgRefused)
                                                  ? u" (left alone: not what its name says)"
                                                  : u" (left alone: it cannot be opened)");
    }
    default:
        return u"";
    }
}

} // namespace keystrip
