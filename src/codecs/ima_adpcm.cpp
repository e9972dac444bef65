#include "codecs/ima_adpcm.h"

#include <algorithm>
#include <array>

#include "app/error_state.h"
#include "app/job_options.h"
#include "codecs/block_codec_job.h"
#include "codecs/codec_record.h"
#include "codecs/lane_decoding.h"
#include "codecs/lane_vectors.h"
#include "quarlix_codec_rules.h"
#include "quarlix_decode.h"
#include "riff/byte_order.h"

namespace {

constexpr uint32_t kDefaultBlockBytes = 256;
constexpr size_t kScratchSamples = 2048;  // the largest block (1024 bytes) holds 2041

// The step index after every index and code, built from the shared rule at
// compile time: looked up, it keeps the encoder's chain from one sample to
// the next short.
constexpr auto kNextIndex = [] {
  std::array<std::array<uint8_t, 16>, QX_IMA_MAX_INDEX + 1> table{};
  for (int32_t index = 0; index <= QX_IMA_MAX_INDEX; ++index) {
    for (uint32_t code = 0; code < 16; ++code) {
      table[static_cast<size_t>(index)][code] = static_cast<uint8_t>(qx_ima_next_index(index, code));
    }
  }
  return table;
}();

// The encoder's successive approximation, with masks instead of branches:
// the bits of a difference follow no pattern a branch predictor could learn.
uint32_t encodeSample(int32_t sample, int32_t& predictor, int32_t& stepIndex) {
  int32_t step = qx_ima_step_table[stepIndex];
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
  predictor = qx_clamp16(predictor + ((delta ^ negative) - negative));
  stepIndex = kNextIndex[static_cast<size_t>(stepIndex)][code];
  return code;
}

// The predictor's change for every step index and code, from the shared
// rule: decoding a code in a lane is then one lookup.
constexpr auto kDifferences = [] {
  std::array<int32_t, (QX_IMA_MAX_INDEX + 1) * 16> table{};
  for (int32_t index = 0; index <= QX_IMA_MAX_INDEX; ++index) {
    for (uint32_t code = 0; code < 16; ++code) {
      table[static_cast<size_t>(index) * 16 + code] = qx_ima_difference(qx_ima_step_table[index], code);
    }
  }
  return table;
}();

// Eight blocks' decoding, one in each lane, for decodeLaneGroups.
struct ImaLanes {
  static constexpr size_t kCodesOffset = kImaHeaderBytes;
  static constexpr size_t kHeldSamples = 1;
  static constexpr bool kLowNibbleFirst = true;
  Lanes predictor;
  Lanes index;

  void start(const uint8_t* const block[], int16_t* const out[]) {
    int32_t first[kLaneCount], firstIndex[kLaneCount];
    for (size_t lane = 0; lane < kLaneCount; ++lane) {
      first[lane] = qx_int16_of(block[lane][1], block[lane][0]);
      firstIndex[lane] = qx_header_index(block[lane][2]);
      out[lane][0] = static_cast<int16_t>(first[lane]);
    }
    predictor = lanesOf(first);
    index = lanesOf(firstIndex);
  }
  [[gnu::always_inline]] Lanes next(Lanes nibble) {
    predictor = laneClamp(predictor + laneLookup(kDifferences.data(), index * 16 + nibble), INT16_MIN, INT16_MAX);
    index = imaNextIndexLanes(index, nibble);
    return predictor;
  }
  uint32_t clamps() const { return 0; }  // IMA ADPCM's are silent
};

QUARLIX_LANE_KERNEL uint32_t decodeImaLaneGroups(const uint8_t* blocks, size_t blockBytes, size_t samplesPerBlock,
                                                 size_t groups, int16_t* samples) {
  return decodeLaneGroups<ImaLanes>(blocks, blockBytes, samplesPerBlock, groups, samples);
}

void storeHeader(uint8_t* header, const ImaState& state) {
  storeLE16(header, static_cast<uint16_t>(state.predictor));
  header[2] = static_cast<uint8_t>(state.stepIndex);
  header[3] = state.reserved;
}

}  // namespace

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

void decodeImaBlocks(std::span<const uint8_t> blocks, size_t blockBytes, size_t samplesPerBlock,
                     std::span<int16_t> samples) {
  decodeBlocksInLanes(
      blocks, blockBytes, samplesPerBlock, samples,
      [&](const uint8_t* first, size_t groups, int16_t* out) {
        return decodeImaLaneGroups(first, blockBytes, samplesPerBlock, groups, out);
      },
      [](const uint8_t* block, size_t bytes, int16_t* out, size_t count) {
        qx_ima_decode_block(block, bytes, out, count);
        return 0u;
      });
}

int32_t compressIma(WaveFile& wave) {
  WaveFile fresh;
  BlockPlan plan;
  if (int32_t result = startBlockCompression(wave, kImaAdpcmCodec, chosenBlockBytes(kDefaultBlockBytes), fresh, plan);
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
  // Every block starts from its own header; nothing is carried over.
  return decompressBlocks(wave, kImaAdpcmCodec, [](std::span<const uint8_t> blocks, std::span<int16_t> samples,
                                                    const BlockPlan& plan) {
    decodeImaBlocks(blocks, plan.blockBytes, plan.samplesPerBlock, samples);
  });
}
