// Helpers shared by the raster format tests: building records from pixels,
// turning records into top-first RGB for comparison, and having Pillow write
// and decode files.
#ifndef TESSALY_TESTS_RASTER_TEST_UTIL_H
#define TESSALY_TESTS_RASTER_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "image/raster_image.h"
#include "support/test_support.h"

namespace tsltest {

// Owns a record for the length of a test.
struct Record {
  tsl::RasterImage img;
  explicit Record(int32_t bmp_layout = 1) {
    tsl::InitRasterImage(&img);
    img.bmp_layout = bmp_layout;
  }
  ~Record() { tsl::FreeRasterImage(&img); }
  Record(const Record &) = delete;
  Record &operator=(const Record &) = delete;
  tsl::RasterImage *operator&() { return &img; }
  tsl::RasterImage *operator->() { return &img; }
  uint8_t *Row(uint32_t y) { return img.bits + static_cast<size_t>(y) * img.scan_width; }
};

// A record of the given depth, allocated; `layout` as bmp_layout.
inline void MakeRecord(Record &r, uint32_t w, uint32_t h, unsigned bpp, uint16_t palette_size = 0) {
  r->width = w;
  r->height = h;
  r->bits_per_pixel = static_cast<uint8_t>(bpp);
  r->palette_size = palette_size;
  ASSERT_EQ(tsl::AllocateRasterImage(&r), tsl::RASTER_OK);
}

// A 24- or 32-bit record from interleaved top-first RGB(A) pixels.
inline void RecordFromRgb(Record &r, const Bytes &rgb, uint32_t w, uint32_t h, unsigned channels) {
  MakeRecord(r, w, h, 8 * channels);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t *s = &rgb[(static_cast<size_t>(y) * w + x) * channels];
      uint8_t *d = r.Row(h - 1 - y) + static_cast<size_t>(x) * channels;
      d[0] = s[2], d[1] = s[1], d[2] = s[0];
      if (channels == 4) d[3] = s[3];
    }
}

// Interleaved top-first RGB (or RGBA when `alpha` and the record has 32
// bits) of any record, through the palette conversion.
inline Bytes TopFirstRgb(const tsl::RasterImage &src, bool alpha = false) {
  Record rgb;
  EXPECT_EQ(tsl::ConvertPaletteToRGB(src, &rgb), tsl::RASTER_OK);
  const unsigned step = rgb->bits_per_pixel / 8, out = alpha && step == 4 ? 4 : 3;
  Bytes pixels;
  for (uint32_t y = 0; y < rgb->height; ++y)
    for (uint32_t x = 0; x < rgb->width; ++x) {
      const uint8_t *p = rgb.Row(rgb->height - 1 - y) + static_cast<size_t>(x) * step;
      pixels.insert(pixels.end(), {p[2], p[1], p[0]});
      if (out == 4) pixels.push_back(p[3]);
    }
  return pixels;
}

inline Bytes RandomBytes(size_t n, uint64_t seed, uint32_t below = 256) {
  Rng rng(seed);
  Bytes b(n);
  for (auto &v : b) v = static_cast<uint8_t>(rng.Below(below));
  return b;
}

inline std::string Quote(const std::string &s) { return "'" + s + "'"; }

// Has Pillow build an image of `mode` from raw bytes and save it with the
// given save() arguments. For mode "P" the palette is a grey-free colour
// table: entry i = (i*37, i*91, 255-i) mod 256.
inline void PillowWrite(const std::string &path, const char *mode, uint32_t w, uint32_t h,
                        const Bytes &raw, const std::string &save_args = "") {
  TempDir dir;
  WriteFile(dir.File("raw"), raw);
  std::string script =
      "from PIL import Image\n"
      "data = open(" + Quote(dir.File("raw")) + ", 'rb').read()\n"
      "im = Image.frombytes('" + std::string(mode) + "', (" + std::to_string(w) + ", " +
      std::to_string(h) + "), data)\n"
      "if im.mode == 'P':\n"
      "    im.putpalette([v % 256 for i in range(256) for v in (i * 37, i * 91, 255 - i)])\n"
      "im.save(" + Quote(path) + (save_args.empty() ? "" : ", " + save_args) + ")\n";
  ASSERT_EQ(RunPython(script), 0) << script;
}

// Pillow's decoding of a file as interleaved top-first RGB (or RGBA).
inline Bytes PillowPixels(const std::string &path, bool alpha = false) {
  std::string out;
  std::string script = "import sys\nfrom PIL import Image\nim = Image.open(" + Quote(path) +
                       ")\nsys.stdout.buffer.write(im.convert('" + (alpha ? "RGBA" : "RGB") +
                       "').tobytes())\n";
  EXPECT_EQ(RunPython(script, &out), 0) << path;
  return Bytes(out.begin(), out.end());
}

// A netpbm decoder's output (P5/P6) as interleaved RGB.
inline Bytes NetpbmPixels(const std::string &command) {
  TempDir dir;
  std::string pnm = dir.File("out.pnm");
  EXPECT_EQ(Run(command + " > " + Quote(pnm) + " 2>/dev/null"), 0) << command;
  int w = 0, h = 0, channels = 0;
  Bytes px;
  EXPECT_TRUE(ReadPnm(pnm, &w, &h, &channels, &px)) << command;
  if (channels == 1) {
    Bytes rgb;
    for (uint8_t v : px) rgb.insert(rgb.end(), {v, v, v});
    return rgb;
  }
  return px;
}

// Every prefix of a valid file must fail cleanly with an empty record.
template <typename Reader>
void ExpectEveryTruncationFails(const Bytes &file, Reader read) {
  for (size_t n = 0; n < file.size(); ++n) {
    Record r;
    int code = read(file.data(), n, &r);
    ASSERT_NE(code, tsl::RASTER_OK) << "prefix of " << n << " bytes";
    EXPECT_EQ(tsl::GetLastRasterError(), code);
    EXPECT_EQ(r->bits, nullptr);
    EXPECT_EQ(r->palette, nullptr);
  }
}

}  // namespace tsltest

#endif
