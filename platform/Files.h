// The file operations of the definition class (an existence test, reading a
// whole file, creating or replacing one) and of the backup (a new file of its
// own, written part by part). Names are UTF-16 (UTF-8 bytes on POSIX).
// Failures raise EFileError naming the file.
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

// Creates the file, which must not exist: anything of that name, a link to
// elsewhere included, is left as it is and raises EFileExists (a link at the
// name is never followed); other failures raise EFileError.
std::unique_ptr<INewFile> CreateNewFile(const std::u16string& fileName);

// True for an existing folder (also one reached through a link).
bool FolderExists(const std::u16string& name);

// The name of leaf inside folder, with the system's separator between them.
std::u16string NameInFolder(const std::u16string& folder, const std::u16string& leaf);

} // namespace keystrip::platform
