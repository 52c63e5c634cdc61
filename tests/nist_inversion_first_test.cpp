// Inversion switches set before any reader or writer has run are kept (this
// executable's first library call is the setter).
#include <gtest/gtest.h>

#include <cstdlib>

#include "tessaly.h"

TEST(Type8InversionFirst, SettingBeforeFirstUseIsKept) {
  SetNISTType8ImageColorInversion(1, 1, 0, 0);
  const unsigned char data[2] = {0xFF, 0x00}, white[8] = {255, 255, 255, 255, 255, 255, 255, 255};
  const unsigned char *img = CreateImageFromNISTType8UncompressedBinaryField(data, 2, 8, 2);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img[0], 0) << "1 bits read as 0";
  EXPECT_EQ(img[8], 255);
  // White packs as 0 bits at 1, and codes as black at 0.
  unsigned char *out = nullptr;
  int len = 0;
  ASSERT_EQ(CreateNISTType8UncompressedBinaryFieldfromImage(white, 8, 1, &out, &len), 1);
  EXPECT_EQ(out[0], 0);
  ASSERT_EQ(CreateNISTType8CompressedBinaryFieldfromImage(white, 8, 1, &out, &len), 1);
  EXPECT_NE(len, 4) << "not the all-white stream";
  std::free(out);
}
