#include "codecs/ima_adpcm.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "app/error_state.h"
#include "app/job_options.h"
#include "codecs/block_codec_job.h"
#include "codecs/codec_record.h"
#include "codecs/ima_search.h"
#include "codecs/lane_decoding.h"
#include "codecs/lane_vectors.h"
#include "codecs/search_beam.h"
#include "quarlix_codec_rules.h"
#include "quarlix_decode.h"
#include "riff/byte_order.h"

namespace {

constexpr uint32_t kDefaultBlockBytes = 256;
constexpr size_t kScratchSamples = 2048;  // the largest block (1024 bytes) holds 2041

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
  stepIndex = kImaNextIndex[static_cast<size_t>(stepIndex)][code];
  return code;
}

// encodeSample in every lane.
[[gnu::always_inline]] inline Lanes encodeSampleLanes(Lanes sample, Lanes& predictor, Lanes& stepIndex) {
  Lanes step = laneLookup(qx_ima_step_table, stepIndex);
  Lanes diff = sample - predictor;
  LaneMask negative = diff < 0;
  Lanes rest = laneAbs(diff);
  Lanes delta = step >> 3;
  LaneMask four = rest >= step;
  rest -= step & four;
  delta += step & four;
  Lanes half = step >> 1;
  LaneMask two = rest >= half;
  rest -= half & two;
  delta += half & two;
  Lanes quarter = half >> 1;
  LaneMask one = rest >= quarter;
  delta += quarter & one;
  Lanes code = (negative & 8) | (four & 4) | (two & 2) | (one & 1);
  predictor = laneClamp(predictor + select(negative, -delta, delta), INT16_MIN, INT16_MAX);
  stepIndex = imaNextIndexLanes(stepIndex, code);
  return code;
}

// The sum of squares is kept in two halves, so that no block's sum wraps.
QUARLIX_LANE_KERNEL void runStartTrials(std::span<const int16_t> samples, ImaStartTrials& trials) {
  Lanes predictor;
  Lanes stepIndex;
  std::memcpy(&predictor, trials.predictor, sizeof predictor);
  std::memcpy(&stepIndex, trials.stepIndex, sizeof stepIndex);
  UnsignedLanes low;
  UnsignedLanes high;
  for (size_t lane = 0; lane < kLaneCount; ++lane) {
    low[lane] = static_cast<uint32_t>(trials.error[lane]);
    high[lane] = static_cast<uint32_t>(trials.error[lane] >> 32);
  }
  for (int16_t sample : samples) {
    Lanes x = splat(sample);
    encodeSampleLanes(x, predictor, stepIndex);
    UnsignedLanes miss = asUnsigned(predictor - x);
    UnsignedLanes sum = low + miss * miss;
    high -= reinterpret_cast<UnsignedLanes>(sum < low);  // a carry is all ones, -1
    low = sum;
  }
  std::memcpy(trials.predictor, &predictor, sizeof predictor);
  std::memcpy(trials.stepIndex, &stepIndex, sizeof stepIndex);
  for (size_t lane = 0; lane < kLaneCount; ++lane) trials.error[lane] = uint64_t{high[lane]} << 32 | low[lane];
}

// A block's predictor and step index, packed for comparing.
uint32_t packedState(int32_t predictor, int32_t stepIndex) {
  return static_cast<uint32_t>(predictor & 0xFFFF) | static_cast<uint32_t>(stepIndex) << 16;
}

// Runs of consecutive whole blocks, one run in each lane of two vectors
// (whose chains of arithmetic then overlap), each run encoded from its
// first block on as the plain encoder would from the step index it is
// given: what encodeRuns writes and reads.
constexpr size_t kRunVectors = 2;
constexpr size_t kRuns = kRunVectors * kLaneCount;

struct ImaRuns {
  const int16_t* input;
  uint8_t* output;
  size_t samplesPerBlock;
  size_t blockBytes;
  size_t firstBlock[kRuns + 1];  // run r is blocks firstBlock[r] .. firstBlock[r + 1] - 1
  int32_t startIndex[kRuns];
  int32_t endIndex[kRuns];
  // A run's state after every eight codes of its first block.
  uint32_t firstBlockStates[kRuns][kScratchSamples / 8];
};

