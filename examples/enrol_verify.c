/* Enrols two speakers and verifies a third recording against both, through
 * the public library only.
 *
 *   enrol_verify DEPLOYMENT_DIR ENROL_A.wav ENROL_B.wav TEST.wav
 *
 * Recordings: 16-bit mono PCM WAV at the deployment's sampling frequency
 * (8 kHz by default). Each recording gives an x-vector template (whole
 * recording) and an i-vector template (streamed in 20 ms chunks); the test
 * recording is scored against A and B with each kind. */
#include <stdio.h>
#include <stdlib.h>

#include "pellam/pellam.h"
#include "tools/wavio/wav-reader.h"

#define RecInit Entry_cd45c54f57981b6bcdc2efd49e6929c10567ebe7bb1d75e59fe3bae9d39ee7ab
#define RecTerm Entry_fb7923f791fb19135c1faedc427acd7ff5fee971c577b29513dede24d862df4a
#define RecCreate_ Entry_ffdbf5fe32062761fde21420f31f877d1d705941021673fdf7062fb4ab5ef2c9
#define RecDelete_ Entry_bc3673082b003145048ccb34e657ffb613b2bd5a94f4b8dcd2a712ebeecf4c66
#define RecMakeX Entry_faf73d186b40459db7cfddf2a9c85802e82f0ccedc92f6fba17ed7342dcfd006
#define RecPut Entry_589feab40955bf75bce8509064bd0574cd9aa9e3ae59cd5e90357615ea1c88ac
#define RecMakeI Entry_5c769344bf97836a4c4de07a4fee4819ccc6f7b640bd6c513884f53fba2c6754
#define RecReset_ Entry_b1834cb7088341f92c133c088ddb385b8fc218b1d4c594afedc6e8b205c92d82
#define RecCompare_ Entry_160c47515f08786e8d27f50a58f8eca7b4b18971a750893f9085ac1ee736bcd2
#define RecDetail Entry_34a0d7eeb8756d45404ab5a6d690cb4fa2a8ef828a51cd8b0c8b8d036afe74d1
#define RecSize Entry_ee8a4b11689d57013760f6094ee7e4e8016ac9e2b3382f778aa7980c49ca9fe8

static int fail(const char* what, int status, void* handle) {
  fprintf(stderr, "%s failed: status %d, detail 0x%05X\n", what, status, RecDetail(handle));
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: %s DEPLOYMENT_DIR ENROL_A.wav ENROL_B.wav TEST.wav\n", argv[0]);
    return 2;
  }
  size_t n[3];
  short* pcm[3];
  JorWav wav[3];
  for (int i = 0; i < 3; ++i) {
    const char* why = JorWavRead(argv[2 + i], &wav[i]);
    if (why) {
      fprintf(stderr, "%s: not a 16-bit mono PCM WAV file (%s)\n", argv[2 + i], why);
      return 1;
    }
    pcm[i] = wav[i].samples;
    n[i] = wav[i].count;
  }
  bool share = false;
  int r = RecInit(argv[1], &share);
  if (r) return fail("RecInitialize", r, NULL);
  void* h = NULL;
  if ((r = RecCreate_(&h))) return fail("RecCreate", r, NULL);
  size_t bytes = (size_t)RecSize();
  /* Per recording: an x-vector template of the whole recording and an
   * i-vector template of the same samples streamed in 20 ms chunks. */
  char* xv[3];
  char* iv[3];
  const char* names[3] = {"A", "B", "test"};
  float d, v, snr;
  for (int i = 0; i < 3; ++i) {
    xv[i] = malloc(bytes);
    iv[i] = malloc(bytes);
    if ((r = RecMakeX(h, pcm[i], &n[i], xv[i], &bytes, &d, &v, &snr)))
      return fail("RecMakeXvectorTemplate", r, h);
    if ((r = RecReset_(h))) return fail("RecReset", r, h);
    for (size_t at = 0; at < n[i]; at += 160) {
      size_t chunk = n[i] - at < 160 ? n[i] - at : 160;
      if ((r = RecPut(h, pcm[i] + at, &chunk))) return fail("RecPutPcm", r, h);
    }
    if ((r = RecMakeI(h, iv[i], &bytes, &d, &v, &snr)))
      return fail("RecMakeIvectorTemplate", r, h);
    printf("%-4s %s: %.2f s of speech, volume %.1f dB, snr %.1f dB\n", names[i], argv[2 + i], d,
           v, snr);
  }
  printf("scores of the test recording (0 to 100):\n");
  for (int i = 0; i < 2; ++i) {
    float sx, si;
    if ((r = RecCompare_(h, xv[i], &bytes, xv[2], &bytes, &sx))) return fail("RecCompare", r, h);
    if ((r = RecCompare_(h, iv[i], &bytes, iv[2], &bytes, &si))) return fail("RecCompare", r, h);
    printf("  against %s: x-vector %5.1f   i-vector %5.1f\n", names[i], sx, si);
  }
  for (int i = 0; i < 3; ++i) free(xv[i]), free(iv[i]);

  RecDelete_(&h);
  RecTerm();
  for (int i = 0; i < 3; ++i) JorWavFree(&wav[i]);
  return 0;
}
