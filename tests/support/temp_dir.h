#pragma once

#include <string>
#include <string_view>

namespace velmo::test {

// A fresh directory below the system's temporary directory, removed with everything in it when the
// object goes, also after a test took away its write permission. Unless told to keep the settings,
// it points the settings store at a file inside it for as long as it lives, so that no test touches
// the machine's store.
class TempDir {
public:
    enum class Settings { Redirect, Keep };

    explicit TempDir(Settings settings = Settings::Redirect);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(std::string_view name) const { return m_path + "/" + std::string(name); }
    std::string settingsPath() const { return file("velmo.ini"); }

private:
    std::string m_path;
    bool m_redirected = false;
    bool m_hadSettings = false;
    std::string m_oldSettings;
};

// Writes and reads a whole file as raw bytes, for setting up and checking files. Either throws
// std::runtime_error when the file cannot be opened, so a missing file never reads as empty.
void writeBytes(const std::string& path, std::string_view bytes);
std::string readBytes(const std::string& path);

} // namespace velmo::test
