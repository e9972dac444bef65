/* The device side of the example: every sound of the program in one table,
 * and a voice that starts playing one. It needs nothing but the decoder
 * library, so it builds for a Cortex-M0 as it does for the host. */
#ifndef SOUND_BANK_H
#define SOUND_BANK_H

#include <stddef.h>

#include "quarlix_decode.h"

typedef struct sound_entry {
  const char *name;
  const unsigned char *image; /* a quarlix sample image, in read-only memory */
  const size_t *size;
} sound_entry;

extern const sound_entry sound_bank[];
extern const size_t sound_bank_count;

/* Starts `voice` on sound `index`: QX_OK, or QX_ERR_FORMAT. */
int sound_bank_start(qx_decoder *voice, size_t index);

#endif
