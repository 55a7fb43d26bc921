/* The C face of Pellam before and around initialisation: version text, model
 * path joining, size checks and the null-pointer cases. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/pellam/pellam-test.h"

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

  /* A null or empty directory is the working directory: its container (the
   * malformed one of "plain") is found there, not at "/ulxmodel.dat". */
  char here[1024];
  snprintf(dir, sizeof dir, "%s/plain", work);
  if (getcwd(here, sizeof here) && chdir(dir) == 0) {
    CHECK_EQ(RecInit("", &share), 1024);
    CHECK_EQ(RecDetail(NULL), 4118);
    CHECK_EQ(RecInit(NULL, &share), 1024);
    CHECK_EQ(RecDetail(NULL), 4118);
    CHECK_EQ(chdir(here), 0);
  } else {
    CHECK(0);
  }

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

  return check_summary();
}
