// The remover against random registry states in the in-memory registry:
// keys with NUL characters and odd case in their names, links inside trees
// and on the paths to rules' keys (cycles, links to links, dangling ones),
// keys refusing their deletion or full access, chains deeper than the
// registry allows; and random rules over them. Properties: nothing escapes
// or crashes; no key stays open; and the registry afterwards, and the
// remover's answer, are what a plain model of the removal says: exactly the
// rules' targets gone.
//
// In a state with a chain past the depth limit every root lies deep below
// \REGISTRY (MemoryRegistry::SetRootDepth), so the limit is reached by a
// chain of a few keys at exactly the depths a chain of hundreds reached from
// the real roots: the states stay small, and such an input runs in a
// fraction of the time.
#include "common/RegistryName.h"
#include "fuzz/FuzzSupport.h"
#include "platform/doubles/MemoryRegistry.h"
#include "rules/RegistryTree.h"
#include "rules/ZolvaRuleProcessor.h"

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace keystrip;
using namespace keystrip::platform;
using keystrip::fuzz::Input;

namespace {

const std::u16string kNul(1, u'\0');
const std::u16string kNames[] = {
    u"a", u"A", u"b", u"\u00e4", u"\u00c4", kNul, u"a" + kNul, kNul + u"a", u"Wow6432Node", u"c",
};
const std::u16string kValueNames[] = {u"", u"v", u"V", u"w"};

// How deep the roots lie: the keys of random paths end some levels above the
// depth limit, and a chain of kChain keys below one ends beyond it.
constexpr int kRootDepth = TRegistryTree::kMaxDepth - 16;
constexpr int kChain = TRegistryTree::kMaxDepth + 4 - kRootDepth;

std::u16string PickName(Input& in) {
    return kNames[in.Byte() % (sizeof kNames / sizeof kNames[0])];
}

RegKey PickRoot(Input& in) {
    return in.Byte() % 2 ? kHkeyLocalMachine : kHkeyCurrentUser;
}

// A path below the test top "T" of a root: one to four names.
std::u16string PickPath(Input& in) {
    std::u16string path = u"T";
    const int parts = 1 + in.Byte() % 4;
    for (int i = 0; i < parts; ++i)
        path += u'\\' + PickName(in);
    return path;
}

// --- The model -----------------------------------------------------------------
// A plain tree built from the registry's content, and the removal as the
// program promises it, step by step on that tree.

struct Node {
    std::u16string name; // kernel name of a root, else the key's own name
    int depth = 0;       // levels below \REGISTRY
    Node* parent = nullptr;
    const Node* top = nullptr; // its root
    RegKey root = 0;
    std::vector<std::unique_ptr<Node>> children; // in enumeration order
    std::vector<MemoryRegistry::KeyContent::ValueContent> values;
    bool isLink = false;
    std::u16string linkTarget;
    bool denyDelete = false;
    uint32_t denied = 0;
};

class Model {
public:
    Model(const MemoryRegistry& registry, const std::vector<MemoryRegistry::KeyContent>& content) {
        std::vector<Node*> nodes;
        nodes.reserve(content.size());
        for (const auto& key : content) {
            auto node = std::make_unique<Node>();
            node->isLink = key.isLink;
            node->linkTarget = key.linkTarget;
            node->values = key.values;
            node->denyDelete = key.denyDelete;
            node->denied = key.deniedAccess;
            Node* raw = node.get();
            if (key.parent < 0) {
                node->name = key.kernelName;
                node->depth = KernelDepth(key.kernelName);
                node->top = raw;
                for (RegKey root : {kHkeyClassesRoot, kHkeyCurrentUser, kHkeyLocalMachine,
                                    kHkeyUsers, kHkeyPerformanceData, kHkeyCurrentConfig})
                    if (registry.RootKernelName(root) == key.kernelName)
                        node->root = root;
                roots_[node->root] = std::move(node);
            } else {
                Node* parent = nodes[static_cast<size_t>(key.parent)];
                node->name = key.kernelName.substr(
                    content[static_cast<size_t>(key.parent)].kernelName.size() + 1);
                node->parent = parent;
                node->top = parent->top;
                node->depth = parent->depth + 1;
                parent->children.push_back(std::move(node));
            }
            nodes.push_back(raw);
        }
    }

