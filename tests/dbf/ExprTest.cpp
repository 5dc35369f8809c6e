#include "db/dbf/Expr.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "db/dbf/Base.h"

namespace klv::dbf {
namespace {

// A coin-table-like layout; byte 0 is the deletion flag.
const std::vector<ExprField> kFields = {
    {"NAME", 'C', 1, 10, 0},   {"COUNTRY", 'C', 11, 20, 0},  {"MARKETVALU", 'N', 31, 12, 2},
    {"QTY", 'N', 43, 5, 0},    {"PURCHDATE", 'D', 48, 8, 0}, {"PAID", 'L', 56, 1, 0},
    {"NOTES", 'M', 57, 10, 0}, {"WEIGHT", 'F', 67, 8, 3},
};
constexpr size_t kRecordLength = 75;

// A record from field texts in kFields order, each left aligned and blank
// padded (numbers are given already right aligned where it matters).
std::vector<uint8_t> Record(const std::vector<std::string>& values) {
  std::vector<uint8_t> rec(kRecordLength, ' ');
  for (size_t i = 0; i < values.size(); ++i) {
    const ExprField& f = kFields[i];
    for (size_t j = 0; j < values[i].size() && j < static_cast<size_t>(f.length); ++j) {
      rec[f.offset + j] = static_cast<uint8_t>(values[i][j]);
    }
  }
  return rec;
}

const std::vector<uint8_t> kCoin = Record(
    {"Sovereign", "France", "      123.45", "   12", "19970305", "T", "0000000001", "  31.103"});
const std::vector<uint8_t> kBlank = Record({});

Expression Parse(const std::string& text, const CodePage& cp = CodePage::Cp1252()) {
  return Expression::Parse(text, kFields, cp);
}

std::string Text(const std::string& text, const std::vector<uint8_t>& rec = kCoin) {
  return Parse(text).Evaluate(rec.data()).text;
}

double Number(const std::string& text, const std::vector<uint8_t>& rec = kCoin) {
  return Parse(text).Evaluate(rec.data()).number;
}

std::string Pad(const std::string& s, size_t width) {
  return s + std::string(width - s.size(), ' ');
}

TEST(ExprTest, WidthsAreFixedAtParseTime) {
  struct Case {
    const char* text;
    char type;
    int length;
  };
  const Case widths[] = {
      {"Upper(Left(Country,40))+DTOS(PurchDate)", 'C', 48},
      {"Upper(Left(Country,80))", 'C', 80},
      {"STR(MarketValu,12,2)", 'C', 12},
      {"STR(QTY)", 'C', 10},
      {"name", 'C', 10},
      {"'abc'", 'C', 3},
      {"\"\"+NAME", 'C', 10},
      {"NAME+COUNTRY+'x'", 'C', 31},
      {"RIGHT(NAME,15)", 'C', 15},
      {"SUBSTR(COUNTRY,5)", 'C', 16},
      {"SUBSTR(COUNTRY,5,3)", 'C', 3},
      {"LTRIM(TRIM(NAME))+COUNTRY", 'C', 30},
      {"DTOC(PURCHDATE)", 'C', 8},
      {"MARKETVALU", 'N', 12},
      {"QTY+WEIGHT+1.5", 'N', 12},
      {"VAL(NAME)", 'N', 12},
      {"PURCHDATE", 'D', 8},
  };
  for (const Case& c : widths) {
    SCOPED_TRACE(c.text);
    Expression e = Parse(c.text);
    EXPECT_EQ(e.ResultType(), c.type);
    EXPECT_EQ(e.ResultLength(), c.length);
    EXPECT_EQ(e.text(), c.text);
    if (c.type == 'C') {
      EXPECT_EQ(e.Evaluate(kCoin.data()).text.size(), static_cast<size_t>(c.length));
      EXPECT_EQ(e.Evaluate(kBlank.data()).text.size(), static_cast<size_t>(c.length));
    }
  }
}

TEST(ExprTest, CharacterValuesArePaddedOrCutToTheirWidth) {
  EXPECT_EQ(Text("Upper(Left(Country,40))+DTOS(PurchDate)"), Pad("FRANCE", 40) + "19970305");
  EXPECT_EQ(Text("Upper(Left(Country,40))+DTOS(PurchDate)", kBlank), std::string(48, ' '));
  EXPECT_EQ(Text("LEFT(NAME,3)+'|'"), "Sov|");
  EXPECT_EQ(Text("RIGHT(NAME,4)"), "ign ");  // the field's own trailing blank
  EXPECT_EQ(Text("RIGHT(NAME,12)+'|'"), "Sovereign   |");
  EXPECT_EQ(Text("SUBSTR(NAME,4,3)"), "ere");
  EXPECT_EQ(Text("SUBSTR(NAME,4)"), "ereign ");
  EXPECT_EQ(Text("SUBSTR(NAME,9,5)+'|'"), "n    |");
  EXPECT_EQ(Text("LEFT(NAME,0)+'x'"), "x");
  EXPECT_EQ(Text(" dtos ( purchdate ) +SuBsTr(NaMe, 1, 3)"), "19970305Sov");
}

TEST(ExprTest, TrimsRemoveBlanksInsideAndTheKeyIsPaddedAtTheEnd) {
  const auto rec = Record({"  Smith", "John"});
  EXPECT_EQ(Text("TRIM(NAME)+COUNTRY", rec), Pad("  SmithJohn", 30));
  EXPECT_EQ(Text("RTRIM(NAME)+'|'", rec), Pad("  Smith|", 11));
  EXPECT_EQ(Text("LTRIM(NAME)+'|'", rec), Pad("Smith   |", 11));
  EXPECT_EQ(Text("UPPER(LTRIM(TRIM(NAME)))+'|'", rec), Pad("SMITH|", 11));
  EXPECT_EQ(Text("LEFT(LTRIM(NAME),3)+'|'", rec), "Smi|");
  EXPECT_EQ(Text("TRIM(NAME)", kBlank), std::string(10, ' '));
}

TEST(ExprTest, UpperAndLowerUseTheTablesCodePage) {
  const auto cp1252 = Record({"\xE9t\xE9 \x9A\xFF"});  // "été šÿ" in cp1252
  EXPECT_EQ(Text("UPPER(NAME)", cp1252), Pad("\xC9T\xC9 \x8A\x9F", 10));
  EXPECT_EQ(Text("LOWER(UPPER(NAME))", cp1252), Text("NAME", cp1252));
  const auto cp437 = Record({"\x82\xE1\x98"});  // "éßÿ" in cp437
  EXPECT_EQ(
      Expression::Parse("UPPER(NAME)", kFields, CodePage::Cp437()).Evaluate(cp437.data()).text,
      Pad("\x90\xE1\x98", 10));
}

TEST(ExprTest, StrFormatsLikeDbase) {
  struct Case {
    const char* expr;
    const char* text;
  };
  const Case cases[] = {
      {"STR(MARKETVALU,12,2)", "      123.45"},
      {"STR(MARKETVALU)", "       123"},
      {"STR(MARKETVALU,6,1)", " 123.5"},  // 123.45 rounds away from zero
      {"STR(2.5,3)", "  3"},
      {"STR(VAL('-2.5'),3)", " -3"},
      {"STR(1.005,5,2)", " 1.01"},  // the decimal text, not its binary neighbour
      {"STR(VAL('-0.001'),6,2)", "  0.00"},
      {"STR(0.5,1)", "1"},
      {"STR(999.96,6,1)", "1000.0"},
      {"STR(999.96,5,1)", "*****"},  // does not fit: '*' fill
      {"STR(MARKETVALU,2)", "**"},
      {"STR(QTY,5)+STR(QTY+WEIGHT,8,3)", "   12  43.103"},
      {"STR(.25,4,2)", "0.25"},
      {"STR(VAL('123456789012345678'),20)", "  123456789012345680"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expr);
    EXPECT_EQ(Text(c.expr), c.text);
  }
  EXPECT_EQ(Text("STR(MARKETVALU,12,2)", kBlank), "        0.00");
}

TEST(ExprTest, DatesReadAndFormat) {
  EXPECT_EQ(Text("DTOS(PURCHDATE)"), "19970305");
  EXPECT_EQ(Text("DTOC(PURCHDATE)"), "03/05/97");
  EXPECT_EQ(Number("PURCHDATE"), JulianDay(1997, 3, 5));
  EXPECT_EQ(Number("PURCHDATE", kBlank), 0);
  EXPECT_EQ(Text("DTOS(PURCHDATE)+'|'", kBlank), "        |");
  EXPECT_EQ(Text("DTOC(PURCHDATE)", kBlank), "        ");
  // Impossible dates read as blank, real edge dates do not.
  for (const char* bad : {"19000229", "19971301", "19970000", "00000101", "1997-3-5", "2000022A"}) {
    SCOPED_TRACE(bad);
    const auto rec = Record({"", "", "", "", bad});
    EXPECT_EQ(Text("DTOS(PURCHDATE)", rec), "        ");
    EXPECT_EQ(Number("PURCHDATE", rec), 0);
  }
  for (const char* good : {"20000229", "00010101", "99991231"}) {
    EXPECT_EQ(Text("DTOS(PURCHDATE)", Record({"", "", "", "", good})), good);
  }
}

TEST(ExprTest, NumbersReadFromTheFieldText) {
  EXPECT_DOUBLE_EQ(Number("MARKETVALU"), 123.45);
  EXPECT_DOUBLE_EQ(Number("MARKETVALU+QTY+WEIGHT"), 166.553);
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"", 0},    {"  -7.50", -7.5}, {"+3", 3}, {"********", 0}, {"12 34", 0}, {"1e3", 1000},
      {"inf", 0}, {"nan", 0},        {"-", 0},  {".", 0},        {"0x10", 0},  {"  1,5", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_DOUBLE_EQ(Number("WEIGHT", Record({"", "", "", "", "", "", "", c.text})), c.value);
  }
}

TEST(ExprTest, ValReadsTheLeadingNumber) {
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"'  12.5 coins'", 12.5}, {"'-3'", -3}, {"'+.5'", 0.5}, {"'abc'", 0}, {"' '", 0},
      {"'1.2.3'", 1.2},         {"'- 4'", 0}, {"'12e3'", 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_DOUBLE_EQ(Number(std::string("VAL(") + c.text + ")"), c.value);
  }
  EXPECT_DOUBLE_EQ(Number("VAL(NAME)+1"), 1);
}

