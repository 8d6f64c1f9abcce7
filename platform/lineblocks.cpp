#include "platform/lineblocks.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace velmo {

LineBlockReader::LineBlockReader(const std::string& path, std::size_t blockBytes)
    : m_file(path), m_capacity(std::max<std::size_t>(blockBytes, 2)), m_buffer(new char[m_capacity]) {}

void LineBlockReader::fill() {
    while (!m_eof && m_end < m_capacity) {
        const ssize_t n = ::read(m_file.handle(), m_buffer.get() + m_end, m_capacity - m_end);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            m_file.fail();
        }
        if (n == 0)
            m_eof = true;
        m_end += static_cast<std::size_t>(n);
    }
}

bool LineBlockReader::next(std::string_view& block) {
    for (;;) {
        // What the last block left over goes to the front, and the rest of the buffer is filled.
        if (m_begin > 0) {
            std::memmove(m_buffer.get(), m_buffer.get() + m_begin, m_end - m_begin);
            m_end -= m_begin;
            m_begin = 0;
        }
        fill();
        if (m_end == 0)
            return false;
        if (m_eof) {
            block = std::string_view(m_buffer.get(), m_end);
            m_begin = m_end;
            m_done += block.size();
            return true;
        }
        // The block ends after the last line break in the buffer, unless that break is a CR in the
        // buffer's last byte: an LF may follow it in the file. It then ends at the break before.
        std::size_t cut = m_end;
        while (cut > 0 && m_buffer[cut - 1] != '\n' && m_buffer[cut - 1] != '\r')
            --cut;
        if (cut == m_end && m_buffer[cut - 1] == '\r') {
            --cut;
            while (cut > 0 && m_buffer[cut - 1] != '\n' && m_buffer[cut - 1] != '\r')
                --cut;
        }
        if (cut > 0) {
            block = std::string_view(m_buffer.get(), cut);
            m_begin = cut;
            m_done += cut;
            return true;
        }
        // One line fills the whole buffer: a larger one.
        m_capacity *= 2;
        std::unique_ptr<char[]> larger(new char[m_capacity]);
        std::memcpy(larger.get(), m_buffer.get(), m_end);
        m_buffer = std::move(larger);
    }
}

} // namespace velmo
