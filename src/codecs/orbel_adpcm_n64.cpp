#include "codecs/orbel_adpcm_n64.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/error_state.h"
#include "app/job_options.h"
#include "codecs/codec_record.h"
#include "codecs/lane_decoding.h"
#include "codecs/orbel_adpcm.h"
#include "codecs/block_codec_job.h"
#include "codecs/orbel_n64_search.h"
#include "codecs/orbel_quantiser.h"
#include "codecs/search_beam.h"
#include "quarlix_codec_rules.h"
#include "quarlix_decode.h"
#include "riff/byte_order.h"

namespace {

constexpr const char* kDecodeWarning = "\nWarning - iIndex > 88 during ADPCMN64 decompression !\n";
constexpr const char* kEncodeWarning = "\nWarning - iIndex > 88 during ADPCMN64 compression !\n";

// The largest multiple of 4 the signed header word holds: 32766 and 32767
// would round to 32768, so both ends use this instead.
constexpr int32_t kHeaderSampleCeiling = 32764;

void warnOfDecodingClamps(uint32_t clamps) {
  for (uint32_t k = 0; k < clamps; ++k) std::printf("%s", kDecodeWarning);
}

// Eight blocks' decoding, one in each lane, for decodeLaneGroups.
struct N64Lanes {
  static constexpr size_t kCodesOffset = kN64HeaderBytes;
  static constexpr size_t kHeldSamples = 2;
  static constexpr bool kLowNibbleFirst = false;
  PairHistoryLanes history;
  Lanes index;
  Lanes clampCount;

  void start(const uint8_t* const block[], int16_t* const out[]) {
    int32_t pair1[kLaneCount], pair2[kLaneCount], older[kLaneCount], newer[kLaneCount], firstIndex[kLaneCount];
    for (size_t lane = 0; lane < kLaneCount; ++lane) {
      // Big-endian; the pair sits in the first sample's two low bits.
      const uint8_t* header = block[lane];
      pair1[lane] = qx_n64_pairs[header[1] & 3u][0];
      pair2[lane] = qx_n64_pairs[header[1] & 3u][1];
      older[lane] = qx_int16_of(header[0], header[1] & 0xFCu);
      newer[lane] = qx_int16_of(header[2], header[3]);
      firstIndex[lane] = qx_header_index(header[4]);
    }
    history.start(pair1, pair2, older, newer, out);
    index = lanesOf(firstIndex);
    clampCount = splat(0);
  }
  [[gnu::always_inline]] Lanes next(Lanes nibble) {
    Lanes code = (nibble ^ 8) - 8;
    Lanes sample = history.next(laneLookup(qx_ima_step_table, index) * code);
    LaneMask passed;
    index = n64NextIndexLanes(index, code, passed);
    clampCount -= passed;
    return sample;
  }
  uint32_t clamps() const {
    uint32_t sum = 0;
    for (size_t lane = 0; lane < kLaneCount; ++lane) sum += static_cast<uint32_t>(clampCount[lane]);
    return sum;
  }
};

QUARLIX_LANE_KERNEL LaneRun decodeN64LaneGroups(const uint8_t* blocks, size_t blockBytes, size_t samplesPerBlock,
                                                 size_t groups, int16_t* samples) {
  return decodeLaneGroups<N64Lanes>(blocks, blockBytes, samplesPerBlock, groups, samples);
}

}  // namespace

int32_t orbelN64HeaderSample(int32_t sample) { return std::min((sample + 2) & ~3, kHeaderSampleCeiling); }

void orbelN64DecodeBlock(std::span<const uint8_t> block, std::span<int16_t> samples) {
  // The library counts the index clamps; nothing else is printed while a
  // block decodes, so warning of them after it keeps the output in order.
  uint32_t clamps = 0;
  qx_n64_decode_block(block.data(), block.size(), samples.data(), samples.size(), &clamps);
  warnOfDecodingClamps(clamps);
}

uint32_t decodeOrbelN64Blocks(std::span<const uint8_t> blocks, size_t blockBytes, size_t samplesPerBlock,
                              std::span<int16_t> samples) {
  return decodeBlocksInLanes(blocks, blockBytes, samplesPerBlock, samples, decodeN64LaneGroups,
                             [](const uint8_t* block, size_t bytes, int16_t* out, size_t count) {
                               uint32_t clamps = 0;
                               qx_n64_decode_block(block, bytes, out, count, &clamps);
                               return clamps;
                             });
}

int32_t orbelN64EstimateIndex(int32_t c1, int32_t c2, std::span<const int16_t> x) {
  int32_t target = orbelEstimateStep(c1, c2, x);
  int32_t i = 0;
  while (i < QX_IMA_MAX_INDEX && qx_ima_step_table[i] < target) ++i;
  if (i > 0 && target - qx_ima_step_table[i - 1] < qx_ima_step_table[i] - target) --i;
  return i;
}

