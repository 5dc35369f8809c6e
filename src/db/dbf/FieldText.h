// How field values are stored as text in a record, shared by the field
// accessors and the table's integrity check.
#pragma once

#include <optional>
#include <string_view>

#include "db/dbf/Table.h"

namespace klv::dbf {

// The stored text of an N or F field ('.' as the point); nullopt for blanks
// and for anything that is not a whole number text (such as '*' overflow).
std::optional<double> ParseStoredNumber(std::string_view raw);
// The stored YYYYMMDD of a D field; nullopt for blanks and impossible dates.
std::optional<Date> ParseStoredDate(std::string_view raw);

}  // namespace klv::dbf
