#include "transfer/Delimited.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "base/Codepage.h"
#include "base/Error.h"

namespace klv::transfer {

using base::ErrorCode;

namespace {

bool IsContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// The first n characters of UTF-8 text (whole characters only).
std::string_view FirstChars(std::string_view text, size_t n) {
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsContinuation(static_cast<unsigned char>(text[i]))) continue;
    if (chars == n) return text.substr(0, i);
    ++chars;
  }
  return text;
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Skips a UTF-8 byte order mark when the reader stands at the file's start.
void SkipByteOrderMark(ByteReader& in) {
  if (in.offset() != 0 || in.Peek() != 0xEF) return;
  in.Get();
  if (in.Peek() == 0xBB) in.Get();
  if (in.Peek() == 0xBF) in.Get();
}

// One value of quoted delimited text (see QuotedReader). limit: the most
// characters the value may hold (0: no limit).
struct Value {
  std::string bytes;
  bool finished = false;   // closed by a quote before a comma or the line end
  bool by_comma = false;   // closed before a comma: another value follows
  bool malformed = false;  // a closing quote followed by something else
  bool too_long = false;
  bool quoted = false;  // opened by a double quote
};

Value ReadQuotedValue(ByteReader& in, TextEncoding encoding, size_t limit) {
  Value v;
  bool inside = false;
  size_t chars = 0;
  while (!in.AtLineEnd()) {
    const int c = in.Get();
    if (c == '"') {
      if (!inside) {
        inside = true;
        v.quoted = true;
        continue;
      }
      if (in.AtLineEnd()) {
        v.finished = true;
        break;
      }
      const int d = in.Get();
      if (d == ',') {
        v.finished = true;
        v.by_comma = true;
        break;
      }
      if (d != '"') {
        v.malformed = true;
        break;
      }
    } else if (c < 32) {
      continue;
    }
    v.bytes += static_cast<char>(c);
    if (encoding == TextEncoding::kWindows1252 || !IsContinuation(static_cast<unsigned char>(c)))
      ++chars;
    if (limit != 0 && chars > limit) {
      v.too_long = true;
      break;
    }
  }
  return v;
}

// Reads to the end of the line, quotes taken into account, and over it.
void DropRestOfLine(ByteReader& in) {
  while (!in.AtLineEnd()) in.Get();
  in.SkipLineEnd();
}

}  // namespace

std::string QuotedLine(const std::vector<std::string>& values) {
  std::string line;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) line += ',';
    std::string doubled;
    char before = 0;
    for (char c : FirstChars(values[i], 255)) {
      // The format has no way to write a line break: a blank stands for it
      // (one for CR LF), so that the value stays on its line.
      if (c == '\r' || c == '\n') {
        if (!(c == '\n' && before == '\r')) doubled += ' ';
        before = c;
        continue;
      }
      before = c;
      if (c == '"') doubled += '"';
      doubled += c;
    }
    line += '"';
    line += TrimSpaces(doubled);
    line += '"';
  }
  return line;
}

std::string CsvLine(const std::vector<std::string>& values) {
  // A row of empty values would be an empty line or one of bare commas,
  // which readers take for no row at all: quoting its first value keeps it.
  std::string line;
  if (!values.empty() &&
      std::all_of(values.begin(), values.end(), [](const std::string& v) { return v.empty(); }))
    line = "\"\"";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) line += ',';
    const std::string& v = values[i];
    if (v.empty()) continue;
    if (v.find_first_of(",\"\r\n") == std::string::npos) {
      line += v;
      continue;
    }
    line += '"';
    for (char c : v) {
      if (c == '"') line += '"';
      line += c;
    }
    line += '"';
  }
  return line;
}

ByteReader::ByteReader(const std::string& path) {
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) {
    const int err = errno;
    base::Fail(err == ENOENT ? ErrorCode::kNotFound : ErrorCode::kIo,
               "Cannot open \"" + path + "\": " + std::strerror(err));
  }
  if (std::fseek(file_, 0, SEEK_END) == 0) {
    const long end = std::ftell(file_);
    if (end > 0) size_ = static_cast<uint64_t>(end);
    std::fseek(file_, 0, SEEK_SET);
  }
}

ByteReader::~ByteReader() {
  if (file_) std::fclose(file_);
}

