#include "codecs/ima_adpcm.h"

#include <algorithm>
#include <array>

#include "app/error_state.h"
#include "app/job_options.h"
#include "codecs/block_codec_job.h"
#include "codecs/ima_step_table.h"
#include "codecs/codec_record.h"
#include "riff/byte_order.h"

namespace {

constexpr BlockCodec kCodec = {kFormatImaAdpcm, "IMA Adpcm", kImaHeaderBytes, 1, kBlockFormatSize, 2};
constexpr uint32_t kDefaultBlockBytes = 256;
constexpr size_t kScratchSamples = 2048;  // the largest block (1024 bytes) holds 2041

constexpr std::array<int32_t, 16> kIndexTable = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

int16_t clampSample(int32_t value) { return static_cast<int16_t>(std::clamp<int32_t>(value, INT16_MIN, INT16_MAX)); }

// Moves the step index on by one code, staying inside the step table.
void adaptStepIndex(ImaState& state, uint32_t code) {
  state.stepIndex = static_cast<int8_t>(std::clamp(state.stepIndex + kIndexTable[code], 0, kImaMaxStepIndex));
}

uint32_t encodeSample(int32_t sample, ImaState& state) {
  int32_t step = kImaStepTable[static_cast<size_t>(state.stepIndex)];
  int32_t diff = sample - state.predictor;
  uint32_t code = 0;
  if (diff < 0) {
    code = 8;
    diff = -diff;
  }
  int32_t delta = step >> 3;
  if (diff >= step) {
    code |= 4;
    diff -= step;
    delta += step;
  }
  int32_t half = step >> 1;
  if (diff >= half) {
    code |= 2;
    diff -= half;
    delta += half;
  }
  int32_t quarter = half >> 1;
  if (diff >= quarter) {
    code |= 1;
    delta += quarter;
  }
  state.predictor = clampSample((code & 8) != 0 ? state.predictor - delta : state.predictor + delta);
  adaptStepIndex(state, code);
  return code;
}

int16_t decodeCode(uint32_t code, ImaState& state) {
  int32_t step = kImaStepTable[static_cast<size_t>(state.stepIndex)];
  adaptStepIndex(state, code);
  int32_t delta = step >> 3;
  if ((code & 4) != 0) delta += step;
  if ((code & 2) != 0) delta += step >> 1;
  if ((code & 1) != 0) delta += step >> 2;
  state.predictor = clampSample((code & 8) != 0 ? state.predictor - delta : state.predictor + delta);
  return state.predictor;
}

void storeHeader(uint8_t* header, const ImaState& state) {
  storeLE16(header, static_cast<uint16_t>(state.predictor));
  header[2] = static_cast<uint8_t>(state.stepIndex);
  header[3] = state.reserved;
}

// A header step index beyond the table is bounded to its last entry (as
// libsndfile reads it); the reserved byte is ignored.
ImaState loadHeader(const uint8_t* header) {
  ImaState state;
  state.predictor = static_cast<int16_t>(loadLE16(header));
  state.stepIndex = static_cast<int8_t>(std::min<int32_t>(header[2], kImaMaxStepIndex));
  return state;
}

}  // namespace


void imaEncode(std::span<const int16_t> input, std::span<uint8_t> codes, ImaState& state) {
  size_t count = std::min(input.size(), 2 * codes.size());
  for (size_t i = 0; i < count; i += 2) {
    uint32_t first = encodeSample(input[i], state);
    uint32_t second = i + 1 < count ? encodeSample(input[i + 1], state) : 0;
    codes[i / 2] = static_cast<uint8_t>(second << 4 | first);
  }
}

void imaDecode(std::span<const uint8_t> codes, std::span<int16_t> output, ImaState& state) {
  size_t count = std::min(output.size(), 2 * codes.size());
  for (size_t i = 0; i < count; ++i) {
    uint32_t code = (i % 2 == 0) ? codes[i / 2] & 0x0F : codes[i / 2] >> 4;
    output[i] = decodeCode(code, state);
  }
}

int32_t compressIma(WaveFile& wave) {
  WaveFile fresh;
  BlockPlan plan;
  if (int32_t result = startBlockCompression(wave, kCodec, chosenBlockBytes(kDefaultBlockBytes), fresh, plan);
      result != 0) {
    return result;
  }
  std::span<const int16_t> input = pcmSamples(wave.data, plan.sampleCount);
  std::span<uint8_t> output = fresh.data.bytes();
  std::array<int16_t, kScratchSamples> scratch{};
  ImaState state;  // the step index runs on from block to block
  for (size_t block = 0; block < plan.blockCount; ++block) {
    std::span<const int16_t> samples = input.subspan(block * plan.samplesPerBlock);
    std::span<uint8_t> out = output.subspan(block * plan.blockBytes, plan.blockBytes);
    if (samples.size() < plan.samplesPerBlock) {
      // The last block is completed with silence.
      std::copy(samples.begin(), samples.end(), scratch.begin());
      samples = std::span<const int16_t>(scratch).first(plan.samplesPerBlock);
    }
    state.predictor = samples[0];
    storeHeader(out.data(), state);
    imaEncode(samples.subspan(1, plan.samplesPerBlock - 1), out.subspan(kImaHeaderBytes), state);
  }
  installRecord(wave, fresh);
  return 0;
}

int32_t decompressIma(WaveFile& wave) {
  return decompressBlocks(wave, kCodec, [](std::span<const uint8_t> block, std::span<int16_t> samples) {
    // Every block starts from its own header; nothing is carried over.
    ImaState state = loadHeader(block.data());
    samples[0] = state.predictor;
    imaDecode(block.subspan(kImaHeaderBytes), samples.subspan(1), state);
  });
}
