// An in-memory registry for tests: predefined roots, keys with subkeys and
// typed values, names compared without case as Windows does, symbolic links,
// fault injection and a count of open handles, so that tests can prove that
// no key stays open.
//
// It behaves as the registry does where the program depends on it: a key
// with subkeys refuses its own deletion (5); a handle to a deleted key fails
// with 1018; a link is followed unless opened with kOptionOpenLink, and
// DeleteKey by name deletes the link's target; RegOpenKeyExW(root, "") hands
// back the root itself; a leading backslash is 161; empty parts of a path
// are skipped. The advapi32-shaped calls cut names at their first NUL, as a
// C string ends there, while the counted calls take names whole; keys carry
// kernel names (\REGISTRY\MACHINE\..., HKEY_CURRENT_USER being
// \REGISTRY\USER\S-1-5-21-0-0-0-1000 and HKEY_CLASSES_ROOT
// \REGISTRY\MACHINE\SOFTWARE\Classes); and, as measured under Wine, an
// OpenKey below an open key (which carries the view flag of the x86-64
// build) with kOptionOpenLink still follows a link whose target has a
// Wow6432Node subkey.
#pragma once

#include "platform/Registry.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

namespace keystrip::platform {

class MemoryRegistry final : public IRegistry {
public:
    // HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
    // HKEY_PERFORMANCE_DATA and HKEY_CURRENT_CONFIG exist; HKEY_DYN_DATA does
    // not (as on Windows NT), so opening it fails with 6.
    MemoryRegistry();
    ~MemoryRegistry() override;
    MemoryRegistry(const MemoryRegistry&) = delete;
    MemoryRegistry& operator=(const MemoryRegistry&) = delete;

    // --- Content, for setting up a test. Paths are relative to a root and
    // follow links as an open does. These are no calls: they are neither
    // counted nor faulted. Misuse throws std::logic_error.
    void CreateKey(RegKey root, const std::u16string& path);
    // Creates the key when missing.
    void SetValue(RegKey root, const std::u16string& path, const std::u16string& name,
                  uint32_t type, std::vector<uint8_t> data);
    // The text with its terminating NUL, as RegSetValueExW stores it.
    void SetString(RegKey root, const std::u16string& path, const std::u16string& name,
                   const std::u16string& text, uint32_t type = kRegSz);
    void SetDword(RegKey root, const std::u16string& path, const std::u16string& name,
                  uint32_t value);
    // Makes the key at path (which must not exist) a link to the target.
    void CreateLink(RegKey root, const std::u16string& path, RegKey targetRoot,
                    const std::u16string& targetPath);
    void RemoveRoot(RegKey root);
    // Replaces the content (keys, values, links and the refusals set on
    // them) by a copy of the other registry's. Handles, the call count,
    // failing calls and the hook are not copied; open handles must be none.
    void CopyContentFrom(const MemoryRegistry& other);

    bool KeyPresent(RegKey root, const std::u16string& path) const;
    // True when the key at path is itself a link (the last part not followed).
    bool LinkPresent(RegKey root, const std::u16string& path) const;
    bool ValuePresent(RegKey root, const std::u16string& path, const std::u16string& name) const;
    // The key and every key below it.
    size_t SubtreeKeyCount(RegKey root, const std::u16string& path) const;
    // The names of a key's subkeys, in enumeration order.
    std::vector<std::u16string> ChildNames(RegKey root, const std::u16string& path) const;

    // Loading and unloading a hive: the content of `from`'s root fromRoot
    // becomes the key name below root (which must not exist); and back, the
    // key's content replacing what `into`'s root intoRoot held. Unmounting
    // fails, changing nothing, while a key at or below it is open.
    void MountHive(RegKey root, const std::u16string& name, const MemoryRegistry& from,
                   RegKey fromRoot);
    bool UnmountHive(RegKey root, const std::u16string& name, MemoryRegistry& into,
                     RegKey intoRoot);

    // Everything the registry holds, for comparing whole states: every key of
    // every root, parents before children, subkeys in enumeration order.
    struct KeyContent {
        std::u16string kernelName;
        int parent = -1; // index of the parent's entry; -1 for a root
        bool isLink = false;
        std::u16string linkTarget; // the kernel name a link leads to
        struct ValueContent {
            std::u16string name;
            uint32_t type;
            std::vector<uint8_t> data;
            bool operator==(const ValueContent& other) const {
                return name == other.name && type == other.type && data == other.data;
            }
        };
        std::vector<ValueContent> values; // in enumeration order
        bool denyDelete = false;
        uint32_t deniedAccess = 0;
    };
    std::vector<KeyContent> Content() const;
    // Content's entries without copying them, for comparing states often:
    // Visit is called for every key in Content's order with the index of its
    // parent's entry (-1 for a root), its own name (a root's kernel name) and
    // the rest of its entry; what it refers to lasts for the call.
    struct KeyVisit {
        int parent = -1;
        const std::u16string* name = nullptr;
        bool isLink = false;
        std::u16string linkTarget;
        std::vector<const KeyContent::ValueContent*> values;
        bool denyDelete = false;
        uint32_t deniedAccess = 0;
    };
    void VisitContent(const std::function<void(const KeyVisit&)>& visit) const;
    // The kernel name of a root (\REGISTRY\MACHINE for HKEY_LOCAL_MACHINE).
    static std::u16string KernelName(RegKey root);
    // Puts a root that many levels deeper below \REGISTRY (its kernel name
    // gains as many backslashes, each an empty part, the shortest way to be
    // deeper), so that a test reaches the registry's depth limit with a few
    // keys instead of hundreds. Set before any key is made below it.
    void SetRootDepth(RegKey root, int levels);
    // A root's kernel name in this registry (KernelName, deeper when set so).
    const std::u16string& RootKernelName(RegKey root) const;

