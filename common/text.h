// Number <-> text conversions that ignore the caller's locale: stream
// contents (NISTCOM values, netpbm headers, option strings) must read the
// same whatever LC_NUMERIC the host application has set.
#ifndef TESSALY_COMMON_TEXT_H
#define TESSALY_COMMON_TEXT_H

#include <string>

namespace tsl {

// Number text held in the value itself: the codec's messages and stream
// values use it, as they must not take memory. Any double fits in fixed
// notation at the precisions used here.
struct NumberText {
  char text[400];
  const char *c_str() const { return text; }
};
// As printf("%.*f", precision, v) in the C locale.
NumberText FixedText(double v, int precision = 6);
// As printf("%lld", v).
NumberText IntText(long long v);

// The same as strings, and FormatGeneral as printf("%g", v) in the C locale.
std::string FormatFixed(double v, int precision = 6);
std::string FormatGeneral(double v);
std::string FormatInt(long long v);

// As strtod in the C locale over [text, text + strlen): leading blanks are
// skipped; *end (when given) receives the first character not used. Returns
// false when no number starts there.
bool ParseDouble(const char *text, double *value, const char **end = nullptr);
// As strtol(text, end, 10) in the C locale, with range checking.
bool ParseLong(const char *text, long *value, const char **end = nullptr);

}  // namespace tsl

#endif
