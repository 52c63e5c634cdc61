// NISTCOM comment text (lines of "name value") and the FET name/value list it
// parses into. Used by the WSQ encoder (writing the comment) and decoder
// (finding the stream's pixels per inch).
#ifndef TESSALY_WSQ_NISTCOM_H
#define TESSALY_WSQ_NISTCOM_H

#include <cstdint>

namespace tsl {

// Ordered name/value list; names and values are separate malloc'ed copies
// owned by the list. A value may be null (an entry without a value).
struct FET {
  int capacity;  // slots allocated in names and values
  int count;     // entries in use: slots 0 .. count-1
  char **names;
  char **values;
};

// Entry names of the NISTCOM text.
constexpr const char *NCM_HEADER = "NIST_COM";
constexpr const char *NCM_PIX_WIDTH = "PIX_WIDTH";
constexpr const char *NCM_PIX_HEIGHT = "PIX_HEIGHT";
constexpr const char *NCM_PIX_DEPTH = "PIX_DEPTH";
constexpr const char *NCM_PPI = "PPI";
constexpr const char *NCM_LOSSY = "LOSSY";
constexpr const char *NCM_COLORSPACE = "COLORSPACE";
constexpr const char *NCM_COMPRESSION = "COMPRESSION";
constexpr const char *NCM_WSQ_RATE = "WSQ_BITRATE";

// Capacity of a list parsed from text, and of one started by combine_nistcom.
constexpr int kFetParseCapacity = 100;
constexpr int kFetNistcomCapacity = 6;
// Longest name or value accepted when parsing text; longer ones are refused.
constexpr int kFetMaxItemLength = 511;

// List routines: 0 on success, a negative code on failure.
int allocfet_ret(FET **ofet, int capacity);
int reallocfet_ret(FET **fet, int new_capacity);
int updatefet_ret(const char *name, const char *value, FET *fet);
// 1 found (*ovalue = new copy, or null for an entry without value), 0 absent.
int lookupfet(char **ovalue, const char *name, const FET *fet);
// 0 found, -2 absent (with a message), -3 out of memory.
int extractfet_ret(char **ovalue, const char *name, const FET *fet);
void freefet(FET *fet);

// Text <-> list. fet2string hands out a malloc'ed NUL-terminated text.
int string2fet(FET **ofet, const char *istr);
int fet2string(char **ostr, const FET *fet);

// Add or update the image entries (and the WSQ entries) and the count.
// *ofet may be null: a new list is made.
int combine_nistcom(FET **ofet, int width, int height, int depth, int ppi, int lossyflag);
int combine_wsq_nistcom(FET **ofet, int width, int height, int depth, int ppi, int lossyflag,
                        float r_bitrate);

// Appends the NISTCOM comment segment to the output buffer, and the caller's
// comment as a second segment when it is not NISTCOM text itself.
int putc_nistcom_wsq(const char *comment_text, int width, int height, int depth, int ppi,
                     int lossyflag, float r_bitrate, uint8_t *odata, int oalloc, int *olen);
// *onistcom = the parsed first NISTCOM comment before the first block, or
// null when there is none.
int getc_nistcom_wsq(FET **onistcom, const uint8_t *idata, int ilen);
// *oppi = the NISTCOM "PPI" value, or -1 when the stream has no NISTCOM
// comment or the entry has no value.
int getc_ppi_wsq(int *oppi, const uint8_t *idata, int ilen);

}  // namespace tsl

#endif
