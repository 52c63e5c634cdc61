// Plain line-by-line wavelet filtering that walks every line sample by sample,
// reflecting at its ends, as the transform was first written. The library's
// planned, multi-column drivers must match it bit for bit (lines of 5 samples
// aside, which the library reconstructs exactly instead).
#ifndef TESSALY_TESTS_WSQ_WAVELET_REFERENCE_H
#define TESSALY_TESTS_WSQ_WAVELET_REFERENCE_H

#include <vector>

#include "wsq/wavelet.h"

namespace reference {

// A position in a line and its direction. At an end the first visit flagged
// by first/last repeats the sample (direction 0); later visits turn back.
struct Walk {
  int p, d;
  bool first, last;
  void Move(int n, bool first_edge_only) {
    if (p == 0) d = first ? 0 : 1, first = false;
    if (!first_edge_only && p == n - 1) d = last ? 0 : -1, last = false;
    p += d;
  }
};

inline void GetLets(float *out, const float *in, int lines, int n, int pitch, int stride,
                    const float *hi_in, int hsz, const float *lo, int lsz, int inv) {
  std::vector<float> hi(hi_in, hi_in + hsz);
  const bool odd = lsz % 2;
  int lstart = odd ? (lsz - 1) / 2 : lsz / 2 - 2, hstart = odd ? (hsz - 1) / 2 - 1 : hsz / 2 - 2;
  bool lfe = !odd, hfe = !odd;
  const bool lle = !odd, hle = !odd;
  if (!odd) {
    if (lstart == -1) lstart = 0, lfe = false;
    if (hstart == -1) hstart = 0, hfe = false;
    for (float &t : hi) t = -t;
  }
  const int hn = n / 2, ln = n - hn;
  for (int k = 0; k < lines; ++k) {
    const float *s = in + k * pitch;
    float *lp = out + k * pitch + (inv ? hn : 0) * stride;
    float *hp = out + k * pitch + (inv ? 0 : ln) * stride;
    Walk ls{lstart, -1, lfe, false}, hs{hstart, -1, hfe, false};
    auto filt = [&](const Walk &st, bool last, const float *f, int fsz) {
      Walk w{st.p, st.d, st.first, last};
      float v = f[0] * s[w.p * stride];
      for (int i = 1; i < fsz; ++i) {
        w.Move(n, false);
        v += f[i] * s[w.p * stride];
      }
      return v;
    };
    for (int j = 0; j < hn; ++j) {
      *lp = filt(ls, lle, lo, lsz);
      lp += stride;
      *hp = filt(hs, hle, hi.data(), hsz);
      hp += stride;
      for (int r = 0; r < 2; ++r) ls.Move(n, true), hs.Move(n, true);
    }
    if (n % 2) *lp = filt(ls, lle, lo, lsz);
  }
}

inline void JoinLets(float *out, const float *in, int lines, int n, int pitch, int stride,
                     const float *hi_in, int hsz, const float *lo, int lsz, int inv) {
  std::vector<float> hi(hi_in, hi_in + hsz);
  const int hn = n / 2, ln = n - hn;
  const bool nodd = n % 2, asym = !(lsz % 2);
  const int fi = asym ? -1 : 1, ostart = asym ? 2 : 0;
  int lstart = asym ? lsz / 4 - 1 : (lsz - 1) / 4, hstart = asym ? hsz / 4 - 1 : (hsz + 1) / 4 - 1;
  const int ltap = (asym ? lsz / 2 : (lsz - 1) / 2) % 2, htap = (asym ? hsz / 2 : (hsz + 1) / 2) % 2;
  bool lfe = asym, hfe = true;
  const bool lle = !nodd, hle = asym || nodd;
  if (asym) {
    if (lstart == -1) lstart = 0, lfe = false;
    if (hstart == -1) hstart = 0, hfe = false;
    for (float &t : hi) t = -t;
  }
  for (int k = 0; k < lines; ++k) {
    const float *lc = in + k * pitch + (inv ? hn : 0) * stride;
    const float *hc = in + k * pitch + (inv ? 0 : ln) * stride;
    float *lo_out = out + k * pitch, *hi_out = lo_out;
    lo_out[0] = lo_out[stride] = 0.0f;
    Walk ls{lstart, -1, lfe, false}, hs{hstart, -1, hfe, false};
    int fsign = fi, lt = ltap, ht = htap;
    auto low = [&](int tap) {
      Walk w{ls.p, ls.d, ls.first, lle};
      *lo_out = lo[tap] * lc[w.p * stride];
      for (int i = tap + 2; i < lsz; i += 2) {
        w.Move(ln, false);
        *lo_out += lo[i] * lc[w.p * stride];
      }
      lo_out += stride;
    };
    // The high-pass walk also carries the sign factor of even-length filters
    // and, on odd lines, a countdown at the far end.
    auto high = [&](int tap, int o_cnt) {
      Walk w{hs.p, hs.d, hs.first, hle};
      int f = fsign;
      for (int i = tap; i < hsz; i += 2) {
        if (w.p == 0) {
          if (w.first)
            w.first = false, w.d = 0;
          else
            w.d = 1, f = 1;
        }
        if (w.p == hn - 1) {
          if (w.last) {
            w.d = 0;
            if (asym && nodd) {
              f = --o_cnt;
              if (o_cnt == 0) w.last = false;
            } else {
              w.last = false;
            }
          } else {
            w.d = -1;
            if (asym) f = -1;
          }
        }
        *hi_out += hi[i] * hc[w.p * stride] * static_cast<float>(f);
        w.p += w.d;
      }
      hi_out += stride;
    };
    for (int j = 0; j < hn; ++j) {
      for (int tap = lt; tap >= 0; --tap) low(tap);
      ls.Move(ln, true);
      for (int tap = ht; tap >= 0; --tap) high(tap, ostart);
      if (hs.p == 0 && !hs.first) fsign = 1;
      hs.Move(hn, true);
      lt = ht = 1;
    }
    for (int tap = 1; tap >= (nodd ? 0 : 1) + (ltap == 1); --tap) low(tap);
    const int hstop = (nodd ? 0 : 1) + (htap == 1);
    if (nodd && hsz == 2) hs.p -= hs.d;
    for (int tap = 1; tap >= hstop; --tap) high(tap, nodd && hsz == 2 ? 1 : ostart);
  }
}

// Synthesis filters as a transform table derives them from odd-length
// analysis filters: tap c+i of each is (-1)^i times the other's.
inline void SynthesisFilters(std::vector<float> *syn_hi, std::vector<float> *syn_lo) {
  syn_hi->assign(9, 0.0f);
  syn_lo->assign(7, 0.0f);
  for (int i = 0; i <= 4; ++i)
    (*syn_hi)[4 + i] = (*syn_hi)[4 - i] = (i % 2 ? -1.0f : 1.0f) * tsl::lofilt[4 + i];
  for (int i = 0; i <= 3; ++i)
    (*syn_lo)[3 + i] = (*syn_lo)[3 - i] = (i % 2 ? -1.0f : 1.0f) * tsl::hifilt[3 + i];
}

// The 20 steps over a whole image: analysis with the encoder's filters in
// tree order, synthesis with the given ones in reverse order.
inline void Transform(float *f, int width, int height, const tsl::WTreeNode *tree,
                      bool synthesis, const float *hi = nullptr, int hsz = 0,
                      const float *lo = nullptr, int lsz = 0) {
  std::vector<float> work(static_cast<size_t>(width) * height);
  for (int k = 0; k < tsl::W_TREELEN; ++k) {
    const tsl::WTreeNode &n = tree[synthesis ? tsl::W_TREELEN - 1 - k : k];
    float *r = f + n.y * width + n.x, *w = work.data();
    if (synthesis) {
      JoinLets(w, r, n.lenx, n.leny, 1, width, hi, hsz, lo, lsz, n.inv_cl);
      JoinLets(r, w, n.leny, n.lenx, width, 1, hi, hsz, lo, lsz, n.inv_rw);
    } else {
      GetLets(w, r, n.leny, n.lenx, width, 1, tsl::hifilt, 7, tsl::lofilt, 9, n.inv_rw);
      GetLets(r, w, n.lenx, n.leny, 1, width, tsl::hifilt, 7, tsl::lofilt, 9, n.inv_cl);
    }
  }
}

}  // namespace reference

#endif
