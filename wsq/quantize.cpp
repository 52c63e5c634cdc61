// Pixel conversion, subband variances, bin widths and (de)quantization.
//
// Every step keeps its float or double precision and its order of operations
// exactly: the bin widths and quantized values end up in the stream, so any
// change here changes the encoder's bytes.
#include "wsq/quantize.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "common/checked.h"
#include "wsq/tables.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace tsl {

namespace {

// A subband whose variance is below this (compared in double) is not coded.
constexpr double kMinVariance = 1.01;

// Weights of the bin-width choice, by subband.
float weight_a(int k) {
  static const float kHigh[8] = {1.32f, 1.08f, 1.42f, 1.08f, 1.32f, 1.42f, 1.08f, 1.08f};
  return k < 52 ? 1.0f : kHigh[k - 52];
}

float size_weight(int k) {
  if (k < 4) return 1.0f / 1024.0f;
  if (k < 51) return 1.0f / 256.0f;
  return 1.0f / 16.0f;
}

// Variance over a w x h window at (x, y): single-precision sums, the
// bracket in float and the division in double. Fewer than two samples give
// not-a-number, which keeps the subband out of every threshold test.
float window_variance(const float *fip, int width, int x, int y, int w, int h) {
  const int n = (w > 0 && h > 0) ? w * h : 0;
  if (n < 2) return std::numeric_limits<float>::quiet_NaN();
  float s = 0.0f, ss = 0.0f;
  for (int r = 0; r < h; ++r) {
    const float *p = fip + static_cast<ptrdiff_t>(y + r) * width + x;
    for (int c = 0; c < w; ++c) {
      s += p[c];
      ss += p[c] * p[c];
    }
  }
  return static_cast<float>(static_cast<double>(ss - s * s / static_cast<float>(n)) /
                            (n - 1.0));
}

float whole(const float *fip, int width, const QTreeEntry &q) {
  return window_variance(fip, width, q.x, q.y, q.lenx, q.leny);
}

// The central window of a subband. The coarsest subbands of images with a
// side below 81 have windows of fewer than two samples, whose variance is
// not a number; those subbands would be dropped from the stream, so their
// whole rectangle stands in. A window one sample wide or high (a side from
// 65 to 144) sees no change across it: a picture changing only that way
// measures next to nothing there and would lose the subband, often the
// coarsest, so a window that falls under the threshold gives way to the
// whole rectangle too.
float windowed(const float *fip, int width, const QTreeEntry &q) {
  const int w = (3 * q.lenx) / 4, h = (7 * q.leny) / 16;
  if (w <= 0 || h <= 0 || w * h < 2) return whole(fip, width, q);
  const float v =
      window_variance(fip, width, q.x + q.lenx / 8, q.y + (9 * q.leny) / 32, w, h);
  const bool one_across = w == 1 || h == 1;
  return one_across && !(static_cast<double>(v) >= kMinVariance) ? whole(fip, width, q) : v;
}

// The first value found outside 16 bits, with its subband.
struct Overflow {
  int subband;
  double value;
};

float HalfZeroBin(float z) { return static_cast<float>(static_cast<double>(z) / 2.0); }
inline bool InZeroBin(float v, float half) { return -half <= v && v <= half; }

// Whether every coefficient of a subband quantizes to 0.
bool AllInZeroBin(const QTreeEntry &b, const float *fip, int width, float half) {
  for (int r = 0; r < b.leny; ++r) {
    const float *p = fip + static_cast<ptrdiff_t>(b.y + r) * width + b.x;
    for (int c = 0; c < b.lenx; ++c)
      if (!InZeroBin(p[c], half)) return false;
  }
  return true;
}

// Bin and zero-bin widths Q = Q'/q of the subbands first listed (the others
// stay uncoded), then the values of every subband with a width, in order,
// into sip; *count of them. False at the first value outside 16 bits (what
// was written is then of no use).
bool QuantizeSubbands(QuantVals *qv, const float qp[], const bool initial[], float q,
                      const QTreeEntry q_tree[], const float *fip, int width, short *sip,
                      int *count, Overflow *bad) {
  for (int k = 0; k < NUM_SUBBANDS; ++k) {
    const float Q = initial[k] ? qp[k] / q : 0.0f;
    qv->q_widths[k] = Q;
    qv->z_widths[k] = static_cast<float>(1.2 * static_cast<double>(Q));
    // At a low rate a subband barely above the variance threshold can take
    // a width too large for the quantization table, whose zero bin then
    // holds every value it has: coded or not, it decodes to zeros, so it
    // is left uncoded rather than refused.
    if (Q > 0.0f && (Q >= kScaledU16Limit || qv->z_widths[k] >= kScaledU16Limit) &&
        AllInZeroBin(q_tree[k], fip, width, HalfZeroBin(qv->z_widths[k]))) {
      qv->q_widths[k] = 0.0f;
      qv->z_widths[k] = 0.0f;
    }
  }
  short *out = sip;
  for (int k = 0; k < NUM_SUBBANDS; ++k) {
    const float Q = qv->q_widths[k];
    if (Q == 0.0f) continue;
    const float half = HalfZeroBin(qv->z_widths[k]);
    const QTreeEntry &b = q_tree[k];
    for (int r = 0; r < b.leny; ++r) {
      const float *p = fip + static_cast<ptrdiff_t>(b.y + r) * width + b.x;
      for (int c = 0; c < b.lenx; ++c) {
        const float v = p[c];
        double t;
        if (InZeroBin(v, half))
          t = 0.0;
        else if (v > 0.0f)
          t = static_cast<double>((v - half) / Q) + 1.0;
        else
          t = static_cast<double>((v + half) / Q) - 1.0;
        const double value = std::trunc(t);
        if (!(value >= -32768.0 && value <= 32767.0)) {
          *bad = {k, value};
          return false;
        }
        *out++ = static_cast<short>(value);
      }
    }
  }
  *count = static_cast<int>(out - sip);
  return true;
}

// The finest scale whose values all fit: the smallest over the coded
// subbands of (Q' x 32766) / m, m the subband's largest magnitude, in double
// and kept as float. Each width is then at least m / 32766 and each value
// within about m/Q + 0.4, so within +-32766 whatever the float roundings.
// A subband with Q' = 0 is uncoded at any scale and is left out, and so is
// a coefficient that is not a finite number: no width fits it, and the
// quantizer refuses it. Nothing left to measure gives 1.0.
float FittingScale(const float qp[], const bool initial[], const QTreeEntry q_tree[],
                   const float *fip, int width) {
  double best = std::numeric_limits<double>::infinity();
  for (int k = 0; k < NUM_SUBBANDS; ++k) {
    if (!initial[k] || !(qp[k] > 0.0f)) continue;
    const QTreeEntry &b = q_tree[k];
    float m = 0.0f;
    for (int r = 0; r < b.leny; ++r) {
      const float *p = fip + static_cast<ptrdiff_t>(b.y + r) * width + b.x;
      for (int c = 0; c < b.lenx; ++c) {
        const float a = std::fabs(p[c]);
        if (a > m && a <= std::numeric_limits<float>::max()) m = a;
      }
    }
    if (m > 0.0f)
      best = std::min(best, (static_cast<double>(qp[k]) * 32766.0) / static_cast<double>(m));
  }
  return std::isinf(best) ? 1.0f : static_cast<float>(best);
}

}  // namespace

