#include "common/text.h"

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
// without the sign rules being obvious, so spell them out once.
bool FormatNonFinite(double v, std::string *out) {
  if (std::isnan(v)) {
    *out = std::signbit(v) ? "-nan" : "nan";
    return true;
  }
  if (std::isinf(v)) {
    *out = v < 0 ? "-inf" : "inf";
    return true;
  }
  return false;
}

}  // namespace

std::string FormatFixed(double v, int precision) {
  std::string s;
  if (FormatNonFinite(v, &s)) return s;
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, precision);
  if (r.ec != std::errc()) return "0";
  return std::string(buf, r.ptr);
}

std::string FormatGeneral(double v) {
  std::string s;
  if (FormatNonFinite(v, &s)) return s;
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
  if (r.ec != std::errc()) return "0";
  return std::string(buf, r.ptr);
}

std::string FormatInt(long long v) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

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
    // strtod saturates; keep that behaviour for callers that compare ranges.
    v = (*q == '-') ? -HUGE_VAL : HUGE_VAL;
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
