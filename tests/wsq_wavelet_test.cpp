// Wavelet filter banks (the planned drivers against the plain walk, perfect
// reconstruction for every accepted size up to 200, filters that do not fit),
// quantization and conversion to bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "support/test_support.h"
#include "wsq/huffman_blocks.h"
#include "wsq/quantize.h"
#include "wsq/synthesis.h"
#include "wsq/wavelet.h"

namespace {

// The plain walk: every line sample by sample, reflecting at its ends, as the
// transform was first written. The planned, multi-column drivers must match
// it bit for bit (but on 5-sample lines, which the library inverts exactly).
namespace reference {

// A position in a line and its direction. At an end the first visit flagged
// by first/last repeats the sample (direction 0); later visits turn back.
struct Walk {
  int p, d;
  bool first, last;
  void Move(int n, bool first_edge_only) {
    if (p == 0) {
      d = first ? 0 : 1;
      first = false;
    }
    if (!first_edge_only && p == n - 1) {
      d = last ? 0 : -1;
      last = false;
    }
    p += d;
  }
};

// f[tap] c[p] (added to *acc when given), then f[tap + step] c[next p], ...
float TapSum(Walk w, int n, int stride, const float *c, const float *f, int fsz, int tap,
             int step, const float *acc = nullptr) {
  float v = f[tap] * c[w.p * stride];
  if (acc) v = *acc + v;
  for (int i = tap + step; i < fsz; i += step) {
    w.Move(n, false);
    v += f[i] * c[w.p * stride];
  }
  return v;
}

void GetLets(float *out, const float *in, int lines, int n, int pitch, int stride,
             const float *hi, int hsz, const float *lo, int lsz, int inv) {
  const int hn = n / 2, ln = n - hn;
  for (int k = 0; k < lines; ++k) {
    const float *s = in + k * pitch;
    float *lp = out + k * pitch + (inv ? hn : 0) * stride;
    float *hp = out + k * pitch + (inv ? 0 : ln) * stride;
    Walk ls{(lsz - 1) / 2, -1, false, false}, hs{(hsz - 1) / 2 - 1, -1, false, false};
    for (int j = 0; j < hn; ++j, lp += stride, hp += stride) {
      *lp = TapSum(ls, n, stride, s, lo, lsz, 0, 1);
      *hp = TapSum(hs, n, stride, s, hi, hsz, 0, 1);
      for (int r = 0; r < 2; ++r) {
        ls.Move(n, true);
        hs.Move(n, true);
      }
    }
    if (n % 2) *lp = TapSum(ls, n, stride, s, lo, lsz, 0, 1);
  }
}

// Low-pass outputs are written, high-pass ones added onto them, interleaved.
void JoinLets(float *out, const float *in, int lines, int n, int pitch, int stride,
              const float *hi, int hsz, const float *lo, int lsz, int inv) {
  const int hn = n / 2, ln = n - hn, nodd = n % 2;
  const int ltap = ((lsz - 1) / 2) % 2, htap = ((hsz + 1) / 2) % 2;
  for (int k = 0; k < lines; ++k) {
    const float *lc = in + k * pitch + (inv ? hn : 0) * stride;
    const float *hc = in + k * pitch + (inv ? 0 : ln) * stride;
    float *lo_out = out + k * pitch, *hi_out = lo_out;
    lo_out[0] = lo_out[stride] = 0.0f;
    Walk ls{(lsz - 1) / 4, -1, false, false}, hs{(hsz + 1) / 4 - 1, -1, true, false};
    auto low = [&](int tap) {
      *lo_out = TapSum({ls.p, ls.d, ls.first, !nodd}, ln, stride, lc, lo, lsz, tap, 2);
      lo_out += stride;
    };
    auto high = [&](int tap) {
      *hi_out = TapSum({hs.p, hs.d, hs.first, nodd != 0}, hn, stride, hc, hi, hsz, tap, 2, hi_out);
      hi_out += stride;
    };
    for (int j = 0; j < hn; ++j) {
      for (int tap = j ? 1 : ltap; tap >= 0; --tap) low(tap);
      ls.Move(ln, true);
      for (int tap = j ? 1 : htap; tap >= 0; --tap) high(tap);
      hs.Move(hn, true);
    }
    for (int tap = 1; tap >= !nodd + ltap; --tap) low(tap);
    for (int tap = 1; tap >= !nodd + htap; --tap) high(tap);
  }
}

// The 20 steps over a whole image: analysis in tree order with the encoder's
// filters, synthesis in reverse order (9 and 7 taps unless told).
void Transform(float *f, int width, int height, const tsl::WTreeNode *tree, bool synthesis,
               const float *hi, const float *lo, int hsz = 9, int lsz = 7) {
  std::vector<float> work(static_cast<size_t>(width) * height);
  for (int k = 0; k < tsl::W_TREELEN; ++k) {
    const tsl::WTreeNode &n = tree[synthesis ? tsl::W_TREELEN - 1 - k : k];
    float *r = f + n.y * width + n.x, *w = work.data();
    if (synthesis) {
      JoinLets(w, r, n.lenx, n.leny, 1, width, hi, hsz, lo, lsz, n.inv_cl);
      JoinLets(r, w, n.leny, n.lenx, width, 1, hi, hsz, lo, lsz, n.inv_rw);
    } else {
      GetLets(w, r, n.leny, n.lenx, width, 1, hi, 7, lo, 9, n.inv_rw);
      GetLets(r, w, n.lenx, n.leny, 1, width, hi, 7, lo, 9, n.inv_cl);
    }
  }
}

}  // namespace reference

using Floats = std::vector<float>;

struct Trees {
  tsl::WTreeNode w[20];
  tsl::QTreeEntry q[64];
  Trees(int width, int height) { tsl::build_wsq_trees(w, 20, q, 64, width, height); }
};

// The standard synthesis filters as a transform table derives them from the
// odd-length analysis filters: tap c+i of each is (-1)^i times the other's.
struct Synthesis {
  Floats hi = Floats(9), lo = Floats(7);
  tsl::DttTable dtt{};
  Synthesis() {
    auto sign = [](int i) { return i % 2 ? -1.0f : 1.0f; };
    for (int i = 0; i <= 4; ++i) hi[4 + i] = hi[4 - i] = sign(i) * tsl::lofilt[4 + i];
    for (int i = 0; i <= 3; ++i) lo[3 + i] = lo[3 - i] = sign(i) * tsl::hifilt[3 + i];
    dtt = {lo.data(), hi.data(), 7, 9, 1, 1};
  }
};

Floats Random(size_t n, uint64_t seed) {
  tsltest::Rng rng(seed);
  Floats v(n);
  for (float &x : v) x = static_cast<float>(static_cast<int>(rng.Below(2001)) - 1000) / 7.0f;
  return v;
}

bool SameBits(const Floats &a, const Floats &b) {
  return a.size() == b.size() && memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

double WorstError(const Floats &a, const Floats &b) {
  double worst = 0;
  for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::fabs(double{a[i]} - b[i]));
  return worst;
}

// Filters from a stream's transform table that are missing or would make the
// walks read or write outside a line are refused, never applied.
// (A stream without any transform table is refused by the decoder tests.)
TEST(WsqFilters, FiltersThatDoNotFitAreRefused) {
  const Synthesis syn;
  Floats in(200 * 200), hi31(31, 0.01f);
  auto reconstruct = [&](int side, tsl::DttTable dtt) {
    Trees t(side, side);
    return tsl::wsq_reconstruct(in.data(), side, side, t.w, 20, &dtt);
  };
  // At 64 step 19 has 4-sample lines, which the 9/7 synthesis still holds;
  // at 40 it has 3. A 31-tap filter outgrows the short lines of 200.
  EXPECT_EQ(reconstruct(64, syn.dtt), 0);
  EXPECT_EQ(reconstruct(40, syn.dtt), -98);
  tsl::DttTable no_hi = syn.dtt, long_hi = syn.dtt;
  no_hi.hifilt_defined = 0;
  long_hi.hifilt = hi31.data();
  long_hi.hisize = 31;
  EXPECT_EQ(reconstruct(64, no_hi), -96);
  EXPECT_EQ(reconstruct(200, long_hi), -98);
}

// Every width and height from the smallest accepted to 200 comes back to float
// rounding (this catches the 5-sample lines of sizes 65 to 80, walk errors).
TEST(WsqTransform, DecomposeThenReconstructEverySize) {
  Synthesis syn;
  auto worst_error = [&](int width, int height) {
    Trees t(width, height);
    const Floats img = Random(static_cast<size_t>(width) * height, width * 1000 + height);
    Floats f = img;
    EXPECT_EQ(tsl::wsq_decompose(f.data(), width, height, t.w, 20, tsl::hifilt, 7, tsl::lofilt, 9),
              0);
    EXPECT_EQ(tsl::wsq_reconstruct(f.data(), width, height, t.w, 20, &syn.dtt), 0);
    return WorstError(f, img);
  };
  for (int side = tsl::kMinWsqSide; side <= 200; ++side) {
    for (int other : {tsl::kMinWsqSide, 70, 80, 81, 97, 131, 200, side}) {
      ASSERT_LT(worst_error(side, other), 2e-3) << side << "x" << other;
      ASSERT_LT(worst_error(other, side), 2e-3) << other << "x" << side;
    }
  }
}

// The analysis matches the plain walk bit for bit.
TEST(WsqTransform, AnalysisMatchesThePlainWalk) {
  for (auto [width, height] : {std::pair{65, 65}, {81, 97}, {200, 133}, {511, 300}}) {
    Trees t(width, height);
    Floats a = Random(static_cast<size_t>(width) * height, width + height), b = a;
    ASSERT_EQ(tsl::wsq_decompose(a.data(), width, height, t.w, 20, tsl::hifilt, 7, tsl::lofilt, 9),
              0);
    reference::Transform(b.data(), width, height, t.w, false, tsl::hifilt, tsl::lofilt);
    EXPECT_TRUE(SameBits(a, b)) << width << "x" << height;
  }
}

// Sizes whose steps give every line length from 6 to over 500, odd and even,
// in both directions and inverted or not (below 81 step 19 has 5-sample
// lines, which the library inverts exactly instead of walking).
std::vector<std::pair<int, int>> SynthesisSizes() {
  std::vector<std::pair<int, int>> sizes = {{511, 300}, {300, 511}, {1000, 97}, {83, 1001}};
  for (int side = 81; side <= 150; ++side) sizes.push_back({side, 81 + (side * 37) % 70});
  return sizes;
}

// The sixteen-lane sums also where the processor has no such lanes.
const tsl::SynthesisLanes kLanes[] = {tsl::SynthesisLanes::kWidest, tsl::SynthesisLanes::kEight,
                                      tsl::SynthesisLanes::kFour,
                                      tsl::SynthesisLanes::kSixteenAnywhere};

// Zeros whole subbands (always 60 to 63) and single rows at random, and
// flags them as the decoder's dequantization would.
void ZeroSomeRows(Floats *coeffs, int width, const Trees &t, uint64_t seed,
                  tsl::ZeroRows *zeros) {
  ASSERT_TRUE(zeros->Reset(t.q));
  tsltest::Rng rng(seed);
  for (int k = 0; k < 64; ++k) {
    const tsl::QTreeEntry &q = t.q[k];
    const bool whole = k >= 60 || rng.Below(8) == 0;
    for (int r = 0; r < q.leny; ++r) {
      if (!whole && rng.Below(4)) continue;
      zeros->zero[zeros->first[k] + r] = 1;
      for (int x = 0; x < q.lenx; ++x) (*coeffs)[(q.y + r) * width + q.x + x] = 0.0f;
    }
  }
}

// The decoder's way: coefficients in the padded layout, rows and subbands
// known to be zero left out of the sums, the never coded quadrant used as
// scratch, the last step's rows handed out. Every place the synthesis must
// not read holds not-a-number, which would show in the rows.
Floats DecoderRows(const Floats &coeffs, int width, int height, const Trees &t,
                   const tsl::DttTable &dtt, const tsl::ZeroRows &zeros,
                   tsl::SynthesisLanes lanes) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const tsl::FloatImageLayout layout = tsl::decoder_float_layout(width, height);
  Floats f(static_cast<size_t>(layout.pitch) * layout.rows, nan);
  for (int k = 0; k < 60; ++k)
    for (int y = t.q[k].y; y < t.q[k].y + t.q[k].leny; ++y)
      for (int x = t.q[k].x; x < t.q[k].x + t.q[k].lenx; ++x)
        f[y * layout.pitch + x] = coeffs[y * width + x];
  struct Rows {
    Floats out;
    int width;
    static void Take(void *ctx, int y, const float *row, int n) {
      Rows *r = static_cast<Rows *>(ctx);
      std::copy(row, row + n, r->out.begin() + static_cast<size_t>(y) * r->width);
    }
  } rows{Floats(coeffs.size(), nan), width};
  EXPECT_EQ(tsl::synthesize(f.data(), layout.pitch, width, height, t.w, &dtt, t.q, &zeros,
                            Rows::Take, &rows, lanes),
            0);
  return rows.out;
}

