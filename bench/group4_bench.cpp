// Group 4 coding and decoding of a fingerprint card page (2550 x 3300 at
// 300 ppi: mostly white, form lines, text and ten ridge boxes), ours against
// libtiff's fax codec on the same page in the same run; and the same page
// as a grey image through the exported Type-8 Group 4 writer and reader,
// against libtiff's codec plus a plain packing or unpacking loop.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "group4_reference.h"
#include "nist/group4.h"
#include "tessaly.h"

namespace {

constexpr int kWidth = 2550;
constexpr int kHeight = 3300;
constexpr size_t kRowBytes = (kWidth + 7) / 8;

struct Page {
  std::vector<uint8_t> rows = std::vector<uint8_t>(kRowBytes * kHeight);
  void Set(int x, int y) {
    if (x >= 0 && y >= 0 && x < kWidth && y < kHeight)
      rows[y * kRowBytes + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  }
  void Box(int x0, int y0, int x1, int y1, int t) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        if (y < y0 + t || y >= y1 - t || x < x0 + t || x >= x1 - t) Set(x, y);
  }
};

uint32_t Next(uint64_t &s) {
  s ^= s << 13;
  s ^= s >> 7;
  s ^= s << 17;
  return static_cast<uint32_t>(s >> 16);
}

// Glyph-sized stroke patterns in lines of text.
void Text(Page &p, int x0, int y0, int chars, uint64_t &seed) {
  for (int c = 0; c < chars; ++c) {
    int gx = x0 + c * 22;
    if (Next(seed) % 7 == 0) continue;  // word gap
    for (int s = 0; s < 3; ++s) {
      int kind = Next(seed) % 3, off = Next(seed) % 14;
      for (int i = 0; i < 28; ++i)
        for (int t = 0; t < 3; ++t) {
          if (kind == 0 && i < 16) p.Set(gx + i, y0 + off + t);  // horizontal
          if (kind == 1) p.Set(gx + off % 14 + t, y0 + i);        // vertical
          if (kind == 2 && i < 16) p.Set(gx + i / 2 + t, y0 + i);  // slanted
        }
    }
  }
}

// Curved ridges of a finger inside an ellipse.
void Ridges(Page &p, int cx, int cy, int rx, int ry, double phase) {
  for (int y = cy - ry; y < cy + ry; ++y)
    for (int x = cx - rx; x < cx + rx; ++x) {
      double dx = (x - cx) / static_cast<double>(rx), dy = (y - cy) / static_cast<double>(ry);
      if (dx * dx + dy * dy > 1) continue;
      double r = std::hypot(x - cx, (y - cy - ry * 0.3) * 1.3);
      double v = std::sin(r / 1.6 + 0.004 * (x - cx) * (x - cx) / 10 + phase);
      if (v > 0.15) p.Set(x, y);
    }
}

const Page &CardPage() {
  static const Page page = [] {
    Page p;
    uint64_t seed = 0x2545F4914F6CDD1Dull;
    p.Box(60, 60, kWidth - 60, kHeight - 60, 4);
    for (int line = 0; line < 14; ++line) Text(p, 120, 120 + line * 60, 95, seed);
    for (int row = 0; row < 2; ++row)
      for (int col = 0; col < 5; ++col) {
        int x0 = 90 + col * 480, y0 = 1100 + row * 620;
        p.Box(x0, y0, x0 + 470, y0 + 600, 3);
        Text(p, x0 + 10, y0 + 10, 8, seed);
        Ridges(p, x0 + 235, y0 + 320, 150, 210, col + row * 5);
      }
    for (int line = 0; line < 12; ++line) Text(p, 120, 2400 + line * 60, 95, seed);
    return p;
  }();
  return page;
}

std::vector<uint8_t> OurStream() {
  const Page &p = CardPage();
  size_t cap = tsl::Group4WorstCaseBytes(kWidth, kHeight), len = 0;
  std::vector<uint8_t> out(cap);
  tsl::grp4comp_grp4comp(p.rows.data(), p.rows.size(), kWidth, kHeight, out.data(), cap, &len);
  out.resize(len);
  return out;
}

void BM_Group4Encode_Tessaly(benchmark::State &state) {
  const Page &p = CardPage();
  size_t cap = tsl::Group4WorstCaseBytes(kWidth, kHeight), len = 0;
  std::vector<uint8_t> out(cap);
  if (OurStream() != g4ref::Encode(p.rows, kWidth, kHeight)) {
    state.SkipWithError("stream differs from libtiff's");
    return;
  }
  for (auto _ : state) {
    tsl::grp4comp_grp4comp(p.rows.data(), p.rows.size(), kWidth, kHeight, out.data(), cap, &len);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["coded_bytes"] = static_cast<double>(len);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(p.rows.size()));
}

void BM_Group4Encode_Libtiff(benchmark::State &state) {
  g4ref::Quiet();
  Page p = CardPage();  // libtiff takes a non-const buffer
  g4ref::MemFile file;
  file.data.reserve(1 << 22);
  for (auto _ : state) {
    file.data.clear();
    TIFF *t = g4ref::Open(&file, "w");
    g4ref::SetFields(t, kWidth, kHeight);
    TIFFWriteEncodedStrip(t, 0, p.rows.data(), static_cast<tmsize_t>(p.rows.size()));
    TIFFClose(t);
    benchmark::DoNotOptimize(file.data.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(p.rows.size()));
}

void BM_Group4Decode_Tessaly(benchmark::State &state) {
  std::vector<uint8_t> stream = OurStream();
  std::vector<uint8_t> bits((static_cast<size_t>(kWidth) * kHeight + 7) / 8);
  int rows = 0;
  for (auto _ : state) {
    tsl::grp4deco_grp4decomp(stream.data(), stream.size(), kWidth, kHeight, bits.data(),
                             bits.size(), &rows);
    benchmark::DoNotOptimize(bits.data());
  }
  if (rows != kHeight) state.SkipWithError("decoding failed");
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kRowBytes * kHeight));
}

