// Keys of numeric and date tags as dBase IV stores them, and the order of
// keys of every type.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "base/Bytes.h"
#include "db/dbf/Mdx.h"

namespace klv::dbf {
namespace {

// ---- Numeric keys ---------------------------------------------------------
//
// Byte 0 is 0x34 plus the decimal exponent (the count of digits before the
// point; less than 0x34 for values below 0.1). Byte 1 holds the sign in its
// top bit, the count of declared digits in bits 2-6 and 1 in bit 0. Bytes
// 2-11 hold up to 20 packed digits, high nibble first, starting with the
// first significant digit. dBase files declare at least ten digits even for
// short values, and so do we.

constexpr int kBcdDigits = 20;
constexpr int kBcdBias = 0x34;
constexpr int kMinDeclaredDigits = 10;

struct Bcd {
  int sign = 0;  // -1, 0 or +1
  int exp = 0;   // value = 0.d1d2d3... * 10^exp
  int n = 0;
  uint8_t d[kBcdDigits] = {};
};

Bcd ParseBcd(std::string_view key) {
  auto byte = [&](size_t i) -> uint8_t { return i < key.size() ? uint8_t(key[i]) : 0; };
  Bcd b;
  int exp = int(byte(0)) - kBcdBias;
  int count = std::min((byte(1) >> 2) & 0x1F, kBcdDigits);
  bool started = false;
  for (int i = 0; i < count; ++i) {
    uint8_t packed = byte(2 + size_t(i) / 2);
    uint8_t digit = (i % 2 == 0) ? uint8_t(packed >> 4) : uint8_t(packed & 0x0F);
    if (!started) {
      if (digit == 0) {
        --exp;  // a leading zero: normalise so equal values compare equal
        continue;
      }
      started = true;
    }
    b.d[b.n++] = digit;
  }
  while (b.n > 0 && b.d[b.n - 1] == 0) --b.n;
  b.exp = exp;
  b.sign = b.n == 0 ? 0 : ((byte(1) & 0x80) ? -1 : 1);
  return b;
}

int CompareBcd(const Bcd& a, const Bcd& b) {
  if (a.sign != b.sign) return a.sign < b.sign ? -1 : 1;
  if (a.sign == 0) return 0;
  int mag = 0;
  if (a.exp != b.exp) {
    mag = a.exp < b.exp ? -1 : 1;
  } else {
    int n = std::min(a.n, b.n);
    for (int i = 0; i < n && mag == 0; ++i) {
      if (a.d[i] != b.d[i]) mag = a.d[i] < b.d[i] ? -1 : 1;
    }
    if (mag == 0 && a.n != b.n) mag = a.n < b.n ? -1 : 1;
  }
  return a.sign * mag;
}

double DateValue(std::string_view key) {
  uint8_t raw[8] = {};
  std::memcpy(raw, key.data(), std::min<size_t>(key.size(), 8));
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = bits << 8 | raw[i];
  return std::bit_cast<double>(bits);
}

}  // namespace

std::string EncodeNumericKey(double value) {
  if (!std::isfinite(value))
    Fail(ErrorCode::kBadValue, "A number that is not finite cannot be indexed");
  std::string out(kNumericKeyLength, '\0');
  uint8_t digits[kBcdDigits] = {};
  int n = 0;
  int exp = 0;
  if (value != 0) {
    // 15 significant digits: what a double holds exactly of a decimal field.
    char buf[64];
    auto res =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 14);
    const char* e = std::find(buf, res.ptr, 'e');
    for (const char* p = buf; p < e; ++p) {
      if (*p >= '0' && *p <= '9') digits[n++] = uint8_t(*p - '0');
    }
    int e10 = 0;
    const char* ep = e + 1;
    if (ep < res.ptr && *ep == '+') ++ep;
    std::from_chars(ep, res.ptr, e10);
    while (n > 0 && digits[n - 1] == 0) --n;
    exp = e10 + 1;
    if (exp + kBcdBias > 255) {
      Fail(ErrorCode::kOverflow,
           "The number " + std::string(buf, res.ptr) + " is too large for an index key");
    }
    if (exp + kBcdBias < 0) n = 0;  // below the smallest exponent: indexes as zero
  }
  if (n == 0) exp = 0;
  int declared = std::max(n, kMinDeclaredDigits);
  out[0] = char(uint8_t(kBcdBias + exp));
  out[1] = char(uint8_t((value < 0 && n > 0 ? 0x80 : 0) | declared << 2 | 0x01));
  for (int i = 0; i < n; ++i) {
    uint8_t& b = reinterpret_cast<uint8_t&>(out[2 + size_t(i) / 2]);
    b = uint8_t(b | (i % 2 == 0 ? digits[i] << 4 : digits[i]));
  }
  return out;
}

double DecodeNumericKey(std::string_view key) {
  if (key.size() < 2) Fail(ErrorCode::kBadValue, "A numeric index key needs 12 bytes");
  Bcd b = ParseBcd(key);
  if (b.sign == 0) return 0.0;
  char buf[64];
  char* p = buf;
  *p++ = '0';
  *p++ = '.';
  for (int i = 0; i < b.n; ++i) *p++ = char('0' + std::min<int>(b.d[i], 9));
  *p++ = 'e';
  p = std::to_chars(p, buf + sizeof buf, b.exp).ptr;
  double v = 0;
  std::from_chars(buf, p, v);
  return b.sign < 0 ? -v : v;
}

std::string EncodeDateKey(double julian_day) {
  uint64_t bits = std::bit_cast<uint64_t>(julian_day);
  std::string out(8, '\0');
  for (int i = 0; i < 8; ++i) out[size_t(i)] = char(uint8_t(bits >> (8 * i)));
  return out;
}

double DecodeDateKey(std::string_view key) {
  if (key.size() != 8) Fail(ErrorCode::kBadValue, "A date index key needs 8 bytes");
  return DateValue(key);
}

int CompareKeys(KeyType type, std::string_view a, std::string_view b) {
  switch (type) {
    case KeyType::kNumeric:
      return CompareBcd(ParseBcd(a), ParseBcd(b));
    case KeyType::kDate: {
      double x = DateValue(a);
      double y = DateValue(b);
      bool xn = std::isnan(x);
      bool yn = std::isnan(y);
      if (xn || yn) return xn == yn ? 0 : (xn ? -1 : 1);  // NaN first, so the order stays total
      return x < y ? -1 : (x > y ? 1 : 0);
    }
    case KeyType::kChar:
      break;
  }
  size_t n = std::min(a.size(), b.size());
  int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (c != 0) return c < 0 ? -1 : 1;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace klv::dbf
