// Helpers shared by the raster format tests: records from pixels, records as
// top-first RGB for comparison, outside tools writing and decoding files.
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

inline void MakeRecord(Record &r, uint32_t w, uint32_t h, unsigned bpp, uint16_t palette_size = 0) {
  r->width = w, r->height = h, r->palette_size = palette_size;
  r->bits_per_pixel = static_cast<uint8_t>(bpp);
  ASSERT_EQ(tsl::AllocateRasterImage(&r), tsl::RASTER_OK);
}

inline Bytes RandomBytes(size_t n, uint64_t seed, uint32_t below = 256) {
  Rng rng(seed);
  Bytes b(n);
  for (auto &v : b) v = static_cast<uint8_t>(rng.Below(below));
  return b;
}

// Random pixels and, at 8 bits or fewer, a random colour (or, with `grey`,
// grey but not ramp) palette with zero reserved bytes.
inline void RandomRecord(Record &r, uint32_t w, uint32_t h, unsigned bpp, uint64_t seed,
                         bool grey = false) {
  MakeRecord(r, w, h, bpp);
  Bytes px = RandomBytes(static_cast<size_t>(r->scan_width) * h, seed);
  std::memcpy(r->bits, px.data(), px.size());
  const unsigned step = r->bytes_per_palette_entry;
  Bytes pal = RandomBytes(static_cast<size_t>(r->palette_size) * step, seed + 1);
  for (unsigned i = 0; i < r->palette_size; ++i) {
    uint8_t *e = r->palette + step * i;
    std::memcpy(e, &pal[step * i], step);
    if (grey) e[1] = e[2] = e[0];
    if (step == 4) e[3] = 0;
  }
}

// Interleaved top-first RGB (or RGBA when `alpha` and the record has 32
// bits) of any record, through the palette conversion.
inline Bytes TopFirstRgb(const tsl::RasterImage &src, bool alpha = false) {
  Record rgb;
  EXPECT_EQ(tsl::ConvertPaletteToRGB(src, &rgb), tsl::RASTER_OK);
  const unsigned step = rgb->bits_per_pixel / 8;
  Bytes pixels;
  for (uint32_t y = rgb->height; y-- > 0;)
    for (uint32_t x = 0; x < rgb->width; ++x) {
      const uint8_t *p = rgb.Row(y) + static_cast<size_t>(x) * step;
      pixels.insert(pixels.end(), {p[2], p[1], p[0]});
      if (alpha && step == 4) pixels.push_back(p[3]);
    }
  return pixels;
}

inline Bytes GreyToRgb(const Bytes &grey) {
  Bytes rgb;
  for (uint8_t v : grey) rgb.insert(rgb.end(), {v, v, v});
  return rgb;
}

// `n` RGB pixels drawn from at most `colours` colours.
inline Bytes FewColours(size_t n, uint32_t colours, uint64_t seed) {
  Rng rng(seed);
  Bytes rgb;
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = rng.Below(colours) * 2654435761u;
    rgb.insert(rgb.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
  }
  return rgb;
}

inline std::string Quote(const std::string &s) { return "'" + s + "'"; }

// Runs a shell command that must succeed.
inline void RunOk(const std::string &command) {
  ASSERT_EQ(Run(command + " 2>/dev/null"), 0) << command;
}

// Has Pillow build an image of `mode` from raw bytes and save it with the
// given save() arguments. Mode "P" gets a colour table with no greys.
inline void PillowWrite(const std::string &path, const char *mode, uint32_t w, uint32_t h,
                        const Bytes &raw, const std::string &save_args = "") {
  TempDir dir;
  WriteFile(dir.File("raw"), raw);
  std::string script = "from PIL import Image\nim = Image.frombytes('" + std::string(mode) +
                       "', (" + std::to_string(w) + ", " + std::to_string(h) + "), open(" +
                       Quote(dir.File("raw")) + ", 'rb').read())\n"
                       "if im.mode == 'P':\n"
                       "    im.putpalette([v % 256 for i in range(256) for v in (i * 37, i * 91, 255 - i)])\n"
                       "im.save(" + Quote(path) + (save_args.empty() ? "" : ", " + save_args) + ")\n";
  ASSERT_EQ(RunPython(script), 0) << script;
}