int conv_img_2_flt_ret(float *fip, float *m_shift, float *r_scale, const uint8_t *data,
                       int num_pix) {
  double sum = 0.0;
  int lo = 255, hi = 0;
  for (int i = 0; i < num_pix; ++i) {
    const int v = data[i];
    if (v < lo) lo = v;
    if (v > hi) hi = v;
    sum += v;
  }
  const float shift = static_cast<float>(sum / num_pix);
  const float low = shift - static_cast<float>(lo);
  const float high = static_cast<float>(hi) - shift;
  double r = (low >= high ? low : high) / 128.0;
  if (r == 0.0) r = 1.0;
  const float scale = static_cast<float>(r);
  // Four pixels at a time: vector lanes round each subtraction and division
  // exactly as the scalar code does.
  typedef float Vec4 __attribute__((vector_size(16)));
  const Vec4 vshift = {shift, shift, shift, shift}, vscale = {scale, scale, scale, scale};
  int i = 0;
  for (; i + 4 <= num_pix; i += 4) {
    Vec4 v = {static_cast<float>(data[i]), static_cast<float>(data[i + 1]),
              static_cast<float>(data[i + 2]), static_cast<float>(data[i + 3])};
    v = (v - vshift) / vscale;
    std::memcpy(fip + i, &v, sizeof v);
  }
  for (; i < num_pix; ++i) fip[i] = (static_cast<float>(data[i]) - shift) / scale;
  *m_shift = shift;
  *r_scale = scale;
  return 0;
}