namespace {

QUARLIX_LANE_KERNEL void runSetTrials(std::span<const int16_t> input, OrbelN64Trials& trials) {
  Lanes c1;
  Lanes c2;
  for (size_t lane = 0; lane < kLaneCount; ++lane) {
    c1[lane] = qx_n64_pairs[trials.set[lane] & 3][0];
    c2[lane] = qx_n64_pairs[trials.set[lane] & 3][1];
  }
  Lanes index;
  std::memcpy(&index, trials.firstIndex, sizeof index);
  Lanes older = splat(orbelN64HeaderSample(input[0]));
  Lanes newer = splat(orbelN64HeaderSample(input[1]));
  UnsignedLanes errorTotal{};
  Lanes warnings{};
  UnsignedLanes pending{};
  for (size_t i = 2; i < input.size(); ++i) {
    Lanes x = splat(input[i]);
    Lanes prediction = predictLanes(c1, c2, newer, older);
    Lanes step;
    for (size_t lane = 0; lane < kLaneCount; ++lane) step[lane] = qx_ima_step_table[index[lane]];
    Lanes code = orbelNearestCodeLanes(x - prediction, step);
    Lanes reconstructed = laneClamp(prediction + step * code, INT16_MIN, INT16_MAX);
    LaneMask passed;
    index = n64NextIndexLanes(index, code, passed);
    warnings -= passed;
    older = newer;
    newer = reconstructed;
    errorTotal += orbelSampleErrorLanes(reconstructed, x);
    appendNibbles(trials.codes, pending, i - 2, code);
  }
  finishNibbles(trials.codes, pending, input.size() - 2);
  std::memcpy(trials.errorTotal, &errorTotal, sizeof errorTotal);
  std::memcpy(trials.indexWarnings, &warnings, sizeof warnings);
}

// Every set's trial of eight blocks: one vector per set, one block in each
// lane, so that four independent chains of arithmetic share the core. The
// arithmetic of each lane is that of runSetTrials.
struct BlockTrials {
  int32_t firstIndex[kN64Sets][kLaneCount];
  uint32_t errorTotal[kN64Sets][kLaneCount];
  uint32_t indexWarnings[kN64Sets][kLaneCount];
  LaneNibbles<orbelN64SamplesPerBlock(kN64MaxBlockBytes) - 2> codes[kN64Sets];  // from sample 2 on
};

// One set's trial state in eight blocks.
struct SetLanes {
  Lanes index;
  Lanes older;
  Lanes newer;
  UnsignedLanes errorTotal;
  Lanes warnings;
  UnsignedLanes pending;
};

// Sample i (from 2 on) of set Set's trials; the set is known at compile
// time, so its products fold into shifts where they can.
template <size_t Set>
[[gnu::always_inline]] inline void setTrialStep(SetLanes& trial, Lanes x, size_t i, BlockTrials& trials) {
  constexpr int32_t c1 = qx_n64_pairs[Set][0];
  constexpr int32_t c2 = qx_n64_pairs[Set][1];
  Lanes prediction = (trial.newer * c1 + trial.older * c2) >> 8;
  Lanes step = laneLookup(qx_ima_step_table, trial.index);
  Lanes code = orbelNearestCodeLanes(x - prediction, step);
  Lanes reconstructed = laneClamp(prediction + step * code, INT16_MIN, INT16_MAX);
  LaneMask passed;
  trial.index = n64NextIndexLanes(trial.index, code, passed);
  trial.warnings -= passed;
  trial.older = trial.newer;
  trial.newer = reconstructed;
  trial.errorTotal += orbelSampleErrorLanes(reconstructed, x);
  appendNibbles(trials.codes[Set], trial.pending, i - 2, code);
}

template <size_t... Set>
[[gnu::always_inline]] inline void runBlockTrialsOf(const int16_t* input, size_t samplesPerBlock,
                                                    BlockTrials& trials, std::index_sequence<Set...>) {
  Lanes older = blockSamples(input, samplesPerBlock, 0);
  Lanes newer = blockSamples(input, samplesPerBlock, 1);
  for (size_t lane = 0; lane < kLaneCount; ++lane) {
    older[lane] = orbelN64HeaderSample(older[lane]);
    newer[lane] = orbelN64HeaderSample(newer[lane]);
  }
  SetLanes trial[kN64Sets];
  for (size_t set = 0; set < kN64Sets; ++set) {
    std::memcpy(&trial[set].index, trials.firstIndex[set], sizeof trial[set].index);
    trial[set].older = older;
    trial[set].newer = newer;
    trial[set].errorTotal = UnsignedLanes{};
    trial[set].warnings = splat(0);
    trial[set].pending = UnsignedLanes{};
  }
  for (size_t i = 2; i < samplesPerBlock; ++i) {
    Lanes x = blockSamples(input, samplesPerBlock, i);
    (setTrialStep<Set>(trial[Set], x, i, trials), ...);
  }
  for (size_t set = 0; set < kN64Sets; ++set) {
    finishNibbles(trials.codes[set], trial[set].pending, samplesPerBlock - 2);
    std::memcpy(trials.errorTotal[set], &trial[set].errorTotal, sizeof trial[set].errorTotal);
    std::memcpy(trials.indexWarnings[set], &trial[set].warnings, sizeof trial[set].warnings);
  }
}

QUARLIX_LANE_KERNEL void runBlockTrials(const int16_t* input, size_t samplesPerBlock, BlockTrials& trials) {
  runBlockTrialsOf(input, samplesPerBlock, trials, std::make_index_sequence<kN64Sets>{});
}

// Writes a block: the header of the set's trial, then its codes.
template <typename Trials>
void storeTrial(std::span<const int16_t> input, size_t set, int32_t firstIndex, const Trials& codes, size_t lane,
                uint8_t* block) {
  orbelN64StoreHeader(input, static_cast<int32_t>(set), firstIndex, {block, kN64HeaderBytes});
  storeLaneCodes(codes, lane, block + kN64HeaderBytes, (input.size() - 2) / 2);
}

}  // namespace

