#include "ftp/replies.h"

#include <algorithm>

namespace velmo {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool opensMultiLine(std::string_view line) {
    return line.size() > 3 && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2]) && line[3] == '-';
}

bool isContinuation(std::string_view line) {
    return !line.empty() && (line[0] == ' ' || (line.size() > 3 && line[3] == '-'));
}

// "230 ..." or a bare "230" ending a "230-" reply.
bool closes(std::string_view line, std::string_view code) {
    if (!line.starts_with(code))
        return false;
    line.remove_prefix(code.size());
    return line.empty() || line[0] == ' ' || line[0] == '\r' || line[0] == '\n';
}

// One number field: blanks around are tolerated; values are capped so a long field cannot overflow.
std::optional<int> parseField(std::string_view text) {
    const std::size_t begin = text.find_first_not_of(' ');
    if (begin == std::string_view::npos)
        return std::nullopt;
    text = text.substr(begin, text.find_last_not_of(' ') - begin + 1);
    long value = 0;
    for (char c : text) {
        if (!isDigit(c))
            return std::nullopt;
        value = std::min(value * 10 + (c - '0'), 100000L);
    }
    return static_cast<int>(value);
}

} // namespace

ReplyLines::Next ReplyLines::take(std::string_view line) {
    ++m_lines;
    m_bytes += line.size();
    if (m_lines > m_maxLines || m_bytes > m_maxBytes)
        return Next::TooLong;
    if (!m_code.empty())
        return closes(line, m_code) ? Next::Done : Next::More;
    if (opensMultiLine(line)) {
        m_code = line.substr(0, 3);
        return Next::More;
    }
    return isContinuation(line) ? Next::More : Next::Done;
}

std::optional<PasvAddress> parsePasvReply(std::string_view reply, PasvError& error, std::string& badField) {
    error = PasvError::Malformed;
    badField.clear();
    std::size_t pos = reply.size() > 3 ? reply.find_first_of("0123456789", 3) : std::string_view::npos;
    if (pos == std::string_view::npos)
        return std::nullopt;
    PasvAddress address;
    for (std::size_t i = 0; i < address.fields.size(); ++i) {
        const bool last = i + 1 == address.fields.size();
        const std::size_t end = last ? reply.find_first_not_of("0123456789 ", pos) : reply.find(',', pos);
        if (!last && end == std::string_view::npos)
            return std::nullopt;
        const std::string_view text = reply.substr(pos, end == std::string_view::npos ? end : end - pos);
        const std::optional<int> value = parseField(text);
        if (!value) {
            error = PasvError::NotANumber;
            badField = text;
            return std::nullopt;
        }
        if (*value > 255)
            return std::nullopt;
        address.fields[i] = *value;
        if (!last)
            pos = end + 1;
    }
    error = PasvError::None;
    return address;
}

} // namespace velmo
