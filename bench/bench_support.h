// Helpers shared by the raster benchmarks: an allocated record, a whole file
// in memory, and the timing loop of a reader decoding from memory.
#ifndef TESSALY_BENCH_SUPPORT_H
#define TESSALY_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image/raster_image.h"

namespace tslbench {

// A record of width x height pixels of `bpp` bits with rows padded as the
// interface builds them; pixels and palette zero-filled as allocated.
inline tsl::RasterImage NewRecord(uint32_t width, uint32_t height, unsigned bpp) {
  tsl::RasterImage r;
  tsl::InitRasterImage(&r);
  r.width = width;
  r.height = height;
  r.bits_per_pixel = static_cast<uint8_t>(bpp);
  r.bmp_layout = 1;
  tsl::AllocateRasterImage(&r);
  return r;
}

// The whole file, or nothing when it cannot be read.
inline std::vector<uint8_t> ReadWholeFile(const std::string &path) {
  std::vector<uint8_t> bytes;
  if (FILE *f = std::fopen(path.c_str(), "rb")) {
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    bytes.resize(size > 0 ? static_cast<size_t>(size) : 0);
    if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
    std::fclose(f);
  }
  return bytes;
}

using MemoryReader = tsl::RasterError (*)(const uint8_t *, size_t, tsl::RasterImage *);

// `read` decoding `file` into a fresh record each time, as a reader hands
// out a new picture.
inline void TimeMemoryRead(benchmark::State &state, MemoryReader read,
                           const std::vector<uint8_t> &file) {
  for (auto _ : state) {
    tsl::RasterImage r;
    tsl::InitRasterImage(&r);
    r.bmp_layout = 1;
    if (read(file.data(), file.size(), &r) != tsl::RASTER_OK) state.SkipWithError("read failed");
    tsl::FreeRasterImage(&r);
  }
}

}  // namespace tslbench

#endif
