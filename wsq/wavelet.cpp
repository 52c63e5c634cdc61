// Wavelet geometry and filter banks of the WSQ codec.
//
// The filtering of a line follows a reflecting walk whose float operations
// decide the encoder's bytes. Instead of walking every line, the walk of each
// line length is replayed once symbolically into a LinePlan (which input
// sample, which tap, in which order) and the plan is then applied to whole
// sets of lines; the applying loops keep each output's summation order, so
// the result is the walk's to the bit.
#include "wsq/wavelet.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "common/checked.h"
#include "wsq/synthesis.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tsl {

const float lofilt[9] = {0.0378284566f, -0.0238494650f, -0.1106244028f,
                         0.3774028420f, 0.8526986837f,  0.3774028420f,
                         -0.1106244028f, -0.0238494650f, 0.0378284566f};
const float hifilt[7] = {0.0645388812f, -0.0406894162f, -0.4180922806f, 0.7884855866f,
                         -0.4180922806f, -0.0406894162f, 0.0645388812f};

// ---- Trees ------------------------------------------------------------------

void w_tree4(WTreeNode w_tree[], int start, int start2, int lenx, int leny, int x, int y,
             int stop1) {
  WTreeNode &s = w_tree[start];
  s.x = x;
  s.y = y;
  s.lenx = lenx;
  s.leny = leny;
  // Steps 4 and 5 sit right of / below an odd split, so they split
  // smaller-first in that direction to line up with their neighbours.
  const int a = (start == 4) ? lenx / 2 : (lenx + 1) / 2;
  const int b = (start == 5) ? leny / 2 : (leny + 1) / 2;
  const int q = start2;
  w_tree[q].x = x;
  w_tree[q].y = y;
  w_tree[q].lenx = a;
  w_tree[q].leny = b;
  w_tree[q + 1].x = x + a;
  w_tree[q + 1].y = y;
  w_tree[q + 1].lenx = lenx - a;
  w_tree[q + 1].leny = b;
  w_tree[q + 2].x = x;
  w_tree[q + 2].y = y + b;
  w_tree[q + 2].lenx = a;
  w_tree[q + 2].leny = leny - b;
  if (!stop1) {
    w_tree[q + 3].x = x + a;
    w_tree[q + 3].y = y + b;
    w_tree[q + 3].lenx = lenx - a;
    w_tree[q + 3].leny = leny - b;
  }
}

void build_w_tree(WTreeNode w_tree[], int width, int height) {
  for (int i = 0; i < W_TREELEN; ++i) {
    w_tree[i].inv_rw = 0;
    w_tree[i].inv_cl = 0;
  }
  for (int s : {2, 4, 7, 9, 11, 13, 16, 18}) w_tree[s].inv_rw = 1;
  for (int s : {3, 5, 8, 9, 12, 13, 17, 18}) w_tree[s].inv_cl = 1;

  w_tree4(w_tree, 0, 1, width, height, 0, 0, 1);
  const int w1 = w_tree[1].lenx, h1 = w_tree[1].leny;
  const int a = (w1 + 1) / 2, a2 = w1 / 2;
  const int b = (h1 + 1) / 2, b2 = h1 / 2;
  w_tree4(w_tree, 4, 6, a2, b, a, 0, 0);
  w_tree4(w_tree, 5, 10, a, b2, 0, b, 0);
  w_tree4(w_tree, 14, 15, a, b, 0, 0, 0);
  w_tree[19].x = 0;
  w_tree[19].y = 0;
  w_tree[19].lenx = (w_tree[15].lenx + 1) / 2;
  w_tree[19].leny = (w_tree[15].leny + 1) / 2;
}

namespace {

void set_entry(QTreeEntry &e, int x, int y, int lenx, int leny) {
  e.x = x;
  e.y = y;
  e.lenx = lenx;
  e.leny = leny;
}

// Four entries from p: a region split at (ws, hs).
void quad(QTreeEntry q_tree[], int p, int x, int y, int lenx, int leny, int ws, int hs) {
  set_entry(q_tree[p], x, y, ws, hs);
  set_entry(q_tree[p + 1], x + ws, y, lenx - ws, hs);
  set_entry(q_tree[p + 2], x, y + hs, ws, leny - hs);
  set_entry(q_tree[p + 3], x + ws, y + hs, lenx - ws, leny - hs);
}

}  // namespace

