// Animator files: hand-made FLI/FLC animations read as Pillow's FLI reader
// reads them, CEL pictures against hand-computed values, and damaged
// chunks refused.
#include <gtest/gtest.h>

#include <vector>

#include "image/cel.h"
#include "raster_test_util.h"

namespace {

using namespace tsltest;

// A chunk (16-byte header) or sub-chunk (6-byte header) of `type`.
Bytes Chunk(uint16_t type, const Bytes &data, uint16_t sub_chunks = 0) {
  Bytes b;
  PutLe(b, uint32_t(data.size() + 16), 4), PutLe(b, type, 2), PutLe(b, sub_chunks, 2);
  b.resize(16);  // reserved
  return Cat({b, data});
}
Bytes Sub(uint16_t type, const Bytes &data) {
  Bytes b;
  PutLe(b, uint32_t(data.size() + 6), 4), PutLe(b, type, 2);
  return Cat({b, data});
}
Bytes Frame(std::initializer_list<Bytes> subs) {
  return Chunk(0xF1FA, Cat(subs), uint16_t(subs.size()));
}
Bytes Flic(uint16_t magic, uint16_t w, uint16_t h, std::initializer_list<Bytes> chunks,
           uint16_t depth = 8) {
  const Bytes body = Cat(chunks);
  Bytes f;
  PutLe(f, uint32_t(128 + body.size()), 4), PutLe(f, magic, 2), PutLe(f, 1, 2);
  PutLe(f, w, 2), PutLe(f, h, 2), PutLe(f, depth, 2);
  f.resize(128);
  return Cat({f, body});
}
// A palette sub-chunk of one packet: `skip` entries passed, then `triples`.
Bytes Colours(uint16_t type, uint8_t skip, const Bytes &triples) {
  Bytes d{1, 0, skip, uint8_t(triples.size() / 3)};
  return Sub(type, Cat({d, triples}));
}
Bytes Levels(unsigned levels) {
  Bytes t;
  for (unsigned i = 0; i < 256; ++i)
    t.insert(t.end(),
             {uint8_t(i % levels), uint8_t(levels - 1 - i % levels), uint8_t(i / 2 % levels)});
  return t;
}
// Rows of w x h pixels whose first three are alike, and their byte-run
// coding: a repeat of 3, then a copy of the rest.
Bytes Pixels(uint16_t w, uint16_t h) {
  Bytes p;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) p.push_back(uint8_t(x < 3 ? y : x * 7 + y * 13));
  return p;
}
Bytes ByteRun(uint16_t w, uint16_t h) {
  const Bytes p = Pixels(w, h);
  Bytes d;
  for (uint32_t y = 0; y < h; ++y) {
    d.insert(d.end(), {2, 3, uint8_t(y), uint8_t(-(w - 3))});
    d.insert(d.end(), p.begin() + y * w + 3, p.begin() + (y + 1) * w);
  }
  return Sub(15, d);
}

// The first frame of animations whose frames hold palettes of 256 and 64
// levels, byte-run, copied and black pixels and skipped sub-chunks: as
// Pillow reads them, in both row layouts (width 30 pads).
TEST(FlicRead, HandMadeAnimationsAsPillowReadsThem) {
  TSL_NEED_PILLOW();
  TempDir dir;
  const std::string path = dir.File("a.flc");
  const Bytes palette = Colours(4, 0, Levels(256)), copy = Sub(16, Pixels(7, 2));
  Bytes padded = Cat({ByteRun(29, 3), {0}});  // one pad byte counted in the sub-chunk's size
  padded[0] += 1;
  const Bytes files[] = {
      Flic(0xAF11, 30, 5,
           {Frame({Colours(11, 0, Levels(64)), ByteRun(30, 5)}), Frame({Sub(13, {})})}),
      Flic(0xAF12, 29, 3, {Frame({Sub(18, {9, 9}), palette, padded})}),
      Flic(0xAF12, 7, 2, {Frame({Sub(7, {0, 0}), palette, copy})}),
      Flic(0xAF11, 7, 2, {Frame({copy, Sub(13, {}), palette})})};
  for (const Bytes &file : files) {
    SCOPED_TRACE("file " + std::to_string(&file - files));
    ExpectReadAsPillowReadsIt(ReadCELMemory, path, file);
  }
}

