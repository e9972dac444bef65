#include "codecs/ms_adpcm.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "app/error_state.h"
#include "app/job_options.h"
#include "codecs/block_codec_job.h"
#include "codecs/codec_record.h"
#include "codecs/lane_decoding.h"
#include "codecs/lane_vectors.h"
#include "codecs/ms_search.h"
#include "codecs/orbel_quantiser.h"
#include "codecs/search_beam.h"
#include "quarlix_codec_rules.h"
#include "quarlix_decode.h"
#include "riff/byte_order.h"

namespace {

MsAdpcmPair pairAt(size_t index) { return {qx_adpcm_pairs[index][0], qx_adpcm_pairs[index][1]}; }

int32_t sampleAt(std::span<const int16_t> input, size_t k) { return k < input.size() ? input[k] : 0; }

size_t blockBytesFor(size_t count) { return kMsAdpcmHeaderBytes + (count - 1) / 2; }

// The quotient of the code is truncated toward zero, so its magnitude is
// floor(|diff| / delta): 0 to 8 for a negative difference, 0 to 7 otherwise.
QUARLIX_LANE_KERNEL void runPairTrials(std::span<const int16_t> input, MsAdpcmTrials& trials, bool nearest) {
  Lanes c1;
  Lanes c2;
  for (size_t lane = 0; lane < kLaneCount; ++lane) {
    c1[lane] = qx_adpcm_pairs[lane % QX_MS_PAIRS][0];
    c2[lane] = qx_adpcm_pairs[lane % QX_MS_PAIRS][1];
  }
  Lanes delta;
  std::memcpy(&delta, trials.firstDelta, sizeof delta);
  Lanes s1 = splat(sampleAt(input, 1));
  Lanes s2 = splat(sampleAt(input, 0));
  UnsignedLanes err{};
  UnsignedLanes pending{};
  for (size_t k = 2; k < input.size(); ++k) {
    Lanes x = splat(input[k]);
    Lanes pred = predictLanes(c1, c2, s1, s2);
    Lanes diff = x - pred;
    Lanes code = nearest ? orbelNearestCodeLanes(diff, delta) : msAdpcmCodeLanes(diff, delta);
    Lanes s = clamp16Lanes(pred + delta * code);
    delta = msNextDeltaLanes(delta, code);
    UnsignedLanes miss = asUnsigned(s - x);
    err += miss * miss >> 7;
    s2 = s1;
    s1 = s;
    appendNibbles(trials.codes, pending, k - 2, code);
  }
  finishNibbles(trials.codes, pending, input.size() < 2 ? 0 : input.size() - 2);
  std::memcpy(trials.err, &err, sizeof err);
}

// Every pair's trial of eight blocks: one vector per pair, one block in
// each lane, so that seven independent chains of arithmetic share the
// core. The arithmetic of each lane is that of runPairTrials.
struct BlockTrials {
  int32_t firstDelta[QX_MS_PAIRS][kLaneCount];
  uint32_t err[QX_MS_PAIRS][kLaneCount];
  LaneNibbles<kMsAdpcmMaxBlockSamples - 2> codes[QX_MS_PAIRS];  // from sample 2 on
};

// One pair's trial state in eight blocks.
struct PairLanes {
  Lanes s1;
  Lanes s2;
  Lanes delta;
  UnsignedLanes err;
  UnsignedLanes pending;
};

// Sample n (from 2 on) of pair Pair's trials; the pair is known at compile
// time, so its products fold into shifts where they can.
template <size_t Pair>
[[gnu::always_inline]] inline void pairTrialStep(PairLanes& trial, Lanes x, size_t n, BlockTrials& trials) {
  constexpr int32_t c1 = qx_adpcm_pairs[Pair][0];
  constexpr int32_t c2 = qx_adpcm_pairs[Pair][1];
  Lanes pred = (trial.s1 * c1 + trial.s2 * c2) >> 8;
  Lanes code = msAdpcmCodeLanes(x - pred, trial.delta);
  Lanes s = laneClamp(pred + trial.delta * code, INT16_MIN, INT16_MAX);
  trial.delta = msNextDeltaLanes(trial.delta, code);
  UnsignedLanes miss = asUnsigned(s - x);
  trial.err += miss * miss >> 7;
  trial.s2 = trial.s1;
  trial.s1 = s;
  appendNibbles(trials.codes[Pair], trial.pending, n - 2, code);
}

template <size_t... Pair>
[[gnu::always_inline]] inline void runBlockTrialsOf(const int16_t* input, size_t samplesPerBlock,
                                                    BlockTrials& trials, std::index_sequence<Pair...>) {
  PairLanes trial[QX_MS_PAIRS];
  for (size_t pair = 0; pair < QX_MS_PAIRS; ++pair) {
    trial[pair].s1 = blockSamples(input, samplesPerBlock, 1);
    trial[pair].s2 = blockSamples(input, samplesPerBlock, 0);
    std::memcpy(&trial[pair].delta, trials.firstDelta[pair], sizeof trial[pair].delta);
    trial[pair].err = UnsignedLanes{};
    trial[pair].pending = UnsignedLanes{};
  }
  for (size_t n = 2; n < samplesPerBlock; ++n) {
    Lanes x = blockSamples(input, samplesPerBlock, n);
    (pairTrialStep<Pair>(trial[Pair], x, n, trials), ...);
  }
  for (size_t pair = 0; pair < QX_MS_PAIRS; ++pair) {
    finishNibbles(trials.codes[pair], trial[pair].pending, samplesPerBlock - 2);
    std::memcpy(trials.err[pair], &trial[pair].err, sizeof trial[pair].err);
  }
}

QUARLIX_LANE_KERNEL void runBlockTrials(const int16_t* input, size_t samplesPerBlock, BlockTrials& trials) {
  runBlockTrialsOf(input, samplesPerBlock, trials, std::make_index_sequence<QX_MS_PAIRS>{});
}

}  // namespace

