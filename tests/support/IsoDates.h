// The text format the engine tests read and write dates in: ISO order with
// '-' (2021-04-03), whatever the program's own date settings are.
#pragma once

#include "db/dbf/Table.h"

namespace klv::test {

inline dbf::TextFormat IsoTextFormat() {
  dbf::TextFormat iso;
  iso.short_date = "yyyy/MM/dd";
  iso.date_separator = '-';
  return iso;
}

}  // namespace klv::test
