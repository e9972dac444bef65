#include "writers/resource_writer.h"

#include "app/error_state.h"
#include "app/file_job.h"
#include "app/job_options.h"
#include "codecs/companding_laws.h"
#include "riff/byte_order.h"
#include "writers/sample_output.h"

namespace {

constexpr SampleWriter kResourceWriter = {
    ".sam",
    "Quarlix - Only mono samples can be converted to RES format !\n",
    "Quarlix - Can't convert this type of WAV file to RES format !\n",
};

constexpr size_t kBytesPerLine = 32;

const char* typeName(SampleType type) {
  switch (type) {
    case kSampleTypePcm: return "Kib's not-quite-ulaw";
    case kSampleTypeIma: return "IMA ADPCM";
    case kSampleTypeGsm: return "GSM 06.10";
    case kSampleTypeOrbel: return "Orbel ADPCM";
    default: return "Orbel ADPCM-N64";
  }
}

// Every parameter is a 32-bit dword: values are taken modulo 2^32 and
// printed as signed numbers.
void appendParameter(TextImage& text, uint32_t value, const char* name) {
  appendText(text, "        %-16d # %s\n", static_cast<int32_t>(value), name);
}

void appendParameters(TextImage& text, const WaveFile& wave, const SampleOutput& output) {
  FormatFields format = readFormat(wave);
  appendParameter(text, output.type, typeName(output.type));
  if (output.type == kSampleTypeGsm) {
    appendParameter(text, 2 * output.sampleCount, "length");
    appendParameter(text, 0, "loop start");
    appendParameter(text, 0, "loop end");
    appendParameter(text, 2 * format.nSamplesPerSec, "root frequency");
  } else {
    appendParameter(text, output.sampleCount, "length");
    appendParameter(text, jobOptions.loopWhole ? 0 : wave.loopStart, "loop start");
    appendParameter(text, jobOptions.loopWhole ? output.sampleCount : wave.loopEnd, "loop end");
    appendParameter(text, format.nSamplesPerSec, "root frequency");
  }
  appendText(text, "        %-16d # fade rate\n\n", static_cast<int32_t>(0x80000000u));
  if (output.type != kSampleTypePcm) {
    appendParameter(text, format.wSamplesPerBlock, "samples-per-block");
    appendParameter(text, format.nBlockAlign, "block align");
  }
}

// The sample's bytes: for PCM one kib-law code per sample, else the data as
// stored. 0, or the reported out-of-memory code.
int32_t sampleBytes(const WaveFile& wave, const SampleOutput& output, HeapBlock& bytes) {
  bool pcm = output.type == kSampleTypePcm;
  size_t length = pcm ? output.sampleCount : sampleDataLength(wave, output.type, output.sampleCount);
  if (!bytes.allocateUnfilled(length)) return reportNoMemory();
  const uint8_t* data = wave.data.data();
  for (size_t at = 0; at < length; ++at) {
    bytes.data()[at] = pcm ? kibLawCode(static_cast<int16_t>(loadLE16(data + 2 * at))) : data[at];
  }
  return 0;
}

}  // namespace

int32_t writeResourceFile(WaveFile& wave) {
  SampleOutput output;
  if (prepareSampleOutput(wave, kResourceWriter, output) != 0) return errorCode;
  HeapBlock bytes;
  if (sampleBytes(wave, output, bytes) != 0) return errorCode;

  TextImage text;
  // At most: the lines before the data, then two characters a byte and
  // "[", "]" and CR LF every 32.
  sizeText(text, 2048 + 2 * jobNames.baseName.size() + 3 * bytes.size() + 32);
  const char* name = jobNames.baseName.c_str();
  appendText(text, "#\n# audio file converted by QUARLIX\n#\n\n");
  appendText(text, "file \"%s.bin\"\n\nresource \"SAM-%s.16\"\n\ndwords\n", name, name);
  appendParameters(text, wave, output);
  for (size_t at = 0; at < bytes.size(); ++at) {
    if (at % kBytesPerLine == 0) appendText(text, "[");
    appendText(text, "%02X", bytes.data()[at]);
    if (at + 1 == bytes.size() || (at + 1) % kBytesPerLine == 0) appendText(text, "]\n");
  }
  if (size_t padding = paddingToFour(bytes.size()); padding > 0) {
    appendText(text, "[");
    for (size_t at = 0; at < padding; ++at) appendText(text, "00");
    appendText(text, "]\n");
  }
  appendText(text, "\nendresource\n\nendfile\n");
  storeTextOutput(text);
  return errorCode;
}