void BM_Group4Decode_Libtiff(benchmark::State &state) {
  g4ref::Quiet();
  g4ref::MemFile file;
  g4ref::WrapStream(OurStream(), kWidth, kHeight, &file);
  std::vector<uint8_t> rows(kRowBytes * kHeight);
  for (auto _ : state) {
    TIFF *t = g4ref::Open(&file, "rm");
    TIFFReadEncodedStrip(t, 0, rows.data(), static_cast<tmsize_t>(rows.size()));
    TIFFClose(t);
    benchmark::DoNotOptimize(rows.data());
  }
  if (rows != CardPage().rows) state.SkipWithError("libtiff decoded another page");
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(rows.size()));
}

// The card page as a scanned grey image: dark pixels 0 to 119, light ones
// 160 to 255, so the threshold at 128 decides every pixel.
const std::vector<uint8_t> &GreyPage() {
  static const std::vector<uint8_t> grey = [] {
    const Page &p = CardPage();
    std::vector<uint8_t> g(static_cast<size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const bool dark = (p.rows[y * kRowBytes + x / 8] >> (7 - x % 8)) & 1;
        g[static_cast<size_t>(y) * kWidth + x] =
            static_cast<uint8_t>(dark ? (x * 7 + y * 3) % 120 : 160 + (x * 5 + y) % 96);
      }
    return g;
  }();
  return grey;
}

void BM_Type8Group4Write_Tessaly(benchmark::State &state) {
  const std::vector<uint8_t> &grey = GreyPage();
  SetNISTType8ImageColorInversion(0, 0, 0, 1);
  unsigned char *out = nullptr;
  int len = 0;
  CreateNISTType8CompressedBinaryFieldfromImage(grey.data(), kWidth, kHeight, &out, &len);
  if (std::vector<uint8_t>(out, out + len) != OurStream()) {
    state.SkipWithError("writer's stream differs from the page's");
    return;
  }
  for (auto _ : state) {
    CreateNISTType8CompressedBinaryFieldfromImage(grey.data(), kWidth, kHeight, &out, &len);
    benchmark::DoNotOptimize(out);
  }
  std::free(out);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(grey.size()));
}