// A first frame drawn by a delta sub-chunk on the black screen, as Pillow
// draws it: byte deltas from line 1, word deltas skipping line 0 and setting
// the last byte of an odd row; both skip columns, copy and repeat. Width 7
// pads rows. A black sub-chunk after a delta clears what it drew.
TEST(FlicRead, DeltaFirstFramesAsPillowDrawsThem) {
  TSL_NEED_PILLOW();
  TempDir dir;
  const std::string path = dir.File("delta.flc");
  const Bytes palette = Colours(4, 0, Levels(256));
  const Bytes bytes = Sub(12, {1, 0, 2, 0, 2, 1, 3, 10, 20, 30, 1, 0xFE, 40, 1, 0, 0xF9, 50});
  const Bytes words = Sub(7, {2, 0, 0xFF, 0xFF, 60, 0x80, 2, 0, 1, 1, 11, 12, 1, 0xFF, 13, 14,
                              1, 0, 0, 3, 1, 2, 3, 4, 5, 6});
  const Bytes files[] = {Flic(0xAF11, 7, 4, {Frame({Colours(11, 0, Levels(64)), bytes})}),
                         Flic(0xAF12, 7, 4, {Frame({palette, words})}),
                         Flic(0xAF12, 7, 4, {Frame({words, Sub(13, {}), palette})})};
  for (const Bytes &file : files) {
    SCOPED_TRACE("file " + std::to_string(&file - files));
    ExpectReadAsPillowReadsIt(ReadCELMemory, path, file);
  }
}

// One frame of a palette and an odd-sized pixel sub-chunk laid out as GIMP
// writes it: the pad byte after the odd sub-chunk is counted in the frame's
// and the file's sizes, but the file ends before it.
Bytes GimpFlic(uint16_t magic, uint16_t w, uint16_t h, const Bytes &palette,
               const Bytes &pixels) {
  Bytes f = Flic(magic, w, h, {Frame({palette, pixels})});
  EXPECT_EQ(pixels.size() % 2, 1u) << "the pixels must leave a pad byte";
  f[0] += 1;    // file size
  f[128] += 1;  // frame size
  return f;
}

TEST(FlicRead, LastPadByteMissingAsGimpWritesIt) {
  TSL_NEED_PILLOW();
  TempDir dir;
  const std::string path = dir.File("gimp.flc");
  const Bytes files[] = {
      GimpFlic(0xAF12, 6, 3, Colours(4, 0, Levels(256)), ByteRun(6, 3)),
      GimpFlic(0xAF11, 8, 5, Colours(11, 0, Levels(64)), ByteRun(8, 5)),
      GimpFlic(0xAF12, 7, 3, Colours(4, 0, Levels(256)), Sub(16, Pixels(7, 3)))};
  for (const Bytes &file : files) {
    SCOPED_TRACE("file " + std::to_string(&file - files));
    ExpectReadAsPillowReadsIt(ReadCELMemory, path, file);
    ExpectEveryTruncationFails(file, ReadCELMemory);
  }
}

// Frames that run past the end of the file are read as far as their
// sub-chunks are whole; a sub-chunk the file cuts is a short read, one that
// passes the end of a whole frame a damaged file.
TEST(FlicRead, CutFramesReadUpToTheirLastWholeSubChunk) {
  const Bytes palette = Colours(4, 0, Levels(256)), run = ByteRun(6, 3);
  const Bytes gimp = GimpFlic(0xAF12, 6, 3, palette, run);
  const Bytes whole = Flic(0xAF12, 6, 3, {Frame({palette, run})});
  Bytes palette_only = Flic(0xAF12, 6, 3, {Frame({palette})});
  palette_only[128] += 1;  // the frame declares a byte the file lacks
  Bytes header_cut = whole;
  header_cut.resize(128 + 16 + palette.size() + 5);  // 5 of the run's 6 header bytes
  Bytes third_absent = whole;
  third_absent[128] += 6, third_absent[128 + 6] = 3;  // a third sub-chunk the file lacks
  Bytes past_frame = Cat({whole, {0}});
  past_frame[128] -= 1;  // the run's last byte lies past its frame
  Bytes black, picture;
  for (int i = 0; i < 6 * 3; ++i) black.insert(black.end(), {0, 255, 0});  // entry 0
  for (uint8_t p : Pixels(6, 3))
    picture.insert(picture.end(), {p, uint8_t(255 - p), uint8_t(p / 2)});
  ExpectHandMadeFiles(
      ReadCELMemory,
      {{"palette whole, frame one byte past the file", palette_only, black},
       {"palette and pixels whole, a third sub-chunk past the file", third_absent, picture},
       {"pixels cut by one byte", Bytes(gimp.begin(), gimp.end() - 1), {}, RASTER_ERR_READ},
       {"pixels ending the frame cut by one byte", Bytes(whole.begin(), whole.end() - 1), {},
        RASTER_ERR_READ},
       {"pixels' header cut by one byte", header_cut, {}, RASTER_ERR_READ},
       {"pixels one byte past their whole frame", past_frame, {}, RASTER_ERR_CORRUPT_FILE}});
}

