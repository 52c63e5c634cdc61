// IFF ILBM pictures: netpbm's 8-plane files (odd colour counts, extra CAMG
// and CRNG chunks) read as ilbmtoppm reads them, other kinds refused, and
// hand-made chunks, maps and runs read or refused as they should be.
#include <gtest/gtest.h>

#include "image/iff.h"
#include "raster_test_util.h"

namespace {

using namespace tsltest;

void AddChunk(Bytes &b, const char *id, const Bytes &data) {
  b.insert(b.end(), id, id + 4);
  PutBe(b, uint32_t(data.size()), 4);
  b.insert(b.end(), data.begin(), data.end());
  if (data.size() & 1) b.push_back(0);
}
// A FORM holding `chunks`, its length counted.
Bytes Form(const Bytes &chunks) {
  Bytes f{'F', 'O', 'R', 'M'};
  PutBe(f, uint32_t(chunks.size() + 4), 4);
  f.insert(f.end(), {'I', 'L', 'B', 'M'});
  f.insert(f.end(), chunks.begin(), chunks.end());
  return f;
}
Bytes Bmhd(uint16_t w, uint16_t h, uint8_t planes, uint8_t masking, uint8_t compression,
           uint16_t transparent = 0) {
  Bytes b;
  PutBe(b, w, 2), PutBe(b, h, 2), PutBe(b, 0, 4);
  b.insert(b.end(), {planes, masking, compression, 0});
  PutBe(b, transparent, 2);
  b.insert(b.end(), {10, 10, 0, 0, 0, 0});
  return b;
}

// netpbm files: the 8-plane ones (195 colours make an odd CMAP) read as
// ilbmtoppm reads them, also with CAMG and CRNG chunks put in; fewer
// planes, uncompressed bodies and HAM refused.
TEST(IffRead, FilesOfNetpbm) {
  if (!NeedTool("ppmtoilbm") || !NeedTool("ilbmtoppm")) GTEST_SKIP() << "netpbm missing";
  TempDir dir;
  const std::string in = dir.File("in.ppm"), out = dir.File("o.iff"), back = dir.File("b.ppm");
  const struct { const char *options; uint32_t colours; bool extra; int code; } cases[] = {
      {"-fixplanes 8", 195, false, RASTER_OK},
      {"-fixplanes 8", 40, true, RASTER_OK},
      {"-fixplanes 8 -nocompress", 40, false, RASTER_ERR_UNSUPPORTED_OPTION},
      {"-fixplanes 6", 40, false, RASTER_ERR_UNSUPPORTED_OPTION},
      {"-ham8", 195, false, RASTER_ERR_UNSUPPORTED_OPTION}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.options) + " colours " + std::to_string(c.colours));
    const Bytes px = ColourPicture(19, 11, c.colours);
    WritePpmInterleaved(in, px.data(), 19, 11);
    ASSERT_EQ(tsltest::Run("ppmtoilbm " + std::string(c.options) + " " + Quote(in) + " > " +
                           Quote(out) + " 2>/dev/null"),
              0);
    if (c.extra) {  // a CAMG without HAM and a CRNG after the header chunk
      Bytes f = ReadFile(out), extra;
      AddChunk(extra, "CAMG", {0, 0, 0x80, 4});
      AddChunk(extra, "CRNG", {0, 0, 0x0A, 0xAA, 0, 1, 4, 9});
      f.insert(f.begin() + 12 + 28, extra.begin(), extra.end());
      const size_t length = f.size() - 8;
      for (int i = 0; i < 4; ++i) f[4 + i] = uint8_t(length >> (24 - 8 * i));
      WriteFile(out, f);
    }
    Record r;
    const int code = ReadIFF(out.c_str(), &r);
    if (c.code != RASTER_OK) {
      ExpectRefused(code, r, c.code);
      continue;
    }
    ASSERT_EQ(code, RASTER_OK);
    ASSERT_EQ(tsltest::Run("ilbmtoppm " + Quote(out) + " > " + Quote(back) + " 2>/dev/null"), 0);
    EXPECT_EQ(TopFirstRgb(r.img), PillowPixels(back));
  }
}

