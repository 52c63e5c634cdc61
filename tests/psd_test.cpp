// Photoshop documents: ImageMagick's grey, indexed and RGB(A) files, raw and
// PackBits, read with the pixels they were made from; hand-made documents
// read or refused as they should be.
#include <gtest/gtest.h>

#include "image/psd.h"
#include "raster_test_util.h"

namespace {

using namespace tsltest;

TEST(PsdRead, FilesOfImageMagick) {
  const std::string im = std::string(kConvert) + " %i ", raw = "-compress None psd:%o",
                    rle = "-compress RLE psd:%o";
  const uint32_t rgb = 1u << 24;
  // Grey pictures with alpha keep their first channel. (ImageMagick's
  // indexed files with alpha lack the alpha rows: it cannot read them back.)
  ExpectToolFilesRead(ReadPSD, {{im + raw, 0, 8},
                                {im + "-type Palette " + rle, 40, 8},
                                {im + raw, rgb, 24},
                                {im + rle, rgb, 24},
                                {im + "-alpha set " + rle, rgb, 32},
                                {im + "-type GrayscaleAlpha " + rle, 0, 8}});
}

// A document of `channels` x h x w at 8 bits in `mode`, with colour data,
// empty resources and layers, and `compression` then `body`.
Bytes Psd(unsigned channels, uint32_t h, uint32_t w, unsigned mode, const Bytes &colour_data,
          unsigned compression, const Bytes &body) {
  Bytes f{'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
  PutBe(f, channels, 2), PutBe(f, h, 4), PutBe(f, w, 4), PutBe(f, 8, 2), PutBe(f, mode, 2);
  PutBe(f, uint32_t(colour_data.size()), 4);
  f.insert(f.end(), colour_data.begin(), colour_data.end());
  PutBe(f, 0, 4), PutBe(f, 0, 4), PutBe(f, compression, 2);
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

TEST(PsdRead, HandMadeRunsAndRefusals) {
  // 2 x 2 grey: row 0 is a no-op (-128) and a literal of 2, row 1 a repeat.
  const Bytes rows{0, 4, 0, 2, 0x80, 0x01, 5, 6, 0xFF, 9};
  const Bytes grey = Psd(1, 2, 2, 1, {}, 1, rows);
  ExpectEveryTruncationFails(grey, ReadPSDMemory);
  // Rows of 6 and 2 bytes: row 0 as above, then two more bytes.
  const Bytes row0{0, 6, 0, 2, 0x80, 1, 5, 6};
  const int kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION, kCorrupt = RASTER_ERR_CORRUPT_FILE;
  ExpectHandMadeFiles(
      ReadPSDMemory,
      {{"runs", grey, GreyToRgb({5, 6, 9, 9})},
       {"raw RGB and alpha", Psd(4, 1, 1, 3, {}, 0, {1, 2, 3, 4}), {1, 2, 3, 4}},
       {"literal past the row", Patched(grey, 45, {2}), {}, kCorrupt},
       {"row with a literal past it", Psd(1, 2, 2, 1, {}, 1, Cat({row0, {0, 9, 0xFF, 4}})), {},
        kCorrupt},
       {"row with a repeat past it", Psd(1, 2, 2, 1, {}, 1, Cat({row0, {0xFF, 9, 0xFF, 4}})),
        GreyToRgb({5, 6, 4, 4})},
       {"row ends early", Patched(grey, 41, {3}), {}, kCorrupt},
       {"width beyond what a row holds", Patched(grey, 21, {200}), {}, kCorrupt},
       {"signature", Patched(grey, 0, {'7'}), {}, kCorrupt},
       {"16 bits", Patched(grey, 23, {16}), {}, kUnsupported},
       {"CMYK", Patched(grey, 25, {4}), {}, kUnsupported},
       {"RGB of 2 channels", Psd(2, 1, 1, 3, {}, 1, {0, 2, 0, 2, 0, 1, 0, 2}), {}, kUnsupported},
       {"short colour table", Psd(1, 1, 1, 2, Bytes(767), 0, {1}), {}, kCorrupt},
       {"40000 squared, no rows", Psd(1, 40000, 40000, 1, {}, 0, {1}), {}, RASTER_ERR_READ},
       {"width 0", Psd(1, 1, 0, 1, {}, 0, {}), {}, RASTER_ERR_INVALID_SIZE}});
}

// Grey documents keep their first channel of up to four.
TEST(PsdRead, ChannelCountFrom1To4) {
  const Bytes planes{5, 6, 1, 1, 2, 2, 3, 3, 4, 4};  // 1 x 2, up to 5 raw planes
  const int kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION;
  ExpectHandMadeFiles(ReadPSDMemory,
                      {{"1 channel", Psd(1, 1, 2, 1, {}, 0, planes), GreyToRgb({5, 6})},
                       {"4 channels", Psd(4, 1, 2, 1, {}, 0, planes), GreyToRgb({5, 6})},
                       {"0 channels", Psd(0, 1, 2, 1, {}, 0, planes), {}, kUnsupported},
                       {"5 channels", Psd(5, 1, 2, 1, {}, 0, planes), {}, kUnsupported}});
}

// Colour mode data belongs to indexed and duotone documents alone.
TEST(PsdRead, ColourModeDataOnGreyOrRgbRefused) {
  const int kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION;
  ExpectHandMadeFiles(
      ReadPSDMemory,
      {{"grey, none", Psd(1, 1, 1, 1, {}, 0, {7}), {7, 7, 7}},
       {"grey, 1 byte", Psd(1, 1, 1, 1, {0}, 0, {7}), {}, kUnsupported},
       {"RGB, none", Psd(3, 1, 1, 3, {}, 0, {1, 2, 3}), {1, 2, 3}},
       {"RGB, 1 byte", Psd(3, 1, 1, 3, {0}, 0, {1, 2, 3}), {}, kUnsupported},
       {"duotone, 1 byte", Psd(1, 1, 1, 8, {0}, 0, {7}), {7, 7, 7}}});
}

// Rows whose data would end one byte past the end of the file.
TEST(PsdRead, RowDataPastTheFileRefused) {
  const Bytes raw = Psd(1, 2, 2, 1, {}, 0, {1, 2, 3, 4});
  // Two rows of 2 bytes each: repeats of 7 and of 8.
  const Bytes runs = Psd(1, 2, 2, 1, {}, 1, {0, 2, 0, 2, 0xFF, 7, 0xFF, 8});
  ExpectHandMadeFiles(
      ReadPSDMemory,
      {{"raw rows ending at the file's end", raw, GreyToRgb({1, 2, 3, 4})},
       {"raw rows one byte past", Bytes(raw.begin(), raw.end() - 1), {}, RASTER_ERR_READ},
       {"coded rows ending at the file's end", runs, GreyToRgb({7, 7, 8, 8})},
       {"coded rows one byte past", Bytes(runs.begin(), runs.end() - 1), {}, RASTER_ERR_READ}});
}

}  // namespace
