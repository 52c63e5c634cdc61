// Read-only raster formats: reading a 2000 x 2000 grey ridge picture stored
// as GIF, PCX, PSD, IFF ILBM, CEL and FLC from memory, and giflib's own
// DGifSlurp of the same GIF, which the GIF reader builds on; and the first
// picture of a long GIF animation, which should cost no more than a file
// holding that picture alone.
#include <benchmark/benchmark.h>

#include <gif_lib.h>

#include <cstring>
#include <vector>

#include "bench_support.h"
#include "image/cel.h"
#include "image/gif.h"
#include "image/iff.h"
#include "image/pcx.h"
#include "image/psd.h"
#include "image/raster_image.h"

namespace {

using namespace tsl;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSide = 2000;

// Ridges with the odd equal neighbour, top row first, as in a fingerprint
// scan.
const Bytes &Picture() {
  static const Bytes pixels = [] {
    Bytes p(size_t{kSide} * kSide);
    for (uint32_t y = 0; y < kSide; ++y)
      for (uint32_t x = 0; x < kSide; ++x)
        p[size_t{y} * kSide + x] =
            static_cast<uint8_t>(((x + y / 2) / 3 % 4) * 60 + (x * 7 + y * 13) % 11);
    return p;
  }();
  return pixels;
}
const uint8_t *Row(uint32_t y) { return Picture().data() + size_t{y} * kSide; }

void Put(Bytes &b, uint32_t v, int bytes, bool big_endian) {
  for (int i = 0; i < bytes; ++i)
    b.push_back(static_cast<uint8_t>(v >> 8 * (big_endian ? bytes - 1 - i : i)));
}
void Append(Bytes &b, const uint8_t *p, size_t n) { b.insert(b.end(), p, p + n); }

// PackBits: repeats of 3 or more, literals of up to 128 bytes.
void PackBits(const uint8_t *p, size_t n, Bytes &out) {
  for (size_t i = 0; i < n;) {
    size_t run = 1;
    while (i + run < n && run < 128 && p[i + run] == p[i]) ++run;
    if (run >= 3) {
      out.insert(out.end(), {static_cast<uint8_t>(257 - run), p[i]});
      i += run;
      continue;
    }
    size_t lit = 0;
    while (i + lit < n && lit < 128 &&
           !(i + lit + 2 < n && p[i + lit] == p[i + lit + 1] && p[i + lit] == p[i + lit + 2]))
      ++lit;
    out.push_back(static_cast<uint8_t>(lit - 1));
    Append(out, p + i, lit);
    i += lit;
  }
}

int AppendOutput(GifFileType *gif, const GifByteType *data, int n) {
  Append(*static_cast<Bytes *>(gif->UserData), data, static_cast<size_t>(n));
  return n;
}

Bytes Gif() {
  Bytes file;
  int error = 0;
  GifFileType *gif = EGifOpen(&file, AppendOutput, &error);
  std::vector<GifColorType> grey(256);
  for (int i = 0; i < 256; ++i) grey[i] = GifColorType{uint8_t(i), uint8_t(i), uint8_t(i)};
  ColorMapObject *map = GifMakeMapObject(256, grey.data());
  EGifPutScreenDesc(gif, kSide, kSide, 8, 0, map);
  EGifPutImageDesc(gif, 0, 0, kSide, kSide, false, nullptr);
  for (uint32_t y = 0; y < kSide; ++y) EGifPutLine(gif, const_cast<uint8_t *>(Row(y)), kSide);
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return file;
}

// 120 frames of 512 x 512 greys, each the ridges moved one pixel on, every
// one behind its graphic control block, after a looping block, as
// animations are made.
constexpr uint32_t kFrameSide = 512, kFrames = 120;
Bytes Animation() {
  Bytes file;
  int error = 0;
  GifFileType *gif = EGifOpen(&file, AppendOutput, &error);
  EGifSetGifVersion(gif, true);
  std::vector<GifColorType> grey(256);
  for (int i = 0; i < 256; ++i) grey[i] = GifColorType{uint8_t(i), uint8_t(i), uint8_t(i)};
  ColorMapObject *map = GifMakeMapObject(256, grey.data());
  EGifPutScreenDesc(gif, kFrameSide, kFrameSide, 8, 0, map);
  const uint8_t loop[] = {1, 0, 0};
  EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
  EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0");
  EGifPutExtensionBlock(gif, 3, loop);
  EGifPutExtensionTrailer(gif);
  const uint8_t control[] = {0, 4, 0, 0};  // 40 ms, no transparent colour
  for (uint32_t f = 0; f < kFrames; ++f) {
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control);
    EGifPutImageDesc(gif, 0, 0, kFrameSide, kFrameSide, false, nullptr);
    for (uint32_t y = 0; y < kFrameSide; ++y)
      EGifPutLine(gif, const_cast<uint8_t *>(Row(y) + f), kFrameSide);
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return file;
}

Bytes Pcx() {
  Bytes f(128);
  f[0] = 10, f[1] = 5, f[2] = 1, f[3] = 8, f[65] = 1;
  f[8] = f[10] = (kSide - 1) & 0xFF, f[9] = f[11] = (kSide - 1) >> 8;
  f[66] = kSide & 0xFF, f[67] = kSide >> 8;
  for (uint32_t y = 0; y < kSide; ++y)
    for (uint32_t x = 0; x < kSide;) {
      const uint8_t v = Row(y)[x];
      uint32_t run = 1;
      while (x + run < kSide && run < 63 && Row(y)[x + run] == v) ++run;
      if (run > 1 || v >= 0xC0) f.push_back(static_cast<uint8_t>(0xC0 | run));
      f.push_back(v);
      x += run;
    }
  f.push_back(12);
  for (int i = 0; i < 768; ++i) f.push_back(static_cast<uint8_t>(i / 3));
  return f;
}

Bytes Psd() {
  Bytes f{'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 1};
  Put(f, kSide, 4, true), Put(f, kSide, 4, true), Put(f, 8, 2, true), Put(f, 1, 2, true);
  Put(f, 0, 4, true), Put(f, 0, 4, true), Put(f, 0, 4, true), Put(f, 1, 2, true);
  Bytes rows;
  for (uint32_t y = 0; y < kSide; ++y) {
    const size_t before = rows.size();
    PackBits(Row(y), kSide, rows);
    Put(f, static_cast<uint32_t>(rows.size() - before), 2, true);
  }
  Append(f, rows.data(), rows.size());
  return f;
}

Bytes Iff() {
  constexpr size_t kPlaneBytes = (kSide + 15) / 16 * 2;
  Bytes body, planes(8 * kPlaneBytes);
  for (uint32_t y = 0; y < kSide; ++y) {
    std::fill(planes.begin(), planes.end(), 0);
    for (uint32_t x = 0; x < kSide; ++x)
      for (unsigned p = 0; p < 8; ++p)
        if ((Row(y)[x] >> p) & 1) planes[p * kPlaneBytes + x / 8] |= 0x80 >> (x % 8);
    PackBits(planes.data(), planes.size(), body);
  }
  Bytes chunks{'B', 'M', 'H', 'D'};
  Put(chunks, 20, 4, true), Put(chunks, kSide, 2, true), Put(chunks, kSide, 2, true);
  chunks.insert(chunks.end(), {0, 0, 0, 0, 8, 0, 1, 0, 0, 0, 10, 10, 0, 0, 0, 0});
  chunks.insert(chunks.end(), {'C', 'M', 'A', 'P'});
  Put(chunks, 768, 4, true);
  for (int i = 0; i < 768; ++i) chunks.push_back(static_cast<uint8_t>(i / 3));
  chunks.insert(chunks.end(), {'B', 'O', 'D', 'Y'});
  Put(chunks, static_cast<uint32_t>(body.size()), 4, true);
  Append(chunks, body.data(), body.size());
  if (body.size() & 1) chunks.push_back(0);
  Bytes f{'F', 'O', 'R', 'M'};
  Put(f, static_cast<uint32_t>(chunks.size() + 4), 4, true);
  f.insert(f.end(), {'I', 'L', 'B', 'M'});
  Append(f, chunks.data(), chunks.size());
  return f;
}

Bytes Cel() {
  Bytes f;
  Put(f, 0x9119, 2, false), Put(f, kSide, 2, false), Put(f, kSide, 2, false);
  f.resize(10);
  f.insert(f.end(), {8, 0});
  f.resize(32);
  for (int i = 0; i < 768; ++i) f.push_back(static_cast<uint8_t>(i / 12));
  Append(f, Picture().data(), Picture().size());
  return f;
}

// One frame: a 256-level palette and byte-run rows (repeats of 2 or more,
// copies of up to 127 bytes).
Bytes Flc() {
  Bytes colours{1, 0, 0, 0};
  for (int i = 0; i < 768; ++i) colours.push_back(static_cast<uint8_t>(i / 3));
  Bytes rows;
  for (uint32_t y = 0; y < kSide; ++y) {
    rows.push_back(0);
    for (uint32_t x = 0; x < kSide;) {
      uint32_t run = 1;
      while (x + run < kSide && run < 127 && Row(y)[x + run] == Row(y)[x]) ++run;
      if (run >= 2) {
        rows.insert(rows.end(), {static_cast<uint8_t>(run), Row(y)[x]});
      } else {
        uint32_t lit = 1;
        while (x + lit < kSide && lit < 127 && Row(y)[x + lit] != Row(y)[x + lit - 1]) ++lit;
        rows.push_back(static_cast<uint8_t>(256 - lit));
        Append(rows, Row(y) + x, lit);
        run = lit;
      }
      x += run;
    }
  }
  if (rows.size() & 1) rows.push_back(0);
  Bytes frame;
  Put(frame, static_cast<uint32_t>(16 + 6 + colours.size() + 6 + rows.size()), 4, false);
  Put(frame, 0xF1FA, 2, false), Put(frame, 2, 2, false);
  frame.resize(16);
  Put(frame, static_cast<uint32_t>(6 + colours.size()), 4, false), Put(frame, 4, 2, false);
  Append(frame, colours.data(), colours.size());
  Put(frame, static_cast<uint32_t>(6 + rows.size()), 4, false), Put(frame, 15, 2, false);
  Append(frame, rows.data(), rows.size());
  Bytes f;
  Put(f, static_cast<uint32_t>(128 + frame.size()), 4, false), Put(f, 0xAF12, 2, false);
  Put(f, 1, 2, false), Put(f, kSide, 2, false), Put(f, kSide, 2, false), Put(f, 8, 2, false);
  f.resize(128);
  Append(f, frame.data(), frame.size());
  return f;
}

void Read(benchmark::State &state, const Bytes &file, tslbench::MemoryReader read) {
  tslbench::TimeMemoryRead(state, read, file);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSide * kSide);
}

const Bytes &GifFile() {
  static const Bytes file = Gif();
  return file;
}

struct Cursor {
  const Bytes *file;
  size_t pos;
};
int ReadCursor(GifFileType *gif, GifByteType *out, int n) {
  Cursor *c = static_cast<Cursor *>(gif->UserData);
  const size_t k = std::min(static_cast<size_t>(n), c->file->size() - c->pos);
  std::memcpy(out, c->file->data() + c->pos, k);
  c->pos += k;
  return static_cast<int>(k);
}

void BM_ReadGIF(benchmark::State &s) { Read(s, GifFile(), ReadGIFMemory); }
void BM_GiflibSlurpGIF(benchmark::State &state) {
  for (auto _ : state) {
    Cursor c{&GifFile(), 0};
    int error = 0;
    GifFileType *gif = DGifOpen(&c, ReadCursor, &error);
    if (!gif || DGifSlurp(gif) != GIF_OK) state.SkipWithError("giflib failed");
    DGifCloseFile(gif, &error);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSide * kSide);
}
void BM_ReadGIFAnimationFirstFrame(benchmark::State &s) {
  static const Bytes file = Animation();
  tslbench::TimeMemoryRead(s, ReadGIFMemory, file);
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations()) * kFrameSide * kFrameSide);
}
void BM_ReadPCX(benchmark::State &s) {
  static const Bytes file = Pcx();
  Read(s, file, ReadPCXMemory);
}
void BM_ReadPSD(benchmark::State &s) {
  static const Bytes file = Psd();
  Read(s, file, ReadPSDMemory);
}
void BM_ReadIFF(benchmark::State &s) {
  static const Bytes file = Iff();
  Read(s, file, ReadIFFMemory);
}
void BM_ReadCEL(benchmark::State &s) {
  static const Bytes file = Cel();
  Read(s, file, ReadCELMemory);
}
void BM_ReadFLC(benchmark::State &s) {
  static const Bytes file = Flc();
  Read(s, file, ReadCELMemory);
}

BENCHMARK(BM_ReadGIF)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GiflibSlurpGIF)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadGIFAnimationFirstFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPCX)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPSD)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadIFF)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadCEL)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFLC)->Unit(benchmark::kMillisecond);

}  // namespace
