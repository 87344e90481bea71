#include "rules/RegistryAccess.h"

#include "common/Errors.h"

#include <vector>

namespace keystrip {

using namespace platform;

TRegistryAccess::TRegistryAccess(IRegistry& Registry, uint32_t Access)
    : FRegistry(Registry), FAccess(Access) {}

TRegistryAccess::~TRegistryAccess() {
    CloseKey();
}

void TRegistryAccess::SetRootKey(RegKey Root) {
    CloseKey();
    FRootKey = Root;
}

std::u16string TRegistryAccess::RelativePath(const std::u16string& Key) {
    if (!Key.empty() && Key.front() == u'\\')
        return Key.substr(1);
    return Key;
}

bool TRegistryAccess::NamesRoot(const std::u16string& Key) {
    return Key.find_first_not_of(u'\\') == std::u16string::npos;
}

bool TRegistryAccess::KeyExists(const std::u16string& Key) {
    if (TRegistryTree::HasNul(Key))
        return false;
    RegKeyHandle key;
    return OpenKeyHandle(FRegistry, FRootKey, RelativePath(Key), 0, kKeyQueryAndEnum, key) ==
           kErrorSuccess;
}

bool TRegistryAccess::OpenKey(const std::u16string& Key) {
    if (TRegistryTree::HasNul(Key))
        return false;
    RegKeyHandle key;
    if (OpenKeyHandle(FRegistry, FRootKey, RelativePath(Key), 0, FAccess, key) != kErrorSuccess)
        return false;
    FCurrentKey = std::move(key);
    return true;
}

void TRegistryAccess::CloseKey() {
    FCurrentKey.Close();
}

bool TRegistryAccess::ValueExists(const std::u16string& Name) {
    if (!FCurrentKey)
        return false;
    uint32_t type = 0;
    uint32_t size = 0;
    return FRegistry.QueryValue(FCurrentKey.Get(), Name, &type, nullptr, &size) == kErrorSuccess;
}

bool TRegistryAccess::ValueInfo(const std::u16string& Name, uint32_t& Type, uint32_t& Size) {
    return FCurrentKey &&
           FRegistry.QueryValue(FCurrentKey.Get(), Name, &Type, nullptr, &Size) == kErrorSuccess;
}

TRegDataType TRegistryAccess::GetDataType(const std::u16string& Name) {
    if (!FCurrentKey)
        return rdUnknown;
    uint32_t type = 0;
    uint32_t size = 0;
    if (FRegistry.QueryValue(FCurrentKey.Get(), Name, &type, nullptr, &size) != kErrorSuccess)
        return rdUnknown;
    switch (type) {
    case kRegSz:
        return rdString;
    case kRegExpandSz:
        return rdExpandString;
    case kRegDword:
        return rdInteger;
    case kRegBinary:
        return rdBinary;
    default:
        return rdUnknown;
    }
}

std::u16string TRegistryAccess::ReadString(const std::u16string& Name) {
    if (!FCurrentKey)
        throw ERegistryError("No key is open");
    uint32_t type = 0;
    uint32_t size = 0;
    if (FRegistry.QueryValue(FCurrentKey.Get(), Name, &type, nullptr, &size) != kErrorSuccess)
        return {};
    if (type != kRegSz && type != kRegExpandSz)
        throw ERegistryError("Invalid data type");
    if (size == 0)
        return {};
    // Room for an odd byte count and a terminator the data may lack.
    std::vector<uint8_t> data(size + 2, 0);
    uint32_t read = size;
    if (FRegistry.QueryValue(FCurrentKey.Get(), Name, &type, data.data(), &read) != kErrorSuccess)
        throw ERegistryError("Invalid registry data");
    if (type != kRegSz && type != kRegExpandSz)
        throw ERegistryError("Invalid data type");
    std::u16string text;
    for (uint32_t i = 0; i + 1 < read; i += 2) {
        auto c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (c == u'\0')
            break;
        text.push_back(c);
    }
    return text;
}

int32_t TRegistryAccess::ReadInteger(const std::u16string& Name) {
    if (!FCurrentKey)
        throw ERegistryError("No key is open");
    uint32_t type = 0;
    uint8_t data[4] = {};
    uint32_t size = sizeof data;
    if (FRegistry.QueryValue(FCurrentKey.Get(), Name, &type, data, &size) != kErrorSuccess)
        throw ERegistryError("Invalid registry data");
    if (type != kRegDword || size != sizeof data)
        throw ERegistryError("Invalid data type");
    return static_cast<int32_t>(static_cast<uint32_t>(data[0]) | (uint32_t{data[1]} << 8) |
                                (uint32_t{data[2]} << 16) | (uint32_t{data[3]} << 24));
}

bool TRegistryAccess::DeleteValue(const std::u16string& Name) {
    return FCurrentKey && FRegistry.DeleteValue(FCurrentKey.Get(), Name) == kErrorSuccess;
}

TKeyReach TRegistryAccess::ReachKey(const std::u16string& Key) {
    CloseKey();
    RegKeyHandle key;
    std::u16string kernelName;
    TRegistryTree tree(FRegistry, FAccess);
    const TKeyReach reach = tree.Reach(FRootKey, Key, false, key, kernelName);
    FRefusal = tree.LastRefusal();
    if (reach == TKeyReach::Reached)
        FCurrentKey = std::move(key);
    return reach;
}

bool TRegistryAccess::DeleteKey(const std::u16string& Key) {
    TRefusal refusal = TRefusal::rfNone;
    return DeleteKey(Key, refusal);
}

bool TRegistryAccess::DeleteKey(const std::u16string& Key, TRefusal& Refusal) {
    Refusal = TRefusal::rfNone;
    // Deleting a whole root would wipe every key below it.
    if (NamesRoot(Key)) {
        Refusal = TRefusal::rfNamesRoot;
        return false;
    }
    if (TRegistryTree::HasNul(Key)) {
        Refusal = TRefusal::rfHoldsNul;
        return false;
    }
    TRegistryTree tree(FRegistry, FAccess);
    RegKeyHandle key;
    std::u16string kernelName;
    switch (tree.Reach(FRootKey, Key, true, key, kernelName)) {
    case TKeyReach::Absent:
        return false;
    case TKeyReach::Refused:
        Refusal = tree.LastRefusal();
        return false;
    case TKeyReach::Reached:
        break;
    }
    uint8_t gaps = tgNone;
    const bool deleted = tree.DeleteTree(key.Get(), kernelName, &gaps);
    if (!deleted)
        Refusal = RefusalOf(gaps);
    return deleted;
}

} // namespace keystrip
