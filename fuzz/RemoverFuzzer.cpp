// The remover against random registry states in the in-memory registry:
// keys with NUL characters and odd case in their names, links inside trees
// and on the paths to rules' keys (cycles, links to links, dangling ones),
// keys refusing their deletion or full access, chains deeper than the
// registry allows; and random rules over them. Properties: nothing escapes
// or crashes; no key stays open; and the registry afterwards, and the
// remover's answer, are what a plain model of the removal says: exactly the
// rules' targets gone.
//
// A root that gets a chain past the depth limit lies deep below \REGISTRY
// (MemoryRegistry::SetRootDepth), so the limit is reached by a chain of a few
// keys at exactly the depths a chain of hundreds reached from the real root:
// the states stay small, and such an input runs in a fraction of the time.
#include "common/RegistryName.h"
#include "fuzz/FuzzSupport.h"
#include "platform/doubles/MemoryRegistry.h"
#include "rules/RegistryTree.h"
#include "rules/ZolvaRuleProcessor.h"

#include <algorithm>
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
    explicit Model(const MemoryRegistry& registry) {
        std::vector<Node*> nodes;
        registry.VisitContent([&](const MemoryRegistry::KeyVisit& key) {
            auto node = std::make_unique<Node>();
            node->name = *key.name;
            node->isLink = key.isLink;
            node->linkTarget = key.linkTarget;
            for (const auto* value : key.values)
                node->values.push_back(*value);
            node->denyDelete = key.denyDelete;
            node->denied = key.deniedAccess;
            Node* raw = node.get();
            if (key.parent < 0) {
                node->depth = KernelDepth(node->name);
                node->top = raw;
                for (RegKey root : {kHkeyClassesRoot, kHkeyCurrentUser, kHkeyLocalMachine,
                                    kHkeyUsers, kHkeyPerformanceData, kHkeyCurrentConfig})
                    if (registry.RootKernelName(root) == node->name)
                        node->root = root;
                roots_[node->root] = std::move(node);
            } else {
                Node* parent = nodes[static_cast<size_t>(key.parent)];
                node->parent = parent;
                node->top = parent->top;
                node->depth = parent->depth + 1;
                parent->children.push_back(std::move(node));
            }
            nodes.push_back(raw);
        });
    }

    // Whether the registry holds what this model does: key by key in the
    // order of its content (parents first, subkeys in enumeration order),
    // each with the same parent, name, link and values.
    bool Matches(const MemoryRegistry& registry) const {
        std::vector<std::pair<const Node*, int>> order;
        for (const auto& [root, node] : roots_)
            Flatten(*node, -1, order);
        size_t index = 0;
        bool same = true;
        registry.VisitContent([&](const MemoryRegistry::KeyVisit& key) {
            if (!same || index >= order.size()) {
                same = false;
                return;
            }
            const auto& [node, parent] = order[index++];
            same = key.parent == parent && *key.name == node->name && key.isLink == node->isLink &&
                   key.linkTarget == node->linkTarget && key.values.size() == node->values.size() &&
                   std::equal(key.values.begin(), key.values.end(), node->values.begin(),
                              [](const auto* a, const auto& b) { return *a == b; });
        });
        return same && index == order.size();
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

    static void Flatten(const Node& node, int parent,
                        std::vector<std::pair<const Node*, int>>& out) {
        out.emplace_back(&node, parent);
        const int self = static_cast<int>(out.size()) - 1;
        for (const auto& child : node.children)
            Flatten(*child, self, out);
    }

    std::map<RegKey, std::unique_ptr<Node>> roots_;
};

// Builds a random state; a step the registry's content setup refuses (a
// link over an existing key, a path through a dangling link) is skipped.
// Without a registry it only reads the steps, as it would with one, and
// collects the roots that get a chain past the depth limit (which must then
// lie deep).
void Build(Input& in, MemoryRegistry* registry, std::vector<RegKey>& chained) {
    if (registry != nullptr)
        for (RegKey root : {kHkeyLocalMachine, kHkeyCurrentUser})
            registry->CreateKey(root, u"T");
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
                if (registry == nullptr) {
                    chained.push_back(root);
                    break;
                }
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
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    MemoryRegistry registry;
    Input steps = in;
    std::vector<RegKey> chained;
    Build(steps, nullptr, chained);
    for (RegKey root : chained)
        registry.SetRootDepth(root, kRootDepth);
    Build(in, &registry, chained);
    Model model(registry);
    FUZZ_CHECK(model.Matches(registry));

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
    FUZZ_CHECK(model.Matches(registry));
    FUZZ_CHECK(removed == expected);
    return 0;
}
