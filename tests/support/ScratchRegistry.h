// A scratch key tree for registry behaviour tests. The same test runs against
// the in-memory registry and, in the Windows build, against the real registry
// (in the 32-bit view the program works in), under
//   HKLM\SOFTWARE\ZolvaKeystripTest\<unique> and HKCU\Software\ZolvaKeystripTest\<unique>,
// which the fixture creates and removes again.
#pragma once

#include "common/Utf.h"
#include "definitions/ZolvaProduct.h"
#include "platform/Registry.h"
#include "platform/doubles/MemoryRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/RegistryWin32.h"
#include "tests/support/NativeKeys.h"
#include <windows.h>
#endif

namespace keystrip::test {

inline platform::RegKey RootHandle(TZolvaProductRootKey root) {
    return root == rkLocalMachine ? platform::kHkeyLocalMachine : platform::kHkeyCurrentUser;
}

inline std::vector<uint8_t> Utf16Bytes(const std::u16string& text) {
    std::vector<uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

// Text for dumps: UTF-8, with NUL shown as \0.
inline std::string DumpText(const std::u16string& text) {
    std::string out;
    for (char16_t c : text)
        out += c == u'\0' ? std::string("\\0") : Utf16ToUtf8(std::u16string(1, c));
    return out;
}

inline std::string DumpValue(const std::string& path, const std::u16string& name, uint32_t type,
                             const std::vector<uint8_t>& data) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : data) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return "V " + path + " | " + DumpText(name) + " | " + std::to_string(type) + " | " + hex;
}

