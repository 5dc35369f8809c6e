// Single-byte code pages named by the dBase language driver byte. Text enters
// and leaves the engine as UTF-8; on disk it is in the table's code page.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace klv::base {

class CodePage {
 public:
  // The code page a language driver byte names; cp437 for unknown or 0 bytes
  // (the dBase default), so that foreign tables still open. The national
  // variants of the three pages (e.g. 0x10 German cp850, 0x58 Western
  // European cp1252) map to their page.
  static const CodePage& ForDriver(uint8_t driver);
  // Whether ForDriver(driver) names the table's real page rather than the
  // fallback (0 counts as known: it is the DOS default). A table whose driver
  // is not known (e.g. 0x64, cp852) decodes approximately only: writing text
  // into it would mix code pages.
  static bool IsKnownDriver(uint8_t driver);
  static const CodePage& Cp437();
  static const CodePage& Cp850();
  static const CodePage& Cp1252();
  // Text kept as UTF-8 bytes: what a table without a language driver byte
  // holds when its text is UTF-8 (see ForUnmarkedText). Its driver byte is
  // 0, so that writing into such a table leaves the header as it was; case
  // mapping covers ASCII letters only.
  static const CodePage& Utf8();
  bool is_utf8() const { return utf8_; }

  // The page for the text of a file whose language driver byte is 0 (no
  // page recorded; the Windows programs that write such files use
  // Windows-1252, newer ones UTF-8): UTF-8 when the text is valid UTF-8 and
  // holds at least one character of two or more bytes, else cp1252.
  static const CodePage& ForUnmarkedText(std::string_view text);
  // Incremental form of the same test, for text read in pieces.
  class UnmarkedScan {
   public:
    void Add(std::string_view bytes);
    const CodePage& Result() const;

   private:
    int pending_ = 0;  // continuation bytes still expected
    bool valid_ = true;
    bool multi_ = false;
  };

  const char* name() const { return name_; }  // "cp437", "cp850", "cp1252"
  uint8_t driver() const { return driver_; }  // byte written for new tables: 0x01, 0x02, 0x57

  // UTF-8 to code page bytes. On a character the page cannot hold (or bad
  // UTF-8) returns nullopt and stores the offending character (as UTF-8) in
  // *bad when given; for bad UTF-8 that is U+FFFD, so *bad is always valid
  // UTF-8 fit for a message. Nothing is ever substituted in the result.
  std::optional<std::string> Encode(std::string_view utf8, std::string* bad = nullptr) const;
  // Code page bytes to UTF-8; every byte maps to a character (cp1252's five
  // unassigned bytes to the C1 controls of the same number), and
  // Encode(Decode(b)) == b for all bytes.
  std::string Decode(std::string_view bytes) const;

  // Encode, with each character the page cannot hold replaced by its
  // nearest letters in the page (ł → l, ř → r, ʤ → dz; "?" when there are
  // none). *replaced counts the characters so replaced. Bad UTF-8 is
  // replaced by "?" too.
  std::string EncodeNearest(std::string_view utf8, uint64_t* replaced) const;

  // The length in bytes of the longest start of bytes (text in this page)
  // that is at most n bytes and ends at a character boundary.
  size_t FitBytes(std::string_view bytes, size_t n) const;

  // Case mapping of one code page byte, for UPPER/LOWER in index keys: ASCII
  // letters and the accented Latin letters whose other case is in the same
  // page; every other byte maps to itself.
  uint8_t Upper(uint8_t c) const { return upper_[c]; }
  uint8_t Lower(uint8_t c) const { return lower_[c]; }

  // high[i] is the character of byte 0x80 + i; bytes below 0x80 are ASCII.
  CodePage(const char* name, uint8_t driver, const char32_t (&high)[128], bool utf8 = false);

 private:
  const char* name_;
  uint8_t driver_;
  bool utf8_ = false;
  char32_t to_unicode_[256];
  uint8_t upper_[256];
  uint8_t lower_[256];
};

}  // namespace klv::base