void orbelN64RunTrials(std::span<const int16_t> input, OrbelN64Trials& trials) { runSetTrials(input, trials); }

void orbelN64EncodeTrials(std::span<const int16_t> input, OrbelN64Trials& trials, bool warn) {
  for (size_t lane = 0; lane < kLaneCount; ++lane) {
    trials.set[lane] = static_cast<int32_t>(lane % kN64Sets);
    const int16_t* pair = qx_n64_pairs[trials.set[lane]];
    trials.firstIndex[lane] = orbelN64EstimateIndex(pair[0], pair[1], input);
  }
  orbelN64RunTrials(input, trials);
  for (size_t set = 0; set < kN64Sets && warn; ++set) {
    for (uint32_t k = 0; k < trials.indexWarnings[set]; ++k) std::printf("%s", kEncodeWarning);
  }
}

void orbelN64StoreHeader(std::span<const int16_t> input, int32_t set, int32_t index, std::span<uint8_t> block) {
  storeBE16(block.data(), static_cast<uint32_t>(orbelN64HeaderSample(input[0]) | set));
  storeBE16(block.data() + 2, static_cast<uint32_t>(orbelN64HeaderSample(input[1])));
  block[4] = static_cast<uint8_t>(index);
}

size_t orbelN64StoreBestTrial(std::span<const int16_t> input, const OrbelN64Trials& trials, std::span<uint8_t> block) {
  // The trials run side by side, so none is ever copied: only the winner's
  // codes are packed into the block. Equal totals keep the lower set.
  size_t best = 0;
  for (size_t set = 1; set < kN64Sets; ++set) {
    if (trials.errorTotal[set] < trials.errorTotal[best]) best = set;
  }
  storeTrial(input, best, trials.firstIndex[best], trials.codes, best, block.data());
  return best;
}

bool orbelN64TakesBlockSamples(size_t count) {
  return count >= 6 && count % 2 == 0 && count <= orbelN64SamplesPerBlock(kN64MaxBlockBytes);
}

void orbelN64EncodeBlock(std::span<const int16_t> input, std::span<uint8_t> block) {
  if (!orbelN64TakesBlockSamples(input.size()) || block.size() < kN64HeaderBytes + (input.size() - 2) / 2) return;
  OrbelN64Trials trials;
  orbelN64EncodeTrials(input, trials);
  orbelN64StoreBestTrial(input, trials, block);
}