void q_tree16(QTreeEntry q_tree[], int start, int lenx, int leny, int x, int y, int rw, int cl) {
  const int tx = (lenx % 2 == 0 || cl == 1) ? lenx / 2 : (lenx + 1) / 2;
  const int ty = (leny % 2 == 0 || rw == 1) ? leny / 2 : (leny + 1) / 2;
  const int t2x = lenx - tx, t2y = leny - ty;
  quad(q_tree, start, x, y, tx, ty, (tx + 1) / 2, (ty + 1) / 2);
  quad(q_tree, start + 4, x + tx, y, t2x, ty, t2x / 2, (ty + 1) / 2);
  quad(q_tree, start + 8, x, y + ty, tx, t2y, (tx + 1) / 2, t2y / 2);
  quad(q_tree, start + 12, x + tx, y + ty, t2x, t2y, t2x / 2, t2y / 2);
}

void q_tree4(QTreeEntry q_tree[], int start, int lenx, int leny, int x, int y) {
  quad(q_tree, start, x, y, lenx, leny, (lenx + 1) / 2, (leny + 1) / 2);
}

void build_q_tree(WTreeNode w_tree[], QTreeEntry q_tree[]) {
  const WTreeNode &s14 = w_tree[14], &s4 = w_tree[4], &s0 = w_tree[0], &s5 = w_tree[5];
  const WTreeNode &s19 = w_tree[19];
  // Later calls overwrite entries of earlier ones (3; 48 to 50).
  q_tree16(q_tree, 3, s14.lenx, s14.leny, s14.x, s14.y, 0, 0);
  q_tree16(q_tree, 19, s4.lenx, s4.leny, s4.x, s4.y, 0, 1);
  q_tree16(q_tree, 48, s0.lenx, s0.leny, s0.x, s0.y, 0, 0);
  q_tree16(q_tree, 35, s5.lenx, s5.leny, s5.x, s5.y, 1, 0);
  q_tree4(q_tree, 0, s19.lenx, s19.leny, s19.x, s19.y);
}

void build_wsq_trees(WTreeNode w_tree[], int /*w_treelen*/, QTreeEntry q_tree[],
                     int /*q_treelen*/, int width, int height) {
  build_w_tree(w_tree, width, height);
  build_q_tree(w_tree, q_tree);
}

// ---- Walk plans -------------------------------------------------------------

namespace {

// Position in a line of n samples with its step and the two one-time flags
// that make an edge sample count twice.
struct Walk {
  int p;
  int d;
  bool first;
  bool last;
};

void move(Walk &w, int n, bool first_edge_only) {
  if (w.p == 0) {
    if (w.first) {
      w.d = 0;
      w.first = false;
    } else {
      w.d = 1;
    }
  }
  if (!first_edge_only && w.p == n - 1) {
    if (w.last) {
      w.d = 0;
      w.last = false;
    } else {
      w.d = -1;
    }
  }
  w.p += w.d;
}

// Collects, per output, the terms the walk adds to it; refuses any read or
// write outside the line. Storage is sized once (no growth in the walk):
// an output never collects more than `cap` terms.
class Recorder {
 public:
  Recorder(int n, int cap)
      : n_(n), cap_(cap), src_(static_cast<size_t>(n) * cap), coef_(static_cast<size_t>(n) * cap),
        cnt_(static_cast<size_t>(n)), zs_(static_cast<size_t>(n)),
        written_(static_cast<size_t>(n)) {}

  // Source index must lie in [base, base + len).
  bool Read(int p, int len, int base, int *src) {
    if (p < 0 || p >= len) ok_ = false;
    *src = base + p;
    return ok_;
  }
  void Zero(int k) {
    if (!Out(k)) return;
    cnt_[k] = 0;
    zs_[k] = 1;
    written_[k] = 1;
  }
  void Store(int k, int src, float c) {
    if (!Out(k)) return;
    cnt_[k] = 0;
    zs_[k] = 0;
    written_[k] = 1;
    Push(k, src, c);
  }
  void Add(int k, int src, float c) {
    if (!Out(k)) return;
    if (!written_[k]) {
      zs_[k] = 1;
      written_[k] = 1;
    }
    Push(k, src, c);
  }
  bool ok() const { return ok_; }

