// Salvage: makes a damaged table usable again by writing a new table that
// holds every whole row of the old one, for tables the engine refuses to
// open (a file cut short by a full disk or a failed copy, a damaged header)
// and for tables that open but carry bytes no reader was meant to see.
//
// Promises:
// - The original files are never changed. The .DBF, and its production .MDX
//   when there is one, are renamed aside to "<name>.damaged-YYYYMMDD-HHMMSS"
//   (local time; "-2", "-3", ... appended when a kept copy of that name
//   already exists, so no earlier kept copy is ever replaced).
// - The new table takes the original's name. It is written to a temporary
//   file, synced and renamed into place, and the directory is synced. It has
//   the original's version, code page and field descriptors (lengths mended
//   where the descriptors themselves tell them), and every whole row in the
//   original order: a row wholly inside the file and within the header's
//   record count whose deletion flag is ' ' or '*'. Deleted rows stay deleted.
// - Rows beyond the header's record count are never added: they are an
//   append that never finished (a process killed before it counted the
//   row), which no reader was meant to see. They count as bytes not kept.
// - The header's record length and header length are taken from the field
//   descriptors when they disagree with them; a date or logical field with
//   an impossible length gets the one its type has, and one field of
//   impossible length gets what the record length leaves for it. Each
//   mending is named in the result's notes.
// - When the descriptors themselves cannot be read (cut short, no end and
//   no header field telling where they end, a field without a name or type,
//   a name twice, more than one field whose length cannot be told, rows
//   plainly laid out for another record length), Salvage throws DbfError
//   kCorruptTable before anything is written. It throws kNotFound when the
//   file is missing, kInUse while another open holds the table, kUnsupported
//   for field types the engine does not write (such as memo fields).
// - A failure before the new table is in place (I/O, a full disk) removes
//   the temporary file and renames the originals back: the table is as it
//   was, and the error is thrown (naming where the original is should even
//   renaming it back fail). Once the new table is in place, Salvage does
//   not throw.
// - The production index is rebuilt with the tags of the old .MDX (name,
//   expression, descending, unique) when that file can be read. A tag that
//   cannot be rebuilt is named in the notes; when the index cannot be read,
//   or building it fails part way, the new table is left with no index at
//   all rather than half of one, and the notes say so. (A process killed
//   while building it leaves an index the engine reports as not matching,
//   as after any interrupted change.)
// - The table is held alone (the engine's open lock, exclusively; shared
//   only when the file may not be written) from the first read until the
//   new table has its name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/dbf/Base.h"

namespace klv::dbf {

struct SalvageResult {
  uint32_t rows_kept = 0;     // rows written to the new table, deleted ones included
  uint32_t deleted_kept = 0;  // of rows_kept, those marked deleted
  // Rows the header counted that are not in the new table: cut off, partly
  // present, or with a damaged deletion flag.
  uint64_t rows_lost = 0;
  // Bytes after the header that the new table does not carry: lost rows'
  // bytes, a part row, an unfinished append, anything after the end mark.
  uint64_t bytes_dropped = 0;
  std::string kept_dbf;  // where the original .DBF now is
  std::string kept_mdx;  // where the original .MDX now is; "" when there was none
  std::vector<std::string> tags_rebuilt;
  // False when the old index had tags and not all of them were rebuilt.
  bool index_complete = true;
  // What was found wrong and what was done about it, one sentence each.
  std::vector<std::string> notes;
};

SalvageResult Salvage(Env& env, const std::string& dbf_path);

}  // namespace klv::dbf
