/* A small application of the installed Pellam: checks that every readable
 * name is the export of its ordinal, then makes two templates of a synthetic
 * recording and compares them.
 *
 *   pellam_app MODELS_DIR */
#include <math.h>
#include <pellam/pellam-names.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
  int ordinal;
  const char* name;    /* the export name */
  const char* defined; /* what the readable name expands to */
} Row;

#define EXPANDED(x) STRING(x)
#define STRING(x) #x
#define EXPORT_ROW(ordinal, role, name) {ordinal, #name, #name},
#define READABLE_ROW(ordinal, readable, name) {ordinal, #name, EXPANDED(readable)},
static const Row exported[] = {PELLAM_EXPORTS(EXPORT_ROW)};
static const Row readable[] = {PELLAM_READABLE_NAMES(READABLE_ROW)};

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const size_t rows = sizeof exported / sizeof exported[0];
  if (rows != sizeof readable / sizeof readable[0]) return fprintf(stderr, "name count\n"), 1;
  for (size_t i = 0; i < rows; ++i) {
    if (exported[i].ordinal != readable[i].ordinal || strcmp(exported[i].name, readable[i].name) ||
        strcmp(exported[i].name, readable[i].defined)) {
      fprintf(stderr, "readable name of ordinal %d is wrong\n", exported[i].ordinal);
      return 1;
    }
  }
  const bool share = false;
  int r = PellamInitialize(argv[1], &share);
  if (r) return fprintf(stderr, "init %d detail %d\n", r, PellamGetDetail(NULL)), 1;
  void* h = NULL;
  if ((r = PellamCreate(&h))) return fprintf(stderr, "create %d\n", r), 1;
  size_t bytes = (size_t)PellamGetTemplateSize();
  /* Three seconds of a voiced-like signal with a little noise. */
  size_t count = 24000;
  short* pcm = malloc(count * sizeof(short));
  unsigned seed = 1;
  for (size_t i = 0; i < count; ++i) {
    seed = seed * 1103515245u + 12345u;
    double t = (double)i / 8000.0;
    double v = 3000.0 * sin(2 * 3.14159265 * 140.0 * t) + 1500.0 * sin(2 * 3.14159265 * 560.0 * t) +
               (double)((seed >> 16) % 600) - 300.0;
    pcm[i] = (short)(v * (0.6 + 0.4 * sin(2 * 3.14159265 * 3.0 * t)));
  }
  char* a = malloc(bytes);
  char* b = malloc(bytes);
  float d, v, snr, score = -1;
  if ((r = PellamMakeXvectorTemplate(h, pcm, &count, a, &bytes, &d, &v, &snr)))
    return fprintf(stderr, "template %d detail %d\n", r, PellamGetDetail(h)), 1;
  if ((r = PellamMakeXvectorTemplate(h, pcm, &count, b, &bytes, &d, &v, &snr))) return 1;
  if ((r = PellamCompare(h, a, &bytes, b, &bytes, &score))) return fprintf(stderr, "compare\n"), 1;
  char version[80];
  if ((r = PellamCheckTemplate(a, &bytes, version))) return fprintf(stderr, "check %d\n", r), 1;
  printf("Pellam %s: %zu-byte templates, version %s, self score %.2f\n", PellamGetVersion(), bytes,
         version, score);
  if (!(score >= 0.0f && score <= 100.0f)) return 1;
  PellamDelete(&h);
  PellamTerminate();
  free(a), free(b), free(pcm);
  return 0;
}