  bool Finish(LinePlan *plan) {
    if (!ok_) return false;
    size_t total = 0;
    for (int k = 0; k < n_; ++k) {
      if (!written_[k]) return false;
      total += cnt_[k];
    }
    plan->length = n_;
    plan->begin = std::vector<int>(static_cast<size_t>(n_) + 1);
    plan->src = std::vector<int>(total);
    plan->coef = std::vector<float>(total);
    plan->zero_start = std::move(zs_);  // a copy would export a template symbol
    size_t at = 0;
    for (int k = 0; k < n_; ++k) {
      plan->begin[k] = static_cast<int>(at);
      const size_t row = static_cast<size_t>(k) * cap_;
      for (int t = 0; t < cnt_[k]; ++t, ++at) {
        plan->src[at] = src_[row + t];
        plan->coef[at] = coef_[row + t];
      }
    }
    plan->begin[n_] = static_cast<int>(at);
    return true;
  }

 private:
  bool Out(int k) {
    if (k < 0 || k >= n_) ok_ = false;
    return ok_;
  }
  void Push(int k, int src, float c) {
    if (cnt_[k] >= cap_) {
      ok_ = false;
      return;
    }
    const size_t at = static_cast<size_t>(k) * cap_ + cnt_[k]++;
    src_[at] = src;
    coef_[at] = c;
  }
  int n_, cap_;
  std::vector<int> src_;
  std::vector<float> coef_;
  std::vector<int> cnt_;
  std::vector<unsigned char> zs_, written_;
  bool ok_ = true;
};

bool plan_get_lets_walk(LinePlan *plan, int n, const float *hi_in, int hsz, const float *lo,
                        int lsz, int inv) {
  if (n < 1 || hsz < 1 || lsz < 1 || hsz > kMaxFilterTaps || lsz > kMaxFilterTaps) return false;
  std::vector<float> hi(hi_in, hi_in + hsz);
  int lstart, hstart;
  bool lfe, lle, hfe, hle;
  if (lsz % 2) {
    lstart = (lsz - 1) / 2;
    hstart = (hsz - 1) / 2 - 1;
    lfe = lle = hfe = hle = false;
  } else {
    lstart = lsz / 2 - 2;
    hstart = hsz / 2 - 2;
    lfe = lle = hfe = hle = true;
    if (lstart == -1) {
      lstart = 0;
      lfe = false;
    }
    if (hstart == -1) {
      hstart = 0;
      hfe = false;
    }
    for (float &t : hi) t = -t;
  }
  const int hn = n / 2, ln = n - hn;
  int lopos = inv ? hn : 0;
  int hipos = inv ? 0 : ln;
  Recorder rec(n, lsz > hsz ? lsz : hsz);
  Walk ls{lstart, -1, lfe, false};
  Walk hs{hstart, -1, hfe, false};
  auto filt = [&](const Walk &start, bool last, const float *f, int fsz, int outk) {
    Walk w{start.p, start.d, start.first, last};
    int src;
    if (!rec.Read(w.p, n, 0, &src)) return;
    rec.Store(outk, src, f[0]);
    for (int i = 1; i < fsz; ++i) {
      move(w, n, false);
      if (!rec.Read(w.p, n, 0, &src)) return;
      rec.Add(outk, src, f[i]);
    }
  };
  for (int j = 0; j < hn && rec.ok(); ++j) {
    filt(ls, lle, lo, lsz, lopos++);
    filt(hs, hle, hi.data(), hsz, hipos++);
    move(ls, n, true);
    move(ls, n, true);
    move(hs, n, true);
    move(hs, n, true);
  }
  if (n % 2 && rec.ok()) filt(ls, lle, lo, lsz, lopos++);
  return rec.Finish(plan);
}

bool plan_join_lets_walk(LinePlan *plan, int n, const float *hi_in, int hsz, const float *lo,
                         int lsz, int inv) {
  if (n < 2 || hsz < 1 || lsz < 1 || hsz > kMaxFilterTaps || lsz > kMaxFilterTaps) return false;
  std::vector<float> hi(hi_in, hi_in + hsz);
  const int hn = n / 2, ln = n - hn;
  const bool nodd = n % 2;
  bool asym;
  int fi_sign, ostart, lstart, hstart, ltap, htap;
  bool lfe, lle, hfe, hle;
  if (lsz % 2) {
    asym = false;
    fi_sign = 1;
    ostart = 0;
    lstart = (lsz - 1) / 4;
    hstart = (hsz + 1) / 4 - 1;
    ltap = ((lsz - 1) / 2) % 2;
    htap = ((hsz + 1) / 2) % 2;
    lfe = false;
    lle = !nodd;
    hfe = true;
    hle = nodd;
  } else {
    asym = true;
    fi_sign = -1;
    ostart = 2;
    lstart = lsz / 4 - 1;
    hstart = hsz / 4 - 1;
    ltap = (lsz / 2) % 2;
    htap = (hsz / 2) % 2;
    lfe = true;
    lle = !nodd;
    hfe = hle = true;
    if (lstart == -1) {
      lstart = 0;
      lfe = false;
    }
    if (hstart == -1) {
      hstart = 0;
      hfe = false;
    }
    for (float &t : hi) t = -t;
  }
  const int lbase = inv ? hn : 0;
  const int hbase = inv ? 0 : ln;

  Recorder rec(n, lsz + hsz);
  rec.Zero(0);
  rec.Zero(1);
  int lcur = 0, hcur = 0;
  Walk ls{lstart, -1, lfe, false};
  Walk hs{hstart, -1, hfe, false};
  int fsign = fi_sign;
  int ltap_start = ltap, htap_start = htap;

  auto low = [&](int tap) {
    Walk w{ls.p, ls.d, ls.first, lle};
    int src;
    if (!rec.Read(w.p, ln, lbase, &src)) return;
    rec.Store(lcur, src, lo[tap]);
    for (int i = tap + 2; i < lsz; i += 2) {
      move(w, ln, false);
      if (!rec.Read(w.p, ln, lbase, &src)) return;
      rec.Add(lcur, src, lo[i]);
    }
    ++lcur;
  };
  // o is the offset counter of the antisymmetric edge; the caller decides
  // whether it restarts per tap.
  auto high = [&](int tap, int *o) {
    Walk w{hs.p, hs.d, hs.first, hle};
    int f = fsign;
    for (int i = tap; i < hsz && rec.ok(); i += 2) {
      if (w.p == 0) {
        if (w.first) {
          w.first = false;
          w.d = 0;
        } else {
          w.d = 1;
          f = 1;
        }
      }
      if (w.p == hn - 1) {
        if (w.last) {
          w.d = 0;
          if (asym && nodd) {
            --*o;
            f = *o;
            if (*o == 0) w.last = false;
          } else {
            w.last = false;
          }
        } else {
          w.d = -1;
          if (asym) f = -1;
        }
      }
      int src;
      if (!rec.Read(w.p, hn, hbase, &src)) return;
      // (hi * c) * f equals (hi * f) * c for the factors the walk produces
      // (-1, 0, 1): only signs change, never the rounding.
      rec.Add(hcur, src, hi[i] * static_cast<float>(f));
      w.p += w.d;
    }
    ++hcur;
  };

  for (int j = 0; j < hn && rec.ok(); ++j) {
    for (int tap = ltap_start; tap >= 0 && rec.ok(); --tap) low(tap);
    move(ls, ln, true);
    for (int tap = htap_start; tap >= 0 && rec.ok(); --tap) {
      int o = ostart;
      high(tap, &o);
    }
    if (hs.p == 0 && !hs.first) fsign = 1;
    move(hs, hn, true);
    ltap_start = htap_start = 1;
  }
  if (rec.ok()) {
    const int lstop = nodd ? (ltap == 1 ? 1 : 0) : (ltap == 1 ? 2 : 1);
    for (int tap = 1; tap >= lstop && rec.ok(); --tap) low(tap);
  }
  if (rec.ok()) {
    const int hstop = nodd ? (htap == 1 ? 1 : 0) : (htap == 1 ? 2 : 1);
    if (nodd && hsz == 2) {
      hs.p -= hs.d;
      int o = 1;
      for (int tap = 1; tap >= hstop && rec.ok(); --tap) high(tap, &o);
    } else {
      for (int tap = 1; tap >= hstop && rec.ok(); --tap) {
        int o = ostart;
        high(tap, &o);
      }
    }
  }
  return rec.Finish(plan);
}

// Applies a plan to one line (any pitch and stride).
void apply_line(const LinePlan &plan, const float *in, int in_stride, float *out,
                int out_stride) {
  for (int k = 0; k < plan.length; ++k) {
    const int b = plan.begin[k], e = plan.begin[k + 1];
    float v;
    int t = b;
    if (plan.zero_start[k]) {
      v = 0.0f;
    } else {
      v = plan.coef[t] * in[static_cast<ptrdiff_t>(plan.src[t]) * in_stride];
      ++t;
    }
    for (; t < e; ++t) v += plan.coef[t] * in[static_cast<ptrdiff_t>(plan.src[t]) * in_stride];
    out[static_cast<ptrdiff_t>(k) * out_stride] = v;
  }
}

// Exact synthesis of 5-sample lines. The reflecting synthesis walk does not
// invert the analysis at this length, so the 5x5 analysis matrix (from the
// analysis filters that the synthesis filters were derived from) is inverted
// instead. False when the filters are not of the odd-length kind or the
// matrix is singular; the caller then keeps the walk.
bool plan_join_five(LinePlan *plan, const float *hi, int hsz, const float *lo, int lsz,
                    int inv) {
  if (hsz % 2 == 0 || lsz % 2 == 0) return false;
  // Synthesis high-pass tap c+i is (-1)^i times analysis low-pass tap c+i,
  // and synthesis low-pass tap c+i is (-1)^i times analysis high-pass tap c+i.
  std::vector<float> alo(static_cast<size_t>(hsz)), ahi(static_cast<size_t>(lsz));
  const int ch = hsz / 2, cl = lsz / 2;
  for (int i = 0; i <= ch; ++i) alo[ch + i] = alo[ch - i] = (i % 2 ? -1.0f : 1.0f) * hi[ch + i];
  for (int i = 0; i <= cl; ++i) ahi[cl + i] = ahi[cl - i] = (i % 2 ? -1.0f : 1.0f) * lo[cl + i];
  LinePlan a;
  if (!plan_get_lets_walk(&a, 5, ahi.data(), lsz, alo.data(), hsz, inv)) return false;
  double m[5][10] = {};
  for (int k = 0; k < 5; ++k) {
    for (int t = a.begin[k]; t < a.begin[k + 1]; ++t) m[k][a.src[t]] += a.coef[t];
    m[k][5 + k] = 1.0;
  }
  for (int c = 0; c < 5; ++c) {
    int piv = c;
    for (int r = c + 1; r < 5; ++r)
      if (std::fabs(m[r][c]) > std::fabs(m[piv][c])) piv = r;
    if (std::fabs(m[piv][c]) < 1e-6) return false;
    if (piv != c)
      for (int j = 0; j < 10; ++j) std::swap(m[c][j], m[piv][j]);
    const double inv_p = 1.0 / m[c][c];
    for (int j = 0; j < 10; ++j) m[c][j] *= inv_p;
    for (int r = 0; r < 5; ++r) {
      if (r == c || m[r][c] == 0.0) continue;
      const double f = m[r][c];
      for (int j = 0; j < 10; ++j) m[r][j] -= f * m[c][j];
    }
  }
  plan->length = 5;
  plan->begin = std::vector<int>(6);
  plan->src = std::vector<int>(25);
  plan->coef = std::vector<float>(25);
  plan->zero_start = std::vector<unsigned char>(5);
  for (int k = 0; k < 5; ++k) {
    plan->begin[k] = 5 * k;
    for (int j = 0; j < 5; ++j) {
      plan->src[5 * k + j] = j;
      plan->coef[5 * k + j] = static_cast<float>(m[k][5 + j]);
    }
  }
  plan->begin[5] = 25;
  return true;
}

}  // namespace

