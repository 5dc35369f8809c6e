// Repair of any bytes given as a table file (in a directory made once per
// run). Salvage either refuses with a DbfError, leaving the file as it was,
// or puts the file aside byte for byte and leaves a table that the engine
// opens, holding the rows it reported, which is then walked and checked.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "db/dbf/Base.h"
#include "db/dbf/Salvage.h"
#include "db/dbf/Table.h"

namespace {

using klv::dbf::DbfError;
using klv::dbf::Env;
using klv::dbf::Table;

std::string dir_path;

// The input, the kept copies and the repaired table of the last run.
void ClearFiles() {
  for (const std::string& f : klv::dbf::FilesStartingWith(dir_path + "/", "")) {
    std::string name = klv::dbf::BaseOf(f);
    if (name != "." && name != "..") std::remove(f.c_str());
  }
}

void RemoveFiles() {
  if (dir_path.empty()) return;
  ClearFiles();
  ::rmdir(dir_path.c_str());
}

const std::string& Dir() {
  if (dir_path.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/salvage-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_path = pattern;
    std::atexit(RemoveFiles);
  }
  return dir_path;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string path = Dir() + "/FUZZ.DBF";
  ClearFiles();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << input;
    if (!out) return 0;
  }
  klv::dbf::SalvageResult r;
  try {
    r = klv::dbf::Salvage(Env::Default(), path);
  } catch (const DbfError&) {
    if (ReadAll(path) != input) std::abort();  // a refusal changed the original
    return 0;
  }
  if (ReadAll(r.kept_dbf) != input) std::abort();
  Table t;
  t.SetDirectory(Dir());
  t.SetTableName("FUZZ.DBF");
  t.SetReadOnly(true);
  t.Open();  // a DbfError here escapes: the repaired table must open
  if (t.PhysicalCount() != r.rows_kept) std::abort();
  t.SetShowDeleted(true);
  uint32_t deleted = 0;
  for (t.First(); !t.Eof(); t.Next()) {
    deleted += t.IsDeleted();
    for (int i = 0; i < t.FieldCount(); ++i) (void)t.Fields(i).Raw();
  }
  if (deleted != r.deleted_kept) std::abort();
  (void)t.Check();
  return 0;
}
