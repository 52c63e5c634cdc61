#include "wsq/nistcom_edit.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/text.h"
#include "wsq/jpegl.h"

namespace tsl {

namespace {

int SetInt(const char *name, long long v, FET *fet) {
  return updatefet_ret(name, FormatInt(v).c_str(), fet);
}

int DeleteMethodFields(FET *nistcom, const char *method_entry) {
  int ret = deletefet_ret(NCM_COMPRESSION, nistcom);
  if (ret) return ret;
  if ((ret = deletefet_ret(method_entry, nistcom))) return ret;
  return SetInt(NCM_HEADER, nistcom->count, nistcom);
}

// Runs add on the list after combine_nistcom has put the image entries in,
// then sets the count. A list made here goes again on failure, and the
// caller's pointer with it.
template <typename Add>
int CombineWith(FET **onistcom, int w, int h, int d, int ppi, int lossyflag, Add add) {
  const bool made_here = *onistcom == nullptr;
  int ret = combine_nistcom(onistcom, w, h, d, ppi, lossyflag);
  if (ret) return ret;
  FET *fet = *onistcom;
  if ((ret = add(fet)) == 0 && (ret = SetInt(NCM_HEADER, fet->count, fet)) == 0) return 0;
  if (made_here) {
    freefet(fet);
    *onistcom = nullptr;
  }
  return ret;
}

}  // namespace

bool RemoveFetEntry(const char *name, FET *fet) {
  int item = 0;
  while (item < fet->count && std::strcmp(fet->names[item], name) != 0) ++item;
  if (item == fet->count) return false;
  std::free(fet->names[item]);
  std::free(fet->values[item]);
  for (int i = item + 1; i < fet->count; ++i) {
    fet->names[i - 1] = fet->names[i];
    fet->values[i - 1] = fet->values[i];
  }
  fet->count--;
  fet->names[fet->count] = nullptr;
  fet->values[fet->count] = nullptr;
  return true;
}

int deletefet_ret(const char *name, FET *fet) {
  if (!RemoveFetEntry(name, fet)) {
    fprintf(stderr, "ERROR : deletefet_ret : feature %s not found\n", name);
    return -2;
  }
  return 0;
}

int del_wsq_nistcom(FET *nistcom) { return DeleteMethodFields(nistcom, NCM_WSQ_RATE); }
int del_jpegl_nistcom(FET *nistcom) { return DeleteMethodFields(nistcom, NCM_JPEGL_PREDICT); }
int del_jpegb_nistcom(FET *nistcom) { return DeleteMethodFields(nistcom, NCM_JPEGB_QUAL); }

int combine_jpegl_nistcom(FET **onistcom, int w, int h, int d, int ppi, int lossyflag,
                          int num_cmpnts, const int *hor_sampfctr, const int *vrt_sampfctr,
                          int intrlvflag, int predict) {
  if (num_cmpnts < 1 || num_cmpnts > MAX_CMPNTS) {
    fprintf(stderr, "ERROR : combine_jpegl_nistcom : components %d out of range\n", num_cmpnts);
    return kJpeglOutOfRange;
  }
  return CombineWith(onistcom, w, h, d, ppi, lossyflag, [&](FET *fet) {
    int ret;
    if (num_cmpnts == 1) {
      if ((ret = updatefet_ret(NCM_COLORSPACE, "GRAY", fet))) return ret;
    } else {
      if ((ret = SetInt(NCM_NUM_CMPNTS, num_cmpnts, fet))) return ret;
      std::string factors;
      for (int i = 0; i < num_cmpnts; ++i) {
        if (i > 0) factors += ':';
        factors += FormatInt(hor_sampfctr[i]) + ',' + FormatInt(vrt_sampfctr[i]);
      }
      if ((ret = updatefet_ret(NCM_HV_FCTRS, factors.c_str(), fet))) return ret;
      if ((ret = SetInt(NCM_INTRLV, intrlvflag, fet))) return ret;
    }
    if ((ret = updatefet_ret(NCM_COMPRESSION, "JPEGL", fet))) return ret;
    return SetInt(NCM_JPEGL_PREDICT, predict, fet);
  });
}

int combine_jpegb_nistcom(FET **onistcom, int w, int h, int d, int ppi, int lossyflag,
                          const char *colorspace, int num_cmpnts, int intrlvflag, int quality) {
  return CombineWith(onistcom, w, h, d, ppi, lossyflag, [&](FET *fet) {
    int ret = updatefet_ret(NCM_COLORSPACE, colorspace, fet);
    if (ret) return ret;
    if (num_cmpnts > 1) {
      if ((ret = SetInt(NCM_NUM_CMPNTS, num_cmpnts, fet))) return ret;
      const char *factors = nullptr;
      // Without a colour space text the factors cannot be chosen either.
      if (colorspace != nullptr && std::strcmp(colorspace, "RGB") == 0)
        factors = "1,1:1,1:1,1";
      else if (colorspace != nullptr && std::strcmp(colorspace, "YCbCr") == 0)
        factors = "2,2:1,1:1,1";
      if (factors == nullptr) {
        fprintf(stderr, "ERROR : combine_jpegb_nistcom : unknown/unsupported colorspace = %s\n",
                colorspace != nullptr ? colorspace : "(null)");
        return -2;
      }
      if ((ret = updatefet_ret(NCM_HV_FCTRS, factors, fet))) return ret;
      if ((ret = SetInt(NCM_INTRLV, intrlvflag, fet))) return ret;
    }
    if ((ret = updatefet_ret(NCM_COMPRESSION, "JPEGB", fet))) return ret;
    return SetInt(NCM_JPEGB_QUAL, quality, fet);
  });
}

}  // namespace tsl