    // Whether the registry holds what this model does: the entries of its
    // Content, one per key in the same order (parents first, subkeys in
    // enumeration order), compared without building the model's own.
    bool Matches(const std::vector<MemoryRegistry::KeyContent>& content) const {
        size_t index = 0;
        for (const auto& [root, node] : roots_)
            if (!Matches(*node, -1, content, index))
                return false;
        return index == content.size();
    }

    // One removal rule; true when it succeeds.
    bool Apply(RegKey root, const std::u16string& key, const std::u16string& name,
               bool completeKey) {
        if (completeKey) {
            if (NamesRoot(key) || TRegistryTree::HasNul(key))
                return false;
            Node* existing = Walk(Root(root), key, true, 0);
            if (existing == nullptr || (existing->denied & kKeyQueryAndEnum) != 0)
                return true; // absent counts as removed
            Reached reached = Reach(root, key, true);
            if (reached.node == nullptr)
                return false;
            return DeleteTree(*reached.node, reached.access, reached.node->depth);
        }
        if (TRegistryTree::HasNul(key) || TRegistryTree::HasNul(name))
            return false;
        Reached reached;
        if (NamesRoot(key)) {
            reached.node = Root(root);
            reached.access = 0xFFFFFFFFu;
        } else {
            reached = Reach(root, key, false);
            if (reached.refused)
                return false;
            if (reached.node == nullptr)
                return true;
        }
        auto& values = reached.node->values;
        for (auto it = values.begin(); it != values.end(); ++it)
            if (SameRegistryName(it->name, name)) {
                values.erase(it);
                break;
            }
        return true;
    }

private:
    struct Reached {
        Node* node = nullptr;
        uint32_t access = 0;
        bool refused = false;
    };

    static bool NamesRoot(const std::u16string& key) {
        return key.find_first_not_of(u'\\') == std::u16string::npos;
    }

    // Built when asked for (rarely): the model keeps each key's own name.
    static std::u16string KernelNameOf(const Node& node) {
        return node.parent == nullptr ? node.name : KernelNameOf(*node.parent) + u'\\' + node.name;
    }

    static bool IsMachine(const std::u16string& kernelName) {
        const std::u16string machine = u"\\REGISTRY\\MACHINE";
        return kernelName.size() >= machine.size() &&
               SameRegistryName(kernelName.substr(0, machine.size()), machine) &&
               (kernelName.size() == machine.size() || kernelName[machine.size()] == u'\\');
    }

    Node* Root(RegKey root) const { return roots_.at(root).get(); }

    static Node* Child(const Node& node, const std::u16string& name) {
        for (const auto& child : node.children)
            if (SameRegistryName(child->name, name))
                return child.get();
        return nullptr;
    }

    // A link's target, as the registry resolves it (links on its way followed).
    Node* Follow(Node* node, int hops) const {
        while (node != nullptr && node->isLink) {
            if (++hops > 16 || node->linkTarget.empty())
                return nullptr;
            Node* best = nullptr;
            size_t bestLength = 0;
            for (const auto& [root, top] : roots_) {
                const std::u16string& prefix = top->name;
                const std::u16string& target = node->linkTarget;
                if (target.size() >= prefix.size() &&
                    SameRegistryName(target.substr(0, prefix.size()), prefix) &&
                    (target.size() == prefix.size() || target[prefix.size()] == u'\\') &&
                    prefix.size() > bestLength) {
                    best = top.get();
                    bestLength = prefix.size();
                }
            }
            if (best == nullptr)
                return nullptr;
            node = Walk(best, node->linkTarget.substr(bestLength), true, hops);
        }
        return node;
    }

