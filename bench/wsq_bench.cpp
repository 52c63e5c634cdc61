// WSQ encode/decode of ridge images against OpenJPEG (irreversible 9/7 at the
// same compressed size) on the same images, single-threaded: plain ridges and
// ridges inside a pale margin a tenth of the width and height wide, as on a
// scanned card. The decoder's peak heap use is counted by the allocation
// hooks below over one extra decode and reported per pixel, output left out.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "tessaly.h"

// ---- Heap counting -------------------------------------------------------------
// The executable's malloc family takes every allocation of the process
// (operator new and the libraries included) and hands it to the C library's;
// while counting is on, the bytes live and their peak are tracked by usable
// size. Only what is allocated and released between Start and Stop counts.
extern "C" {
void *__libc_malloc(size_t n);
void *__libc_calloc(size_t n, size_t size);
void *__libc_realloc(void *p, size_t n);
void __libc_free(void *p);
}

namespace {

struct HeapCount {
  bool on = false;
  long long live = 0;
  long long peak = 0;
};
HeapCount g_heap;

inline void Counted(void *p) {
  if (!g_heap.on || !p) return;
  g_heap.live += static_cast<long long>(malloc_usable_size(p));
  g_heap.peak = std::max(g_heap.peak, g_heap.live);
}

inline void Released(void *p) {
  if (g_heap.on && p) g_heap.live -= static_cast<long long>(malloc_usable_size(p));
}

void StartCounting() { g_heap = {true, 0, 0}; }
long long StopCounting() {
  g_heap.on = false;
  return g_heap.peak;
}

}  // namespace

extern "C" {
void *malloc(size_t n) noexcept {
  void *p = __libc_malloc(n);
  Counted(p);
  return p;
}
void *calloc(size_t n, size_t size) noexcept {
  void *p = __libc_calloc(n, size);
  Counted(p);
  return p;
}
void *realloc(void *p, size_t n) noexcept {
  Released(p);
  void *q = __libc_realloc(p, n);
  Counted(q ? q : (n ? p : nullptr));
  return q;
}
void free(void *p) noexcept {
  Released(p);
  __libc_free(p);
}
}

namespace {

using Bytes = std::vector<uint8_t>;

// Fingerprint-like ridges with noise (the test images' recipe).
Bytes Ridges(int width, int height) {
  Bytes img(static_cast<size_t>(width) * height);
  uint64_t s = 1;
  const double cx = width * 0.5, cy = height * 0.55;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      s ^= s << 13;
      s ^= s >> 7;
      s ^= s << 17;
      double dx = x - cx, dy = (y - cy) * 1.2;
      double r = std::sqrt(dx * dx + dy * dy);
      double period = 8.0 + 2.0 * std::sin(0.01 * (x + 2 * y));
      double ridge = std::sin(2 * M_PI * r / period + 0.3 * std::sin(0.05 * x));
      double v = 128 + 90 * ridge + static_cast<double>(s % 31) - 15;
      img[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
  }
  return img;
}

// The ridges inside a pale, faintly noisy margin a tenth of each side wide.
Bytes PaleMargin(int width, int height) {
  Bytes img = Ridges(width, height);
  const int mx = width / 10, my = height / 10;
  uint64_t s = 7;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (x >= mx && x < width - mx && y >= my && y < height - my) continue;
      s ^= s << 13;
      s ^= s >> 7;
      s ^= s << 17;
      img[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(230 + s % 5);
    }
  }
  return img;
}

// kind 0: ridges; 1: ridges in a pale margin.
const Bytes &Image(int side, int kind) {
  static std::map<std::pair<int, int>, Bytes> cache;
  auto it = cache.find({side, kind});
  if (it == cache.end())
    it = cache.emplace(std::pair{side, kind}, kind ? PaleMargin(side, side) : Ridges(side, side))
             .first;
  return it->second;
}

constexpr double kRate = 0.75;

Bytes WsqEncode(const Bytes &px, int side) {
  unsigned char *out = nullptr;
  int len = 0;
  if (WSQ_encode_stream(px.data(), side, side, kRate, 500, nullptr, &out, &len) != 1) return {};
  Bytes s(out, out + len);
  free(out);
  return s;
}

// ---- OpenJPEG over memory ------------------------------------------------------

struct MemStream {
  Bytes data;
  size_t pos = 0;
};