QUARLIX_LANE_KERNEL void encodeRuns(ImaRuns& runs) {
  size_t codes = runs.samplesPerBlock - 1;
  size_t words = codes / 8;
  // A run shorter than the first goes on over silence into a block nobody
  // keeps.
  static constexpr int16_t kSilence[kScratchSamples] = {};
  uint8_t discarded[1024];
  size_t longest = runs.firstBlock[1] - runs.firstBlock[0];
  const int16_t* in[kRuns];
  uint8_t* out[kRuns];
  Lanes predictor[kRunVectors];
  Lanes stepIndex[kRunVectors];
  for (size_t v = 0; v < kRunVectors; ++v) {
    std::memcpy(&stepIndex[v], &runs.startIndex[v * kLaneCount], sizeof stepIndex[v]);
  }
  for (size_t block = 0; block < longest; ++block) {
    for (size_t run = 0; run < kRuns; ++run) {
      size_t at = runs.firstBlock[run] + block;
      bool kept = at < runs.firstBlock[run + 1];
      in[run] = kept ? runs.input + at * runs.samplesPerBlock : kSilence;
      out[run] = kept ? runs.output + at * runs.blockBytes : discarded;
    }
    for (size_t v = 0; v < kRunVectors; ++v) {
      predictor[v] = laneSamples(in + v * kLaneCount, 0);
      for (size_t lane = 0; lane < kLaneCount; ++lane) {
        uint8_t* header = out[v * kLaneCount + lane];
        storeLE16(header, static_cast<uint16_t>(predictor[v][lane]));
        header[2] = static_cast<uint8_t>(stepIndex[v][lane]);
        header[3] = 0;
      }
    }
    // Eight codes a word, the earlier in the lower nibble: stored
    // little-endian, four bytes of the block.
    size_t n = 1;
    for (size_t word = 0; word < words; ++word, n += 8) {
      Lanes packed[kRunVectors] = {};
      for (unsigned k = 0; k < 8; ++k) {
        for (size_t v = 0; v < kRunVectors; ++v) {
          packed[v] |= encodeSampleLanes(laneSamples(in + v * kLaneCount, n + k), predictor[v], stepIndex[v]) << (4 * k);
        }
      }
      for (size_t run = 0; run < kRuns; ++run) {
        size_t v = run / kLaneCount, lane = run % kLaneCount;
        storeLE32(out[run] + kImaHeaderBytes + 4 * word, static_cast<uint32_t>(packed[v][lane]));
        if (block == 0) runs.firstBlockStates[run][word] = packedState(predictor[v][lane], stepIndex[v][lane]);
      }
    }
    if (n < runs.samplesPerBlock) {
      Lanes packed[kRunVectors] = {};
      for (unsigned k = 0; n + k < runs.samplesPerBlock; ++k) {
        for (size_t v = 0; v < kRunVectors; ++v) {
          packed[v] |= encodeSampleLanes(laneSamples(in + v * kLaneCount, n + k), predictor[v], stepIndex[v]) << (4 * k);
        }
      }
      for (size_t run = 0; run < kRuns; ++run) {
        for (size_t byte = 0; byte < (runs.samplesPerBlock - n + 1) / 2; ++byte) {
          out[run][kImaHeaderBytes + 4 * words + byte] =
              static_cast<uint8_t>(packed[run / kLaneCount][run % kLaneCount] >> (8 * byte));
        }
      }
    }
    for (size_t run = 0; run < kRuns; ++run) {
      if (runs.firstBlock[run] + block + 1 == runs.firstBlock[run + 1]) {
        runs.endIndex[run] = stepIndex[run / kLaneCount][run % kLaneCount];
      }
    }
  }
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

QUARLIX_LANE_KERNEL LaneRun decodeImaLaneGroups(const uint8_t* blocks, size_t blockBytes, size_t samplesPerBlock,
                                                 size_t groups, int16_t* samples) {
  return decodeLaneGroups<ImaLanes>(blocks, blockBytes, samplesPerBlock, groups, samples);
}

}  // namespace

void imaStoreHeader(uint8_t* header, const ImaState& state) {
  storeLE16(header, static_cast<uint16_t>(state.predictor));
  header[2] = static_cast<uint8_t>(state.stepIndex);
  header[3] = state.reserved;
}

void imaRunStartTrials(std::span<const int16_t> samples, ImaStartTrials& trials) { runStartTrials(samples, trials); }

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

void decodeImaBlocks(std::span<const uint8_t> blocks, size_t blockBytes, size_t samplesPerBlock,
                     std::span<int16_t> samples) {
  decodeBlocksInLanes(blocks, blockBytes, samplesPerBlock, samples, decodeImaLaneGroups,
                      withoutClamps<qx_ima_decode_block>);
}