void conv_img_2_flt(float *fip, float *m_shift, float *r_scale, const uint8_t *data,
                    int num_pix) {
  (void)conv_img_2_flt_ret(fip, m_shift, r_scale, data, num_pix);
}

void variance(QuantVals *qv, QTreeEntry q_tree[], int /*q_treelen*/, const float *fip,
              int width, int /*height*/) {
  float first4 = 0.0f;
  for (int k = 0; k < 4; ++k) {
    qv->variances[k] = windowed(fip, width, q_tree[k]);
    first4 += qv->variances[k];
  }
  if (first4 < 20000.0f) {
    for (int k = 0; k < NUM_SUBBANDS; ++k) qv->variances[k] = whole(fip, width, q_tree[k]);
  } else {
    for (int k = 4; k < NUM_SUBBANDS; ++k) qv->variances[k] = windowed(fip, width, q_tree[k]);
  }
}

int quantize_wsq(short **osip, int *ocmp_siz, QuantVals *qv, QTreeEntry q_tree[],
                 int /*q_treelen*/, const float *fip, int width, int height) {
  for (int k = 0; k < MAX_SUBBANDS; ++k) {
    qv->q_widths[k] = 0.0f;
    qv->z_widths[k] = 0.0f;
  }
  float qp[NUM_SUBBANDS];
  for (int k = 0; k < NUM_SUBBANDS; ++k) {
    const float var = qv->variances[k];
    if (static_cast<double>(var) < kMinVariance)
      qp[k] = 0.0f;
    else if (k < 4)
      qp[k] = 1.0f;
    else
      qp[k] = static_cast<float>(
          10.0 / (weight_a(k) * static_cast<float>(std::log(static_cast<double>(var)))));
  }

  short *sip = static_cast<short *>(
      SafeCalloc(static_cast<size_t>(width) * static_cast<size_t>(height), sizeof(short)));
  if (!sip) {
    fprintf(stderr, "ERROR : quantize_wsq : calloc : sip\n");
    return -90;
  }

  int list[NUM_SUBBANDS], nlist = 0;
  bool initial[NUM_SUBBANDS] = {};
  float sigma[NUM_SUBBANDS] = {};
  for (int k = 0; k < NUM_SUBBANDS; ++k) {
    if (static_cast<double>(qv->variances[k]) >= kMinVariance) {
      list[nlist++] = k;
      initial[k] = true;
      sigma[k] = static_cast<float>(std::sqrt(static_cast<double>(qv->variances[k])));
    }
  }

  // Settle the scale q: subbands whose width would exceed five standard
  // deviations drop out of the product and q is worked out again.
  float q = 1.0f;
  for (;;) {
    float S = 0.0f;
    for (int i = 0; i < nlist; ++i) S += size_weight(list[i]);
    float P = 1.0f;
    for (int i = 0; i < nlist; ++i) {
      const int k = list[i];
      P = static_cast<float>(P * std::pow(static_cast<double>(sigma[k] / qp[k]),
                                          static_cast<double>(size_weight(k))));
    }
    if (static_cast<double>(S) >= 0.004) {
      const float e = qv->bit_rate / S;
      q = static_cast<float>((std::pow(2.0, static_cast<double>(e) - 1.0) / 2.5) /
                             std::pow(static_cast<double>(P), 1.0 / static_cast<double>(S)));
    } else {
      q = 1.0f;
    }
    int kept = 0;
    for (int i = 0; i < nlist; ++i) {
      const int k = list[i];
      if (!(static_cast<double>(qp[k] / q) >= 5.0 * static_cast<double>(sigma[k])))
        list[kept++] = k;
    }
    if (kept == nlist) break;
    nlist = kept;
  }

  // Smooth images at high rates settle on a scale so large that values leave
  // the 16-bit range, or on an infinite one under which nothing is coded
  // and a flat grey picture comes out. Those take the finest scale whose
  // values all fit; every other image keeps its scale and its bytes, and
  // pays for no extra pass.
  Overflow bad;
  int count = 0;
  bool fits = std::isfinite(q) &&
              QuantizeSubbands(qv, qp, initial, q, q_tree, fip, width, sip, &count, &bad);
  if (!fits) {
    q = FittingScale(qp, initial, q_tree, fip, width);
    fits = QuantizeSubbands(qv, qp, initial, q, q_tree, fip, width, sip, &count, &bad);
  }
  if (!fits) {
    // Only a coefficient that is not a finite number comes here; cut or
    // clamped, it would spoil the picture without a word.
    fprintf(stderr,
            "ERROR : quantize_wsq : subband %d : quantized value %.0f does not fit in 16 bits\n",
            bad.subband, bad.value);
    std::free(sip);
    return kWsqQuantOverflow;
  }
  *osip = sip;
  *ocmp_siz = count;
  return 0;
}