    Node* Walk(Node* start, const std::u16string& path, bool followLast, int hops) const {
        Node* node = start;
        const auto parts = SplitRegistryPath(path);
        for (size_t i = 0; i < parts.size() && node != nullptr; ++i) {
            Node* child = Child(*node, parts[i]);
            if (child != nullptr && (i + 1 < parts.size() || followLast))
                child = Follow(child, hops);
            node = child;
        }
        return node;
    }

    // The path to a rule's key, one part at a time: each part opened as itself;
    // a part that can be read and is a link is followed only from machine keys
    // to machine keys; one that cannot be read is passed as it is.
    Reached Reach(RegKey root, const std::u16string& path, bool leafAsLink) const {
        Reached result;
        const auto parts = SplitRegistryPath(path);
        Node* node = Root(root);
        for (size_t i = 0; i < parts.size(); ++i) {
            const bool leaf = i + 1 == parts.size();
            const bool asLink = leaf && leafAsLink;
            Node* part = Child(*node, parts[i]);
            if (part == nullptr)
                return {};
            uint32_t access = leaf ? kKeyAllAccess | kKeyQueryValue : kKeyQueryValue;
            bool canRead = true;
            if ((part->denied & access) != 0) {
                canRead = false;
                if (asLink)
                    access = kDelete;
                else if (!leaf)
                    access = 0;
                else
                    return {};
                if ((part->denied & access) != 0)
                    return {};
            }
            result.access = access;
            if (!asLink && canRead && part->isLink) {
                if (!IsMachine(part->top->name) || !IsMachine(part->linkTarget)) {
                    result.refused = true;
                    return result;
                }
                Node* resolved = Follow(part, 0);
                if (resolved == nullptr || (resolved->denied & access) != 0)
                    return {};
                if (!SameRegistryName(KernelNameOf(*resolved), part->linkTarget)) {
                    result.refused = true;
                    return result;
                }
                part = resolved;
            }
            node = part;
        }
        result.node = node;
        return result;
    }

    // The subtree from the last subkey down; true when the key itself went.
    bool DeleteTree(Node& node, uint32_t access, int depth) {
        if (depth < TRegistryTree::kMaxDepth && (access & kKeyQueryValue) != 0) {
            for (size_t index = node.children.size(); index-- > 0;) {
                Node& child = *node.children[index];
                uint32_t childAccess = kKeyAllAccess;
                if ((child.denied & childAccess) != 0) {
                    childAccess = kDelete;
                    if ((child.denied & childAccess) != 0)
                        continue;
                }
                DeleteTree(child, childAccess, depth + 1);
            }
        }
        if ((access & kDelete) == 0 || node.parent == nullptr || node.denyDelete ||
            (node.denied & kDelete) != 0 || !node.children.empty())
            return false;
        auto& siblings = node.parent->children;
        for (auto it = siblings.begin(); it != siblings.end(); ++it)
            if (it->get() == &node) {
                siblings.erase(it);
                break;
            }
        return true;
    }

    // Parents come first, so once a key's parent is the same only the last
    // part of its kernel name is left to compare.
    static bool Matches(const Node& node, int parent,
                        const std::vector<MemoryRegistry::KeyContent>& content, size_t& index) {
        if (index >= content.size())
            return false;
        const auto& key = content[index];
        if (key.parent != parent || key.isLink != node.isLink ||
            key.linkTarget != node.linkTarget || !(key.values == node.values))
            return false;
        if (parent < 0) {
            if (key.kernelName != node.name)
                return false;
        } else {
            const size_t from = content[static_cast<size_t>(parent)].kernelName.size() + 1;
            if (key.kernelName.size() != from + node.name.size() ||
                key.kernelName[from - 1] != u'\\' ||
                key.kernelName.compare(from, std::u16string::npos, node.name) != 0)
                return false;
        }
        const int self = static_cast<int>(index++);
        for (const auto& child : node.children)
            if (!Matches(*child, self, content, index))
                return false;
        return true;
    }