TEST(IffRead, HandMadeChunksMapsAndRuns) {
  // One row of pixels 1, 2, 3: plane 0 holds A0 00, plane 1 60 00, the six
  // other planes (and a mask plane) zeros; a no-op (-128) comes first.
  const Bytes body{0x80, 3, 0xA0, 0, 0x60, 0, 0xF5, 0};
  const Bytes masked_body{3, 0xA0, 0, 0x60, 0, 0xF5, 0, 1, 0xFF, 0xFF};
  Bytes map, big_map(3 * 65537 + 1, 1);
  for (int i = 0; i < 4; ++i)
    map.insert(map.end(), {uint8_t(10 * i), uint8_t(20 * i), uint8_t(30 * i)});
  std::copy(map.begin(), map.end(), big_map.begin());
  const Bytes rgb{10, 20, 30, 20, 40, 60, 30, 60, 90};
  auto File = [&](const Bytes &bmhd, const Bytes &cmap, const Bytes &pixels,
                  const char *extra = nullptr) {
    Bytes chunks;
    AddChunk(chunks, "BMHD", bmhd);
    if (extra) AddChunk(chunks, extra, {1, 2, 3, 4});
    AddChunk(chunks, "CMAP", cmap);
    AddChunk(chunks, "BODY", pixels);
    return Form(chunks);
  };
  const Bytes plain = Bmhd(3, 1, 8, 0, 1), good = File(plain, map, body);
  Bytes no_body, body_first;
  AddChunk(no_body, "BMHD", Bmhd(3, 1, 8, 0, 1));
  AddChunk(no_body, "CMAP", map);
  AddChunk(body_first, "BODY", body);
  body_first.insert(body_first.end(), no_body.begin(), no_body.end());
  Bytes long_header = Bmhd(3, 1, 8, 0, 1);
  long_header.push_back(7);  // one byte more, then a pad byte
  const int kCorrupt = RASTER_ERR_CORRUPT_FILE, kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION;
  const struct { const char *what; Bytes file; Bytes rgba; int code = RASTER_OK; } cases[] = {
      {"runs", good, rgb},
      {"mask plane skipped", File(Bmhd(3, 1, 8, 1, 1), map, masked_body), rgb},
      {"transparent colour", File(Bmhd(3, 1, 8, 2, 1, 2), map, body),
       {10, 20, 30, 255, 20, 40, 60, 0, 30, 60, 90, 255}},
      {"colour map of 65537 entries", File(plain, big_map, body), rgb},
      {"map of 3 entries and 2 bytes", File(plain, Bytes(map.begin(), map.end() - 1), body),
       {10, 20, 30, 20, 40, 60, 0, 0, 0}},
      {"longer header", File(long_header, map, body), rgb},
      {"CRNG", File(plain, map, body, "CRNG"), rgb},
      {"DPPS", File(plain, map, body, "DPPS"), {}, kCorrupt},
      {"short header", File(Bytes(19, 0), map, body), {}, kCorrupt},
      {"5 planes", File(Bmhd(3, 1, 5, 0, 1), map, body), {}, kUnsupported},
      {"uncompressed", File(Bmhd(3, 1, 8, 0, 0), map, body), {}, kUnsupported},
      {"compression 2", File(Bmhd(3, 1, 8, 0, 2), map, body), {}, kUnsupported},
      {"body longer than its rows", File(plain, map, Cat({body, {0}})), {}, kCorrupt},
      {"body before the map", Form(body_first), {}, kCorrupt},
      {"no body", Form(no_body), {}, kCorrupt},
      {"65535 squared", File(Bmhd(65535, 65535, 8, 0, 1), map, body), {}, kCorrupt},
      {"not FORM", Bytes{'F', 'O', 'R', 'N', 0, 0, 0, 4, 'I', 'L', 'B', 'M'}, {}, kCorrupt},
      {"not ILBM", Bytes{'F', 'O', 'R', 'M', 0, 0, 0, 4, 'P', 'B', 'M', ' '}, {}, kCorrupt}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Record r;
    const int code = ReadIFFMemory(c.file.data(), c.file.size(), &r);
    if (c.code == RASTER_OK && code == RASTER_OK)
      EXPECT_EQ(TopFirstRgb(r.img, c.rgba.size() == 12), c.rgba);
    else ExpectRefused(code, r, c.code);
  }
  ExpectEveryTruncationFails(good, ReadIFFMemory);
}

}  // namespace
