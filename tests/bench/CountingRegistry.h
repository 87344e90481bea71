// Counts the calls that reach a registry, to report calls per deleted key.
#pragma once

#include "platform/Registry.h"

namespace keystrip::bench {

class CountingRegistry final : public platform::IRegistry {
public:
    explicit CountingRegistry(platform::IRegistry& inner) : inner_(inner) {}
    unsigned long long Calls() const { return calls_; }

    long OpenKey(platform::RegKey parent, const std::u16string& subKey, uint32_t options,
                 uint32_t access, platform::RegKey& result) override {
        ++calls_;
        return inner_.OpenKey(parent, subKey, options, access, result);
    }
    long CreateKey(platform::RegKey parent, const std::u16string& subKey, uint32_t options,
                   uint32_t access, platform::RegKey& result, bool& created) override {
        ++calls_;
        return inner_.CreateKey(parent, subKey, options, access, result, created);
    }
    long OpenSubKey(platform::RegKey parent, const std::u16string& name, uint32_t options,
                    uint32_t access, platform::RegKey& result) override {
        ++calls_;
        return inner_.OpenSubKey(parent, name, options, access, result);
    }
    long CreateSubKey(platform::RegKey parent, const std::u16string& name, uint32_t options,
                      uint32_t access, platform::RegKey& result, bool& created) override {
        ++calls_;
        return inner_.CreateSubKey(parent, name, options, access, result, created);
    }
    long QueryKeyName(platform::RegKey key, std::u16string& name) override {
        ++calls_;
        return inner_.QueryKeyName(key, name);
    }
    long QueryValue(platform::RegKey key, const std::u16string& name, uint32_t* type, uint8_t* data,
                    uint32_t* size) override {
        ++calls_;
        return inner_.QueryValue(key, name, type, data, size);
    }
    long QueryKeyInfo(platform::RegKey key, uint32_t& subKeys, uint32_t& values) override {
        ++calls_;
        return inner_.QueryKeyInfo(key, subKeys, values);
    }
    long EnumSubKey(platform::RegKey key, uint32_t index, std::u16string& name) override {
        ++calls_;
        return inner_.EnumSubKey(key, index, name);
    }
    long EnumValue(platform::RegKey key, uint32_t index, std::u16string& name, uint32_t& type,
                   std::vector<uint8_t>& data) override {
        ++calls_;
        return inner_.EnumValue(key, index, name, type, data);
    }
    long SetValue(platform::RegKey key, const std::u16string& name, uint32_t type,
                  const std::vector<uint8_t>& data) override {
        ++calls_;
        return inner_.SetValue(key, name, type, data);
    }
    long DeleteValue(platform::RegKey key, const std::u16string& name) override {
        ++calls_;
        return inner_.DeleteValue(key, name);
    }
    long DeleteKey(platform::RegKey parent, const std::u16string& subKey) override {
        ++calls_;
        return inner_.DeleteKey(parent, subKey);
    }
    long DeleteOpenKey(platform::RegKey key) override {
        ++calls_;
        return inner_.DeleteOpenKey(key);
    }
    long CloseKey(platform::RegKey key) noexcept override {
        ++calls_;
        return inner_.CloseKey(key);
    }

private:
    platform::IRegistry& inner_;
    unsigned long long calls_ = 0;
};

// The shape of the tree: a top key, 99 children and 100 grandchildren each,
// 10,000 keys in all, each with one value.
constexpr int kChildren = 99;
constexpr int kGrandchildren = 100;
constexpr int kKeys = 1 + kChildren + kChildren * kGrandchildren;

} // namespace keystrip::bench
