// The fuzz targets' invariant check: a broken invariant is a finding like a
// crash, so it stops the run with the condition and its line.
#pragma once

#include <cstdio>
#include <cstdlib>

#define KLV_FUZZ_CHECK(condition)                                                            \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                          \
    }                                                                                        \
  } while (false)
