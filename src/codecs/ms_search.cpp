#include "codecs/ms_search.h"

#include <algorithm>
#include <array>

#include "codecs/ms_adpcm.h"
#include "codecs/search_beam.h"
#include "quarlix_codec_rules.h"
#include "quarlix_decode.h"

namespace {

constexpr size_t kWidth = 16;
// libsndfile holds the step in 16 bits: a larger one would decode apart.
constexpr int32_t kMaxSearchDelta = INT16_MAX;
// First steps: the pair's estimate times 2^(k/2) for k = -8 .. 7, in 1/256.
constexpr std::array<int32_t, kWidth> kLadder = {16,  23,  32,  45,  64,   91,   128,  181,
                                                 256, 362, 512, 724, 1024, 1448, 2048, 2896};

struct MsSteps {
  [[gnu::always_inline]] static Lanes step(Lanes delta) { return delta; }
  [[gnu::always_inline]] static Lanes next(Lanes delta, Lanes code, LaneMask& over) {
    Lanes next = msNextDeltaLanes(delta, code);
    over = next > kMaxSearchDelta;
    return next;
  }
};

QUARLIX_LANE_KERNEL void runMsBeam(const int16_t* input, size_t count, size_t pair, const BeamStart& start,
                                   BeamTrace<kWidth>& trace, int8_t* codes, BeamEnd& end) {
  ScaledBeamRules<MsSteps> rules{splat(qx_adpcm_pairs[pair][0]), splat(qx_adpcm_pairs[pair][1])};
  runBeam<kWidth>(rules, input, count, start, trace, codes, end);
}

// The block's error after decoding, or none when a step passes 16 bits.
uint64_t decodedError(std::span<const uint8_t> block, std::span<const int16_t> input) {
  std::array<int16_t, kMsAdpcmMaxBlockSamples> decoded;
  std::span<int16_t> samples(decoded.data(), input.size());
  msAdpcmDecodeBlock(block, samples);
  int32_t delta = qx_int16_of(block[2], block[1]);
  for (size_t k = 2; k < input.size(); ++k) {
    uint32_t byte = block[kMsAdpcmHeaderBytes + (k - 2) / 2];
    delta = qx_ms_next_delta(delta, qx_signed_code(k % 2 == 0 ? byte >> 4 : byte & 15));
    if (delta > kMaxSearchDelta) return UINT64_MAX;
  }
  return squaredError(samples, input);
}

}  // namespace

size_t msAdpcmSearchBlock(std::span<const int16_t> input, std::span<uint8_t> block, HeapBlock& work) {
  // The written encoder's block is the one to beat; a block without codes
  // leaves nothing to search.
  size_t bytes = msAdpcmEncodeBlock(input, block);
  if (bytes == 0 || input.size() <= 2) return bytes;
  uint64_t writtenError = decodedError(block.first(bytes), input);

  // The pair whose trial, with each code rounded to the nearest, did best.
  MsAdpcmTrials trials;
  for (size_t lane = 0; lane < kLaneCount; ++lane) {
    const int16_t* pair = qx_adpcm_pairs[lane % QX_MS_PAIRS];
    trials.firstDelta[lane] = msAdpcmInitialDelta({pair[0], pair[1]}, input);
  }
  msAdpcmRunTrials(input, trials, true);
  size_t pair = 0;
  for (size_t i = 1; i < QX_MS_PAIRS; ++i) pair = trials.err[i] < trials.err[pair] ? i : pair;

  std::array<int32_t, kWidth> deltas;
  size_t deltaCount = 0;
  for (int32_t scale : kLadder) {
    int32_t delta = std::clamp(trials.firstDelta[pair] * scale >> 8, QX_MS_MIN_DELTA, kMaxSearchDelta);
    if (std::find(deltas.begin(), deltas.begin() + deltaCount, delta) == deltas.begin() + deltaCount) {
      deltas[deltaCount++] = delta;
    }
  }
  BeamStart start{input[1], input[0], deltas.data(), deltaCount};
  std::array<int8_t, kMsAdpcmMaxBlockSamples> codes;
  BeamEnd end;
  runMsBeam(input.data() + 2, input.size() - 2, pair, start, beamTraceIn<kWidth>(work), codes.data(), end);
  std::array<uint8_t, kMsAdpcmMaxBlockBytes> found{};
  msAdpcmStoreHeader(input, pair, deltas[end.start], found);
  packCodes(codes.data(), input.size() - 2, &found[kMsAdpcmHeaderBytes], true);
  if (decodedError(std::span(found).first(bytes), input) < writtenError) std::copy_n(found.begin(), bytes, block.begin());
  return bytes;
}
