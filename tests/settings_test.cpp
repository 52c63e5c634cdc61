// Settings as a fresh process sees them, and the setters' mapping rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "api/settings.h"
#include "support/test_support.h"
#include "tessaly.h"

namespace {

// Must run before any other test in this executable changes a value.
TEST(SettingsTest, ValuesAtLoad) {
  EXPECT_EQ(ReadWSQ_bitrate(), 0.75);
  EXPECT_EQ(ReadWSQ_ppi(), 500);
  EXPECT_EQ(ReadWSQ_comment(), nullptr);
  EXPECT_EQ(ReadTIFFcompression(), 0);
  EXPECT_EQ(ReadTIFFpredictor(), 2);
  EXPECT_EQ(ReadWSQ_implementation_number(), 0);
}

TEST(SettingsTest, TiffCompressionMapsSmallNumbers) {
  WriteTIFFpredictor(1);
  WriteTIFFcompression(1);
  EXPECT_EQ(ReadTIFFcompression(), 1);
  EXPECT_EQ(ReadTIFFcompression_internal(), 13);
  EXPECT_EQ(ReadTIFFpredictor(), 2) << "Deflate resets the predictor";
  WriteTIFFcompression(2);
  EXPECT_EQ(ReadTIFFcompression(), 2);
  EXPECT_EQ(ReadTIFFcompression_internal(), 9);
  WriteTIFFcompression(7);
  EXPECT_EQ(ReadTIFFcompression(), 0);
  EXPECT_EQ(ReadTIFFcompression_internal(), 0);
}

// The private pair stores what it is given (a compression code as it
// stands, the predictor's low 16 bits) in the values the exported getters
// read, and reads the predictor back.
TEST(SettingsTest, InternalTiffAccessorsStoreWhatTheExportedOnesRead) {
  tsl::WriteTIFFcompression_internal(5);  // LZW: no small number of its own
  EXPECT_EQ(ReadTIFFcompression_internal(), 5);
  EXPECT_EQ(ReadTIFFcompression(), 0);
  tsl::WriteTIFFcompression_internal(32946);
  EXPECT_EQ(ReadTIFFcompression_internal(), 32946);
  tsl::WriteTIFFcompression_internal(9);
  EXPECT_EQ(ReadTIFFcompression(), 2);
  tsl::WriteTIFFpredictor_internal(65539);
  EXPECT_EQ(ReadTIFFpredictor(), 3);
  EXPECT_EQ(tsl::ReadTIFFpredictor_internal(), 3);
  WriteTIFFpredictor(1);
  EXPECT_EQ(tsl::ReadTIFFpredictor_internal(), 1);
  tsl::WriteTIFFpredictor_internal(2);
  EXPECT_EQ(ReadTIFFpredictor(), 2);
}

TEST(SettingsTest, BitRateIsStoredAsGiven) {
  WriteWSQ_bitrate(2.25);
  EXPECT_EQ(ReadWSQ_bitrate(), 2.25);
  WriteWSQ_bitrate(0.1);
  EXPECT_EQ(ReadWSQ_bitrate(), 0.1);
}

TEST(SettingsTest, CommentIsCopiedAndReplaced) {
  char text[] = "abc";
  WriteWSQ_comment(text);
  text[0] = 'x';
  ASSERT_NE(ReadWSQ_comment(), nullptr);
  EXPECT_STREQ(ReadWSQ_comment(), "abc");
  WriteWSQ_comment("second");
  EXPECT_STREQ(ReadWSQ_comment(), "second");
  // The library's own text handed back (the sanitizer build sees a read of
  // released memory).
  WriteWSQ_comment(ReadWSQ_comment());
  EXPECT_STREQ(ReadWSQ_comment(), "second");
  WriteWSQ_comment(ReadWSQ_comment() + 3);
  EXPECT_STREQ(ReadWSQ_comment(), "ond");
  WriteWSQ_comment(nullptr);  // must not crash; clears the comment
  EXPECT_EQ(ReadWSQ_comment(), nullptr);
}

TEST(SettingsTest, DialogAndConverterCallsChangeNothing) {
  tsltest::TempDir dir;
  const tsltest::Bytes grey = tsltest::RidgeImage(65, 65);
  tsltest::Bytes planar;
  for (int plane = 0; plane < 3; ++plane) planar.insert(planar.end(), grey.begin(), grey.end());
  tsltest::WriteFile(dir.File("t.bin"), tsltest::Bytes{0xF0, 0x0F, 0xFF, 0x00});
  WriteType8CompressionWidthHeight(16, 2, 0);
  // What later calls see: the settings after a WSQ save, the saved bytes,
  // and the planes of a ".BIN" read.
  const auto observed = [&](const char *name) {
    const std::string wsq = dir.File(name);
    EXPECT_EQ(SaveImageToFile(wsq.c_str(), 1, 65, 65, planar.data()), 1);
    int w = 0, h = 0;
    unsigned char *data = nullptr;
    EXPECT_EQ(ReadImageFromFile(dir.File("t.bin").c_str(), &w, &h, &data), 1);
    const tsltest::Bytes read(data, data + (data ? 3 * w * h : 0));  // the library's buffer
    const char *comment = ReadWSQ_comment();
    return std::make_tuple(ReadWSQ_bitrate(), ReadWSQ_ppi(),
                           std::string(comment ? comment : "(none)"),
                           ReadTIFFcompression_internal(), ReadTIFFpredictor(),
                           ReadWSQ_implementation_number(), tsltest::ReadFile(wsq), read);
  };
  const auto before = observed("before.wsq");
  SetShowFilePropertiesDialog(1);
  ShowFileConverter();
  EXPECT_EQ(observed("after.wsq"), before);
}

}  // namespace
