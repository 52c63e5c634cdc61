// PCX files: files of Pillow, ImageMagick and netpbm (one plane and
// several) read with the pixels they were made from, and hand-made headers
// and runs read or refused as they should be.
#include <gtest/gtest.h>

#include "image/pcx.h"
#include "raster_test_util.h"

namespace {

using namespace tsltest;

TEST(PcxRead, FilesOfPillowImageMagickAndNetpbm) {
  const std::string pil = ".save(%o, 'PCX')";
  // Pillow writes 1-bit files whose header map is all black; netpbm writes
  // up to 16 colours as 1-bit planes unless packed; ImageMagick writes RGB
  // as three 8-bit planes. Rows of 19 pixels have odd byte counts.
  ExpectToolFilesRead(ReadPCX, {{Pillow(".convert('1', dither=0)" + pil), 2, 1},
                                {Pillow(".quantize(256)" + pil), 40, 8},
                                {std::string(kConvert) + " %i pcx:%o", 1u << 24, 24},
                                {"ppmtopcx %i > %o", 16, 4},
                                {"ppmtopcx %i > %o", 2, 1}});
}

// A header for w x h pixels and `body`; the header map is (i, 2i, 3i) for
// entry i.
Bytes Pcx(uint8_t version, uint8_t bpp, uint8_t planes, uint16_t w, uint16_t h, uint16_t line,
          Bytes body, uint16_t palette_info = 1) {
  Bytes f(128);
  f[0] = 10, f[1] = version, f[2] = 1, f[3] = bpp;
  f[8] = uint8_t(w - 1), f[9] = uint8_t((w - 1) >> 8), f[10] = uint8_t(h - 1);
  f[11] = uint8_t((h - 1) >> 8);
  for (int i = 0; i < 48; ++i) f[16 + i] = uint8_t(i / 3 * (i % 3 + 1));
  f[65] = planes, f[66] = uint8_t(line), f[67] = uint8_t(line >> 8);
  f[68] = uint8_t(palette_info);
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

Bytes WithEndPalette(Bytes f, uint8_t marker = 12) {
  f.push_back(marker);
  for (int i = 0; i < 768; ++i) f.push_back(uint8_t(255 - i / 3));
  return f;
}

TEST(PcxRead, HandMadeRunsPalettesAndPlanes) {
  const Bytes w = {255, 255, 255}, k = {0, 0, 0};
  // 0xC5 0x07: five bytes of 7; 0xC0: a run of nothing; a run past the row
  // is cut there.
  const Bytes runs{0xC5, 7, 0xC0, 9, 0xC3, 1};
  const Bytes e7 = {248, 248, 248}, e1 = {254, 254, 254};  // end palette
  const Bytes one_bit{0xA0, 0x00};  // pixels 1, 0, 1 of a 1-bit row
  const Bytes one = Pcx(5, 8, 1, 1, 1, 1, {3});
  const int kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION;
  const Bytes good = WithEndPalette(Pcx(5, 8, 1, 6, 1, 6, runs));
  ExpectEveryTruncationFails(good, ReadPCXMemory);
  ExpectHandMadeFiles(
      ReadPCXMemory,
      {{"runs", good, Cat({e7, e7, e7, e7, e7, e1})},
       {"version 3: black palette", Pcx(3, 8, 1, 1, 1, 2, {0xC2, 7}), k},
       {"1 bit, no palette information", Pcx(5, 1, 1, 3, 1, 2, one_bit, 0), Cat({w, k, w})},
       {"1 bit, header colours", Pcx(5, 1, 1, 3, 1, 2, one_bit, 1), Cat({{1, 2, 3}, k, {1, 2, 3}})},
       {"4 bits", Pcx(5, 4, 1, 3, 1, 2, {0x21, 0xA0}), Cat({{2, 4, 6}, {1, 2, 3}, {10, 20, 30}})},
       {"marker not 12", WithEndPalette(one, 11), {}, kUnsupported},
       {"2 bits", Pcx(5, 2, 1, 1, 1, 1, {0}), {}, RASTER_ERR_INVALID_BPP},
       {"8 bits, 4 planes", Pcx(5, 8, 4, 1, 1, 1, {1, 2, 3, 4}), {}, kUnsupported},
       {"not run-length encoded", Patched(one, 2, {0}), {}, kUnsupported},
       {"manufacturer 11", Patched(one, 0, {11}), {}, kUnsupported},
       {"line too short", Pcx(5, 8, 1, 3, 1, 2, {1, 2}), {}, RASTER_ERR_CORRUPT_FILE},
       {"Ymax one below Ymin", Patched(one, 6, {1}), {}, RASTER_ERR_INVALID_SIZE},
       {"65535 squared, no data", Pcx(5, 8, 1, 65535, 65535, 65535, {0xC1, 1}), {},
        RASTER_ERR_READ}});
}

// A run is cut at the end of its line, never carried into the next; 1-bit
// pictures of up to 4 planes are indices of up to 4 bits, 5 planes are
// refused.
TEST(PcxRead, RunsCutAtTheLineEndAndBitPlanes) {
  const Bytes e1 = {254, 254, 254}, e2 = {253, 253, 253}, e3 = {252, 252, 252};
  // Plane p holds bit p: pixel 0 is 9, pixel 1 is 2, pixel 2 is 4, pixel 3 is 8.
  const Bytes planes{0x80, 0x40, 0x20, 0x90};
  ExpectHandMadeFiles(
      ReadPCXMemory,
      {{"runs one past and up to the line end",
        WithEndPalette(Pcx(5, 8, 1, 3, 3, 3, {0xC4, 1, 0xC3, 2, 0xC1, 3, 0xC2, 1})),
        Cat({e1, e1, e1, e2, e2, e2, e3, e1, e1})},
       {"longest run into a line of one byte",
        WithEndPalette(Pcx(5, 8, 1, 1, 2, 1, {0xFF, 1, 0xC1, 2})), Cat({e1, e2})},
       {"4 planes", Pcx(5, 1, 4, 5, 1, 1, planes),
        Cat({{9, 18, 27}, {2, 4, 6}, {4, 8, 12}, {8, 16, 24}, {0, 0, 0}})},
       {"5 planes", Pcx(5, 1, 5, 5, 1, 1, Cat({planes, {0}})), {}, RASTER_ERR_UNSUPPORTED_OPTION}});
}

// No byte decodes to more than 63 bytes: rows that the data left could not
// fill are refused before the record is allocated. A picture too large for
// the record shows which check refused it.
TEST(PcxRead, DataTooShortToFillTheRowsRefusedBeforeAllocation) {
  const uint32_t height = 32769, least = (65535 + 62) / 63;  // bytes per row at best
  Bytes f = Pcx(3, 8, 1, 65535, uint16_t(height), 65535, {});
  f.resize(f.size() + size_t{height} * least);
  Record r;
  ExpectRefused(ReadPCXMemory(f.data(), f.size(), &r), r, RASTER_ERR_INVALID_SIZE);
  f.pop_back();
  ExpectRefused(ReadPCXMemory(f.data(), f.size(), &r), r, RASTER_ERR_READ);
}

}  // namespace