// In place (as wsq_reconstruct works) the synthesis matches the plain walk
// bit for bit; the decoder's way gives the walk's values (zeros may differ
// in sign). Both at every vector width the processor has.
TEST(WsqTransform, SynthesisMatchesThePlainWalk) {
  Synthesis syn;
  for (auto [width, height] : SynthesisSizes()) {
    SCOPED_TRACE(testing::Message() << width << "x" << height);
    Trees t(width, height);
    Floats coeffs = Random(static_cast<size_t>(width) * height, width * 5 + height);
    tsl::ZeroRows zeros;
    ZeroSomeRows(&coeffs, width, t, width * 3 + height, &zeros);
    Floats walk = coeffs;
    reference::Transform(walk.data(), width, height, t.w, true, syn.hi.data(), syn.lo.data());
    for (tsl::SynthesisLanes lanes : kLanes) {
      Floats in_place = coeffs;
      ASSERT_EQ(tsl::synthesize(in_place.data(), width, width, height, t.w, &syn.dtt, t.q,
                                nullptr, nullptr, nullptr, lanes),
                0);
      ASSERT_TRUE(SameBits(in_place, walk)) << "in place, lanes " << int(lanes);
      ASSERT_TRUE(DecoderRows(coeffs, width, height, t, syn.dtt, zeros, lanes) == walk)
          << "the decoder's way, lanes " << int(lanes);
    }
  }
}

