#include "codecs/orbel_adpcm.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "app/error_state.h"
#include "app/job_options.h"
#include "codecs/codec_record.h"
#include "codecs/block_codec_job.h"
#include "codecs/orbel_quantiser.h"
#include "codecs/orbel_search.h"
#include "codecs/search_beam.h"
#include "riff/byte_order.h"

void orbelDecodeBlock(std::span<const uint8_t> block, std::span<int16_t> samples, AdpcmHistory& history) {
  qx_orbel_decode_block(block.data(), block.size(), samples.data(), samples.size(), &history);
}

int32_t orbelEstimateStep(int32_t a, int32_t b, std::span<const int16_t> x) {
  int32_t sum = 0;
  for (size_t k = 2; k < 5; ++k) {
    int32_t error = x[k] - qx_predict(a, b, x[k - 1], x[k - 2]);
    sum += error < 0 ? -error : error;
  }
  return std::max(sum / 12, QX_ORBEL_STEP_FLOOR);
}

namespace {

QUARLIX_LANE_KERNEL void runSetTrials(const int16_t* input, size_t count,
    AdpcmHistory history, OrbelTrials& trials) {
  Lanes a;
  Lanes b;
  for (size_t lane = 0; lane < kLaneCount; ++lane) {
    a[lane] = qx_adpcm_pairs[trials.set[lane] & 7][0];
    b[lane] = qx_adpcm_pairs[trials.set[lane] & 7][1];
  }
  Lanes step;
  std::memcpy(&step, trials.firstStep, sizeof step);
  Lanes sample1 = splat(history.sample1);
  Lanes sample2 = splat(history.sample2);
  UnsignedLanes errorTotal{};
  UnsignedLanes pending{};
  for (size_t i = 0; i < count; ++i) {
    Lanes x = splat(input[i]);
    Lanes prediction = (a * sample1 + b * sample2) >> 8;
    auto [code, factor] = orbelCodeLanes(x - prediction, step);
    Lanes reconstructed = laneClamp(prediction + step * code, INT16_MIN, INT16_MAX);
    step = orbelScaledStepLanes(step, factor);
    sample2 = sample1;
    sample1 = reconstructed;
    errorTotal += orbelSampleErrorLanes(reconstructed, x);
    appendNibbles(trials.codes, pending, i, code);
  }
  finishNibbles(trials.codes, pending, count);
  std::memcpy(trials.errorTotal, &errorTotal, sizeof errorTotal);
  for (size_t lane = 0; lane < kLaneCount; ++lane) {
    trials.ending[lane] = {static_cast<int16_t>(sample1[lane]), static_cast<int16_t>(sample2[lane])};
  }
}

}  // namespace

void orbelRunTrials(std::span<const int16_t> input, size_t count, const AdpcmHistory& history, OrbelTrials& trials) {
  runSetTrials(input.data(), count, history, trials);
}

void orbelEncodeTrials(std::span<const int16_t> input, size_t count, const AdpcmHistory& history,
                       OrbelTrials& trials) {
  for (size_t lane = 0; lane < kLaneCount; ++lane) {
    trials.set[lane] = static_cast<int32_t>(lane % kOrbelEncoderSets);
    const int16_t* pair = qx_adpcm_pairs[trials.set[lane]];
    trials.firstStep[lane] = (orbelEstimateStep(pair[0], pair[1], input) + 4) & ~7;
  }
  orbelRunTrials(input, count, history, trials);
}

void orbelEncodeBlock(std::span<const int16_t> input, std::span<uint8_t> block, size_t count,
                      AdpcmHistory& history) {
  // The trials run side by side, so none is ever copied: only the winner's
  // codes are packed into the block. Equal totals keep the lower set.
  OrbelTrials trials;
  orbelEncodeTrials(input, count, history, trials);
  size_t best = 0;
  for (size_t set = 1; set < kOrbelEncoderSets; ++set) {
    if (trials.errorTotal[set] < trials.errorTotal[best]) best = set;
  }
  storeLE16(block.data(), static_cast<uint32_t>(trials.firstStep[best]) | static_cast<uint32_t>(best));
  storeLaneCodes(trials.codes, best, block.data() + kOrbelHeaderBytes, orbelCodedBytes(count) - kOrbelHeaderBytes);
  history = trials.ending[best];
}