    std::map<RegKey, std::unique_ptr<Node>> roots_;
};

// Builds a random state; a step the registry's content setup refuses (a
// link over an existing key, a path through a dangling link) is skipped.
// Without a registry it only reads the steps, as it would with one, and
// tells whether they make a chain past the depth limit (whose roots must
// then lie deep).
bool Build(Input& in, MemoryRegistry* registry) {
    if (registry != nullptr)
        for (RegKey root : {kHkeyLocalMachine, kHkeyCurrentUser})
            registry->CreateKey(root, u"T");
    bool chained = false;
    const int steps = in.Byte() % 32;
    for (int step = 0; step < steps && in.Left() > 0; ++step) {
        const RegKey root = PickRoot(in);
        const std::u16string path = PickPath(in);
        const uint8_t kind = in.Byte() % 8;
        try {
            switch (kind) {
            case 0:
            case 1:
                if (registry != nullptr)
                    registry->CreateKey(root, path);
                break;
            case 2:
            case 3: {
                const std::u16string& name = kValueNames[in.Byte() % 4];
                const uint8_t value = in.Byte();
                if (registry != nullptr)
                    registry->SetDword(root, path, name, value);
                break;
            }
            case 4: {
                const RegKey targetRoot = PickRoot(in);
                // A target anywhere: inside a tree, above it, dangling.
                const std::u16string target = in.Byte() % 4 ? PickPath(in) : u"T";
                if (registry != nullptr)
                    registry->CreateLink(root, path, targetRoot, target);
                break;
            }
            case 5:
                if (registry != nullptr)
                    registry->DenyDelete(root, path);
                break;
            case 6: {
                const uint32_t denied = in.Byte() % 2 ? kKeySetValue : kKeyQueryValue;
                if (registry != nullptr)
                    registry->DenyOpen(root, path, denied);
                break;
            }
            case 7: {
                if (in.Byte() % 4 != 0)
                    break;
                chained = true;
                if (registry == nullptr)
                    break;
                // A chain down past the registry's depth limit.
                std::u16string chain = path;
                for (int depth = 0; depth < kChain; ++depth)
                    chain += u"\\d";
                registry->CreateKey(root, chain);
                break;
            }
            }
        } catch (const std::logic_error&) {
            // The step does not apply to this state.
        }
    }
    return chained;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    MemoryRegistry registry;
    Input steps = in;
    if (Build(steps, nullptr))
        registry.SetRootDepth(kRootDepth);
    Build(in, &registry);
    const std::vector<MemoryRegistry::KeyContent> before = registry.Content();
    Model model(registry, before);
    FUZZ_CHECK(model.Matches(before));

    TZolvaProduct product(u"P");
    bool expected = true;
    const int rules = 1 + in.Byte() % 6;
    for (int i = 0; i < rules; ++i) {
        const RegKey root = PickRoot(in);
        const TZolvaProductRootKey rootKey =
            root == kHkeyLocalMachine ? rkLocalMachine : rkCurrentUser;
        const std::u16string key = in.Byte() % 8 ? PickPath(in) : u"";
        const bool completeKey = in.Byte() % 3 != 0;
        const std::u16string name = completeKey ? u"" : kValueNames[in.Byte() % 4];
        product.AddRemoval(rootKey, key, name, completeKey ? raCompleteKey : raNameOnly);
        if (!model.Apply(root, key, name, completeKey))
            expected = false;
    }

    TActivityLogger log;
    TZolvaProductRemover remover(&product, &log, registry);
    const bool removed = remover.ProductRemoved();
    FUZZ_CHECK(registry.OpenHandleCount() == 0);
    FUZZ_CHECK(model.Matches(registry.Content()));
    FUZZ_CHECK(removed == expected);
    return 0;
}
