// Helpers shared by the raster format tests: records, records as top-first
// RGB for comparison, hand-made files, and outside tools writing and
// decoding files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "image/raster_image.h"
#include "support/test_support.h"

namespace tsltest {
using namespace tsl;

// Owns a record for the length of a test.
struct Record {
  RasterImage img;
  explicit Record(int32_t layout = 1) { InitRasterImage(&img), img.bmp_layout = layout; }
  ~Record() { FreeRasterImage(&img); }
  Record(const Record &) = delete;
  RasterImage *operator&() { return &img; }
  RasterImage *operator->() { return &img; }
  uint8_t *Row(uint32_t y) { return img.bits + static_cast<size_t>(y) * img.scan_width; }
};

inline void MakeRecord(Record &r, uint32_t w, uint32_t h, unsigned bpp, uint16_t palette_size = 0) {
  r->width = w, r->height = h, r->palette_size = palette_size;
  r->bits_per_pixel = static_cast<uint8_t>(bpp);
  ASSERT_EQ(AllocateRasterImage(&r), RASTER_OK);
}

// Random pixels and, at 8 bits or fewer, a random colour (or, with `grey`,
// grey but not ramp) palette with zero reserved bytes.
inline void RandomRecord(Record &r, uint32_t w, uint32_t h, unsigned bpp, bool grey = false) {
  MakeRecord(r, w, h, bpp);
  Rng rng(bpp * 100 + w);
  for (size_t i = 0; i < size_t{r->scan_width} * h; ++i) r->bits[i] = uint8_t(rng.Next() >> 7);
  const unsigned step = r->bytes_per_palette_entry;
  for (uint8_t *e = r->palette; e < r->palette + size_t{step} * r->palette_size; e += step)
    for (unsigned c = 0; c < step; ++c) e[c] = c == 3 ? 0 : grey && c ? e[0] : uint8_t(rng.Next());
}

// Interleaved top-first RGB (or RGBA when `alpha` and the record has 32
// bits) of any record, through the palette conversion.
inline Bytes TopFirstRgb(const RasterImage &src, bool alpha = false) {
  Record rgb;
  EXPECT_EQ(ConvertPaletteToRGB(src, &rgb), RASTER_OK);
  const unsigned step = rgb->bits_per_pixel / 8;
  Bytes pixels;
  for (uint32_t y = rgb->height; y-- > 0;)
    for (const uint8_t *p = rgb.Row(y); p < rgb.Row(y) + size_t{step} * rgb->width; p += step) {
      pixels.insert(pixels.end(), {p[2], p[1], p[0]});
      if (alpha && step == 4) pixels.push_back(p[3]);
    }
  return pixels;
}

// Byte strings joined; integers of `bytes` bytes appended in either order;
// a copy with `bytes` written over it from `at`: for hand-made files.
inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes &p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
inline void PutBe(Bytes &b, uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
inline void PutLe(Bytes &b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
inline Bytes Patched(Bytes f, size_t at, const Bytes &bytes) {
  std::copy(bytes.begin(), bytes.end(), f.begin() + at);
  return f;
}

inline Bytes GreyToRgb(const Bytes &grey) {
  Bytes rgb(grey.size() * 3);
  for (size_t i = 0; i < grey.size(); ++i) rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = grey[i];
  return rgb;
}
inline std::string Quote(const std::string &s) { return "'" + s + "'"; }

// Pillow's decoding of a file as interleaved top-first RGB (or RGBA).
inline Bytes PillowPixels(const std::string &path, bool alpha = false) {
  std::string out;  // empty when Pillow cannot read it
  RunPython("import sys\nfrom PIL import Image\nsys.stdout.buffer.write(Image.open(" + Quote(path) +
            ").convert('" + (alpha ? "RGBA" : "RGB") + "').tobytes())\n", &out);
  return Bytes(out.begin(), out.end());
}

// `file`, written to `path`, reads from memory with `read` in both row
// layouts as Pillow reads it (RGBA with `alpha`, for 32-bit records).
template <typename Read>
void ExpectReadAsPillowReadsIt(Read read, const std::string &path, const Bytes &file,
                               bool alpha = false) {
  WriteFile(path, file);
  const Bytes pillow = PillowPixels(path, alpha);
  ASSERT_FALSE(pillow.empty());
  for (int layout : {0, 1}) {
    Record r(layout);
    ASSERT_EQ(read(file.data(), file.size(), &r), RASTER_OK);
    EXPECT_EQ(TopFirstRgb(r.img, alpha), pillow);
  }
}

// A command that has Pillow open %i and then, as `rest` says, write %o.
inline std::string Pillow(const std::string &rest) {
  return std::string(kPython) + " -c \"from PIL import Image; Image.open(%i)" + rest + "\"";
}

// Runs a tool's command with %i and %o standing for the two files; its
// messages are dropped.
inline int RunTool(std::string command, const std::string &in, const std::string &out) {
  for (size_t at; (at = command.find("%i")) != std::string::npos;)
    command.replace(at, 2, Quote(in));
  for (size_t at; (at = command.find("%o")) != std::string::npos;)
    command.replace(at, 2, Quote(out));
  return Run("(" + command + ") 2>/dev/null");
}

// Files a command makes from a PGM (`colours` 0) or PPM (of that many
// colours, black and white for 2) %i into %o read at depth `bpp`, in both
// row layouts, with the pixels they were made from; for a `lossy` command
// (one that changes pixels), with the pixels Pillow decodes.
struct ToolCase { std::string command; uint32_t colours; unsigned bpp; bool lossy = false; };
template <typename Read>
void ExpectToolFilesRead(Read read, std::initializer_list<ToolCase> cases) {
  TempDir dir;
  const std::string in = dir.File("in.pnm"), out = dir.File("out");
  for (const ToolCase &c : cases)
    for (uint32_t w : {1u, 19u}) {  // 19: odd row bytes, partial blocks
      SCOPED_TRACE(c.command + " width " + std::to_string(w));
      const std::string prog = c.command.substr(0, c.command.find(' '));
      if (!NeedTool(prog)) GTEST_SKIP() << prog << " missing";
      if (c.lossy && !NeedPillow()) GTEST_SKIP() << "Pillow missing";
      // Runs of 8 in the first half, so both packet kinds occur; noise after.
      const uint32_t h = 6, n = c.colours ? c.colours : 256;
      Rng rng(c.bpp + w);
      Bytes px;
      for (uint32_t k = 0, v = 0; k < w * h; ++k) {
        if (k % 8 == 0 || 2 * k >= w * h) v = rng.Below(n) * (n == 2 ? ~0u : 2654435761u);
        if (c.colours) px.insert(px.end(), {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
        else px.push_back(static_cast<uint8_t>(v >> 24));
      }
      (c.colours ? WritePpmInterleaved : WritePgm)(in, px.data(), w, h);
      ASSERT_EQ(RunTool(c.command, in, out), 0) << c.command;
      const Bytes expect = c.lossy ? PillowPixels(out) : c.colours ? px : GreyToRgb(px);
      for (int layout : {0, 1}) {
        Record r(layout);
        ASSERT_EQ(read(out.c_str(), &r), RASTER_OK);
        EXPECT_EQ(r->bits_per_pixel, c.bpp);
        EXPECT_EQ(TopFirstRgb(r.img), expect);
      }
    }
}

// A ridge picture of w x h as interleaved RGB (three phases, so every
// channel varies), or grey with `grey`.
inline Bytes RidgePicture(uint32_t w, uint32_t h, bool grey) {
  if (grey) return RidgeImage(int(w), int(h));
  Bytes rgb(size_t{w} * h * 3);
  for (int c = 0; c < 3; ++c) {
    const Bytes plane = RidgeImage(int(w), int(h), 1 + c);
    for (size_t i = 0; i < plane.size(); ++i) rgb[3 * i + c] = plane[i];
  }
  return rgb;
}

// Random records of each depth written by `write` (packed and padded rows,
// colour and grey palettes) look the same to our `read`, Pillow and the
// netpbm `decoder`, except at the depth each skips; alpha compared if kept.
template <typename Write, typename Read>
void ExpectWrittenFilesReadAlike(Write write, Read read, const std::string &ext,
                                 const std::string &decoder, std::initializer_list<unsigned> depths,
                                 bool alpha, unsigned pillow_skip = 0, unsigned netpbm_skip = 0) {
  if (!NeedPillow() || !NeedTool(decoder)) GTEST_SKIP() << decoder << " or Pillow missing";
  TempDir dir;
  const std::string path = dir.File("o." + ext), pnm = dir.File("o.pnm");
  for (unsigned bpp : depths)
    for (uint32_t w : {1u, 6u, 17u})
      for (bool grey : {false, true}) {
        if (grey && (bpp > 8 || w != 6)) continue;
        SCOPED_TRACE(std::to_string(bpp) + " bits, w " + std::to_string(w) + (grey ? " grey" : ""));
        Record r(w & 1), back;
        RandomRecord(r, w, 3, bpp, grey);
        ASSERT_EQ(write(path.c_str(), r.img), RASTER_OK);
        const Bytes expect = TopFirstRgb(r.img, alpha), expect3 = TopFirstRgb(r.img);
        ASSERT_EQ(read(path.c_str(), &back), RASTER_OK);
        EXPECT_EQ(TopFirstRgb(back.img, alpha), expect);
        if (bpp != pillow_skip) { EXPECT_EQ(PillowPixels(path, alpha && bpp == 32), expect); }
        if (bpp == netpbm_skip) continue;
        ASSERT_EQ(Run(decoder + " " + Quote(path) + " > " + Quote(pnm) + " 2>/dev/null"), 0);
        EXPECT_EQ(PillowPixels(pnm), expect3) << "as " << decoder << " decodes it";
      }
}

// A writer refuses sides above 65535 before creating the file.
template <typename Write>
void ExpectSidesLimitedTo16Bits(Write write) {
  TempDir dir;
  for (uint32_t side : {65535u, 65536u})
    for (bool wide : {true, false}) {
      const std::string path = dir.File(std::to_string(side) + (wide ? "w" : "h"));
      Record r(0);
      MakeRecord(r, wide ? side : 1, wide ? 1 : side, 8);
      EXPECT_EQ(write(path.c_str(), r.img), side > 65535 ? RASTER_ERR_INVALID_SIZE : RASTER_OK);
      EXPECT_EQ(std::ifstream(path).good(), side <= 65535) << "no file when refused";
    }
}

// A refused call leaves its code as last error and the record empty.
inline void ExpectRefused(int code, const Record &r, int expected) {
  EXPECT_EQ(code, expected);
  EXPECT_EQ(GetLastRasterError(), code);
  EXPECT_EQ(r.img.bits, nullptr);
  EXPECT_EQ(r.img.palette, nullptr);
}

// Hand-made files read from memory in both row layouts: with the top-first
// RGB (RGBA at 32 bits) they hold, or refused with `code`.
struct HandCase { const char *what; Bytes file; Bytes rgb; int code = RASTER_OK; };
template <typename Read>
void ExpectHandMadeFiles(Read read, std::initializer_list<HandCase> cases) {
  for (const HandCase &c : cases)
    for (int layout : {0, 1}) {
      SCOPED_TRACE(std::string(c.what) + (layout ? ", padded rows" : ", packed rows"));
      Record r(layout);
      const int code = read(c.file.data(), c.file.size(), &r);
      if (c.code != RASTER_OK) {
        ExpectRefused(code, r, c.code);
      } else {
        EXPECT_EQ(code, RASTER_OK);
        if (code == RASTER_OK) {
          EXPECT_EQ(TopFirstRgb(r.img, true), c.rgb);
        }
      }
    }
}

// Every prefix of a valid file must fail cleanly with an empty record.
template <typename Reader>
void ExpectEveryTruncationFails(const Bytes &file, Reader read) {
  for (size_t n = 0; n < file.size(); ++n) {
    Record r;
    const int code = read(file.data(), n, &r);
    ASSERT_NE(code, RASTER_OK) << "prefix of " << n << " bytes";
    ExpectRefused(code, r, code);
  }
}

}  // namespace tsltest
