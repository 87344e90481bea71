#include "platform/doubles/MemoryRegistry.h"

#include "common/RegistryName.h"

#include <algorithm>
#include <stdexcept>

namespace keystrip::platform {

namespace {

std::u16string Fold(const std::u16string& name) {
    return FoldRegistryName(name);
}

// What a C string makes of a name: everything up to the first NUL.
std::u16string CString(const std::u16string& name) {
    return name.substr(0, name.find(u'\0'));
}

bool SameFolded(const std::u16string& a, const std::u16string& b) {
    return SameRegistryName(a, b);
}

constexpr uint32_t kRootAccess = 0xFFFFFFFFu;
constexpr int kMaxLinkDepth = 16;
const std::u16string kWow64Node = u"Wow6432Node";

} // namespace

// Name, type and data as Content lists them, so that a visit refers to them.
struct MemoryRegistry::Value : KeyContent::ValueContent {
    Value() : ValueContent{{}, kRegNone, {}} {}
    std::u16string folded;
    long readError = 0;
    bool denyDelete = false;
};

struct MemoryRegistry::Node {
    std::u16string name;
    std::weak_ptr<Node> parent;
    bool isRoot = false;
    RegKey rootKey = 0; // of a root
    bool deleted = false;
    // Sorted by folded name, as the registry enumerates.
    std::vector<std::pair<std::u16string, NodePtr>> children;
    std::vector<Value> values;
    bool isLink = false;
    RegKey linkRoot = 0;
    std::u16string linkPath;
    uint32_t deniedAccess = 0;
    bool denyDelete = false;