void ByteReader::Fill() {
  if (pos_ < buf_.size() || eof_) return;
  buf_.resize(1 << 16);
  const size_t n = std::fread(buf_.data(), 1, buf_.size(), file_);
  if (n == 0 && std::ferror(file_)) base::Fail(ErrorCode::kIo, "A source file could not be read.");
  buf_.resize(n);
  pos_ = 0;
  if (n == 0) eof_ = true;
}

int ByteReader::Peek() {
  Fill();
  return pos_ < buf_.size() ? static_cast<unsigned char>(buf_[pos_]) : -1;
}

int ByteReader::Get() {
  const int c = Peek();
  if (c < 0) return c;
  ++pos_;
  ++offset_;
  if (c == '\n') ++line_;
  return c;
}

bool ByteReader::AtLineEnd() {
  const int c = Peek();
  if (c < 0 || c == '\n') return true;
  if (c != '\r') return false;
  // A CR ends the line only when an LF follows it: look one byte further.
  Fill();
  if (pos_ + 1 < buf_.size()) return buf_[pos_ + 1] == '\n';
  // The CR is the buffer's last byte: keep it and read on.
  std::string rest = buf_.substr(pos_);
  buf_.clear();
  pos_ = 0;
  Fill();
  buf_.insert(0, rest);
  return buf_.size() > 1 && buf_[1] == '\n';
}

void ByteReader::TakeUntil(std::string& out, char a, char b, char c) {
  for (;;) {
    Fill();
    if (pos_ >= buf_.size()) return;
    size_t end = pos_;
    while (end < buf_.size() && buf_[end] != a && buf_[end] != b && buf_[end] != c) ++end;
    out.append(buf_, pos_, end - pos_);
    line_ += std::count(buf_.begin() + static_cast<std::ptrdiff_t>(pos_),
                        buf_.begin() + static_cast<std::ptrdiff_t>(end), '\n');
    offset_ += end - pos_;
    pos_ = end;
    if (end < buf_.size()) return;
  }
}

void ByteReader::SkipLineEnd() {
  if (Peek() == '\r') Get();
  if (Peek() == '\n') Get();
}

TextEncoding DetectTextEncoding(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return TextEncoding::kUtf8;
  std::string buf(1 << 16, '\0');
  int pending = 0;  // continuation bytes still expected
  bool valid = true;
  bool first = true;
  size_t n;
  while (valid && (n = std::fread(buf.data(), 1, buf.size(), f)) > 0) {
    if (first && n >= 3 && std::memcmp(buf.data(), "\xEF\xBB\xBF", 3) == 0) {
      std::fclose(f);
      return TextEncoding::kUtf8;
    }
    first = false;
    for (size_t i = 0; i < n && valid; ++i) {
      // Plain ASCII, eight bytes at a time.
      if (pending == 0) {
        while (i + 8 <= n) {
          uint64_t word;
          std::memcpy(&word, buf.data() + i, 8);
          if (word & 0x8080808080808080ULL) break;
          i += 8;
        }
        if (i >= n) break;
      }
      const auto c = static_cast<unsigned char>(buf[i]);
      if (pending > 0) {
        if (IsContinuation(c)) {
          --pending;
        } else {
          valid = false;
        }
      } else if (c >= 0xC2 && c <= 0xDF) {
        pending = 1;
      } else if (c >= 0xE0 && c <= 0xEF) {
        pending = 2;
      } else if (c >= 0xF0 && c <= 0xF4) {
        pending = 3;
      } else if (c >= 0x80) {
        valid = false;
      }
    }
  }
  std::fclose(f);
  return valid && pending == 0 ? TextEncoding::kUtf8 : TextEncoding::kWindows1252;
}

std::string DecodeText(std::string_view bytes, TextEncoding encoding) {
  if (encoding == TextEncoding::kUtf8) return std::string(bytes);
  return base::CodePage::Cp1252().Decode(bytes);
}

FirstLine ScanFirstLine(ByteReader& in, TextEncoding encoding) {
  FirstLine result;
  SkipByteOrderMark(in);
  for (int count = 1;; ++count) {
    if (count > kMaxSourceFields) {
      result.problem = FirstLine::kTooManyFields;
      return result;
    }
    Value v = ReadQuotedValue(in, encoding, kMaxFirstLineValue);
    if (v.too_long) {
      result.problem = FirstLine::kTooLong;
      return result;
    }
    if (v.malformed) {
      result.problem = FirstLine::kUnmatchedQuote;
      return result;
    }
    result.values.push_back(DecodeText(v.bytes, encoding));
    if (!v.by_comma && in.AtLineEnd()) {
      if (!v.finished) result.problem = FirstLine::kUnmatchedQuote;
      return result;
    }
  }
}

