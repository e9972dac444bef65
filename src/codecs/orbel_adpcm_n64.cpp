#include "codecs/orbel_adpcm_n64.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "app/error_state.h"
#include "app/job_options.h"
#include "codecs/codec_record.h"
#include "codecs/orbel_adpcm.h"
#include "codecs/block_codec_job.h"
#include "codecs/ima_step_table.h"
#include "codecs/orbel_n64_search.h"
#include "codecs/orbel_quantiser.h"
#include "codecs/search_beam.h"
#include "riff/byte_order.h"

namespace {

constexpr const char* kDecodeWarning = "\nWarning - iIndex > 88 during ADPCMN64 decompression !\n";
constexpr const char* kEncodeWarning = "\nWarning - iIndex > 88 during ADPCMN64 compression !\n";

constexpr int32_t kMaxIndex = kImaMaxStepIndex;
constexpr std::array<int32_t, 16> kIndexChange = {-1, -1, -1, -1, 2, 4, 6, 8, 10, 8, 6, 4, 2, -1, -1, -1};

// The largest multiple of 4 the signed header word holds: 32766 and 32767
// would round to 32768, so both ends use this instead.
constexpr int32_t kHeaderSampleCeiling = 32764;

int32_t moveIndex(int32_t index, int32_t code, const char* warning) {
  index += kIndexChange[static_cast<uint32_t>(code) & 15];
  if (index < 0) return 0;
  if (index > kMaxIndex) {
    std::printf("%s", warning);
    return kMaxIndex;
  }
  return index;
}

int32_t predict(const OrbelN64Pair& pair, int32_t newer, int32_t older) {
  return (pair.c1 * newer + pair.c2 * older) >> 8;
}

int32_t codeAt(std::span<const uint8_t> block, size_t i) {
  uint32_t byte = block[kN64HeaderBytes + (i - 2) / 2];
  uint32_t nibble = i % 2 == 0 ? byte >> 4 : byte & 15;
  return static_cast<int32_t>(nibble ^ 8) - 8;
}

}  // namespace

int32_t orbelN64HeaderSample(int32_t sample) { return std::min((sample + 2) & ~3, kHeaderSampleCeiling); }

void orbelN64DecodeBlock(std::span<const uint8_t> block, std::span<int16_t> samples) {
  if (samples.empty()) return;
  int32_t first = static_cast<int16_t>(loadBE16(block.data()));
  const OrbelN64Pair& pair = kOrbelN64Pairs[static_cast<uint32_t>(first) & 3];
  int32_t older = first & ~3;
  // Only a damaged block holds an index above 88: bounded, never read past
  // the table.
  int32_t index = std::min<int32_t>(block[4], kMaxIndex);
  samples[0] = static_cast<int16_t>(older);
  if (samples.size() == 1) return;
  int32_t newer = static_cast<int16_t>(loadBE16(block.data() + 2));
  samples[1] = static_cast<int16_t>(newer);
  for (size_t i = 2; i < samples.size(); ++i) {
    int32_t code = codeAt(block, i);
    int32_t value = clampSample16(predict(pair, newer, older) + kImaStepTable[static_cast<size_t>(index)] * code);
    samples[i] = static_cast<int16_t>(value);
    index = moveIndex(index, code, kDecodeWarning);
    older = newer;
    newer = value;
  }
}

int32_t orbelN64EstimateIndex(int32_t c1, int32_t c2, std::span<const int16_t> x) {
  int32_t target = orbelEstimateStep(c1, c2, x);
  int32_t i = 0;
  while (i < kMaxIndex && kImaStepTable[static_cast<size_t>(i)] < target) ++i;
  if (i > 0 && target - kImaStepTable[static_cast<size_t>(i - 1)] < kImaStepTable[static_cast<size_t>(i)] - target) --i;
  return i;
}

namespace {

QUARLIX_LANE_KERNEL void runSetTrials(std::span<const int16_t> input, OrbelN64Trials& trials) {
  Lanes c1;
  Lanes c2;
  for (size_t lane = 0; lane < kLaneCount; ++lane) {
    c1[lane] = kOrbelN64Pairs[static_cast<size_t>(trials.set[lane]) & 3].c1;
    c2[lane] = kOrbelN64Pairs[static_cast<size_t>(trials.set[lane]) & 3].c2;
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
    Lanes prediction = secondOrderPrediction(c1, c2, newer, older);
    Lanes step;
    for (size_t lane = 0; lane < kLaneCount; ++lane) step[lane] = kImaStepTable[static_cast<size_t>(index[lane])];
    Lanes code = orbelQuantiseLanes(x - prediction, step);
    Lanes reconstructed = laneClamp(prediction + step * code, INT16_MIN, INT16_MAX);
    index = laneMax(index + orbelN64IndexChangeLanes(code), splat(0));
    LaneMask passed = index > kMaxIndex;
    warnings -= passed;
    index = laneMin(index, splat(kMaxIndex));
    older = newer;
    newer = reconstructed;
    errorTotal += orbelSampleErrorLanes(reconstructed, x);
    appendNibbles(trials.codes, pending, i - 2, code);
  }
  finishNibbles(trials.codes, pending, input.size() - 2);
  std::memcpy(trials.errorTotal, &errorTotal, sizeof errorTotal);
  std::memcpy(trials.indexWarnings, &warnings, sizeof warnings);
}

}  // namespace

void orbelN64RunTrials(std::span<const int16_t> input, OrbelN64Trials& trials) { runSetTrials(input, trials); }

void orbelN64EncodeTrials(std::span<const int16_t> input, OrbelN64Trials& trials, bool warn) {
  for (size_t lane = 0; lane < kLaneCount; ++lane) {
    trials.set[lane] = static_cast<int32_t>(lane % kN64Sets);
    const OrbelN64Pair& pair = kOrbelN64Pairs[lane % kN64Sets];
    trials.firstIndex[lane] = orbelN64EstimateIndex(pair.c1, pair.c2, input);
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
  orbelN64StoreHeader(input, static_cast<int32_t>(best), trials.firstIndex[best], block);
  storeLaneCodes(trials.codes, best, block.data() + kN64HeaderBytes, (input.size() - 2) / 2);
  return best;
}

void orbelN64EncodeBlock(std::span<const int16_t> input, std::span<uint8_t> block) {
  OrbelN64Trials trials;
  orbelN64EncodeTrials(input, trials);
  orbelN64StoreBestTrial(input, trials, block);
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
  auto encode = [&](std::span<const int16_t> samples, std::span<uint8_t> block) {
    if (jobOptions.search) orbelN64SearchBlock(samples, block, work);
    else orbelN64EncodeBlock(samples, block);
  };
  for (size_t k = 0; k < plan.blockCount; ++k) {
    std::span<const int16_t> samples = input.subspan(k * plan.samplesPerBlock);
    std::span<uint8_t> block = output.subspan(k * plan.blockBytes, plan.blockBytes);
    if (samples.size() >= plan.samplesPerBlock) {
      encode(samples.first(plan.samplesPerBlock), block);
    } else {
      // The last block is always full: zero samples pad it and are coded too.
      std::array<int16_t, orbelN64SamplesPerBlock(kN64MaxBlockBytes)> scratch{};
      std::copy(samples.begin(), samples.end(), scratch.begin());
      encode(std::span<const int16_t>(scratch).first(plan.samplesPerBlock), block);
    }
  }
  installRecord(wave, fresh);
  return 0;
}

int32_t decompressOrbelAdpcmN64(WaveFile& wave) {
  return decompressBlocks(wave, kOrbelAdpcmN64Codec, orbelN64DecodeBlock);
}
