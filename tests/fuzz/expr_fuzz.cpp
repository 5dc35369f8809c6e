// Index expressions come from .MDX files of any origin. Arbitrary bytes are
// parsed against a fixed layout; whatever parses is evaluated on fixed
// records and on a record made of the input itself, and must keep its
// promised width; character keys copied straight from the record must equal
// the general evaluation. The same bytes also go through the code pages, which read
// UTF-8 from users and code page bytes from files.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "db/dbf/Base.h"
#include "db/dbf/Expr.h"

namespace {

using klv::dbf::CodePage;
using klv::dbf::ExprField;

constexpr size_t kRecordLength = 50;

const std::vector<ExprField> kFields = {
    {"NAME", 'C', 1, 10, 0},  {"COUNTRY", 'C', 11, 20, 0}, {"VALUE", 'N', 31, 8, 2},
    {"DATE", 'D', 39, 8, 0},  {"PAID", 'L', 47, 1, 0},     {"NOTES", 'M', 48, 1, 0},
    {"EMPTY", 'C', 49, 0, 0}, {"W", 'F', 49, 1, 0},
};

std::vector<std::vector<uint8_t>> Records(const uint8_t* data, size_t size) {
  std::vector<std::vector<uint8_t>> records;
  const char* texts[] = {
      " Sovereign France              12345.6719970305T1?",
      "                                                  ",
      " \xE9t\xE9\x9A\xFF      \x82\xE1                ********20000230Y 9",
  };
  for (std::string_view t : texts) {
    records.emplace_back(kRecordLength, ' ');
    for (size_t i = 0; i < t.size() && i < kRecordLength; ++i) records.back()[i] = t[i];
  }
  records.emplace_back(kRecordLength, 0);
  records.emplace_back(kRecordLength, 0xFF);
  std::vector<uint8_t> own(kRecordLength, ' ');
  for (size_t i = 0; i < kRecordLength && size > 0; ++i) own[i] = data[i % size];
  records.push_back(own);
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  const CodePage* pages[] = {&CodePage::Cp437(), &CodePage::Cp850(), &CodePage::Cp1252()};

  for (const CodePage* page : pages) {
    if (page->Encode(page->Decode(text)) != std::string(text)) std::abort();
    std::string bad;
    auto encoded = page->Encode(text, &bad);
    if (!encoded && bad.empty()) std::abort();
  }

  const CodePage& cp = *pages[size % 3];
  try {
    auto expr = klv::dbf::Expression::Parse(text, kFields, cp);
    for (const auto& rec : Records(data, size)) {
      klv::dbf::ExprValue v = expr.Evaluate(rec.data());
      if (v.type != expr.ResultType()) std::abort();
      if (v.type == 'C' && v.text.size() != static_cast<size_t>(expr.ResultLength())) std::abort();
      if (v.type == 'C') {
        // Keys copied straight from the record must be the evaluator's.
        std::string direct(v.text.size(), '\x01');
        expr.EvaluateText(rec.data(), direct.data());
        if (direct != v.text) std::abort();
      }
    }
  } catch (const klv::dbf::DbfError& e) {
    if (e.code() != klv::dbf::ErrorCode::kBadExpression) std::abort();
  }
  return 0;
}
