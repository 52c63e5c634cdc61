// Settings as a fresh process sees them, and the setters' mapping rules.
#include <gtest/gtest.h>

#include <cstring>

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
