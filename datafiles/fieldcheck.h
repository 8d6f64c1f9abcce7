#pragma once

#include "platform/errors.h"

#include <cstddef>
#include <string>
#include <string_view>

// The catalog index and the article files have no quoting or escaping: a value holding a separator
// or a line break would shift the following fields or split the line, and the storefront would read
// the catalog wrongly. The windows check what the owner typed with these functions before it goes
// into a line; the writers check again and refuse to write a broken line.
namespace velmo::datafiles {

enum class FieldRule {
    Ok,
    LineBreak,         // a CR or LF anywhere
    DoubleSemicolon,   // ";;", the field separator
    Semicolon,         // any ";" (a catalog group is ended by one)
    TrailingSemicolon, // a ";" at the end runs into the separator after it: "a;" + ";;" reads as "a"
    LeadingSemicolon,  // a ";" at the start runs into the separator before it
    NotAPlainName,     // "/", "\\", ".." or a control character: not a file in the data directory
};

// The German message for a broken rule, naming the field by its label (UTF-8); "" for Ok.
// For example "Das Feld 'Katalog' darf die Zeichenfolge ';;' nicht enthalten."
std::string fieldRuleMessage(FieldRule rule, std::string_view fieldLabel);

// Thrown by the writers when a value would break the line format; nothing is written then.
class EFieldFormatError : public Exception {
public:
    using Exception::Exception;
};

// The catalog name: no line break, no ";;", no ";" at the end.
FieldRule checkCatalogName(std::string_view name);
// One catalog group: no line break, no ";".
FieldRule checkCatalogGroup(std::string_view group);
// The article file name: no line break, no ";;", no ";" at the start; and a plain name of a file in
// the data directory, since it becomes a path there: no "/", "\\", ".." or control character.
FieldRule checkCatalogFileName(std::string_view fileName);
// The path part of that rule alone.
bool isPlainFileName(std::string_view fileName);
// One field of an article (index 0 to 13 in file order): no line break, no ";;", and no ";" at the
// end of the fields that a separator follows (all but the last).
FieldRule checkArticleField(std::size_t index, std::string_view value);

// One field of a kunden.db line (index 0 to 12 in file order): no line break, no ";;", and no ";" at
// the end of the fields that a separator follows (all but the last).
FieldRule checkOrderField(std::size_t index, std::string_view value);

} // namespace velmo::datafiles
