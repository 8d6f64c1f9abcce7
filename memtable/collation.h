#pragma once

#include <string>
#include <string_view>

// German collation of Windows-1252 texts, the order every string key of a table follows.
// Case-sensitive comparison distinguishes everything down to case (lower case first among otherwise
// equal texts); case-insensitive comparison stops at accents. Both are the locale's rules, not byte
// order: "ähnlich" < "Zebra", "bosch" < "Bosch" < "Caro".
namespace velmo::collation {

// Negative, zero or positive as a sorts before, equal to or after b.
int compare(std::string_view a, std::string_view b, bool caseInsensitive);

// Appends a byte string whose memcmp order is compare()'s order. It ends with one 0 byte and holds no
// other 0 byte, so keys of several fields can be concatenated and still compare field by field.
void appendSortKey(std::string& out, std::string_view text, bool caseInsensitive);

} // namespace velmo::collation