// A stream may bring other filters. Odd lengths other than 9 and 7 (other
// insides, other line ends) match the walk both ways; even lengths, which
// the walk above does not cover, give the same values in place and the
// decoder's way.
TEST(WsqTransform, OtherFiltersBothWays) {
  struct Pair {
    int hsz, lsz;
    bool odd;
  };
  for (const Pair pair : {Pair{5, 3, true}, Pair{3, 5, true}, Pair{13, 11, true},
                          Pair{2, 2, false}, Pair{4, 4, false}, Pair{6, 2, false}}) {
    SCOPED_TRACE(testing::Message() << pair.hsz << "/" << pair.lsz << " taps");
    const Floats hi = Random(static_cast<size_t>(pair.hsz), pair.hsz * 31 + 1);
    const Floats lo = Random(static_cast<size_t>(pair.lsz), pair.lsz * 17 + 2);
    Floats hi_in = hi, lo_in = lo;
    const tsl::DttTable dtt = {lo_in.data(), hi_in.data(), uint8_t(pair.lsz), uint8_t(pair.hsz),
                               1, 1};
    for (auto [width, height] : {std::pair{211, 133}, {130, 301}}) {
      SCOPED_TRACE(testing::Message() << width << "x" << height);
      Trees t(width, height);
      Floats coeffs = Random(static_cast<size_t>(width) * height, width + height);
      tsl::ZeroRows zeros;
      ZeroSomeRows(&coeffs, width, t, width * 11 + height, &zeros);
      Floats in_place = coeffs;
      ASSERT_EQ(tsl::synthesize(in_place.data(), width, width, height, t.w, &dtt, t.q, nullptr,
                                nullptr, nullptr),
                0);
      if (pair.odd) {
        Floats walk = coeffs;
        reference::Transform(walk.data(), width, height, t.w, true, hi.data(), lo.data(),
                             pair.hsz, pair.lsz);
        ASSERT_TRUE(SameBits(in_place, walk));
      }
      for (tsl::SynthesisLanes lanes : kLanes)
        ASSERT_TRUE(DecoderRows(coeffs, width, height, t, dtt, zeros, lanes) == in_place)
            << "lanes " << int(lanes);
    }
  }
}