TEST(FlicRead, UnknownChunksSkippedAndDamagedChunksRefused) {
  const Bytes palette = Colours(4, 0, Levels(256)), run = ByteRun(4, 2);
  auto Small = [](std::initializer_list<Bytes> chunks) { return Flic(0xAF12, 4, 2, chunks); };
  auto Delta = [&](uint16_t type, const Bytes &data) { return Small({Frame({Sub(type, data)})}); };
  const Bytes good = Small({Frame({palette, run})});
  ExpectEveryTruncationFails(good, ReadCELMemory);
  Record expect;
  ASSERT_EQ(ReadCELMemory(good.data(), good.size(), &expect), RASTER_OK);
  Bytes short_run = run, long_palette = palette, overlong = run;
  short_run[0] -= 2;                       // the size leaves out two bytes of the last row
  long_palette[0] += 2, long_palette.insert(long_palette.end(), {0, 0});  // two bytes too many
  overlong[6 + 5 + 1] = 5;                 // row 1 opens with a repeat of 5 in a row of 4
  const int kCorrupt = RASTER_ERR_CORRUPT_FILE, kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION;
  ExpectHandMadeFiles(
      ReadCELMemory,
      {// Pillow cannot read it: its frames start right after the header.
       {"unknown chunk", Small({Chunk(0xF1FB, {5, 5, 5}), Frame({palette, run})}),
        TopFirstRgb(expect.img)},
       {"chunk size 0", Small({Bytes(16)}), {}, kCorrupt},
       {"sub-chunk size below its header", Small({Chunk(0xF1FA, {5, 0, 0, 0, 4, 0}, 1)}), {},
        kCorrupt},
       {"sub-chunk type 5", Small({Frame({Sub(5, {})})}), {}, kUnsupported},
       {"copy of the wrong size", Small({Frame({Sub(16, Bytes(7))})}), {}, kCorrupt},
       {"byte run short of its rows", Small({Frame({short_run})}), {}, kCorrupt},
       {"byte run past the row", Small({Frame({overlong})}), {}, kCorrupt},
       {"palette longer than its packets", Small({Frame({long_palette})}), {}, kCorrupt},
       {"byte delta lines past the picture", Delta(12, {1, 0, 2, 0, 0, 0}), {}, kCorrupt},
       {"byte delta skip past the row", Delta(12, {0, 0, 1, 0, 1, 5, 0}), {}, kCorrupt},
       {"byte delta copy short of its bytes", Delta(12, {0, 0, 1, 0, 1, 0, 4, 1, 2, 3}), {},
        kCorrupt},
       {"byte delta two bytes past its lines", Delta(12, {0, 0, 1, 0, 0, 7, 7}), {}, kCorrupt},
       {"word delta line skip past the picture", Delta(7, {1, 0, 0xFE, 0xFF, 0, 0}), {}, kCorrupt},
       {"word delta run past the row", Delta(7, {1, 0, 1, 0, 1, 2, 1, 2, 3, 4}), {}, kCorrupt},
       {"word delta word of top bits 01 (not a skip of 32769 lines)",
        Flic(0xAF12, 1, 40000, {Frame({Sub(7, {1, 0, 0xFF, 0x7F, 0, 0})})}), {}, kCorrupt},
       {"palette past entry 255", Small({Frame({Colours(4, 250, Bytes(21))})}), {}, kCorrupt},
       {"depth 16", Flic(0xAF12, 4, 2, {Frame({palette, run})}, 16), {}, kUnsupported},
       {"no frame", Small({Chunk(0xF100, {})}), {}, RASTER_ERR_READ},
       {"black frame of 900 million pixels", Flic(0xAF12, 30000, 30000, {Frame({Sub(13, {})})}),
        {}, RASTER_ERR_INVALID_SIZE}});
}

