// Inversion switches set before any reader or writer has run are kept (this
// executable's first library call is the setter).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "tessaly.h"

namespace {

TEST(Type8InversionFirst, SettingBeforeFirstUseIsKept) {
  SetNISTType8ImageColorInversion(1, 1, 0, 0);
  const unsigned char data[2] = {0xFF, 0x00};
  unsigned char *img = CreateImageFromNISTType8UncompressedBinaryField(data, 2, 8, 2);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img[0], 0) << "1 bits read as 0";
  EXPECT_EQ(img[8], 255);

  // Group 4 writer at 0: light pixels become the black (1) bits.
  unsigned char white[64];
  for (auto &p : white) p = 255;
  unsigned char *out = nullptr;
  int len = 0;
  ASSERT_EQ(CreateNISTType8CompressedBinaryFieldfromImage(white, 8, 8, &out, &len), 1);
  unsigned char *back = CreateImageFromNISTType8CompressedBinaryField(out, len, 8, 8);
  ASSERT_NE(back, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(back[i], 255) << i;
  const unsigned char all_white_stream[4] = {0xFF, 0x00, 0x10, 0x01};
  EXPECT_FALSE(len == 4 && std::equal(out, out + 4, all_white_stream)) << "coded as black";
  std::free(out);
  out = nullptr;

  ASSERT_EQ(CreateNISTType8UncompressedBinaryFieldfromImage(white, 8, 1, &out, &len), 1);
  EXPECT_EQ(out[0], 0x00) << "uncompressed writer inverts";
  std::free(out);
}

}  // namespace