void msAdpcmRunTrials(std::span<const int16_t> input, MsAdpcmTrials& trials, bool nearest) {
  runPairTrials(input, trials, nearest);
}

int32_t msAdpcmInitialDelta(MsAdpcmPair pair, std::span<const int16_t> input) {
  int32_t sum = 0;
  for (size_t k = 2; k <= 4; ++k) {
    sum += std::abs(sampleAt(input, k) - qx_predict(pair.c1, pair.c2, sampleAt(input, k - 1), sampleAt(input, k - 2)));
  }
  return std::max(sum / 12, QX_MS_MIN_DELTA);
}

void msAdpcmStoreHeader(std::span<const int16_t> input, size_t pair, int32_t delta, std::span<uint8_t> block) {
  block[0] = static_cast<uint8_t>(pair);
  storeLE16(&block[1], static_cast<uint16_t>(delta));
  storeLE16(&block[3], static_cast<uint16_t>(sampleAt(input, 1)));
  storeLE16(&block[5], static_cast<uint16_t>(sampleAt(input, 0)));
}

size_t msAdpcmEncodeBlock(std::span<const int16_t> input, std::span<uint8_t> block) {
  if (input.empty() || input.size() > kMsAdpcmMaxBlockSamples) return 0;
  size_t bytes = blockBytesFor(input.size());
  if (block.size() < bytes) return 0;
  MsAdpcmTrials trials;
  for (size_t i = 0; i < kLaneCount; ++i) {
    trials.firstDelta[i] = msAdpcmInitialDelta(pairAt(i % QX_MS_PAIRS), input);
  }
  runPairTrials(input, trials, false);
  // A later pair must do strictly better: equal errors keep the lower index.
  size_t chosen = 0;
  for (size_t i = 1; i < QX_MS_PAIRS; ++i) {
    if (trials.err[i] < trials.err[chosen]) chosen = i;
  }
  msAdpcmStoreHeader(input, chosen, trials.firstDelta[chosen], block);
  storeLaneCodes(trials.codes, chosen, &block[kMsAdpcmHeaderBytes], bytes - kMsAdpcmHeaderBytes);
  return bytes;
}