OPJ_SIZE_T MemRead(void *buf, OPJ_SIZE_T n, void *user) {
  MemStream *m = static_cast<MemStream *>(user);
  if (m->pos >= m->data.size()) return static_cast<OPJ_SIZE_T>(-1);
  size_t k = std::min(n, m->data.size() - m->pos);
  memcpy(buf, m->data.data() + m->pos, k);
  m->pos += k;
  return k;
}

OPJ_SIZE_T MemWrite(void *buf, OPJ_SIZE_T n, void *user) {
  MemStream *m = static_cast<MemStream *>(user);
  if (m->pos + n > m->data.size()) m->data.resize(m->pos + n);
  memcpy(m->data.data() + m->pos, buf, n);
  m->pos += n;
  return n;
}

OPJ_OFF_T MemSkip(OPJ_OFF_T n, void *user) {
  MemStream *m = static_cast<MemStream *>(user);
  m->pos += n;
  return n;
}

OPJ_BOOL MemSeek(OPJ_OFF_T n, void *user) {
  static_cast<MemStream *>(user)->pos = static_cast<size_t>(n);
  return OPJ_TRUE;
}

opj_stream_t *Stream(MemStream *m, bool input) {
  opj_stream_t *s = opj_stream_create(1 << 16, input ? OPJ_TRUE : OPJ_FALSE);
  opj_stream_set_user_data(s, m, nullptr);
  opj_stream_set_user_data_length(s, m->data.size());
  opj_stream_set_read_function(s, MemRead);
  opj_stream_set_write_function(s, MemWrite);
  opj_stream_set_skip_function(s, MemSkip);
  opj_stream_set_seek_function(s, MemSeek);
  return s;
}

// J2K codestream of a grey image at a target size in bytes.
Bytes J2kEncode(const Bytes &px, int side, size_t target) {
  opj_cparameters_t p;
  opj_set_default_encoder_parameters(&p);
  p.irreversible = 1;
  p.tcp_numlayers = 1;
  p.tcp_rates[0] = static_cast<float>(static_cast<double>(px.size()) / target);
  p.cp_disto_alloc = 1;
  opj_image_cmptparm_t cp{};
  cp.dx = cp.dy = 1;
  cp.w = cp.h = side;
  cp.prec = 8;
  cp.sgnd = 0;
  opj_image_t *img = opj_image_create(1, &cp, OPJ_CLRSPC_GRAY);
  img->x1 = img->y1 = side;
  for (size_t i = 0; i < px.size(); ++i) img->comps[0].data[i] = px[i];
  opj_codec_t *codec = opj_create_compress(OPJ_CODEC_J2K);
  MemStream m;
  opj_stream_t *s = Stream(&m, false);
  bool ok = opj_setup_encoder(codec, &p, img) && opj_start_compress(codec, img, s) &&
            opj_encode(codec, s) && opj_end_compress(codec, s);
  opj_stream_destroy(s);
  opj_destroy_codec(codec);
  opj_image_destroy(img);
  return ok ? m.data : Bytes{};
}

bool J2kDecode(const Bytes &j2k, Bytes *px) {
  MemStream m;
  m.data = j2k;
  opj_dparameters_t p;
  opj_set_default_decoder_parameters(&p);
  opj_codec_t *codec = opj_create_decompress(OPJ_CODEC_J2K);
  opj_stream_t *s = Stream(&m, true);
  opj_image_t *img = nullptr;
  bool ok = opj_setup_decoder(codec, &p) && opj_read_header(s, codec, &img) &&
            opj_decode(codec, s, img) && opj_end_decompress(codec, s);
  if (ok) {
    const size_t n = static_cast<size_t>(img->comps[0].w) * img->comps[0].h;
    px->resize(n);
    for (size_t i = 0; i < n; ++i) (*px)[i] = static_cast<uint8_t>(img->comps[0].data[i]);
  }
  opj_stream_destroy(s);
  opj_destroy_codec(codec);
  if (img) opj_image_destroy(img);
  return ok;
}

// ---- Benchmarks --------------------------------------------------------------------

void BM_WsqEncode(benchmark::State &state) {
  const int side = static_cast<int>(state.range(0));
  const Bytes &px = Image(side, static_cast<int>(state.range(1)));
  size_t bytes = 0;
  for (auto _ : state) {
    Bytes s = WsqEncode(px, side);
    if (s.empty()) state.SkipWithError("encode failed");
    bytes = s.size();
    benchmark::DoNotOptimize(s.data());
  }
  state.counters["bytes"] = static_cast<double>(bytes);
  state.counters["bpp"] = 8.0 * bytes / px.size();
}

