// Native stand-in of the file seam: POSIX calls on UTF-8 names. POSIX has no
// share modes, so readers here do not keep writers out as on Windows.
#include "platform/Files.h"

#include "common/Errors.h"
#include "common/Utf.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

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
