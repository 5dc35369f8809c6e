// Text sources for import come from spreadsheets, other programs and hand
// editing. Whatever the bytes, the first-line scan and both line readers end
// without error; every CSV line read, written back as CSV and read again
// gives the same values, also when read with the delimiter the file shows;
// the same lines written as quoted delimited text (line breaks and all)
// read back as one row each with as many values; a quoted line never holds
// more values than asked; a number read from any value is finite.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "transfer/Delimited.h"

namespace {

using klv::transfer::ByteReader;
using klv::transfer::LineRead;

std::string WriteTemp(const char* data, size_t size) {
  static const std::string path = "/tmp/klv_csv_fuzz." + std::to_string(getpid());
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  return path;
}

std::vector<std::vector<std::string>> ReadCsv(const std::string& path,
                                              klv::transfer::TextEncoding encoding,
                                              char delimiter = ',') {
  std::vector<std::vector<std::string>> lines;
  ByteReader in(path);
  klv::transfer::CsvReader reader(in, encoding, delimiter);
  std::vector<std::string> values;
  for (;;) {
    const LineRead r = reader.Next(values);
    if (r == LineRead::kEnd || r == LineRead::kMalformed) break;
    if (r == LineRead::kValues) lines.push_back(values);
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = WriteTemp(reinterpret_cast<const char*>(data), size);
  const auto encoding = klv::transfer::DetectTextEncoding(path);
  {
    ByteReader in(path);
    const auto first = klv::transfer::ScanFirstLine(in, encoding);
    KLV_FUZZ_CHECK(first.values.size() <= klv::transfer::kMaxSourceFields);
  }
  {
    ByteReader in(path);
    klv::transfer::QuotedReader reader(in, encoding, klv::transfer::kMaxSourceFields);
    std::vector<std::string> values;
    int64_t last_line = 0;
    for (;;) {
      const LineRead r = reader.Next(values);
      if (r == LineRead::kEnd || r == LineRead::kMalformed) break;
      KLV_FUZZ_CHECK(reader.line() > last_line);
      last_line = reader.line();
      if (r == LineRead::kValues) {
        KLV_FUZZ_CHECK(values.size() <= klv::transfer::kMaxSourceFields);
      }
    }
  }
  for (const auto& values : ReadCsv(path, encoding, klv::transfer::DetectDelimiter(path))) {
    for (const std::string& v : values) {
      for (bool comma : {false, true}) {
        const auto n = klv::transfer::ParseFormattedNumber(v, comma);
        KLV_FUZZ_CHECK(!n || std::isfinite(*n));
      }
    }
  }
  const auto lines = ReadCsv(path, encoding);
  {
    // Every row of an export of quoted text reads back as a row.
    std::string quoted;
    for (const auto& values : lines)
      if (values.size() <= klv::transfer::kMaxSourceFields)
        quoted += klv::transfer::QuotedLine(values) + "\r\n";
    const std::string file = WriteTemp(quoted.data(), quoted.size());
    ByteReader in(file);
    klv::transfer::QuotedReader reader(in, klv::transfer::TextEncoding::kUtf8,
                                       klv::transfer::kMaxSourceFields);
    std::vector<std::string> values;
    for (const auto& want : lines) {
      if (want.size() > klv::transfer::kMaxSourceFields) continue;
      KLV_FUZZ_CHECK(reader.Next(values) == LineRead::kValues);
      KLV_FUZZ_CHECK(values.size() == want.size());
    }
    KLV_FUZZ_CHECK(reader.Next(values) == LineRead::kEnd);
  }
  // As the export writes it: a byte order mark first, so that a value that
  // itself begins with U+FEFF is not taken for one.
  std::string written = "\xEF\xBB\xBF";
  for (const auto& values : lines) written += klv::transfer::CsvLine(values) + "\r\n";
  const std::string again = WriteTemp(written.data(), written.size());
  const auto reread = ReadCsv(again, klv::transfer::TextEncoding::kUtf8);
  KLV_FUZZ_CHECK(reread == lines);
  return 0;
}
