/* Shared by the C tests of Pellam: the export aliases and checks that count
 * passes and failures. */
#pragma once

#include <stdio.h>

#include "tests/pellam/pellam-aliases.h"


static int passed = 0, failed = 0;

#define CHECK(cond)                                                      \
  do {                                                                   \
    if (cond) {                                                          \
      ++passed;                                                          \
    } else {                                                             \
      ++failed;                                                          \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
    }                                                                    \
  } while (0)

#define CHECK_EQ(actual, expected)                                                               \
  do {                                                                                           \
    long long a_ = (long long)(actual), e_ = (long long)(expected);                              \
    if (a_ == e_) {                                                                              \
      ++passed;                                                                                  \
    } else {                                                                                     \
      ++failed;                                                                                  \
      fprintf(stderr, "%s:%d: %s = %lld, expected %lld\n", __FILE__, __LINE__, #actual, a_, e_); \
    }                                                                                            \
  } while (0)

/* Prints the tally and gives the exit status. */
static inline int check_summary(void) {
  printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}
