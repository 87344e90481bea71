// Exception types of the portable core. Every failure the description calls an
// error is one of these; callers catch std::exception at their fixed levels.
#pragma once

#include <stdexcept>
#include <string>

namespace keystrip {

// Base of all errors raised by the program's own code.
class EKeystripError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An index outside 0..Count-1 of an ordered list.
class EListError : public EKeystripError {
public:
    explicit EListError(long long index)
        : EKeystripError("List index out of bounds (" + std::to_string(index) + ")") {}
};

// A file that exists but cannot be opened, or cannot be created.
class EFileError : public EKeystripError {
public:
    using EKeystripError::EKeystripError;
};

// A text that is not a readable document.
class EParseError : public EKeystripError {
public:
    using EKeystripError::EKeystripError;
};

// A format string whose placeholders do not fit its arguments.
class EFormatError : public EKeystripError {
public:
    using EKeystripError::EKeystripError;
};

// A registry read that failed or met data of the wrong type.
class ERegistryError : public EKeystripError {
public:
    using EKeystripError::EKeystripError;
};

// An input/output failure, such as a catalogue left empty by its load.
class EInOutError : public EKeystripError {
public:
    using EKeystripError::EKeystripError;
};

} // namespace keystrip
