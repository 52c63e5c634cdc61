// Settings as a fresh process sees them, and the setters' mapping rules.
#include <gtest/gtest.h>

#include <cstring>

#include "api/settings.h"
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

}  // namespace
