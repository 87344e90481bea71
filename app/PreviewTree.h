// The preview as the tree its window shows, the way the registry editor shows
// keys: each product, below it each rule's target (root and path) with what
// it holds, below that the subkeys, and values as leaves with their type and
// size. Every key says how much it holds ("3 keys, 2 values"); what a removal
// would refuse says why. Built from the preview record one level at a time,
// so that a tree of 100,000 keys costs only what the user opens.
#pragma once

#include "rules/PreviewRecord.h"

#include <cstdint>
#include <string>
#include <vector>

namespace keystrip {

enum class TPreviewNodeKind : uint8_t {
    Product, // a product
    Target,  // a rule's target: for a key rule reached, its top key
    Key,     // a key below a target
    Value,   // a value (of a key, or a value rule's own)
    LeftOut, // a subkey the removal would leave alone
};

struct TPreviewNode {
    TPreviewNodeKind Kind = TPreviewNodeKind::Product;
    uint32_t Product = 0;
    uint32_t Rule = 0;
    // The key (Key, and a target's own key 0), the value in the rule's
    // KeyValues (Value; kNoPreviewKey for a value rule's value) or the
    // left-out subkey.
    uint32_t Item = 0;
};

class TPreviewTree {
public:
    // Borrowed: the products must outlive the tree.
    explicit TPreviewTree(const std::vector<TPreviewProduct>& Products);

    std::vector<TPreviewNode> Roots() const;
    // Subkeys first, in the order the walk met them, then values, then what
    // is left alone.
    std::vector<TPreviewNode> Children(const TPreviewNode& Node) const;
    bool HasChildren(const TPreviewNode& Node) const;
    std::u16string Label(const TPreviewNode& Node) const;

private:
    const TPreviewRule& RuleOf(const TPreviewNode& Node) const;
    // The key a node stands for, or kNoPreviewKey.
    uint32_t KeyOf(const TPreviewNode& Node) const;

    const std::vector<TPreviewProduct>& FProducts;
};

// A registry name for the eye: a NUL shows as "\0", the default value's
// empty name as "(Default)".
std::u16string ShownName(const std::u16string& Name, bool IsValue);

} // namespace keystrip
