// Plants, in the 32-bit view, registry states a user could plant to steer a
// removal, and takes them away again without being steered itself:
//
//   HostilePlanter nulkey ROOT PATH NAME [VALUE TEXT]   creates the subkey NAME of PATH
//                                            by its counted name ("<NUL>" in NAME is
//                                            U+0000), with the REG_EXPAND_SZ VALUE TEXT
//   HostilePlanter nulrm ROOT PATH NAME      deletes the subkey NAME of PATH, taken by its
//                                            counted name, and everything below it
//   HostilePlanter link ROOT PATH TARGET     makes PATH (which must not exist) a
//                                            registry link to the kernel name TARGET
//   HostilePlanter kernel ROOT PATH          prints the kernel name of PATH
//   HostilePlanter rmtree ROOT PATH          deletes PATH and everything below it by
//                                            counted names, never following a link
//   HostilePlanter value ROOT PATH NAME TYPE HEX   sets a value of any type to the bytes
//                                            HEX (two digits each, "-" for none)
//   HostilePlanter bigvalue ROOT PATH NAME SIZE   sets a REG_BINARY of SIZE bytes, byte i
//                                            being i * 7 modulo 256
//   HostilePlanter savehive ROOT PATH FILE   saves PATH as a hive file (RegSaveKeyW)
//   HostilePlanter hivedump HKU FILE         loads the hive FILE below HKEY_USERS, prints
//                                            one line per key and value, unloads it
//   HostilePlanter hold HKU NAME MS          waits (up to a minute) for HKEY_USERS\NAME,
//                                            prints "held", keeps a key of it open MS
//                                            milliseconds (another process holding a hive)
//
// ROOT is HKLM, HKCU, HKCR or HKU, all in the 32-bit view, or HKLM64 (the 64-bit
// view, where the profile list lies). Exit code 0 on success.
#include "tests/support/NativeKeys.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace {

using keystrip::test::native::CreateChild;

HKEY Root(const std::string& name) {
    if (name == "HKU")
        return HKEY_USERS;
    if (name == "HKLM" || name == "HKLM64")
        return HKEY_LOCAL_MACHINE;
    if (name == "HKCU")
        return HKEY_CURRENT_USER;
    if (name == "HKCR")
        return HKEY_CLASSES_ROOT;
    return nullptr;
}

std::u16string Text(const char* utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length - 1 : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), length);
    // Built by appending: an in-place replace trips a false -Wrestrict in the i686 compiler.
    const std::u16string source(wide.begin(), wide.end());
    const std::u16string token = u"<NUL>";
    std::u16string text;
    for (size_t at = 0; at < source.size();) {
        if (source.compare(at, token.size(), token) == 0) {
            text.push_back(u'\0');
            at += token.size();
        } else {
            text.push_back(source[at++]);
        }
    }
    return text;
}

const wchar_t* W(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::wstring KernelName(HKEY key) {
    using Fn = LONG(NTAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    static const auto query = keystrip::test::native::Ntdll<Fn>("NtQueryKey");
    std::wstring buffer(2048, L'\0');
    ULONG length = 0;
    if (query(key, 3 /* KeyNameInformation */, buffer.data(),
              static_cast<ULONG>(buffer.size() * sizeof(wchar_t)), &length) != 0)
        return {};
    const ULONG bytes = *reinterpret_cast<ULONG*>(buffer.data());
    return std::wstring(buffer.data() + sizeof(ULONG) / sizeof(wchar_t), bytes / sizeof(wchar_t));
}

bool EnablePrivileges() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    bool enabled = true;
    for (const wchar_t* name : {SE_BACKUP_NAME, SE_RESTORE_NAME}) {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        enabled = LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid) &&
                  AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) && enabled;
    }
    CloseHandle(token);
    return enabled;
}

std::string Utf8(const std::wstring& text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length,
                        nullptr, nullptr);
    return out;
}

