/* dump_sounds: decodes every sound of the bank with qx_read and writes its
 * samples to <name>.raw in the current folder (16-bit little-endian, as
 * `aplay -f S16_LE -r RATE <name>.raw` plays them), with one line per sound:
 *   <name>: <samples> samples at <rate> Hz, loop <start>..<end>
 * Exit status 1 when a sound fails to open or a file to write. */
#include <stdio.h>

#include "sound_bank.h"

static int dump(size_t index) {
  static qx_decoder voice;
  const char *name = sound_bank[index].name;
  char path[256];
  int16_t samples[256];
  unsigned char bytes[2 * 256];
  size_t n, i;
  FILE *out;
  int ok;
  if (sound_bank_start(&voice, index) != QX_OK) return 0;
  snprintf(path, sizeof path, "%s.raw", name);
  out = fopen(path, "wb");
  if (out == NULL) return 0;
  ok = 1;
  while (ok && (n = qx_read(&voice, samples, 256)) > 0) {
    for (i = 0; i < n; ++i) {
      bytes[2 * i] = (unsigned char)((uint16_t)samples[i] & 0xFF);
      bytes[2 * i + 1] = (unsigned char)((uint16_t)samples[i] >> 8);
    }
    ok = fwrite(bytes, 2, n, out) == n;
  }
  if (fclose(out) != 0) ok = 0;
  printf("%s: %lu samples at %lu Hz, loop %lu..%lu\n", name, (unsigned long)qx_sample_count(&voice),
         (unsigned long)qx_sample_rate(&voice), (unsigned long)qx_loop_start(&voice),
         (unsigned long)qx_loop_end(&voice));
  return ok;
}

int main(void) {
  size_t index;
  for (index = 0; index < sound_bank_count; ++index) {
    if (!dump(index)) {
      printf("dump_sounds: %s failed\n", sound_bank[index].name);
      return 1;
    }
  }
  return 0;
}
