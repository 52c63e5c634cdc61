#include "wsq/nistcom.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "wsq/stream_io.h"

namespace tsl {

namespace {

char *CopyText(const char *text) {
  size_t n = std::strlen(text) + 1;
  char *copy = static_cast<char *>(std::malloc(n));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

// Index of the first entry called name, or -1.
int FindEntry(const char *name, const FET *fet) {
  for (int i = 0; i < fet->count; i++) {
    if (std::strcmp(fet->names[i], name) == 0) return i;
  }
  return -1;
}

// Resizes both arrays of an existing list in place. On failure the list
// keeps arrays that are at least as large as its capacity says, so releasing
// it stays safe. Fewer slots than entries are refused: the entries past
// them could no longer be released.
int GrowArrays(FET *fet, int new_capacity) {
  if (new_capacity < fet->count) {
    std::fprintf(stderr, "ERROR : reallocfet_ret : capacity %d below entry count %d\n",
                 new_capacity, fet->count);
    return -4;
  }
  size_t slots = new_capacity > 0 ? static_cast<size_t>(new_capacity) : 1;
  char **names = static_cast<char **>(std::realloc(fet->names, slots * sizeof(char *)));
  if (names == nullptr) {
    std::fprintf(stderr, "ERROR : reallocfet_ret : realloc : fet->names\n");
    return -2;
  }
  fet->names = names;
  char **values = static_cast<char **>(std::realloc(fet->values, slots * sizeof(char *)));
  if (values == nullptr) {
    std::fprintf(stderr, "ERROR : reallocfet_ret : realloc : fet->values");
    return -3;
  }
  fet->values = values;
  for (size_t i = static_cast<size_t>(fet->count); i < slots; i++) {
    fet->names[i] = nullptr;
    fet->values[i] = nullptr;
  }
  fet->capacity = new_capacity;
  return 0;
}

bool IsNameEnd(char c) { return c == ' ' || c == '\t' || c == '\0'; }

// The leading decimal integer of text as atoi reads it, clamped to int.
int LeadingInt(const char *text) {
  const char *p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long long v = 0;
  while (*p >= '0' && *p <= '9') {
    if (v <= static_cast<long long>(INT_MAX) + 1) v = v * 10 + (*p - '0');
    p++;
  }
  if (negative) v = -v;
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

int SetInt(const char *name, long long v, FET *fet) {
  return updatefet_ret(name, IntText(v).c_str(), fet);
}

// Text lengths beyond what one comment segment holds are handed on as one
// too many, so the segment writer refuses them rather than seeing a wrapped
// int.
int SegmentTextLength(const char *text) {
  size_t n = std::strlen(text);
  return n > static_cast<size_t>(kMaxCommentText) ? kMaxCommentText + 1 : static_cast<int>(n);
}

}  // namespace

int allocfet_ret(FET **ofet, int capacity) {
  if (capacity < 0) capacity = 0;
  size_t slots = capacity > 0 ? static_cast<size_t>(capacity) : 1;
  FET *fet = static_cast<FET *>(std::malloc(sizeof(FET)));
  if (fet == nullptr) {
    std::fprintf(stderr, "ERROR : allocfet_ret : malloc : fet\n");
    return -2;
  }
  fet->names = static_cast<char **>(std::calloc(slots, sizeof(char *)));
  if (fet->names == nullptr) {
    std::fprintf(stderr, "ERROR : allocfet_ret : calloc : fet->names\n");
    std::free(fet);
    return -3;
  }
  fet->values = static_cast<char **>(std::calloc(slots, sizeof(char *)));
  if (fet->values == nullptr) {
    std::fprintf(stderr, "ERROR : allocfet_ret : calloc : fet->values\n");
    std::free(fet->names);
    std::free(fet);
    return -4;
  }
  fet->capacity = capacity;
  fet->count = 0;
  *ofet = fet;
  return 0;
}

int reallocfet_ret(FET **fet, int new_capacity) {
  // A list that exists is resized in place even when it has no slots, so the
  // pointer its holder keeps stays valid and nothing leaks.
  if (*fet == nullptr) return allocfet_ret(fet, new_capacity);
  return GrowArrays(*fet, new_capacity);
}

int updatefet_ret(const char *name, const char *value, FET *fet) {
  int item = FindEntry(name, fet);
  if (item >= 0) {
    std::free(fet->values[item]);
    fet->values[item] = nullptr;
    if (value != nullptr) {
      fet->values[item] = CopyText(value);
      if (fet->values[item] == nullptr) {
        std::fprintf(stderr, "ERROR : updatefet_ret : malloc : fet->values[]\n");
        return -2;
      }
    }
    return 0;
  }
  if (fet->capacity <= fet->count) {
    int grow = fet->capacity / 10;
    if (grow < 10) grow = 10;
    if (fet->capacity > INT_MAX - grow) return -2;
    int ret = GrowArrays(fet, fet->capacity + grow);
    if (ret) return ret;
  }
  char *name_copy = CopyText(name);
  if (name_copy == nullptr) {
    std::fprintf(stderr, "ERROR : updatefet_ret : malloc : fet->names[]\n");
    return -3;
  }
  char *value_copy = nullptr;
  if (value != nullptr) {
    value_copy = CopyText(value);
    if (value_copy == nullptr) {
      std::fprintf(stderr, "ERROR : updatefet_ret : malloc : fet->values[]\n");
      std::free(name_copy);
      return -4;
    }
  }
  fet->names[fet->count] = name_copy;
  fet->values[fet->count] = value_copy;
  fet->count++;
  return 0;
}

int lookupfet(char **ovalue, const char *name, const FET *fet) {
  int item = FindEntry(name, fet);
  if (item < 0) return 0;
  char *value = nullptr;
  if (fet->values[item] != nullptr) {
    value = CopyText(fet->values[item]);
    if (value == nullptr) {
      std::fprintf(stderr, "ERROR : lookupfet : malloc : value\n");
      return -2;
    }
  }
  *ovalue = value;
  return 1;
}

int extractfet_ret(char **ovalue, const char *name, const FET *fet) {
  int item = FindEntry(name, fet);
  if (item < 0) {
    std::fprintf(stderr, "ERROR : extractfet_ret : feature %s not found\n", name);
    return -2;
  }
  char *value = nullptr;
  if (fet->values[item] != nullptr) {
    value = CopyText(fet->values[item]);
    if (value == nullptr) {
      std::fprintf(stderr, "ERROR : extractfet_ret : malloc : value\n");
      return -3;
    }
  }
  *ovalue = value;
  return 0;
}

void freefet(FET *fet) {
  if (fet == nullptr) return;
  for (int i = 0; i < fet->count; i++) {
    std::free(fet->names[i]);
    std::free(fet->values[i]);
  }
  std::free(fet->names);
  std::free(fet->values);
  std::free(fet);
}

int string2fet(FET **ofet, const char *istr) {
  FET *fet = nullptr;
  int ret = allocfet_ret(&fet, kFetParseCapacity);
  if (ret) return ret;
  // Items longer than a list entry may hold are refused before they are
  // copied, so fixed buffers serve and parsing takes no memory of its own.
  char name[kFetMaxItemLength + 1];
  char value[kFetMaxItemLength + 1];
  const char *p = istr;
  while (*p != '\0') {
    const char *name_start = p;
    while (!IsNameEnd(*p)) p++;
    const size_t name_length = static_cast<size_t>(p - name_start);
    while (*p == ' ' || *p == '\t') p++;
    const char *value_start = p;
    while (*p != '\n' && *p != '\0') p++;
    const size_t value_length = static_cast<size_t>(p - value_start);
    while (*p == ' ' || *p == '\t' || *p == '\n') p++;
    if (name_length == 0) {
      std::fprintf(stderr, "ERROR : string2fet : empty name string found\n");
      freefet(fet);
      return -2;
    }
    if (name_length > static_cast<size_t>(kFetMaxItemLength) ||
        value_length > static_cast<size_t>(kFetMaxItemLength)) {
      std::fprintf(stderr, "ERROR : string2fet : name or value longer than %d characters\n",
                   kFetMaxItemLength);
      freefet(fet);
      return -5;
    }
    std::memcpy(name, name_start, name_length);
    name[name_length] = '\0';
    std::memcpy(value, value_start, value_length);
    value[value_length] = '\0';
    ret = updatefet_ret(name, value_length == 0 ? nullptr : value, fet);
    if (ret) {
      freefet(fet);
      return ret;
    }
  }
  *ofet = fet;
  return 0;
}

int fet2string(char **ostr, const FET *fet) {
  // An entry without a value is written as its name and a blank, which
  // parses back to the same entry.
  size_t size = 0;
  for (int i = 0; i < fet->count; i++) {
    size += std::strlen(fet->names[i]) + 2;
    if (fet->values[i] != nullptr) size += std::strlen(fet->values[i]);
  }
  char *text = static_cast<char *>(std::calloc(size + 1, 1));
  if (text == nullptr) {
    std::fprintf(stderr, "ERROR : fet2string : malloc : str\n");
    return -2;
  }
  char *p = text;
  for (int i = 0; i < fet->count; i++) {
    size_t n = std::strlen(fet->names[i]);
    std::memcpy(p, fet->names[i], n);
    p += n;
    *p++ = ' ';
    if (fet->values[i] != nullptr) {
      n = std::strlen(fet->values[i]);
      std::memcpy(p, fet->values[i], n);
      p += n;
    }
    *p++ = '\n';
  }
  if (p != text) p[-1] = '\0';
  *ostr = text;
  return 0;
}

int combine_nistcom(FET **ofet, int width, int height, int depth, int ppi, int lossyflag) {
  FET *fet = *ofet;
  bool made_here = false;
  int ret;
  if (fet == nullptr) {
    ret = allocfet_ret(&fet, kFetNistcomCapacity);
    if (ret) return ret;
    made_here = true;
    ret = updatefet_ret(NCM_HEADER, "6", fet);
    if (ret) {
      freefet(fet);
      return ret;
    }
  }
  auto fail = [&](int code) {
    if (made_here) freefet(fet);
    return code;
  };
  if ((ret = SetInt(NCM_PIX_WIDTH, width, fet)) != 0) return fail(ret);
  if ((ret = SetInt(NCM_PIX_HEIGHT, height, fet)) != 0) return fail(ret);
  if ((ret = SetInt(NCM_PIX_DEPTH, depth, fet)) != 0) return fail(ret);
  if ((ret = SetInt(NCM_PPI, ppi, fet)) != 0) return fail(ret);

  char *lossy = nullptr;
  ret = lookupfet(&lossy, NCM_LOSSY, fet);
  if (ret < 0) return fail(ret);
  // An entry without a value counts as absent.
  bool keep = ret == 1 && lossy != nullptr && std::strcmp(lossy, "0") != 0 && lossyflag == 0;
  std::free(lossy);
  if (keep) {
    std::fprintf(stderr, "WARNING : combine_nistcom : ");
    std::fprintf(stderr, "request to unset lossy flag ignored\n");
  } else if ((ret = SetInt(NCM_LOSSY, lossyflag, fet)) != 0) {
    return fail(ret);
  }
  if ((ret = SetInt(NCM_HEADER, fet->count, fet)) != 0) return fail(ret);
  *ofet = fet;
  return 0;
}

int combine_wsq_nistcom(FET **ofet, int width, int height, int depth, int ppi, int lossyflag,
                        float r_bitrate) {
  bool made_here = *ofet == nullptr;
  int ret = combine_nistcom(ofet, width, height, depth, ppi, lossyflag);
  if (ret) return ret;
  FET *fet = *ofet;
  if ((ret = updatefet_ret(NCM_COLORSPACE, "GRAY", fet)) == 0 &&
      (ret = updatefet_ret(NCM_COMPRESSION, "WSQ", fet)) == 0 &&
      (ret = updatefet_ret(NCM_WSQ_RATE, FixedText(r_bitrate, 6).c_str(), fet)) == 0 &&
      (ret = SetInt(NCM_HEADER, fet->count, fet)) == 0) {
    return 0;
  }
  if (made_here) {
    freefet(fet);
    *ofet = nullptr;
  }
  return ret;
}

int putc_nistcom_wsq(const char *comment_text, int width, int height, int depth, int ppi,
                     int lossyflag, float r_bitrate, uint8_t *odata, int oalloc, int *olen) {
  FET *nistcom = nullptr;
  bool second_comment = false;
  int ret;
  if (comment_text != nullptr) {
    if (std::strncmp(comment_text, NCM_HEADER, 8) == 0) {
      ret = string2fet(&nistcom, comment_text);
      if (ret) return ret;
    } else {
      second_comment = true;
    }
  }
  bool was_null = nistcom == nullptr;
  ret = combine_wsq_nistcom(&nistcom, width, height, depth, ppi, lossyflag, r_bitrate);
  if (ret) {
    // A list made by the combine is already gone; a parsed one is ours.
    if (!was_null) freefet(nistcom);
    return ret;
  }
  char *text = nullptr;
  ret = fet2string(&text, nistcom);
  freefet(nistcom);
  if (ret) return ret;
  ret = putc_comment(COM_WSQ, reinterpret_cast<const uint8_t *>(text), SegmentTextLength(text),
                     odata, oalloc, olen);
  std::free(text);
  if (ret) return ret;
  if (second_comment) {
    ret = putc_comment(COM_WSQ, reinterpret_cast<const uint8_t *>(comment_text),
                       SegmentTextLength(comment_text), odata, oalloc, olen);
    if (ret) return ret;
  }
  return 0;
}

int getc_nistcom_wsq(FET **onistcom, const uint8_t *idata, int ilen) {
  const uint8_t *cbufptr = idata;
  const uint8_t *ebufptr = idata + (ilen > 0 ? ilen : 0);
  uint16_t marker;
  int ret = getc_marker_wsq(&marker, SOI_WSQ, &cbufptr, ebufptr);
  if (ret) return ret;
  ret = getc_marker_wsq(&marker, ANY_WSQ, &cbufptr, ebufptr);
  if (ret) return ret;
  while (marker != SOB_WSQ) {
    if (marker == COM_WSQ && ebufptr - cbufptr >= 10 &&
        std::memcmp(cbufptr + 2, NCM_HEADER, 8) == 0) {
      char *text = nullptr;
      ret = getc_comment(&text, &cbufptr, ebufptr);
      if (ret) return ret;
      FET *nistcom = nullptr;
      ret = string2fet(&nistcom, text);
      std::free(text);
      if (ret) return ret;
      *onistcom = nistcom;
      return 0;
    }
    ret = getc_skip_marker_segment(marker, &cbufptr, ebufptr);
    if (ret) return ret;
    ret = getc_marker_wsq(&marker, ANY_WSQ, &cbufptr, ebufptr);
    if (ret) return ret;
  }
  *onistcom = nullptr;
  return 0;
}

int getc_ppi_wsq(int *oppi, const uint8_t *idata, int ilen) {
  FET *nistcom = nullptr;
  int ret = getc_nistcom_wsq(&nistcom, idata, ilen);
  if (ret) return ret;
  int ppi = -1;
  if (nistcom != nullptr) {
    char *value = nullptr;
    ret = extractfet_ret(&value, NCM_PPI, nistcom);
    freefet(nistcom);
    if (ret) return ret;
    if (value != nullptr) ppi = LeadingInt(value);
    std::free(value);
  }
  *oppi = ppi;
  return 0;
}

}  // namespace tsl
