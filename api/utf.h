// UTF-8 <-> UTF-16 conversion that replaces every malformed sequence with
// U+FFFD. Each converter measures when given no destination and writes
// otherwise. Private to the library interface: no exported function calls
// them.
#ifndef TESSALY_API_UTF_H
#define TESSALY_API_UTF_H

#include <cstdint>

namespace tsl {

constexpr uint32_t kReplacementCharacter = 0xFFFD;

// Units or bytes written, or needed when dst is null. No terminator is added
// beyond one the source holds; a character that does not fit is skipped.
uint64_t utf16_to_utf8(const uint16_t *src, uint64_t src_len, uint8_t *dst, uint64_t dst_cap);
uint64_t utf8_to_utf16(const uint8_t *src, uint64_t src_len, uint16_t *dst, uint64_t dst_cap);

// One code point at *pos; *pos is left on the last unit or byte used.
uint32_t decode_utf16(const uint16_t *src, uint64_t src_len, uint64_t *pos);
uint32_t decode_utf8(const uint8_t *src, uint64_t src_len, uint64_t *pos);

// Units or bytes written at pos, or 0 when the code point does not fit.
uint64_t encode_utf8(uint32_t cp, uint8_t *dst, uint64_t dst_cap, uint64_t pos);
uint64_t encode_utf16(uint32_t cp, uint16_t *dst, uint64_t dst_cap, uint64_t pos);

uint64_t calculate_utf8_len(uint32_t cp);
uint64_t calculate_utf16_len(uint32_t cp);

// The zero-terminated UTF-16 form of a zero-terminated UTF-8 string, held
// by the library until the next call (which releases it); null when no
// room can be had, or for a null string.
const uint16_t *convert_ut8_to_utf16(const uint8_t *utf8);

}  // namespace tsl

#endif