const float kInf = std::numeric_limits<float>::infinity();

// The conversion as first written: the +0.5 in double, then to float;
// below zero and not-a-number give 0.
uint8_t ReferenceByte(float f, float r_scale, float m_shift) {
  const float t = static_cast<float>(static_cast<double>(f * r_scale + m_shift) + 0.5);
  if (t < 0.0f || t != t) return 0;
  return t > 255.0f ? 255 : static_cast<uint8_t>(t);
}

// The conversion without a result gives the floats, shift and scale of the
// one with, bit for bit.
TEST(WsqPixels, ConversionWithoutResultMatches) {
  for (const tsltest::Bytes &px :
       {tsltest::RidgeImage(97, 65), tsltest::Bytes(500, 0), tsltest::Bytes(500, 255)}) {
    const int n = static_cast<int>(px.size());
    std::vector<float> a(px.size()), b(px.size(), -1.0f);
    float shift[2] = {-1.0f, -1.0f}, scale[2] = {-1.0f, -1.0f};
    ASSERT_EQ(tsl::conv_img_2_flt_ret(a.data(), &shift[0], &scale[0], px.data(), n), 0);
    tsl::conv_img_2_flt(b.data(), &shift[1], &scale[1], px.data(), n);
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(&shift[0], &shift[1], sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(&scale[0], &scale[1], sizeof(float)), 0);
  }
}

