// Native stand-in of the file seam: POSIX calls on UTF-8 names. POSIX has no
// share modes, so readers here do not keep writers out as on Windows.
#include "platform/Files.h"

#include "common/Errors.h"
#include "common/Utf.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

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

struct FileAppender::Handle {
    explicit Handle(int fd) : file(fd) {}
    FileDescriptor file;
};

FileAppender::FileAppender(const std::u16string& fileName) : FName(fileName) {
    const std::string name = Utf16ToUtf8(fileName);
    FHandle = std::make_unique<Handle>(::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (FHandle->file.Get() < 0)
        Fail("Cannot open", name, errno);
    struct stat info {};
    if (::fstat(FHandle->file.Get(), &info) != 0)
        Fail("Cannot read the size of", name, errno);
    FSize = static_cast<uint64_t>(info.st_size);
}

FileAppender::~FileAppender() = default;

std::vector<uint8_t> FileAppender::Head(size_t count) {
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min<uint64_t>(count, FSize)));
    const ssize_t n = ::pread(FHandle->file.Get(), bytes.data(), bytes.size(), 0);
    if (n < 0)
        Fail("Cannot read", Utf16ToUtf8(FName), errno);
    bytes.resize(static_cast<size_t>(n));
    return bytes;
}

void FileAppender::Append(const std::vector<uint8_t>& bytes) {
    const std::string name = Utf16ToUtf8(FName);
    if (::lseek(FHandle->file.Get(), 0, SEEK_END) < 0)
        Fail("Cannot write", name, errno);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(FHandle->file.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            Fail("Cannot write", name, n < 0 ? errno : ENOSPC);
        done += static_cast<size_t>(n);
    }
    // On disk before whatever it covers is deleted.
    if (::fsync(FHandle->file.Get()) != 0)
        Fail("Cannot write", name, errno);
    FSize += bytes.size();
}

} // namespace keystrip::platform
