#pragma once

// What the e-invoice tests share: the Factur-X schemas that scripts/deps caches, and running the
// command-line tools (xmllint, qpdf) that check what the program wrote. No Qt, so the core tests
// use it too.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <vector>

namespace velmo::test {

// The folder with Factur-X_1.07.3_EN16931.xsd, where scripts/deps puts it; empty when it is not there.
inline std::string facturXSchemaDir() {
    std::string dir;
    if (const char* set = std::getenv("VELMO_FACTURX_XSD_DIR"); set && *set)
        dir = set;
    else if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache)
        dir = std::string(cache) + "/velmo/factur-x-1.07.3";
    else if (const char* home = std::getenv("HOME"); home && *home)
        dir = std::string(home) + "/.cache/velmo/factur-x-1.07.3";
    if (dir.empty())
        return {};
    if (FILE* f = std::fopen((dir + "/Factur-X_1.07.3_EN16931.xsd").c_str(), "rb")) {
        std::fclose(f);
        return dir;
    }
    return {};
}

inline constexpr const char* kNoSchemas =
    "The Factur-X 1.07.3 schemas are missing: scripts/deps fetches them (or set VELMO_FACTURX_XSD_DIR)";

inline std::string shellQuoted(std::string_view s) {
    std::string out = "'";
    for (const char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

struct CommandResult {
    int status = -1;    // the exit code; -1 when the command did not run to its end
    std::string output; // stdout and stderr
};

inline CommandResult runCommand(const std::string& command) {
    CommandResult r;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return r;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        r.output.append(buffer.data(), n);
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// xmllint's verdict on files against the EN 16931 schema: empty when every file is valid,
// otherwise what xmllint said.
inline std::string schemaErrors(const std::vector<std::string>& files, const std::string& schemaDir) {
    std::string command =
        "xmllint --noout --nonet --schema " + shellQuoted(schemaDir + "/Factur-X_1.07.3_EN16931.xsd");
    for (const std::string& f : files)
        command += ' ' + shellQuoted(f);
    const CommandResult r = runCommand(command);
    return r.status == 0 ? std::string() : "xmllint exit " + std::to_string(r.status) + ":\n" + r.output;
}

} // namespace velmo::test

namespace velmo::test {

// The file a PDF carries under that name, as qpdf reads it out; empty when there is none.
inline std::string pdfAttachment(const std::string& pdf, const std::string& name) {
    const CommandResult r =
        runCommand("qpdf --show-attachment=" + shellQuoted(name) + ' ' + shellQuoted(pdf));
    return r.status == 0 ? r.output : std::string();
}

// The PDF's objects as qpdf's JSON shows them (empty when qpdf cannot read the file).
inline std::string pdfJson(const std::string& pdf) {
    const CommandResult r = runCommand("qpdf --json --json-key=qpdf " + shellQuoted(pdf));
    return r.status == 0 ? r.output : std::string();
}

} // namespace velmo::test
