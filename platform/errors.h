#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace velmo {

// Base of every error the program reports to the user. The message is UTF-8 and is what the
// standard error box shows.
class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A text that is not a number, a date or an integer.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A file that could not be opened for reading.
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};

// A file that could not be created or written.
class EFCreateError : public Exception {
public:
    using Exception::Exception;
};

// The file errors every layer raises, so a message reads the same wherever a file failed.
inline constexpr std::string_view kFileOpenError = "Datei %s kann nicht geöffnet werden";
inline constexpr std::string_view kFileCreateError = "Datei %s kann nicht erstellt werden";

// Replaces each "%s" in pattern, left to right, by the next argument.
std::string formatMessage(std::string_view pattern, std::initializer_list<std::string_view> args);

inline std::string formatMessage(std::string_view pattern, std::string_view arg) {
    return formatMessage(pattern, {arg});
}

} // namespace velmo