namespace {

// Runs of fewer blocks would be mended about as often as they are kept.
constexpr size_t kFewestBlocksPerRun = 2;
// The samples before a run that guess the index it starts from.
constexpr size_t kWarmUp = 32;

// A run's blocks re-encoded from its true starting index, once its
// speculative encoding started from another: only until the state agrees
// again with the speculative one, after which every code already is the
// plain encoder's. Returns the index the run truly ends with.
int32_t mendRun(const ImaRuns& runs, size_t run, int32_t stepIndex) {
  size_t codes = runs.samplesPerBlock - 1;
  for (size_t block = runs.firstBlock[run]; block < runs.firstBlock[run + 1]; ++block) {
    uint8_t* header = runs.output + block * runs.blockBytes;
    if (header[2] == stepIndex) return runs.endIndex[run];
    header[2] = static_cast<uint8_t>(stepIndex);
    const int16_t* samples = runs.input + block * runs.samplesPerBlock;
    ImaState state{samples[0], static_cast<int8_t>(stepIndex), 0};
    // After every eight codes of the first block the states can be
    // compared; later blocks are compared at their ends, by the index
    // their next block starts from.
    bool first = block == runs.firstBlock[run];
    for (size_t done = 0; done < codes; done += 8) {
      size_t count = std::min<size_t>(8, codes - done);
      imaEncode({samples + 1 + done, count}, {header + kImaHeaderBytes + done / 2, (count + 1) / 2}, state);
      if (first && count == 8 &&
          packedState(state.predictor, state.stepIndex) == runs.firstBlockStates[run][done / 8]) {
        return runs.endIndex[run];
      }
    }
    stepIndex = state.stepIndex;
  }
  return stepIndex;
}

// Encodes the whole blocks in runs side by side, the first runs a block
// longer than the others where the blocks do not share out evenly.
// Each run but the first starts from a guess of the index the run before
// will end with: the one a warm-up on the samples before it reaches. Where
// a guess was wrong, the run is mended (mendRun), so every byte is the
// plain encoder's. Returns the index the last run ends with.
int32_t encodeBlocksInRuns(const int16_t* input, uint8_t* output, size_t samplesPerBlock, size_t blockBytes,
                           size_t blocks, int32_t stepIndex) {
  ImaRuns runs;
  runs.input = input;
  runs.output = output;
  runs.samplesPerBlock = samplesPerBlock;
  runs.blockBytes = blockBytes;
  for (size_t run = 0; run <= kRuns; ++run) {
    runs.firstBlock[run] = run * (blocks / kRuns) + std::min(run, blocks % kRuns);
  }
  runs.startIndex[0] = stepIndex;
  for (size_t run = 1; run < kRuns; ++run) {
    const int16_t* start = input + runs.firstBlock[run] * samplesPerBlock;
    ImaState warm{start[-static_cast<ptrdiff_t>(kWarmUp)], static_cast<int8_t>(stepIndex), 0};
    uint8_t ignored[kWarmUp / 2];
    imaEncode({start - kWarmUp, kWarmUp}, ignored, warm);
    runs.startIndex[run] = warm.stepIndex;
  }
  encodeRuns(runs);
  stepIndex = runs.endIndex[0];
  for (size_t run = 1; run < kRuns; ++run) stepIndex = mendRun(runs, run, stepIndex);
  return stepIndex;
}

}  // namespace

void imaEncodeBlocks(std::span<const int16_t> input, size_t samplesPerBlock, std::span<uint8_t> output,
                     size_t blockBytes, ImaState& state) {
  size_t blocks = input.size() / samplesPerBlock;
  size_t block = 0;
  // Every run but the first warms up on the samples of the run before.
  if (blocks >= kFewestBlocksPerRun * kRuns && samplesPerBlock * kFewestBlocksPerRun >= kWarmUp) {
    state.stepIndex = static_cast<int8_t>(
        encodeBlocksInRuns(input.data(), output.data(), samplesPerBlock, blockBytes, blocks, state.stepIndex));
    block = blocks;
  }
  for (; block < blocks; ++block) {
    std::span<const int16_t> samples = input.subspan(block * samplesPerBlock, samplesPerBlock);
    std::span<uint8_t> out = output.subspan(block * blockBytes, blockBytes);
    state.predictor = samples[0];
    imaStoreHeader(out.data(), state);
    imaEncode(samples.subspan(1), out.subspan(kImaHeaderBytes), state);
  }
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
  if (jobOptions.search) {
    int8_t writtenIndex = 0;
    for (size_t block = 0; block < plan.blockCount; ++block) {
      std::span<const int16_t> samples = input.subspan(block * plan.samplesPerBlock);
      size_t count = std::min<size_t>(samples.size(), plan.samplesPerBlock);
      if (count < plan.samplesPerBlock) {
        // The last block is completed with silence.
        std::copy(samples.begin(), samples.end(), scratch.begin());
        samples = scratch;
      }
      imaSearchBlock(samples.first(plan.samplesPerBlock), count,
                     output.subspan(block * plan.blockBytes, plan.blockBytes), state, writtenIndex, work);
    }
    installRecord(wave, fresh);
    return 0;
  }
  size_t whole = plan.sampleCount / plan.samplesPerBlock;
  imaEncodeBlocks(input.first(whole * plan.samplesPerBlock), plan.samplesPerBlock, output, plan.blockBytes, state);
  if (whole < plan.blockCount) {
    // The last block is completed with silence.
    std::span<const int16_t> samples = input.subspan(whole * plan.samplesPerBlock);
    std::copy(samples.begin(), samples.end(), scratch.begin());
    std::span<uint8_t> out = output.subspan(whole * plan.blockBytes, plan.blockBytes);
    state.predictor = scratch[0];
    imaStoreHeader(out.data(), state);
    imaEncode(std::span<const int16_t>(scratch).subspan(1, plan.samplesPerBlock - 1), out.subspan(kImaHeaderBytes),
              state);
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
