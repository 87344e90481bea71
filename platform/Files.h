// The file operations of the definition class: an existence test, reading a
// whole file and creating or replacing one; and the files an elevated run
// writes (GuardedFile). Names are UTF-16 (UTF-8 bytes on POSIX). Failures
// raise EFileError naming the file.
#pragma once

#include "common/Errors.h"

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

// A file that GuardedFile will not write, and why (in English, naming it).
class EFileRefused : public EFileError {
public:
    using EFileError::EFileError;
};

// True for an existing folder (a link to one included).
bool FolderExists(const std::u16string& name);

// A file that a run as an administrator or SYSTEM writes, possibly in a
// folder that ordinary users can write too (C:\ProgramData): there, anyone
// may have put a link or a file of their own at the name beforehand, to make
// the run write where they choose. Opening refuses, with EFileRefused:
//  - a reparse point (symbolic link, junction, mount point) at the file or
//    at any folder on its path, and a name that leads to another place;
//  - a file with more than one hard link;
//  - an existing file whose owner is none of Administrators, SYSTEM and the
//    account this process runs as.
// A missing file is created (never through a link). Nothing is written, and
// nothing truncated, before these checks have passed. While the object
// lives, others may read the file but not write, rename or delete it, and no
// folder on its path can be renamed or removed. Other failures (a missing
// folder, no access) raise EFileError.
class GuardedFile {
public:
    explicit GuardedFile(const std::u16string& fileName);
    ~GuardedFile();
    GuardedFile(const GuardedFile&) = delete;
    GuardedFile& operator=(const GuardedFile&) = delete;

    // The full name of the file.
    const std::u16string& Name() const { return FName; }
    // Whether opening created the file.
    bool Created() const { return FCreated; }
    uint64_t Size() const { return FSize; }
    // Writes the bytes at the end and flushes them to disk.
    void Append(const std::string& bytes);
    // Makes the file hold exactly these bytes, flushed.
    void Replace(const std::string& bytes);
    // Renames the file to newLeafName in its folder, replacing a file of
    // that name, then creates a new, empty file under its own name.
    void MoveAside(const std::u16string& newLeafName);

private:
    struct State;
    void OpenLeaf(bool forRenaming);
    std::u16string FName;
    std::unique_ptr<State> FState;
    bool FCreated = false;
    uint64_t FSize = 0;
};

} // namespace keystrip::platform
