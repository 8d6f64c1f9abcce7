#include "datafiles/fieldcheck.h"

#include "datafiles/articlefile.h"
#include "datafiles/orderfiles.h"

#include <algorithm>

namespace velmo::datafiles {

namespace {

bool hasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}
bool hasSeparator(std::string_view s) {
    return s.find(";;") != std::string_view::npos;
}
bool isControl(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
}

} // namespace

std::string fieldRuleMessage(FieldRule rule, std::string_view fieldLabel) {
    const char* pattern = "";
    switch (rule) {
    case FieldRule::Ok:
        return {};
    case FieldRule::LineBreak:
        pattern = "Das Feld '%s' darf keinen Zeilenumbruch enthalten.";
        break;
    case FieldRule::DoubleSemicolon:
        pattern = "Das Feld '%s' darf die Zeichenfolge ';;' nicht enthalten.";
        break;
    case FieldRule::Semicolon:
        pattern = "Das Feld '%s' darf kein Semikolon (;) enthalten.";
        break;
    case FieldRule::TrailingSemicolon:
        pattern = "Das Feld '%s' darf nicht mit einem Semikolon (;) enden.";
        break;
    case FieldRule::LeadingSemicolon:
        pattern = "Das Feld '%s' darf nicht mit einem Semikolon (;) beginnen.";
        break;
    case FieldRule::NotAPlainName:
        pattern = "Das Feld '%s' muss einen Dateinamen im Datenverzeichnis enthalten: ohne '/', '\\', "
                  "'..' und Steuerzeichen.";
        break;
    }
    return formatMessage(pattern, fieldLabel);
}

FieldRule checkCatalogName(std::string_view name) {
    if (hasLineBreak(name))
        return FieldRule::LineBreak;
    if (hasSeparator(name))
        return FieldRule::DoubleSemicolon;
    if (!name.empty() && name.back() == ';')
        return FieldRule::TrailingSemicolon;
    return FieldRule::Ok;
}

FieldRule checkCatalogGroup(std::string_view group) {
    if (hasLineBreak(group))
        return FieldRule::LineBreak;
    if (group.find(';') != std::string_view::npos)
        return FieldRule::Semicolon;
    return FieldRule::Ok;
}

bool isPlainFileName(std::string_view fileName) {
    // The name is joined to the data directory: anything that climbs out of it, names a folder
    // below it, or that the file system and the storefront would read differently stays out.
    return fileName.find_first_of("/\\") == std::string_view::npos &&
           fileName.find("..") == std::string_view::npos &&
           std::none_of(fileName.begin(), fileName.end(), isControl);
}

FieldRule checkCatalogFileName(std::string_view fileName) {
    if (hasLineBreak(fileName))
        return FieldRule::LineBreak;
    if (hasSeparator(fileName))
        return FieldRule::DoubleSemicolon;
    // Without groups the line reads "name;;;file": a leading ";" would be taken for the empty
    // group list's.
    if (!fileName.empty() && fileName.front() == ';')
        return FieldRule::LeadingSemicolon;
    if (!isPlainFileName(fileName))
        return FieldRule::NotAPlainName;
    return FieldRule::Ok;
}

FieldRule checkArticleField(std::size_t index, std::string_view value) {
    if (hasLineBreak(value))
        return FieldRule::LineBreak;
    if (hasSeparator(value))
        return FieldRule::DoubleSemicolon;
    if (index + 1 < kArticleFieldCount && !value.empty() && value.back() == ';')
        return FieldRule::TrailingSemicolon;
    return FieldRule::Ok;
}

FieldRule checkOrderField(std::size_t index, std::string_view value) {
    if (hasLineBreak(value))
        return FieldRule::LineBreak;
    if (hasSeparator(value))
        return FieldRule::DoubleSemicolon;
    if (index < kOrderCuts && !value.empty() && value.back() == ';')
        return FieldRule::TrailingSemicolon;
    return FieldRule::Ok;
}

} // namespace velmo::datafiles
