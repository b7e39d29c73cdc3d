#pragma once
#include <stdexcept>
#include <string>

namespace jet {

// Every failure of the engine: damaged file, refused write, bad value. The
// message names the file, and the table or page where that is known, so that
// a user can act on it.
class JetError : public std::runtime_error {
public:
    explicit JetError(const std::string& message) : std::runtime_error(message) {}
};

// The file is not an Access database this engine can work with (another
// format or version, texts in a code page it does not know, or an .accdb
// file encrypted with Office's encryption).
class UnsupportedFormatError : public JetError {
public:
    using JetError::JetError;
};

// The file has a database password and it was not given, or another was.
// The message names the file, never a password.
class PasswordError : public JetError {
public:
    using JetError::JetError;
};

// Another process holds the write lock of the file.
class LockedError : public JetError {
public:
    using JetError::JetError;
};

} // namespace jet
