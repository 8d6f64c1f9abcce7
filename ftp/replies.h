#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// What the client reads out of control-connection replies, without the connection: where a
// multi-line reply ends, and the address of a PASV reply. Lines are bytes as the server sent them,
// line end included.
namespace velmo {

// Follows one reply line by line and tells when it is complete.
//
// A reply whose first line is a three-digit code and "-" ("230-Welcome") runs up to the line that
// starts with the same code and a blank (or ends right after the code); the lines between may hold
// anything, a line that looks like another reply included, since servers pass text files (a
// welcome message) through unchanged. Anything else continues while a line starts with a blank or
// has "-" as its fourth character. A reply past its bounds cannot be told from what follows it.
class ReplyLines {
public:
    enum class Next { More, Done, TooLong };

    static constexpr std::size_t DefaultMaxLines = 10000;
    static constexpr std::size_t DefaultMaxBytes = std::size_t{1024} * 1024;

    explicit ReplyLines(std::size_t maxLines = DefaultMaxLines, std::size_t maxBytes = DefaultMaxBytes)
        : m_maxLines(maxLines), m_maxBytes(maxBytes) {}

    // Takes the reply's next line, its first line included.
    Next take(std::string_view line);

    // The code that opened a multi-line reply, empty when none did.
    const std::string& openingCode() const { return m_code; }

private:
    std::size_t m_maxLines;
    std::size_t m_maxBytes;
    std::size_t m_lines = 0;
    std::size_t m_bytes = 0;
    std::string m_code;
};

// The six numbers of a 227 reply: "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)" or the form
// without parentheses, "227 =h1,h2,h3,h4,p1,p2". They start at the first digit after the code; each
// is 0 to 255, blanks around a number are tolerated.
struct PasvAddress {
    std::array<int, 6> fields{};
    int port() const { return fields[4] * 256 + fields[5]; }
};

enum class PasvError { None, Malformed, NotANumber };

// The address, or nullopt with why not: a field that holds anything but digits and blanks is
// NotANumber (its text in badField), a missing field or one above 255 Malformed.
std::optional<PasvAddress> parsePasvReply(std::string_view reply, PasvError& error, std::string& badField);

} // namespace velmo