    // --- Faults.
    // An open asking for any of these access bits fails with 5.
    void DenyOpen(RegKey root, const std::u16string& path, uint32_t deniedAccess);
    // Deleting the key fails with 5.
    void DenyDelete(RegKey root, const std::u16string& path);
    void DenyValueDelete(RegKey root, const std::u16string& path, const std::u16string& name);
    // Reading the value's data fails with error; type and size queries succeed.
    void FailValueRead(RegKey root, const std::u16string& path, const std::u16string& name,
                       long error);
    // The call with this number (see CallCount) fails with error and has no
    // effect, except that a failing CloseKey still closes its handle.
    void FailCall(uint64_t call, long error);
    // Runs before every call except CloseKey with the call's number; it may
    // throw, as a call that runs out of memory would.
    void SetCallHook(std::function<void(uint64_t call)> hook);

    // Calls made so far, CloseKey included; the first call is number 1.
    uint64_t CallCount() const { return calls_; }
    size_t OpenHandleCount() const { return handles_.size(); }
    // Calls so far that changed the content (a key created or removed, a
    // value set or deleted).
    uint64_t ChangeCount() const { return changes_; }

    long OpenKey(RegKey parent, const std::u16string& subKey, uint32_t options, uint32_t access,
                 RegKey& result) override;
    long CreateKey(RegKey parent, const std::u16string& subKey, uint32_t options, uint32_t access,
                   RegKey& result, bool& created) override;
    long OpenSubKey(RegKey parent, const std::u16string& name, uint32_t options, uint32_t access,
                    RegKey& result) override;
    long CreateSubKey(RegKey parent, const std::u16string& name, uint32_t options, uint32_t access,
                      RegKey& result, bool& created) override;
    long QueryKeyName(RegKey key, std::u16string& name) override;
    long QueryValue(RegKey key, const std::u16string& name, uint32_t* type, uint8_t* data,
                    uint32_t* size) override;
    long QueryKeyInfo(RegKey key, uint32_t& subKeys, uint32_t& values) override;
    long EnumSubKey(RegKey key, uint32_t index, std::u16string& name) override;
    long EnumValue(RegKey key, uint32_t index, std::u16string& name, uint32_t& type,
                   std::vector<uint8_t>& data) override;
    long SetValue(RegKey key, const std::u16string& name, uint32_t type,
                  const std::vector<uint8_t>& data) override;
    long DeleteValue(RegKey key, const std::u16string& name) override;
    long DeleteKey(RegKey parent, const std::u16string& subKey) override;
    long DeleteOpenKey(RegKey key) override;
    long CloseKey(RegKey key) noexcept override;

private:
    struct Node;
    struct Value;
    using NodePtr = std::shared_ptr<Node>;
    struct Handle {
        NodePtr node;
        uint32_t access = 0;
    };

    long BeginCall();
    // Counts the call, applies injected failures, finds the key and checks
    // that its handle was opened with neededAccess (0: no check).
    long BeginKeyCall(RegKey key, uint32_t neededAccess, NodePtr& node);
    long Lookup(RegKey key, NodePtr& node, uint32_t& access) const;
    long Walk(const NodePtr& start, const std::u16string& path, bool followLast, NodePtr& result,
              int depth = 0) const;
    long OpenNode(const NodePtr& node, uint32_t access, RegKey& result);
    long CreateChild(const NodePtr& parent, const std::u16string& name, uint32_t options,
                     NodePtr& child, bool& created);
    long SetLinkTarget(Node& link, const std::vector<uint8_t>& target) const;
    std::u16string NodeName(const Node& node) const;
    long Follow(NodePtr& node, int depth) const;
    long Remove(const NodePtr& node);
    NodePtr Root(RegKey root) const;
    static NodePtr CopyTree(const NodePtr& node, const NodePtr& parent);
    NodePtr Existing(RegKey root, const std::u16string& path, bool followLast = true) const;
    NodePtr Create(RegKey root, const std::u16string& path);
    Value& ExistingValue(RegKey root, const std::u16string& path, const std::u16string& name);

    std::map<RegKey, NodePtr> roots_;
    std::vector<std::u16string> rootNames_; // RootKernelName once one is deeper; else empty
    std::unordered_map<RegKey, Handle> handles_;
    RegKey nextHandle_ = 0x1000;
    uint64_t calls_ = 0;
    uint64_t changes_ = 0;
    std::map<uint64_t, long> failures_;
    std::function<void(uint64_t)> hook_;
};

} // namespace keystrip::platform
