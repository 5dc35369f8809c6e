// The text formats rows travel in: the quoted comma-delimited text this
// program has always written and read (every value in double quotes, a
// double quote inside doubled, CR LF line ends), and standard CSV as
// spreadsheets write it (RFC 4180: quotes only where needed). Standard C++,
// no Qt: the program's forms and the command-line tool share it.
//
// Readers work on bytes; what the bytes mean (UTF-8 or Windows-1252) is
// decided once per file by DetectTextEncoding and applied by TextDecoder.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klv::transfer {

// One line of quoted delimited text, without its line end: each value cut
// to 255 characters, its double quotes doubled, blanks at both ends
// trimmed, then enclosed in double quotes; values joined by single commas.
std::string QuotedLine(const std::vector<std::string>& values);

// One line of CSV, without its line end: a value is enclosed in double
// quotes (its quotes doubled) only when it holds a comma, a quote, a CR or
// an LF; values joined by commas. A row of only empty values has its first
// one written as "", so that it is not read back as a blank line or as an
// empty row of a spreadsheet.
std::string CsvLine(const std::vector<std::string>& values);

// A file read byte by byte with one byte of look-ahead, counting lines.
// A line ends at LF; a CR directly before an LF belongs to the line end.
class ByteReader {
 public:
  // Throws base::Error kNotFound / kIo when the file cannot be opened.
  explicit ByteReader(const std::string& path);
  ~ByteReader();
  ByteReader(const ByteReader&) = delete;
  ByteReader& operator=(const ByteReader&) = delete;

  // -1 at end of file.
  int Peek();
  int Get();
  bool AtEnd() { return Peek() < 0; }
  // At the end of a line: at CR LF, at LF, or at the end of the file.
  bool AtLineEnd();
  // Steps over the line end the reader stands at (nothing at end of file).
  void SkipLineEnd();
  // Appends to out the bytes up to the next a, b or c (or the end of the
  // file), without it: Get byte by byte, in one go.
  void TakeUntil(std::string& out, char a, char b, char c);
  // The 1-based number of the line the next byte belongs to.
  int64_t line() const { return line_; }
  // Bytes consumed so far and the file's size, for progress.
  uint64_t offset() const { return offset_; }
  uint64_t size() const { return size_; }

 private:
  void Fill();
  std::FILE* file_ = nullptr;
  std::string buf_;
  size_t pos_ = 0;
  bool eof_ = false;
  int64_t line_ = 1;
  uint64_t offset_ = 0;
  uint64_t size_ = 0;
};

enum class TextEncoding { kUtf8, kWindows1252 };

// UTF-8 when the file is valid UTF-8 throughout (plain ASCII included) or
// begins with a UTF-8 byte order mark; otherwise Windows-1252. Reads the
// file once.
TextEncoding DetectTextEncoding(const std::string& path);

// Bytes of a value in the file's encoding to UTF-8.
std::string DecodeText(std::string_view bytes, TextEncoding encoding);

// What the first line of a quoted delimited file says about the file.
struct FirstLine {
  enum Problem { kNone = 0, kTooLong = 1, kUnmatchedQuote = 2, kTooManyFields = 3 };
  Problem problem = kNone;
  // The values of the line (at most 30), each as read; the forms show their
  // first 20 characters as the source field names.
  std::vector<std::string> values;
};

// The most values a source line may name.
inline constexpr int kMaxSourceFields = 30;
// The longest value a first line may hold.
inline constexpr int kMaxFirstLineValue = 255;

// Scans the first line of a quoted delimited file (value by value, as
// QuotedReader reads them): a 31st value is kTooManyFields, a 256th
// character of a value kTooLong, a last value not closed by a double quote
// (or a closing quote followed by anything but a comma or a second quote)
// kUnmatchedQuote. Characters below code 32 are dropped. A file that begins
// with a UTF-8 byte order mark has it skipped.
FirstLine ScanFirstLine(ByteReader& in, TextEncoding encoding);

// One line of a source file read as values.
enum class LineRead {
  kValues,     // values holds the line's values
  kBlank,      // an empty line (or one unquoted empty value alone): no record
  kEnd,        // the file has ended
  kMalformed,  // a closing quote followed by a character that is neither a comma nor a quote
};

// The quoted delimited text read line by line. Values follow the first
// line's rules without the length limit: a double quote opens a value,
// inside one a doubled quote stands for a quote and a quote before a comma
// or the line end closes it; outside quotes every character of code 32 and
// above (a comma too) belongs to the value; characters below 32 are dropped.
// Values past max_values on a line are read and dropped with the line.
class QuotedReader {
 public:
  QuotedReader(ByteReader& in, TextEncoding encoding, int max_values)
      : in_(in), encoding_(encoding), max_values_(max_values) {}
  // Skips a UTF-8 byte order mark at the start.
  LineRead Next(std::vector<std::string>& values);
  // The line the last Next began on.
  int64_t line() const { return line_; }
  // Whether a value of that line was in double quotes.
  bool quoted() const { return quoted_; }

 private:
  ByteReader& in_;
  TextEncoding encoding_;
  int max_values_;
  int64_t line_ = 0;
  bool quoted_ = false;
};

// CSV as spreadsheets write it: quoted and unquoted values alike, quoted
// ones across line breaks, LF or CR LF line ends. A quote inside an
// unquoted value is an ordinary character; a closing quote followed by
// anything but a comma, a quote or the line end is kMalformed.
//
// The values are separated by delimiter: ',' or, as spreadsheets save CSV
// where the comma is the decimal point, ';' (or a tab).
class CsvReader {
 public:
  CsvReader(ByteReader& in, TextEncoding encoding, char delimiter = ',')
      : in_(in), encoding_(encoding), delimiter_(delimiter) {}
  LineRead Next(std::vector<std::string>& values);
  int64_t line() const { return line_; }
  // Whether a value of the last line read was in double quotes.
  bool quoted() const { return quoted_; }

 private:
  ByteReader& in_;
  TextEncoding encoding_;
  char delimiter_;
  int64_t line_ = 0;
  bool quoted_ = false;
};

// The delimiter of a CSV file from its first line (quoted values skipped):
// ';' or '\t' when it is the most frequent of the three, else ','.
char DetectDelimiter(const std::string& path);

// Number text as import reads it: plain decimal syntax with '.' as the
// point, an optional sign and exponent, blanks around it allowed; also
// `other_point` as the point when given (the separator this program's own
// export writes). nullopt when it is not a number.
std::optional<double> ParsePlainNumber(std::string_view text, char other_point = '.');

// A number as spreadsheets write it: what ParsePlainNumber reads, and also
// thousands separators ("1,234.50", "1.234,50" and, with decimal_comma,
// "1234,5"), a currency sign or code before or after it ("$3.00",
// "3,00 \u20ac"), a sign before or after that, and blanks (a no-break space too)
// around every part. A lone comma is the point when decimal_comma is set,
// other_point is ',' or it does not group thousands. nullopt when it is not
// a number.
std::optional<double> ParseFormattedNumber(std::string_view text, bool decimal_comma,
                                           char other_point = '.');

// A number in general format: up to 15 significant digits, no exponent
// for ordinary amounts, `point` as the decimal separator.
std::string GeneralNumber(double value, char point = '.');

}  // namespace klv::transfer
