// Helpers shared by the raster format tests: records from pixels, records as
// top-first RGB for comparison, outside tools writing and decoding files.
#ifndef TESSALY_TESTS_RASTER_TEST_UTIL_H
#define TESSALY_TESTS_RASTER_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "image/raster_image.h"
#include "support/test_support.h"

namespace tsltest {

// Owns a record for the length of a test.
struct Record {
  tsl::RasterImage img;
  explicit Record(int32_t layout = 1) { tsl::InitRasterImage(&img), img.bmp_layout = layout; }
  ~Record() { tsl::FreeRasterImage(&img); }
  Record(const Record &) = delete;
  tsl::RasterImage *operator&() { return &img; }
  tsl::RasterImage *operator->() { return &img; }
  uint8_t *Row(uint32_t y) { return img.bits + static_cast<size_t>(y) * img.scan_width; }
};

inline void MakeRecord(Record &r, uint32_t w, uint32_t h, unsigned bpp, uint16_t palette_size = 0) {
  r->width = w, r->height = h, r->palette_size = palette_size;
  r->bits_per_pixel = static_cast<uint8_t>(bpp);
  ASSERT_EQ(tsl::AllocateRasterImage(&r), tsl::RASTER_OK);
}

inline Bytes RandomBytes(size_t n, uint64_t seed) {
  Rng rng(seed);
  Bytes b(n);
  for (auto &v : b) v = static_cast<uint8_t>(rng.Next());
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

inline std::string Quote(const std::string &s) { return "'" + s + "'"; }

inline void RunOk(const std::string &cmd) { ASSERT_EQ(Run(cmd + " 2>/dev/null"), 0) << cmd; }

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

// Files Pillow saves from pixels of each mode ("P" with a colour table) with
// each set of save() arguments read, packed or padded, as Pillow decodes them.
struct PillowMode { const char *mode; unsigned channels, bpp; };
template <typename Read>
void ExpectPillowFilesRead(Read read, const std::string &ext,
                           std::initializer_list<PillowMode> modes,
                           std::initializer_list<const char *> save_args = {"format=None"}) {
  TempDir dir;
  const std::string path = dir.File("p." + ext);
  for (const PillowMode &m : modes)
    for (const char *args : save_args)
      for (uint32_t w : {1u, 10u, 37u}) {
        SCOPED_TRACE(std::string(m.mode) + " " + args + " width " + std::to_string(w));
        const uint32_t h = w / 4 + 2;
        // Runs of equal pixels as well as noise, so both packet kinds occur.
        Bytes raw = RandomBytes(m.bpp == 1 ? (w + 7) / 8 * h : m.channels * w * h, w + m.bpp);
        for (size_t i = 0; i < raw.size() / 2; ++i) raw[i] = static_cast<uint8_t>(i / 29);
        WriteFile(dir.File("raw"), raw);
        const std::string script =
            "from PIL import Image\nim = Image.frombytes('" + std::string(m.mode) + "', (" +
            std::to_string(w) + ", " + std::to_string(h) + "), open(" + Quote(dir.File("raw")) +
            ", 'rb').read())\nif im.mode == 'P':\n    im.putpalette([v % 256 for i in range(256) "
            "for v in (i * 37, i * 91, 255 - i)])\nim.save(" + Quote(path) + ", " + args + ")\n";
        ASSERT_EQ(RunPython(script), 0) << script;
        const Bytes expect = PillowPixels(path, m.channels == 4);
        for (int layout : {0, 1}) {
          Record r(layout);
          ASSERT_EQ(read(path.c_str(), &r), tsl::RASTER_OK);
          EXPECT_EQ(r->bits_per_pixel, m.bpp);
          EXPECT_EQ(TopFirstRgb(r.img, true), expect);
        }
      }
}

// Files a command makes from a PGM (`colours` 0) or PPM (of that many
// colours) %i into %o read with those pixels at depth `bpp`.
struct ToolCase { std::string command; uint32_t colours; unsigned bpp; };
template <typename Read>
void ExpectToolFilesRead(Read read, std::initializer_list<ToolCase> cases) {
  TempDir dir;
  const uint32_t w = 19, h = 6;
  for (const ToolCase &c : cases) {
    SCOPED_TRACE(c.command);
    // Colours from a set of `colours`; runs of 8 in the first half, noise after.
    Rng rng(c.bpp);
    Bytes px;
    for (uint32_t k = 0, v = 0; k < w * h; ++k) {
      if (k % 8 == 0 || k >= w * h / 2) v = rng.Below(c.colours ? c.colours : 256) * 2654435761u;
      if (c.colours) px.insert(px.end(), {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
      else px.push_back(static_cast<uint8_t>(v >> 24));
    }
    const std::string in = dir.File("in.pnm"), out = dir.File("out");
    (c.colours ? WritePpmInterleaved : WritePgm)(in, px.data(), w, h);
    std::string command = c.command;
    command.replace(command.find("%i"), 2, Quote(in));
    command.replace(command.find("%o"), 2, Quote(out));
    RunOk(command);
    Record r;
    ASSERT_EQ(read(out.c_str(), &r), tsl::RASTER_OK);
    EXPECT_EQ(r->bits_per_pixel, c.bpp);
    EXPECT_EQ(TopFirstRgb(r.img), c.colours ? px : GreyToRgb(px));
  }
}

// Random records of each depth written by `write` (packed and padded rows,
// colour and grey palettes) look the same to our `read`, Pillow and the
// netpbm `decoder`, except at the depth each skips; alpha compared if kept.
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
        SCOPED_TRACE(std::to_string(bpp) + " bits, w " + std::to_string(w) + (grey ? " grey" : ""));
        Record r(w & 1), back;
        RandomRecord(r, w, 3, bpp, bpp * 100 + w, grey);
        ASSERT_EQ(write(path.c_str(), r.img), tsl::RASTER_OK);
        const Bytes expect = TopFirstRgb(r.img, alpha), expect3 = TopFirstRgb(r.img);
        ASSERT_EQ(read(path.c_str(), &back), tsl::RASTER_OK);
        EXPECT_EQ(TopFirstRgb(back.img, alpha), expect);
        if (bpp != pillow_skip) { EXPECT_EQ(PillowPixels(path, alpha && bpp == 32), expect); }
        if (bpp != netpbm_skip) { EXPECT_EQ(NetpbmPixels(decoder + " " + Quote(path)), expect3); }
      }
}

// A writer refuses sides above 65535 before creating the file.
template <typename Write>
void ExpectSidesLimitedTo16Bits(Write write) {
  TempDir dir;
  const std::string path = dir.File("big");
  for (bool wide : {true, false}) {
    Record big(0), ok(0);
    MakeRecord(big, wide ? 65536 : 1, wide ? 1 : 65536, 8);
    EXPECT_EQ(write(path.c_str(), big.img), tsl::RASTER_ERR_INVALID_SIZE);
    EXPECT_EQ(tsl::GetLastRasterError(), tsl::RASTER_ERR_INVALID_SIZE);
    EXPECT_FALSE(std::ifstream(path).good()) << "no file is created";
    MakeRecord(ok, wide ? 65535 : 1, wide ? 1 : 65535, 24);
    EXPECT_EQ(write(path.c_str(), ok.img), tsl::RASTER_OK);
    std::remove(path.c_str());
  }
}

// A refused call leaves its code as last error and the record empty.
inline void ExpectRefused(int code, const Record &r, int expected) {
  EXPECT_EQ(code, expected);
  EXPECT_EQ(tsl::GetLastRasterError(), code);
  EXPECT_TRUE(r.img.bits == nullptr && r.img.palette == nullptr);
}

// Every prefix of a valid file must fail cleanly with an empty record.
template <typename Reader>
void ExpectEveryTruncationFails(const Bytes &file, Reader read) {
  for (size_t n = 0; n < file.size(); ++n) {
    Record r;
    const int code = read(file.data(), n, &r);
    ASSERT_NE(code, tsl::RASTER_OK) << "prefix of " << n << " bytes";
    ExpectRefused(code, r, code);
  }
}

}  // namespace tsltest

#endif
