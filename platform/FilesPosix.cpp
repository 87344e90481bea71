// Native stand-in of the file seam: POSIX calls on UTF-8 names. POSIX has no
// share modes, so readers here do not keep writers out as on Windows.
#include "platform/Files.h"

#include "common/Errors.h"
#include "common/Utf.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace keystrip::platform {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int Get() const { return fd_; }
    // Closing can report a late write failure, so the writer asks for it.
    int Close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

[[noreturn]] void Fail(const char* what, const std::string& name, int error) {
    throw EFileError(std::string(what) + " \"" + name + "\". " + std::strerror(error));
}

} // namespace

bool FileExists(const std::u16string& fileName) {
    struct stat st {};
    // Only regular files: reading a device or a pipe could block for ever.
    return ::stat(Utf16ToUtf8(fileName).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<uint8_t> ReadFileBytes(const std::u16string& fileName) {
    const std::string name = Utf16ToUtf8(fileName);
    FileDescriptor fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0)
        Fail("Cannot open file", name, errno);
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail("Cannot read file", name, errno);
        }
        if (n == 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

void WriteFileBytes(const std::u16string& fileName, const std::string& bytes) {
    const std::string name = Utf16ToUtf8(fileName);
    FileDescriptor fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.Get() < 0)
        Fail("Cannot create file", name, errno);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail("Cannot write file", name, errno);
        }
        done += static_cast<size_t>(n);
    }
    if (fd.Close() != 0)
        Fail("Cannot write file", name, errno);
}

namespace {

class PosixNewFile final : public INewFile {
public:
    PosixNewFile(std::u16string name, int fd) : FName(std::move(name)), FFile(fd) {}
    const std::u16string& Name() const override { return FName; }

    void Append(const std::vector<uint8_t>& bytes) override {
        const std::string name = Utf16ToUtf8(FName);
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(FFile.Get(), bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                Fail("Cannot write", name, n < 0 ? errno : ENOSPC);
            done += static_cast<size_t>(n);
        }
        // On disk before whatever it covers is deleted.
        if (::fsync(FFile.Get()) != 0)
            Fail("Cannot write", name, errno);
    }

    void Truncate(uint64_t size) override {
        const std::string name = Utf16ToUtf8(FName);
        if (::ftruncate(FFile.Get(), static_cast<off_t>(size)) != 0 ||
            ::lseek(FFile.Get(), static_cast<off_t>(size), SEEK_SET) < 0 ||
            ::fsync(FFile.Get()) != 0)
            Fail("Cannot cut back", name, errno);
    }

private:
    std::u16string FName;
    FileDescriptor FFile;
};

} // namespace

std::unique_ptr<INewFile> CreateNewFile(const std::u16string& fileName) {
    const std::string name = Utf16ToUtf8(fileName);
    // O_EXCL: whatever has the name, a dangling link included, is not opened.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST)
        throw EFileExists("\"" + name + "\" exists already");
    if (fd < 0)
        Fail("Cannot create", name, errno);
    return std::make_unique<PosixNewFile>(fileName, fd);
}

