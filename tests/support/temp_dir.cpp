#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace velmo::test {

TempDir::TempDir() {
    if (const char* old = std::getenv("VELMO_SETTINGS")) {
        m_hadSettings = true;
        m_oldSettings = old;
    }
    ::setenv("VELMO_SETTINGS", settingsPath().c_str(), 1);
}

TempDir::~TempDir() {
    if (m_hadSettings)
        ::setenv("VELMO_SETTINGS", m_oldSettings.c_str(), 1);
    else
        ::unsetenv("VELMO_SETTINGS");
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace velmo::test