TEST(ExprTest, RefusesWhatItDoesNotUnderstand) {
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"FOO(COUNTRY)", "Unknown function \"FOO\" in index expression \"FOO(COUNTRY)\""},
      {"COUNTRI", "Unknown field \"COUNTRI\" in index expression \"COUNTRI\""},
      {"PAID", "Field \"PAID\" of type L cannot be used"},
      {"UPPER(NOTES)", "Field \"NOTES\" of type M cannot be used"},
      {"UPPER(NAME,1)", "UPPER takes 1 argument, not 2"},
      {"UPPER()", "UPPER takes 1 argument, not 0"},
      {"SUBSTR(NAME)", "SUBSTR takes 2 or 3 arguments, not 1"},
      {"STR(QTY,1,2,3)", "STR takes 1 to 3 arguments, not 4"},
      {"UPPER(QTY)", "Argument 1 of UPPER must be character, not numeric"},
      {"DTOS(NAME)", "Argument 1 of DTOS must be date, not character"},
      {"LEFT(NAME,QTY)", "Argument 2 of LEFT must be a whole number written as digits"},
      {"LEFT(NAME,2.5)", "Argument 2 of LEFT must be a whole number written as digits"},
      {"LEFT(NAME,256)", "Argument 2 of LEFT must be from 0 to 255"},
      {"SUBSTR(NAME,0,2)", "Argument 2 of SUBSTR must be from 1 to 255"},
      {"STR(QTY,0)", "Argument 2 of STR must be from 1 to 255"},
      {"NAME+QTY", "\"+\" needs two character or two numeric values, not character and numeric"},
      {"PURCHDATE+PURCHDATE", "not date and date"},
      {"NAME COUNTRY", "Unexpected \"COUNTRY\" at position 6"},
      {"UPPER(NAME))", "Unexpected \")\" at position 12"},
      {"NAME-COUNTRY", "Unexpected \"-\" at position 5"},
      {"UPPER(NAME", "Missing \")\""},
      {"(NAME", "Missing \")\""},
      {"UPPER(NAME;1)", "Unexpected \";\" at position 11"},
      {"NAME+", "A value is missing at the end"},
      {"'abc", "Unterminated string"},
      {"", "Nothing to evaluate in index expression \"\""},
      {"   ", "Nothing to evaluate"},
      {"LEFT(NAME,0)", "The expression gives an empty text"},
      {"SUBSTR(NAME,30)", "The expression gives an empty text"},
      {"LEFT(NAME,200)+LEFT(NAME,200)", "A text longer than 255 characters"},
      {std::string(64, '(') + "NAME" + std::string(64, ')'), "Nesting deeper than 64 levels"},
      {"NAME+" + std::string(251, ' '), "More than 255 characters"},
      {"NAME\x01", "Unexpected \"?\" at position 5 in index expression \"NAME?\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      Parse(c.text);
      ADD_FAILURE() << "parsed";
    } catch (const DbfError& e) {
      EXPECT_EQ(e.code(), ErrorCode::kBadExpression);
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  // Just inside the limits.
  EXPECT_NO_THROW(Parse(std::string(63, '(') + "NAME" + std::string(63, ')')));
  EXPECT_NO_THROW(Parse("NAME" + std::string(251, ' ')));
}

