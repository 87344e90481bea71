// The file seam on Windows: CreateFileW, ReadFile and WriteFile.
#include "platform/Files.h"

#include "common/Errors.h"
#include "common/Utf.h"

#include <windows.h>

#include <algorithm>

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

struct FileAppender::Handle {
    explicit Handle(HANDLE handle) : file(handle) {}
    FileHandle file;
};

FileAppender::FileAppender(const std::u16string& fileName) : FName(fileName) {
    FHandle = std::make_unique<Handle>(::CreateFileW(Wide(fileName), GENERIC_READ | GENERIC_WRITE,
                                                     FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!FHandle->file.Valid())
        Fail("Cannot open", fileName, ::GetLastError());
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(FHandle->file.Get(), &size))
        Fail("Cannot read the size of", fileName, ::GetLastError());
    FSize = static_cast<uint64_t>(size.QuadPart);
}

FileAppender::~FileAppender() = default;

std::vector<uint8_t> FileAppender::Head(size_t count) {
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min<uint64_t>(count, FSize)));
    LARGE_INTEGER start{};
    DWORD read = 0;
    if (!::SetFilePointerEx(FHandle->file.Get(), start, nullptr, FILE_BEGIN) ||
        (!bytes.empty() && !::ReadFile(FHandle->file.Get(), bytes.data(),
                                       static_cast<DWORD>(bytes.size()), &read, nullptr)))
        Fail("Cannot read", FName, ::GetLastError());
    bytes.resize(read);
    return bytes;
}

void FileAppender::Append(const std::vector<uint8_t>& bytes) {
    LARGE_INTEGER end{};
    if (!::SetFilePointerEx(FHandle->file.Get(), end, nullptr, FILE_END))
        Fail("Cannot write", FName, ::GetLastError());
    size_t done = 0;
    while (done < bytes.size()) {
        const auto part = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD n = 0;
        if (!::WriteFile(FHandle->file.Get(), bytes.data() + done, part, &n, nullptr) || n == 0)
            Fail("Cannot write", FName, ::GetLastError());
        done += n;
    }
    // On disk before whatever it covers is deleted.
    if (!::FlushFileBuffers(FHandle->file.Get()))
        Fail("Cannot write", FName, ::GetLastError());
    FSize += bytes.size();
}

} // namespace keystrip::platform
