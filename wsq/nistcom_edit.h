// Editing of NISTCOM lists: removing an entry, removing the fields one
// compression method added, and adding the fields of lossless and baseline
// JPEG compression. Building blocks of the codec; no exported function
// reaches them.
#ifndef TESSALY_WSQ_NISTCOM_EDIT_H
#define TESSALY_WSQ_NISTCOM_EDIT_H

#include "wsq/nistcom.h"

namespace tsl {

constexpr const char *NCM_NUM_CMPNTS = "NUM_COMPONENTS";
constexpr const char *NCM_HV_FCTRS = "HV_FACTORS";
constexpr const char *NCM_INTRLV = "INTERLEAVE";
constexpr const char *NCM_JPEGL_PREDICT = "JPEGL_PREDICT";
constexpr const char *NCM_JPEGB_QUAL = "JPEGB_QUALITY";

// Removes the first entry called name, its followers moving up one place;
// false when there is none. Writes nothing.
bool RemoveFetEntry(const char *name, FET *fet);

// As RemoveFetEntry, with a message and -2 when the name is absent.
int deletefet_ret(const char *name, FET *fet);

// Remove "COMPRESSION" and the method's own entry, then set "NIST_COM" to
// the count; the first failing step ends the call, earlier ones stay done.
int del_wsq_nistcom(FET *nistcom);
int del_jpegl_nistcom(FET *nistcom);
int del_jpegb_nistcom(FET *nistcom);

// Add the image entries and those of the compression to *onistcom (a new
// list when null). A list made here is released on failure and *onistcom
// left null. Components are 1 to 4 for lossless JPEG; the factors are read
// for each of them.
int combine_jpegl_nistcom(FET **onistcom, int w, int h, int d, int ppi, int lossyflag,
                          int num_cmpnts, const int *hor_sampfctr, const int *vrt_sampfctr,
                          int intrlvflag, int predict);
int combine_jpegb_nistcom(FET **onistcom, int w, int h, int d, int ppi, int lossyflag,
                          const char *colorspace, int num_cmpnts, int intrlvflag, int quality);

}  // namespace tsl

#endif
