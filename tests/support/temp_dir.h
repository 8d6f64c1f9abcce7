#pragma once

#include <QTemporaryDir>

#include <string>

namespace velmo::test {

// A scratch directory for one test, removed afterwards; also points the settings store at a file
// inside it so no test touches the machine's store.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string path() const { return m_dir.path().toStdString(); }
    std::string file(const std::string& name) const { return path() + "/" + name; }
    std::string settingsPath() const { return file("velmo.ini"); }

private:
    QTemporaryDir m_dir;
    std::string m_oldSettings;
    bool m_hadSettings = false;
};

// Write and read raw bytes, for setting up and checking files.
void writeBytes(const std::string& path, const std::string& bytes);
std::string readBytes(const std::string& path);

} // namespace velmo::test