TEST(ExprTest, EvaluationIsSafeForAnyRecordBytes) {
  const char* exprs[] = {
      "Upper(Left(Country,40))+DTOS(PurchDate)", "STR(MarketValu,12,2)+STR(WEIGHT,240,200)",
      "DTOC(PURCHDATE)+SUBSTR(NAME,10)",         "STR(VAL(NAME)+QTY,20,4)",
      "LTRIM(RTRIM(COUNTRY))+RIGHT(NAME,3)",
  };
  std::mt19937 rng(97);
  std::vector<std::vector<uint8_t>> records = {std::vector<uint8_t>(kRecordLength, 0),
                                               std::vector<uint8_t>(kRecordLength, 0xFF)};
  for (int i = 0; i < 200; ++i) {
    std::vector<uint8_t> rec(kRecordLength);
    for (auto& b : rec)
      b = static_cast<uint8_t>(rng() % 4 ? "0123456789 .-*+e"[rng() % 16] : rng());
    records.push_back(rec);
  }
  for (const char* text : exprs) {
    Expression e = Parse(text);
    for (const auto& rec : records) {
      std::vector<uint8_t> exact(rec);  // an exactly sized heap copy, for the sanitizers
      ExprValue v = e.Evaluate(exact.data());
      ASSERT_EQ(v.text.size(), static_cast<size_t>(e.ResultLength())) << text;
    }
  }
}

