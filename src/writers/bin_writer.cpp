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

int32_t buildBinImage(const WaveFile& wave, const SampleOutput& output, HeapBlock& image) {
  size_t length = sampleDataLength(wave, output.type, output.sampleCount);
  if (!image.allocate(kBinHeaderSize + length + paddingToFour(length))) return reportNoMemory();
  storeBinHeader(binHeaderFor(wave, output), image.data());
  uint8_t* data = image.data() + kBinHeaderSize;
  if (output.type == kSampleTypePcm) {
    // Whole 16-bit words through a local, which the compiler turns into a
    // vector byte swap.
    const uint8_t* from = wave.data.data();
    for (size_t at = 0; at + 1 < length; at += 2) {
      uint16_t sample;
      std::memcpy(&sample, from + at, 2);
      sample = static_cast<uint16_t>(sample << 8 | sample >> 8);
      std::memcpy(data + at, &sample, 2);
    }
  } else if (length > 0) {
    std::memcpy(data, wave.data.data(), length);
  }
  return 0;
}

int32_t writeBinFile(WaveFile& wave) {
  SampleOutput output;
  if (prepareSampleOutput(wave, kBinWriter, output) != 0) return errorCode;
  HeapBlock image;
  if (buildBinImage(wave, output, image) != 0) return errorCode;
  storeSampleOutput(image.bytes());
  return errorCode;
}
