// The file seam on Windows: CreateFileW, ReadFile and WriteFile.
#include "platform/Files.h"

#include "common/Errors.h"
#include "common/Utf.h"

#include <windows.h>

#include <algorithm>
#include <utility>

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
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::u16string text;
    if (n > 0 && buffer)
        text.assign(reinterpret_cast<const char16_t*>(buffer), n);
    if (buffer)
        ::LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
        text.pop_back();
    if (text.empty())
        return "System error " + std::to_string(error) + ".";
    return Utf16ToUtf8(text);
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
