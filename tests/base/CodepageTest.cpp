#include "base/Codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace klv::base {
namespace {

const CodePage* const kPages[] = {&CodePage::Cp437(), &CodePage::Cp850(), &CodePage::Cp1252()};

std::string Byte(int b) {
  return std::string(1, static_cast<char>(b));
}

TEST(CodepageTest, DriverBytesNameTheirPage) {
  struct Case {
    uint8_t driver;
    const char* page;
    bool known;
  };
  const Case cases[] = {
      {0x01, "cp437", true},  {0x1B, "cp437", true},  {0x00, "cp437", true},
      {0x02, "cp850", true},  {0x10, "cp850", true},  {0x37, "cp850", true},
      {0x03, "cp1252", true}, {0x57, "cp1252", true}, {0x58, "cp1252", true},
      {0x64, "cp437", false},  // cp852: not a page of ours, so only the fallback
      {0xC8, "cp437", false}, {0xFF, "cp437", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.driver);
    EXPECT_STREQ(CodePage::ForDriver(c.driver).name(), c.page);
    EXPECT_EQ(CodePage::IsKnownDriver(c.driver), c.known);
  }
  // New tables are written with a byte that names the same page again.
  for (const CodePage* page : kPages) {
    EXPECT_EQ(&CodePage::ForDriver(page->driver()), page);
  }
  EXPECT_EQ(CodePage::Cp1252().driver(), 0x57);
}

TEST(CodepageTest, EveryByteSurvivesDecodeAndEncode) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += Byte(b);
  for (const CodePage* page : kPages) {
    SCOPED_TRACE(page->name());
    std::string utf8 = page->Decode(all);
    EXPECT_EQ(page->Decode(all.substr(0, 128)), all.substr(0, 128));  // ASCII identity
    EXPECT_EQ(page->Encode(utf8), all);
  }
}

TEST(CodepageTest, HighHalfMatchesThePublishedTables) {
  struct Case {
    const CodePage& page;
    int byte;
    const char* utf8;
  };
  const Case cases[] = {
      {CodePage::Cp437(), 0x81, "ü"},       {CodePage::Cp437(), 0x9E, "₧"},
      {CodePage::Cp437(), 0xE1, "ß"},       {CodePage::Cp437(), 0xFF, "\u00A0"},
      {CodePage::Cp850(), 0x9B, "ø"},       {CodePage::Cp850(), 0xD5, "ı"},
      {CodePage::Cp850(), 0xB7, "À"},       {CodePage::Cp1252(), 0x80, "€"},
      {CodePage::Cp1252(), 0x8A, "Š"},      {CodePage::Cp1252(), 0x9F, "Ÿ"},
      {CodePage::Cp1252(), 0xE9, "é"},      {CodePage::Cp1252(), 0x81, "\u0081"},
      {CodePage::Cp1252(), 0x9D, "\u009D"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.page.name()) + " " + std::to_string(c.byte));
    EXPECT_EQ(c.page.Decode(Byte(c.byte)), c.utf8);
    EXPECT_EQ(c.page.Encode(c.utf8), Byte(c.byte));
  }
  EXPECT_EQ(CodePage::Cp1252().Encode("Münze 5€"), "M\xFCnze 5\x80");
}

TEST(CodepageTest, RefusesWhatThePageCannotHoldAndNamesIt) {
  struct Case {
    const CodePage& page;
    const char* text;
    const char* bad;
  };
  const Case cases[] = {
      {CodePage::Cp437(), "5 €", "€"},
      {CodePage::Cp850(), "Łódź", "Ł"},
      {CodePage::Cp1252(), "Łódź", "Ł"},
      {CodePage::Cp1252(), "Coin \xF0\x9F\xAA\x99", "\xF0\x9F\xAA\x99"},
      {CodePage::Cp1252(), "\xE2\x94\x80", "─"},  // box drawing: cp437 only
      // Malformed UTF-8 is reported as U+FFFD, never passed through.
      {CodePage::Cp437(), "ab\xC3", "\uFFFD"},            // truncated
      {CodePage::Cp437(), "\xC0\xAF", "\uFFFD"},          // overlong '/'
      {CodePage::Cp437(), "\xED\xA0\x80", "\uFFFD"},      // surrogate
      {CodePage::Cp437(), "\xF4\x90\x80\x80", "\uFFFD"},  // above U+10FFFF
      {CodePage::Cp1252(), "\x80", "\uFFFD"},             // lone continuation
      {CodePage::Cp1252(), "\xE9t\xE9", "\uFFFD"},        // Latin-1 passed as UTF-8
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string bad = "unchanged";
    EXPECT_EQ(c.page.Encode(c.text, &bad), std::nullopt);
    EXPECT_EQ(bad, c.bad);
    EXPECT_EQ(c.page.Encode(c.text), std::nullopt);  // *bad is optional
  }
  EXPECT_EQ(CodePage::Cp437().Encode("─┼"), "\xC4\xC5");
  EXPECT_EQ(CodePage::Cp437().Encode(""), "");
}

