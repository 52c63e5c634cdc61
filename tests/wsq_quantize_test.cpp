// Pixel conversion, variances, bin widths and (de)quantization.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <cstdlib>
#include <limits>
#include <memory>
#include <vector>

#include "common/checked.h"
#include "support/test_support.h"
#include "wsq/quantize.h"
#include "wsq/wavelet.h"

namespace {

using tsl::QTreeEntry;
using tsl::QuantVals;
using tsl::WTreeNode;

struct Encoded {
  std::unique_ptr<short, tsl::FreeDeleter> coeffs;
  int count = 0;
  QuantVals qv{};
  int blocks[3] = {};
};

// The encoder's first half: conversion, transform, variances, quantization.
Encoded Quantize(const std::vector<uint8_t> &px, int w, int h, float rate) {
  Encoded e;
  std::vector<float> f(px.size());
  float shift, scale;
  EXPECT_EQ(tsl::conv_img_2_flt_ret(f.data(), &shift, &scale, px.data(), w * h), 0);
  WTreeNode wt[20];
  QTreeEntry qt[64];
  tsl::build_wsq_trees(wt, 20, qt, 64, w, h);
  EXPECT_EQ(tsl::wsq_decompose(f.data(), w, h, wt, 20, tsl::hifilt, 7, tsl::lofilt, 9), 0);
  e.qv.bit_rate = rate;
  tsl::variance(&e.qv, qt, 64, f.data(), w, h);
  short *sip = nullptr;
  EXPECT_EQ(tsl::quantize_wsq(&sip, &e.count, &e.qv, qt, 64, f.data(), w, h), 0);
  e.coeffs.reset(sip);
  tsl::quant_block_sizes(&e.blocks[0], &e.blocks[1], &e.blocks[2], &e.qv, wt, 20, qt, 64);
  return e;
}

TEST(WsqPixels, ConstantImageIsAllZero) {
  std::vector<uint8_t> px(100 * 90, 77);
  std::vector<float> f(px.size(), 5.0f);
  float shift, scale;
  ASSERT_EQ(tsl::conv_img_2_flt_ret(f.data(), &shift, &scale, px.data(), 100 * 90), 0);
  EXPECT_EQ(shift, 77.0f);
  EXPECT_EQ(scale, 1.0f);
  for (float v : f) ASSERT_EQ(v, 0.0f);

  Encoded e = Quantize(px, 100, 90, 0.75f);
  EXPECT_EQ(e.count, 0);
  for (int k = 0; k < 64; ++k) {
    EXPECT_EQ(e.qv.q_widths[k], 0.0f) << k;
    EXPECT_EQ(e.qv.z_widths[k], 0.0f) << k;
  }
  EXPECT_EQ(e.blocks[0] + e.blocks[1] + e.blocks[2], 0);
}

TEST(WsqPixels, ScaleFollowsTheFartherExtreme) {
  std::vector<uint8_t> px(1000, 0);
  px[10] = 255;
  std::vector<float> f(px.size());
  float shift, scale;
  ASSERT_EQ(tsl::conv_img_2_flt_ret(f.data(), &shift, &scale, px.data(), 1000), 0);
  EXPECT_EQ(shift, 0.255f);
  EXPECT_EQ(scale, static_cast<float>((255.0f - 0.255f) / 128.0));
  EXPECT_EQ(f[10], (255.0f - shift) / scale);
}

// The conversion as first written: the +0.5 in double, then to float.
uint8_t ReferenceByte(float f, float r_scale, float m_shift) {
  const float t = static_cast<float>(static_cast<double>(f * r_scale + m_shift) + 0.5);
  if (t < 0.0f || t != t) return 0;
  if (t > 255.0f) return 255;
  return static_cast<uint8_t>(t);
}

TEST(WsqPixels, BackToBytesRoundsAndClamps) {
  const float in[] = {254.6f, -0.4f, 255.4f, 100.49f, 1e30f,
                      -std::numeric_limits<float>::infinity(),
                      std::numeric_limits<float>::quiet_NaN()};
  const uint8_t want[] = {255, 0, 255, 100, 255, 0, 0};
  // Repeated so that both the vector and the scalar paths see every case.
  std::vector<float> img;
  for (int rep = 0; rep < 5; ++rep) img.insert(img.end(), in, in + 7);
  std::vector<uint8_t> out(img.size());
  tsl::conv_img_2_uchar(out.data(), img.data(), static_cast<int>(img.size()), 1, 0.0f, 1.0f);
  for (size_t i = 0; i < img.size(); ++i) EXPECT_EQ(out[i], want[i % 7]) << i;
}

TEST(WsqPixels, BackToBytesMatchesTheDoubleFormBitForBit) {
  tsltest::Rng rng(3);
  std::vector<float> img(4099);
  for (float &f : img)
    f = static_cast<float>(static_cast<int>(rng.Below(1 << 20)) - (1 << 19)) / 2048.0f;
  img[5] = 0.5f - 1.0f / 4096.0f;
  std::vector<uint8_t> out(img.size());
  const float r = 0.70089f, m = 127.4375f;
  tsl::conv_img_2_uchar(out.data(), img.data(), 4099, 1, m, r);
  for (size_t i = 0; i < img.size(); ++i) ASSERT_EQ(out[i], ReferenceByte(img[i], r, m)) << i;
}

// With only subbands 0 to 3 above the threshold the scale q is 1, so their
// bin width is exactly 1 and the zero bin 1.2: this pins the quantizer rule.
TEST(WsqQuantize, BinEdgesAndSaturation) {
  const int w = 512, h = 512;  // subband 0 is 16 x 16
  WTreeNode wt[20];
  QTreeEntry qt[64];
  tsl::build_wsq_trees(wt, 20, qt, 64, w, h);
  QuantVals qv{};
  qv.bit_rate = 0.75f;
  for (int k = 0; k < 4; ++k) qv.variances[k] = 2.0f;
  std::vector<float> f(static_cast<size_t>(w) * h, 0.0f);
  const QTreeEntry &b = qt[0];
  float *row = f.data() + static_cast<size_t>(b.y) * w + b.x;
  const float inf = std::numeric_limits<float>::infinity();
  const float vals[] = {0.6f, -0.6f, std::nextafter(0.6f, 1.0f), 2.75f, -2.75f, 1e20f, -1e20f,
                        inf, -inf, 32766.9f};
  const short want[] = {0, 0, 1, 3, -3, 32767, -32768, 32767, -32768, 32767};
  for (int i = 0; i < 10; ++i) row[i] = vals[i];
  short *sip = nullptr;
  int n = 0;
  ASSERT_EQ(tsl::quantize_wsq(&sip, &n, &qv, qt, 64, f.data(), w, h), 0);
  std::unique_ptr<short, tsl::FreeDeleter> hold(sip);
  EXPECT_EQ(qv.q_widths[0], 1.0f);
  EXPECT_EQ(qv.z_widths[0], 1.2f);
  EXPECT_EQ(qv.q_widths[4], 0.0f);
  EXPECT_EQ(n, 4 * qt[0].lenx * qt[0].leny);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(sip[i], want[i]) << i;
}

// 1.01 is compared in double: the float just below stays out, the next in.
TEST(WsqQuantize, VarianceThresholdIsADoubleConstant) {
  WTreeNode wt[20];
  QTreeEntry qt[64];
  tsl::build_wsq_trees(wt, 20, qt, 64, 100, 100);
  std::vector<float> f(100 * 100, 0.0f);
  QuantVals qv{};
  qv.bit_rate = 0.75f;
  qv.variances[10] = 1.01f;  // 1.00999999
  qv.variances[11] = std::nextafter(1.01f, 2.0f);
  qv.variances[12] = std::numeric_limits<float>::quiet_NaN();
  short *sip = nullptr;
  int n = 0;
  ASSERT_EQ(tsl::quantize_wsq(&sip, &n, &qv, qt, 64, f.data(), 100, 100), 0);
  free(sip);
  EXPECT_EQ(qv.q_widths[10], 0.0f);
  EXPECT_GT(qv.q_widths[11], 0.0f);
  EXPECT_EQ(qv.q_widths[12], 0.0f);
}

TEST(WsqQuantize, TinyWindowsGiveNotANumber) {
  // 65 wide and high: subbands 0 to 3 are 3x3 and smaller, windows of at
  // most 2x1 samples.
  WTreeNode wt[20];
  QTreeEntry qt[64];
  tsl::build_wsq_trees(wt, 20, qt, 64, 65, 65);
  std::vector<float> f(65 * 65, 1.0f);
  QuantVals qv{};
  tsl::variance(&qv, qt, 64, f.data(), 65, 65);
  // A 3x3 subband has a 2x1 window: two samples, variance 0.
  EXPECT_EQ(qt[0].lenx, 3);
  EXPECT_EQ(qv.variances[0], 0.0f);
  // A 2x2 subband has a 1x0 window: not a number, so the sum of the first
  // four fails the 20000 test and every subband keeps its window value.
  QTreeEntry tiny[64];
  for (QTreeEntry &q : tiny) q = {0, 0, 2, 2};
  QuantVals nan{};
  tsl::variance(&nan, tiny, 64, f.data(), 65, 65);
  EXPECT_TRUE(std::isnan(nan.variances[0]));
  EXPECT_TRUE(std::isnan(nan.variances[59]));
}

TEST(WsqQuantize, BlockSizesAddUpOnRidgeImages) {
  for (auto [w, h] : {std::pair{65, 80}, {200, 150}, {333, 257}}) {
    for (float rate : {0.75f, 2.25f}) {
      tsltest::Bytes px = tsltest::RidgeImage(w, h, w);
      Encoded e = Quantize(px, w, h, rate);
      EXPECT_EQ(e.blocks[0] + e.blocks[1] + e.blocks[2], e.count) << w << "x" << h;
      EXPECT_GT(e.count, 0);
    }
  }
}

// Smooth and faint images at a low rate: tiny variances make huge quotients
// that must saturate (the sanitizer build checks the conversions).
TEST(WsqQuantize, SmoothImagesSaturate) {
  const int w = 256, h = 256;
  std::vector<uint8_t> px(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) px[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(x / 64);
  Encoded e = Quantize(px, w, h, 0.75f);
  EXPECT_EQ(e.blocks[0] + e.blocks[1] + e.blocks[2], e.count);
  for (int k = 0; k < 60; ++k) EXPECT_TRUE(std::isfinite(e.qv.q_widths[k])) << k;
}

TEST(WsqDequantize, BinCentreAndZeroBin) {
  WTreeNode wt[20];
  QTreeEntry qt[64];
  tsl::build_wsq_trees(wt, 20, qt, 64, 100, 100);
  tsl::DqtTable dqt{};
  dqt.qtable_defined = 1;
  dqt.bin_centre = 0.44f;
  dqt.q_widths[0] = 2.0f;
  dqt.z_widths[0] = 2.4f;
  std::vector<short> sip(100 * 100, 0);
  sip[0] = 1;
  sip[1] = -1;
  sip[2] = 0;
  float *f = nullptr;
  ASSERT_EQ(tsl::unquantize(&f, &dqt, qt, 64, sip.data(), 100, 100), 0);
  std::unique_ptr<float, tsl::FreeDeleter> hold(f);
  EXPECT_FLOAT_EQ(f[0], 2.32f);
  EXPECT_FLOAT_EQ(f[1], -2.32f);
  EXPECT_EQ(f[2], 0.0f);
  // Subbands without a width stay zero.
  EXPECT_EQ(f[static_cast<size_t>(qt[5].y) * 100 + qt[5].x], 0.0f);

  // Every value against the double form of the rule, bit for bit.
  tsltest::Rng rng(9);
  for (short &v : sip) v = static_cast<short>(static_cast<int>(rng.Below(2001)) - 1000);
  sip[7] = 32767;
  sip[8] = -32768;
  for (int k = 0; k < 60; ++k) {
    dqt.q_widths[k] = k % 7 == 3 ? 0.0f : 0.37f + 1.91f * static_cast<float>(k);
    dqt.z_widths[k] = static_cast<float>(1.2 * dqt.q_widths[k]);
  }
  ASSERT_EQ(tsl::unquantize(&f, &dqt, qt, 64, sip.data(), 100, 100), 0);
  hold.reset(f);
  const short *v = sip.data();
  for (int k = 0; k < 60; ++k) {
    const float Q = dqt.q_widths[k];
    if (Q == 0.0f) continue;
    const QTreeEntry &b = qt[k];
    for (int y = b.y; y < b.y + b.leny; ++y) {
      for (int x = b.x; x < b.x + b.lenx; ++x, ++v) {
        float want = 0.0f;
        if (*v > 0)
          want = static_cast<float>(Q * (*v - dqt.bin_centre) + dqt.z_widths[k] / 2.0);
        else if (*v < 0)
          want = static_cast<float>(Q * (*v + dqt.bin_centre) - dqt.z_widths[k] / 2.0);
        const float got = f[static_cast<size_t>(y) * 100 + x];
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
