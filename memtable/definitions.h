#pragma once

#include "platform/errors.h"

#include <cstdint>
#include <string>
#include <vector>

// What a table is made of: its errors, field and index definitions, states and record numbers. Kept
// apart from the table so that its parts (record store, index set) can use them.
namespace velmo {

// State errors of a table ("Dataset is not in edit mode.", "Operation bei leerer Datenmenge nicht
// ausführbar", ...).
class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};

// The table's own error: a unique index refused a key.
class EMemTableError : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};

enum class FieldType { String, Float, Currency, DateTime };
enum class FieldKind { Data, Calculated };

struct FieldDef {
    std::string name;
    FieldType type = FieldType::String;
    int size = 20; // strings only: the most bytes a value keeps
    FieldKind kind = FieldKind::Data;
};

enum IndexOption : unsigned {
    ixDescending = 1u << 0,
    ixCaseInsensitive = 1u << 1,
    ixUnique = 1u << 2,
};
using IndexOptions = unsigned;

struct IndexDef {
    std::string name;
    std::vector<std::string> fields;
    IndexOptions options = 0;
};

enum class TableState { Inactive, Browse, Edit, Insert };

// Identifies a stored record for as long as it exists; numbers of deleted records are reused.
using RecordId = std::uint32_t;
inline constexpr RecordId kNoRecord = ~RecordId{0};

} // namespace velmo