void orbelN64EncodeBlocks(std::span<const int16_t> input, size_t samplesPerBlock, std::span<uint8_t> output) {
  if (!orbelN64TakesBlockSamples(samplesPerBlock)) return;
  size_t blockBytes = kN64HeaderBytes + (samplesPerBlock - 2) / 2;
  size_t blocks = std::min(input.size() / samplesPerBlock, output.size() / blockBytes);
  size_t block = 0;
  BlockTrials trials;
  for (; block + kLaneCount <= blocks; block += kLaneCount) {
    std::span<const int16_t> first = input.subspan(block * samplesPerBlock);
    for (size_t lane = 0; lane < kLaneCount; ++lane) {
      for (size_t set = 0; set < kN64Sets; ++set) {
        trials.firstIndex[set][lane] =
            orbelN64EstimateIndex(qx_n64_pairs[set][0], qx_n64_pairs[set][1], first.subspan(lane * samplesPerBlock));
      }
    }
    runBlockTrials(first.data(), samplesPerBlock, trials);
    // Nothing else is printed while the blocks encode: warning of every
    // clamp after them keeps the output as it would be block by block.
    for (size_t lane = 0; lane < kLaneCount; ++lane) {
      size_t best = 0;
      for (size_t set = 0; set < kN64Sets; ++set) {
        for (uint32_t k = 0; k < trials.indexWarnings[set][lane]; ++k) std::printf("%s", kEncodeWarning);
        if (trials.errorTotal[set][lane] < trials.errorTotal[best][lane]) best = set;
      }
      storeTrial(first.subspan(lane * samplesPerBlock, samplesPerBlock), best, trials.firstIndex[best][lane],
                 trials.codes[best], lane, output.data() + (block + lane) * blockBytes);
    }
  }
  for (; block < blocks; ++block) {
    orbelN64EncodeBlock(input.subspan(block * samplesPerBlock, samplesPerBlock),
                        output.subspan(block * blockBytes, blockBytes));
  }
}

int32_t compressOrbelAdpcmN64(WaveFile& wave) {
  WaveFile fresh;
  BlockPlan plan;
  int32_t result = startBlockCompression(wave, kOrbelAdpcmN64Codec, chosenBlockBytes(kN64DefaultBlockBytes), fresh, plan);
  if (result != 0) return result;
  HeapBlock work;
  if (jobOptions.search && !work.allocate(kBeamWidestTrace)) return reportNoMemory();
  std::span<const int16_t> input = pcmSamples(wave.data, plan.sampleCount);
  std::span<uint8_t> output = fresh.data.bytes();
  if (jobOptions.search) {
    HeapBlock planSpace;
    if (!planSpace.allocateUnfilled(plan.blockCount * (sizeof(N64BlockSearch) + sizeof(uint32_t)))) {
      return reportNoMemory();
    }
    std::span<N64BlockSearch> blocks(reinterpret_cast<N64BlockSearch*>(planSpace.data()), plan.blockCount);
    std::span<uint32_t> order(reinterpret_cast<uint32_t*>(blocks.data() + plan.blockCount), plan.blockCount);
    std::array<int16_t, orbelN64SamplesPerBlock(kN64MaxBlockBytes)> scratch{};
    auto blockSamples = [&](size_t k) {
      std::span<const int16_t> samples = input.subspan(k * plan.samplesPerBlock);
      if (samples.size() < plan.samplesPerBlock) {
        // The last block is always full: zero samples pad it and are coded too.
        std::copy(samples.begin(), samples.end(), scratch.begin());
        samples = scratch;
      }
      return samples.first(plan.samplesPerBlock);
    };
    for (size_t k = 0; k < plan.blockCount; ++k) {
      blocks[k].writtenNoise =
          orbelN64WriteWrittenBlock(blockSamples(k), output.subspan(k * plan.blockBytes, plan.blockBytes));
    }
    orbelN64ChooseWidths(blocks, order);
    for (size_t k = 0; k < plan.blockCount; ++k) {
      orbelN64SearchBlock(blockSamples(k), output.subspan(k * plan.blockBytes, plan.blockBytes), work, blocks[k]);
    }
    installRecord(wave, fresh);
    return 0;
  }
  size_t whole = plan.sampleCount / plan.samplesPerBlock;
  orbelN64EncodeBlocks(input.first(whole * plan.samplesPerBlock), plan.samplesPerBlock, output);
  if (whole < plan.blockCount) {
    // The last block is always full: zero samples pad it and are coded too.
    std::array<int16_t, orbelN64SamplesPerBlock(kN64MaxBlockBytes)> scratch{};
    std::span<const int16_t> samples = input.subspan(whole * plan.samplesPerBlock);
    std::copy(samples.begin(), samples.end(), scratch.begin());
    orbelN64EncodeBlock(std::span<const int16_t>(scratch).first(plan.samplesPerBlock),
                        output.subspan(whole * plan.blockBytes, plan.blockBytes));
  }
  installRecord(wave, fresh);
  return 0;
}

int32_t decompressOrbelAdpcmN64(WaveFile& wave) {
  // Nothing else is printed while the blocks decode: warning of every
  // clamp after them keeps the output as it would be block by block.
  return decompressBlocks(wave, kOrbelAdpcmN64Codec, [](std::span<const uint8_t> blocks,
                                                        std::span<int16_t> samples, const BlockPlan& plan) {
    warnOfDecodingClamps(decodeOrbelN64Blocks(blocks, plan.blockBytes, plan.samplesPerBlock, samples));
  });
}
