// The decoder's synthesis, one sweep per step.
//
// A step's output row k is the column synthesis of its input rows (the
// terms the plan of its column length names) followed by the row synthesis
// of that row. Both are made per output row: the column sums go into a
// one-row buffer, the row sums out of it into the image, so each step reads
// and writes its region once and the working set is a few rows, whatever
// the image size. Working in place, an input row whose place an output row
// takes before its last use is first copied aside.
//
// Every output keeps the walk's terms in the walk's order, one rounded
// multiply and one rounded add per term; vector lanes only hold different
// outputs. Row outputs in the inside of a line, where the terms repeat with
// the position, are made in vectors straight along the row; the few at the
// line ends one by one from the plan.
#include "wsq/synthesis.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/checked.h"
#include "wsq/wavelet.h"

namespace tsl {

bool ZeroRows::Reset(const QTreeEntry q_tree[]) {
  size_t total = 0;
  for (int k = 0; k < Q_TREELEN; ++k) {
    first[k] = static_cast<int>(total);
    total += static_cast<size_t>(q_tree[k].leny > 0 ? q_tree[k].leny : 0);
  }
  first[Q_TREELEN] = static_cast<int>(total);
  return CatchShortMemory(false, nullptr, [&] {
    zero = std::vector<uint8_t>(total);
    return true;
  });
}

FloatImageLayout decoder_float_layout(int width, int height) {
  // Even sides make the spare quadrant as large as the largest region it
  // must serve; rows a multiple of 16 floats keep vectors on cache lines.
  const int half_w = width - width / 2, half_h = height - height / 2;
  return {(2 * half_w + 15) / 16 * 16, 2 * half_h};
}

namespace {

typedef float V4 __attribute__((vector_size(16)));
typedef float V8 __attribute__((vector_size(32)));
typedef float V16 __attribute__((vector_size(64)));

#define TSL_INLINE inline __attribute__((always_inline))

// Vectors only ever pass by reference or pointer: the wider ones live in
// functions compiled for them, and a call by value would need their calling
// convention outside them.

// Float memory seen as one vector, at any alignment (as the compilers' own
// unaligned loads and stores do it).
template <class V>
struct __attribute__((packed, may_alias)) Unaligned {
  V v;
};
template <class V>
TSL_INLINE const Unaligned<V> &At(const float *p) {
  return *reinterpret_cast<const Unaligned<V> *>(p);
}
template <class V>
TSL_INLINE Unaligned<V> &At(float *p) {
  return *reinterpret_cast<Unaligned<V> *>(p);
}

// Every lane the float at c (written so that it becomes one broadcast).
template <class V>
TSL_INLINE void Splat(V *v, const float *c) {
  V lanes = V{};
  for (unsigned i = 0; i < sizeof(V) / sizeof(float); ++i) lanes[i] = *c;
  *v = lanes;
}

// Outputs 2j.. from the even ones e and the odd ones o.
TSL_INLINE void Zip(const V4 &e, const V4 &o, float *out) {
  At<V4>(out).v = __builtin_shufflevector(e, o, 0, 4, 1, 5);
  At<V4>(out + 4).v = __builtin_shufflevector(e, o, 2, 6, 3, 7);
}
TSL_INLINE void Zip(const V8 &e, const V8 &o, float *out) {
  At<V8>(out).v = __builtin_shufflevector(e, o, 0, 8, 1, 9, 2, 10, 3, 11);
  At<V8>(out + 8).v = __builtin_shufflevector(e, o, 4, 12, 5, 13, 6, 14, 7, 15);
}
TSL_INLINE void Zip(const V16 &e, const V16 &o, float *out) {
  At<V16>(out).v = __builtin_shufflevector(e, o, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6,
                                           22, 7, 23);
  At<V16>(out + 16).v = __builtin_shufflevector(e, o, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13,
                                                29, 14, 30, 15, 31);
}

// The inside of a line: the run of output pairs (2j, 2j+1), j in [jlo,
// jhi), whose terms read samples j + off with the same coefficients, for the
// even (0) and the odd (1) outputs, in the walk's order.
struct Inside {
  int jlo = 0, jhi = 0;
  int terms[2] = {};
  int off[2][2 * kMaxFilterTaps];
  float cf[2][2 * kMaxFilterTaps];
  bool stored[2] = {true, true};
};

// One line length and inversion: the walk's terms; the inside of the line
// with all terms, without the low-pass and without the high-pass half (for
// rows where that half is zero); the last output that reads each sample.
struct SynthPlan {
  int length = 0, inv = 0;
  LinePlan plan;
  int half_at[2] = {}, half_len[2] = {};  // low-pass, high-pass coefficients
  Inside inside[3];
  std::vector<int> last_use;
};

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Whether output k has the terms (j + off, cf) of parity `par`.
bool Matches(const LinePlan &p, const Inside &in, int k, int j, int par) {
  const int b = p.begin[k], n = p.begin[k + 1] - b;
  if (n != in.terms[par] || in.stored[par] == (p.zero_start[k] != 0)) return false;
  const int *src = p.src.data() + b, *off = in.off[par];
  const float *coef = p.coef.data() + b, *cf = in.cf[par];
  for (int t = 0; t < n; ++t)
    if (src[t] != j + off[t] || !SameBits(coef[t], cf[t])) return false;
  return true;
}

// The terms of the middle pair, and how far to both sides every pair repeats
// them; then the same inside without either half. A term's sample moves with
// the position, so when it lies in the same half at both ends of the inside
// it does everywhere between; else that form has no inside.
void FindInside(SynthPlan *sp) {
  const LinePlan &p = sp->plan;
  const int pairs = p.length / 2;
  if (pairs < 1) return;
  const int jm = pairs / 2;
  Inside &all = sp->inside[0];
  for (int par = 0; par < 2; ++par) {
    const int k = 2 * jm + par;
    all.stored[par] = !p.zero_start[k];
    // A plan output has at most the two filters' taps.
    for (int t = p.begin[k]; t < p.begin[k + 1]; ++t) {
      all.off[par][all.terms[par]] = p.src[t] - jm;
      all.cf[par][all.terms[par]++] = p.coef[t];
    }
  }
  auto pair_matches = [&](int j) {
    return Matches(p, all, 2 * j, j, 0) && Matches(p, all, 2 * j + 1, j, 1);
  };
  int lo = jm, hi = jm;
  while (hi < pairs && pair_matches(hi)) ++hi;
  if (hi == jm) return;
  while (lo > 0 && pair_matches(lo - 1)) --lo;
  all.jlo = lo;
  all.jhi = hi;
  for (int h = 0; h < 2; ++h) {
    Inside &part = sp->inside[1 + h];
    part.jlo = lo;
    part.jhi = hi;
    auto in_half = [&](int sample) {
      return sample >= sp->half_at[h] && sample < sp->half_at[h] + sp->half_len[h];
    };
    for (int par = 0; par < 2; ++par) {
      part.stored[par] = all.stored[par];
      for (int t = 0; t < all.terms[par]; ++t) {
        const int off = all.off[par][t];
        if (in_half(lo + off) != in_half(hi - 1 + off)) part.jlo = part.jhi = 0;
        if (in_half(jm + off)) {
          if (t == 0) part.stored[par] = false;
          continue;
        }
        part.off[par][part.terms[par]] = off;
        part.cf[par][part.terms[par]++] = all.cf[par][t];
      }
    }
  }
}

bool BuildPlan(SynthPlan *sp, int length, int inv, const DttTable *dtt) {
  if (!plan_join_lets(&sp->plan, length, dtt->hifilt, dtt->hisize, dtt->lofilt, dtt->losize,
                      inv))
    return false;
  sp->length = length;
  sp->inv = inv;
  const int hn = length / 2, ln = length - hn;
  sp->half_at[0] = inv ? hn : 0;
  sp->half_len[0] = ln;
  sp->half_at[1] = inv ? 0 : ln;
  sp->half_len[1] = hn;
  const LinePlan &p = sp->plan;
  sp->last_use = std::vector<int>(static_cast<size_t>(length), -1);
  for (int k = 0; k < length; ++k)
    for (int t = p.begin[k]; t < p.begin[k + 1]; ++t) sp->last_use[p.src[t]] = k;
  FindInside(sp);
  return true;
}

// Plans of one synthesis, one per line length and inversion the steps use
// (at most two per step), made as they are first asked for.
class PlanCache {
 public:
  explicit PlanCache(const DttTable *dtt) : dtt_(dtt) {}
  // Null when the filters do not fit lines of this length.
  const SynthPlan *Find(int length, int inv) {
    for (int i = 0; i < count_; ++i)
      if (plans_[i]->length == length && plans_[i]->inv == inv) return plans_[i].get();
    if (count_ == kMaxPlans) return nullptr;
    auto plan = std::make_unique<SynthPlan>();
    if (!BuildPlan(plan.get(), length, inv, dtt_)) return nullptr;
    plans_[count_] = std::move(plan);
    return plans_[count_++].get();
  }