// A palette sub-chunk of 256 greys, entry i = i.
Bytes Greys() {
  Bytes t;
  for (int i = 0; i < 256; ++i) t.insert(t.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
  return Colours(4, 0, t);
}

// Runs that fill a row of 4 to its end are read, one more pixel is refused.
TEST(FlicRead, ByteRunsPassingTheRowByOneRefused) {
  auto Row = [](const Bytes &runs) {
    return Flic(0xAF12, 4, 1, {Frame({Greys(), Sub(15, runs)})});
  };
  const int kCorrupt = RASTER_ERR_CORRUPT_FILE;
  ExpectHandMadeFiles(
      ReadCELMemory,
      {{"repeat of 4", Row({1, 4, 9}), GreyToRgb({9, 9, 9, 9})},
       {"repeat of 5", Row({1, 5, 9}), {}, kCorrupt},
       {"copy of 4", Row({1, 0xFC, 1, 2, 3, 4}), GreyToRgb({1, 2, 3, 4})},
       {"copy of 5", Row({1, 0xFB, 1, 2, 3, 4, 5}), {}, kCorrupt},
       {"repeat of 3 after 1", Row({2, 1, 9, 3, 8}), GreyToRgb({9, 8, 8, 8})},
       {"repeat of 4 after 1", Row({2, 1, 9, 4, 8}), {}, kCorrupt},
       {"copy of 3 after 1", Row({2, 1, 9, 0xFD, 1, 2, 3}), GreyToRgb({9, 1, 2, 3})},
       {"copy of 4 after 1", Row({2, 1, 9, 0xFC, 1, 2, 3, 4}), {}, kCorrupt}});
}

// A one-pixel row takes three bytes; one byte may follow the rows (the
// pad of an odd-sized chunk), two may not.
TEST(FlicRead, ByteRunDataLengths) {
  auto Pixel = [](const Bytes &runs) {
    return Flic(0xAF12, 1, 1, {Frame({Greys(), Sub(15, runs)})});
  };
  const int kCorrupt = RASTER_ERR_CORRUPT_FILE;
  ExpectHandMadeFiles(ReadCELMemory, {{"3 bytes", Pixel({1, 1, 7}), {7, 7, 7}},
                                      {"2 bytes", Pixel({1, 1}), {}, kCorrupt},
                                      {"1 byte left over", Pixel({1, 1, 7, 0}), {7, 7, 7}},
                                      {"2 bytes left over", Pixel({1, 1, 7, 0, 0}), {}, kCorrupt}});
}

// An uncompressed frame holds exactly the picture's pixels, and the pad
// byte after an odd count when its size counts it.
TEST(FlicRead, CopyLongerThanThePictureRefused) {
  const Bytes pixels{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0};
  auto Copy = [&](size_t n, uint16_t w = 4, uint16_t h = 2) {
    const Bytes copy(pixels.begin(), pixels.begin() + n);
    return Flic(0xAF12, w, h, {Frame({Greys(), Sub(16, copy)})});
  };
  ExpectHandMadeFiles(ReadCELMemory,
                      {{"8 bytes", Copy(8), GreyToRgb({1, 2, 3, 4, 5, 6, 7, 8})},
                       {"9 bytes", Copy(9), {}, RASTER_ERR_CORRUPT_FILE},
                       {"15 pixels and a pad byte", Copy(16, 3, 5),
                        GreyToRgb(Bytes(pixels.begin(), pixels.begin() + 15))}});
}

// A CEL header of w x h pixels of `bpp` bits and `compression`, a palette
// of 64 levels and the rows.
Bytes Cel(uint16_t w, uint16_t h, const Bytes &palette, const Bytes &rows, uint8_t bpp = 8,
          uint8_t compression = 0) {
  Bytes f;
  PutLe(f, 0x9119, 2), PutLe(f, w, 2), PutLe(f, h, 2), PutLe(f, 0, 4);
  f.insert(f.end(), {bpp, compression});
  f.resize(32);
  Bytes map = palette;
  map.resize(768);
  return Cat({f, map, rows});
}

TEST(CelRead, PaletteLevelsRowOrderAndRefusals) {
  // Entry 0 = (63, 1, 64), entry 1 = (0, 32, 16): four times each, kept to 8 bits.
  const Bytes cel = Cel(2, 2, {63, 1, 64, 0, 32, 16}, {0, 1, 1, 1});
  ExpectEveryTruncationFails(cel, ReadCELMemory);
  ExpectHandMadeFiles(
      ReadCELMemory,
      {{"64 levels, top row first", cel, {252, 4, 0, 0, 128, 64, 0, 128, 64, 0, 128, 64}},
       {"compressed", Cel(2, 2, {}, Bytes(4), 8, 1), {}, RASTER_ERR_UNSUPPORTED_OPTION},
       {"rows missing", Cel(40000, 40000, {}, Bytes(4)), {}, RASTER_ERR_READ},
       {"neither CEL nor FLIC", {0x18, 0x91, 0, 0, 0x11, 0xAE}, {},
        RASTER_ERR_UNSUPPORTED_OPTION}});
}

}  // namespace