// Random values, then edge values, over lengths that send them through the
// widest vectors, the 16-pixel blocks (the last overlapping the one before)
// and the scalar path.
TEST(WsqPixels, BackToBytesMatchesTheDoubleFormAndClamps) {
  const std::vector<float> edge = {254.6f, -0.4f, 255.4f, 100.49f, 1e30f,
                                   -kInf,  kInf,  NAN,    0.49975586f};
  std::vector<float> img = Random(4096, 3);
  for (int k = 0; k < 4; ++k) img.insert(img.end(), edge.begin(), edge.end());
  for (size_t len : {img.size(), size_t{36}, size_t{25}, size_t{9}}) {
    const std::vector<float> in(img.end() - static_cast<ptrdiff_t>(len), img.end());
    for (auto [m, r] : {std::pair{0.0f, 1.0f}, {127.4375f, 0.70089f}}) {
      std::vector<uint8_t> out(in.size());
      tsl::conv_img_2_uchar(out.data(), in.data(), static_cast<int>(in.size()), 1, m, r);
      for (size_t i = 0; i < in.size(); ++i)
        ASSERT_EQ(out[i], ReferenceByte(in[i], r, m)) << len << ": " << i << " " << in[i];
    }
  }
}

// With only subbands 0 to 3 above the variance threshold their bin width is
// exactly 1 and the zero bin 1.2. The last quotients inside 16 bits are kept.
TEST(WsqQuantize, BinEdgesAndSixteenBitEnds) {
  const int w = 512, h = 512;  // subband 0 is 16x16
  Trees t(w, h);
  tsl::QuantVals qv{};
  qv.bit_rate = 0.75f;
  for (int k = 0; k < 4; ++k) qv.variances[k] = 2.0f;
  std::vector<float> f(static_cast<size_t>(w) * h, 0.0f);
  const float first[] = {0.6f, -0.6f, std::nextafter(0.6f, 1.0f), 2.75f, -2.75f, 32766.9f,
                         -32767.9f};
  std::copy(first, first + 7, f.begin() + t.q[0].y * w + t.q[0].x);
  short *sip = nullptr;
  int n = 0;
  ASSERT_EQ(tsl::quantize_wsq(&sip, &n, &qv, t.q, 64, f.data(), w, h), 0);
  const std::vector<short> q(sip, sip + n);
  free(sip);
  EXPECT_EQ(qv.q_widths[0], 1.0f);
  EXPECT_EQ(qv.z_widths[0], 1.2f);
  EXPECT_EQ(qv.q_widths[4], 0.0f);
  ASSERT_EQ(q.size(), 4u * 16 * 16);
  EXPECT_EQ(std::vector<short>(q.begin(), q.begin() + 7),
            (std::vector<short>{0, 0, 1, 3, -3, 32767, -32768}));
}

