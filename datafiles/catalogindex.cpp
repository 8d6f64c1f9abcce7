#include "datafiles/catalogindex.h"

#include "datafiles/fieldcheck.h"
#include "platform/cp1252.h"

#include <sys/stat.h>
#include <unistd.h>

namespace velmo::datafiles {

namespace {

constexpr std::string_view kSeparator = ";;";

// Missing, not writable for us, or carrying no write permission bit at all. The last case matters
// when running as root, for whom access() grants everything: a file the owner made read-only
// stays protected.
bool isWriteProtected(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return true;
    return ::access(path.c_str(), W_OK) != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

CatalogEntry splitCatalogLine(std::string_view line) {
    CatalogEntry entry;
    const auto first = line.find(kSeparator);
    if (first == std::string_view::npos) {
        entry.name = line;
        return entry;
    }
    entry.name = line.substr(0, first);
    const std::string_view rest = line.substr(first + kSeparator.size());
    std::string_view groupText;
    const auto second = rest.find(kSeparator);
    if (second != std::string_view::npos) {
        groupText = rest.substr(0, second);
        entry.fileName = rest.substr(second + kSeparator.size());
    } else {
        entry.fileName = rest.empty() ? rest : rest.substr(1);
    }
    // Split at every ";"; the last piece is the text after the last ";", so an empty group text
    // gives one empty group.
    std::size_t start = 0;
    for (;;) {
        const auto semi = groupText.find(';', start);
        if (semi == std::string_view::npos) {
            entry.groups.emplace_back(groupText.substr(start));
            break;
        }
        entry.groups.emplace_back(groupText.substr(start, semi - start));
        start = semi + 1;
    }
    return entry;
}

const std::string& articleFileNameOf(const CatalogEntry& entry) {
    if (isPlainFileName(entry.fileName))
        return entry.fileName;
    // Control characters would garble the message box.
    auto shown = [](const std::string& bytes) {
        std::string text = bytes;
        for (char& c : text)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                c = '?';
        return cp1252::toUtf8(text);
    };
    throw EFieldFormatError(formatMessage("Die Katalogdatei '%s' des Katalogs '%s' wird nicht geöffnet: Ein "
                                          "Dateiname im Datenverzeichnis enthält kein '/', kein '\\', kein "
                                          "'..' und keine Steuerzeichen.",
                                          {shown(entry.fileName), shown(entry.name)}));
}

std::string catalogName(std::string_view line) {
    return std::string(line.substr(0, line.find(kSeparator)));
}

Lines catalogNames(const Lines& indexLines) {
    Lines names;
    names.reserve(indexLines.size());
    for (const auto& line : indexLines)
        names.push_back(catalogName(line));
    return names;
}

std::string buildCatalogLine(std::string_view name, const Lines& groupLines, std::string_view fileName) {
    std::string line(name);
    line += kSeparator;
    for (const auto& group : groupLines) {
        if (group.empty())
            continue;
        line += group;
        line += ';';
    }
    line += ';';
    line += fileName;
    return line;
}

std::string defaultCatalogFileName(std::string_view name) {
    std::string file(name);
    for (char& c : file) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return file + ".db";
}

bool isAcceptedNewCatalogName(std::string_view name) {
    return !name.empty() && name.front() >= 'A' && name.front() <= 'Z';
}

std::optional<Lines> loadCatalogIndex(const std::string& path) {
    // Only a missing index is created: replacing one we merely failed to read would lose every
    // catalog in it.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        writeLines(path, {});
        return std::nullopt;
    }
    return readLines(path);
}

CatalogSaveResult saveCatalogIndex(const std::string& path, const Lines& lines) {
    for (const auto& line : lines) {
        if (line.find_first_of("\r\n") != std::string::npos)
            throw EFieldFormatError(fieldRuleMessage(FieldRule::LineBreak, "Katalog"));
    }
    if (isWriteProtected(path))
        return CatalogSaveResult::WriteProtected;
    writeLines(path, lines);
    return CatalogSaveResult::Saved;
}

std::string writeProtectedMessage(const std::string& path) {
    return "Datei " + path + " ist schreibgeschützt. Kann Daten nicht speichern!";
}

} // namespace velmo::datafiles
