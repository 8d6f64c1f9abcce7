#include "catalog/core/catalogdocument.h"

#include "datafiles/fieldcheck.h"

namespace velmo {

using datafiles::FieldRule;

bool CatalogDocument::load(const std::string& path) {
    std::optional<Lines> lines = datafiles::loadCatalogIndex(path);
    if (!lines)
        return false;
    m_lines = std::move(*lines);
    return true;
}

datafiles::CatalogEntry CatalogDocument::entry(int i) const {
    return datafiles::splitCatalogLine(m_lines[static_cast<std::size_t>(i)]);
}

bool CatalogDocument::addCatalog(const std::string& name) {
    if (!datafiles::isAcceptedNewCatalogName(name))
        return false;
    m_lines.push_back(name);
    return true;
}

void CatalogDocument::removeCatalog(int i) {
    if (contains(i))
        m_lines.erase(m_lines.begin() + i);
}

CatalogDocument::LeaveResult CatalogDocument::leaveFields(int selected, const Lines& groups,
                                                          std::string_view fileName, bool newCatalogNamed) {
    if (groups.empty()) {
        if (!newCatalogNamed)
            return {};
        // Without a selected catalog there is nothing to complete; the owner may go on.
        return {selected < 0, "Ohne Kataloggruppen kann der Katalog nicht eingetragen werden!",
                Field::Groups};
    }
    if (!contains(selected))
        return {};
    for (const std::string& group : groups) {
        const FieldRule rule = datafiles::checkCatalogGroup(group);
        if (rule != FieldRule::Ok)
            return {false, datafiles::fieldRuleMessage(rule, "Kataloggruppen"), Field::Groups};
    }
    const FieldRule rule = datafiles::checkCatalogFileName(fileName);
    if (rule != FieldRule::Ok)
        return {false, datafiles::fieldRuleMessage(rule, "Katalogdatei"), Field::FileName};

    std::string& line = m_lines[static_cast<std::size_t>(selected)];
    line = datafiles::buildCatalogLine(datafiles::catalogName(line), groups, fileName);
    return {};
}

datafiles::CatalogSaveResult CatalogDocument::save(const std::string& path) const {
    return datafiles::saveCatalogIndex(path, m_lines);
}

} // namespace velmo
