/* The two calling orders of the C face on a deployment: streamed i-vector
 * enrolment and whole-recording x-vector templates compared with each
 * other, with the size checks and template validation on the way. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>

#include "tests/pellam/pellam-test.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define UNDER_SANITIZER 1
#endif
#endif

/* Voiced bursts at a given pitch, 8 kHz. */
static short* speech(size_t n, double pitch, unsigned seed) {
  short* pcm = malloc(n * sizeof *pcm);
  double phase = 0;
  srand(seed);
  for (size_t i = 0; i < n; ++i) {
    double t = (double)i / 8000.0, syl = fmod(t * 4.0, 1.0);
    double env = syl < 0.75 ? sin(3.14159265 * syl / 0.75) : 0.0, v = 0;
    phase += 2 * 3.14159265 * pitch * (1.0 + 0.1 * sin(4.4 * t)) / 8000.0;
    for (int h = 1; h * pitch < 3800; ++h)
      v += sin(h * phase) / (1.0 + fabs(h * pitch - 700) / 300);
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

  /* Byte counts are checked before anything is allocated or copied for them:
   * a claimed 4 GiB template or 2^31 samples is refused at once. Outside the
   * sanitizers the address space is limited to 1 GiB meanwhile, so that an
   * allocation of the claimed size fails (256) instead of passing unnoticed;
   * the sanitizers catch a read beyond the buffers. */
  {
    const size_t huge = (size_t)1 << 32, one_more = bytes + 1000, many = (size_t)1 << 31;
    unsigned char* exact = malloc(bytes);
    memcpy(exact, a, bytes);
    struct rlimit saved;
    getrlimit(RLIMIT_AS, &saved);
#ifndef UNDER_SANITIZER
    struct rlimit tight = saved;
    tight.rlim_cur = (rlim_t)1 << 30;
    setrlimit(RLIMIT_AS, &tight);
#endif
    struct {
      const char* what;
      int result;
      int status;
    } cases[] = {
        {"RecMakeX 4 GiB template", RecMakeX(h, pa, &na, spare, &huge, &d, &v, &snr), 768},
        {"RecMakeX 2^31 samples", RecMakeX(h, pa, &many, spare, &bytes, &d, &v, &snr), 768},
        {"RecPut 2^31 samples", RecPut(h, pa, &many), 768},
        {"RecMakeI 4 GiB template", RecMakeI(h, spare, &huge, &d, &v, &snr), 768},
        {"RecCompare 4 GiB first", RecCompare_(h, (char*)exact, &huge, (char*)b, &bytes, &score),
         1792},
        {"RecCompare 4 GiB second", RecCompare_(h, (char*)b, &bytes, (char*)exact, &huge, &score),
         1792},
        {"RecCompare 1000 bytes over",
         RecCompare_(h, (char*)exact, &one_more, (char*)b, &bytes, &score), 1792},
        {"RecCheck 4 GiB", RecCheck((char*)exact, &huge, version), 768},
    };
    setrlimit(RLIMIT_AS, &saved);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
      if (cases[i].result != cases[i].status)
        fprintf(stderr, "%s: %d, expected %d\n", cases[i].what, cases[i].result, cases[i].status);
      CHECK_EQ(cases[i].result, cases[i].status);
    }
    free(exact);
  }

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
  return check_summary();
}
