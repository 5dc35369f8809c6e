// .DBF files come from any program. The input bytes are written as a table
// file (in a directory made once per run) and opened read-only: the rows are
// walked both ways with every field read as text, number, date and logical,
// counted, filtered and checked. When that open succeeds the table is opened
// again for writing: a row is appended, one edited, one deleted, and the
// table read and checked again. An input whose header claims a production
// index (there is none) is also tried with that flag cleared. Every failure
// must be a DbfError.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "db/dbf/Base.h"
#include "db/dbf/Table.h"

namespace {

using klv::dbf::DbfError;
using klv::dbf::ErrorCode;
using klv::dbf::Table;

std::string dir_path;

void RemoveFiles() {
  if (dir_path.empty()) return;
  for (const char* name : {"/FUZZ.DBF", "/FUZZ.MDX"}) std::remove((dir_path + name).c_str());
  ::rmdir(dir_path.c_str());
}

const std::string& Dir() {
  if (dir_path.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/dbf-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_path = pattern;
    std::atexit(RemoveFiles);
  }
  return dir_path;
}

bool WriteInput(const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen((Dir() + "/FUZZ.DBF").c_str(), "wb");
  if (f == nullptr) std::abort();
  bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

template <typename F>
void Try(F&& f) {
  try {
    f();
  } catch (const DbfError&) {
  }
}

void ReadFields(Table& t) {
  for (int i = 0; i < t.FieldCount(); ++i) {
    klv::dbf::Field& f = t.Fields(i);
    Try([&] {
      (void)f.IsNull();
      (void)f.Raw();
      (void)f.AsString();
      (void)f.AsFloat();
      (void)f.AsInteger();
      (void)f.AsDate();
      (void)f.AsBoolean();
    });
  }
}

// Bounded walks: a table of many rows is still read in little time.
void ReadAll(Table& t) {
  constexpr int kSteps = 300;
  Try([&] {
    int n = 0;
    for (t.First(); !t.Eof() && n < kSteps; t.Next(), ++n) ReadFields(t);
  });
  Try([&] {
    int n = 0;
    for (t.Last(); !t.Bof() && n < kSteps; t.Prior(), ++n) ReadFields(t);
  });
  Try([&] { (void)t.RecordCount(); });
  Try([&] { (void)t.IsEmpty(); });
  Try([&] {
    t.GoToFraction(0.5);
    (void)t.Fraction();
    t.MoveBy(3);
    t.MoveBy(-5);
    ReadFields(t);
  });
  Try([&] { (void)t.GoTo(2); });
  Try([&] { (void)t.GoTo(t.PhysicalCount()); });
  Try([&] {
    t.SetShowDeleted(true);
    int n = 0;
    for (t.First(); !t.Eof() && n < kSteps; t.Next(), ++n) (void)t.IsDeleted();
  });
  Try([&] { t.SetShowDeleted(false); });
  Try([&] {
    t.SetOnFilterRecord([](Table& tt) { return !tt.Fields(0).AsString().empty(); });
    t.SetFiltered(true);
    (void)t.RecordCount();
    int n = 0;
    for (t.Last(); !t.Bof() && n < kSteps; t.Prior(), ++n) ReadFields(t);
  });
  Try([&] { t.SetFiltered(false); });
  Try([&] { (void)t.Check(); });
  Try([&] { t.Refresh(); });
  (void)t.FieldDefs();
  (void)t.LastUpdate();
  (void)t.Tags();
}

void SetSomething(klv::dbf::Field& f, int salt) {
  switch (f.def().type) {
    case 'C':
      f.SetAsString(salt ? "fuzz é" : "");
      break;
    case 'N':
    case 'F':
      f.SetAsInteger(salt);
      break;
    case 'D':
      f.SetAsDate({2000, 1 + salt % 12, 1 + salt % 28});
      break;
    case 'L':
      f.SetAsBoolean(salt % 2 != 0);
      break;
    default:
      break;
  }
}

void Change(Table& t) {
  Try([&] {
    t.Append();
    for (int i = 0; i < t.FieldCount(); ++i) Try([&] { SetSomething(t.Fields(i), i + 1); });
    t.Post();
  });
  Try([&] {
    t.First();
    t.Edit();
    for (int i = 0; i < t.FieldCount(); ++i) Try([&] { SetSomething(t.Fields(i), 0); });
    t.Post();
  });
  Try([&] {
    t.Last();
    t.Delete();
  });
  Try([&] { t.Cancel(); });
}

// True when the read-only open succeeded.
bool ReadTable(ErrorCode* failure) {
  Table t;
  t.SetDirectory(Dir());
  t.SetTableName("FUZZ.DBF");
  t.SetReadOnly(true);
  try {
    t.Open();
  } catch (const DbfError& e) {
    *failure = e.code();
    return false;
  }
  ReadAll(t);
  return true;
}

void WriteTable() {
  Table t;
  t.SetDirectory(Dir());
  t.SetTableName("FUZZ.DBF");
  try {
    t.Open();
  } catch (const DbfError&) {
    return;
  }
  Change(t);
  ReadAll(t);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!WriteInput(data, size)) return 0;
  ErrorCode failure = ErrorCode::kIo;
  if (ReadTable(&failure)) {
    WriteTable();
  } else if (failure == ErrorCode::kNotFound && size > 28 && data[28] != 0) {
    // The header names a production index the input cannot carry.
    std::string copy(reinterpret_cast<const char*>(data), size);
    copy[28] = 0;
    if (!WriteInput(reinterpret_cast<const uint8_t*>(copy.data()), size)) return 0;
    if (ReadTable(&failure)) WriteTable();
  }
  // A writable open may have created an index: the next input starts clean.
  std::remove((Dir() + "/FUZZ.MDX").c_str());
  return 0;
}