void Dump(HKEY key, const std::wstring& path) {
    std::printf("K %s\n", Utf8(path).c_str());
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD length = 16384;
        DWORD type = 0;
        BYTE data[4096];
        DWORD size = sizeof data;
        if (RegEnumValueW(key, index, name, &length, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        std::string hex;
        for (DWORD i = 0; i < size; ++i) {
            char byte[3];
            std::snprintf(byte, sizeof byte, "%02x", data[i]);
            hex += byte;
        }
        std::printf("V %s | %s | %lu | %s\n", Utf8(path).c_str(),
                    Utf8(std::wstring(name, length)).c_str(), static_cast<unsigned long>(type),
                    hex.c_str());
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        HKEY child = nullptr;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &child) == ERROR_SUCCESS) {
            Dump(child, path + L"\\" + std::wstring(name, length));
            RegCloseKey(child);
        }
    }
}

int Fail(const char* what, LONG error) {
    std::fprintf(stderr, "%s failed: %ld\n", what, static_cast<long>(error));
    return 1;
}

} // namespace

static int Plant(int argc, char** argv) {
    if (argc < 4 || Root(argv[2]) == nullptr) {
        std::fprintf(stderr, "usage: HostilePlanter nulkey|link|kernel|rmtree ROOT PATH ...\n");
        return 2;
    }
    const std::string command = argv[1];
    HKEY root = Root(argv[2]);
    const std::u16string path = Text(argv[3]);
    const REGSAM view = std::string(argv[2]) == "HKLM64" ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;

    if (command == "rmtree") {
        HKEY key = nullptr;
        LONG error =
            RegOpenKeyExW(root, W(path), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS | view, &key);
        if (error == ERROR_FILE_NOT_FOUND)
            return 0;
        if (error != ERROR_SUCCESS)
            return Fail("RegOpenKeyExW", error);
        keystrip::test::native::DeleteTree(key);
        RegCloseKey(key);
        return 0;
    }
    if (command == "hivedump") {
        EnablePrivileges();
        const std::u16string file = Text(argv[3]);
        LONG error = RegLoadKeyW(HKEY_USERS, L"KeystripHiveCheck", W(file));
        if (error != ERROR_SUCCESS)
            return Fail("RegLoadKeyW", error);
        HKEY key = nullptr;
        error = RegOpenKeyExW(HKEY_USERS, L"KeystripHiveCheck", 0, KEY_READ, &key);
        if (error == ERROR_SUCCESS) {
            Dump(key, L"");
            RegCloseKey(key);
        }
        const LONG unloaded = RegUnLoadKeyW(HKEY_USERS, L"KeystripHiveCheck");
        if (error != ERROR_SUCCESS)
            return Fail("RegOpenKeyExW", error);
        return unloaded == ERROR_SUCCESS ? 0 : Fail("RegUnLoadKeyW", unloaded);
    }
    if (command == "hiveload" && argc > 4) {
        EnablePrivileges();
        const LONG error = RegLoadKeyW(HKEY_USERS, W(Text(argv[4])), W(Text(argv[3])));
        return error == ERROR_SUCCESS ? 0 : Fail("RegLoadKeyW", error);
    }
    if (command == "hiveunload") {
        EnablePrivileges();
        const LONG error = RegUnLoadKeyW(HKEY_USERS, W(path));
        return error == ERROR_SUCCESS ? 0 : Fail("RegUnLoadKeyW", error);
    }
    if (command == "hold" && argc > 4) {
        HKEY key = nullptr;
        for (int waited = 0; waited < 60000; ++waited) {
            if (RegOpenKeyExW(root, W(path), 0, KEY_READ, &key) == ERROR_SUCCESS)
                break;
            key = nullptr;
            Sleep(1);
        }
        if (key == nullptr)
            return Fail("RegOpenKeyExW", ERROR_FILE_NOT_FOUND);
        std::printf("held\n");
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(std::strtoul(argv[4], nullptr, 0)));
        RegCloseKey(key);
        return 0;
    }
    if (command == "kernel") {
        HKEY key = nullptr;
        LONG error = RegOpenKeyExW(root, W(path), 0, KEY_READ | view, &key);
        if (error != ERROR_SUCCESS)
            return Fail("RegOpenKeyExW", error);
        std::printf("%ls\n", KernelName(key).c_str());
        RegCloseKey(key);
        return 0;
    }
    if (argc < 5)
        return 2;
    if ((command == "value" && argc > 6) || (command == "bigvalue" && argc > 5)) {
        std::vector<BYTE> data;
        DWORD type = REG_BINARY;
        if (command == "value") {
            type = static_cast<DWORD>(std::strtoul(argv[5], nullptr, 0));
            const std::string hex = argv[6];
            for (size_t i = 0; hex != "-" && i + 1 < hex.size(); i += 2)
                data.push_back(static_cast<BYTE>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        } else {
            data.resize(std::strtoul(argv[5], nullptr, 0));
            for (size_t i = 0; i < data.size(); ++i)
                data[i] = static_cast<BYTE>(i * 7);
        }
        HKEY key = nullptr;
        LONG error = RegCreateKeyExW(root, W(path), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                                     &key, nullptr);
        if (error != ERROR_SUCCESS)
            return Fail("RegCreateKeyExW", error);
        error = RegSetValueExW(key, W(Text(argv[4])), 0, type, data.data(),
                               static_cast<DWORD>(data.size()));
        RegCloseKey(key);
        return error == ERROR_SUCCESS ? 0 : Fail("RegSetValueExW", error);
    }
    if (command == "savehive") {
        EnablePrivileges();
        HKEY key = nullptr;
        LONG error = RegOpenKeyExW(root, W(path), 0, KEY_READ | view, &key);
        if (error != ERROR_SUCCESS)
            return Fail("RegOpenKeyExW", error);
        error = RegSaveKeyW(key, W(Text(argv[4])), nullptr);
        RegCloseKey(key);
        return error == ERROR_SUCCESS ? 0 : Fail("RegSaveKeyW", error);
    }
    if (command == "nulkey") {
        HKEY parent = nullptr;
        LONG error = RegCreateKeyExW(root, W(path), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                                     &parent, nullptr);
        if (error != ERROR_SUCCESS)
            return Fail("RegCreateKeyExW", error);
        HKEY child = CreateChild(parent, Text(argv[4]));
        if (argc > 6) {
            const std::u16string text = Text(argv[6]);
            error = RegSetValueExW(child, W(Text(argv[5])), 0, REG_EXPAND_SZ,
                                   reinterpret_cast<const BYTE*>(text.c_str()),
                                   static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
        }
        RegCloseKey(child);
        RegCloseKey(parent);
        return error == ERROR_SUCCESS ? 0 : Fail("RegSetValueExW", error);
    }
    if (command == "nulrm") {
        HKEY parent = nullptr;
        LONG error = RegOpenKeyExW(root, W(path), 0, KEY_ALL_ACCESS | view, &parent);
        if (error != ERROR_SUCCESS)
            return Fail("RegOpenKeyExW", error);
        HKEY child = keystrip::test::native::OpenChild(parent, Text(argv[4]), KEY_ALL_ACCESS);
        if (child != nullptr) {
            keystrip::test::native::DeleteTree(child);
            RegCloseKey(child);
        }
        RegCloseKey(parent);
        return 0;
    }
    if (command == "link") {
        HKEY link = nullptr;
        LONG error = RegCreateKeyExW(root, W(path), 0, nullptr, REG_OPTION_CREATE_LINK,
                                     KEY_ALL_ACCESS | view, nullptr, &link, nullptr);
        if (error != ERROR_SUCCESS)
            return Fail("RegCreateKeyExW", error);
        const std::u16string target = Text(argv[4]);
        error = RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK,
                               reinterpret_cast<const BYTE*>(target.data()),
                               static_cast<DWORD>(target.size() * sizeof(char16_t)));
        RegCloseKey(link);
        return error == ERROR_SUCCESS ? 0 : Fail("RegSetValueExW", error);
    }
    return 2;
}

int main(int argc, char** argv) {
    try {
        return Plant(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "HostilePlanter: %s\n", e.what());
        return 1;
    }
}
