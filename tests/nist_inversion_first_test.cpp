// Inversion switches set before any reader or writer has run are kept (this
// executable's first library call is the setter).
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "tessaly.h"

TEST(Type8InversionFirst, SettingBeforeFirstUseIsKept) {
  SetNISTType8ImageColorInversion(1, 1, 0, 0);
  const unsigned char data[2] = {0xFF, 0x00};
  const unsigned char *img = CreateImageFromNISTType8UncompressedBinaryField(data, 2, 8, 2);
  ASSERT_NE(img, nullptr);
  EXPECT_TRUE(img[0] == 0 && img[8] == 255) << "1 bits read as 0";
  // Both writers at 0: light pixels become 1 bits, so white is not coded
  // as the all-white stream, and still reads back white.
  const std::vector<unsigned char> white(64, 255), white_stream{0xFF, 0x00, 0x10, 0x01};
  unsigned char *out = nullptr;
  int len = 0;
  ASSERT_EQ(CreateNISTType8CompressedBinaryFieldfromImage(white.data(), 8, 8, &out, &len), 1);
  EXPECT_NE(std::vector<unsigned char>(out, out + len), white_stream);
  img = CreateImageFromNISTType8CompressedBinaryField(out, len, 8, 8);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(std::vector<unsigned char>(img, img + 64), white);
  ASSERT_EQ(CreateNISTType8UncompressedBinaryFieldfromImage(white.data(), 8, 1, &out, &len), 1);
  EXPECT_EQ(out[0], 0x00) << "uncompressed writer inverts";
  std::free(out);
}
