// Pixel conversion back to bytes and quantization: exact rounding rules and
// the clamps of values out of range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

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

// With only subbands 0 to 3 above the variance threshold the scale q is 1,
// so their bin width is exactly 1 and the zero bin 1.2: this pins the
// quantizer rule. Quotients beyond 16 bits (smooth images at low rates reach
// 1e20 and infinities) are clamped, never converted out of range.
TEST(WsqQuantize, BinEdgesAndClamp) {
  const int w = 512, h = 512;  // subband 0 is 16x16
  tsl::WTreeNode wt[20];
  tsl::QTreeEntry qt[64];
  tsl::build_wsq_trees(wt, 20, qt, 64, w, h);
  tsl::QuantVals qv{};
  qv.bit_rate = 0.75f;
  for (int k = 0; k < 4; ++k) qv.variances[k] = 2.0f;
  std::vector<float> f(static_cast<size_t>(w) * h, 0.0f);
  const float first[] = {0.6f, -0.6f, std::nextafter(0.6f, 1.0f), 2.75f, -2.75f, 1e20f, -1e20f,
                         kInf, -kInf, 32766.9f};
  std::copy(first, first + 10, f.begin() + qt[0].y * w + qt[0].x);
  short *sip = nullptr;
  int n = 0;
  ASSERT_EQ(tsl::quantize_wsq(&sip, &n, &qv, qt, 64, f.data(), w, h), 0);
  const std::vector<short> q(sip, sip + n);
  free(sip);
  EXPECT_EQ(qv.q_widths[0], 1.0f);
  EXPECT_EQ(qv.z_widths[0], 1.2f);
  EXPECT_EQ(qv.q_widths[4], 0.0f);
  ASSERT_EQ(q.size(), 4u * 16 * 16);
  EXPECT_EQ(std::vector<short>(q.begin(), q.begin() + 10),
            (std::vector<short>{0, 0, 1, 3, -3, 32767, -32768, 32767, -32768, 32767}));
}

}  // namespace
