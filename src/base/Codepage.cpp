#include "base/Codepage.h"

#include <memory>
#include <unordered_map>

#include <unicode/translit.h>
#include <unicode/unistr.h>

namespace klv::base {
namespace {

// The upper halves, byte 0x80 first, as the published cp437, cp850 and
// cp1252 mapping tables define them. cp1252 leaves 0x81, 0x8D, 0x8F, 0x90 and 0x9D
// unassigned; they decode to the C1 control of the same number so that any
// byte read from a file survives a decode/encode round trip.
constexpr char32_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 0x80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 0x88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 0x90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  // 0x98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // 0xA0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // 0xA8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // 0xB0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // 0xB8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // 0xC0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // 0xC8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // 0xD0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // 0xD8
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // 0xE0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  // 0xE8
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // 0xF0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  // 0xF8
};
constexpr char32_t kCp850High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 0x80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 0x88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 0x90
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,  // 0x98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // 0xA0
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // 0xA8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,  // 0xB0
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,  // 0xB8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,  // 0xC0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,  // 0xC8
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,  // 0xD0
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,  // 0xD8
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,  // 0xE0
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,  // 0xE8
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,  // 0xF0
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,  // 0xF8
};
constexpr char32_t kCp1252High[128] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,  // 0xA0
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,  // 0xA8
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // 0xB0
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,  // 0xB8
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,  // 0xC0
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,  // 0xC8
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,  // 0xD0
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,  // 0xD8
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,  // 0xE0
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,  // 0xE8
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,  // 0xF0
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,  // 0xF8
};

// Simple case pairs of the Latin-1 Supplement and Latin Extended-A blocks,
// which hold every letter of the three pages. Only true pairs are listed: the
// dotless i, long s and sharp s have no single-character partner.
char32_t LatinUpper(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - 0x20;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
    return (c & 1) ? c - 1 : c;
  }
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
  return c;
}

char32_t LatinLower(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 0x20;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c == 0x178) return 0xFF;
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
    return (c & 1) ? c : c + 1;
  }
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
  return c;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

constexpr char32_t kMalformed = 0xFFFFFFFF;

// Decodes the character starting at s[*pos] and advances *pos past it.
// Overlong forms, surrogates, values above U+10FFFF and truncated sequences
// give kMalformed (advancing one byte).
char32_t NextUtf8(std::string_view s, size_t* pos) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  uint8_t b0 = byte(*pos);
  if (b0 < 0x80) {
    ++*pos;
    return b0;
  }
  int extra;
  char32_t c;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    extra = 1, c = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    extra = 2, c = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    extra = 3, c = b0 & 0x07, min = 0x10000;
  } else {
    ++*pos;
    return kMalformed;
  }
  if (s.size() - *pos <= static_cast<size_t>(extra)) {
    ++*pos;
    return kMalformed;
  }
  for (int i = 1; i <= extra; ++i) {
    uint8_t b = byte(*pos + i);
    if ((b & 0xC0) != 0x80) {
      ++*pos;
      return kMalformed;
    }
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++*pos;
    return kMalformed;
  }
  *pos += extra + 1;
  return c;
}

}  // namespace

CodePage::CodePage(const char* name, uint8_t driver, const char32_t (&high)[128], bool utf8)
    : name_(name), driver_(driver), utf8_(utf8) {
  for (int b = 0; b < 256; ++b) {
    to_unicode_[b] = b < 0x80 ? static_cast<char32_t>(b) : high[b - 0x80];
    upper_[b] = lower_[b] = static_cast<uint8_t>(b);
  }
  // UTF-8 bytes past ASCII are parts of characters: no case of their own.
  if (utf8_) {
    for (int b = 0; b < 256; ++b) {
      to_unicode_[b] = static_cast<char32_t>(b);
      upper_[b] = static_cast<uint8_t>(b >= 'a' && b <= 'z' ? b - 0x20 : b);
      lower_[b] = static_cast<uint8_t>(b >= 'A' && b <= 'Z' ? b + 0x20 : b);
    }
    return;
  }
  // A byte gets a case partner only when the partner character is in this
  // page too; the pair functions are mutual inverses, so the maps are too.
  for (int b = 0; b < 256; ++b) {
    char32_t up = LatinUpper(to_unicode_[b]);
    char32_t low = LatinLower(to_unicode_[b]);
    for (int p = 0; p < 256; ++p) {
      if (up != to_unicode_[b] && to_unicode_[p] == up) upper_[b] = static_cast<uint8_t>(p);
      if (low != to_unicode_[b] && to_unicode_[p] == low) lower_[b] = static_cast<uint8_t>(p);
    }
  }
}

