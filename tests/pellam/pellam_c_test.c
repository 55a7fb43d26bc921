/* The C face of Pellam before and around initialisation: version text, model
 * path joining, size checks and the null-pointer cases. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "pellam/pellam.h"

#define RecInit Entry_cd45c54f57981b6bcdc2efd49e6929c10567ebe7bb1d75e59fe3bae9d39ee7ab
#define RecCreate_ Entry_ffdbf5fe32062761fde21420f31f877d1d705941021673fdf7062fb4ab5ef2c9
#define RecMakeX Entry_faf73d186b40459db7cfddf2a9c85802e82f0ccedc92f6fba17ed7342dcfd006
#define RecPut Entry_589feab40955bf75bce8509064bd0574cd9aa9e3ae59cd5e90357615ea1c88ac
#define RecMakeI Entry_5c769344bf97836a4c4de07a4fee4819ccc6f7b640bd6c513884f53fba2c6754
#define RecQuality Entry_7f1b5d1fc589c7c71971ec557eec8fdf0cb0661b441b5deba36c4023bba3757c
#define RecCompare_ Entry_160c47515f08786e8d27f50a58f8eca7b4b18971a750893f9085ac1ee736bcd2
#define RecVersion Entry_3a838772c3507f8e8cf83c1aefedc0a11001820e9dff2a63e9e0d5716f32b57d
#define RecCheck Entry_75f8712e43cef1ce5badd1f5efda8544bf8dd5e3c5012e25ee078c45aee05bd3
#define RecDetail Entry_34a0d7eeb8756d45404ab5a6d690cb4fa2a8ef828a51cd8b0c8b8d036afe74d1
#define RecSize Entry_ee8a4b11689d57013760f6094ee7e4e8016ac9e2b3382f778aa7980c49ca9fe8

static int passed = 0, failed = 0;

#define CHECK_EQ(actual, expected)                                                    \
  do {                                                                                \
    long long a_ = (long long)(actual), e_ = (long long)(expected);                   \
    if (a_ == e_) {                                                                   \
      ++passed;                                                                       \
    } else {                                                                          \
      ++failed;                                                                       \
      fprintf(stderr, "%s:%d: %s = %lld, expected %lld\n", __FILE__, __LINE__, #actual, \
              a_, e_);                                                                \
    }                                                                                 \
  } while (0)

static void write_file(const char* path, const char* text, size_t n) {
  FILE* f = fopen(path, "wb");
  if (!f) {
    perror(path);
    exit(2);
  }
  fwrite(text, 1, n, f);
  fclose(f);
}

static const char options[] = "{\"MfccOptions\":{\"MelBanksOptions\":{\"num_bins\":40}}}";

/* Writes options and, when `container` is set, a malformed container (version
 * byte 2) into dir + sep, so the init detail tells which model path was used. */
static void deploy(const char* prefix, int container) {
  char path[1024];
  snprintf(path, sizeof path, "%smfcc-options.json", prefix);
  write_file(path, options, sizeof options - 1);
  if (container) {
    char bad[76];
    memset(bad, 2, sizeof bad);
    snprintf(path, sizeof path, "%sulxmodel.dat", prefix);
    write_file(path, bad, sizeof bad);
  }
}

int main(int argc, char** argv) {
  const char* work = argc > 1 ? argv[1] : "pellam_c_work";
  char dir[1024], prefix[1100];
  mkdir(work, 0755);
  bool share = false;
  size_t bytes = 4356, count = 0;
  char version[80];
  char templ[4356];
  float d = 0, v = 0, s = 0, score = 0;
  void* handle = NULL;

  /* Before any initialisation. */
  CHECK_EQ(strcmp(RecVersion(), ""), 0);
  CHECK_EQ(RecSize(), -1);
  CHECK_EQ(RecDetail(NULL), 33);
  for (size_t n = 0; n < 5000; n += 1000) {
    bytes = n;
    CHECK_EQ(RecCheck(templ, &bytes, version), 768);
  }
  CHECK_EQ(RecCheck(templ, NULL, version), 768);

  /* Model path joining: '/' inserted, '\\' and '/' kept. The container is a
   * malformed one (detail 4118) where the path should lead; 4117 means the
   * path led nowhere. */
  snprintf(dir, sizeof dir, "%s/plain", work);
  mkdir(dir, 0755);
  snprintf(prefix, sizeof prefix, "%s/", dir);
  deploy(prefix, 1);
  CHECK_EQ(RecInit(dir, &share), 1024);
  CHECK_EQ(RecDetail(NULL), 4118);
  CHECK_EQ(strcmp(RecVersion(), "1.1.0.0"), 0);
  CHECK_EQ(RecInit(prefix, &share), 1024);
  CHECK_EQ(RecDetail(NULL), 4118);

  /* A directory ending in '\\' is joined without a separator: on this
   * platform the files are named "<dir>\\mfcc-options.json" and so on. */
  snprintf(prefix, sizeof prefix, "%s/win\\", work);
  deploy(prefix, 1);
  CHECK_EQ(RecInit(prefix, &share), 1024);
  CHECK_EQ(RecDetail(NULL), 4118);

  /* No container where the path leads. */
  snprintf(dir, sizeof dir, "%s/empty", work);
  mkdir(dir, 0755);
  snprintf(prefix, sizeof prefix, "%s/", dir);
  deploy(prefix, 0);
  CHECK_EQ(RecInit(dir, &share), 1024);
  CHECK_EQ(RecDetail(NULL), 4117);

  /* Null and empty arguments. */
  CHECK_EQ(RecInit(dir, NULL), 768);
  CHECK_EQ(strcmp(RecVersion(), "1.1.0.0"), 0);
  CHECK_EQ(RecCreate_(&handle), 769);
  bytes = 4356;
  count = 10;
  CHECK_EQ(RecMakeX(handle, NULL, &count, templ, &bytes, &d, &v, &s), 768);
  CHECK_EQ(RecMakeX(handle, NULL, NULL, templ, &bytes, &d, &v, &s), 768);
  CHECK_EQ(RecMakeX(handle, NULL, &count, templ, NULL, &d, &v, &s), 768);
  CHECK_EQ(RecPut(handle, NULL, NULL), 768);
  CHECK_EQ(RecPut(handle, NULL, &count), 768);
  CHECK_EQ(RecMakeI(handle, NULL, &bytes, &d, &v, &s), 768);
  CHECK_EQ(RecMakeI(handle, templ, &bytes, NULL, &v, &s), 768);
  CHECK_EQ(RecQuality(handle, &d, NULL, &s), 768);
  CHECK_EQ(RecCompare_(handle, templ, &bytes, templ, NULL, &score), 768);
  CHECK_EQ(RecCompare_(handle, templ, &bytes, templ, &bytes, NULL), 768);
  CHECK_EQ(RecCompare_(handle, NULL, &bytes, templ, &bytes, &score), 768);
  /* Valid pointers on an uninitialised engine reach the engine: 769. */
  CHECK_EQ(RecCompare_(handle, templ, &bytes, templ, &bytes, &score), 769);
  count = 0;
  CHECK_EQ(RecPut(handle, NULL, &count), 769);

  printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}
