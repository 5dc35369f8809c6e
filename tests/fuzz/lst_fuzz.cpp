// Pick list files (.LST, .001-.003) come from the user, other programs and
// Windows copies of the program. Whatever the input, the entries read are
// non-empty, trimmed and one line each; written back and read again they are
// the same entries in the same order, and writing those gives the same bytes.
#include <cstddef>
#include <cstdint>

#include <QByteArray>
#include <QStringList>

#include "FuzzCheck.h"
#include "db/PickLists.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QStringList entries = klv::db::ParseListBytes(input);
  for (const QString& entry : entries) {
    KLV_FUZZ_CHECK(!entry.isEmpty());
    KLV_FUZZ_CHECK(klv::db::TrimBlanks(entry) == entry);
    KLV_FUZZ_CHECK(!entry.contains(u'\n'));
  }
  KLV_FUZZ_CHECK(entries.size() <= input.count('\n') + 1);

  const QByteArray written = klv::db::ListFileBytes(entries);
  KLV_FUZZ_CHECK(written.count('\n') == entries.size());
  KLV_FUZZ_CHECK(entries.isEmpty() ? written.isEmpty() : written.endsWith("\r\n"));
  const QStringList reread = klv::db::ParseListBytes(written);
  KLV_FUZZ_CHECK(reread == entries);
  KLV_FUZZ_CHECK(klv::db::ListFileBytes(reread) == written);
  return 0;
}