void msAdpcmEncodeBlocks(std::span<const int16_t> input, size_t samplesPerBlock, std::span<uint8_t> output,
                         size_t blockBytes) {
  if (samplesPerBlock == 0 || blockBytes == 0) return;
  size_t blocks = std::min(input.size() / samplesPerBlock, output.size() / blockBytes);
  size_t block = 0;
  if (samplesPerBlock >= 5 && samplesPerBlock <= kMsAdpcmMaxBlockSamples &&
      blockBytes == blockBytesFor(samplesPerBlock)) {
    BlockTrials trials;
    for (; block + kLaneCount <= blocks; block += kLaneCount) {
      std::span<const int16_t> first = input.subspan(block * samplesPerBlock);
      for (size_t lane = 0; lane < kLaneCount; ++lane) {
        for (size_t pair = 0; pair < QX_MS_PAIRS; ++pair) {
          trials.firstDelta[pair][lane] = msAdpcmInitialDelta(pairAt(pair), first.subspan(lane * samplesPerBlock));
        }
      }
      runBlockTrials(first.data(), samplesPerBlock, trials);
      for (size_t lane = 0; lane < kLaneCount; ++lane) {
        // A later pair must do strictly better: equal errors keep the lower index.
        size_t chosen = 0;
        for (size_t pair = 1; pair < QX_MS_PAIRS; ++pair) {
          if (trials.err[pair][lane] < trials.err[chosen][lane]) chosen = pair;
        }
        std::span<const int16_t> samples = first.subspan(lane * samplesPerBlock, samplesPerBlock);
        uint8_t* out = output.data() + (block + lane) * blockBytes;
        out[0] = static_cast<uint8_t>(chosen);
        storeLE16(out + 1, static_cast<uint16_t>(trials.firstDelta[chosen][lane]));
        storeLE16(out + 3, static_cast<uint16_t>(samples[1]));
        storeLE16(out + 5, static_cast<uint16_t>(samples[0]));
        storeLaneCodes(trials.codes[chosen], lane, out + kMsAdpcmHeaderBytes, blockBytes - kMsAdpcmHeaderBytes);
      }
    }
  }
  for (; block < blocks; ++block) {
    msAdpcmEncodeBlock(input.subspan(block * samplesPerBlock, samplesPerBlock),
                       output.subspan(block * blockBytes, blockBytes));
  }
}

void msAdpcmDecodeBlock(std::span<const uint8_t> block, std::span<int16_t> output) {
  qx_ms_decode_block(block.data(), block.size(), output.data(), output.size());
}

namespace {

// Eight blocks' decoding, one in each lane, for decodeLaneGroups.
struct MsLanes {
  static constexpr size_t kCodesOffset = kMsAdpcmHeaderBytes;
  static constexpr size_t kHeldSamples = 2;
  static constexpr bool kLowNibbleFirst = false;
  PairHistoryLanes history;
  Lanes delta;

  void start(const uint8_t* const block[], int16_t* const out[]) {
    int32_t pair1[kLaneCount], pair2[kLaneCount], older[kLaneCount], newer[kLaneCount], firstDelta[kLaneCount];
    for (size_t lane = 0; lane < kLaneCount; ++lane) {
      const uint8_t* header = block[lane];
      uint32_t pair = qx_ms_header_pair(header[0]);
      pair1[lane] = qx_adpcm_pairs[pair][0];
      pair2[lane] = qx_adpcm_pairs[pair][1];
      firstDelta[lane] = qx_int16_of(header[2], header[1]);
      newer[lane] = qx_int16_of(header[4], header[3]);
      older[lane] = qx_int16_of(header[6], header[5]);
    }
    history.start(pair1, pair2, older, newer, out);
    delta = lanesOf(firstDelta);
  }
  [[gnu::always_inline]] Lanes next(Lanes nibble) {
    Lanes code = (nibble ^ 8) - 8;
    Lanes sample = history.next(code * delta);
    delta = msNextDeltaLanes(delta, code);
    return sample;
  }
  uint32_t clamps() const { return 0; }  // none in this format
};

QUARLIX_LANE_KERNEL LaneRun decodeMsLaneGroups(const uint8_t* blocks, size_t blockBytes, size_t samplesPerBlock,
                                                size_t groups, int16_t* samples) {
  return decodeLaneGroups<MsLanes>(blocks, blockBytes, samplesPerBlock, groups, samples);
}

}  // namespace

