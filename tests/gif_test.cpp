// GIF files: files made by ImageMagick and Pillow read with the pixels they
// were made from (or Pillow's), and files written by giflib's encoder to
// check placement on the screen, colour tables, transparency and refusals.
#include <gtest/gtest.h>

#include <gif_lib.h>

#include <vector>

#include "image/gif.h"
#include "raster_test_util.h"

namespace {

using namespace tsltest;

// Files of ImageMagick and Pillow, interlaced or not, read with their own
// pixels; one with a transparent colour as Pillow reads it. (Placement on
// a larger screen is checked on giflib's files below: Pillow leaves the
// rest of the screen at index 0, not at the background colour.)
TEST(GifRead, FilesOfImageMagickAndPillow) {
  const std::string im = std::string(kConvert) + " %i ";
  ExpectToolFilesRead(ReadGIF, {{im + "-interlace GIF gif:%o", 2, 1},
                                {im + "gif:%o", 16, 4},
                                // Pillow writes two colours in a table of 4.
                                {Pillow(".save(%o, 'GIF', interlace=False)"), 2, 4},
                                {im + "-transparent black gif:%o", 2, 1, true}});
}

// A file written by giflib's encoder: a screen with a global table of
// `global` entries and one image of w x h pixels whose table has `local`
// entries (0: none), graphic control blocks before it, then the `later`
// frames of the same place, each behind a block that makes index 1
// transparent. Entry i of the global table is (i, 2i, 3i), of a local one
// (255 - i, 0, i).
struct GifPlan {
  int screen_w, screen_h, background, global;
  int left, top, w, h, local;
  Bytes pixels;
  std::vector<Bytes> before;
  std::vector<Bytes> later = {};
};

int AppendOutput(GifFileType *gif, const GifByteType *data, int n) {
  Bytes *file = static_cast<Bytes *>(gif->UserData);
  file->insert(file->end(), data, data + n);
  return n;
}

ColorMapObject *Table(int entries, bool local) {
  if (entries == 0) return nullptr;
  std::vector<GifColorType> c(entries);
  for (int i = 0; i < entries; ++i)
    c[i] = local ? GifColorType{uint8_t(255 - i), 0, uint8_t(i)}
                 : GifColorType{uint8_t(i), uint8_t(2 * i), uint8_t(3 * i)};
  return GifMakeMapObject(entries, c.data());
}

Bytes WriteGif(const GifPlan &p) {
  Bytes file;
  int error = 0;
  GifFileType *gif = EGifOpen(&file, AppendOutput, &error);
  EGifSetGifVersion(gif, true);
  ColorMapObject *global = Table(p.global, false), *local = Table(p.local, true);
  bool ok = EGifPutScreenDesc(gif, p.screen_w, p.screen_h, 8, p.background, global) == GIF_OK;
  for (const Bytes &block : p.before)
    ok = ok && EGifPutExtension(gif, 0xF9, int(block.size()), block.data()) == GIF_OK;
  ok = ok && EGifPutImageDesc(gif, p.left, p.top, p.w, p.h, false, local) == GIF_OK;
  for (int y = 0; ok && y < p.h; ++y)
    ok = EGifPutLine(gif, const_cast<uint8_t *>(&p.pixels[size_t(y) * p.w]), p.w) == GIF_OK;
  const uint8_t mark[] = {1, 0, 0, 1};
  for (const Bytes &frame : p.later) {
    ok = ok && EGifPutExtension(gif, 0xF9, 4, mark) == GIF_OK;
    ok = ok && EGifPutImageDesc(gif, p.left, p.top, p.w, p.h, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < p.h; ++y)
      ok = EGifPutLine(gif, const_cast<uint8_t *>(&frame[size_t(y) * p.w]), p.w) == GIF_OK;
  }
  EXPECT_TRUE(ok) << "giflib error " << gif->Error;
  EGifCloseFile(gif, &error);
  GifFreeMapObject(global);
  GifFreeMapObject(local);
  return file;
}

// The record's palette indices, top row first.
Bytes TopFirstIndices(const RasterImage &r) {
  Bytes all, row(r.width);
  for (uint32_t y = r.height; y-- > 0;) {
    UnpackIndexRow(r, y, row.data());
    all.insert(all.end(), row.begin(), row.end());
  }
  return all;
}

TEST(GifRead, PlacementTablesAndGraphicControlOfGiflibFiles) {
  const Bytes mark{1, 0, 0, 2};  // a transparent colour: index 2
  const GifPlan small{4, 3, 3, 4, 1, 1, 2, 2, 0, {0, 1, 2, 3}, {}};
  const GifPlan clipped{4, 2, 5, 256, 2, 1, 3, 2, 0, {1, 2, 3, 4, 5, 6}, {}};
  GifPlan local = small, short_mark = small, unmarked = small, twice = small;
  local.local = 16, local.before = {mark};
  short_mark.before = {{1, 0, 0}, mark};  // the first, too short, is ignored
  twice.before = {mark, {1, 0, 0, 3}};    // the first counts
  unmarked.before = {{0, 0, 0, 2}};
  const Bytes small_indices{3, 3, 3, 3, 3, 0, 1, 3, 3, 2, 3, 3};
  const struct { const char *what; GifPlan plan; unsigned bpp; unsigned colours; int transparent;
                 Bytes indices; } cases[] = {
      {"smaller than the screen", small, 4, 4, -1, small_indices},
      {"past the screen's corner", clipped, 8, 256, -1, {5, 5, 5, 5, 5, 5, 1, 2}},
      {"local table and mark", local, 4, 16, 2, small_indices},
      {"short control block", short_mark, 4, 4, 2, small_indices},
      {"two control blocks", twice, 4, 4, 2, small_indices},
      {"flag clear", unmarked, 4, 4, -1, small_indices}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes file = WriteGif(c.plan);
    Record r;
    ASSERT_EQ(ReadGIFMemory(file.data(), file.size(), &r), RASTER_OK);
    EXPECT_EQ(r->bits_per_pixel, c.bpp);
    EXPECT_EQ(r->palette_size, c.colours);
    EXPECT_EQ(r->transparency_index, c.transparent);
    EXPECT_EQ(TopFirstIndices(r.img), c.indices);
    const uint8_t *entry = PaletteEntry(r.img, 1);
    const Bytes expect_entry = c.plan.local ? Bytes{1, 0, 254} : Bytes{3, 2, 1};  // blue first
    EXPECT_EQ(Bytes(entry, entry + 3), expect_entry);
  }
}

TEST(GifRead, DamagedAndIncompleteFilesRefused) {
  const GifPlan plan{4, 3, 3, 4, 1, 1, 2, 2, 0, {0, 1, 2, 3}, {{1, 0, 0, 2}}};
  const Bytes good = WriteGif(plan);
  // Every cut inside the image; without the trailer alone the file reads.
  ExpectEveryTruncationFails(Bytes(good.begin(), good.end() - 1), ReadGIFMemory);
  Bytes no_table = good, no_image(good.begin(), good.begin() + 13 + 12);
  no_table[10] &= 0x7F;  // the global table's flag; the table's bytes go too
  no_table.erase(no_table.begin() + 13, no_table.begin() + 13 + 12);
  no_image.push_back(';');
  GifPlan huge = plan;  // a screen no file of this size could fill
  huge.screen_w = 14593, huge.screen_h = 32768;
  ExpectHandMadeFiles(
      ReadGIFMemory,
      {{"not a GIF", Patched(good, 0, {'J'}), {}, RASTER_ERR_OPEN_FILE},
       {"no colour table", no_table, {}, RASTER_ERR_UNSUPPORTED_OPTION},
       {"no image", no_image, {}, RASTER_ERR_INVALID_FORMAT},
       {"screen of 478 million pixels", WriteGif(huge), {}, RASTER_ERR_INVALID_SIZE}});
  TempDir dir;
  Record missing;
  ExpectRefused(ReadGIF(dir.File("none.gif").c_str(), &missing), missing, RASTER_ERR_OPEN_FILE);
  ExpectRefused(ReadGIF(dir.File("none.gif").c_str(), nullptr), missing, RASTER_ERR_INVALID_IMAGE);
}

// An extension of no data blocks (21 FE 00, an empty comment) ends at its
// terminator: the image after it reads as in the same file without it.
TEST(GifRead, ExtensionWithoutDataBlocksSkipped) {
  const GifPlan plan{3, 2, 0, 4, 0, 0, 3, 2, 0, {0, 1, 2, 3, 2, 1}, {}};
  Bytes file = WriteGif(plan);
  const size_t image = 6 + 7 + 12;  // header, screen, table
  file.insert(file.begin() + image, {0x21, 0xFE, 0x00});
  Record r;
  ASSERT_EQ(ReadGIFMemory(file.data(), file.size(), &r), RASTER_OK);
  EXPECT_EQ(TopFirstIndices(r.img), plan.pixels);
}

// Nothing after the first image is read: without the trailer, with the
// second frame cut, or with a damaged record after it, a file gives the
// first image as the whole file does, and as Pillow decodes it. A file cut
// before the first image's data has ended, its terminating block included,
// is refused.
TEST(GifRead, FirstImageReadWhateverFollowsIt) {
  GifPlan plan{3, 2, 0, 4, 0, 0, 3, 2, 0, {0, 1, 2, 3, 2, 1}, {}};
  const Bytes single = WriteGif(plan);
  plan.later = {{3, 3, 3, 3, 3, 3}, {2, 2, 2, 1, 1, 1}};
  const Bytes whole = WriteGif(plan);
  // The first image ends where the one-image file has its trailer.
  const size_t end = single.size() - 1, screen = 6 + 7 + 12;  // header, screen, table
  ASSERT_EQ(Bytes(whole.begin(), whole.begin() + end), Bytes(single.begin(), single.end() - 1));
  for (size_t n = 0; n < screen; ++n) {
    Record r;
    ExpectRefused(ReadGIFMemory(whole.data(), n, &r), r, RASTER_ERR_OPEN_FILE);
  }
  for (size_t n = screen; n < end; ++n) {
    SCOPED_TRACE("cut after " + std::to_string(n) + " bytes");
    Record r;
    ExpectRefused(ReadGIFMemory(whole.data(), n, &r), r, RASTER_ERR_INVALID_FORMAT);
  }
  const Bytes first{0, 1, 2, 3, 2, 1};
  for (size_t n = end; n <= whole.size(); ++n) {
    SCOPED_TRACE("cut after " + std::to_string(n) + " bytes");
    Record r;
    ASSERT_EQ(ReadGIFMemory(whole.data(), n, &r), RASTER_OK);
    EXPECT_EQ(TopFirstIndices(r.img), first);
    EXPECT_EQ(r->transparency_index, -1) << "a later frame's block does not count";
  }
  const Bytes damaged = Patched(whole, end, {0x99});  // no such record
  Record r;
  ASSERT_EQ(ReadGIFMemory(damaged.data(), damaged.size(), &r), RASTER_OK);
  EXPECT_EQ(TopFirstIndices(r.img), first);

  TSL_NEED_PILLOW();
  TempDir dir;
  const struct { const char *what; size_t size; } cuts[] = {
      {"no trailer", whole.size() - 1}, {"second frame cut", end + 20}};
  for (const auto &c : cuts) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.File(std::string(c.what) + ".gif");
    WriteFile(path, Bytes(whole.begin(), whole.begin() + c.size));
    Record cut;
    ASSERT_EQ(ReadGIF(path.c_str(), &cut), RASTER_OK);
    EXPECT_EQ(TopFirstRgb(cut.img), PillowPixels(path));
  }
}

}  // namespace
