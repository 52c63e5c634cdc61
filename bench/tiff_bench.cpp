// TIFF files of a 2000 x 2000 RGB picture: our reader from memory and our
// writer to a file, each beside bare libtiff doing the same work (the same
// tags, one row per strip) straight from and into a memory buffer.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "image/raster_image.h"
#include "image/tiff.h"

namespace {

using namespace tsl;

constexpr uint32_t kSide = 2000;
constexpr int64_t kPixels = int64_t{kSide} * kSide;

// A 24-bit record of smooth colour ramps with some texture, rows padded as
// the interface builds them.
RasterImage ColourRecord() {
  RasterImage r = tslbench::NewRecord(kSide, kSide, 24);
  for (uint32_t y = 0; y < kSide; ++y)
    for (uint32_t x = 0; x < kSide; ++x) {
      uint8_t *p = r.bits + static_cast<size_t>(y) * r.scan_width + 3 * x;
      p[0] = static_cast<uint8_t>(x / 8 + (x * y) % 7);
      p[1] = static_cast<uint8_t>(y / 8);
      p[2] = static_cast<uint8_t>((x + y) / 16);
    }
  return r;
}

// A seekable memory file for bare libtiff, its room allocated up front
// (and never zero-filled) so that the buffer costs no more than it must.
struct MemoryFile {
  std::unique_ptr<uint8_t[]> bytes{new uint8_t[kRoom]};
  size_t size = 0, pos = 0;
  static constexpr size_t kRoom = size_t{kPixels} * 3 + (1 << 16);

  static tmsize_t Read(thandle_t h, void *buf, tmsize_t n) {
    MemoryFile &f = *static_cast<MemoryFile *>(h);
    const size_t count = std::min(static_cast<size_t>(n), f.size - std::min(f.pos, f.size));
    if (count) std::memcpy(buf, f.bytes.get() + f.pos, count);
    f.pos += count;
    return static_cast<tmsize_t>(count);
  }
  static tmsize_t Write(thandle_t h, void *buf, tmsize_t n) {
    MemoryFile &f = *static_cast<MemoryFile *>(h);
    if (f.pos + n > kRoom) return -1;
    std::memcpy(f.bytes.get() + f.pos, buf, static_cast<size_t>(n));
    f.pos += n;
    f.size = std::max(f.size, f.pos);
    return n;
  }
  static toff_t Seek(thandle_t h, toff_t off, int whence) {
    MemoryFile &f = *static_cast<MemoryFile *>(h);
    f.pos = static_cast<size_t>((whence == SEEK_CUR   ? f.pos
                                 : whence == SEEK_END ? f.size
                                                      : 0) +
                                off);
    return f.pos;
  }
  static int Close(thandle_t) { return 0; }
  static toff_t Size(thandle_t h) { return static_cast<MemoryFile *>(h)->size; }
  static int Map(thandle_t h, void **base, toff_t *size) {
    MemoryFile &f = *static_cast<MemoryFile *>(h);
    *base = f.bytes.get();
    *size = f.size;
    return 1;
  }
  static void Unmap(thandle_t, void *, toff_t) {}

  TIFF *Open(const char *mode) {
    pos = 0;
    return TIFFClientOpen("bench", mode, this, Read, Write, Seek, Close, Size, Map, Unmap);
  }
};

// Our file of the picture, in memory.
std::vector<uint8_t> OurFile(const RasterImage &r) {
  const std::string path = "/tmp/tessaly_tiff_bench_" + std::to_string(::getpid()) + ".tif";
  WriteTIFF(path.c_str(), r, nullptr);
  const std::vector<uint8_t> file = tslbench::ReadWholeFile(path);
  std::remove(path.c_str());
  return file;
}

void BM_ReadTIFF(benchmark::State &state) {
  RasterImage src = ColourRecord();
  const std::vector<uint8_t> file = OurFile(src);
  FreeRasterImage(&src);
  tslbench::TimeMemoryRead(
      state, [](const uint8_t *d, size_t n, RasterImage *r) { return ReadTIFFMemory(d, n, r, nullptr); },
      file);
  state.SetItemsProcessed(state.iterations() * kPixels);
}

// Bare libtiff: every strip of the same file decoded into one RGB block.
void BM_ReadBareLibtiff(benchmark::State &state) {
  RasterImage src = ColourRecord();
  MemoryFile file;
  const std::vector<uint8_t> ours = OurFile(src);
  std::memcpy(file.bytes.get(), ours.data(), ours.size());
  file.size = ours.size();
  FreeRasterImage(&src);
  for (auto _ : state) {
    TIFF *tif = file.Open("r");
    const tmsize_t strip = TIFFStripSize(tif);
    std::vector<uint8_t> rgb(static_cast<size_t>(kPixels) * 3);
    for (uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s)
      TIFFReadEncodedStrip(tif, s, rgb.data() + static_cast<size_t>(s) * strip, strip);
    benchmark::DoNotOptimize(rgb.data());
    TIFFClose(tif);
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}

// Into /dev/null the file costs nothing, so this is the encoding that bare
// libtiff's memory buffer stands against; into a file, the disk's share
// comes on top.
void WriteTIFFTo(benchmark::State &state, const std::string &path) {
  RasterImage src = ColourRecord();
  for (auto _ : state) benchmark::DoNotOptimize(WriteTIFF(path.c_str(), src, nullptr));
  FreeRasterImage(&src);
  state.SetItemsProcessed(state.iterations() * kPixels);
}
void BM_WriteTIFF(benchmark::State &state) { WriteTIFFTo(state, "/dev/null"); }
void BM_WriteTIFFFile(benchmark::State &state) {
  const std::string path = "/tmp/tessaly_tiff_bench_w" + std::to_string(::getpid()) + ".tif";
  WriteTIFFTo(state, path);
  std::remove(path.c_str());
}

// Bare libtiff: the same tags and strips from a top-first RGB block.
void BM_WriteBareLibtiff(benchmark::State &state) {
  std::vector<uint8_t> rgb(static_cast<size_t>(kPixels) * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7 / 3);
  MemoryFile file;
  for (auto _ : state) {
    file.size = 0;
    TIFF *tif = file.Open("w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kSide);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kSide);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t{8});
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t{3});
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t{PLANARCONFIG_CONTIG});
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t{1});
    TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t{ORIENTATION_TOPLEFT});
    TIFFSetField(tif, TIFFTAG_COMPRESSION, uint16_t{COMPRESSION_NONE});
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t{PHOTOMETRIC_RGB});
    const tmsize_t row = TIFFScanlineSize(tif);
    for (uint32_t y = 0; y < kSide; ++y)
      TIFFWriteEncodedStrip(tif, y, rgb.data() + static_cast<size_t>(y) * row, row);
    TIFFWriteDirectory(tif);
    TIFFClose(tif);
    benchmark::DoNotOptimize(file.bytes.get());
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}

BENCHMARK(BM_ReadTIFF)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBareLibtiff)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteTIFF)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteTIFFFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteBareLibtiff)->Unit(benchmark::kMillisecond);

}  // namespace
