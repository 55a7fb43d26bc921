/* The two calling orders of the C face on a deployment: streamed i-vector
 * enrolment and whole-recording x-vector templates compared with each
 * other, with the size checks and template validation on the way. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

#define CHECK(cond)                                                    \
  do {                                                                 \
    if (cond) {                                                        \
      ++passed;                                                        \
    } else {                                                           \
      ++failed;                                                        \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
    }                                                                  \
  } while (0)
#define CHECK_EQ(a, b) CHECK((long long)(a) == (long long)(b))

/* Voiced bursts at a given pitch, 8 kHz. */
static short* speech(size_t n, double pitch, unsigned seed) {
  short* pcm = malloc(n * sizeof *pcm);
  double phase = 0;
  srand(seed);
  for (size_t i = 0; i < n; ++i) {
    double t = (double)i / 8000.0, syl = fmod(t * 4.0, 1.0);
    double env = syl < 0.75 ? sin(3.14159265 * syl / 0.75) : 0.0, v = 0;
    phase += 2 * 3.14159265 * pitch * (1.0 + 0.1 * sin(4.4 * t)) / 8000.0;
    for (int h = 1; h * pitch < 3800; ++h) v += sin(h * phase) / (1.0 + fabs(h * pitch - 700) / 300);
    pcm[i] = (short)(3000.0 * env * v + (rand() % 61) - 30);
  }
  return pcm;
}

static unsigned char xor_from(const unsigned char* t, size_t from, size_t n) {
  unsigned char x = 0;
  for (size_t i = from; i < n; ++i) x ^= t[i];
  return x;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s DEPLOYMENT_DIR\n", argv[0]);
    return 2;
  }
  bool share = false;
  CHECK_EQ(RecInit(argv[1], &share), 0);
  if (failed) {
    fprintf(stderr, "initialisation detail 0x%X\n", RecDetail(NULL));
    return 1;
  }
  CHECK(strcmp(RecVersion(), "1.1.0.0") == 0);
  const int size = RecSize();
  CHECK(size > 256);
  size_t bytes = (size_t)size, short_bytes = bytes - 1;
  unsigned char *a = malloc(bytes), *b = malloc(bytes), *s = malloc(bytes), *spare = malloc(bytes);
  void* h = NULL;
  CHECK_EQ(RecCreate_(&h), 0);

  /* Whole recordings. */
  size_t na = 8000 * 5, nb = 8000 * 4;
  short* pa = speech(na, 110, 1);
  short* pb = speech(nb, 220, 2);
  float d = -1, v = 0, snr = 0, score = -1;
  CHECK_EQ(RecMakeX(h, pa, &na, a, &bytes, &d, &v, &snr), 0);
  CHECK(d > 1.0f && d <= 5.0f);
  CHECK_EQ(RecMakeX(h, pb, &nb, b, &bytes, &d, &v, &snr), 0);
  memset(spare, 0xAB, bytes);
  CHECK_EQ(RecMakeX(h, pa, &na, spare, &short_bytes, &d, &v, &snr), 768);
  CHECK(spare[0] == 0xAB && spare[bytes - 2] == 0xAB);
  CHECK_EQ(RecCompare_(h, (char*)a, &bytes, (char*)b, &bytes, &score), 0);
  CHECK(score >= 0.0f && score <= 100.0f);
  CHECK_EQ(RecCompare_(h, (char*)a, &short_bytes, (char*)b, &bytes, &score), 1792);
  CHECK_EQ(RecDetail(h), 8240);

  /* Validation: good, damaged, version changed with a corrected checksum. */
  char version[80];
  memset(version, 'x', sizeof version);
  CHECK_EQ(RecCheck((char*)a, &bytes, version), 0);
  CHECK(strcmp(version, "1.1") == 0 && version[79] == 0);
  memcpy(spare, a, bytes);
  spare[300] ^= 1;
  CHECK_EQ(RecCheck((char*)spare, &bytes, version), 1792);
  memcpy(spare, a, bytes);
  spare[14] = 2;
  spare[0] = xor_from(spare, 1, bytes);
  CHECK_EQ(RecCheck((char*)spare, &bytes, version), 1793);
  CHECK_EQ(RecCompare_(h, (char*)spare, &bytes, (char*)b, &bytes, &score), 1793);
  CHECK_EQ(RecCheck((char*)a, &short_bytes, version), 768);

  /* Streamed enrolment: chunks of 20 ms, quality on the way, the template. */
  CHECK_EQ(RecReset_(h), 0);
  for (size_t at = 0; at < na; at += 160) {
    size_t n = na - at < 160 ? na - at : 160;
    if (RecPut(h, pa + at, &n) != 0) {
      CHECK(0);
      break;
    }
  }
  float dq = 0;
  CHECK_EQ(RecQuality(h, &dq, &v, &snr), 0);
  CHECK(dq > 1.0f);
  memset(spare, 0xCD, bytes);
  CHECK_EQ(RecMakeI(h, spare, &short_bytes, &d, &v, &snr), 768);
  CHECK(spare[0] == 0xCD);
  d = -1;
  CHECK_EQ(RecMakeI(h, s, &bytes, &d, &v, &snr), 0);
  CHECK(d == dq);
  CHECK_EQ(RecCheck((char*)s, &bytes, version), 0);
  CHECK_EQ(RecCompare_(h, (char*)s, &bytes, (char*)a, &bytes, &score), 0);
  CHECK(score >= 0.0f && score <= 100.0f);
  CHECK_EQ(RecReset_(h), 0);
  CHECK_EQ(RecQuality(h, &dq, &v, &snr), 0);
  CHECK(dq == 0.0f);

  CHECK_EQ(RecDelete_(&h), 0);
  CHECK(h == NULL);
  CHECK_EQ(RecTerm(), 0);
  CHECK_EQ(RecSize(), -1);
  free(a), free(b), free(s), free(spare), free(pa), free(pb);
  printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}