TEST(CodepageTest, CaseMappingCoversAccentedLettersWithBothFormsInThePage) {
  struct Case {
    const CodePage& page;
    const char* lower;
    const char* upper;
  };
  const Case pairs[] = {
      {CodePage::Cp437(), "é", "É"},  {CodePage::Cp437(), "ä", "Ä"},
      {CodePage::Cp437(), "ñ", "Ñ"},  {CodePage::Cp850(), "é", "É"},
      {CodePage::Cp850(), "à", "À"},  {CodePage::Cp850(), "ø", "Ø"},
      {CodePage::Cp1252(), "é", "É"}, {CodePage::Cp1252(), "š", "Š"},
      {CodePage::Cp1252(), "œ", "Œ"}, {CodePage::Cp1252(), "ÿ", "Ÿ"},
      {CodePage::Cp1252(), "þ", "Þ"}, {CodePage::Cp1252(), "q", "Q"},
  };
  for (const Case& c : pairs) {
    SCOPED_TRACE(std::string(c.page.name()) + " " + c.lower);
    auto lower = static_cast<uint8_t>((*c.page.Encode(c.lower))[0]);
    auto upper = static_cast<uint8_t>((*c.page.Encode(c.upper))[0]);
    EXPECT_EQ(c.page.Upper(lower), upper);
    EXPECT_EQ(c.page.Lower(upper), lower);
  }
  // No partner in the page, or no single-letter partner at all: unchanged.
  const Case alone[] = {
      {CodePage::Cp437(), "ß", ""}, {CodePage::Cp437(), "ÿ", ""},  {CodePage::Cp437(), "à", ""},
      {CodePage::Cp437(), "µ", ""}, {CodePage::Cp437(), "σ", ""},  {CodePage::Cp850(), "ı", ""},
      {CodePage::Cp850(), "ß", ""}, {CodePage::Cp1252(), "ƒ", ""}, {CodePage::Cp1252(), "ª", ""},
  };
  for (const Case& c : alone) {
    SCOPED_TRACE(std::string(c.page.name()) + " " + c.lower);
    auto b = static_cast<uint8_t>((*c.page.Encode(c.lower))[0]);
    EXPECT_EQ(c.page.Upper(b), b);
    EXPECT_EQ(c.page.Lower(b), b);
  }
  // The maps pair bytes: whatever changes case changes back.
  for (const CodePage* page : kPages) {
    for (int b = 0; b < 256; ++b) {
      auto c = static_cast<uint8_t>(b);
      if (page->Upper(c) != c) {
        EXPECT_EQ(page->Lower(page->Upper(c)), c) << page->name() << b;
      }
      if (page->Lower(c) != c) {
        EXPECT_EQ(page->Upper(page->Lower(c)), c) << page->name() << b;
      }
    }
  }
}

// A table without a language driver byte: UTF-8 only when its text is
// valid UTF-8 with at least one letter past ASCII, else Windows-1252.
TEST(CodepageTest, UnmarkedTextIsUtf8OnlyWhenItLooksLikeIt) {
  struct Case {
    std::string text;
    const char* page;
  };
  const Case cases[] = {
      {"z\xC5\x82oty C\xC3\xB4te", "utf-8"},
      {"\xE6\x97\xA5\xE6\x9C\xAC", "utf-8"},
      {"plain ASCII only", "cp1252"},
      {"", "cp1252"},
      {"C\xF4te d'Ivoire", "cp1252"},    // Windows-1252 bytes
      {"\xC5\x82 then \xF4", "cp1252"},  // mixed: not UTF-8 throughout
      {"cut \xC5", "cp1252"},            // a sequence cut at the end
      {"\xC0\x80 overlong", "cp1252"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(CodePage::ForUnmarkedText(c.text).name(), c.page) << c.text;
    // Read in pieces, the same.
    CodePage::UnmarkedScan scan;
    for (char ch : c.text) scan.Add(std::string_view(&ch, 1));
    EXPECT_STREQ(scan.Result().name(), c.page) << c.text;
  }
  const CodePage& utf8 = CodePage::Utf8();
  EXPECT_EQ(utf8.Decode("z\xC5\x82oty"), "z\xC5\x82oty");
  EXPECT_EQ(utf8.Encode("\xCA\xA4"), std::optional<std::string>("\xCA\xA4"));
  EXPECT_EQ(utf8.Encode("bad \xC5"), std::nullopt);
  EXPECT_EQ(utf8.Decode("stray \xF4"), "stray \xC3\xB4");  // as Windows-1252
  EXPECT_EQ(utf8.Upper('a'), 'A');
  EXPECT_EQ(utf8.Upper(0xC5), 0xC5);
  // A field is cut at a character boundary, never inside one.
  EXPECT_EQ(utf8.FitBytes("z\xC5\x82oty", 2), 1u);
  EXPECT_EQ(utf8.FitBytes("z\xC5\x82oty", 3), 3u);
  EXPECT_EQ(CodePage::Cp1252().FitBytes("abc", 2), 2u);
}

// Characters a page cannot hold become their nearest letters, counted.
TEST(CodepageTest, NearestLettersForWhatThePageCannotHold) {
  struct Case {
    std::string in;
    std::string out;  // Windows-1252 bytes
    uint64_t replaced;
  };
  const Case cases[] = {
      {"z\xC5\x82oty", "zloty", 1},                     // ł
      {"\xC5\x98\xC3\xADm", "R\xEDm", 1},               // Ř, and í stays
      {"d\xC5\x99\xC3\xAD", "dr\xED", 1},               // ř
      {"\xCA\xA4", "dz", 1},                            // ʤ
      {"\xD0\x9C\xD0\xB8\xD1\x80", "Mir", 3},           // Cyrillic
      {"C\xC3\xB4te \xE2\x82\xAC", "C\xF4te \x80", 0},  // all in the page
      {"\xE2\x98\x83", "?", 1},                         // a snowman has no letters
      {"bad \xC5", "bad ?", 1},
  };
  for (const Case& c : cases) {
    uint64_t replaced = 0;
    EXPECT_EQ(CodePage::Cp1252().EncodeNearest(c.in, &replaced), c.out) << c.in;
    EXPECT_EQ(replaced, c.replaced) << c.in;
  }
}

}  // namespace
}  // namespace klv::base
