#include "codecs/ms_adpcm.h"

#include <algorithm>
#include <cstring>

#include "app/error_state.h"
#include "app/job_options.h"
#include "codecs/block_codec_job.h"
#include "codecs/codec_record.h"
#include "riff/byte_order.h"

namespace {

// The fmt holds wNumCoef and the seven pairs after the common block fields.
constexpr BlockCodec kCodec = {kFormatMsAdpcm, "Microsoft Adpcm", kMsAdpcmHeaderBytes, 2, 50, 32};
constexpr int32_t kMinDelta = 16;
// Far above any step a real stream reaches (under 100000), and low enough
// that hostile codes cannot overflow the step arithmetic.
constexpr int32_t kMaxDelta = 1 << 21;

constexpr std::array<int32_t, 16> kAdaptation = {230, 230, 230, 230, 307, 409, 512, 614,
                                                 768, 614, 512, 409, 307, 230, 230, 230};

int16_t clampSample(int32_t value) { return static_cast<int16_t>(std::clamp<int32_t>(value, INT16_MIN, INT16_MAX)); }

int32_t predict(MsAdpcmPair pair, int32_t s1, int32_t s2) { return (s1 * pair.c1 + s2 * pair.c2) >> 8; }

int32_t adaptDelta(int32_t code, int32_t delta) {
  return std::clamp((kAdaptation[static_cast<uint32_t>(code) & 15] * delta) >> 8, kMinDelta, kMaxDelta);
}

int32_t sampleAt(std::span<const int16_t> input, size_t k) { return k < input.size() ? input[k] : 0; }

size_t blockBytesFor(size_t count) { return kMsAdpcmHeaderBytes + (count - 1) / 2; }

// Builds the whole block for one pair into `block`; returns its error sum.
uint32_t encodeWithPair(std::span<const int16_t> input, uint8_t pairIndex, uint8_t* block) {
  MsAdpcmPair pair = kMsAdpcmPairs[pairIndex];
  int32_t delta = msAdpcmInitialDelta(pair, input);
  int32_t s1 = sampleAt(input, 1);
  int32_t s2 = sampleAt(input, 0);
  block[0] = pairIndex;
  storeLE16(block + 1, static_cast<uint16_t>(delta));
  storeLE16(block + 3, static_cast<uint16_t>(s1));
  storeLE16(block + 5, static_cast<uint16_t>(s2));
  uint32_t err = 0;
  for (size_t k = 2; k < input.size(); ++k) {
    int32_t pred = predict(pair, s1, s2);
    int32_t code = std::clamp((input[k] - pred) / delta, -8, 7);
    int32_t s = clampSample(pred + delta * code);
    delta = adaptDelta(code, delta);
    uint32_t miss = static_cast<uint32_t>(s - input[k]);
    err += miss * miss >> 7;
    s2 = s1;
    s1 = s;
    uint8_t nibble = static_cast<uint8_t>(code & 15);
    uint8_t& byte = block[kMsAdpcmHeaderBytes + (k - 2) / 2];
    byte = k % 2 == 0 ? static_cast<uint8_t>(nibble << 4) : static_cast<uint8_t>(byte | nibble);
  }
  return err;
}

}  // namespace


int32_t msAdpcmInitialDelta(MsAdpcmPair pair, std::span<const int16_t> input) {
  int32_t sum = 0;
  for (size_t k = 2; k <= 4; ++k) {
    sum += std::abs(sampleAt(input, k) - predict(pair, sampleAt(input, k - 1), sampleAt(input, k - 2)));
  }
  return std::max(sum / 12, kMinDelta);
}

