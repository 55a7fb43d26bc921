/* Shared by the C tests of Pellam: short names for the exports, whose export
 * names are opaque, and checks that count passes and failures. */
#pragma once

#include <stdio.h>

#include "pellam/pellam.h"

#define RecInit Entry_cd45c54f57981b6bcdc2efd49e6929c10567ebe7bb1d75e59fe3bae9d39ee7ab
#define RecTerm Entry_fb7923f791fb19135c1faedc427acd7ff5fee971c577b29513dede24d862df4a
#define RecCreate_ Entry_ffdbf5fe32062761fde21420f31f877d1d705941021673fdf7062fb4ab5ef2c9
#define RecDelete_ Entry_bc3673082b003145048ccb34e657ffb613b2bd5a94f4b8dcd2a712ebeecf4c66
#define RecMakeX Entry_faf73d186b40459db7cfddf2a9c85802e82f0ccedc92f6fba17ed7342dcfd006
#define RecPut Entry_589feab40955bf75bce8509064bd0574cd9aa9e3ae59cd5e90357615ea1c88ac
#define RecMakeI Entry_5c769344bf97836a4c4de07a4fee4819ccc6f7b640bd6c513884f53fba2c6754
#define RecQuality Entry_7f1b5d1fc589c7c71971ec557eec8fdf0cb0661b441b5deba36c4023bba3757c
#define RecReset_ Entry_b1834cb7088341f92c133c088ddb385b8fc218b1d4c594afedc6e8b205c92d82
#define RecCompare_ Entry_160c47515f08786e8d27f50a58f8eca7b4b18971a750893f9085ac1ee736bcd2
#define RecVersion Entry_3a838772c3507f8e8cf83c1aefedc0a11001820e9dff2a63e9e0d5716f32b57d
#define RecCheck Entry_75f8712e43cef1ce5badd1f5efda8544bf8dd5e3c5012e25ee078c45aee05bd3
#define RecDetail Entry_34a0d7eeb8756d45404ab5a6d690cb4fa2a8ef828a51cd8b0c8b8d036afe74d1
#define RecSize Entry_ee8a4b11689d57013760f6094ee7e4e8016ac9e2b3382f778aa7980c49ca9fe8

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