// Packs grey pixels into rows, dark (128 or below) as 1 bits, the way a
// caller of libtiff would, then codes them.
void BM_Type8Group4Write_Libtiff(benchmark::State &state) {
  g4ref::Quiet();
  const std::vector<uint8_t> &grey = GreyPage();
  std::vector<uint8_t> rows(kRowBytes * kHeight);
  g4ref::MemFile file;
  file.data.reserve(1 << 22);
  for (auto _ : state) {
    for (size_t y = 0; y < kHeight; ++y) {
      const uint8_t *src = grey.data() + y * kWidth;
      uint8_t *row = rows.data() + y * kRowBytes;
      uint8_t acc = 0;
      for (size_t x = 0; x < kWidth; ++x) {
        acc = static_cast<uint8_t>((acc << 1) | (src[x] <= 128));
        if (x % 8 == 7) row[x / 8] = acc, acc = 0;
      }
      if (kWidth % 8) row[kRowBytes - 1] = static_cast<uint8_t>(acc << (8 - kWidth % 8));
    }
    file.data.clear();
    TIFF *t = g4ref::Open(&file, "w");
    g4ref::SetFields(t, kWidth, kHeight);
    TIFFWriteEncodedStrip(t, 0, rows.data(), static_cast<tmsize_t>(rows.size()));
    TIFFClose(t);
    benchmark::DoNotOptimize(file.data.data());
  }
  if (rows != CardPage().rows) state.SkipWithError("packed another page");
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(grey.size()));
}

void BM_Type8Group4Read_Tessaly(benchmark::State &state) {
  std::vector<uint8_t> stream = OurStream();
  SetNISTType8ImageColorInversion(0, 0, 0, 1);
  const unsigned char *img = nullptr;
  for (auto _ : state) {
    img = CreateImageFromNISTType8CompressedBinaryField(stream.data(),
                                                        static_cast<int>(stream.size()), kWidth,
                                                        kHeight);
    benchmark::DoNotOptimize(img);
  }
  const std::vector<uint8_t> &grey = GreyPage();
  for (size_t i = 0; img && i < grey.size(); ++i)
    if ((img[i] == 0) != (grey[i] <= 128)) img = nullptr;
  if (!img) state.SkipWithError("reader returned another page");
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(grey.size()));
}

// Decodes with libtiff, then unpacks 1 bits to 0 and 0 bits to 255.
void BM_Type8Group4Read_Libtiff(benchmark::State &state) {
  g4ref::Quiet();
  g4ref::MemFile file;
  g4ref::WrapStream(OurStream(), kWidth, kHeight, &file);
  std::vector<uint8_t> rows(kRowBytes * kHeight), img(static_cast<size_t>(kWidth) * kHeight);
  for (auto _ : state) {
    TIFF *t = g4ref::Open(&file, "rm");
    TIFFReadEncodedStrip(t, 0, rows.data(), static_cast<tmsize_t>(rows.size()));
    TIFFClose(t);
    for (size_t y = 0; y < kHeight; ++y) {
      const uint8_t *row = rows.data() + y * kRowBytes;
      uint8_t *dst = img.data() + y * kWidth;
      for (size_t x = 0; x < kWidth; ++x) dst[x] = (row[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;
    }
    benchmark::DoNotOptimize(img.data());
  }
  const std::vector<uint8_t> &grey = GreyPage();
  for (size_t i = 0; i < grey.size(); ++i)
    if ((img[i] == 0) != (grey[i] <= 128)) {
      state.SkipWithError("libtiff decoded another page");
      break;
    }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(grey.size()));
}

BENCHMARK(BM_Group4Encode_Tessaly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Group4Encode_Libtiff)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Group4Decode_Tessaly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Group4Decode_Libtiff)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Type8Group4Write_Tessaly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Type8Group4Write_Libtiff)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Type8Group4Read_Tessaly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Type8Group4Read_Libtiff)->Unit(benchmark::kMillisecond);

}  // namespace
