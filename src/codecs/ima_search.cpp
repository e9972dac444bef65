#include "codecs/ima_search.h"

#include <array>

#include "codecs/search_beam.h"
#include "quarlix_codec_rules.h"
#include "quarlix_decode.h"

namespace {

constexpr size_t kWidth = 64;
constexpr size_t kMaxSamples = kBeamMaxSamples;
constexpr size_t kMaxBlockBytes = 1024;

// The codes in the order of their levels, -8 (code 15, the lowest) to 7:
// a level's position n >= 0 is code n, n < 0 is code 8 | (-1 - n).
[[gnu::always_inline]] inline Lanes codeAtPosition(Lanes position) {
  return select(position < 0, 8 | (-1 - position), position);
}

[[gnu::always_inline]] inline Lanes stepOf(Lanes index) {
  Lanes step{};
  for (size_t lane = 0; lane < kLaneCount; ++lane) step[lane] = qx_ima_step_table[index[lane]];
  return step;
}

// floor(magnitude / step) limited to 8, for magnitude >= 0 and 0 < step <
// 2^27: the quotient bits found by comparison, so no lane divides.
[[gnu::always_inline]] inline Lanes quotientUpTo8(Lanes magnitude, Lanes step) {
  LaneMask eight = magnitude >= (step << 3);
  LaneMask four = magnitude >= (step << 2);
  magnitude -= step << 2 & four;
  LaneMask two = magnitude >= (step << 1);
  magnitude -= step << 1 & two;
  LaneMask one = magnitude >= step;
  Lanes quotient = (four & 4) | (two & 2) | (one & 1);
  return select(eight, splat(8), quotient);
}

struct ImaBeamRules {
  static constexpr bool kSecondOrder = false;
  // The sample and next index a code gives, by the decoder's rules.
  [[gnu::always_inline]] static void decode(Lanes predictor, Lanes index, Lanes step, BeamChild& child) {
    child.sample = clamp16Lanes(predictor + imaDifferenceLanes(step, child.code));
    child.adapt = imaNextIndexLanes(index, child.code);
  }
  [[gnu::always_inline]] void offspring(Lanes predictor, Lanes, Lanes index, Lanes x, BeamChild& near,
                                        BeamChild& far) const {
    Lanes step = stepOf(index);
    // The magnitude whose level (2m + 1) step / 8 lies nearest the difference.
    Lanes difference = x - predictor;
    Lanes magnitude = laneMin(quotientUpTo8(laneAbs(difference) << 2, step), splat(7));
    Lanes position = select(difference < 0, -1 - magnitude, magnitude);
    near.code = codeAtPosition(position);
    decode(predictor, index, step, near);
    Lanes farPosition = laneClamp(position + select(x >= near.sample, splat(1), splat(-1)), -8, 7);
    far.code = codeAtPosition(farPosition);
    decode(predictor, index, step, far);
  }
};

QUARLIX_LANE_KERNEL void runImaBeam(const int16_t* input, size_t count, const BeamStart& start,
                                    BeamTrace<kWidth>& trace, int8_t* codes, BeamEnd& end) {
  runBeam<kWidth>(ImaBeamRules{}, input, count, start, trace, codes, end);
}

// The block's error after decoding.
uint64_t decodedError(std::span<const uint8_t> block, std::span<const int16_t> input) {
  std::array<int16_t, kMaxSamples> decoded;
  qx_ima_decode_block(block.data(), block.size(), decoded.data(), input.size());
  return squaredError(std::span<const int16_t>(decoded.data(), input.size()), input);
}

}  // namespace

void imaSearchBlock(std::span<const int16_t> input, std::span<uint8_t> block, ImaState& state, int8_t& writtenIndex,
                    HeapBlock& work) {
  // The written encoder's block from the index the stream has reached.
  ImaState written = state;
  imaEncodeBlock(input, block, written);
  uint64_t chosenError = decodedError(block, input);
  int8_t chosenEnd = written.stepIndex;
  std::array<uint8_t, kMaxBlockBytes> found{};
  std::span<const uint8_t> foundBlock(found.data(), block.size());
  auto keepIfBetter = [&](int8_t end) {
    uint64_t error = decodedError(foundBlock, input);
    if (error < chosenError) {
      std::copy(foundBlock.begin(), foundBlock.end(), block.begin());
      chosenError = error;
      chosenEnd = end;
    }
  };
  // The written encoder's own block, from the index its stream reaches: no
  // block worse than it makes no file worse than the written one.
  ImaState alone{0, writtenIndex, 0};
  imaEncodeBlock(input, found, alone);
  writtenIndex = alone.stepIndex;
  keepIfBetter(alone.stepIndex);

  // Every start index: the stream's, then the others by their distance
  // from it, the higher first.
  std::array<int32_t, QX_IMA_MAX_INDEX + 1> indices;
  size_t indexCount = 0;
  indices[indexCount++] = state.stepIndex;
  for (int32_t distance = 1; indexCount < indices.size(); ++distance) {
    for (int32_t index : {state.stepIndex + distance, state.stepIndex - distance}) {
      if (index >= 0 && index <= QX_IMA_MAX_INDEX) indices[indexCount++] = index;
    }
  }
  // Every start judged by the written encoder's block from it over the
  // whole block; the beam starts from the best of them.
  std::array<uint64_t, QX_IMA_MAX_INDEX + 1> greedy;
  for (size_t first = 0; first < indexCount; first += kLaneCount) {
    ImaStartTrials trials;
    for (size_t lane = 0; lane < kLaneCount; ++lane) trials.firstIndex[lane] = indices[std::min(first + lane, indexCount - 1)];
    imaRunStartTrials(input, trials);
    for (size_t lane = 0; lane < kLaneCount && first + lane < indexCount; ++lane) greedy[first + lane] = trials.error[lane];
  }
  std::array<size_t, QX_IMA_MAX_INDEX + 1> order;
  for (size_t k = 0; k < indexCount; ++k) order[k] = k;
  std::stable_sort(order.begin(), order.begin() + static_cast<ptrdiff_t>(indexCount),
                   [&](size_t x, size_t y) { return greedy[x] < greedy[y]; });
  std::array<int32_t, QX_IMA_MAX_INDEX + 1> starts;
  for (size_t k = 0; k < indexCount; ++k) starts[k] = indices[order[k]];
  uint64_t greedyError = greedy[order[0]];
  auto search = [&](const int32_t* starts, size_t count) {
    BeamStart start{input[0], 0, starts, count};
    std::array<int8_t, kMaxSamples> codes;
    BeamEnd end;
    runImaBeam(input.data() + 1, input.size() - 1, start, beamTraceIn<kWidth>(work), codes.data(), end);
    ImaState header{input[0], static_cast<int8_t>(starts[end.start]), 0};
    imaStoreHeader(found.data(), header);
    packCodes(codes.data(), input.size() - 1, found.data() + kImaHeaderBytes, false);
    keepIfBetter(static_cast<int8_t>(end.adapt));
    return starts[end.start];
  };
  // The beam from the best starts prefers what fits the first samples:
  // where a loud sound follows a quiet start, the best start's written
  // block can beat it, and then that start gets a beam of its own.
  if (search(starts.data(), std::min(indexCount, kWidth)) != starts[0] && greedyError < chosenError) {
    search(starts.data(), 1);
  }
  state.stepIndex = chosenEnd;
}