// A value past either 16-bit end (here with the scale settled at 1), or an
// infinite scale (a rate far too high for the few subbands left, which
// coded nothing), gives way to the finest scale whose values fit: the
// smallest (Q' x 32766) / m over the subbands holding a coefficient, in
// double and kept as float. With Q' = 0.7238 for subband 4 that is its
// 20000.37 rather than subband 2's larger 25000; a float product there would
// give widths one unit lower in the last place. Expected values worked out
// apart from the library, in Python.
TEST(WsqQuantize, ValuesBeyondSixteenBitsTakeTheFinestScaleThatFits) {
  const int w = 512, h = 512;  // subbands 0 to 3 are 16x16, subband 4 is 32x32
  Trees t(w, h);
  auto at = [&](int k) { return static_cast<size_t>(t.q[k].y) * w + t.q[k].x; };
  struct Case {
    float rate;
    int last_subband;
    std::vector<std::pair<int, float>> coefficients;  // subband, first values
    float q0, z0, q4, z4;
    std::vector<short> values;  // of the same coefficients
  };
  const Case cases[] = {
      {0.75f, 3, {{2, 32767.9f}, {2, -32768.9f}, {2, 2.75f}},
       1.0000884532928467f, 1.200106143951416f, 0.0f, 0.0f, {32765, -32766, 3}},
      {10.0f, 4, {{2, 25000.0f}, {2, -25000.0f}, {4, 20000.369140625f}, {4, -20000.369140625f}},
       0.8432989120483398f, 1.0119587182998657f, 0.6104001402854919f, 0.7324801683425903f,
       {29645, -29645, 32766, -32766}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.rate);
    tsl::QuantVals qv{};
    qv.bit_rate = c.rate;
    for (int k = 0; k < 4; ++k) qv.variances[k] = 2.0f;
    if (c.last_subband == 4) qv.variances[4] = 1e6f;  // Q' = 10 / ln 1e6
    std::vector<float> f(static_cast<size_t>(w) * h, 0.0f);
    int next[5] = {};
    for (auto [k, v] : c.coefficients) f[at(k) + next[k]++] = v;
    short *sip = nullptr;
    int n = 0;
    ASSERT_EQ(tsl::quantize_wsq(&sip, &n, &qv, t.q, 64, f.data(), w, h), 0);
    const std::vector<short> q(sip, sip + n);
    free(sip);
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(qv.q_widths[k], c.q0) << k;
      EXPECT_EQ(qv.z_widths[k], c.z0) << k;
    }
    EXPECT_EQ(qv.q_widths[4], c.q4);
    EXPECT_EQ(qv.z_widths[4], c.z4);
    ASSERT_EQ(q.size(), c.last_subband == 4 ? 4u * 16 * 16 + 32 * 32 : 4u * 16 * 16);
    // Subbands 0 to 3 take 256 values each.
    std::vector<short> got;
    for (int k : {2, 4})
      for (int i = 0; i < next[k]; ++i) got.push_back(q[k * 256 + i]);
    EXPECT_EQ(got, c.values);
  }
}