void decodeMsAdpcmBlocks(std::span<const uint8_t> blocks, size_t blockBytes, size_t samplesPerBlock,
                         std::span<int16_t> samples) {
  decodeBlocksInLanes(blocks, blockBytes, samplesPerBlock, samples, decodeMsLaneGroups,
                      withoutClamps<qx_ms_decode_block>);
}

int32_t compressMsAdpcm(WaveFile& wave) {
  uint32_t rate = readFormat(wave).nSamplesPerSec;
  uint32_t defaultBytes = rate >= 44100 ? 1024 : rate >= 22050 ? 512 : 256;
  WaveFile fresh;
  BlockPlan plan;
  if (int32_t result = startBlockCompression(wave, kMsAdpcmCodec, chosenBlockBytes(defaultBytes), fresh, plan); result != 0) {
    return result;
  }
  // The block fmt goes on with wNumCoef and the coefficient table.
  uint8_t* table = fresh.fmt.data() + kBlockFormatSize;
  storeLE16(table, QX_MS_PAIRS);
  for (size_t i = 0; i < QX_MS_PAIRS; ++i) {
    storeLE16(table + 2 + 4 * i, static_cast<uint16_t>(qx_adpcm_pairs[i][0]));
    storeLE16(table + 4 + 4 * i, static_cast<uint16_t>(qx_adpcm_pairs[i][1]));
  }
  HeapBlock work;
  if (jobOptions.search && !work.allocate(kBeamWidestTrace)) return reportNoMemory();
  std::span<const int16_t> input = pcmSamples(wave.data, plan.sampleCount);
  std::span<uint8_t> output = fresh.data.bytes();
  if (jobOptions.search) {
    for (size_t block = 0; block < plan.blockCount; ++block) {
      std::span<const int16_t> samples = input.subspan(block * plan.samplesPerBlock);
      samples = samples.first(std::min<size_t>(samples.size(), plan.samplesPerBlock));
      std::span<uint8_t> out = output.subspan(block * plan.blockBytes, plan.blockBytes);
      // The last block may be partial; its unused tail is zero.
      size_t written = msAdpcmSearchBlock(samples, out, work);
      std::fill(out.begin() + static_cast<ptrdiff_t>(written), out.end(), 0);
    }
    installRecord(wave, fresh);
    return 0;
  }
  size_t whole = plan.sampleCount / plan.samplesPerBlock;
  msAdpcmEncodeBlocks(input.first(whole * plan.samplesPerBlock), plan.samplesPerBlock, output, plan.blockBytes);
  if (whole < plan.blockCount) {
    // The last block is partial; its unused tail is zero.
    std::span<uint8_t> out = output.subspan(whole * plan.blockBytes, plan.blockBytes);
    size_t written = msAdpcmEncodeBlock(input.subspan(whole * plan.samplesPerBlock), out);
    std::fill(out.begin() + static_cast<ptrdiff_t>(written), out.end(), 0);
  }
  installRecord(wave, fresh);
  return 0;
}

int32_t decompressMsAdpcm(WaveFile& wave) {
  return decompressBlocks(wave, kMsAdpcmCodec, [](std::span<const uint8_t> blocks, std::span<int16_t> samples,
                                                   const BlockPlan& plan) {
    decodeMsAdpcmBlocks(blocks, plan.blockBytes, plan.samplesPerBlock, samples);
  });
}