const CodePage& CodePage::Cp437() {
  static const CodePage page("cp437", 0x01, kCp437High);
  return page;
}

const CodePage& CodePage::Cp850() {
  static const CodePage page("cp850", 0x02, kCp850High);
  return page;
}

const CodePage& CodePage::Cp1252() {
  static const CodePage page("cp1252", 0x57, kCp1252High);
  return page;
}

const CodePage& CodePage::Utf8() {
  static const CodePage page("utf-8", 0x00, kCp1252High, true);
  return page;
}

void CodePage::UnmarkedScan::Add(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size() && valid_; ++i) {
    const auto c = static_cast<uint8_t>(bytes[i]);
    if (pending_ > 0) {
      if ((c & 0xC0) == 0x80) {
        --pending_;
      } else {
        valid_ = false;
      }
    } else if (c >= 0xC2 && c <= 0xDF) {
      pending_ = 1;
      multi_ = true;
    } else if (c >= 0xE0 && c <= 0xEF) {
      pending_ = 2;
      multi_ = true;
    } else if (c >= 0xF0 && c <= 0xF4) {
      pending_ = 3;
      multi_ = true;
    } else if (c >= 0x80) {
      valid_ = false;
    }
  }
}

const CodePage& CodePage::UnmarkedScan::Result() const {
  return valid_ && multi_ && pending_ == 0 ? Utf8() : Cp1252();
}

const CodePage& CodePage::ForUnmarkedText(std::string_view text) {
  UnmarkedScan scan;
  scan.Add(text);
  return scan.Result();
}

namespace {

// Language driver bytes of the three pages, national variants included, as
// the dBase family of file formats assigns them. 0 (none recorded) means
// the DOS default, cp437.
constexpr uint8_t kCp437Drivers[] = {0x00, 0x01, 0x09, 0x0B, 0x0D, 0x0F,
                                     0x11, 0x15, 0x18, 0x19, 0x1B};
constexpr uint8_t kCp850Drivers[] = {0x02, 0x0A, 0x0E, 0x10, 0x12, 0x14,
                                     0x16, 0x1A, 0x1D, 0x25, 0x37};
constexpr uint8_t kCp1252Drivers[] = {0x03, 0x57, 0x58, 0x59};

template <size_t N>
bool Contains(const uint8_t (&list)[N], uint8_t driver) {
  for (uint8_t d : list) {
    if (d == driver) return true;
  }
  return false;
}

const CodePage* KnownDriver(uint8_t driver) {
  if (Contains(kCp437Drivers, driver)) return &CodePage::Cp437();
  if (Contains(kCp850Drivers, driver)) return &CodePage::Cp850();
  if (Contains(kCp1252Drivers, driver)) return &CodePage::Cp1252();
  return nullptr;
}

}  // namespace

const CodePage& CodePage::ForDriver(uint8_t driver) {
  const CodePage* page = KnownDriver(driver);
  return page ? *page : Cp437();
}

bool CodePage::IsKnownDriver(uint8_t driver) {
  return KnownDriver(driver) != nullptr;
}

namespace {

bool IsValidUtf8(std::string_view s) {
  size_t pos = 0;
  while (pos < s.size())
    if (NextUtf8(s, &pos) == kMalformed) return false;
  return true;
}

// The nearest Latin letters of one character, as UTF-8 ("" when there are
// none): the phonetic digraphs and letters names use, then any script to
// Latin, then Latin to plain letters.
std::string NearestLatin(char32_t c) {
  static const std::unique_ptr<icu::Transliterator> to_latin = [] {
    UErrorCode status = U_ZERO_ERROR;
    UParseError where;
    std::unique_ptr<icu::Transliterator> t(icu::Transliterator::createFromRules(
        icu::UnicodeString::fromUTF8("klv-nearest"),
        icu::UnicodeString::fromUTF8("\\u02A3 > dz; \\u02A4 > dz; \\u02A5 > dz; \\u02A6 > ts; "
                                     "\\u02A7 > ts; \\u02A8 > tc; \\u0283 > sh; \\u0292 > zh; "
                                     "::Any-Latin; ::Latin-ASCII;"),
        UTRANS_FORWARD, where, status));
    return U_SUCCESS(status) ? std::move(t) : nullptr;
  }();
  if (!to_latin) return {};
  icu::UnicodeString text(static_cast<UChar32>(c));
  to_latin->transliterate(text);
  std::string out;
  text.toUTF8String(out);
  return out;
}

}  // namespace

