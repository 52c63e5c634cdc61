#include "common/text.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace tsl {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// printf renders non-finite values as inf/nan; to_chars does the same but
// without the sign rules being obvious, so spell them out once. Null for a
// finite value.
const char *NonFiniteText(double v) {
  if (std::isnan(v)) return std::signbit(v) ? "-nan" : "nan";
  if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
  return nullptr;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// from_chars reports a value too large and one too small alike as out of
// range. The number's order of magnitude tells them apart: its digits from
// the first significant one, and its exponent, place it in [10^(e-1), 10^e),
// and out of range e lies hundreds away from 0 on one side or the other.
// [p, end) is the number as from_chars matched it.
bool TooSmall(const char *p, const char *end) {
  if (p < end && (*p == '+' || *p == '-')) ++p;
  long long e = 0;
  bool significant = false;
  for (; p < end && IsDigit(*p); ++p) {
    significant = significant || *p != '0';
    if (significant) ++e;
  }
  if (p < end && *p == '.') {
    for (++p; p < end && IsDigit(*p); ++p) {
      significant = significant || *p != '0';
      if (!significant) --e;
    }
  }
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    const bool negative = p < end && *p == '-';
    if (p < end && (*p == '+' || *p == '-')) ++p;
    // Held at a billion: any exponent that far out decides alone.
    long long exponent = 0;
    for (; p < end && IsDigit(*p); ++p)
      exponent = std::min(exponent * 10 + (*p - '0'), 1000000000LL);
    e += negative ? -exponent : exponent;
  }
  return e < 0;
}

}  // namespace

NumberText FixedText(double v, int precision) {
  NumberText t;
  if (const char *special = NonFiniteText(v)) {
    std::strcpy(t.text, special);
    return t;
  }
  auto r = std::to_chars(t.text, t.text + sizeof t.text - 1, v, std::chars_format::fixed,
                         precision);
  if (r.ec != std::errc()) return NumberText{"0"};
  *r.ptr = '\0';
  return t;
}

NumberText IntText(long long v) {
  NumberText t;
  *std::to_chars(t.text, t.text + sizeof t.text - 1, v).ptr = '\0';
  return t;
}

std::string FormatFixed(double v, int precision) { return FixedText(v, precision).c_str(); }

std::string FormatGeneral(double v) {
  if (const char *special = NonFiniteText(v)) return special;
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
  if (r.ec != std::errc()) return "0";
  return std::string(buf, r.ptr);
}

std::string FormatInt(long long v) { return IntText(v).c_str(); }

bool ParseDouble(const char *text, double *value, const char **end) {
  const char *p = text;
  while (*p && IsBlank(*p)) ++p;
  const char *last = p + std::strlen(p);
  // from_chars takes no leading '+', strtod does.
  const char *q = p;
  if (*q == '+') ++q;
  double v = 0;
  auto r = std::from_chars(q, last, v, std::chars_format::general);
  if (r.ec == std::errc::invalid_argument || (q != p && (*q == '-' || *q == '+'))) {
    if (end) *end = text;
    return false;
  }
  if (r.ec == std::errc::result_out_of_range) {
    // As strtod: too large saturates to the infinity of its sign (callers
    // compare ranges), too small becomes a zero of its sign.
    const bool negative = *q == '-';
    if (TooSmall(q, r.ptr))
      v = negative ? -0.0 : 0.0;
    else
      v = negative ? -HUGE_VAL : HUGE_VAL;
  }
  *value = v;
  if (end) *end = r.ptr;
  return true;
}

bool ParseLong(const char *text, long *value, const char **end) {
  const char *p = text;
  while (*p && IsBlank(*p)) ++p;
  const char *last = p + std::strlen(p);
  const char *q = p;
  if (*q == '+') ++q;
  long v = 0;
  auto r = std::from_chars(q, last, v, 10);
  if (r.ec != std::errc() || (q != p && *q == '-')) {
    if (end) *end = text;
    return false;
  }
  *value = v;
  if (end) *end = r.ptr;
  return true;
}

}  // namespace tsl
