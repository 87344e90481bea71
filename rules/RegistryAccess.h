// The registry access object: one per rule, created with an access mask and
// a root, holding at most one open key. Paths start at the root; a leading
// backslash is dropped. Boolean operations report failure as false; only
// ReadString and ReadInteger raise ERegistryError (exhausted memory may
// raise anywhere). No key stays open once the object is gone.
#pragma once

#include "platform/Registry.h"
#include "rules/RegistryTree.h"

#include <cstdint>
#include <string>

namespace keystrip {

enum TRegDataType : uint8_t { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

class TRegistryAccess {
public:
    TRegistryAccess(platform::IRegistry& Registry, uint32_t Access);
    ~TRegistryAccess();
    TRegistryAccess(const TRegistryAccess&) = delete;
    TRegistryAccess& operator=(const TRegistryAccess&) = delete;

    platform::RegKey RootKey() const { return FRootKey; }
    // Closes the open key, which belongs to the old root.
    void SetRootKey(platform::RegKey Root);
    uint32_t Access() const { return FAccess; }

    // Opens the key for reading (0x20009, whatever the mask) and closes it at
    // once: a key that denies reading counts as absent, and so does a path
    // holding a NUL, which no C-string call can address.
    bool KeyExists(const std::u16string& Key);
    // Opens the key with the mask, never creating it; on success it becomes
    // the open key.
    bool OpenKey(const std::u16string& Key);
    // Opens the key with the mask the way a deletion must: part by part, never
    // steered by a link a user could plant (see TRegistryTree). On Reached it
    // becomes the open key.
    TKeyReach ReachKey(const std::u16string& Key);
    // Why the last ReachKey was Refused (TRegistryTree::LastRefusal).
    TRefusal ReachRefusal() const { return FRefusal; }
    bool HasOpenKey() const { return static_cast<bool>(FCurrentKey); }
    platform::RegKey CurrentKey() const { return FCurrentKey.Get(); }
    void CloseKey();

    // On the open key; an empty name is the default value.
    bool ValueExists(const std::u16string& Name);
    TRegDataType GetDataType(const std::u16string& Name);
    // The value's registry type and data size in bytes; false when it is absent.
    bool ValueInfo(const std::u16string& Name, uint32_t& Type, uint32_t& Size);
    // The stored text, unexpanded, cut at the first NUL; empty when it has no
    // data or its size cannot be queried. Raises when the data cannot be
    // read or the value is no REG_SZ or REG_EXPAND_SZ.
    std::u16string ReadString(const std::u16string& Name);
    // The 4 data bytes as a signed integer. Raises when the read fails or the
    // value is no REG_DWORD.
    int32_t ReadInteger(const std::u16string& Name);
    bool DeleteValue(const std::u16string& Name);

    // Deletes the key with its whole subtree, from the last subkey down;
    // true iff the key itself is gone. What cannot be deleted is kept, with
    // the keys on the path down to it. The key is reached as ReachKey does,
    // and the tree is walked by counted names without following any link
    // (TRegistryTree): a link inside it is deleted itself. Needs a mask with
    // DELETE, as the remover's KEY_ALL_ACCESS has. A path naming the root
    // itself (empty or only backslashes), holding a NUL or refused on the way
    // deletes nothing and gives false.
    bool DeleteKey(const std::u16string& Key);
    // The same; when the key stays, Refusal tells whether the program left
    // it alone and why (rfNone: the registry refused the deletion).
    bool DeleteKey(const std::u16string& Key, TRefusal& Refusal);

    // True for an empty path or one of only backslashes: it names the root.
    static bool NamesRoot(const std::u16string& Key);

private:
    static std::u16string RelativePath(const std::u16string& Key);

    platform::IRegistry& FRegistry;
    uint32_t FAccess;
    platform::RegKey FRootKey = platform::kHkeyCurrentUser;
    platform::RegKeyHandle FCurrentKey;
    TRefusal FRefusal = TRefusal::rfNone;
};

} // namespace keystrip
