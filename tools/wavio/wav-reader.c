#include "tools/wavio/wav-reader.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static uint32_t U32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24);
}

static uint16_t U16(const unsigned char* p) {
  return (uint16_t)(p[0] | (p[1] << 8));
}

/* The whole file in a malloc'ed block; NULL when it cannot be read. */
static unsigned char* ReadAll(const char* path, size_t* size) {
  FILE* f = fopen(path, "rb");
  if (f == NULL) return NULL;
  size_t capacity = 1 << 16, used = 0;
  unsigned char* data = malloc(capacity);
  while (data != NULL) {
    used += fread(data + used, 1, capacity - used, f);
    if (used < capacity) break;
    unsigned char* bigger = capacity <= SIZE_MAX / 2 ? realloc(data, capacity * 2) : NULL;
    if (bigger == NULL) {
      free(data);
      data = NULL;
    } else {
      data = bigger;
      capacity *= 2;
    }
  }
  if (data != NULL && ferror(f)) {
    free(data);
    data = NULL;
  }
  fclose(f);
  *size = used;
  return data;
}

/* The format chunk's verdict: NULL for 16-bit mono PCM, else the reason. */
static const char* CheckFormat(const unsigned char* body, uint32_t size, size_t avail,
                               int* sampleRate) {
  if (size < 16 || avail < 16) return "short fmt chunk";
  uint16_t format = U16(body);
  const uint16_t channels = U16(body + 2);
  const uint32_t rate = U32(body + 4);
  const uint16_t bits = U16(body + 14);
  if (format == 0xFFFE && size >= 26 && avail >= 26) format = U16(body + 24);
  if (format != 1) return "not PCM";
  if (bits != 16) return "not 16-bit";
  if (channels != 1) return "not mono";
  if (rate == 0 || rate > 1000000) return "bad sampling rate";
  *sampleRate = (int)rate;
  return NULL;
}

const char* JorWavRead(const char* path, JorWav* wav) {
  memset(wav, 0, sizeof *wav);
  size_t n = 0;
  unsigned char* b = ReadAll(path, &n);
  if (b == NULL) return "cannot open file";
  const char* why = NULL;
  int haveFmt = 0;
  if (n < 12 || memcmp(b, "RIFF", 4) != 0 || memcmp(b + 8, "WAVE", 4) != 0) {
    why = "not a RIFF/WAVE file";
    goto done;
  }
  for (size_t pos = 12; pos + 8 <= n;) {
    const unsigned char* chunk = b + pos;
    const uint32_t size = U32(chunk + 4);
    const size_t body = pos + 8;
    const size_t avail = n - body;
    if (memcmp(chunk, "fmt ", 4) == 0) {
      why = CheckFormat(b + body, size, avail, &wav->sampleRate);
      if (why != NULL) goto done;
      haveFmt = 1;
    } else if (memcmp(chunk, "data", 4) == 0) {
      if (!haveFmt) {
        why = "data chunk before fmt chunk";
        goto done;
      }
      const size_t count = (size < avail ? size : avail) / 2;
      wav->samples = malloc(count ? count * sizeof(short) : 1);
      if (wav->samples == NULL) {
        why = "out of memory";
        goto done;
      }
      for (size_t i = 0; i < count; ++i) wav->samples[i] = (short)U16(b + body + 2 * i);
      wav->count = count;
      free(b);
      return NULL;
    }
    /* Chunks are padded to an even length. */
    const uint64_t next = (uint64_t)body + size + (size & 1u);
    if (next > n) break;
    pos = (size_t)next;
  }
  why = haveFmt ? "no data chunk" : "no fmt chunk";
done:
  free(b);
  memset(wav, 0, sizeof *wav);
  return why;
}

void JorWavFree(JorWav* wav) {
  free(wav->samples);
  memset(wav, 0, sizeof *wav);
}
