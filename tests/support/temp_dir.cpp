#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace velmo::test {

namespace fs = std::filesystem;

TempDir::TempDir(Settings settings) {
    std::string pattern = (fs::temp_directory_path() / "velmo-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary directory");
    m_path = pattern;
    if (settings == Settings::Redirect) {
        m_redirected = true;
        if (const char* old = std::getenv("VELMO_SETTINGS")) {
            m_hadSettings = true;
            m_oldSettings = old;
        }
        ::setenv("VELMO_SETTINGS", settingsPath().c_str(), 1);
    }
}

TempDir::~TempDir() {
    if (m_redirected) {
        if (m_hadSettings)
            ::setenv("VELMO_SETTINGS", m_oldSettings.c_str(), 1);
        else
            ::unsetenv("VELMO_SETTINGS");
    }
    // Tests take away permissions to provoke failures; give them back so everything can go.
    std::error_code ec;
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it =
             fs::recursive_directory_iterator(m_path, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(m_path, ec);
}

void writeBytes(const std::string& path, std::string_view bytes) {
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
