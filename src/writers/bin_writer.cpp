#include "writers/bin_writer.h"

#include <cstring>

#include "app/error_state.h"

namespace {

constexpr SampleWriter kBinWriter = {
    ".bin",
    "Quarlix - Only mono samples can be output to BIN format !\n",
    "Quarlix - Can't convert this type of WAV file to BIN format !\n",
};

}  // namespace

BinParts binPartsFor(WaveFile& wave, const SampleOutput& output) {
  BinParts parts{};
  storeBinHeader(binHeaderFor(wave, output), parts.header);
  size_t length = sampleDataLength(wave, output.type, output.sampleCount);
  uint8_t* data = wave.data.data();
  if (output.type == kSampleTypePcm) {
    // Whole 16-bit words through a local, which the compiler turns into a
    // vector byte swap.
    for (size_t at = 0; at + 1 < length; at += 2) {
      uint16_t sample;
      std::memcpy(&sample, data + at, 2);
      sample = static_cast<uint16_t>(sample << 8 | sample >> 8);
      std::memcpy(data + at, &sample, 2);
    }
  }
  parts.data = {data, length};
  parts.padding = paddingToFour(length);
  return parts;
}

int32_t writeBinFile(WaveFile& wave) {
  SampleOutput output;
  if (prepareSampleOutput(wave, kBinWriter, output) != 0) return errorCode;
  BinParts parts = binPartsFor(wave, output);
  static constexpr uint8_t kZeros[4] = {};
  storeSampleOutput({parts.header, parts.data, {kZeros, parts.padding}});
  return errorCode;
}