LineRead QuotedReader::Next(std::vector<std::string>& values) {
  SkipByteOrderMark(in_);
  values.clear();
  quoted_ = false;
  if (in_.AtEnd()) return LineRead::kEnd;
  line_ = in_.line();
  for (int k = 0;; ++k) {
    Value v = ReadQuotedValue(in_, encoding_, 0);
    quoted_ = quoted_ || v.quoted;
    if (v.malformed) {
      DropRestOfLine(in_);
      return LineRead::kMalformed;
    }
    const bool last = !v.by_comma && in_.AtLineEnd();
    // An empty line is no row; "" alone is the row of one empty value that
    // an export of one field writes.
    if (last && k == 0 && v.bytes.empty() && !v.quoted) {
      in_.SkipLineEnd();
      return LineRead::kBlank;
    }
    if (k < max_values_) values.push_back(DecodeText(v.bytes, encoding_));
    if (last) {
      in_.SkipLineEnd();
      return LineRead::kValues;
    }
  }
}

LineRead CsvReader::Next(std::vector<std::string>& values) {
  SkipByteOrderMark(in_);
  values.clear();
  quoted_ = false;
  if (in_.AtEnd()) return LineRead::kEnd;
  line_ = in_.line();
  std::string field;
  for (;;) {
    field.clear();
    if (in_.Peek() == '"') {
      in_.Get();
      quoted_ = true;
      for (;;) {
        in_.TakeUntil(field, '"', '"', '"');
        const int c = in_.Get();
        if (c < 0) return LineRead::kMalformed;  // a quote left open to the end
        if (c == '"') {
          if (in_.Peek() != '"') break;
          in_.Get();
        }
        field += static_cast<char>(c);
      }
      values.push_back(DecodeText(field, encoding_));
      if (in_.AtLineEnd()) {
        in_.SkipLineEnd();
        return LineRead::kValues;
      }
      if (in_.Get() != delimiter_) {
        DropRestOfLine(in_);
        return LineRead::kMalformed;
      }
      continue;
    }
    for (;;) {
      in_.TakeUntil(field, delimiter_, '\r', '\n');
      if (in_.AtLineEnd() || in_.Peek() == delimiter_) break;
      field += static_cast<char>(in_.Get());  // a CR inside the value
    }
    values.push_back(DecodeText(field, encoding_));
    if (in_.AtLineEnd()) {
      in_.SkipLineEnd();
      if (values.size() == 1 && values[0].empty()) return LineRead::kBlank;
      return LineRead::kValues;
    }
    in_.Get();  // the comma
  }
}

char DetectDelimiter(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return ',';
  // Delimiters outside quotes on the first line (a quoted value may run
  // over several lines); a file with neither semicolons nor tabs is comma
  // separated.
  size_t comma = 0, semicolon = 0, tab = 0;
  bool inside = false;
  for (int c, n = 0; (c = std::fgetc(f)) != EOF && n < (1 << 20); ++n) {
    if (c == '"') {
      inside = !inside;
    } else if (!inside) {
      if (c == '\n' || c == '\r') break;
      comma += c == ',';
      semicolon += c == ';';
      tab += c == '\t';
    }
  }
  std::fclose(f);
  if (semicolon > comma && semicolon >= tab) return ';';
  if (tab > comma && tab > semicolon) return '\t';
  return ',';
}

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Whether digits holds only digits, grouped by sep in threes after a first
// group of one to three ("1,234,567").
bool IsGrouped(std::string_view digits, char sep) {
  size_t first = digits.find(sep);
  if (first == 0 || first > 3) return false;
  for (size_t i = 0; i < digits.size(); ++i) {
    const bool at_sep = i >= first && (i - first) % 4 == 0;
    if (at_sep != (digits[i] == sep)) return false;
    if (!at_sep && !IsDigit(digits[i])) return false;
  }
  return (digits.size() - first) % 4 == 0;
}

