#include "codecs/ima_adpcm.h"

#include <algorithm>
#include <array>

#include "app/error_state.h"
#include "app/job_options.h"
#include "codecs/block_codec_job.h"
#include "codecs/ima_step_table.h"
#include "codecs/codec_record.h"
#include "codecs/ima_search.h"
#include "codecs/search_beam.h"
#include "riff/byte_order.h"

namespace {

constexpr uint32_t kDefaultBlockBytes = 256;
constexpr size_t kScratchSamples = 2048;  // the largest block (1024 bytes) holds 2041

constexpr std::array<int32_t, 16> kIndexTable = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

constexpr int32_t clampSample(int32_t value) { return std::clamp<int32_t>(value, INT16_MIN, INT16_MAX); }

constexpr int32_t movedStepIndex(int32_t stepIndex, uint32_t code) {
  return std::clamp(stepIndex + kIndexTable[code], 0, kImaMaxStepIndex);
}

}  // namespace

constinit const ImaDecodeTable kImaDecodeTable = [] {
  ImaDecodeTable table{};
  for (int32_t index = 0; index <= kImaMaxStepIndex; ++index) {
    int32_t step = kImaStepTable[static_cast<size_t>(index)];
    for (uint32_t code = 0; code < 16; ++code) {
      int32_t delta = step >> 3;
      if ((code & 4) != 0) delta += step;
      if ((code & 2) != 0) delta += step >> 1;
      if ((code & 1) != 0) delta += step >> 2;
      table[static_cast<size_t>(index)][code] = {(code & 8) != 0 ? -delta : delta, movedStepIndex(index, code)};
    }
  }
  return table;
}();

namespace {

// The encoder's successive approximation, with masks instead of branches:
// the bits of a difference follow no pattern a branch predictor could learn.
uint32_t encodeSample(int32_t sample, int32_t& predictor, int32_t& stepIndex) {
  int32_t step = kImaStepTable[static_cast<size_t>(stepIndex)];
  int32_t diff = sample - predictor;
  int32_t negative = diff >> 31;  // all ones when diff < 0
  int32_t rest = (diff ^ negative) - negative;
  int32_t delta = step >> 3;
  int32_t four = -static_cast<int32_t>(rest >= step);
  rest -= step & four;
  delta += step & four;
  int32_t half = step >> 1;
  int32_t two = -static_cast<int32_t>(rest >= half);
  rest -= half & two;
  delta += half & two;
  int32_t quarter = half >> 1;
  int32_t one = -static_cast<int32_t>(rest >= quarter);
  delta += quarter & one;
  uint32_t code = static_cast<uint32_t>((negative & 8) | (four & 4) | (two & 2) | (one & 1));
  predictor = clampSample(predictor + ((delta ^ negative) - negative));
  stepIndex = kImaDecodeTable[static_cast<size_t>(stepIndex)][code].nextIndex;
  return code;
}

int32_t decodeCode(uint32_t code, int32_t& predictor, int32_t& stepIndex) {
  const ImaDecodeStep& entry = kImaDecodeTable[static_cast<size_t>(stepIndex)][code];
  predictor = clampSample(predictor + entry.change);
  stepIndex = entry.nextIndex;
  return predictor;
}


}  // namespace

void imaStoreHeader(uint8_t* header, const ImaState& state) {
  storeLE16(header, static_cast<uint16_t>(state.predictor));
  header[2] = static_cast<uint8_t>(state.stepIndex);
  header[3] = state.reserved;
}

// A header step index beyond the table is bounded to its last entry (as
// libsndfile reads it); the reserved byte is ignored.
ImaState imaLoadHeader(const uint8_t* header) {
  ImaState state;
  state.predictor = static_cast<int16_t>(loadLE16(header));
  state.stepIndex = static_cast<int8_t>(std::min<int32_t>(header[2], kImaMaxStepIndex));
  return state;
}

void imaEncodeBlock(std::span<const int16_t> samples, std::span<uint8_t> block, ImaState& state) {
  state.predictor = samples[0];
  imaStoreHeader(block.data(), state);
  imaEncode(samples.subspan(1), block.subspan(kImaHeaderBytes), state);
}

void imaEncode(std::span<const int16_t> input, std::span<uint8_t> codes, ImaState& state) {
  size_t count = std::min(input.size(), 2 * codes.size());
  int32_t predictor = state.predictor;
  int32_t stepIndex = state.stepIndex;
  const int16_t* in = input.data();
  uint8_t* out = codes.data();
  for (size_t i = 0; i + 1 < count; i += 2) {
    uint32_t first = encodeSample(in[i], predictor, stepIndex);
    uint32_t second = encodeSample(in[i + 1], predictor, stepIndex);
    out[i / 2] = static_cast<uint8_t>(second << 4 | first);
  }
  if (count % 2 != 0) out[count / 2] = static_cast<uint8_t>(encodeSample(in[count - 1], predictor, stepIndex));
  state.predictor = static_cast<int16_t>(predictor);
  state.stepIndex = static_cast<int8_t>(stepIndex);
}

void imaDecode(std::span<const uint8_t> codes, std::span<int16_t> output, ImaState& state) {
  size_t count = std::min(output.size(), 2 * codes.size());
  int32_t predictor = state.predictor;
  int32_t stepIndex = state.stepIndex;
  const uint8_t* in = codes.data();
  int16_t* out = output.data();
  for (size_t i = 0; i + 1 < count; i += 2) {
    uint32_t byte = in[i / 2];
    out[i] = static_cast<int16_t>(decodeCode(byte & 0x0F, predictor, stepIndex));
    out[i + 1] = static_cast<int16_t>(decodeCode(byte >> 4, predictor, stepIndex));
  }
  if (count % 2 != 0) {
    out[count - 1] = static_cast<int16_t>(decodeCode(in[count / 2] & 0x0F, predictor, stepIndex));
  }
  state.predictor = static_cast<int16_t>(predictor);
  state.stepIndex = static_cast<int8_t>(stepIndex);
}

int32_t compressIma(WaveFile& wave) {
  WaveFile fresh;
  BlockPlan plan;
  if (int32_t result = startBlockCompression(wave, kImaAdpcmCodec, chosenBlockBytes(kDefaultBlockBytes), fresh, plan);
      result != 0) {
    return result;
  }
  HeapBlock work;
  if (jobOptions.search && !work.allocate(kBeamWidestTrace)) return reportNoMemory();
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
    } else {
      samples = samples.first(plan.samplesPerBlock);
    }
    if (jobOptions.search) imaSearchBlock(samples, out, state, work);
    else imaEncodeBlock(samples, out, state);
  }
  installRecord(wave, fresh);
  return 0;
}

int32_t decompressIma(WaveFile& wave) {
  return decompressBlocks(wave, kImaAdpcmCodec, [](std::span<const uint8_t> block, std::span<int16_t> samples) {
    // Every block starts from its own header; nothing is carried over.
    ImaState state = imaLoadHeader(block.data());
    samples[0] = state.predictor;
    imaDecode(block.subspan(kImaHeaderBytes), samples.subspan(1), state);
  });
}
