// Pixel conversion back to bytes, quantization and dequantization: exact
// rounding rules and the clamps of values out of range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "common/checked.h"
#include "support/test_support.h"
#include "wsq/quantize.h"
#include "wsq/wavelet.h"

namespace {

const float kInf = std::numeric_limits<float>::infinity();

// The conversion as first written: the +0.5 in double, then to float;
// below zero and not-a-number give 0.
uint8_t ReferenceByte(float f, float r_scale, float m_shift) {
  const float t = static_cast<float>(static_cast<double>(f * r_scale + m_shift) + 0.5);
  if (t < 0.0f || t != t) return 0;
  return t > 255.0f ? 255 : static_cast<uint8_t>(t);
}

// Edge values first and again at the end (past the last 16-value block, so
// both the vector and the scalar paths see them), random values between.
TEST(WsqPixels, BackToBytesMatchesTheDoubleFormAndClamps) {
  const std::vector<float> edge = {254.6f, -0.4f, 255.4f, 100.49f, 1e30f, -kInf, kInf, NAN,
                                   0.5f - 1.0f / 4096.0f};
  std::vector<float> img = edge;
  tsltest::Rng rng(3);
  while (img.size() < 4096)
    img.push_back(static_cast<float>(static_cast<int>(rng.Below(1 << 20)) - (1 << 19)) / 2048.0f);
  img.insert(img.end(), edge.begin(), edge.end());
  for (auto [m, r] : {std::pair{0.0f, 1.0f}, {127.4375f, 0.70089f}}) {
    std::vector<uint8_t> out(img.size());
    tsl::conv_img_2_uchar(out.data(), img.data(), static_cast<int>(img.size()), 1, m, r);
    for (size_t i = 0; i < img.size(); ++i)
      ASSERT_EQ(out[i], ReferenceByte(img[i], r, m)) << i << " " << img[i] << " " << m;
  }
}

struct Quantized {
  tsl::QuantVals qv{};
  std::vector<short> q;
};

// Quantizes a 512x512 coefficient image whose subbands 0 to 3 have the given
// variance and whose subband 0 starts with `first`; `extra` sets more
// variances as (subband, value).
Quantized Quantize(const std::vector<float> &first,
                   std::initializer_list<std::pair<int, float>> extra = {}) {
  const int w = 512, h = 512;
  tsl::WTreeNode wt[20];
  tsl::QTreeEntry qt[64];
  tsl::build_wsq_trees(wt, 20, qt, 64, w, h);
  Quantized r;
  r.qv.bit_rate = 0.75f;
  for (int k = 0; k < 4; ++k) r.qv.variances[k] = 2.0f;
  for (auto [k, v] : extra) r.qv.variances[k] = v;
  std::vector<float> f(static_cast<size_t>(w) * h, 0.0f);
  std::copy(first.begin(), first.end(), f.begin() + qt[0].y * w + qt[0].x);
  short *sip = nullptr;
  int n = 0;
  EXPECT_EQ(tsl::quantize_wsq(&sip, &n, &r.qv, qt, 64, f.data(), w, h), 0);
  r.q.assign(sip, sip + n);
  free(sip);
  return r;
}

// With only subbands 0 to 3 above the threshold the scale q is 1, so their
// bin width is exactly 1 and the zero bin 1.2: this pins the quantizer rule.
// Quotients beyond 16 bits (smooth images at low rates reach 1e20 and
// infinities) are clamped in float, never converted out of range.
TEST(WsqQuantize, BinEdgesClampAndVarianceThreshold) {
  const Quantized a = Quantize({0.6f, -0.6f, std::nextafter(0.6f, 1.0f), 2.75f, -2.75f, 1e20f,
                                -1e20f, kInf, -kInf, 32766.9f});
  EXPECT_EQ(a.qv.q_widths[0], 1.0f);
  EXPECT_EQ(a.qv.z_widths[0], 1.2f);
  EXPECT_EQ(a.qv.q_widths[4], 0.0f);
  ASSERT_EQ(a.q.size(), 4u * 16 * 16);  // subband 0 of 512x512 is 16x16
  EXPECT_EQ(std::vector<short>(a.q.begin(), a.q.begin() + 10),
            (std::vector<short>{0, 0, 1, 3, -3, 32767, -32768, 32767, -32768, 32767}));
  // 1.01 is compared in double: 1.01f (1.00999999) stays out, the next
  // float is in; not-a-number stays out.
  const Quantized b = Quantize({}, {{10, 1.01f}, {11, std::nextafter(1.01f, 2.0f)}, {12, NAN}});
  EXPECT_EQ(b.qv.q_widths[10], 0.0f);
  EXPECT_GT(b.qv.q_widths[11], 0.0f);
  EXPECT_EQ(b.qv.q_widths[12], 0.0f);
}

// Every dequantized value against the double form of the rule, bit for bit;
// subbands without a width stay zero; no table defined gives -92.
TEST(WsqDequantize, BinCentreZeroBinAndMissingTable) {
  tsl::WTreeNode wt[20];
  tsl::QTreeEntry qt[64];
  tsl::build_wsq_trees(wt, 20, qt, 64, 100, 100);
  tsl::DqtTable dqt{};
  dqt.qtable_defined = 1;
  dqt.bin_centre = 0.44f;
  for (int k = 0; k < 60; ++k) {
    dqt.q_widths[k] = k % 7 == 3 ? 0.0f : 0.37f + 1.91f * static_cast<float>(k);
    dqt.z_widths[k] = static_cast<float>(1.2 * dqt.q_widths[k]);
  }
  std::vector<short> sip(100 * 100);
  tsltest::Rng rng(9);
  for (short &v : sip) v = static_cast<short>(static_cast<int>(rng.Below(2001)) - 1000);
  sip[1] = 0;
  sip[7] = 32767;
  sip[8] = -32768;
  float *f = nullptr;
  ASSERT_EQ(tsl::unquantize(&f, &dqt, qt, 64, sip.data(), 100, 100), 0);
  std::unique_ptr<float, tsl::FreeDeleter> hold(f);
  const short *v = sip.data();
  for (int k = 0; k < 60; ++k) {
    const float q = dqt.q_widths[k];
    const double half_z = dqt.z_widths[k] / 2.0;
    const tsl::QTreeEntry &b = qt[k];
    for (int y = b.y; y < b.y + b.leny; ++y) {
      for (int x = b.x; x < b.x + b.lenx; ++x, v += q != 0.0f) {
        float want = 0.0f;
        if (q != 0.0f && *v > 0) want = static_cast<float>(q * (*v - dqt.bin_centre) + half_z);
        if (q != 0.0f && *v < 0) want = static_cast<float>(q * (*v + dqt.bin_centre) - half_z);
        const float got = f[y * 100 + x];
        ASSERT_EQ(memcmp(&got, &want, sizeof got), 0) << k << " " << *v;
      }
    }
  }
  dqt.qtable_defined = 0;
  f = nullptr;
  EXPECT_EQ(tsl::unquantize(&f, &dqt, qt, 64, sip.data(), 100, 100), -92);
  EXPECT_EQ(f, nullptr);
}

}  // namespace