// Coefficients that are not finite numbers fit no bin width: still refused,
// with the subband and value named and nothing handed out, also beside a
// value that takes the finest scale that fits.
TEST(WsqQuantize, CoefficientsThatAreNotFiniteAreRefused) {
  const int w = 512, h = 512;
  Trees t(w, h);
  for (auto [c, value] : {std::pair{kInf, "inf"}, {-kInf, "-inf"}}) {
    for (float other : {0.0f, 40000.0f}) {
      tsl::QuantVals qv{};
      for (int k = 0; k < 4; ++k) qv.variances[k] = 2.0f;
      std::vector<float> f(static_cast<size_t>(w) * h, 0.0f);
      f[static_cast<size_t>(t.q[2].y) * w + t.q[2].x] = c;
      f[static_cast<size_t>(t.q[3].y) * w + t.q[3].x] = other;
      short kept = 0;
      short *sip = &kept;
      int n = -7;
      testing::internal::CaptureStderr();
      EXPECT_EQ(tsl::quantize_wsq(&sip, &n, &qv, t.q, 64, f.data(), w, h), -18) << value;
      EXPECT_EQ(testing::internal::GetCapturedStderr(),
                std::string("ERROR : quantize_wsq : subband 2 : quantized value ") + value +
                    " does not fit in 16 bits\n");
      EXPECT_EQ(sip, &kept) << value;
      EXPECT_EQ(n, -7) << value;
    }
  }
}

// A coefficient as first written: the product in single precision, the
// half zero bin added in double, the sum stored as float.
float ReferenceDequantized(int v, float q, float c, float z) {
  if (v == 0) return 0.0f;
  const float product = q * (v > 0 ? static_cast<float>(v) - c : static_cast<float>(v) + c);
  const double half = static_cast<double>(z) / 2.0;
  return static_cast<float>(v > 0 ? product + half : product - half);
}

// Dequantizing, from the array and from the block record into the decoder's
// layout, gives the reference values bit for bit (also with a bin centre
// past 1, where a value of 1 cancels to zero); the record's way leaves
// subbands 60 to 63 untouched and flags exactly the rows that hold only
// zeros, with the uncoded subbands and 60 to 63.
TEST(WsqQuantize, DequantizedValuesAndZeroRows) {
  const int w = 300, h = 211;
  Trees t(w, h);
  tsltest::Rng rng(21);
  std::vector<short> coded;
  std::vector<std::vector<bool>> empty(64);
  for (int k = 0; k < 60; ++k) {
    for (int r = 0; r < t.q[k].leny; ++r) {
      const bool blank = rng.Below(3) == 0;
      bool all_zero = true;
      for (int x = 0; x < t.q[k].lenx; ++x) {
        coded.push_back(blank || rng.Below(3) ? 0 : static_cast<short>(rng.Below(401)) - 200);
        all_zero = all_zero && coded.back() == 0;
      }
      empty[k].push_back(all_zero);
    }
  }
  for (float centre : {0.44f, 2.0f}) {
    SCOPED_TRACE(centre);
    tsl::DqtTable dqt{};
    dqt.bin_centre = centre;
    dqt.qtable_defined = 1;
    for (int k = 0; k < 60; ++k) {
      dqt.q_widths[k] = k % 7 == 3 ? 0.0f : k % 5 ? 1.5f + k * 0.25f : 1.0f;
      dqt.z_widths[k] = k % 5 ? 1.2f * dqt.q_widths[k] : 2.0f;
    }
    // The coefficients of the coded subbands, as the record holds them.
    std::vector<short> in;
    tsl::CoefficientRecord rec;
    for (int k = 0, at = 0; k < 60; at += t.q[k].lenx * t.q[k].leny, ++k)
      if (dqt.q_widths[k] != 0.0f)
        in.insert(in.end(), &coded[at], &coded[at] + t.q[k].lenx * t.q[k].leny);
    for (size_t i = 0; i < in.size();) {
      size_t run = 0;
      while (i + run < in.size() && in[i + run] == 0 && run < 65535) ++run;
      if (run) {
        ASSERT_TRUE(rec.Zeros(static_cast<long long>(run)));
        i += run;
      } else {
        ASSERT_TRUE(rec.Value(in[i]));
        ++i;
      }
    }
    float *plain = nullptr;
    ASSERT_EQ(tsl::unquantize(&plain, &dqt, t.q, 64, in.data(), w, h), 0);
    const Floats from_array(plain, plain + static_cast<size_t>(w) * h);
    free(plain);
    const tsl::FloatImageLayout layout = tsl::decoder_float_layout(w, h);
    Floats f(static_cast<size_t>(layout.pitch) * layout.rows, 7.0f);
    tsl::ZeroRows zeros;
    ASSERT_EQ(tsl::unquantize_record(f.data(), layout.pitch, &dqt, t.q, rec, &zeros), 0);

    Floats expect(static_cast<size_t>(w) * h, 0.0f), got(expect.size());
    for (int k = 0, at = 0; k < 64; ++k) {
      const tsl::QTreeEntry &q = t.q[k];
      const bool coded_band = k < 60 && dqt.q_widths[k] != 0.0f;
      for (int r = 0; r < q.leny; ++r) {
        ASSERT_EQ(zeros.Row(k, r), !coded_band || empty[k][r]) << k << " row " << r;
        for (int x = 0; x < q.lenx; ++x, ++at) {
          const size_t i = static_cast<size_t>(q.y + r) * w + q.x + x;
          if (coded_band)
            expect[i] = ReferenceDequantized(coded[at], dqt.q_widths[k], centre, dqt.z_widths[k]);
          got[i] = f[static_cast<size_t>(q.y + r) * layout.pitch + q.x + x];
          if (k >= 60) expect[i] = 7.0f;
        }
      }
    }
    EXPECT_TRUE(SameBits(got, expect));
    for (int k = 60; k < 64; ++k)
      for (int y = t.q[k].y; y < t.q[k].y + t.q[k].leny; ++y)
        std::fill_n(expect.begin() + y * w + t.q[k].x, t.q[k].lenx, 0.0f);
    EXPECT_TRUE(SameBits(from_array, expect));
  }
}