TEST(ExprTest, JulianDaysAreProlepticGregorian) {
  EXPECT_EQ(JulianDay(2000, 1, 1), 2451545);
  EXPECT_EQ(JulianDay(1970, 1, 1), 2440588);
  EXPECT_EQ(JulianDay(1, 1, 1), 1721426);
  EXPECT_EQ(JulianDay(1600, 3, 1) - JulianDay(1600, 2, 28), 2);  // leap century
  EXPECT_EQ(JulianDay(1900, 3, 1) - JulianDay(1900, 2, 28), 1);
  int y, m, d;
  for (int64_t jd = JulianDay(-400, 1, 1); jd <= JulianDay(10000, 1, 1); jd += 13) {
    CivilFromJulian(jd, &y, &m, &d);
    ASSERT_EQ(JulianDay(y, m, d), jd);
    ASSERT_TRUE(m >= 1 && m <= 12 && d >= 1 && d <= 31) << jd;
  }
  CivilFromJulian(2451604, &y, &m, &d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20000229);
  CivilFromJulian(INT64_MAX, &y, &m, &d);
  EXPECT_EQ(y, 0);
}

// Index builds take character keys straight from the record; those bytes
// must be the general evaluator's for every expression and every record,
// blanks, impossible dates, accented letters and garbage included.
TEST(ExprTest, KeysCopiedFromTheRecordEqualTheGeneralEvaluation) {
  const char* exprs[] = {
      "NAME",
      "Upper(Left(Country,40))+DTOS(PurchDate)",
      "UPPER(NAME)+LOWER(COUNTRY)",
      "Lower(Upper(Name))",
      "LEFT(NAME,3)+RIGHT(COUNTRY,25)+SUBSTR(NAME,4)",
      "SUBSTR(COUNTRY,15,10)+SUBSTR(NAME,11,2)+SUBSTR(NAME,2,0)",
      "RIGHT(NAME,4)+LEFT('ab',5)+'x'",
      "UPPER('mixed Case ä')+DTOC(PURCHDATE)",
      "SUBSTR(DTOS(PURCHDATE),3,4)+LEFT(DTOC(PURCHDATE),2)+UPPER(RIGHT(DTOS(PURCHDATE),3))",
      "UPPER(SUBSTR(NAME+COUNTRY,8,6))",
      "TRIM(NAME)+COUNTRY",
      "STR(MARKETVALU,12,2)+NAME",
      "LTRIM(STR(QTY))+UPPER(NAME)",
  };
  std::vector<std::vector<uint8_t>> records = {kCoin, kBlank};
  for (const char* date : {"20000229", "19000229", "00010101", "99991231", "2000 101", "20001301",
                           "20000431", "00000101", "ABCDEFGH"}) {
    records.push_back(Record({"n\xE4me", "\xF6sterreich", "1", "2", date}));
  }
  std::mt19937 rng(7);
  for (int i = 0; i < 200; ++i) {
    std::vector<uint8_t> rec(kRecordLength);
    for (auto& b : rec)
      b = static_cast<uint8_t>(i % 2 ? rng() : "0123456789 aZ\xE9\xC9"[rng() % 15]);
    records.push_back(rec);
  }
  for (const CodePage* cp : {&CodePage::Cp1252(), &CodePage::Cp437(), &CodePage::Cp850()}) {
    for (const char* text : exprs) {
      SCOPED_TRACE(text);
      Expression e = Parse(text, *cp);
      for (const auto& rec : records) {
        std::string direct(static_cast<size_t>(e.ResultLength()), '\x01');
        e.EvaluateText(rec.data(), direct.data());
        ASSERT_EQ(direct, e.Evaluate(rec.data()).text);
      }
    }
  }
  EXPECT_THROW(Parse("QTY").EvaluateText(kCoin.data(), nullptr), DbfError);
}

}  // namespace
}  // namespace klv::dbf