// Takes a currency sign (or code) off the front or the back of s.
void StripCurrency(std::string_view& s) {
  static constexpr std::string_view kSigns[] = {
      "$",   "\xE2\x82\xAC", "\xC2\xA3", "\xC2\xA5", "\xE2\x82\xB9", "EUR",
      "USD", "GBP",          "CHF",      "kr",       "Fr."};
  for (std::string_view sign : kSigns) {
    if (s.size() > sign.size() && s.substr(0, sign.size()) == sign) {
      s.remove_prefix(sign.size());
      return;
    }
    if (s.size() > sign.size() && s.substr(s.size() - sign.size()) == sign) {
      s.remove_suffix(sign.size());
      return;
    }
  }
}

std::string_view TrimBlanks(std::string_view s) {
  const auto blank = [](std::string_view t, bool front) {
    if (t.empty()) return size_t{0};
    const char c = front ? t.front() : t.back();
    if (c == ' ' || c == '\t') return size_t{1};
    // A no-break space, as spreadsheets put between a number and its sign.
    if (t.size() >= 2 && (front ? t.substr(0, 2) : t.substr(t.size() - 2)) == "\xC2\xA0")
      return size_t{2};
    return size_t{0};
  };
  for (size_t n; (n = blank(s, true)) > 0;) s.remove_prefix(n);
  for (size_t n; (n = blank(s, false)) > 0;) s.remove_suffix(n);
  return s;
}

}  // namespace

std::optional<double> ParseFormattedNumber(std::string_view text, bool decimal_comma,
                                           char other_point) {
  if (auto plain = ParsePlainNumber(text, decimal_comma ? ',' : other_point)) return plain;
  std::string_view s = TrimBlanks(text);
  bool negative = false;
  const auto take_sign = [&] {
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
      negative = s.front() == '-';
      s.remove_prefix(1);
      s = TrimBlanks(s);
      return true;
    }
    if (!s.empty() && (s.back() == '-' || s.back() == '+')) {
      negative = s.back() == '-';
      s.remove_suffix(1);
      s = TrimBlanks(s);
      return true;
    }
    return false;
  };
  const bool signed_outside = take_sign();
  StripCurrency(s);
  s = TrimBlanks(s);
  if (!signed_outside) take_sign();
  if (s.empty() || s.size() > 64) return std::nullopt;
  // Which of ',' and '.' is the point: the last one when both are there;
  // a lone one is the point unless it groups thousands, and in a file with
  // decimal commas the comma is always the point.
  const size_t comma = s.rfind(','), dot = s.rfind('.');
  char point = '.', group = ',';
  if (comma != std::string_view::npos && dot != std::string_view::npos) {
    if (comma > dot) point = ',', group = '.';
  } else if (comma != std::string_view::npos) {
    const bool grouped = IsGrouped(s, ',');
    if (decimal_comma || other_point == ',' || !grouped) point = ',', group = '.';
    if (decimal_comma && grouped && s.find(',') != comma) point = '.', group = ',';
  } else if (dot != std::string_view::npos && s.find('.') != dot) {
    point = ',', group = '.';  // "1.234.567"
  }
  const size_t at = s.find(point);
  std::string_view whole = s.substr(0, at);
  if (whole.find(group) != std::string_view::npos && !IsGrouped(whole, group)) return std::nullopt;
  std::string plain = negative ? "-" : "";
  for (char c : whole)
    if (c != group) plain += c;
  if (at != std::string_view::npos) {
    plain += '.';
    plain += s.substr(at + 1);
  }
  if (plain.find_first_not_of("-0123456789.") != std::string::npos) return std::nullopt;
  return ParsePlainNumber(plain);
}

std::optional<double> ParsePlainNumber(std::string_view text, char other_point) {
  text = TrimSpaces(text);
  std::string s(text);
  if (other_point != '.' && s.find('.') == std::string::npos) {
    for (char& c : s)
      if (c == other_point) c = '.';
  }
  size_t start = 0;
  if (!s.empty() && s[0] == '+') start = 1;
  const size_t digit = start < s.size() && s[start] == '-' ? start + 1 : start;
  if (digit >= s.size() || !(std::isdigit(static_cast<unsigned char>(s[digit])) || s[digit] == '.'))
    return std::nullopt;
  double value = 0;
  const char* end = s.data() + s.size();
  auto [ptr, ec] = std::from_chars(s.data() + start, end, value);
  if (ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::string GeneralNumber(double value, char point) {
  char buf[64];
  auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  if (ec != std::errc()) return {};
  std::string s(buf, ptr);
  if (point != '.')
    for (char& c : s)
      if (c == '.') c = point;
  return s;
}

}  // namespace klv::transfer