bool plan_get_lets(LinePlan *plan, int length, const float *hi, int hsz, const float *lo,
                   int lsz, int inv) {
  return plan_get_lets_walk(plan, length, hi, hsz, lo, lsz, inv);
}

bool plan_join_lets(LinePlan *plan, int length, const float *hi, int hsz, const float *lo,
                    int lsz, int inv) {
  if (length == 5 && plan_join_five(plan, hi, hsz, lo, lsz, inv)) return true;
  return plan_join_lets_walk(plan, length, hi, hsz, lo, lsz, inv);
}

void get_lets(float *out, const float *in, int lines, int length, int pitch, int stride,
              const float *hi, int hsz, const float *lo, int lsz, int inv) {
  LinePlan plan;
  if (!plan_get_lets(&plan, length, hi, hsz, lo, lsz, inv)) return;
  for (int k = 0; k < lines; ++k) {
    const ptrdiff_t off = static_cast<ptrdiff_t>(k) * pitch;
    apply_line(plan, in + off, stride, out + off, stride);
  }
}

int join_lets(float *out, const float *in, int lines, int length, int pitch, int stride,
              const float *hi, int hsz, const float *lo, int lsz, int inv) {
  LinePlan plan;
  if (!plan_join_lets(&plan, length, hi, hsz, lo, lsz, inv)) return -98;
  for (int k = 0; k < lines; ++k) {
    const ptrdiff_t off = static_cast<ptrdiff_t>(k) * pitch;
    apply_line(plan, in + off, stride, out + off, stride);
  }
  return 0;
}