namespace {

// The squared error of a whole stream's decoding against its input.
uint64_t streamError(std::span<const uint8_t> data, const BlockPlan& plan, std::span<const int16_t> input) {
  AdpcmHistory history{};
  std::array<int16_t, orbelSamplesPerBlock(kOrbelMaxBlockBytes)> decoded;
  uint64_t sum = 0;
  for (size_t k = 0; k < plan.blockCount; ++k) {
    std::span<const int16_t> samples = input.subspan(k * plan.samplesPerBlock);
    samples = samples.first(std::min<size_t>(samples.size(), plan.samplesPerBlock));
    std::span<int16_t> out(decoded.data(), samples.size());
    orbelDecodeBlock(data.subspan(k * plan.blockBytes, plan.blockBytes), out, history);
    sum += squaredError(out, samples);
  }
  return sum;
}

}  // namespace

int32_t compressOrbelAdpcm(WaveFile& wave) {
  WaveFile fresh;
  BlockPlan plan;
  int32_t result = startBlockCompression(wave, kOrbelAdpcmCodec, chosenBlockBytes(kOrbelDefaultBlockBytes), fresh, plan);
  if (result != 0) return result;
  HeapBlock work;
  if (jobOptions.search && !work.allocate(kBeamWidestTrace)) return reportNoMemory();
  std::span<const int16_t> input = pcmSamples(wave.data, plan.sampleCount);
  std::span<uint8_t> output = fresh.data.bytes();
  auto encodeStream = [&](std::span<uint8_t> stream, bool search) {
    OrbelSearchState state;  // its history serves the written encoder too
    for (size_t k = 0; k < plan.blockCount; ++k) {
      std::span<const int16_t> samples = input.subspan(k * plan.samplesPerBlock);
      std::span<uint8_t> block = stream.subspan(k * plan.blockBytes, plan.blockBytes);
      std::array<int16_t, orbelSamplesPerBlock(kOrbelMaxBlockBytes)> scratch{};
      size_t count = std::min<size_t>(samples.size(), plan.samplesPerBlock);
      if (count < plan.samplesPerBlock) {
        // The short last block: its estimate sees zeros after the last sample.
        std::copy(samples.begin(), samples.end(), scratch.begin());
        samples = scratch;
      }
      if (search) orbelSearchBlock(samples.first(plan.samplesPerBlock), block, count, state, work);
      else orbelEncodeBlock(samples.first(plan.samplesPerBlock), block, count, state.history);
      std::fill(block.begin() + static_cast<ptrdiff_t>(orbelCodedBytes(count)), block.end(), 0);
    }
  };
  encodeStream(output, false);
  if (jobOptions.search) {
    // Each block of the search is at least the written encoder's from the
    // same history, but the history it hands on differs: the file is kept
    // only when it decodes better as a whole.
    HeapBlock searched;
    if (!searched.allocate(output.size())) return reportNoMemory();
    std::span<uint8_t> stream(searched.data(), output.size());
    encodeStream(stream, true);
    if (streamError(stream, plan, input) < streamError(output, plan, input)) std::copy(stream.begin(), stream.end(), output.begin());
  }
  installRecord(wave, fresh);
  return 0;
}

int32_t decompressOrbelAdpcm(WaveFile& wave) {
  // The history runs on from block to block, so they decode one by one.
  return decompressBlocks(wave, kOrbelAdpcmCodec, [](std::span<const uint8_t> blocks, std::span<int16_t> samples,
                                                     const BlockPlan& plan) {
    AdpcmHistory history{};
    for (size_t done = 0, at = 0; done < samples.size(); done += plan.samplesPerBlock, at += plan.blockBytes) {
      size_t count = std::min<size_t>(samples.size() - done, plan.samplesPerBlock);
      orbelDecodeBlock(blocks.subspan(at, plan.blockBytes), samples.subspan(done, count), history);
    }
  });
}
