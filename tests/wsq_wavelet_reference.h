// Plain line-by-line wavelet filtering that walks every line sample by sample,
// as the transform was first written. The library's planned, multi-column
// drivers must match it bit for bit (lines of 5 samples aside, which the
// library reconstructs exactly instead).
#ifndef TESSALY_TESTS_WSQ_WAVELET_REFERENCE_H
#define TESSALY_TESTS_WSQ_WAVELET_REFERENCE_H

#include <vector>

#include "wsq/wavelet.h"

namespace reference {

struct Walk {
  int p, d;
  bool first, last;
};

inline void Move(Walk &w, int n, bool first_edge_only) {
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

inline void GetLets(float *out, const float *in, int lines, int n, int pitch, int stride,
                    const float *hi_in, int hsz, const float *lo, int lsz, int inv) {
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
        Move(w, n, false);
        v += f[i] * s[w.p * stride];
      }
      return v;
    };
    for (int j = 0; j < hn; ++j) {
      *lp = filt(ls, lle, lo, lsz);
      lp += stride;
      *hp = filt(hs, hle, hi.data(), hsz);
      hp += stride;
      for (int r = 0; r < 2; ++r) Move(ls, n, true), Move(hs, n, true);
    }
    if (n % 2) *lp = filt(ls, lle, lo, lsz);
  }
}

inline void JoinLets(float *out, const float *in, int lines, int n, int pitch, int stride,
                     const float *hi_in, int hsz, const float *lo, int lsz, int inv) {
  std::vector<float> hi(hi_in, hi_in + hsz);
  const int hn = n / 2, ln = n - hn;
  const bool nodd = n % 2;
  bool asym, lfe, lle, hfe, hle;
  int fi, ostart, lstart, hstart, ltap, htap;
  if (lsz % 2) {
    asym = false, fi = 1, ostart = 0;
    lstart = (lsz - 1) / 4, hstart = (hsz + 1) / 4 - 1;
    ltap = ((lsz - 1) / 2) % 2, htap = ((hsz + 1) / 2) % 2;
    lfe = false, lle = !nodd, hfe = true, hle = nodd;
  } else {
    asym = true, fi = -1, ostart = 2;
    lstart = lsz / 4 - 1, hstart = hsz / 4 - 1;
    ltap = (lsz / 2) % 2, htap = (hsz / 2) % 2;
    lfe = true, lle = !nodd, hfe = hle = true;
    if (lstart == -1) lstart = 0, lfe = false;
    if (hstart == -1) hstart = 0, hfe = false;
    for (float &t : hi) t = -t;
  }
  for (int k = 0; k < lines; ++k) {
    const float *lc = in + k * pitch + (inv ? hn : 0) * stride;
    const float *hc = in + k * pitch + (inv ? 0 : ln) * stride;
    float *o = out + k * pitch;
    o[0] = 0.0f;
    o[stride] = 0.0f;
    float *lo_out = o, *hi_out = o;
    Walk ls{lstart, -1, lfe, false}, hs{hstart, -1, hfe, false};
    int fsign = fi, lt = ltap, ht = htap;
    auto low = [&](int tap) {
      Walk w{ls.p, ls.d, ls.first, lle};
      *lo_out = lo[tap] * lc[w.p * stride];
      for (int i = tap + 2; i < lsz; i += 2) {
        Move(w, ln, false);
        *lo_out += lo[i] * lc[w.p * stride];
      }
      lo_out += stride;
    };
    auto high = [&](int tap, int &o_cnt) {
      Walk w{hs.p, hs.d, hs.first, hle};
      int f = fsign;
      for (int i = tap; i < hsz; i += 2) {
        if (w.p == 0) {
          if (w.first) {
            w.first = false, w.d = 0;
          } else {
            w.d = 1, f = 1;
          }
        }
        if (w.p == hn - 1) {
          if (w.last) {
            w.d = 0;
            if (asym && nodd) {
              --o_cnt;
              f = o_cnt;
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
      Move(ls, ln, true);
      for (int tap = ht; tap >= 0; --tap) {
        int oc = ostart;
        high(tap, oc);
      }
      if (hs.p == 0 && !hs.first) fsign = 1;
      Move(hs, hn, true);
      lt = ht = 1;
    }
    const int lstop = nodd ? (ltap == 1 ? 1 : 0) : (ltap == 1 ? 2 : 1);
    for (int tap = 1; tap >= lstop; --tap) low(tap);
    const int hstop = nodd ? (htap == 1 ? 1 : 0) : (htap == 1 ? 2 : 1);
    if (nodd && hsz == 2) {
      hs.p -= hs.d;
      int oc = 1;
      for (int tap = 1; tap >= hstop; --tap) high(tap, oc);
    } else {
      for (int tap = 1; tap >= hstop; --tap) {
        int oc = ostart;
        high(tap, oc);
      }
    }
  }
}

inline void Decompose(float *f, int width, int height, const tsl::WTreeNode *tree) {
  std::vector<float> work(static_cast<size_t>(width) * height);
  for (int s = 0; s < tsl::W_TREELEN; ++s) {
    const tsl::WTreeNode &n = tree[s];
    float *region = f + n.y * width + n.x;
    GetLets(work.data(), region, n.leny, n.lenx, width, 1, tsl::hifilt, 7, tsl::lofilt, 9,
            n.inv_rw);
    GetLets(region, work.data(), n.lenx, n.leny, 1, width, tsl::hifilt, 7, tsl::lofilt, 9,
            n.inv_cl);
  }
}

inline void Reconstruct(float *f, int width, int height, const tsl::WTreeNode *tree,
                        const float *hi, int hsz, const float *lo, int lsz) {
  std::vector<float> work(static_cast<size_t>(width) * height);
  for (int s = tsl::W_TREELEN - 1; s >= 0; --s) {
    const tsl::WTreeNode &n = tree[s];
    float *region = f + n.y * width + n.x;
    JoinLets(work.data(), region, n.lenx, n.leny, 1, width, hi, hsz, lo, lsz, n.inv_cl);
    JoinLets(region, work.data(), n.leny, n.lenx, width, 1, hi, hsz, lo, lsz, n.inv_rw);
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

}  // namespace reference

#endif