 private:
  static constexpr int kMaxPlans = 2 * W_TREELEN;
  const DttTable *dtt_;
  int count_ = 0;
  std::unique_ptr<SynthPlan> plans_[kMaxPlans];
};

// ---- Kernels -----------------------------------------------------------------

// Output k of a plan from the line `in`, as the walk sums it.
inline float OneOutput(const LinePlan &p, int k, const float *in) {
  int t = p.begin[k];
  const int e = p.begin[k + 1];
  float v = 0.0f;
  if (!p.zero_start[k]) {
    v = p.coef[t] * in[p.src[t]];
    ++t;
  }
  for (; t < e; ++t) v += p.coef[t] * in[p.src[t]];
  return v;
}

// The same leaving out the terms that read samples [skip_at, skip_at +
// skip_len) (known zeros): when the first term goes, the sum starts from zero.
inline float OneOutput(const LinePlan &p, int k, const float *in, int skip_at, int skip_len) {
  int t = p.begin[k];
  const int e = p.begin[k + 1];
  auto skipped = [&](int src) { return src >= skip_at && src < skip_at + skip_len; };
  float v = 0.0f;
  if (t < e && skipped(p.src[t])) {
    ++t;
  } else if (!p.zero_start[k]) {
    v = p.coef[t] * in[p.src[t]];
    ++t;
  }
  for (; t < e; ++t)
    if (!skipped(p.src[t])) v += p.coef[t] * in[p.src[t]];
  return v;
}

// n column outputs: out[x] = sum over t of cf[t] * src[t][x], from cf[0] *
// src[0][x] when `stored`, else from zero; eight vectors at a time keep
// enough sums in flight.
template <class V>
TSL_INLINE void ColumnSums(float *out, const float *const *src, const float *cf, int nt,
                           bool stored, int n) {
  constexpr int W = sizeof(V) / sizeof(float);
  const int first = stored ? 1 : 0;
  int x = 0;
  V f;
  for (; x + 8 * W <= n; x += 8 * W) {
    V a0 = V{}, a1 = V{}, a2 = V{}, a3 = V{}, a4 = V{}, a5 = V{}, a6 = V{}, a7 = V{};
    if (stored) {
      Splat(&f, &cf[0]);
      const float *s = src[0] + x;
      a0 = f * At<V>(s).v;
      a1 = f * At<V>(s + W).v;
      a2 = f * At<V>(s + 2 * W).v;
      a3 = f * At<V>(s + 3 * W).v;
      a4 = f * At<V>(s + 4 * W).v;
      a5 = f * At<V>(s + 5 * W).v;
      a6 = f * At<V>(s + 6 * W).v;
      a7 = f * At<V>(s + 7 * W).v;
    }
    for (int t = first; t < nt; ++t) {
      Splat(&f, &cf[t]);
      const float *s = src[t] + x;
      a0 += f * At<V>(s).v;
      a1 += f * At<V>(s + W).v;
      a2 += f * At<V>(s + 2 * W).v;
      a3 += f * At<V>(s + 3 * W).v;
      a4 += f * At<V>(s + 4 * W).v;
      a5 += f * At<V>(s + 5 * W).v;
      a6 += f * At<V>(s + 6 * W).v;
      a7 += f * At<V>(s + 7 * W).v;
    }
    float *o = out + x;
    At<V>(o).v = a0;
    At<V>(o + W).v = a1;
    At<V>(o + 2 * W).v = a2;
    At<V>(o + 3 * W).v = a3;
    At<V>(o + 4 * W).v = a4;
    At<V>(o + 5 * W).v = a5;
    At<V>(o + 6 * W).v = a6;
    At<V>(o + 7 * W).v = a7;
  }
  // The last vector may overlap the one before: its outputs come out the same.
  if (x < n && n >= W) {
    for (;; x += W) {
      if (x + W > n) x = n - W;
      V a = V{};
      if (stored) {
        Splat(&f, &cf[0]);
        a = f * At<V>(src[0] + x).v;
      }
      for (int t = first; t < nt; ++t) {
        Splat(&f, &cf[t]);
        a += f * At<V>(src[t] + x).v;
      }
      At<V>(out + x).v = a;
      if (x + W == n) return;
    }
  }
  for (; x < n; ++x) {
    float v = stored ? cf[0] * src[0][x] : 0.0f;
    for (int t = first; t < nt; ++t) v += cf[t] * src[t][x];
    out[x] = v;
  }
}

// Even (par 0) or odd outputs of the pairs from j on: the sums over the
// terms of that parity, four vectors of pairs (s[0..3]) or one (s[0]).
template <class V>
TSL_INLINE void PairSums4(const Inside &f, int par, const float *in, int j, V *s) {
  constexpr int W = sizeof(V) / sizeof(float);
  const int nt = f.terms[par];
  const int *off = f.off[par];
  const float *cf = f.cf[par];
  V c, a0 = V{}, a1 = V{}, a2 = V{}, a3 = V{};
  int t = 0;
  if (f.stored[par] && nt > 0) {
    Splat(&c, &cf[0]);
    const float *p = in + j + off[0];
    a0 = c * At<V>(p).v;
    a1 = c * At<V>(p + W).v;
    a2 = c * At<V>(p + 2 * W).v;
    a3 = c * At<V>(p + 3 * W).v;
    t = 1;
  }
  for (; t < nt; ++t) {
    Splat(&c, &cf[t]);
    const float *p = in + j + off[t];
    a0 += c * At<V>(p).v;
    a1 += c * At<V>(p + W).v;
    a2 += c * At<V>(p + 2 * W).v;
    a3 += c * At<V>(p + 3 * W).v;
  }
  s[0] = a0;
  s[1] = a1;
  s[2] = a2;
  s[3] = a3;
}

template <class V>
TSL_INLINE void PairSums1(const Inside &f, int par, const float *in, int j, V *s) {
  const int nt = f.terms[par];
  const int *off = f.off[par];
  const float *cf = f.cf[par];
  V c, a = V{};
  int t = 0;
  if (f.stored[par] && nt > 0) {
    Splat(&c, &cf[0]);
    a = c * At<V>(in + j + off[0]).v;
    t = 1;
  }
  for (; t < nt; ++t) {
    Splat(&c, &cf[t]);
    a += c * At<V>(in + j + off[t]).v;
  }
  *s = a;
}

// The inside of a line, 2 W outputs a vector, four vectors at a time while
// they last; returns the first pair not done.
template <class V>
TSL_INLINE int InsideSums(const Inside &f, const float *in, float *out) {
  constexpr int W = sizeof(V) / sizeof(float);
  int j = f.jlo;
  V e[4], o[4];
  for (; j + 4 * W <= f.jhi; j += 4 * W) {
    PairSums4(f, 0, in, j, e);
    PairSums4(f, 1, in, j, o);
    Zip(e[0], o[0], out + 2 * j);
    Zip(e[1], o[1], out + 2 * (j + W));
    Zip(e[2], o[2], out + 2 * (j + 2 * W));
    Zip(e[3], o[3], out + 2 * (j + 3 * W));
  }
  if (j == f.jhi || f.jhi - f.jlo < W) return j;
  // The last vector may overlap the one before: its outputs come out the same.
  for (;; j += W) {
    if (j + W > f.jhi) j = f.jhi - W;
    PairSums1(f, 0, in, j, e);
    PairSums1(f, 1, in, j, o);
    Zip(e[0], o[0], out + 2 * j);
    if (j + W == f.jhi) return f.jhi;
  }
}

struct Kernels {
  void (*column)(float *out, const float *const *src, const float *cf, int nt, bool stored,
                 int n);
  int (*inside)(const Inside &f, const float *in, float *out);
};

void ColumnSums4(float *out, const float *const *src, const float *cf, int nt, bool stored,
                 int n) {
  ColumnSums<V4>(out, src, cf, nt, stored, n);
}
int InsideSums4(const Inside &f, const float *in, float *out) {
  return InsideSums<V4>(f, in, out);
}

const Kernels kKernels4 = {ColumnSums4, InsideSums4};

// The sixteen-lane sums for the processor's base instruction set.
void ColumnSums16Anywhere(float *out, const float *const *src, const float *cf, int nt,
                          bool stored, int n) {
  ColumnSums<V16>(out, src, cf, nt, stored, n);
}
int InsideSums16Anywhere(const Inside &f, const float *in, float *out) {
  return InsideSums<V16>(f, in, out);
}

const Kernels kKernels16Anywhere = {ColumnSums16Anywhere, InsideSums16Anywhere};

#if defined(__x86_64__) || defined(__i386__)
// The same eight or sixteen lanes wide where the processor has them: the
// lanes do the same single-precision multiplies and adds, rounded the same.
__attribute__((target("avx2"))) void ColumnSums8(float *out, const float *const *src,
                                                 const float *cf, int nt, bool stored, int n) {
  ColumnSums<V8>(out, src, cf, nt, stored, n);
}
__attribute__((target("avx2"))) int InsideSums8(const Inside &f, const float *in, float *out) {
  return InsideSums<V8>(f, in, out);
}
__attribute__((target("avx512f"))) void ColumnSums16(float *out, const float *const *src,
                                                     const float *cf, int nt, bool stored,
                                                     int n) {
  ColumnSums<V16>(out, src, cf, nt, stored, n);
}
__attribute__((target("avx512f"))) int InsideSums16(const Inside &f, const float *in,
                                                    float *out) {
  return InsideSums<V16>(f, in, out);
}

const Kernels kKernels8 = {ColumnSums8, InsideSums8};
const Kernels kKernels16 = {ColumnSums16, InsideSums16};

const Kernels &PickKernels(SynthesisLanes lanes) {
  if (lanes == SynthesisLanes::kSixteenAnywhere) return kKernels16Anywhere;
  static const int widest = __builtin_cpu_supports("avx512f") ? 16
                            : __builtin_cpu_supports("avx2")  ? 8
                                                              : 4;
  const int most = lanes == SynthesisLanes::kFour    ? 4
                   : lanes == SynthesisLanes::kEight ? 8
                                                     : 16;
  const int use = widest < most ? widest : most;
  return use == 16 ? kKernels16 : use == 8 ? kKernels8 : kKernels4;
}
#else
const Kernels &PickKernels(SynthesisLanes lanes) {
  return lanes == SynthesisLanes::kSixteenAnywhere ? kKernels16Anywhere : kKernels4;
}
#endif

// One row from the column sums `in` into `out`: all terms (form 0), or
// without the low-pass (1) or the high-pass (2) half.
void RowSums(const Kernels &kern, const SynthPlan &sp, int form, const float *in, float *out) {
  const Inside &f = sp.inside[form];
  const LinePlan &p = sp.plan;
  int k = 0;
  if (form == 0) {
    for (; k < 2 * f.jlo; ++k) out[k] = OneOutput(p, k, in);
    if (f.jhi > f.jlo) k = 2 * kern.inside(f, in, out);
    for (; k < sp.length; ++k) out[k] = OneOutput(p, k, in);
    return;
  }
  const int skip_at = sp.half_at[form - 1], skip_len = sp.half_len[form - 1];
  for (; k < 2 * f.jlo; ++k) out[k] = OneOutput(p, k, in, skip_at, skip_len);
  if (f.jhi > f.jlo) k = 2 * kern.inside(f, in, out);
  for (; k < sp.length; ++k) out[k] = OneOutput(p, k, in, skip_at, skip_len);
}

void Zeros(float *p, int n) {
  for (int i = 0; i < n; ++i) p[i] = 0.0f;
}

// Where rows set aside go: slots `pitch` floats apart, as many and as wide
// as the steps need.
struct Spare {
  float *base = nullptr;
  size_t pitch = 0;
};

// Rows a step in place must set aside: those an output overwrites before a
// later output reads them.
int RowsToKeep(const SynthPlan &cols) {
  int n = 0;
  for (int r = 0; r < cols.length; ++r) n += cols.last_use[r] > r;
  return n;
}

// Everything one step needs besides its plans, sized for the largest step.
struct StepWork {
  StepWork(int width, int height)
      : rows(static_cast<size_t>(height)), sums(static_cast<size_t>(width)),
        out(static_cast<size_t>(width)), zin(2 * static_cast<size_t>(height)),
        cover(2 * static_cast<size_t>(height)) {}
  const Kernels *kern = nullptr;
  std::vector<const float *> rows;  // where each input row lives now
  std::vector<float> sums, out;     // column sums of one row; one output row
  std::vector<uint8_t> zin;         // per input row and half: known zero
  std::vector<int> cover;
};

// Step s: output row k from the column sums of its input rows, then the row
// sums; in place (rows kept aside in spare as needed) or to the sink.
void SweepStep(const WTreeNode &n, float *fdata, size_t pitch, const SynthPlan &cp,
               const SynthPlan &rp, bool known_zeros, const Spare &spare, SynthesisRowSink sink,
               void *ctx, StepWork *w) {
  const int ny = n.leny, nx = n.lenx;
  float *region = fdata + static_cast<size_t>(n.y) * pitch + n.x;
  for (int r = 0; r < ny; ++r) w->rows[r] = region + static_cast<size_t>(r) * pitch;
  float *sums = w->sums.data();
  const float *src[2 * kMaxFilterTaps];
  float cf[2 * kMaxFilterTaps];
  int slot = 0;
  for (int k = 0; k < ny; ++k) {
    const LinePlan &p = cp.plan;
    const int b = p.begin[k], e = p.begin[k + 1];
    bool zero_half[2] = {false, false};
    if (!known_zeros) {
      for (int t = b; t < e; ++t) {
        src[t - b] = w->rows[p.src[t]];
        cf[t - b] = p.coef[t];
      }
      w->kern->column(sums, src, cf, e - b, !p.zero_start[k], nx);
    } else {
      for (int h = 0; h < 2; ++h) {
        const int at = rp.half_at[h], len = rp.half_len[h];
        bool stored = !p.zero_start[k];
        int nt = 0;
        for (int t = b; t < e; ++t) {
          if (w->zin[2 * p.src[t] + h]) {
            if (t == b) stored = false;
            continue;
          }
          src[nt] = w->rows[p.src[t]] + at;
          cf[nt++] = p.coef[t];
        }
        zero_half[h] = nt == 0;
        if (nt == 0)
          Zeros(sums + at, len);
        else
          w->kern->column(sums + at, src, cf, nt, stored, len);
      }
    }
    float *dst;
    if (sink) {
      dst = w->out.data();
    } else {
      if (cp.last_use[k] > k) {
        float *keep = spare.base + static_cast<size_t>(slot++) * spare.pitch;
        std::memcpy(keep, w->rows[k], static_cast<size_t>(nx) * sizeof(float));
        w->rows[k] = keep;
      }
      dst = region + static_cast<size_t>(k) * pitch;
    }
    if (zero_half[0] && zero_half[1])
      Zeros(dst, nx);
    else
      RowSums(*w->kern, rp, zero_half[0] ? 1 : zero_half[1] ? 2 : 0, sums, dst);
    if (sink) sink(ctx, n.y + k, dst, nx);
  }
}

bool Inside(const QTreeEntry &q, const WTreeNode &n) {
  return q.x >= n.x && q.y >= n.y && q.x + q.lenx <= n.x + n.lenx &&
         q.y + q.leny <= n.y + n.leny;
}

// Input rows and halves of step s known to be zero: covered entirely by
// zero rows of the subbands that lie in s but in none of its smaller steps
// (the outputs of those steps are taken as data).
void InputZeros(int s, const WTreeNode w_tree[], const QTreeEntry q_tree[],
                const ZeroRows &zeros, const SynthPlan &rp, StepWork *w) {
  const WTreeNode &n = w_tree[s];
  std::fill(w->cover.begin(), w->cover.begin() + 2 * n.leny, 0);
  for (int k = 0; k < Q_TREELEN; ++k) {
    const QTreeEntry &q = q_tree[k];
    if (!Inside(q, n)) continue;
    bool in_smaller = false;
    for (int c = 0; c < W_TREELEN && !in_smaller; ++c) {
      const WTreeNode &m = w_tree[c];
      in_smaller = c != s && m.lenx * static_cast<long long>(m.leny) <
                                 n.lenx * static_cast<long long>(n.leny) &&
                   Inside(q, m);
    }
    if (in_smaller) continue;
    for (int h = 0; h < 2; ++h) {
      const int x0 = n.x + rp.half_at[h], x1 = x0 + rp.half_len[h];
      const int lo = q.x > x0 ? q.x : x0, hi = q.x + q.lenx < x1 ? q.x + q.lenx : x1;
      if (hi <= lo) continue;
      for (int r = 0; r < q.leny; ++r)
        if (zeros.Row(k, r)) w->cover[2 * static_cast<size_t>(q.y - n.y + r) + h] += hi - lo;
    }
  }
  for (int i = 0; i < 2 * n.leny; ++i) w->zin[i] = w->cover[i] == rp.half_len[i % 2];
}

int Synthesize(float *fdata, int pitch, int width, int height, const WTreeNode w_tree[],
               const DttTable *dtt, const QTreeEntry q_tree[], const ZeroRows *zeros,
               SynthesisRowSink sink, void *ctx, SynthesisLanes lanes) {
  if (dtt->lofilt_defined != 1) {
    fprintf(stderr, "ERROR: wsq_reconstruct : Lopass filter coefficients not defined\n");
    return -95;
  }
  if (dtt->hifilt_defined != 1) {
    fprintf(stderr, "ERROR: wsq_reconstruct : Hipass filter coefficients not defined\n");
    return -96;
  }
  // A stream's filters must let every walk stay inside its lines: all plans
  // are built (and so checked) before anything is changed.
  auto plans = std::make_unique<PlanCache>(dtt);
  const SynthPlan *cols[W_TREELEN], *rows[W_TREELEN];
  const bool have = dtt->hifilt && dtt->lofilt;
  int widest = 0, tallest = 0, keep_rows = 0, keep_width = 0;
  for (int s = 0; s < W_TREELEN; ++s) {
    const WTreeNode &n = w_tree[s];
    cols[s] = have ? plans->Find(n.leny, n.inv_cl) : nullptr;
    rows[s] = have ? plans->Find(n.lenx, n.inv_rw) : nullptr;
    if (!cols[s] || !rows[s]) {
      fprintf(stderr,
              "ERROR: wsq_reconstruct : filters of %d and %d taps do not fit "
              "a %d x %d image\n",
              dtt->losize, dtt->hisize, width, height);
      return -98;
    }
    if (n.lenx > widest) widest = n.lenx;
    if (n.leny > tallest) tallest = n.leny;
    if (s == 0 && sink) continue;
    const int keep = RowsToKeep(*cols[s]);
    if (keep > keep_rows) keep_rows = keep;
    if (keep && n.lenx > keep_width) keep_width = n.lenx;
  }

  // The decoder's quadrant of subbands 60 to 63 takes the rows set aside
  // when it is known to be zero and large enough; otherwise a buffer does.
  Spare spare;
  const int qx = width - width / 2, qy = height - height / 2;
  bool quadrant = sink && zeros && pitch - qx >= keep_width;
  const FloatImageLayout layout = decoder_float_layout(width, height);
  quadrant = quadrant && pitch >= layout.pitch && layout.rows - qy >= keep_rows;
  for (int k = 60; k < Q_TREELEN && quadrant; ++k)
    for (int r = 0; r < q_tree[k].leny && quadrant; ++r) quadrant = zeros->Row(k, r);
  std::unique_ptr<float, FreeDeleter> own;
  if (quadrant) {
    spare = {fdata + static_cast<size_t>(qy) * pitch + qx, static_cast<size_t>(pitch)};
  } else if (keep_rows > 0) {
    own.reset(static_cast<float *>(
        SafeMalloc(static_cast<size_t>(keep_rows) * static_cast<size_t>(keep_width),
                   sizeof(float))));
    if (!own) {
      fprintf(stderr, "ERROR : wsq_reconstruct : malloc : fdata1\n");
      return -97;
    }
    spare = {own.get(), static_cast<size_t>(keep_width)};
  }

  StepWork work(widest, tallest);
  work.kern = &PickKernels(lanes);
  for (int s = W_TREELEN - 1; s >= 0; --s) {
    const bool known = zeros != nullptr;
    if (known) InputZeros(s, w_tree, q_tree, *zeros, *rows[s], &work);
    SweepStep(w_tree[s], fdata, static_cast<size_t>(pitch), *cols[s], *rows[s], known, spare,
              s == 0 ? sink : nullptr, ctx, &work);
  }
  return 0;
}

}  // namespace

int synthesize(float *fdata, int pitch, int width, int height, const WTreeNode w_tree[],
               const DttTable *dtt, const QTreeEntry q_tree[], const ZeroRows *zeros,
               SynthesisRowSink sink, void *ctx, SynthesisLanes lanes) {
  // Plans and row tables grow with the sides, never with the area; memory
  // short for them ends the call like the buffers' allocations do.
  return CatchShortMemory(-97, "ERROR : wsq_reconstruct : malloc : fdata1\n", [&] {
    return Synthesize(fdata, pitch, width, height, w_tree, dtt, q_tree, zeros, sink, ctx, lanes);
  });
}

}  // namespace tsl
