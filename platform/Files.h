// The file operations of the definition class (an existence test, reading a
// whole file, creating or replacing one), of the backup (a new file of its
// own, written part by part) and of the files an elevated run writes
// (GuardedFile). Names are UTF-16 (UTF-8 bytes on POSIX). Failures raise
// EFileError naming the file.
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

// A file this run created and alone writes: appended to and cut back, each
// step on disk (written and flushed) before it returns. Others may read it
// meanwhile, not write it. Failures raise EFileError naming the file; after a
// failed Append part of the bytes may be there, and Truncate takes them off.
class INewFile {
public:
    virtual ~INewFile() = default;
    virtual const std::u16string& Name() const = 0;
    virtual void Append(const std::vector<uint8_t>& bytes) = 0;
    // Cuts the file back to its first size bytes.
    virtual void Truncate(uint64_t size) = 0;
};

// Something of that name exists already (file, folder or link).
class EFileExists : public EFileError {
public:
    using EFileError::EFileError;
};

// A file that GuardedFile will not write, and why (in English, naming it).
class EFileRefused : public EFileError {
public:
    using EFileError::EFileError;
};

// Creates the file, which must not exist: anything of that name, a link to
// elsewhere included, is left as it is and raises EFileExists (a link at the
// name is never followed); other failures raise EFileError.
std::unique_ptr<INewFile> CreateNewFile(const std::u16string& fileName);

// True for an existing folder (also one reached through a link).
bool FolderExists(const std::u16string& name);

// The name of leaf inside folder, with the system's separator between them.
std::u16string NameInFolder(const std::u16string& folder, const std::u16string& leaf);

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