// Zeros a stream codes as values rather than as runs: a row whose last value
// is such a zero but which holds others is not taken for an empty row (the
// synthesis would leave it out); a row of zero values alone is.
TEST(WsqQuantize, ZeroValuesDoNotEmptyARow) {
  const int w = 120, h = 90;
  Trees t(w, h);
  tsl::DqtTable dqt{};
  dqt.bin_centre = 0.44f;
  dqt.qtable_defined = 1;
  for (int k = 0; k < 60; ++k) {
    dqt.q_widths[k] = 1.5f;
    dqt.z_widths[k] = 1.8f;
  }
  tsltest::Rng rng(9);
  tsl::CoefficientRecord rec;
  std::vector<std::vector<bool>> empty(60);
  for (int k = 0; k < 60; ++k) {
    for (int r = 0; r < t.q[k].leny; ++r) {
      const uint32_t kind = rng.Below(3);  // all zeros, ending in a zero, ending in a value
      bool all_zero = true;
      for (int x = 0; x < t.q[k].lenx; ++x) {
        const bool last = x == t.q[k].lenx - 1;
        const bool zero = kind == 0 || (kind == 1 && last) || (kind == 2 && !last && x > 0);
        ASSERT_TRUE(rec.Value(zero ? 0 : static_cast<int16_t>(1 + rng.Below(50))));
        all_zero = all_zero && zero;
      }
      empty[k].push_back(all_zero);
    }
  }
  const tsl::FloatImageLayout layout = tsl::decoder_float_layout(w, h);
  Floats f(static_cast<size_t>(layout.pitch) * layout.rows);
  tsl::ZeroRows zeros;
  ASSERT_EQ(tsl::unquantize_record(f.data(), layout.pitch, &dqt, t.q, rec, &zeros), 0);
  for (int k = 0; k < 60; ++k)
    for (int r = 0; r < t.q[k].leny; ++r) ASSERT_EQ(zeros.Row(k, r), empty[k][r]) << k << " " << r;
}

}  // namespace