    // Where a child of this name is or would go; names compare folded
    // without building folded copies, which keeps every call cheap.
    auto Position(std::u16string_view name) {
        return std::lower_bound(
            children.begin(), children.end(), name,
            [](const std::pair<std::u16string, NodePtr>& a, std::u16string_view b) {
                return CompareRegistryNames(a.first, b) < 0;
            });
    }
    NodePtr Child(std::u16string_view name) {
        auto it = Position(name);
        return it != children.end() && SameRegistryName(it->first, name) ? it->second : nullptr;
    }
    Value* FindValue(std::u16string_view name) {
        for (auto& value : values)
            if (SameRegistryName(value.folded, name))
                return &value;
        return nullptr;
    }
};

MemoryRegistry::MemoryRegistry() {
    for (RegKey root : {kHkeyClassesRoot, kHkeyCurrentUser, kHkeyLocalMachine, kHkeyUsers,
                        kHkeyPerformanceData, kHkeyCurrentConfig}) {
        auto node = std::make_shared<Node>();
        node->isRoot = true;
        node->rootKey = root;
        roots_[root] = node;
    }
}

MemoryRegistry::~MemoryRegistry() = default;

MemoryRegistry::NodePtr MemoryRegistry::CopyTree(const NodePtr& node, const NodePtr& parent) {
    auto copy = std::make_shared<Node>(*node);
    copy->parent = parent;
    for (auto& child : copy->children)
        child.second = CopyTree(child.second, copy);
    return copy;
}

void MemoryRegistry::MountHive(RegKey root, const std::u16string& name, const MemoryRegistry& from,
                               RegKey fromRoot) {
    NodePtr parent = Root(root);
    if (parent->Child(name))
        throw std::logic_error("MemoryRegistry: a hive is mounted over an existing key");
    NodePtr hive = CopyTree(from.Root(fromRoot), parent);
    hive->isRoot = false;
    hive->rootKey = 0;
    hive->name = name;
    const std::u16string folded = Fold(name);
    parent->children.insert(parent->Position(folded), {folded, hive});
}

bool MemoryRegistry::UnmountHive(RegKey root, const std::u16string& name, MemoryRegistry& into,
                                 RegKey intoRoot) {
    NodePtr parent = Root(root);
    NodePtr hive = parent->Child(name);
    if (!hive)
        return false;
    for (const auto& [key, handle] : handles_)
        for (NodePtr node = handle.node; node; node = node->parent.lock())
            if (node == hive)
                return false;
    NodePtr copy = CopyTree(hive, nullptr);
    copy->isRoot = true;
    copy->rootKey = intoRoot;
    copy->name.clear();
    into.roots_[intoRoot] = copy;
    parent->children.erase(parent->Position(Fold(name)));
    hive->deleted = true;
    return true;
}

void MemoryRegistry::CopyContentFrom(const MemoryRegistry& other) {
    if (!handles_.empty())
        throw std::logic_error("MemoryRegistry: content replaced while keys are open");
    roots_.clear();
    for (const auto& [root, node] : other.roots_)
        roots_[root] = CopyTree(node, nullptr);
}

// --- Content -------------------------------------------------------------

MemoryRegistry::NodePtr MemoryRegistry::Root(RegKey root) const {
    auto it = roots_.find(root);
    if (it == roots_.end())
        throw std::logic_error("MemoryRegistry: no such root");
    return it->second;
}

MemoryRegistry::NodePtr MemoryRegistry::Existing(RegKey root, const std::u16string& path,
                                                 bool followLast) const {
    NodePtr node;
    if (Walk(Root(root), path, followLast, node) != kErrorSuccess)
        throw std::logic_error("MemoryRegistry: no such key");
    return node;
}

MemoryRegistry::NodePtr MemoryRegistry::Create(RegKey root, const std::u16string& path) {
    NodePtr node = Root(root);
    for (const auto& part : SplitRegistryPath(path)) {
        NodePtr child = node->Child(part);
        if (!child) {
            child = std::make_shared<Node>();
            child->name = part;
            child->parent = node;
            std::u16string folded = Fold(part);
            node->children.insert(node->Position(folded), {folded, child});
        }
        if (Follow(child, 0) != kErrorSuccess)
            throw std::logic_error("MemoryRegistry: link to a missing key");
        node = child;
    }
    return node;
}

void MemoryRegistry::CreateKey(RegKey root, const std::u16string& path) {
    Create(root, path);
}

void MemoryRegistry::SetValue(RegKey root, const std::u16string& path, const std::u16string& name,
                              uint32_t type, std::vector<uint8_t> data) {
    NodePtr node = Create(root, path);
    Value* value = node->FindValue(name);
    if (value == nullptr) {
        node->values.emplace_back();
        value = &node->values.back();
        value->name = name;
        value->folded = Fold(name);
    }
    value->type = type;
    value->data = std::move(data);
}

void MemoryRegistry::SetString(RegKey root, const std::u16string& path, const std::u16string& name,
                               const std::u16string& text, uint32_t type) {
    std::vector<uint8_t> data;
    for (char16_t c : text + u'\0') {
        data.push_back(static_cast<uint8_t>(c & 0xFF));
        data.push_back(static_cast<uint8_t>(c >> 8));
    }
    SetValue(root, path, name, type, std::move(data));
}

void MemoryRegistry::SetDword(RegKey root, const std::u16string& path, const std::u16string& name,
                              uint32_t value) {
    SetValue(root, path, name, kRegDword,
             {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
}

void MemoryRegistry::CreateLink(RegKey root, const std::u16string& path, RegKey targetRoot,
                                const std::u16string& targetPath) {
    auto parts = SplitRegistryPath(path);
    if (parts.empty())
        throw std::logic_error("MemoryRegistry: a root cannot be a link");
    std::u16string leaf = parts.back();
    parts.pop_back();
    std::u16string parentPath;
    for (const auto& part : parts)
        parentPath += part + u'\\';
    NodePtr parent = Create(root, parentPath);
    if (parent->Child(leaf))
        throw std::logic_error("MemoryRegistry: the link key exists already");
    auto link = std::make_shared<Node>();
    link->name = leaf;
    link->parent = parent;
    link->isLink = true;
    link->linkRoot = targetRoot;
    link->linkPath = targetPath;
    std::u16string target = RootKernelName(targetRoot) + u'\\' + targetPath;
    std::vector<uint8_t> data;
    for (char16_t c : target) {
        data.push_back(static_cast<uint8_t>(c & 0xFF));
        data.push_back(static_cast<uint8_t>(c >> 8));
    }
    Value& value = link->values.emplace_back();
    value.name = kSymbolicLinkValueName;
    value.folded = Fold(kSymbolicLinkValueName);
    value.type = kRegLink;
    value.data = std::move(data);
    std::u16string folded = Fold(leaf);
    parent->children.insert(parent->Position(folded), {folded, link});
}

void MemoryRegistry::RemoveRoot(RegKey root) {
    roots_.erase(root);
}

void MemoryRegistry::SetRootDepth(RegKey root, int levels) {
    if (!IsPredefinedKey(root))
        throw std::logic_error("MemoryRegistry: no such root");
    if (rootNames_.empty())
        for (RegKey each = kHkeyClassesRoot; each <= kHkeyDynData; ++each)
            rootNames_.push_back(KernelName(each));
    rootNames_[root - kHkeyClassesRoot] =
        KernelName(root) + std::u16string(static_cast<size_t>(std::max(levels, 0)), u'\\');
}

const std::u16string& MemoryRegistry::RootKernelName(RegKey root) const {
    // Made once for all registries at their own depth.
    static const std::vector<std::u16string> names = [] {
        std::vector<std::u16string> all;
        for (RegKey root = kHkeyClassesRoot; root <= kHkeyDynData; ++root)
            all.push_back(KernelName(root));
        return all;
    }();
    static const std::u16string none;
    if (!IsPredefinedKey(root))
        return none;
    return (rootNames_.empty() ? names : rootNames_)[root - kHkeyClassesRoot];
}

std::u16string MemoryRegistry::KernelName(RegKey root) {
    switch (root) {
    case kHkeyLocalMachine:
        return u"\\REGISTRY\\MACHINE";
    case kHkeyUsers:
        return u"\\REGISTRY\\USER";
    case kHkeyCurrentUser:
        return u"\\REGISTRY\\USER\\S-1-5-21-0-0-0-1000";
    case kHkeyClassesRoot:
        return u"\\REGISTRY\\MACHINE\\SOFTWARE\\Classes";
    case kHkeyCurrentConfig:
        return u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current";
    default:
        return u"\\REGISTRY\\ROOT" + std::u16string(1, static_cast<char16_t>(u'0' + (root & 7)));
    }
}

std::u16string MemoryRegistry::NodeName(const Node& node) const {
    // Built back to front in one string: every QueryKeyName asks for it.
    size_t length = 0;
    const Node* top = &node;
    for (const Node* n = &node; n != nullptr; n = n->parent.lock().get()) {
        top = n;
        if (n->isRoot)
            break;
        length += n->name.size() + 1;
    }
    const std::u16string& rootName = RootKernelName(top->isRoot ? top->rootKey : 0);
    std::u16string name(rootName.size() + length, u'\\');
    std::copy(rootName.begin(), rootName.end(), name.begin());
    size_t end = name.size();
    for (const Node* n = &node; n != top || !top->isRoot; n = n->parent.lock().get()) {
        end -= n->name.size();
        std::copy(n->name.begin(), n->name.end(), name.begin() + static_cast<ptrdiff_t>(end));
        --end; // the backslash before it
        if (n == top)
            break;
    }
    return name;
}

bool MemoryRegistry::KeyPresent(RegKey root, const std::u16string& path) const {
    NodePtr node;
    return Walk(Root(root), path, true, node) == kErrorSuccess;
}

bool MemoryRegistry::LinkPresent(RegKey root, const std::u16string& path) const {
    NodePtr node;
    return Walk(Root(root), path, false, node) == kErrorSuccess && node->isLink;
}

bool MemoryRegistry::ValuePresent(RegKey root, const std::u16string& path,
                                  const std::u16string& name) const {
    NodePtr node;
    return Walk(Root(root), path, true, node) == kErrorSuccess && node->FindValue(name) != nullptr;
}

size_t MemoryRegistry::SubtreeKeyCount(RegKey root, const std::u16string& path) const {
    std::vector<NodePtr> pending{Existing(root, path)};
    size_t count = 0;
    while (!pending.empty()) {
        NodePtr node = pending.back();
        pending.pop_back();
        ++count;
        for (const auto& child : node->children)
            pending.push_back(child.second);
    }
    return count;
}

std::vector<std::u16string> MemoryRegistry::ChildNames(RegKey root,
                                                       const std::u16string& path) const {
    std::vector<std::u16string> names;
    for (const auto& child : Existing(root, path)->children)
        names.push_back(child.second->name);
    return names;
}

std::vector<MemoryRegistry::KeyContent> MemoryRegistry::Content() const {
    // Counted first, so that the entries are made in place once: a fuzz
    // target compares whole states for every input.
    size_t count = 0;
    std::vector<const Node*> pending;
    for (const auto& [root, node] : roots_)
        pending.push_back(node.get());
    while (!pending.empty()) {
        const Node* node = pending.back();
        pending.pop_back();
        ++count;
        for (const auto& child : node->children)
            pending.push_back(child.second.get());
    }
    std::vector<KeyContent> content;
    content.reserve(count);
    std::vector<std::pair<const Node*, int>> next;
    for (auto it = roots_.rbegin(); it != roots_.rend(); ++it)
        next.emplace_back(it->second.get(), -1);
    while (!next.empty()) {
        const auto [node, parent] = next.back();
        next.pop_back();
        KeyContent& key = content.emplace_back();
        if (parent < 0) {
            key.kernelName = RootKernelName(node->rootKey);
        } else {
            const std::u16string& parentName = content[static_cast<size_t>(parent)].kernelName;
            key.kernelName.reserve(parentName.size() + 1 + node->name.size());
            key.kernelName.append(parentName).append(1, u'\\').append(node->name);
        }
        key.parent = parent;
        key.isLink = node->isLink;
        if (node->isLink && node->linkRoot != 0)
            key.linkTarget = RootKernelName(node->linkRoot) + u'\\' + node->linkPath;
        key.values.reserve(node->values.size());
        for (const auto& value : node->values)
            key.values.push_back({value.name, value.type, value.data});
        key.denyDelete = node->denyDelete;
        key.deniedAccess = node->deniedAccess;
        const int index = static_cast<int>(content.size()) - 1;
        for (auto child = node->children.rbegin(); child != node->children.rend(); ++child)
            next.emplace_back(child->second.get(), index);
    }
    return content;
}

void MemoryRegistry::VisitContent(const std::function<void(const KeyVisit&)>& visit) const {
    KeyVisit key;
    int count = 0;
    std::vector<std::pair<const Node*, int>> next;
    for (auto it = roots_.rbegin(); it != roots_.rend(); ++it)
        next.emplace_back(it->second.get(), -1);
    while (!next.empty()) {
        const auto [node, parent] = next.back();
        next.pop_back();
        key.parent = parent;
        key.name = parent < 0 ? &RootKernelName(node->rootKey) : &node->name;
        key.isLink = node->isLink;
        key.linkTarget.clear();
        if (node->isLink && node->linkRoot != 0)
            key.linkTarget.append(RootKernelName(node->linkRoot))
                .append(1, u'\\')
                .append(node->linkPath);
        key.values.clear();
        for (const auto& value : node->values)
            key.values.push_back(&value);
        key.denyDelete = node->denyDelete;
        key.deniedAccess = node->deniedAccess;
        visit(key);
        const int index = count++;
        for (auto child = node->children.rbegin(); child != node->children.rend(); ++child)
            next.emplace_back(child->second.get(), index);
    }
}

MemoryRegistry::Value& MemoryRegistry::ExistingValue(RegKey root, const std::u16string& path,
                                                     const std::u16string& name) {
    Value* value = Existing(root, path)->FindValue(name);
    if (value == nullptr)
        throw std::logic_error("MemoryRegistry: no such value");
    return *value;
}

// --- Faults ----------------------------------------------------------------

void MemoryRegistry::DenyOpen(RegKey root, const std::u16string& path, uint32_t deniedAccess) {
    Existing(root, path)->deniedAccess |= deniedAccess;
}

void MemoryRegistry::DenyDelete(RegKey root, const std::u16string& path) {
    Existing(root, path, false)->denyDelete = true;
}

void MemoryRegistry::DenyValueDelete(RegKey root, const std::u16string& path,
                                     const std::u16string& name) {
    ExistingValue(root, path, name).denyDelete = true;
}

void MemoryRegistry::FailValueRead(RegKey root, const std::u16string& path,
                                   const std::u16string& name, long error) {
    ExistingValue(root, path, name).readError = error;
}

void MemoryRegistry::FailCall(uint64_t call, long error) {
    failures_[call] = error;
}

void MemoryRegistry::SetCallHook(std::function<void(uint64_t call)> hook) {
    hook_ = std::move(hook);
}

// --- The calls ---------------------------------------------------------------

long MemoryRegistry::BeginCall() {
    ++calls_;
    if (hook_)
        hook_(calls_);
    auto it = failures_.find(calls_);
    return it == failures_.end() ? kErrorSuccess : it->second;
}

long MemoryRegistry::BeginKeyCall(RegKey key, uint32_t neededAccess, NodePtr& node) {
    if (long error = BeginCall())
        return error;
    uint32_t access = 0;
    if (long error = Lookup(key, node, access))
        return error;
    if (neededAccess != 0 && (access & neededAccess) == 0)
        return kErrorAccessDenied;
    return kErrorSuccess;
}

long MemoryRegistry::Lookup(RegKey key, NodePtr& node, uint32_t& access) const {
    if (IsPredefinedKey(key)) {
        auto it = roots_.find(key);
        if (it == roots_.end())
            return kErrorInvalidHandle;
        node = it->second;
        access = kRootAccess;
        return kErrorSuccess;
    }
    auto it = handles_.find(key);
    if (it == handles_.end())
        return kErrorInvalidHandle;
    if (it->second.node->deleted)
        return kErrorKeyDeleted;
    node = it->second.node;
    access = it->second.access;
    return kErrorSuccess;
}

long MemoryRegistry::Follow(NodePtr& node, int depth) const {
    while (node->isLink) {
        if (++depth > kMaxLinkDepth)
            return kErrorFileNotFound;
        auto root = roots_.find(node->linkRoot);
        if (root == roots_.end())
            return kErrorFileNotFound;
        NodePtr target;
        if (long error = Walk(root->second, node->linkPath, true, target, depth))
            return error;
        node = target;
    }
    return kErrorSuccess;
}

long MemoryRegistry::Walk(const NodePtr& start, const std::u16string& path, bool followLast,
                          NodePtr& result, int depth) const {
    if (!path.empty() && path.front() == u'\\')
        return kErrorBadPathname;
    NodePtr node = start;
    const std::u16string_view rest(path);
    size_t begin = 0;
    while (begin < rest.size()) {
        size_t end = rest.find(u'\\', begin);
        if (end == std::u16string_view::npos)
            end = rest.size();
        if (end > begin) {
            NodePtr child = node->Child(rest.substr(begin, end - begin));
            if (!child)
                return kErrorFileNotFound;
            const bool last = rest.find_first_not_of(u'\\', end) == std::u16string_view::npos;
            if (!last || followLast)
                if (long error = Follow(child, depth))
                    return error;
            node = child;
        }
        begin = end + 1;
    }
    result = node;
    return kErrorSuccess;
}

long MemoryRegistry::OpenNode(const NodePtr& node, uint32_t access, RegKey& result) {
    if ((node->deniedAccess & access) != 0)
        return kErrorAccessDenied;
    RegKey handle = nextHandle_;
    nextHandle_ += 4;
    handles_[handle] = Handle{node, access};
    result = handle;
    return kErrorSuccess;
}

long MemoryRegistry::OpenKey(RegKey parent, const std::u16string& subKey, uint32_t options,
                             uint32_t access, RegKey& result) {
    NodePtr node;
    if (long error = BeginKeyCall(parent, 0, node))
        return error;
    const std::u16string path = CString(subKey);
    if (path.empty() && IsPredefinedKey(parent)) {
        result = parent;
        return kErrorSuccess;
    }
    const bool openLink = (options & kOptionOpenLink) != 0;
    NodePtr target;
    if (long error = Walk(node, path, !openLink, target))
        return error;
    // Wine with the view flag on an open below an open key: a link whose
    // target has a Wow6432Node subkey is followed all the same.
    if (openLink && target->isLink && !IsPredefinedKey(parent)) {
        NodePtr followed = target;
        if (Follow(followed, 0) == kErrorSuccess && followed->Child(kWow64Node))
            target = followed;
    }
    return OpenNode(target, access, result);
}

long MemoryRegistry::CreateChild(const NodePtr& parent, const std::u16string& name,
                                 uint32_t options, NodePtr& child, bool& created) {
    child = parent->Child(name);
    created = !child;
    if (child)
        return kErrorSuccess;
    if ((parent->deniedAccess & kKeyCreateSubKey) != 0)
        return kErrorAccessDenied;
    child = std::make_shared<Node>();
    child->name = name;
    child->parent = parent;
    // A new link leads nowhere until its SymbolicLinkValue is set.
    child->isLink = (options & kOptionCreateLink) != 0;
    std::u16string folded = Fold(name);
    parent->children.insert(parent->Position(folded), {folded, child});
    ++changes_;
    return kErrorSuccess;
}

long MemoryRegistry::CreateKey(RegKey parent, const std::u16string& subKey, uint32_t options,
                               uint32_t access, RegKey& result, bool& created) {
    NodePtr node;
    if (long error = BeginKeyCall(parent, 0, node))
        return error;
    const std::u16string path = CString(subKey);
    if (!path.empty() && path.front() == u'\\')
        return kErrorBadPathname;
    auto parts = SplitRegistryPath(path);
    if (parts.empty() && IsPredefinedKey(parent)) {
        result = parent;
        created = false;
        return kErrorSuccess;
    }
    bool isNew = false;
    for (size_t i = 0; i < parts.size(); ++i) {
        NodePtr child;
        const bool last = i + 1 == parts.size();
        if (long error = CreateChild(node, parts[i], last ? options : 0, child, isNew))
            return error;
        if (!last || (options & kOptionOpenLink) == 0)
            if (long error = Follow(child, 0))
                return error;
        node = child;
    }
    created = isNew;
    return OpenNode(node, access, result);
}

long MemoryRegistry::OpenSubKey(RegKey parent, const std::u16string& name, uint32_t options,
                                uint32_t access, RegKey& result) {
    if (IsPredefinedKey(parent)) {
        ++calls_;
        return kErrorInvalidHandle;
    }
    NodePtr node;
    if (long error = BeginKeyCall(parent, 0, node))
        return error;
    NodePtr target;
    if (long error = Walk(node, name, (options & kOptionOpenLink) == 0, target))
        return error;
    return OpenNode(target, access, result);
}

long MemoryRegistry::CreateSubKey(RegKey parent, const std::u16string& name, uint32_t options,
                                  uint32_t access, RegKey& result, bool& created) {
    if (IsPredefinedKey(parent)) {
        ++calls_;
        return kErrorInvalidHandle;
    }
    NodePtr node;
    if (long error = BeginKeyCall(parent, kKeyCreateSubKey, node))
        return error;
    auto parts = SplitRegistryPath(name);
    if (parts.empty())
        return kErrorInvalidParameter;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        NodePtr child = node->Child(parts[i]);
        if (!child)
            return kErrorFileNotFound;
        if (long error = Follow(child, 0))
            return error;
        node = child;
    }
    NodePtr child;
    if (long error = CreateChild(node, parts.back(), options, child, created))
        return error;
    if (!created && (options & kOptionOpenLink) == 0)
        if (long error = Follow(child, 0))
            return error;
    return OpenNode(child, access, result);
}

long MemoryRegistry::QueryKeyName(RegKey key, std::u16string& name) {
    if (IsPredefinedKey(key)) {
        ++calls_;
        return kErrorInvalidHandle;
    }
    NodePtr node;
    if (long error = BeginKeyCall(key, 0, node))
        return error;
    name = NodeName(*node);
    return kErrorSuccess;
}

long MemoryRegistry::QueryValue(RegKey key, const std::u16string& name, uint32_t* type,
                                uint8_t* data, uint32_t* size) {
    NodePtr node;
    if (long error = BeginKeyCall(key, kKeyQueryValue, node))
        return error;
    Value* value = node->FindValue(CString(name));
    if (value == nullptr)
        return kErrorFileNotFound;
    const auto length = static_cast<uint32_t>(value->data.size());
    if (data != nullptr) {
        if (value->readError != 0)
            return value->readError;
        if (size == nullptr)
            return 87; // ERROR_INVALID_PARAMETER
        if (*size < length) {
            *size = length;
            return kErrorMoreData;
        }
        std::copy(value->data.begin(), value->data.end(), data);
    }
    if (type != nullptr)
        *type = value->type;
    if (size != nullptr)
        *size = length;
    return kErrorSuccess;
}

long MemoryRegistry::QueryKeyInfo(RegKey key, uint32_t& subKeys, uint32_t& values) {
    NodePtr node;
    if (long error = BeginKeyCall(key, kKeyQueryValue, node))
        return error;
    subKeys = static_cast<uint32_t>(node->children.size());
    values = static_cast<uint32_t>(node->values.size());
    return kErrorSuccess;
}

long MemoryRegistry::EnumSubKey(RegKey key, uint32_t index, std::u16string& name) {
    NodePtr node;
    if (long error = BeginKeyCall(key, kKeyEnumerateSubKeys, node))
        return error;
    if (index >= node->children.size())
        return kErrorNoMoreItems;
    name = node->children[index].second->name;
    return kErrorSuccess;
}

long MemoryRegistry::EnumValue(RegKey key, uint32_t index, std::u16string& name, uint32_t& type,
                               std::vector<uint8_t>& data) {
    NodePtr node;
    if (long error = BeginKeyCall(key, kKeyQueryValue, node))
        return error;
    if (index >= node->values.size())
        return kErrorNoMoreItems;
    const Value& value = node->values[index];
    if (value.readError != 0)
        return value.readError;
    name = value.name;
    type = value.type;
    data = value.data;
    return kErrorSuccess;
}

long MemoryRegistry::SetLinkTarget(Node& link, const std::vector<uint8_t>& target) const {
    std::u16string text;
    for (size_t i = 0; i + 1 < target.size(); i += 2)
        text.push_back(static_cast<char16_t>(target[i] | (target[i + 1] << 8)));
    // The root whose kernel name is the longest that starts the target.
    RegKey best = 0;
    size_t bestLength = 0;
    for (const auto& [root, node] : roots_) {
        const std::u16string prefix = RootKernelName(root);
        if (text.size() >= prefix.size() && SameFolded(text.substr(0, prefix.size()), prefix) &&
            (text.size() == prefix.size() || text[prefix.size()] == u'\\') &&
            prefix.size() > bestLength) {
            best = root;
            bestLength = prefix.size();
        }
    }
    link.linkRoot = best;
    link.linkPath = bestLength < text.size() ? text.substr(bestLength + 1) : std::u16string();
    return kErrorSuccess;
}

long MemoryRegistry::SetValue(RegKey key, const std::u16string& name, uint32_t type,
                              const std::vector<uint8_t>& data) {
    NodePtr node;
    if (long error = BeginKeyCall(key, kKeySetValue, node))
        return error;
    Value* value = node->FindValue(name);
    if (value == nullptr) {
        node->values.emplace_back();
        value = &node->values.back();
        value->name = name;
        value->folded = Fold(name);
    }
    value->type = type;
    value->data = data;
    ++changes_;
    if (node->isLink && type == kRegLink && SameFolded(name, kSymbolicLinkValueName))
        return SetLinkTarget(*node, data);
    return kErrorSuccess;
}

long MemoryRegistry::DeleteValue(RegKey key, const std::u16string& name) {
    NodePtr node;
    if (long error = BeginKeyCall(key, kKeySetValue, node))
        return error;
    Value* value = node->FindValue(name);
    if (value == nullptr)
        return kErrorFileNotFound;
    if (value->denyDelete)
        return kErrorAccessDenied;
    node->values.erase(node->values.begin() + (value - node->values.data()));
    ++changes_;
    return kErrorSuccess;
}

long MemoryRegistry::Remove(const NodePtr& node) {
    if (node->isRoot || node->denyDelete || (node->deniedAccess & kDelete) != 0 ||
        !node->children.empty())
        return kErrorAccessDenied;
    NodePtr parent = node->parent.lock();
    auto it = parent->Position(Fold(node->name));
    parent->children.erase(it);
    node->deleted = true;
    ++changes_;
    return kErrorSuccess;
}

long MemoryRegistry::DeleteKey(RegKey parent, const std::u16string& subKey) {
    NodePtr node;
    if (long error = BeginKeyCall(parent, 0, node))
        return error;
    NodePtr target;
    if (long error = Walk(node, CString(subKey), true, target))
        return error;
    return Remove(target);
}

long MemoryRegistry::DeleteOpenKey(RegKey key) {
    NodePtr node;
    if (long error = BeginKeyCall(key, kDelete, node))
        return error;
    return Remove(node);
}

long MemoryRegistry::CloseKey(RegKey key) noexcept {
    ++calls_;
    long error = kErrorSuccess;
    if (!IsPredefinedKey(key)) {
        auto it = handles_.find(key);
        if (it == handles_.end())
            error = kErrorInvalidHandle;
        else
            handles_.erase(it);
    }
    auto failure = failures_.find(calls_);
    return failure == failures_.end() ? error : failure->second;
}

} // namespace keystrip::platform
