// IFF ILBM pictures: netpbm's 8-plane files read with the pixels they were
// made from, and hand-made chunks (odd lengths, CAMG, CRNG, HAM), maps and
// runs read or refused as they should be.
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

// A FORM of a header, an `extra` chunk when given, a colour map and a body.
Bytes File(const Bytes &bmhd, const Bytes &cmap, const Bytes &pixels, const char *extra = nullptr,
           const Bytes &extra_data = {1, 2, 3, 4}) {
  Bytes chunks;
  AddChunk(chunks, "BMHD", bmhd);
  if (extra) AddChunk(chunks, extra, extra_data);
  AddChunk(chunks, "CMAP", cmap);
  AddChunk(chunks, "BODY", pixels);
  return Form(chunks);
}

TEST(IffRead, FilesOfNetpbm) {
  ExpectToolFilesRead(ReadIFF, {{"ppmtoilbm -fixplanes 8 %i > %o", 1u << 24, 8},
                                {"ppmtoilbm -fixplanes 8 %i > %o", 0, 8}});
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
  const Bytes plain = Bmhd(3, 1, 8, 0, 1), good = File(plain, map, body);
  Bytes no_body, body_first;
  AddChunk(no_body, "BMHD", plain);
  AddChunk(no_body, "CMAP", map);
  AddChunk(body_first, "BODY", body);
  body_first.insert(body_first.end(), no_body.begin(), no_body.end());
  const int kCorrupt = RASTER_ERR_CORRUPT_FILE, kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION;
  ExpectEveryTruncationFails(good, ReadIFFMemory);
  ExpectHandMadeFiles(
      ReadIFFMemory,
      {{"runs", good, rgb},
       {"mask plane skipped", File(Bmhd(3, 1, 8, 1, 1), map, masked_body), rgb},
       {"transparent colour", File(Bmhd(3, 1, 8, 2, 1, 2), map, body),
        {10, 20, 30, 255, 20, 40, 60, 0, 30, 60, 90, 255}},
       {"colour map of 65537 entries", File(plain, big_map, body), rgb},
       {"map of 3 entries and 2 bytes", File(plain, Bytes(map.begin(), map.end() - 1), body),
        {10, 20, 30, 20, 40, 60, 0, 0, 0}},
       {"CAMG without HAM", File(plain, map, body, "CAMG"), rgb},
       {"CRNG", File(plain, map, body, "CRNG"), rgb},
       {"DPPS", File(plain, map, body, "DPPS"), {}, kCorrupt},
       {"HAM", File(plain, map, body, "CAMG", {0, 0, 0x08, 0}), {}, kUnsupported},
       {"short header", File(Bytes(19, 0), map, body), {}, kCorrupt},
       {"6 planes", File(Bmhd(3, 1, 6, 0, 1), map, body), {}, kUnsupported},
       {"compression 2", File(Bmhd(3, 1, 8, 0, 2), map, body), {}, kUnsupported},
       {"body longer than its rows", File(plain, map, Cat({body, {0}})), {}, kCorrupt},
       {"body before the map", Form(body_first), {}, kCorrupt},
       {"no body", Form(no_body), {}, kCorrupt},
       {"65535 squared", File(Bmhd(65535, 65535, 8, 0, 1), map, body), {}, kCorrupt},
       {"not ILBM", Patched(good, 8, {'P', 'B', 'M', ' '}), {}, kCorrupt}});
}

// Raw planes are not read under any compression but ByteRun1, even when the
// body holds exactly the rows they would make.
TEST(IffRead, BodiesOfOtherCodingsRefusedHoldingRawRows) {
  Bytes raw_rows(16);  // one row of 3 pixels: 8 planes of one 16-bit word
  raw_rows[0] = 0x80;  // pixel 0 is index 1
  const Bytes map{0, 0, 0, 9, 9, 9};
  const int kUnsupported = RASTER_ERR_UNSUPPORTED_OPTION;
  ExpectHandMadeFiles(
      ReadIFFMemory,
      {{"compression 2", File(Bmhd(3, 1, 8, 0, 2), map, raw_rows), {}, kUnsupported},
       {"compression 255", File(Bmhd(3, 1, 8, 0, 255), map, raw_rows), {}, kUnsupported}});
}

// A transparent colour is kept while a palette index can name it.
TEST(IffRead, TransparentColourKeptUpTo255) {
  // Pixels 1, 2 and 255: every plane holds pixel 2's bit, planes 0 and 1
  // pixel 0's and 1's.
  const Bytes body{15, 0xA0, 0, 0x60, 0, 0x20, 0, 0x20, 0, 0x20, 0, 0x20, 0, 0x20, 0, 0x20, 0};
  Bytes map(3 * 256);
  for (int i = 1; i < 3; ++i) map[3 * i] = uint8_t(10 * i), map[3 * i + 1] = uint8_t(20 * i);
  map[3 * 255 + 2] = 99;
  ExpectHandMadeFiles(ReadIFFMemory,
                      {{"index 255", File(Bmhd(3, 1, 8, 2, 1, 255), map, body),
                        {10, 20, 0, 255, 20, 40, 0, 255, 0, 0, 99, 0}},
                       {"index 256", File(Bmhd(3, 1, 8, 2, 1, 256), map, body),
                        {10, 20, 0, 20, 40, 0, 0, 0, 99}}});
}

// A body shorter than its rows could ever be (two bytes decode to at most
// 128) is refused before the record is allocated; one that could fill them
// reaches the allocation, which refuses a picture above 2 GiB.
TEST(IffRead, BodyTooShortForItsRowsRefusedBeforeAllocation) {
  // 65535 pixels: 8 planes of 8192 bytes, at least 1024 body bytes a row.
  const uint16_t width = 65535, height = 32769;
  const uint32_t least = 1024u * height;
  Bytes file = File(Bmhd(width, height, 8, 0, 1), {0, 0, 0}, Bytes(least));
  const size_t body_length_at = file.size() - least - 4;
  Record at_least, one_short;
  ExpectRefused(ReadIFFMemory(file.data(), file.size(), &at_least), at_least,
                RASTER_ERR_INVALID_SIZE);
  // One byte less, the body's last byte becoming its pad byte.
  Bytes shorter;
  PutBe(shorter, least - 1, 4);
  file = Patched(std::move(file), body_length_at, shorter);
  ExpectRefused(ReadIFFMemory(file.data(), file.size(), &one_short), one_short,
                RASTER_ERR_CORRUPT_FILE);
}

}  // namespace