// Peak heap bytes above the output, per pixel, of one decode.
double PeakPerPixel(void (*decode)(const Bytes &), const Bytes &stream, int side) {
  StartCounting();
  decode(stream);
  const double pixels = static_cast<double>(side) * side;
  return (static_cast<double>(StopCounting()) - pixels) / pixels;
}

void WsqDecodeOnce(const Bytes &s) {
  unsigned char *out = nullptr;
  int w, h, ppi;
  if (WSQ_decode_stream(s.data(), static_cast<int>(s.size()), &out, &w, &h, &ppi, nullptr) != 1)
    abort();
  free(out);
}

void BM_WsqDecode(benchmark::State &state) {
  const int side = static_cast<int>(state.range(0));
  const Bytes s = WsqEncode(Image(side, static_cast<int>(state.range(1))), side);
  for (auto _ : state) {
    unsigned char *out = nullptr;
    int w, h, ppi;
    if (WSQ_decode_stream(s.data(), static_cast<int>(s.size()), &out, &w, &h, &ppi, nullptr) != 1)
      state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out);
    free(out);
  }
  state.counters["ns_per_px"] = benchmark::Counter(
      static_cast<double>(side) * side, benchmark::Counter::kIsIterationInvariantRate |
                                            benchmark::Counter::kInvert);
  state.counters["peak_B_per_px"] = PeakPerPixel(WsqDecodeOnce, s, side);
}

// A stream whose frame header declares 23170 x 23170 pixels while its blocks
// carry a side x side image: refused at the cost of reading the stream.
void BM_WsqRefuseRaisedFrame(benchmark::State &state) {
  const int side = static_cast<int>(state.range(0));
  Bytes s = WsqEncode(Image(side, 0), side);
  for (size_t i = 0; i + 9 < s.size(); ++i) {
    if (s[i] != 0xFF || s[i + 1] != 0xA2) continue;
    for (size_t k : {6, 7, 8, 9}) s[i + k] = k % 2 ? 0x82 : 0x5A;
    break;
  }
  for (auto _ : state) {
    unsigned char *out = nullptr;
    int w, h, ppi;
    if (WSQ_decode_stream(s.data(), static_cast<int>(s.size()), &out, &w, &h, &ppi, nullptr) >= 0)
      state.SkipWithError("raised frame decoded");
    free(out);
  }
  state.counters["bytes"] = static_cast<double>(s.size());
}

void BM_OpenJpegEncode(benchmark::State &state) {
  const int side = static_cast<int>(state.range(0));
  const Bytes &px = Image(side, static_cast<int>(state.range(1)));
  const size_t target = WsqEncode(px, side).size();
  size_t bytes = 0;
  for (auto _ : state) {
    Bytes j = J2kEncode(px, side, target);
    if (j.empty()) state.SkipWithError("encode failed");
    bytes = j.size();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
  state.counters["bpp"] = 8.0 * bytes / px.size();
}

void BM_OpenJpegDecode(benchmark::State &state) {
  const int side = static_cast<int>(state.range(0));
  const Bytes &px = Image(side, static_cast<int>(state.range(1)));
  const Bytes j = J2kEncode(px, side, WsqEncode(px, side).size());
  Bytes out;
  for (auto _ : state) {
    if (!J2kDecode(j, &out)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["ns_per_px"] = benchmark::Counter(
      static_cast<double>(side) * side, benchmark::Counter::kIsIterationInvariantRate |
                                            benchmark::Counter::kInvert);
}

// Arguments: side, image (0 ridges, 1 ridges in a pale margin).
void Sides(benchmark::internal::Benchmark *b, std::initializer_list<int> sides) {
  b->ArgNames({"side", "margin"})->Unit(benchmark::kMillisecond);
  for (int side : sides)
    for (int kind : {0, 1}) b->Args({side, kind});
}

BENCHMARK(BM_WsqEncode)->Apply([](auto *b) { Sides(b, {1000, 2000}); });
BENCHMARK(BM_OpenJpegEncode)->Apply([](auto *b) { Sides(b, {1000, 2000}); });
BENCHMARK(BM_WsqDecode)->Apply([](auto *b) { Sides(b, {1000, 2000, 4000}); });
BENCHMARK(BM_OpenJpegDecode)->Apply([](auto *b) { Sides(b, {1000, 2000, 4000}); });
BENCHMARK(BM_WsqRefuseRaisedFrame)->Arg(500)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