void quant_block_sizes(int *oqsize1, int *oqsize2, int *oqsize3, const QuantVals *qv,
                       WTreeNode w_tree[], int /*w_treelen*/, QTreeEntry q_tree[],
                       int /*q_treelen*/) {
  int q1 = w_tree[14].lenx * w_tree[14].leny;
  int q2 = w_tree[5].leny * w_tree[1].lenx + w_tree[4].lenx * w_tree[4].leny;
  int q3 = w_tree[2].lenx * w_tree[2].leny + w_tree[3].lenx * w_tree[3].leny;
  for (int k = 0; k < NUM_SUBBANDS; ++k) {
    if (qv->q_widths[k] != 0.0f) continue;
    const int area = q_tree[k].lenx * q_tree[k].leny;
    if (k < 19)
      q1 -= area;
    else if (k < 52)
      q2 -= area;
    else
      q3 -= area;
  }
  *oqsize1 = q1;
  *oqsize2 = q2;
  *oqsize3 = q3;
}

int coded_coefficients(long long *ocount, const DqtTable *dqt, const QTreeEntry q_tree[]) {
  if (dqt->qtable_defined != 1) {
    fprintf(stderr, "ERROR: unquantize : quantization table parameters not defined!\n");
    return -92;
  }
  long long count = 0;
  for (int k = 0; k < NUM_SUBBANDS; ++k) {
    if (dqt->q_widths[k] != 0.0f)
      count += static_cast<long long>(q_tree[k].lenx) * static_cast<long long>(q_tree[k].leny);
  }
  *ocount = count;
  return 0;
}

namespace {

// A value v becomes Q (v - C) + Z/2 above zero and Q (v + C) - Z/2 below.
// The addition of Z/2 is a float sum rounded once; doing it in double and
// rounding to float gives the same value (double holds more than twice a
// float's digits), so the float form below is the exact same result. Below
// zero every operand is the mirror image of the one above zero and rounding
// to nearest is symmetric, so the result is the negated one; 0 - m rather
// than -m keeps the +0 an exact cancellation gives. No branch on the sign:
// values of either sign follow each other at random.
inline float Dequantized(int v, float Q, float C, float half) {
  const float m = Q * (static_cast<float>(v < 0 ? -v : v) - C) + half;
  const float signed_m = v < 0 ? 0.0f - m : m;
  return v == 0 ? 0.0f : signed_m;
}

}  // namespace

int unquantize(float **ofip, const DqtTable *dqt, QTreeEntry q_tree[], int /*q_treelen*/,
               const short *sip, int width, int height) {
  // Without a table there is nothing to dequantize: refused before the
  // image-sized allocation.
  long long coded;
  int ret = coded_coefficients(&coded, dqt, q_tree);
  if (ret) return ret;
  float *fip = static_cast<float *>(
      SafeCalloc(static_cast<size_t>(width) * static_cast<size_t>(height), sizeof(float)));
  if (!fip) {
    fprintf(stderr, "ERROR : unquantize : calloc : fip\n");
    return -91;
  }
  const float C = dqt->bin_centre;
  const short *in = sip;
  for (int k = 0; k < NUM_SUBBANDS; ++k) {
    const float Q = dqt->q_widths[k];
    if (Q == 0.0f) continue;
    const float half = dqt->z_widths[k] / 2.0f;
    const QTreeEntry &b = q_tree[k];
    for (int r = 0; r < b.leny; ++r) {
      float *p = fip + static_cast<ptrdiff_t>(b.y + r) * width + b.x;
      for (int c = 0; c < b.lenx; ++c) p[c] = Dequantized(in[c], Q, C, half);
      in += b.lenx;
    }
  }
  *ofip = fip;
  return 0;
}

