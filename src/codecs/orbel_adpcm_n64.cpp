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

}  // namespace

int32_t orbelN64HeaderSample(int32_t sample) { return std::min((sample + 2) & ~3, kHeaderSampleCeiling); }

void orbelN64DecodeBlock(std::span<const uint8_t> block, std::span<int16_t> samples) {
  // The library counts the index clamps; nothing else is printed while a
  // block decodes, so warning of them after it keeps the output in order.
  uint32_t clamps = 0;
  qx_n64_decode_block(block.data(), block.size(), samples.data(), samples.size(), &clamps);
  for (uint32_t k = 0; k < clamps; ++k) std::printf("%s", kDecodeWarning);
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
    Lanes code = orbelQuantiseLanes(x - prediction, step);
    Lanes reconstructed = clamp16Lanes(prediction + step * code);
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
