// The file operations of the definition class: an existence test, reading a
// whole file and creating or replacing one. Names are UTF-16 (UTF-8 bytes on
// POSIX). Failures raise EFileError naming the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace keystrip::platform {

// True for an existing file; a directory or a missing name is no file.
bool FileExists(const std::u16string& fileName);

// Every byte of the file. While it is read, others may still read the file
// but not write it.
std::vector<uint8_t> ReadFileBytes(const std::u16string& fileName);

// Creates the file, replacing any file of that name, holding exactly these bytes.
void WriteFileBytes(const std::u16string& fileName, const std::string& bytes);

// A file written in parts that must reach the disk one by one: each Append
// returns only once its bytes are written and flushed. Others may read the
// file meanwhile, not write it. Failures raise EFileError naming the file.
class FileAppender {
public:
    // Opens the file for appending, creating it when missing.
    explicit FileAppender(const std::u16string& fileName);
    ~FileAppender();
    FileAppender(const FileAppender&) = delete;
    FileAppender& operator=(const FileAppender&) = delete;

    // The file's bytes when it was opened, up to count of them.
    std::vector<uint8_t> Head(size_t count);
    uint64_t Size() const { return FSize; }
    void Append(const std::vector<uint8_t>& bytes);

private:
    struct Handle;
    std::u16string FName;
    std::unique_ptr<Handle> FHandle;
    uint64_t FSize = 0;
};

} // namespace keystrip::platform