int unquantize_record(float *fip, int pitch, const DqtTable *dqt, const QTreeEntry q_tree[],
                      const CoefficientRecord &rec, ZeroRows *zeros) {
  long long coded;
  int ret = coded_coefficients(&coded, dqt, q_tree);
  if (ret) return ret;
  if (!zeros->Reset(q_tree)) {
    fprintf(stderr, "ERROR : unquantize : calloc : fip\n");
    return -91;
  }
  CoefficientRecord::Reader reader(rec);
  const float C = dqt->bin_centre;
  for (int k = 0; k < NUM_SUBBANDS; ++k) {
    const float Q = dqt->q_widths[k];
    const float half = dqt->z_widths[k] / 2.0f;
    const QTreeEntry &b = q_tree[k];
    const size_t row_bytes = static_cast<size_t>(b.lenx) * sizeof(float);
    for (int r = 0; r < b.leny; ++r) {
      float *p = fip + static_cast<ptrdiff_t>(b.y + r) * pitch + b.x;
      // Zeros first, one call a row, then the values over them.
      std::memset(p, 0, row_bytes);
      if (Q == 0.0f) continue;
      bool any = false;
      reader.Take(b.lenx, [&](long long i, int v) {
        p[i] = Dequantized(v, Q, C, half);
        any |= v != 0;
      });
      if (!any) zeros->zero[zeros->first[k] + r] = 1;
    }
    if (Q == 0.0f) zeros->SetSubband(k);
  }
  for (int k = NUM_SUBBANDS; k < Q_TREELEN; ++k) zeros->SetSubband(k);
  return 0;
}

namespace {

#if defined(__SSE2__)
// 16 pixels from img to data.
inline void PixelsSse2(uint8_t *data, const float *img, float m_shift, float r_scale) {
  const __m128 vr = _mm_set1_ps(r_scale), vm = _mm_set1_ps(m_shift), vh = _mm_set1_ps(0.5f);
  const __m128 lo = _mm_setzero_ps(), hi = _mm_set1_ps(255.0f);
  __m128i q[4];
  for (int j = 0; j < 4; ++j) {
    __m128 t = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_loadu_ps(img + 4 * j), vr), vm), vh);
    t = _mm_max_ps(t, lo);  // takes the second operand for not-a-number
    t = _mm_min_ps(t, hi);
    q[j] = _mm_cvttps_epi32(t);
  }
  const __m128i w0 = _mm_packs_epi32(q[0], q[1]), w1 = _mm_packs_epi32(q[2], q[3]);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(data), _mm_packus_epi16(w0, w1));
}
#endif

#if defined(__x86_64__) || defined(__i386__)
// The same, 32 pixels a step where the processor has eight-lane vectors (the
// same operations, rounded the same way); returns the pixels done.
__attribute__((target("avx2"))) size_t PixelsAvx2(uint8_t *data, const float *img, size_t n,
                                                  float m_shift, float r_scale) {
  const __m256 vr = _mm256_set1_ps(r_scale), vm = _mm256_set1_ps(m_shift);
  const __m256 vh = _mm256_set1_ps(0.5f), lo = _mm256_setzero_ps(), hi = _mm256_set1_ps(255.0f);
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    __m256i q[4];
    for (int j = 0; j < 4; ++j) {
      __m256 t = _mm256_add_ps(
          _mm256_add_ps(_mm256_mul_ps(_mm256_loadu_ps(img + i + 8 * j), vr), vm), vh);
      t = _mm256_max_ps(t, lo);  // takes the second operand for not-a-number
      t = _mm256_min_ps(t, hi);
      q[j] = _mm256_cvttps_epi32(t);
    }
    // The packs work within 128-bit halves; the permutation puts the four
    // groups of eight back in order.
    const __m256i w0 = _mm256_packs_epi32(q[0], q[1]), w1 = _mm256_packs_epi32(q[2], q[3]);
    const __m256i b = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(w0, w1), order);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(data + i), b);
  }
  return i;
}

bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}
#endif

}  // namespace

void conv_img_2_uchar(uint8_t *data, const float *img, int width, int height, float m_shift,
                      float r_scale) {
  // t = f r + m + 0.5, rounded to float once per operation (the +0.5 in
  // double then rounded to float is the same value, as in unquantize).
  // Below zero and not-a-number (only a hostile stream makes one) give 0.
  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  size_t i = 0;
#if defined(__x86_64__) || defined(__i386__)
  if (HaveAvx2()) i = PixelsAvx2(data, img, n, m_shift, r_scale);
#endif
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) PixelsSse2(data + i, img + i, m_shift, r_scale);
  // The last 16 may overlap those before: they come out the same.
  if (i < n && n >= 16) {
    PixelsSse2(data + n - 16, img + n - 16, m_shift, r_scale);
    i = n;
  }
#endif
  for (; i < n; ++i) {
    const float t = img[i] * r_scale + m_shift + 0.5f;
    if (t < 0.0f || t != t)
      data[i] = 0;
    else if (t > 255.0f)
      data[i] = 255;
    else
      data[i] = static_cast<uint8_t>(t);
  }
}

}  // namespace tsl