bool FolderExists(const std::u16string& name) {
    struct stat st {};
    return ::stat(Utf16ToUtf8(name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::u16string NameInFolder(const std::u16string& folder, const std::u16string& leaf) {
    if (folder.empty() || folder.back() == u'/')
        return folder + leaf;
    return folder + u'/' + leaf;
}

} // namespace keystrip::platform

// --- GuardedFile ---------------------------------------------------------------
// openat from the root down with O_NOFOLLOW; the owner must be root or this
// process's user. POSIX has no share modes: the folders are not held against
// renaming here.

namespace keystrip::platform {

namespace {

[[noreturn]] void Refuse(const std::string& name, const std::string& why) {
    throw EFileRefused("Refused to write \"" + name + "\": " + why + ".");
}

bool IsLinkAt(int folder, const std::string& name) {
    struct stat info {};
    return ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISLNK(info.st_mode);
}

void WriteAll(int fd, const std::string& name, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail("Cannot write", name, n < 0 ? errno : ENOSPC);
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0)
        Fail("Cannot write", name, errno);
}

} // namespace

struct GuardedFile::State {
    std::unique_ptr<FileDescriptor> Folder;
    std::string Leaf;
    std::unique_ptr<FileDescriptor> File;
};

GuardedFile::GuardedFile(const std::u16string& fileName)
    : FName(fileName), FState(std::make_unique<State>()) {
    std::string path = Utf16ToUtf8(fileName);
    if (path.empty() || path.back() == '/')
        Refuse(path, "it names a folder");
    if (path.front() != '/') {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd) == nullptr)
            Fail("Cannot open", path, errno);
        path = std::string(cwd) + "/" + path;
    }
    // The parts, "." and ".." resolved by name (no link is followed anyway).
    std::vector<std::string> parts;
    for (size_t at = 1; at <= path.size();) {
        size_t end = path.find('/', at);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    if (parts.empty())
        Refuse(path, "it names a folder");
    std::string full;
    for (const std::string& part : parts)
        full += "/" + part;
    FName = Utf8ToUtf16(full);
    FState->Leaf = parts.back();
    parts.pop_back();

    auto folder = std::make_unique<FileDescriptor>(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::string walked;
    for (const std::string& part : parts) {
        walked += "/" + part;
        if (IsLinkAt(folder->Get(), part))
            Refuse(full, "the folder \"" + walked + "\" on its path is a link");
        auto next = std::make_unique<FileDescriptor>(
            ::openat(folder->Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next->Get() < 0)
            Fail("Cannot open the folder of", full, errno);
        folder = std::move(next);
    }
    FState->Folder = std::move(folder);
    OpenLeaf(false);
}

GuardedFile::~GuardedFile() = default;

void GuardedFile::OpenLeaf(bool) {
    const std::string name = Utf16ToUtf8(FName);
    const int folder = FState->Folder->Get();
    const char* leaf = FState->Leaf.c_str();
    FState->File.reset();
    for (int attempt = 0; attempt < 2 && !FState->File; ++attempt) {
        auto file = std::make_unique<FileDescriptor>(
            ::openat(folder, leaf, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (file->Get() >= 0) {
            FState->File = std::move(file);
            FCreated = false;
            break;
        }
        if (errno == ELOOP || IsLinkAt(folder, FState->Leaf))
            Refuse(name, "it is a symbolic link");
        if (errno == EISDIR)
            Refuse(name, "it is a folder");
        if (errno != ENOENT)
            Fail("Cannot open", name, errno);
        file = std::make_unique<FileDescriptor>(
            ::openat(folder, leaf, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (file->Get() >= 0) {
            FState->File = std::move(file);
            FCreated = true;
            break;
        }
        if (errno != EEXIST)
            Fail("Cannot create", name, errno);
    }
    if (!FState->File)
        Refuse(name, "something that is no file stands at its name (a link that leads nowhere)");
    struct stat info {};
    if (::fstat(FState->File->Get(), &info) != 0)
        Fail("Cannot open", name, errno);
    if (!S_ISREG(info.st_mode))
        Refuse(name, "it is no plain file");
    if (info.st_nlink > 1)
        Refuse(name, "it has " + std::to_string(info.st_nlink) +
                         " hard links, so other names lead to the same file");
    if (!FCreated && info.st_uid != 0 && info.st_uid != ::geteuid())
        Refuse(name, "it belongs to user " + std::to_string(info.st_uid) +
                         ", not to root or this process's user");
    // Opened without waiting for a reader of a pipe; writes may block again.
    ::fcntl(FState->File->Get(), F_SETFL, 0);
    FSize = static_cast<uint64_t>(info.st_size);
}

void GuardedFile::Append(const std::string& bytes) {
    const std::string name = Utf16ToUtf8(FName);
    if (::lseek(FState->File->Get(), 0, SEEK_END) < 0)
        Fail("Cannot write", name, errno);
    WriteAll(FState->File->Get(), name, bytes);
    FSize += bytes.size();
}

void GuardedFile::Replace(const std::string& bytes) {
    const std::string name = Utf16ToUtf8(FName);
    if (::ftruncate(FState->File->Get(), 0) != 0 || ::lseek(FState->File->Get(), 0, SEEK_SET) < 0)
        Fail("Cannot write", name, errno);
    FSize = 0;
    WriteAll(FState->File->Get(), name, bytes);
    FSize = bytes.size();
}

void GuardedFile::MoveAside(const std::u16string& newLeafName) {
    const int folder = FState->Folder->Get();
    if (::renameat(folder, FState->Leaf.c_str(), folder, Utf16ToUtf8(newLeafName).c_str()) != 0)
        Fail("Cannot rename", Utf16ToUtf8(FName), errno);
    OpenLeaf(false);
}

} // namespace keystrip::platform
