// The file seam on Windows: CreateFileW, ReadFile and WriteFile; a guarded
// file checks what it opens by its handle.
#include "platform/Files.h"

#include "common/Errors.h"
#include "common/Utf.h"
#include "platform/TrustedOwnerWin32.h"

#include <windows.h>

#include <aclapi.h>

#include <algorithm>
#include <cwctype>
#include <memory>
#include <utility>
#include <vector>

namespace keystrip::platform {

namespace {

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() {
        if (Valid())
            ::CloseHandle(handle_);
    }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::string SystemMessage(DWORD error) {
    return Utf16ToUtf8(ErrorText(error));
}

[[noreturn]] void Fail(const char* what, const std::u16string& name, DWORD error) {
    throw EFileError(std::string(what) + " \"" + Utf16ToUtf8(name) + "\". " + SystemMessage(error));
}

} // namespace

bool FileExists(const std::u16string& fileName) {
    const DWORD attributes = ::GetFileAttributesW(Wide(fileName));
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<uint8_t> ReadFileBytes(const std::u16string& fileName) {
    FileHandle file(::CreateFileW(Wide(fileName), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        Fail("Cannot open file", fileName, ::GetLastError());
    std::vector<uint8_t> bytes;
    // Read to the end rather than trusting the size: it may change meanwhile.
    uint8_t chunk[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file.Get(), chunk, sizeof chunk, &n, nullptr))
            Fail("Cannot read file", fileName, ::GetLastError());
        if (n == 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

void WriteFileBytes(const std::u16string& fileName, const std::string& bytes) {
    FileHandle file(::CreateFileW(Wide(fileName), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        Fail("Cannot create file", fileName, ::GetLastError());
    size_t done = 0;
    while (done < bytes.size()) {
        const size_t left = bytes.size() - done;
        const DWORD part = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD n = 0;
        if (!::WriteFile(file.Get(), bytes.data() + done, part, &n, nullptr) || n == 0)
            Fail("Cannot write file", fileName, ::GetLastError());
        done += n;
    }
}

namespace {

class Win32NewFile final : public INewFile {
public:
    Win32NewFile(std::u16string name, HANDLE handle) : FName(std::move(name)), FFile(handle) {}
    const std::u16string& Name() const override { return FName; }

    void Append(const std::vector<uint8_t>& bytes) override {
        LARGE_INTEGER end{};
        if (!::SetFilePointerEx(FFile.Get(), end, nullptr, FILE_END))
            Fail("Cannot write", FName, ::GetLastError());
        size_t done = 0;
        while (done < bytes.size()) {
            const auto part = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
            DWORD n = 0;
            if (!::WriteFile(FFile.Get(), bytes.data() + done, part, &n, nullptr) || n == 0)
                Fail("Cannot write", FName, ::GetLastError());
            done += n;
        }
        // On disk before whatever it covers is deleted.
        if (!::FlushFileBuffers(FFile.Get()))
            Fail("Cannot write", FName, ::GetLastError());
    }

    void Truncate(uint64_t size) override {
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(size);
        if (!::SetFilePointerEx(FFile.Get(), at, nullptr, FILE_BEGIN) ||
            !::SetEndOfFile(FFile.Get()) || !::FlushFileBuffers(FFile.Get()))
            Fail("Cannot cut back", FName, ::GetLastError());
    }

private:
    std::u16string FName;
    FileHandle FFile;
};

} // namespace

std::unique_ptr<INewFile> CreateNewFile(const std::u16string& fileName) {
    // CREATE_NEW fails on any name that exists, a link (to anywhere, or to
    // nothing) included, so nothing at the name is ever followed or reused.
    HANDLE handle =
        ::CreateFileW(Wide(fileName), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
            throw EFileExists("\"" + Utf16ToUtf8(fileName) + "\" exists already");
        Fail("Cannot create", fileName, error);
    }
    return std::make_unique<Win32NewFile>(fileName, handle);
}

bool FolderExists(const std::u16string& name) {
    const DWORD attributes = ::GetFileAttributesW(Wide(name));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::u16string NameInFolder(const std::u16string& folder, const std::u16string& leaf) {
    if (folder.empty() || folder.back() == u'\\' || folder.back() == u'/' ||
        (folder.size() == 2 && folder[1] == u':'))
        return folder + leaf;
    return folder + u'\\' + leaf;
}

} // namespace keystrip::platform

// --- GuardedFile ---------------------------------------------------------------

namespace keystrip::platform {

namespace {

[[noreturn]] void Refuse(const std::u16string& name, const std::string& why) {
    throw EFileRefused("Refused to write \"" + Utf16ToUtf8(name) + "\": " + why + ".");
}

std::string Narrow(const std::wstring& text) {
    return Utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

std::wstring FullPath(const std::u16string& name) {
    const DWORD size = ::GetFullPathNameW(Wide(name), 0, nullptr, nullptr);
    std::wstring full(size ? size : 1, L'\0');
    const DWORD used = size ? ::GetFullPathNameW(Wide(name), size, full.data(), nullptr) : 0;
    if (used == 0 || used >= size)
        Fail("Cannot open", name, ::GetLastError());
    full.resize(used);
    return full;
}

// How long the volume part of a full path is: "C:\", "\\?\C:\",
// "\\server\share\", "\\?\UNC\server\share\". Zero for anything else (a
// device such as "\\.\pipe\x", which is no file on a disk).
size_t RootLength(const std::wstring& path) {
    auto driveAt = [&](size_t at) {
        return path.size() >= at + 3 && iswalpha(path[at]) && path[at + 1] == L':' &&
               path[at + 2] == L'\\';
    };
    auto shareEnd = [&](size_t at) -> size_t { // after "server\share\"
        const size_t server = path.find(L'\\', at);
        if (server == std::wstring::npos || server == at)
            return 0;
        const size_t share = path.find(L'\\', server + 1);
        if (share == std::wstring::npos || share == server + 1)
            return 0;
        return share + 1;
    };
    if (driveAt(0))
        return 3;
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return shareEnd(8);
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return driveAt(4) ? 7 : 0;
    if (path.rfind(L"\\\\.\\", 0) == 0)
        return 0;
    if (path.rfind(L"\\\\", 0) == 0)
        return shareEnd(2);
    return 0;
}

// Whether what the handle (opened without following) stands for is a
// reparse point that names another place: a symbolic link, a junction, a
// mount point. Windows tells it by the handle; some systems only by the
// name (Wine, for a link to a folder), and such a mark without a tag is
// taken for a link too.
bool IsRedirection(HANDLE handle, const std::wstring& path) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return IsReparseTagNameSurrogate(tag.ReparseTag);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::wstring FinalPath(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), 0);
        if (n == 0)
            return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(n + 1);
    }
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

void WriteAll(HANDLE file, const std::u16string& name, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const auto part = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD n = 0;
        if (!::WriteFile(file, bytes.data() + done, part, &n, nullptr) || n == 0)
            Fail("Cannot write", name, ::GetLastError());
        done += n;
    }
    if (!::FlushFileBuffers(file))
        Fail("Cannot write", name, ::GetLastError());
}

} // namespace

struct GuardedFile::State {
    std::wstring Folder; // the full path of the file's folder, without a final backslash
    std::wstring Leaf;
    // Every folder from the volume's root down, held so that none of them
    // can be renamed, removed or replaced by a link while the file is open.
    std::vector<std::unique_ptr<FileHandle>> Folders;
    std::unique_ptr<FileHandle> File;
};

GuardedFile::GuardedFile(const std::u16string& fileName)
    : FName(fileName), FState(std::make_unique<State>()) {
    const std::wstring full = FullPath(fileName);
    FName = std::u16string(full.begin(), full.end());
    const size_t root = RootLength(full);
    if (root == 0)
        Refuse(FName, "it is not a file on a disk");
    const size_t last = full.find_last_of(L'\\');
    if (last == std::wstring::npos || last + 1 >= full.size() || last < root - 1)
        Refuse(FName, "it names a folder");
    FState->Leaf = full.substr(last + 1);
    FState->Folder = full.substr(0, last);

    // Down from the root, each folder opened as itself, never through a link.
    std::wstring path = full.substr(0, root);
    size_t at = root;
    for (;;) {
        auto folder = std::make_unique<FileHandle>(::CreateFileW(
            path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!folder->Valid())
            Fail("Cannot open the folder of", FName, ::GetLastError());
        if (at > root && IsRedirection(folder->Get(), path))
            Refuse(FName, "the folder \"" + Narrow(path) + "\" on its path is a link");
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(folder->Get(), &info))
            Fail("Cannot open the folder of", FName, ::GetLastError());
        if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            Refuse(FName, "\"" + Narrow(path) + "\" on its path is no folder");
        FState->Folders.push_back(std::move(folder));
        if (at > last)
            break;
        const size_t end = full.find(L'\\', at);
        if (end != at) {
            if (path.back() != L'\\')
                path += L'\\';
            path += full.substr(at, end - at);
        }
        at = end + 1;
    }
    OpenLeaf(false);
}

GuardedFile::~GuardedFile() = default;

void GuardedFile::OpenLeaf(bool forRenaming) {
    const std::wstring path = FState->Folder + L"\\" + FState->Leaf;
    // No more than a writer needs (a share may grant computers no more), and
    // what the checks read; the right to rename only for moving it aside.
    const DWORD access =
        GENERIC_WRITE | READ_CONTROL | FILE_READ_ATTRIBUTES | (forRenaming ? DELETE : 0);
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    FState->File.reset();
    // Opened if it is there, else created; never created through a link: a
    // name that is a link to nowhere makes both fail.
    for (int attempt = 0; attempt < 2 && !FState->File; ++attempt) {
        auto file = std::make_unique<FileHandle>(::CreateFileW(
            path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr));
        DWORD error = ::GetLastError();
        if (file->Valid()) {
            FState->File = std::move(file);
            FCreated = false;
            break;
        }
        if (error != ERROR_FILE_NOT_FOUND) {
            if (FolderExists(FName))
                Refuse(FName, "it is a folder");
            Fail("Cannot open", FName, error);
        }
        file = std::make_unique<FileHandle>(::CreateFileW(path.c_str(), access, FILE_SHARE_READ,
                                                          nullptr, CREATE_NEW, flags, nullptr));
        error = ::GetLastError();
        if (file->Valid()) {
            FState->File = std::move(file);
            FCreated = true;
            break;
        }
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            Fail("Cannot create", FName, error);
    }
    if (!FState->File)
        Refuse(FName, "something that is no file stands at its name (a link that leads nowhere)");

    const HANDLE file = FState->File->Get();
    if (IsRedirection(file, path))
        Refuse(FName, "it is a symbolic link or another kind of link");
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info))
        Fail("Cannot open", FName, ::GetLastError());
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        Refuse(FName, "it is a folder");
    if (info.nNumberOfLinks > 1)
        Refuse(FName, "it has " + std::to_string(info.nNumberOfLinks) +
                          " hard links, so other names lead to the same file");
    // Where the opened file really is: in the folder held, under its name.
    const std::wstring folder = FinalPath(FState->Folders.back()->Get());
    const std::wstring real = FinalPath(file);
    if (folder.empty() || real.empty())
        Fail("Cannot tell where it lies:", FName, ::GetLastError());
    const std::wstring expected = folder + (folder.back() == L'\\' ? L"" : L"\\") + FState->Leaf;
    if (!SameName(real, expected))
        Refuse(FName, "its name leads to \"" + Narrow(real) + "\"");
    if (!FCreated) {
        const ObjectOwner owner = OwnerOf(file, SE_FILE_OBJECT);
        if (!owner.Trusted)
            Refuse(FName, "it belongs to " + Utf16ToUtf8(owner.Text) +
                              ", not to Administrators or SYSTEM");
    }
    FSize = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

void GuardedFile::Append(const std::string& bytes) {
    LARGE_INTEGER end{};
    if (!::SetFilePointerEx(FState->File->Get(), end, nullptr, FILE_END))
        Fail("Cannot write", FName, ::GetLastError());
    WriteAll(FState->File->Get(), FName, bytes);
    FSize += bytes.size();
}

void GuardedFile::Replace(const std::string& bytes) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(FState->File->Get(), start, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(FState->File->Get()))
        Fail("Cannot write", FName, ::GetLastError());
    FSize = 0;
    WriteAll(FState->File->Get(), FName, bytes);
    FSize = bytes.size();
}

void GuardedFile::MoveAside(const std::u16string& newLeafName) {
    // Opened again, checked again, with the right to rename it.
    FState->File.reset();
    OpenLeaf(true);
    const std::wstring target =
        FState->Folder + L"\\" + std::wstring(newLeafName.begin(), newLeafName.end());
    const size_t nameBytes = target.size() * sizeof(wchar_t);
    std::vector<uint8_t> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::copy(target.begin(), target.end(), rename->FileName);
    if (!::SetFileInformationByHandle(FState->File->Get(), FileRenameInfo, rename,
                                      static_cast<DWORD>(buffer.size())))
        Fail("Cannot rename", FName, ::GetLastError());
    OpenLeaf(false);
}

} // namespace keystrip::platform