inline std::vector<uint8_t> DwordBytes(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

class ScratchRegistry {
public:
    explicit ScratchRegistry(const std::u16string& unique)
        : FMachineBase(u"SOFTWARE\\ZolvaKeystripTest\\" + unique),
          FUserBase(u"Software\\ZolvaKeystripTest\\" + unique) {}
    virtual ~ScratchRegistry() = default;
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;

    virtual platform::IRegistry& Registry() = 0;
    // The double, for fault injection and handle counting; null otherwise.
    virtual platform::MemoryRegistry* Memory() { return nullptr; }

    // The path below the root of a key in the scratch tree ("" is its top).
    std::u16string Key(TZolvaProductRootKey root, const std::u16string& relative) const {
        const std::u16string& base = root == rkLocalMachine ? FMachineBase : FUserBase;
        return relative.empty() ? base : base + u'\\' + relative;
    }

    virtual void CreateKey(TZolvaProductRootKey root, const std::u16string& relative) = 0;
    virtual void SetValue(TZolvaProductRootKey root, const std::u16string& relative,
                          const std::u16string& name, uint32_t type,
                          const std::vector<uint8_t>& data) = 0;
    // Makes the key a symbolic link to the target key.
    virtual void CreateLink(TZolvaProductRootKey root, const std::u16string& relative,
                            TZolvaProductRootKey targetRoot,
                            const std::u16string& targetRelative) = 0;
    // A subkey by its counted name, which may hold NUL characters.
    virtual void CreateNamedKey(TZolvaProductRootKey root, const std::u16string& parentRelative,
                                const std::u16string& name) = 0;
    // The counted names of a key's subkeys, in enumeration order.
    virtual std::vector<std::u16string> SubKeyNames(TZolvaProductRootKey root,
                                                    const std::u16string& relative) = 0;
    // Everything at and below a key, one sorted line per key, link and
    // value: paths below the key, value types and every data byte.
    virtual std::vector<std::string> Dump(TZolvaProductRootKey root,
                                          const std::u16string& relative) = 0;
    virtual bool KeyPresent(TZolvaProductRootKey root, const std::u16string& relative) = 0;
    virtual bool LinkPresent(TZolvaProductRootKey root, const std::u16string& relative) = 0;
    virtual bool ValuePresent(TZolvaProductRootKey root, const std::u16string& relative,
                              const std::u16string& name) = 0;

    // A text with its terminating NUL, as programs store it.
    void SetString(TZolvaProductRootKey root, const std::u16string& relative,
                   const std::u16string& name, const std::u16string& text,
                   uint32_t type = platform::kRegSz) {
        SetValue(root, relative, name, type, Utf16Bytes(text + u'\0'));
    }
    void SetDword(TZolvaProductRootKey root, const std::u16string& relative,
                  const std::u16string& name, uint32_t value) {
        SetValue(root, relative, name, platform::kRegDword, DwordBytes(value));
    }

private:
    std::u16string FMachineBase;
    std::u16string FUserBase;
};

class MemoryScratch final : public ScratchRegistry {
public:
    MemoryScratch() : ScratchRegistry(u"0") {
        FRegistry.CreateKey(platform::kHkeyLocalMachine, Key(rkLocalMachine, u""));
        FRegistry.CreateKey(platform::kHkeyCurrentUser, Key(rkCurrentUser, u""));
    }

    platform::IRegistry& Registry() override { return FRegistry; }
    platform::MemoryRegistry* Memory() override { return &FRegistry; }

    void CreateKey(TZolvaProductRootKey root, const std::u16string& relative) override {
        FRegistry.CreateKey(RootHandle(root), Key(root, relative));
    }
    void SetValue(TZolvaProductRootKey root, const std::u16string& relative,
                  const std::u16string& name, uint32_t type,
                  const std::vector<uint8_t>& data) override {
        FRegistry.SetValue(RootHandle(root), Key(root, relative), name, type, data);
    }
    void CreateLink(TZolvaProductRootKey root, const std::u16string& relative,
                    TZolvaProductRootKey targetRoot,
                    const std::u16string& targetRelative) override {
        FRegistry.CreateLink(RootHandle(root), Key(root, relative), RootHandle(targetRoot),
                             Key(targetRoot, targetRelative));
    }
    void CreateNamedKey(TZolvaProductRootKey root, const std::u16string& parentRelative,
                        const std::u16string& name) override {
        FRegistry.CreateKey(RootHandle(root), Key(root, parentRelative) + u'\\' + name);
    }
    std::vector<std::u16string> SubKeyNames(TZolvaProductRootKey root,
                                            const std::u16string& relative) override {
        return FRegistry.ChildNames(RootHandle(root), Key(root, relative));
    }
    std::vector<std::string> Dump(TZolvaProductRootKey root,
                                  const std::u16string& relative) override {
        const std::u16string top =
            platform::MemoryRegistry::KernelName(RootHandle(root)) + u'\\' + Key(root, relative);
        std::vector<std::string> lines;
        for (const auto& key : FRegistry.Content()) {
            if (key.kernelName.compare(0, top.size(), top) != 0 ||
                (key.kernelName.size() > top.size() && key.kernelName[top.size()] != u'\\'))
                continue;
            const std::string path = DumpText(key.kernelName.substr(top.size()));
            if (key.isLink) {
                lines.push_back("L " + path + " -> " + DumpText(key.linkTarget));
                continue;
            }
            lines.push_back("K " + path);
            for (const auto& value : key.values)
                lines.push_back(DumpValue(path, value.name, value.type, value.data));
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }
    bool KeyPresent(TZolvaProductRootKey root, const std::u16string& relative) override {
        return FRegistry.KeyPresent(RootHandle(root), Key(root, relative));
    }
    bool LinkPresent(TZolvaProductRootKey root, const std::u16string& relative) override {
        return FRegistry.LinkPresent(RootHandle(root), Key(root, relative));
    }
    bool ValuePresent(TZolvaProductRootKey root, const std::u16string& relative,
                      const std::u16string& name) override {
        return FRegistry.ValuePresent(RootHandle(root), Key(root, relative), name);
    }

private:
    platform::MemoryRegistry FRegistry;
};

#ifdef _WIN32

// Test-side Win32 helpers, independent of the code under test.
namespace win32 {

inline const wchar_t* W(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline HKEY Hkey(TZolvaProductRootKey root) {
    return root == rkLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// The view the program works in: the 32-bit one.
inline REGSAM View() {
    return static_cast<REGSAM>(platform::Win32Registry::ViewFlag());
}

inline void Check(LONG error, const char* what) {
    if (error != ERROR_SUCCESS)
        throw std::runtime_error(std::string(what) + " failed with " + std::to_string(error));
}

inline HKEY Create(HKEY root, const std::u16string& path, REGSAM view, DWORD options = 0) {
    HKEY key = nullptr;
    Check(RegCreateKeyExW(root, W(path), 0, nullptr, options, KEY_ALL_ACCESS | view, nullptr, &key,
                          nullptr),
          "RegCreateKeyExW");
    return key;
}

// The kernel name of a key (\REGISTRY\...), which a link's target must be.
inline std::wstring KernelName(HKEY key) {
    using NtQueryKeyFn = LONG(NTAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<NtQueryKeyFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
    std::vector<uint8_t> buffer(4096);
    ULONG length = 0;
    const int kKeyNameInformation = 3;
    if (query == nullptr || query(key, kKeyNameInformation, buffer.data(),
                                  static_cast<ULONG>(buffer.size()), &length) != 0)
        throw std::runtime_error("NtQueryKey failed");
    ULONG bytes = *reinterpret_cast<ULONG*>(buffer.data());
    return std::wstring(reinterpret_cast<wchar_t*>(buffer.data() + sizeof(ULONG)),
                        bytes / sizeof(wchar_t));
}

inline void CreateLink(HKEY root, const std::u16string& path, HKEY targetRoot,
                       const std::u16string& targetPath, REGSAM view) {
    HKEY target = Create(targetRoot, targetPath, view);
    std::wstring name = KernelName(target);
    RegCloseKey(target);
    HKEY link = Create(root, path, view, REG_OPTION_CREATE_LINK);
    LONG error = RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK,
                                reinterpret_cast<const BYTE*>(name.c_str()),
                                static_cast<DWORD>(name.size() * sizeof(wchar_t)));
    RegCloseKey(link);
    Check(error, "RegSetValueExW(SymbolicLinkValue)");
}

inline bool KeyPresent(HKEY root, const std::u16string& path, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, W(path), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

inline bool LinkPresent(HKEY root, const std::u16string& path, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, W(path), REG_OPTION_OPEN_LINK, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    LONG error = RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
    RegCloseKey(key);
    return error == ERROR_SUCCESS && type == REG_LINK;
}

// Removes a tree without ever going through a link (RegDeleteTreeW would)
// or cutting a name at a NUL.
inline void RemoveTree(HKEY parent, const std::wstring& name, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, name.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS | view, &key) !=
        ERROR_SUCCESS)
        return;
    native::DeleteTree(key);
    RegCloseKey(key);
}

} // namespace win32

class Win32Scratch final : public ScratchRegistry {
public:
    Win32Scratch() : ScratchRegistry(UniqueName()) {
        for (auto root : {rkLocalMachine, rkCurrentUser})
            RegCloseKey(win32::Create(win32::Hkey(root), Key(root, u""), win32::View()));
    }
    ~Win32Scratch() override {
        for (auto root : {rkLocalMachine, rkCurrentUser}) {
            std::u16string base = Key(root, u"");
            win32::RemoveTree(win32::Hkey(root), std::wstring(win32::W(base), base.size()),
                              win32::View());
            // The shared parent goes when the last test leaves it empty.
            std::u16string parent = base.substr(0, base.rfind(u'\\'));
            RegDeleteKeyExW(win32::Hkey(root), win32::W(parent), win32::View(), 0);
        }
    }

    platform::IRegistry& Registry() override { return FRegistry; }

    void CreateKey(TZolvaProductRootKey root, const std::u16string& relative) override {
        RegCloseKey(win32::Create(win32::Hkey(root), Key(root, relative), win32::View()));
    }
    void SetValue(TZolvaProductRootKey root, const std::u16string& relative,
                  const std::u16string& name, uint32_t type,
                  const std::vector<uint8_t>& data) override {
        HKEY key = win32::Create(win32::Hkey(root), Key(root, relative), win32::View());
        LONG error = RegSetValueExW(key, win32::W(name), 0, type, data.data(),
                                    static_cast<DWORD>(data.size()));
        RegCloseKey(key);
        win32::Check(error, "RegSetValueExW");
    }
    void CreateLink(TZolvaProductRootKey root, const std::u16string& relative,
                    TZolvaProductRootKey targetRoot,
                    const std::u16string& targetRelative) override {
        win32::CreateLink(win32::Hkey(root), Key(root, relative), win32::Hkey(targetRoot),
                          Key(targetRoot, targetRelative), win32::View());
    }
    void CreateNamedKey(TZolvaProductRootKey root, const std::u16string& parentRelative,
                        const std::u16string& name) override {
        HKEY parent = win32::Create(win32::Hkey(root), Key(root, parentRelative), win32::View());
        RegCloseKey(native::CreateChild(parent, name));
        RegCloseKey(parent);
    }
    std::vector<std::string> Dump(TZolvaProductRootKey root,
                                  const std::u16string& relative) override {
        std::vector<std::string> lines;
        HKEY key = nullptr;
        if (RegOpenKeyExW(win32::Hkey(root), win32::W(Key(root, relative)), REG_OPTION_OPEN_LINK,
                          KEY_READ | win32::View(), &key) == ERROR_SUCCESS) {
            DumpKey(key, "", lines);
            RegCloseKey(key);
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }
    std::vector<std::u16string> SubKeyNames(TZolvaProductRootKey root,
                                            const std::u16string& relative) override {
        HKEY key = nullptr;
        if (RegOpenKeyExW(win32::Hkey(root), win32::W(Key(root, relative)), 0,
                          KEY_READ | win32::View(), &key) != ERROR_SUCCESS)
            return {};
        auto names = native::SubKeyNames(key);
        RegCloseKey(key);
        return names;
    }
    bool KeyPresent(TZolvaProductRootKey root, const std::u16string& relative) override {
        return win32::KeyPresent(win32::Hkey(root), Key(root, relative), win32::View());
    }
    bool LinkPresent(TZolvaProductRootKey root, const std::u16string& relative) override {
        return win32::LinkPresent(win32::Hkey(root), Key(root, relative), win32::View());
    }
    bool ValuePresent(TZolvaProductRootKey root, const std::u16string& relative,
                      const std::u16string& name) override {
        HKEY key = nullptr;
        if (RegOpenKeyExW(win32::Hkey(root), win32::W(Key(root, relative)), 0,
                          KEY_READ | win32::View(), &key) != ERROR_SUCCESS)
            return false;
        LONG error = RegQueryValueExW(key, win32::W(name), nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
        return error == ERROR_SUCCESS;
    }

private:
    static void DumpKey(HKEY key, const std::string& path, std::vector<std::string>& lines) {
        std::vector<std::pair<std::u16string, std::vector<uint8_t>>> values;
        std::vector<uint32_t> types;
        for (DWORD index = 0;; ++index) {
            std::vector<wchar_t> name(32768);
            DWORD nameLength = static_cast<DWORD>(name.size());
            DWORD type = 0, size = 0;
            if (RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, nullptr,
                              &size) != ERROR_SUCCESS)
                break;
            std::vector<uint8_t> data(size);
            nameLength = static_cast<DWORD>(name.size());
            RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &size);
            data.resize(size);
            values.emplace_back(std::u16string(name.begin(), name.begin() + nameLength), data);
            types.push_back(type);
        }
        const bool link = values.size() == 1 && types[0] == REG_LINK &&
                          values[0].first == u"SymbolicLinkValue" &&
                          native::SubKeyNames(key).empty();
        if (link) {
            std::u16string target;
            for (size_t i = 0; i + 1 < values[0].second.size(); i += 2)
                target.push_back(
                    static_cast<char16_t>(values[0].second[i] | (values[0].second[i + 1] << 8)));
            lines.push_back("L " + path + " -> " + DumpText(target));
            return;
        }
        lines.push_back("K " + path);
        for (size_t i = 0; i < values.size(); ++i)
            lines.push_back(DumpValue(path, values[i].first, types[i], values[i].second));
        for (const auto& name : native::SubKeyNames(key)) {
            if (HKEY child = native::OpenChild(key, name, KEY_READ)) {
                DumpKey(child, path + "\\" + DumpText(name), lines);
                RegCloseKey(child);
            }
        }
    }

    static std::u16string UniqueName() {
        static unsigned counter = 0;
        std::string name = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
        return std::u16string(name.begin(), name.end());
    }

    platform::Win32Registry FRegistry;
};

#endif

// A registry the behaviour tests run against.
struct RegistryKind {
    std::string name;
    std::function<std::unique_ptr<ScratchRegistry>()> make;
};

inline std::vector<RegistryKind> RegistryKinds() {
    std::vector<RegistryKind> kinds{{"Memory", [] { return std::make_unique<MemoryScratch>(); }}};
#ifdef _WIN32
    kinds.push_back({"Win32", [] { return std::make_unique<Win32Scratch>(); }});
#endif
    return kinds;
}

inline void PrintTo(const RegistryKind& kind, std::ostream* os) {
    *os << kind.name;
}

inline std::string RegistryKindName(const ::testing::TestParamInfo<RegistryKind>& info) {
    return info.param.name;
}

// Base of the behaviour tests: a fresh scratch tree per test; on the double
// every test also proves that no key was left open.
class RegistryTest : public ::testing::TestWithParam<RegistryKind> {
protected:
    void SetUp() override { FScratch = GetParam().make(); }
    void TearDown() override {
        if (auto* memory = FScratch->Memory()) {
            EXPECT_EQ(memory->OpenHandleCount(), 0u) << "a key was left open";
        }
        FScratch.reset();
    }

    ScratchRegistry& Scratch() { return *FScratch; }
    platform::IRegistry& Registry() { return FScratch->Registry(); }
    std::u16string Key(TZolvaProductRootKey root, const std::u16string& relative) {
        return FScratch->Key(root, relative);
    }

private:
    std::unique_ptr<ScratchRegistry> FScratch;
};

} // namespace keystrip::test