size_t msAdpcmEncodeBlock(std::span<const int16_t> input, std::span<uint8_t> block) {
  if (input.empty() || input.size() > kMsAdpcmMaxBlockSamples) return 0;
  size_t bytes = blockBytesFor(input.size());
  if (block.size() < bytes) return 0;
  // Each candidate is built in the working block that does not hold the
  // best one so far. The first pair is always taken, so a later pair must do
  // strictly better: equal errors keep the lower index.
  uint8_t work[2][kMsAdpcmMaxBlockBytes];
  size_t chosen = 0;
  uint32_t best = 0;
  for (uint8_t pairIndex = 0; pairIndex < kMsAdpcmPairs.size(); ++pairIndex) {
    size_t slot = pairIndex == 0 ? 0 : 1 - chosen;
    uint32_t err = encodeWithPair(input, pairIndex, work[slot]);
    if (pairIndex == 0 || err < best) {
      best = err;
      chosen = slot;
    }
  }
  std::memcpy(block.data(), work[chosen], bytes);
  return bytes;
}

void msAdpcmDecodeBlock(std::span<const uint8_t> block, std::span<int16_t> output) {
  if (block.size() < kMsAdpcmHeaderBytes || output.empty()) return;
  size_t count = std::min(output.size(), 2 * (block.size() - kMsAdpcmHeaderBytes) + 2);
  MsAdpcmPair pair = kMsAdpcmPairs[block[0] < kMsAdpcmPairs.size() ? block[0] : 0];
  int32_t delta = static_cast<int16_t>(loadLE16(&block[1]));
  int32_t s1 = static_cast<int16_t>(loadLE16(&block[3]));
  int32_t s2 = static_cast<int16_t>(loadLE16(&block[5]));
  output[0] = static_cast<int16_t>(s2);
  if (count == 1) return;
  output[1] = static_cast<int16_t>(s1);
  for (size_t k = 2; k < count; ++k) {
    uint8_t byte = block[kMsAdpcmHeaderBytes + (k - 2) / 2];
    int32_t nibble = k % 2 == 0 ? byte >> 4 : byte & 15;
    int32_t code = nibble >= 8 ? nibble - 16 : nibble;
    int32_t sample = clampSample(predict(pair, s1, s2) + code * delta);
    delta = adaptDelta(code, delta);
    s2 = s1;
    s1 = sample;
    output[k] = static_cast<int16_t>(sample);
  }
}

int32_t compressMsAdpcm(WaveFile& wave) {
  uint32_t rate = readFormat(wave).nSamplesPerSec;
  uint32_t defaultBytes = rate >= 44100 ? 1024 : rate >= 22050 ? 512 : 256;
  WaveFile fresh;
  BlockPlan plan;
  if (int32_t result = startBlockCompression(wave, kCodec, chosenBlockBytes(defaultBytes), fresh, plan); result != 0) {
    return result;
  }
  // The block fmt goes on with wNumCoef and the coefficient table.
  uint8_t* table = fresh.fmt.data() + kBlockFormatSize;
  storeLE16(table, kMsAdpcmPairs.size());
  for (size_t i = 0; i < kMsAdpcmPairs.size(); ++i) {
    storeLE16(table + 2 + 4 * i, static_cast<uint16_t>(kMsAdpcmPairs[i].c1));
    storeLE16(table + 4 + 4 * i, static_cast<uint16_t>(kMsAdpcmPairs[i].c2));
  }
  std::span<const int16_t> input = pcmSamples(wave.data, plan.sampleCount);
  std::span<uint8_t> output = fresh.data.bytes();
  for (size_t block = 0; block < plan.blockCount; ++block) {
    // The last block may be partial; its unused tail stays zero.
    std::span<const int16_t> samples = input.subspan(block * plan.samplesPerBlock);
    msAdpcmEncodeBlock(samples.first(std::min<size_t>(samples.size(), plan.samplesPerBlock)),
                       output.subspan(block * plan.blockBytes, plan.blockBytes));
  }
  installRecord(wave, fresh);
  return 0;
}

int32_t decompressMsAdpcm(WaveFile& wave) {
  return decompressBlocks(wave, kCodec, msAdpcmDecodeBlock);
}
