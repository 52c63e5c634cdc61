// Interleaving and de-interleaving 3-byte pixels. Byte by byte they would
// cost the file functions several times what a BMP or TIFF read itself
// costs; with SSE2 (every x86-64) sixteen pixels go at once.
#include "api/planar.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tsl {

#if defined(__SSE2__)
namespace {

// 48 bytes seen as three vectors a, b, c. One round interleaves bytes:
// (a.lo with b.hi, a.hi with c.lo, b.lo with c.hi). Four rounds take 16
// pixels of 3 bytes to the vectors of their first, second and third bytes.
inline void Split16(const uint8_t *p, __m128i *first, __m128i *second, __m128i *third) {
  __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
  __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16));
  __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 32));
  for (int round = 0; round < 4; ++round) {
    const __m128i x = _mm_unpacklo_epi8(a, _mm_unpackhi_epi64(b, b));
    const __m128i y = _mm_unpacklo_epi8(_mm_unpackhi_epi64(a, a), c);
    const __m128i z = _mm_unpacklo_epi8(b, _mm_unpackhi_epi64(c, c));
    a = x, b = y, c = z;
  }
  *first = a, *second = b, *third = c;
}

// The inverse round (even and odd bytes packed back), four times.
inline void Join16(__m128i a, __m128i b, __m128i c, uint8_t *p) {
  const __m128i even = _mm_set1_epi16(0x00FF);
  for (int round = 0; round < 4; ++round) {
    const __m128i x = _mm_packus_epi16(_mm_and_si128(a, even), _mm_and_si128(b, even));
    const __m128i y = _mm_packus_epi16(_mm_and_si128(c, even), _mm_srli_epi16(a, 8));
    const __m128i z = _mm_packus_epi16(_mm_srli_epi16(b, 8), _mm_srli_epi16(c, 8));
    a = x, b = y, c = z;
  }
  _mm_storeu_si128(reinterpret_cast<__m128i *>(p), a);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(p + 16), b);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(p + 32), c);
}

// (r + g + b) / 3 of eight 16-bit sums: x * 0xAAAB >> 17 is x / 3 for
// every x below 2^16.
inline __m128i Third(__m128i sum) {
  return _mm_srli_epi16(_mm_mulhi_epu16(sum, _mm_set1_epi16(static_cast<short>(0xAAAB))), 1);
}

inline __m128i Load(const uint8_t *p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}
inline void Store(uint8_t *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }

}  // namespace
#endif

void SplitBgrRow(const uint8_t *bgr, size_t count, uint8_t *r, uint8_t *g, uint8_t *b) {
  size_t x = 0;
#if defined(__SSE2__)
  for (; count - x >= 16; x += 16, bgr += 48) {
    __m128i blue, green, red;
    Split16(bgr, &blue, &green, &red);
    Store(b + x, blue);
    Store(g + x, green);
    Store(r + x, red);
  }
#endif
  for (; x < count; ++x, bgr += 3) {
    b[x] = bgr[0];
    g[x] = bgr[1];
    r[x] = bgr[2];
  }
}

void JoinBgrRow(const uint8_t *r, const uint8_t *g, const uint8_t *b, size_t count,
                uint8_t *bgr) {
  size_t x = 0;
#if defined(__SSE2__)
  for (; count - x >= 16; x += 16, bgr += 48) Join16(Load(b + x), Load(g + x), Load(r + x), bgr);
#endif
  for (; x < count; ++x, bgr += 3) {
    bgr[0] = b[x];
    bgr[1] = g[x];
    bgr[2] = r[x];
  }
}

void MeanOfPlanes(const uint8_t *r, const uint8_t *g, const uint8_t *b, size_t count,
                  uint8_t *grey) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; count - i >= 16; i += 16) {
    const __m128i vr = Load(r + i), vg = Load(g + i), vb = Load(b + i);
    const __m128i lo = _mm_add_epi16(
        _mm_add_epi16(_mm_unpacklo_epi8(vr, zero), _mm_unpacklo_epi8(vg, zero)),
        _mm_unpacklo_epi8(vb, zero));
    const __m128i hi = _mm_add_epi16(
        _mm_add_epi16(_mm_unpackhi_epi8(vr, zero), _mm_unpackhi_epi8(vg, zero)),
        _mm_unpackhi_epi8(vb, zero));
    Store(grey + i, _mm_packus_epi16(Third(lo), Third(hi)));
  }
#endif
  for (; i < count; ++i) grey[i] = static_cast<uint8_t>((r[i] + g[i] + b[i]) / 3);
}

}  // namespace tsl