// ---- Two-dimensional drivers -------------------------------------------------

namespace {

// Analysis plans of one transform, one per line length and inversion that
// the 20 steps use (at most two lengths per direction per step, so a fixed
// table holds them).
class PlanSet {
 public:
  PlanSet(const float *hi, int hsz, const float *lo, int lsz)
      : hi_(hi), lo_(lo), hsz_(hsz), lsz_(lsz) {}

  const LinePlan *Find(int length, int inv) {
    for (int i = 0; i < count_; ++i)
      if (length_[i] == length && inv_[i] == inv) return &plans_[i];
    if (count_ == kMaxPlans) return nullptr;
    LinePlan &p = plans_[count_];
    if (!plan_get_lets(&p, length, hi_, hsz_, lo_, lsz_, inv)) return nullptr;
    length_[count_] = length;
    inv_[count_] = inv;
    return &plans_[count_++];
  }

 private:
  static constexpr int kMaxPlans = 4 * W_TREELEN;
  const float *hi_, *lo_;
  int hsz_, lsz_;
  int count_ = 0;
  int length_[kMaxPlans] = {};
  int inv_[kMaxPlans] = {};
  LinePlan plans_[kMaxPlans];
};

// Analysis of a step's region in place. Rows are taken kRowBlock at a time
// and transposed into scratch, columns kColBlock at a time and copied into
// scratch, so that one vectorised kernel (filter_columns) serves both
// directions and no image-sized work array is needed; every output still
// sums its terms in the plan's order.
constexpr int kRowBlock = 32;
constexpr int kColBlock = 64;

// Scratch floats the in-place passes need for an image of this size.
size_t scratch_floats(int width, int height) {
  const size_t longest = static_cast<size_t>(width > height ? width : height);
  const size_t rows = 2 * kRowBlock * longest;
  const size_t cols = static_cast<size_t>(kColBlock) * static_cast<size_t>(height);
  return rows > cols ? rows : cols;
}

void filter_columns(const LinePlan &plan, const float *in, int in_pitch, float *out,
                    int out_pitch, int lines);

// `rows` (at most kRowBlock) rows of n samples (row b at b * pitch) to n
// groups of kRowBlock lanes, and back. Pure data movement, four by four
// where SSE is there.
void rows_to_lanes(const float *src, int pitch, int n, int rows, float *t) {
  int i = 0;
  const int rows4 = rows & ~3;
#if defined(__SSE2__)
  for (; i + 4 <= n; i += 4) {
    for (int h = 0; h < rows4; h += 4) {
      __m128 r0 = _mm_loadu_ps(src + (h + 0) * pitch + i);
      __m128 r1 = _mm_loadu_ps(src + (h + 1) * pitch + i);
      __m128 r2 = _mm_loadu_ps(src + (h + 2) * pitch + i);
      __m128 r3 = _mm_loadu_ps(src + (h + 3) * pitch + i);
      _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
      _mm_storeu_ps(t + (i + 0) * kRowBlock + h, r0);
      _mm_storeu_ps(t + (i + 1) * kRowBlock + h, r1);
      _mm_storeu_ps(t + (i + 2) * kRowBlock + h, r2);
      _mm_storeu_ps(t + (i + 3) * kRowBlock + h, r3);
    }
  }
#endif
  const int done = i;
  for (i = 0; i < n; ++i)
    for (int b = i < done ? rows4 : 0; b < rows; ++b) t[i * kRowBlock + b] = src[b * pitch + i];
}

void lanes_to_rows(const float *t, int n, int rows, float *dst, int pitch) {
  int i = 0;
  const int rows4 = rows & ~3;
#if defined(__SSE2__)
  for (; i + 4 <= n; i += 4) {
    for (int h = 0; h < rows4; h += 4) {
      __m128 r0 = _mm_loadu_ps(t + (i + 0) * kRowBlock + h);
      __m128 r1 = _mm_loadu_ps(t + (i + 1) * kRowBlock + h);
      __m128 r2 = _mm_loadu_ps(t + (i + 2) * kRowBlock + h);
      __m128 r3 = _mm_loadu_ps(t + (i + 3) * kRowBlock + h);
      _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
      _mm_storeu_ps(dst + (h + 0) * pitch + i, r0);
      _mm_storeu_ps(dst + (h + 1) * pitch + i, r1);
      _mm_storeu_ps(dst + (h + 2) * pitch + i, r2);
      _mm_storeu_ps(dst + (h + 3) * pitch + i, r3);
    }
  }
#endif
  const int done = i;
  for (i = 0; i < n; ++i)
    for (int b = i < done ? rows4 : 0; b < rows; ++b) dst[b * pitch + i] = t[i * kRowBlock + b];
}

// `lines` rows of plan.length samples, row k at region + k * pitch.
void filter_rows_in_place(const LinePlan &plan, float *region, int lines, int pitch,
                          float *scratch) {
  const int n = plan.length;
  float *t_in = scratch;
  float *t_out = scratch + static_cast<size_t>(n) * kRowBlock;
  int r = 0;
  for (; r < lines; r += kRowBlock) {
    float *rows = region + static_cast<ptrdiff_t>(r) * pitch;
    const int count = r + kRowBlock <= lines ? kRowBlock : lines - r;
    rows_to_lanes(rows, pitch, n, count, t_in);
    filter_columns(plan, t_in, kRowBlock, t_out, kRowBlock, count);
    lanes_to_rows(t_out, n, count, rows, pitch);
  }
}

// `lines` adjacent columns of plan.length samples, sample i on row i.
void filter_columns_in_place(const LinePlan &plan, float *region, int lines, int pitch,
                             float *scratch) {
  const int n = plan.length;
  for (int c0 = 0; c0 < lines; c0 += kColBlock) {
    const int cw = lines - c0 < kColBlock ? lines - c0 : kColBlock;
    for (int i = 0; i < n; ++i) {
      float *row = scratch + static_cast<size_t>(i) * kColBlock;
      std::memcpy(row, region + static_cast<ptrdiff_t>(i) * pitch + c0,
                  static_cast<size_t>(cw) * sizeof(float));
    }
    filter_columns(plan, scratch, kColBlock, region + c0, pitch, cw);
  }
}

// Columns of an array: `lines` adjacent columns, sample i of every column on
// row i (in + i * in_pitch), outputs on rows of out. Each output row is made
// for a run of columns at once, four lanes to a vector, streaming through
// rows of memory; each column sums its terms in the plan's order, one
// rounded multiply and one rounded add per term, as the walk does.
typedef float Vec4 __attribute__((vector_size(16)));

inline Vec4 load4(const float *p) {
  Vec4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void store4(float *p, Vec4 v) { std::memcpy(p, &v, sizeof v); }

// One output row: terms (src, cf) of count nt; when `stored` the first term
// sets the value, otherwise the value starts at 0 and every term is added.
void filter_row(const float *in, int in_pitch, float *o, int lines, const int *src,
                const float *cf, int nt, bool stored) {
  const int first = stored ? 1 : 0;
  int c = 0;
  for (; c + 16 <= lines; c += 16) {
    Vec4 a0 = {0, 0, 0, 0}, a1 = a0, a2 = a0, a3 = a0;
    if (stored) {
      const Vec4 f = {cf[0], cf[0], cf[0], cf[0]};
      const float *s = in + static_cast<ptrdiff_t>(src[0]) * in_pitch + c;
      a0 = f * load4(s);
      a1 = f * load4(s + 4);
      a2 = f * load4(s + 8);
      a3 = f * load4(s + 12);
    }
    for (int t = first; t < nt; ++t) {
      const Vec4 f = {cf[t], cf[t], cf[t], cf[t]};
      const float *s = in + static_cast<ptrdiff_t>(src[t]) * in_pitch + c;
      a0 += f * load4(s);
      a1 += f * load4(s + 4);
      a2 += f * load4(s + 8);
      a3 += f * load4(s + 12);
    }
    store4(o + c, a0);
    store4(o + c + 4, a1);
    store4(o + c + 8, a2);
    store4(o + c + 12, a3);
  }
  for (; c + 4 <= lines; c += 4) {
    Vec4 a0 = {0, 0, 0, 0};
    if (stored) {
      const Vec4 f = {cf[0], cf[0], cf[0], cf[0]};
      a0 = f * load4(in + static_cast<ptrdiff_t>(src[0]) * in_pitch + c);
    }
    for (int t = first; t < nt; ++t) {
      const Vec4 f = {cf[t], cf[t], cf[t], cf[t]};
      a0 += f * load4(in + static_cast<ptrdiff_t>(src[t]) * in_pitch + c);
    }
    store4(o + c, a0);
  }
  for (; c < lines; ++c) {
    float v = stored ? cf[0] * in[static_cast<ptrdiff_t>(src[0]) * in_pitch + c] : 0.0f;
    for (int t = first; t < nt; ++t) v += cf[t] * in[static_cast<ptrdiff_t>(src[t]) * in_pitch + c];
    o[c] = v;
  }
}

void filter_columns(const LinePlan &plan, const float *in, int in_pitch, float *out,
                    int out_pitch, int lines) {
  for (int k = 0; k < plan.length; ++k) {
    const int b = plan.begin[k], e = plan.begin[k + 1];
    float *o = out + static_cast<ptrdiff_t>(k) * out_pitch;
    filter_row(in, in_pitch, o, lines, &plan.src[b], &plan.coef[b], e - b, !plan.zero_start[k]);
  }
}

}  // namespace

int wsq_decompose(float *fdata, int width, int height, WTreeNode w_tree[], int w_treelen,
                  const float *hifilt, int hisz, const float *lofilt, int losz) {
  static const char kShort[] = "ERROR : wsq_decompose : malloc : fdata1\n";
  // The line plans are memory this step takes too: short of it for them,
  // the step fails as it does without its scratch rows.
  return CatchShortMemory(-94, kShort, [&] {
    std::unique_ptr<float, FreeDeleter> scratch(
        static_cast<float *>(SafeMalloc(scratch_floats(width, height), sizeof(float))));
    if (!scratch) {
      fputs(kShort, stderr);
      return -94;
    }
    PlanSet plans(hifilt, hisz, lofilt, losz);
    for (int s = 0; s < w_treelen; ++s) {
      const WTreeNode &n = w_tree[s];
      const LinePlan *rows = plans.Find(n.lenx, n.inv_rw);
      const LinePlan *cols = plans.Find(n.leny, n.inv_cl);
      // The encoder refuses sizes whose lines are too short before it gets
      // here; this only keeps a misuse from reading outside the image.
      if (!rows || !cols) return -94;
      float *region = fdata + static_cast<ptrdiff_t>(n.y) * width + n.x;
      filter_rows_in_place(*rows, region, n.leny, width, scratch.get());
      filter_columns_in_place(*cols, region, n.lenx, width, scratch.get());
    }
    return 0;
  });
}

int wsq_reconstruct(float *fdata, int width, int height, WTreeNode w_tree[], int /*w_treelen*/,
                    DttTable *dtt_table) {
  return synthesize(fdata, width, width, height, w_tree, dtt_table, nullptr, nullptr, nullptr,
                    nullptr);
}

}  // namespace tsl