// Pillow's decoding of a file as interleaved top-first RGB (or RGBA).
inline Bytes PillowPixels(const std::string &path, bool alpha = false) {
  std::string out;
  EXPECT_EQ(RunPython("import sys\nfrom PIL import Image\nsys.stdout.buffer.write(Image.open(" +
                      Quote(path) + ").convert('" + (alpha ? "RGBA" : "RGB") + "').tobytes())\n",
                      &out), 0) << path;
  return Bytes(out.begin(), out.end());
}

// A netpbm decoder's output (P5/P6) as interleaved RGB.
inline Bytes NetpbmPixels(const std::string &command) {
  TempDir dir;
  int w = 0, h = 0, channels = 0;
  Bytes px;
  EXPECT_EQ(Run(command + " > " + Quote(dir.File("o.pnm")) + " 2>/dev/null"), 0) << command;
  EXPECT_TRUE(ReadPnm(dir.File("o.pnm"), &w, &h, &channels, &px)) << command;
  return channels == 1 ? GreyToRgb(px) : px;
}

// Writes random records of each depth through `write` (widths 1, 6 and 17,
// packed and padded rows, colour and grey palettes) and expects our `read`,
// Pillow and the netpbm `decoder` to see the same picture. Alpha is compared
// when the format keeps it; `pillow_skip` and `netpbm_skip` name a depth the
// outside reader does not take.
template <typename Write, typename Read>
void ExpectWrittenFilesReadAlike(Write write, Read read, const std::string &ext,
                                 const std::string &decoder, std::initializer_list<unsigned> depths,
                                 bool alpha, unsigned pillow_skip = 0, unsigned netpbm_skip = 0) {
  TempDir dir;
  const std::string path = dir.File("o." + ext);
  for (unsigned bpp : depths)
    for (uint32_t w : {1u, 6u, 17u})
      for (bool grey : {false, true}) {
        if (grey && (bpp > 8 || w != 6)) continue;
        SCOPED_TRACE(std::to_string(bpp) + " bits, width " + std::to_string(w) + (grey ? " grey" : ""));
        Record r(w & 1), back;
        RandomRecord(r, w, 3, bpp, bpp * 100 + w, grey);
        ASSERT_EQ(write(path.c_str(), r.img), tsl::RASTER_OK);
        const Bytes expect = TopFirstRgb(r.img, alpha);
        ASSERT_EQ(read(path.c_str(), &back), tsl::RASTER_OK);
        EXPECT_EQ(TopFirstRgb(back.img, alpha), expect);
        if (bpp != pillow_skip) { EXPECT_EQ(PillowPixels(path, alpha && bpp == 32), expect); }
        if (bpp != netpbm_skip) { EXPECT_EQ(NetpbmPixels(decoder + " " + Quote(path)), TopFirstRgb(r.img)); }
      }
}

// A refused read leaves the code as last error and the record empty.
#define EXPECT_REFUSED(call, record, code_expected)          \
  do {                                                       \
    int code_ = (call);                                      \
    EXPECT_EQ(code_, code_expected);                         \
    EXPECT_EQ(tsl::GetLastRasterError(), code_);             \
    EXPECT_EQ((record)->bits, nullptr);                      \
    EXPECT_EQ((record)->palette, nullptr);                   \
  } while (0)

// Every prefix of a valid file must fail cleanly with an empty record.
template <typename Reader>
void ExpectEveryTruncationFails(const Bytes &file, Reader read) {
  for (size_t n = 0; n < file.size(); ++n) {
    SCOPED_TRACE("prefix of " + std::to_string(n) + " bytes");
    Record r;
    int code = read(file.data(), n, &r);
    ASSERT_NE(code, tsl::RASTER_OK);
    EXPECT_REFUSED(code, r, code);
  }
}

}  // namespace tsltest

#endif