std::optional<std::string> CodePage::Encode(std::string_view utf8, std::string* bad) const {
  if (utf8_) {
    if (IsValidUtf8(utf8)) return std::string(utf8);
    if (bad) *bad = "\xEF\xBF\xBD";
    return std::nullopt;
  }
  std::string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t c = NextUtf8(utf8, &pos);
    int found = -1;
    if (c < 0x80) {
      found = static_cast<int>(c);
    } else if (c != kMalformed) {
      for (int b = 0x80; b < 256 && found < 0; ++b) {
        if (to_unicode_[b] == c) found = b;
      }
    }
    if (found < 0) {
      if (bad) {
        bad->clear();
        AppendUtf8(*bad, c == kMalformed ? 0xFFFD : c);
      }
      return std::nullopt;
    }
    out += static_cast<char>(found);
  }
  return out;
}

std::string CodePage::EncodeNearest(std::string_view utf8, uint64_t* replaced) const {
  if (utf8_) {
    if (IsValidUtf8(utf8)) return std::string(utf8);
  }
  // The nearest letters of the characters met so far, in this page.
  thread_local std::unordered_map<char32_t, std::string> nearest[2];
  std::string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    // Runs of ASCII go over whole.
    size_t ascii = pos;
    while (ascii < utf8.size() && static_cast<uint8_t>(utf8[ascii]) < 0x80) ++ascii;
    out.append(utf8.substr(pos, ascii - pos));
    pos = ascii;
    if (pos == utf8.size()) break;
    const size_t start = pos;
    const char32_t c = NextUtf8(utf8, &pos);
    if (c != kMalformed) {
      if (utf8_) {
        out.append(utf8.substr(start, pos - start));
        continue;
      }
      int found = -1;
      for (int b = 0x80; b < 256 && found < 0; ++b)
        if (to_unicode_[b] == c) found = b;
      if (found >= 0) {
        out += static_cast<char>(found);
        continue;
      }
    }
    ++*replaced;
    if (c == kMalformed) {
      out += '?';
      continue;
    }
    auto& known = nearest[this == &Cp1252() ? 0 : 1];
    if (this != &Cp1252()) known.clear();  // only Windows-1252's are kept
    auto it = known.find(c);
    if (it == known.end()) {
      std::optional<std::string> near;
      const std::string latin = NearestLatin(c);
      if (!latin.empty() && latin != utf8.substr(start, pos - start)) near = Encode(latin);
      it = known.emplace(c, near && !near->empty() ? *near : std::string("?")).first;
    }
    out += it->second;
  }
  return out;
}

size_t CodePage::FitBytes(std::string_view bytes, size_t n) const {
  if (bytes.size() <= n) return bytes.size();
  if (!utf8_) return n;
  // Back to the start of the character that byte n belongs to.
  size_t end = n;
  while (end > 0 && (static_cast<uint8_t>(bytes[end]) & 0xC0) == 0x80) --end;
  return end;
}

std::string CodePage::Decode(std::string_view bytes) const {
  if (utf8_) {
    if (IsValidUtf8(bytes)) return std::string(bytes);
    // A foreign writer's stray bytes: each malformed byte as Windows-1252.
    std::string out;
    size_t pos = 0;
    while (pos < bytes.size()) {
      const size_t start = pos;
      if (NextUtf8(bytes, &pos) == kMalformed) {
        // Only bytes from 0x80 up are ever malformed.
        AppendUtf8(out, kCp1252High[static_cast<uint8_t>(bytes[start]) & 0x7F]);
      } else {
        out.append(bytes.substr(start, pos - start));
      }
    }
    return out;
  }
  // Text is mostly ASCII, which every page we know maps to itself: such a
  // run is copied whole.
  size_t plain = 0;
  while (plain < bytes.size() &&
         to_unicode_[static_cast<uint8_t>(bytes[plain])] == static_cast<uint8_t>(bytes[plain]) &&
         static_cast<uint8_t>(bytes[plain]) < 0x80)
    ++plain;
  std::string out(bytes.substr(0, plain));
  if (plain == bytes.size()) return out;
  out.reserve(plain + (bytes.size() - plain) * 2);
  for (char ch : bytes.substr(plain)) AppendUtf8(out, to_unicode_[static_cast<uint8_t>(ch)]);
  return out;
}

}  // namespace klv::base
