// The file operations of the definition class: an existence test, reading a
// whole file and creating or replacing one. Names are UTF-16 (UTF-8 bytes on
// POSIX). Failures raise EFileError naming the file.
#pragma once

#include <cstdint>
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

} // namespace keystrip::platform
