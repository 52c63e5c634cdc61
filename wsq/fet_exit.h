// NISTCOM list operations that end the process on failure, and the two
// reporters they end it through. Private: nothing reachable from an
// exported function may call them (the _ret forms of nistcom.h serve the
// library); only their own source and tests include this header.
#ifndef TESSALY_WSQ_FET_EXIT_H
#define TESSALY_WSQ_FET_EXIT_H

#ifndef TESSALY_PROCESS_EXIT_ALLOWED
#error "wsq/fet_exit.h ends the process on failure; the library itself must not use it"
#endif

#include "wsq/nistcom.h"

namespace tsl {

// Flush standard output, write one "ERROR: ..." line to standard error and
// end the process: fatalerr with status 1, syserr with status -1. The
// second and third texts of fatalerr and the third of syserr may be null.
[[noreturn]] void fatalerr(const char *s1, const char *s2, const char *s3);
[[noreturn]] void syserr(const char *funcname, const char *syscall, const char *msg);

FET *allocfet(int capacity);
// No list: a new one. Otherwise both arrays of the list itself are resized;
// a capacity below the entry count ends the process.
FET *reallocfet(FET *fet, int new_capacity);
void updatefet(const char *name, const char *value, FET *fet);
// A new malloc'ed copy of the named entry's value, or null for an entry
// without one; an absent name ends the process.
char *extractfet(const char *name, const FET *fet);
void deletefet(const char *name, FET *fet);

}  // namespace tsl

#endif
