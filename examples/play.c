/* play: decodes a quarlix sample image (.bin) to raw 16-bit little-endian
 * PCM on standard output, the way a device would play it.
 *
 *   quarlix -ob sound.wav
 *   ./play sound.bin | aplay -f S16_LE -r RATE
 *   ./play sound.bin 3 | aplay -f S16_LE -r RATE    # the loop three times
 *
 * With a loop in the image, the samples up to the loop's end are played, the
 * loop then PASSES - 1 more times (PASSES defaults to 1), then the rest.
 * Standard output carries only the sound: when it is not a terminal,
 * failures are told by the exit status alone (1 usage, 2 unreadable file,
 * 3 not a sample image, 4 GSM 06.10, which needs libgsm, 5 output failed). */
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "quarlix_decode.h"

static int fail(int status, const char *message) {
  if (isatty(STDOUT_FILENO)) printf("play: %s\n", message);
  return status;
}

/* The whole file, or NULL. */
static unsigned char *read_file(const char *path, size_t *size) {
  FILE *file = fopen(path, "rb");
  unsigned char *bytes = NULL;
  long length;
  if (file == NULL) return NULL;
  if (fseek(file, 0, SEEK_END) == 0 && (length = ftell(file)) >= 0 && fseek(file, 0, SEEK_SET) == 0) {
    bytes = malloc(length > 0 ? (size_t)length : 1);
    if (bytes != NULL && fread(bytes, 1, (size_t)length, file) != (size_t)length) {
      free(bytes);
      bytes = NULL;
    }
    *size = (size_t)length;
  }
  fclose(file);
  return bytes;
}

/* Writes n samples as little-endian bytes, whatever this CPU's order. */
static int write_samples(const int16_t *samples, size_t n) {
  unsigned char bytes[2 * 1024];
  size_t i;
  for (i = 0; i < n; ++i) {
    uint16_t word = (uint16_t)samples[i];
    bytes[2 * i] = (unsigned char)(word & 0xFF);
    bytes[2 * i + 1] = (unsigned char)(word >> 8);
  }
  return fwrite(bytes, 2, n, stdout) == n;
}

int main(int argc, char **argv) {
  static qx_decoder decoder;
  int16_t samples[1024];
  unsigned char *image;
  size_t size = 0, n;
  unsigned long passes = 1;
  uint64_t looped; /* the samples to read looped: up to the last pass's end */
  int status;
  if (argc < 2 || argc > 3 || (argc == 3 && (passes = strtoul(argv[2], NULL, 10)) == 0)) {
    return fail(1, "usage: play IMAGE.bin [PASSES]");
  }
  image = read_file(argv[1], &size);
  if (image == NULL) return fail(2, "cannot read the file");
  status = qx_open(&decoder, image, size);
  if (status != QX_OK) {
    free(image);
    return fail(status == QX_ERR_UNSUPPORTED ? 4 : 3, status == QX_ERR_UNSUPPORTED ? "GSM 06.10: decode it with libgsm"
                                                                                 : "not a quarlix sample image");
  }
  looped = qx_loop_end(&decoder) == 0 ? 0
                                      : qx_loop_end(&decoder) +
                                            (uint64_t)(passes - 1) * (qx_loop_end(&decoder) - qx_loop_start(&decoder));
  status = 0;
  while (status == 0 && looped > 0 && (n = qx_read_looped(&decoder, samples, looped < 1024 ? (size_t)looped : 1024)) > 0) {
    if (!write_samples(samples, n)) status = 5;
    looped -= n;
  }
  /* After the last pass, on to the end without looping. */
  while (status == 0 && (n = qx_read(&decoder, samples, 1024)) > 0) {
    if (!write_samples(samples, n)) status = 5;
  }
  free(image);
  return status;
}
