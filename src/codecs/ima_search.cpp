#include "codecs/ima_search.h"

#include <array>
#include <bit>

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

// The position of the level (2m + 1) step / 8 that lies nearest the
// difference.
[[gnu::always_inline]] inline Lanes nearestPosition(Lanes difference, Lanes step) {
  Lanes magnitude = laneMin(quotientUpTo8(laneAbs(difference) << 2, step), splat(7));
  return select(difference < 0, -1 - magnitude, magnitude);
}

struct ImaBeamRules {
  static constexpr bool kSecondOrder = false;
  // Samples at one step index that share a bucket of a 64th to a 128th of
  // the step (finer than the decoder's truncated step terms resolve) have
  // all but the same futures: merged, they leave the width to paths that
  // differ. The key drops floor(log2(step)) - 6 low bits of the sample,
  // with log2(step) taken as 2.8 + 0.1386 index, and none below step 128.
  [[gnu::always_inline]] static Lanes mergeKey(Lanes sample, Lanes index) {
    return sample >> laneMax((index * 142 - 3277) >> 10, splat(0));
  }
  // The sample and next index a code gives, by the decoder's rules.
  [[gnu::always_inline]] static void decode(Lanes predictor, Lanes index, Lanes step, BeamChild& child) {
    child.sample = clamp16Lanes(predictor + imaDifferenceLanes(step, child.code));
    child.adapt = imaNextIndexLanes(index, child.code);
  }
  [[gnu::always_inline]] void offspring(Lanes predictor, Lanes, Lanes index, Lanes x, BeamChild& near,
                                        BeamChild& far) const {
    Lanes step = stepOf(index);
    Lanes position = nearestPosition(x - predictor, step);
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

// The second search keeps, for every step index, the best paths that end
// at it with samples apart. A path that saved its step for a loud onset
// to come has more error than its neighbours until the onset: ranked by
// error alone, as in the beam, it would be dropped, but here it meets only
// paths of its own step. Each offers the nearest level, its neighbours
// (the nearer side first) and the levels two places from it, where these
// lead to another step index than the nearest does: at the same index the
// three nearer levels, which fit the sample better, contend for the slots
// and seldom lose them to the farther two. Where the input ahead changes
// by more than four of the path's steps in one sample, that step is too
// small for what comes: the last two offers are then the levels two and
// four places beyond the nearest on the input's side, which overshoot now
// to raise the step at once, as a loud onset needs.
constexpr size_t kPathsPerIndex = 3;
constexpr size_t kCodesTried = 5;
constexpr size_t kAheadSamples = 8;
constexpr size_t kIndexCount = QX_IMA_MAX_INDEX + 1;
constexpr size_t kSlots = (kIndexCount * kPathsPerIndex + kLaneCount - 1) / kLaneCount * kLaneCount;

// The largest change between neighbouring samples among the next
// kAheadSamples from each sample on: ahead[t] for input[t], whose
// predecessor is input[t - 1] or, for t = 0, the header sample.
void changeAhead(const int16_t* input, size_t count, int32_t first, int32_t* ahead) {
  for (size_t t = 0; t < count; ++t) {
    int32_t change = std::abs(input[t] - (t == 0 ? first : input[t - 1]));
    ahead[t] = change;
    for (size_t back = 1; back < kAheadSamples && back <= t; ++back) ahead[t - back] = std::max(ahead[t - back], change);
  }
}

// The paths after a sample: slot s holds one that ends at step index
// s / kPathsPerIndex, or none (an error of `bound`); an index's slots are
// ordered by error.
struct IndexPaths {
  alignas(32) int32_t sample[kSlots];
  uint64_t error[kSlots];
};

// Offers a path to the slots of its step index. A path that comes within
// a 32nd of the index's step of a sample one of them holds replaces it only
// when better: paths so close have all but the same futures, and the
// index's few slots are worth more for paths that differ.
[[gnu::always_inline]] inline void offerPath(IndexPaths& next, uint16_t* links, size_t first, int32_t sample,
                                             uint64_t error, uint16_t link, uint64_t bound) {
  size_t at = first + kPathsPerIndex - 1;
  // Most offers lose to every path kept: one test sends them away.
  if (error >= next.error[at]) return;
  int32_t tooClose = qx_ima_step_table[first / kPathsPerIndex] >> 5;
  for (size_t k = first; k < at; ++k) {
    if (next.error[k] != bound && std::abs(next.sample[k] - sample) <= tooClose) {
      if (error >= next.error[k]) return;
      at = k;
      break;
    }
  }
  for (; at > first && next.error[at - 1] > error; --at) {
    next.error[at] = next.error[at - 1];
    next.sample[at] = next.sample[at - 1];
    links[at] = links[at - 1];
  }
  next.error[at] = error;
  next.sample[at] = sample;
  links[at] = link;
}

// The best path through input[0..count) after the header sample `first`,
// from any start index, if its error is below `bound`, the error of a
// block already found: a path that reaches the bound can never end below
// it, so it is dropped on the way. So is a path whose error after sample t
// reaches limits[t] (at most the bound), which the caller sets where a
// path would have to make up too much of the found block's lead to win.
// The path's codes go to codes[0..count).
struct IndexSearchEnd {
  bool found;
  int32_t start;
  int32_t end;
};

QUARLIX_LANE_KERNEL void runImaIndexSearch(const int16_t* input, size_t count, int32_t first, uint64_t bound,
                                           const uint64_t* limits, BeamTrace<kSlots>& trace, int8_t* codes,
                                           IndexSearchEnd& end) {
  IndexPaths buffers[2] = {};
  IndexPaths* paths = &buffers[0];
  IndexPaths* next = &buffers[1];
  alignas(32) int32_t slotIndex[kSlots];
  alignas(32) int32_t slotStep[kSlots];
  for (size_t slot = 0; slot < kSlots; ++slot) {
    paths->sample[slot] = first;
    paths->error[slot] = slot % kPathsPerIndex == 0 && slot / kPathsPerIndex < kIndexCount ? 0 : bound;
    slotIndex[slot] = static_cast<int32_t>(std::min(slot / kPathsPerIndex, kIndexCount - 1));
    slotStep[slot] = qx_ima_step_table[slotIndex[slot]];
  }
  // The vectors of slots that hold paths lie in [low, high); the other
  // buffer holds paths in [dirtyLow, dirtyHigh) until it is cleared.
  size_t low = 0;
  size_t high = kSlots / kLaneCount;
  size_t dirtyLow = 0;
  size_t dirtyHigh = kSlots / kLaneCount;
  std::array<int32_t, kMaxSamples> ahead;
  changeAhead(input, count, first, ahead.data());
  for (size_t t = 0; t < count; ++t) {
    std::fill(next->error + kLaneCount * dirtyLow, next->error + kLaneCount * dirtyHigh, bound);
    uint16_t* links = trace.links[t];
    Lanes x = splat(input[t]);
    size_t nextLow = kSlots;
    size_t nextHigh = 0;
    for (size_t v = low; v < high; ++v) {
      // What each path may still add before it reaches the limit, capped
      // at 32 bits, which a square never reaches; a slot with no path has
      // no room.
      alignas(32) uint32_t roomOf[kLaneCount];
      bool live = false;
      for (size_t lane = 0; lane < kLaneCount; ++lane) {
        uint64_t parentError = paths->error[kLaneCount * v + lane];
        uint64_t room = parentError < limits[t] ? limits[t] - parentError : 0;
        roomOf[lane] = static_cast<uint32_t>(std::min<uint64_t>(room, UINT32_MAX));
        live |= room != 0;
      }
      if (!live) continue;
      UnsignedLanes room;
      std::memcpy(&room, roomOf, sizeof room);
      Lanes predictor;
      Lanes index;
      Lanes step;
      std::memcpy(&predictor, paths->sample + kLaneCount * v, sizeof predictor);
      std::memcpy(&index, slotIndex + kLaneCount * v, sizeof index);
      std::memcpy(&step, slotStep + kLaneCount * v, sizeof step);
      Lanes position = nearestPosition(x - predictor, step);
      Lanes nearest = clamp16Lanes(predictor + imaDifferenceLanes(step, codeAtPosition(position)));
      Lanes toward = select(x >= nearest, splat(1), splat(-1));
      constexpr int32_t kOffsets[kCodesTried] = {0, 1, -1, 2, -2};
      LaneMask overshoot = splat(ahead[t]) > (step << 2);
      Lanes rising = laneMax(position, splat(0));
      Lanes falling = laneMin(position, splat(-1));
      LaneMask up = x >= predictor;
      constexpr int32_t kBeyond[kCodesTried] = {0, 0, 0, 2, 4};
      alignas(32) int32_t childSample[kCodesTried][kLaneCount];
      alignas(32) int32_t childIndex[kCodesTried][kLaneCount];
      alignas(32) uint32_t childSquare[kCodesTried][kLaneCount];
      alignas(32) int32_t childCode[kCodesTried][kLaneCount];
      Lanes tried[kCodesTried];
      Lanes nearestIndex{};
      Lanes offered{};  // bit k: the lane offers its code k, a new code within its room
      for (size_t k = 0; k < kCodesTried; ++k) {
        Lanes near = laneClamp(position + toward * kOffsets[k], -8, 7);
        Lanes beyond = select(up, laneMin(rising + kBeyond[k], splat(7)), laneMax(falling - kBeyond[k], splat(-8)));
        Lanes code = codeAtPosition(kBeyond[k] == 0 ? near : select(overshoot, beyond, near));
        Lanes sample = clamp16Lanes(predictor + imaDifferenceLanes(step, code));
        Lanes nextIndex = imaNextIndexLanes(index, code);
        UnsignedLanes miss = asUnsigned(sample - x);
        UnsignedLanes square = miss * miss;  // at most 65535 squared
        LaneMask offers = reinterpret_cast<Lanes>(square < room);
        for (size_t earlier = 0; earlier < k; ++earlier) offers &= tried[earlier] != code;
        if (k == 0) nearestIndex = nextIndex;
        if (kBeyond[k] != 0) offers &= overshoot | (nextIndex != nearestIndex);
        tried[k] = code;
        offered |= offers & (1 << k);
        std::memcpy(childSample[k], &sample, sizeof sample);
        std::memcpy(childIndex[k], &nextIndex, sizeof nextIndex);
        std::memcpy(childSquare[k], &square, sizeof square);
        std::memcpy(childCode[k], &code, sizeof code);
      }
      for (size_t lane = 0; lane < kLaneCount; ++lane) {
        size_t slot = kLaneCount * v + lane;
        for (uint32_t codes = static_cast<uint32_t>(offered[lane]); codes != 0; codes &= codes - 1) {
          size_t k = static_cast<size_t>(std::countr_zero(codes));
          size_t to = static_cast<size_t>(childIndex[k][lane]) * kPathsPerIndex;
          offerPath(*next, links, to, childSample[k][lane], paths->error[slot] + childSquare[k][lane],
                    static_cast<uint16_t>(slot << 4 | static_cast<size_t>(childCode[k][lane] & 15)), bound);
          nextLow = std::min(nextLow, to);
          nextHigh = std::max(nextHigh, to + kPathsPerIndex);
        }
      }
    }
    dirtyLow = low;
    dirtyHigh = high;
    low = nextLow / kLaneCount;
    high = std::max(low, (nextHigh + kLaneCount - 1) / kLaneCount);
    std::swap(paths, next);
  }
  size_t best = 0;
  for (size_t slot = 1; slot < kSlots; ++slot) {
    if (paths->error[slot] < paths->error[best]) best = slot;
  }
  end.found = paths->error[best] < bound;
  if (!end.found) return;
  end.end = static_cast<int32_t>(best / kPathsPerIndex);
  size_t slot = best;
  for (size_t t = count; t-- > 0;) {
    uint32_t link = trace.links[t][slot];
    codes[t] = static_cast<int8_t>(link & 15);
    slot = link >> 4;
  }
  end.start = static_cast<int32_t>(slot / kPathsPerIndex);
}

// The block's error after decoding.
uint64_t decodedError(std::span<const uint8_t> block, std::span<const int16_t> input) {
  std::array<int16_t, kMaxSamples> decoded;
  qx_ima_decode_block(block.data(), block.size(), decoded.data(), input.size());
  return squaredError(std::span<const int16_t>(decoded.data(), input.size()), input);
}

// The error of the written encoder's block from each start index, over
// the whole block, to greedy[0..starts.size()). The trials run side by side
// in stretches of samples. Trials that reach one state go on alike: once
// they hold no more states than a vector has lanes, each of those states
// finishes the block once, and each start adds the finish of the state it
// reached.
void judgeStarts(std::span<const int16_t> input, std::span<const int32_t> starts, uint64_t* greedy) {
  constexpr size_t kStretch = 32;
  std::array<ImaStartTrials, (QX_IMA_MAX_INDEX + kLaneCount) / kLaneCount> trials;
  const size_t groups = (starts.size() + kLaneCount - 1) / kLaneCount;
  for (size_t group = 0; group < groups; ++group) {
    for (size_t lane = 0; lane < kLaneCount; ++lane) {
      trials[group].predictor[lane] = input[0];
      trials[group].stepIndex[lane] = starts[std::min(group * kLaneCount + lane, starts.size() - 1)];
      trials[group].error[lane] = 0;
    }
  }
  for (size_t tried = 1; tried < input.size();) {
    std::span<const int16_t> stretch = input.subspan(tried, std::min(kStretch, input.size() - tried));
    for (size_t group = 0; group < groups; ++group) imaRunStartTrials(stretch, trials[group]);
    tried += stretch.size();
    // The states the trials hold, one lane of `finishes` each, while they fit.
    ImaStartTrials finishes;
    std::array<size_t, QX_IMA_MAX_INDEX + 1> finishOf;
    size_t states = 0;
    for (size_t k = 0; k < starts.size() && states <= kLaneCount; ++k) {
      int32_t predictor = trials[k / kLaneCount].predictor[k % kLaneCount];
      int32_t stepIndex = trials[k / kLaneCount].stepIndex[k % kLaneCount];
      size_t f = 0;
      while (f < states && (finishes.predictor[f] != predictor || finishes.stepIndex[f] != stepIndex)) ++f;
      if (f == states && states++ < kLaneCount) {
        finishes.predictor[f] = predictor;
        finishes.stepIndex[f] = stepIndex;
      }
      finishOf[k] = f;
    }
    if (states > kLaneCount) continue;
    for (size_t f = 0; f < kLaneCount; ++f) {
      finishes.predictor[f] = finishes.predictor[f < states ? f : 0];
      finishes.stepIndex[f] = finishes.stepIndex[f < states ? f : 0];
      finishes.error[f] = 0;
    }
    imaRunStartTrials(input.subspan(tried), finishes);
    for (size_t k = 0; k < starts.size(); ++k) {
      greedy[k] = trials[k / kLaneCount].error[k % kLaneCount] + finishes.error[finishOf[k]];
    }
    return;
  }
  for (size_t k = 0; k < starts.size(); ++k) greedy[k] = trials[k / kLaneCount].error[k % kLaneCount];
}

// The limits of the step-index search from the best block found, whose
// decoding has `error` in all. A path may fall behind that block's error
// after a sample by three eighths of what the block's samples still to
// come add: the paths the search exists for, which keep a large step for a
// loud onset ahead, pay it before the onset and win it back there, where
// the block's error is large; a path that must win back more against a
// block that fits the rest well seldom does, and dropping it early saves
// most of the search's time.
void indexSearchLimits(const int16_t* decoded, std::span<const int16_t> input, uint64_t error, uint64_t* limits) {
  uint64_t sofar = 0;
  for (size_t t = 1; t < input.size(); ++t) {
    int64_t miss = int64_t{decoded[t]} - input[t];
    sofar += static_cast<uint64_t>(miss * miss);
    limits[t - 1] = sofar + (error - sofar) / 8 * 3;
  }
}

// Whether the block's decoding falls behind its input somewhere by two and
// a half steps or more, well beyond the reach of its largest level (15/8
// of the step). Only there can a path that keeps a larger step win much,
// and the step-index search exists for such paths: elsewhere the beam's
// block stands, which saves most of the search's time.
bool outrunsStep(std::span<const uint8_t> block, const int16_t* decoded, std::span<const int16_t> input) {
  int32_t index = block[2];
  for (size_t t = 1; t < input.size(); ++t) {
    if (2 * std::abs(input[t] - decoded[t - 1]) >= 5 * qx_ima_step_table[index]) return true;
    uint32_t code = block[kImaHeaderBytes + (t - 1) / 2] >> ((t - 1) % 2 == 0 ? 0 : 4) & 15u;
    index = qx_ima_next_index(index, code);
  }
  return false;
}

}  // namespace

void imaSearchBlock(std::span<const int16_t> input, size_t count, std::span<uint8_t> block, ImaState& state,
                    int8_t& writtenIndex, HeapBlock& work) {
  // A block is judged on its real samples alone, and the searches run over
  // them; the silence that completes the last block is coded as the written
  // encoder codes it from where the found path ends.
  std::span<const int16_t> real = input.first(count);
  // The written encoder's block from the index the stream has reached.
  ImaState written = state;
  imaEncodeBlock(input, block, written);
  uint64_t chosenError = decodedError(block, real);
  int8_t chosenEnd = written.stepIndex;
  std::array<uint8_t, kMaxBlockBytes> found{};
  std::span<const uint8_t> foundBlock(found.data(), block.size());
  auto keepIfBetter = [&](int8_t end) {
    uint64_t error = decodedError(foundBlock, real);
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
  // Every start judged by the written encoder's block from it; the beam
  // starts from the best of them.
  std::array<uint64_t, QX_IMA_MAX_INDEX + 1> greedy;
  judgeStarts(real, std::span<const int32_t>(indices.data(), indexCount), greedy.data());
  std::array<size_t, QX_IMA_MAX_INDEX + 1> order;
  for (size_t k = 0; k < indexCount; ++k) order[k] = k;
  std::stable_sort(order.begin(), order.begin() + static_cast<ptrdiff_t>(indexCount),
                   [&](size_t x, size_t y) { return greedy[x] < greedy[y]; });
  std::array<int32_t, QX_IMA_MAX_INDEX + 1> starts;
  for (size_t k = 0; k < indexCount; ++k) starts[k] = indices[order[k]];
  uint64_t greedyError = greedy[order[0]];
  // A path a search found, from its start index to its end index.
  std::array<int8_t, kMaxSamples> codes;
  auto keepPathIfBetter = [&](int32_t startIndex, int32_t endIndex) {
    ImaState header{input[0], static_cast<int8_t>(startIndex), 0};
    imaStoreHeader(found.data(), header);
    packCodes(codes.data(), real.size() - 1, found.data() + kImaHeaderBytes, false);
    if (real.size() < input.size()) {
      std::array<int16_t, kMaxSamples> decoded;
      qx_ima_decode_block(found.data(), found.size(), decoded.data(), real.size());
      ImaState silence{decoded[real.size() - 1], static_cast<int8_t>(endIndex), 0};
      std::array<uint8_t, kMaxBlockBytes> silenceCodes;
      imaEncode(input.subspan(real.size()), silenceCodes, silence);
      for (size_t i = 0; i < input.size() - real.size(); ++i) {
        codes[real.size() - 1 + i] = static_cast<int8_t>(silenceCodes[i / 2] >> (i % 2 == 0 ? 0 : 4) & 15);
      }
      packCodes(codes.data(), input.size() - 1, found.data() + kImaHeaderBytes, false);
      endIndex = silence.stepIndex;
    }
    keepIfBetter(static_cast<int8_t>(endIndex));
  };
  auto search = [&](const int32_t* starts, size_t count) {
    BeamStart start{input[0], 0, starts, count};
    BeamEnd end;
    runImaBeam(real.data() + 1, real.size() - 1, start, beamTraceIn<kWidth>(work), codes.data(), end);
    keepPathIfBetter(starts[end.start], end.adapt);
    return starts[end.start];
  };
  // The beam from the best starts prefers what fits the first samples:
  // where a loud sound follows a quiet start, the best start's written
  // block can beat it, and then that start gets a beam of its own.
  if (search(starts.data(), std::min(indexCount, kWidth)) != starts[0] && greedyError < chosenError) {
    search(starts.data(), 1);
  }
  std::array<int16_t, kMaxSamples> decoded;
  qx_ima_decode_block(block.data(), block.size(), decoded.data(), real.size());
  if (!outrunsStep(block, decoded.data(), real)) {
    state.stepIndex = chosenEnd;
    return;
  }
  std::array<uint64_t, kMaxSamples> limits;
  indexSearchLimits(decoded.data(), real, chosenError, limits.data());
  IndexSearchEnd end;
  runImaIndexSearch(real.data() + 1, real.size() - 1, input[0], chosenError, limits.data(),
                    beamTraceIn<kSlots>(work), codes.data(), end);
  if (end.found) keepPathIfBetter(end.start, end.end);
  state.stepIndex = chosenEnd;
}
