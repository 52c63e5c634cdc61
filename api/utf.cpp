#include "api/utf.h"

#include <cstdlib>
#include <cstring>

#include "api/settings.h"
#include "common/checked.h"

namespace tsl {

namespace {

// (mask, value) of the lead byte of a sequence of 1 to 4 bytes.
struct LeadingByte {
  uint8_t mask;
  uint8_t value;
};
constexpr LeadingByte utf8_leading_bytes[4] = {
    {0x80, 0x00}, {0xE0, 0xC0}, {0xF0, 0xE0}, {0xF8, 0xF0}};

bool IsSurrogate(uint32_t u) { return (u & 0xF800) == 0xD800; }

template <typename In, typename Out, typename Decode, typename Encode, typename Length>
uint64_t Convert(const In *src, uint64_t src_len, Out *dst, uint64_t dst_cap, Decode decode,
                 Encode encode, Length length) {
  uint64_t total = 0;
  for (uint64_t pos = 0; pos < src_len; ++pos) {
    const uint32_t cp = decode(src, src_len, &pos);
    total += dst != nullptr ? encode(cp, dst, dst_cap, total) : length(cp);
  }
  return total;
}

}  // namespace

uint64_t calculate_utf8_len(uint32_t cp) {
  if (cp <= 0x7F) return 1;
  if (cp <= 0x7FF) return 2;
  if (cp <= 0xFFFF) return 3;
  return 4;
}

uint64_t calculate_utf16_len(uint32_t cp) { return cp <= 0xFFFF ? 1 : 2; }

uint32_t decode_utf16(const uint16_t *src, uint64_t src_len, uint64_t *pos) {
  const uint32_t u = src[*pos];
  if (!IsSurrogate(u)) return u;
  if ((u & 0xFC00) != 0xD800) return kReplacementCharacter;  // a low surrogate alone
  if (*pos + 1 >= src_len) return kReplacementCharacter;
  const uint32_t v = src[*pos + 1];
  // The unit after an unpaired high surrogate is converted on its own.
  if ((v & 0xFC00) != 0xDC00) return kReplacementCharacter;
  ++*pos;
  return (((u & 0x3FF) << 10) | (v & 0x3FF)) + 0x10000;
}

uint32_t decode_utf8(const uint8_t *src, uint64_t src_len, uint64_t *pos) {
  const uint8_t b = src[*pos];
  int n = 0;
  while (n < 4 && (b & utf8_leading_bytes[n].mask) != utf8_leading_bytes[n].value) ++n;
  if (n == 4) return kReplacementCharacter;  // a continuation byte or 0xF8..0xFF
  uint32_t cp = b & static_cast<uint8_t>(~utf8_leading_bytes[n].mask);
  for (int i = 0; i < n; ++i) {
    if (*pos + 1 >= src_len) return kReplacementCharacter;
    const uint8_t c = src[*pos + 1];
    // A byte that does not continue the sequence starts the next one.
    if ((c & 0xC0) != 0x80) return kReplacementCharacter;
    ++*pos;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (calculate_utf8_len(cp) != static_cast<uint64_t>(n) + 1) return kReplacementCharacter;
  if (cp < 0xFFFF && IsSurrogate(cp)) return kReplacementCharacter;
  if (cp >= 0x110000) return kReplacementCharacter;
  return cp;
}

uint64_t encode_utf8(uint32_t cp, uint8_t *dst, uint64_t dst_cap, uint64_t pos) {
  const uint64_t n = calculate_utf8_len(cp);
  if (pos > dst_cap || n > dst_cap - pos) return 0;
  for (uint64_t i = n - 1; i > 0; --i) {
    dst[pos + i] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    cp >>= 6;
  }
  const LeadingByte &lead = utf8_leading_bytes[n - 1];
  dst[pos] = static_cast<uint8_t>((cp & static_cast<uint8_t>(~lead.mask)) | lead.value);
  return n;
}

uint64_t encode_utf16(uint32_t cp, uint16_t *dst, uint64_t dst_cap, uint64_t pos) {
  if (pos >= dst_cap) return 0;
  if (cp <= 0xFFFF) {
    dst[pos] = static_cast<uint16_t>(cp);
    return 1;
  }
  if (pos + 1 >= dst_cap) return 0;
  const uint32_t d = cp - 0x10000;
  dst[pos] = static_cast<uint16_t>(0xD800 | ((d >> 10) & 0x3FF));
  dst[pos + 1] = static_cast<uint16_t>(0xDC00 | (d & 0x3FF));
  return 2;
}

uint64_t utf16_to_utf8(const uint16_t *src, uint64_t src_len, uint8_t *dst, uint64_t dst_cap) {
  return Convert(src, src_len, dst, dst_cap, decode_utf16, encode_utf8, calculate_utf8_len);
}

uint64_t utf8_to_utf16(const uint8_t *src, uint64_t src_len, uint16_t *dst, uint64_t dst_cap) {
  return Convert(src, src_len, dst, dst_cap, decode_utf8, encode_utf16, calculate_utf16_len);
}

const uint16_t *convert_ut8_to_utf16(const uint8_t *utf8) {
  if (utf8 == nullptr) return nullptr;
  const uint64_t n = std::strlen(reinterpret_cast<const char *>(utf8)) + 1;
  const uint64_t units = utf8_to_utf16(utf8, n, nullptr, 0);
  std::free(g_settings.utf16_text);
  // Cleared at once, so a failed allocation cannot leave it to be released
  // a second time by the next call.
  g_settings.utf16_text = nullptr;
  uint16_t *area = static_cast<uint16_t *>(SafeMalloc(units, sizeof(uint16_t)));
  if (area == nullptr) return nullptr;
  utf8_to_utf16(utf8, n, area, units);
  g_settings.utf16_text = area;
  return area;
}

}  // namespace tsl
