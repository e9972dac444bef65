#include "writers/c_source_writer.h"

#include "app/error_state.h"
#include "app/file_job.h"
#include "writers/bin_writer.h"
#include "writers/sample_output.h"

namespace {

constexpr SampleWriter kCSourceWriter = {
    ".c",
    "Quarlix - Only mono samples can be output to 'C' source format !\n",
    "Quarlix - Can't convert this type of WAV file to 'C' source format !\n",
};

constexpr size_t kItemsPerLine = 16;

void appendHeaderLines(TextImage& text, const uint8_t* h) {
  appendText(text, "/*\n** Audio file converted by QUARLIX.\n**\n");
  appendText(text, "** This structure must be 4-byte aligned in memory.\n*/\n\n");
  appendText(text, "unsigned char %s_bin [] =\n{\n", jobNames.baseName.c_str());
  appendText(text, "0x%02Xu,                      /* head    */\n", h[0]);
  appendText(text, "0x%02Xu,                      /* type    */\n", h[1]);
  appendText(text, "0x%02Xu,0x%02Xu,                /* freq    */\n", h[2], h[3]);
  appendText(text, "0x%02Xu,0x%02Xu,                /* blkdata */\n", h[4], h[5]);
  appendText(text, "0x%02Xu,0x%02Xu,                /* blksize */\n", h[6], h[7]);
  appendText(text, "0x%02Xu,0x%02Xu,0x%02Xu,0x%02Xu,    /* samples */\n", h[8], h[9], h[10], h[11]);
  appendText(text, "0x%02Xu,0x%02Xu,0x%02Xu,0x%02Xu,    /* loop1st */\n", h[12], h[13], h[14], h[15]);
  appendText(text, "0x%02Xu,0x%02Xu,0x%02Xu,0x%02Xu,    /* loopend */\n", h[16], h[17], h[18], h[19]);
  appendText(text, "\n");
}

}  // namespace

int32_t writeCSourceFile(WaveFile& wave) {
  SampleOutput output;
  if (prepareSampleOutput(wave, kCSourceWriter, output) != 0) return errorCode;
  BinParts parts = binPartsFor(wave, output);

  TextImage text;
  size_t length = parts.data.size();
  size_t padding = parts.padding;
  // At most: the header lines, then 7 characters an item and a CR LF every
  // 16; the last item's room also covers what appendText asks beyond it.
  sizeText(text, 2048 + jobNames.baseName.size() + 8 * (length + padding) + 32);
  appendHeaderLines(text, parts.header);
  const uint8_t* data = parts.data.data();
  for (size_t at = 0; at < length; ++at) {
    // The array's very last item takes no comma.
    bool last = at + 1 == length && padding == 0;
    appendText(text, last ? "0x%02Xu" : "0x%02Xu,", data[at]);
    if (at + 1 == length || (at + 1) % kItemsPerLine == 0) appendText(text, "\n");
  }
  if (padding > 0) {
    for (size_t at = 1; at < padding; ++at) appendText(text, "0x00u,");
    appendText(text, "0x00u\n");
  }
  appendText(text, "};\n");
  storeTextOutput(text);
  return errorCode;
}
