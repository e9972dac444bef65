// The beam search behind the -q encoders. A path through a block is one code
// per sample; the beam keeps the Width paths (survivors) whose decoded
// samples have the least squared error so far, and offers each survivor two
// codes for the next sample: the code whose level lies nearest the input and
// the neighbouring level on the input's other side. Paths that reach the
// same codec state are merged, since their futures are the same: only the
// better one survives. A format may merge states that differ too little to
// matter, so that the width holds paths that differ. Every decision is
// integer arithmetic, so the result is the same on every machine and in
// every clone of the lane kernels.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <utility>

#include "codecs/lane_vectors.h"
#include "codecs/orbel_quantiser.h"
#include "riff/heap_block.h"

// The longest block, an IMA block of 1024 bytes, holds 2041 samples.
inline constexpr size_t kBeamMaxSamples = 2048;

// Where each survivor of each sample came from: its parent survivor and its
// code, so the best path can be read back from its end.
template <size_t Width>
struct BeamTrace {
  uint16_t links[kBeamMaxSamples][Width];  // parent << 4 | code & 15
};

// The widest trace: the IMA search's paths by step index, three for each
// of its 89 indices in whole vectors of lanes, outnumber the widest beam.
inline constexpr size_t kBeamWidestTrace = sizeof(BeamTrace<272>);

// A job allocates the trace once, as heap work space of kBeamWidestTrace
// bytes, and every beam of the job reuses it.
template <size_t Width>
BeamTrace<Width>& beamTraceIn(HeapBlock& work) {
  static_assert(sizeof(BeamTrace<Width>) <= kBeamWidestTrace);
  return *reinterpret_cast<BeamTrace<Width>*>(work.data());
}

// The sum of squared differences: how the search judges a whole block.
inline uint64_t squaredError(std::span<const int16_t> decoded, std::span<const int16_t> input) {
  uint64_t sum = 0;
  for (size_t i = 0; i < decoded.size(); ++i) {
    int64_t miss = int64_t{decoded[i]} - input[i];
    sum += static_cast<uint64_t>(miss * miss);
  }
  return sum;
}

// Packs 4-bit codes two to a byte, the first of each pair in the high
// nibble or (IMA) in the low one; an odd last code leaves the other nibble 0.
inline void packCodes(const int8_t* codes, size_t count, uint8_t* out, bool firstHigh) {
  int first = firstHigh ? 4 : 0;
  for (size_t i = 0; i < count; ++i) {
    uint32_t nibble = static_cast<uint32_t>(codes[i]) & 15;
    if (i % 2 == 0) out[i / 2] = static_cast<uint8_t>(nibble << first);
    else out[i / 2] = static_cast<uint8_t>(out[i / 2] | nibble << (4 - first));
  }
}

// A block header to try: a coefficient set and a starting step or step
// index, with the error of a greedy trial from it.
struct HeaderCandidate {
  uint32_t error;  // the written encoder's measure
  int32_t set;
  int32_t start;
};

// Tries the candidates eight at a time, each in a lane of a format's trial
// kernel: `first` is the trial record's starting step or index, and
// run(trials) runs the kernel.
template <typename Trials, size_t N, typename Run>
void judgeCandidates(std::array<HeaderCandidate, N>& candidates, int32_t (Trials::*first)[kLaneCount], Run run) {
  for (size_t begin = 0; begin < N; begin += kLaneCount) {
    Trials trials;
    for (size_t lane = 0; lane < kLaneCount; ++lane) {
      const HeaderCandidate& candidate = candidates[begin + lane < N ? begin + lane : N - 1];
      trials.set[lane] = candidate.set;
      (trials.*first)[lane] = candidate.start;
    }
    run(trials);
    for (size_t lane = 0; lane < kLaneCount && begin + lane < N; ++lane) candidates[begin + lane].error = trials.errorTotal[lane];
  }
}

// The paths a beam starts from: one state each, differing only in the step
// or step index (`adapt`), which a block header chooses.
struct BeamStart {
  int32_t sample1;  // the last sample before the block's first code
  int32_t sample2;  // the one before (ignored by first-order formats)
  const int32_t* adapt;
  size_t count;  // 1 to Width, all different
};

// The best path's start and final state; its codes go to the caller's array.
struct BeamEnd {
  size_t start;
  int32_t sample1;
  int32_t sample2;
  int32_t adapt;
};

// What a format's rules give for one offspring of a survivor: the code, the
// decoded sample and the step or step index that follows.
struct BeamChild {
  Lanes code;
  Lanes sample;
  Lanes adapt;
};

// The rules of the formats whose level is step times a code of -8 to 7
// after a second-order prediction (Orbel ADPCM, N64, Microsoft ADPCM). A
// survivor offers the code nearest the difference and its neighbour on the
// difference's other side. Steps provides step(adapt), the step of a step
// or step index, and next(adapt, code, over), the one that follows a code,
// marking in `over` the lanes where it leaves what the format's streams may
// reach: such a code gives way to the next smaller one toward the same
// side, until none does (codes of magnitude 3 and less always shrink the
// step).
template <typename Steps>
struct ScaledBeamRules {
  static constexpr bool kSecondOrder = true;
  [[gnu::always_inline]] static Lanes mergeKey(Lanes state, Lanes) { return state; }
  Lanes c1;  // the prediction's weights, in 1/256: c1 for the newer sample
  Lanes c2;

  [[gnu::always_inline]] void offspring(Lanes s1, Lanes s2, Lanes adapt, Lanes x, BeamChild& near,
                                        BeamChild& far) const {
    Lanes prediction = predictLanes(c1, c2, s1, s2);
    Lanes step = Steps::step(adapt);
    Lanes difference = x - prediction;
    Lanes nearest = orbelNearestCodeLanes(difference, step);
    Lanes neighbour = laneClamp(nearest + select(difference >= step * nearest, splat(1), splat(-1)), -8, 7);
    for (auto [child, code] : {std::pair{&near, nearest}, std::pair{&far, neighbour}}) {
      LaneMask over;
      Lanes next = Steps::next(adapt, code, over);
      for (int smaller = 0; smaller < 5 && laneAny(over); ++smaller) {
        code -= select(code < 0, splat(-1), splat(1)) & over;
        next = Steps::next(adapt, code, over);
      }
      child->code = code;
      child->sample = clamp16Lanes(prediction + step * code);
      child->adapt = next;
    }
  }
};

namespace beam_detail {

// Lane l takes lane l ^ J.
template <int J>
[[gnu::always_inline]] inline Lanes swapLanes(Lanes v) {
  if constexpr (J == 1) return __builtin_shufflevector(v, v, 1, 0, 3, 2, 5, 4, 7, 6);
  else if constexpr (J == 2) return __builtin_shufflevector(v, v, 2, 3, 0, 1, 6, 7, 4, 5);
  else return __builtin_shufflevector(v, v, 4, 5, 6, 7, 0, 1, 2, 3);
}

// Whether lane l of vector a keeps the smaller of itself and its partner
// J places away (J < 8, in the same vector), in a stage of a bitonic sort
// whose runs of K alternate in direction.
constexpr bool keepsMin(int a, int l, int J, int K, bool descending) {
  bool lower = (l & J) == 0;
  bool ascending = (((8 * a + l) & K) == 0) != descending;
  return lower == ascending;
}

// One compare-exchange stage within vector A: every lane meets lane l ^ J.
// The lanes are picked from the minima and maxima by a constant blend.
template <int K, int J, bool D, size_t A>
[[gnu::always_inline]] inline Lanes exchangeInVector(Lanes v) {
  Lanes other = swapLanes<J>(v);
  Lanes low = laneMin(v, other);
  Lanes high = laneMax(v, other);
  constexpr int a = static_cast<int>(A);
  return __builtin_shufflevector(low, high, keepsMin(a, 0, J, K, D) ? 0 : 8, keepsMin(a, 1, J, K, D) ? 1 : 9,
                                 keepsMin(a, 2, J, K, D) ? 2 : 10, keepsMin(a, 3, J, K, D) ? 3 : 11,
                                 keepsMin(a, 4, J, K, D) ? 4 : 12, keepsMin(a, 5, J, K, D) ? 5 : 13,
                                 keepsMin(a, 6, J, K, D) ? 6 : 14, keepsMin(a, 7, J, K, D) ? 7 : 15);
}

// One compare-exchange stage between vectors A and A + J / 8 (J >= 8).
template <int K, int J, bool D, size_t A, size_t V>
[[gnu::always_inline]] inline void exchangeAcross(Lanes (&v)[V]) {
  constexpr size_t kApart = J / 8;
  if constexpr ((A & kApart) == 0) {
    constexpr bool kAscending = ((A * 8 & K) == 0) != D;
    Lanes low = laneMin(v[A], v[A + kApart]);
    Lanes high = laneMax(v[A], v[A + kApart]);
    v[A] = kAscending ? low : high;
    v[A + kApart] = kAscending ? high : low;
  }
}

// One stage of a bitonic sort of the 8V keys in v: every key meets the key
// J positions away, in runs of K sorted alternately.
template <int K, int J, bool D, size_t V, size_t... A>
[[gnu::always_inline]] inline void bitonicStage(Lanes (&v)[V], std::index_sequence<A...>) {
  if constexpr (J >= 8) (exchangeAcross<K, J, D, A>(v), ...);
  else ((v[A] = exchangeInVector<K, J, D, A>(v[A])), ...);
}

template <int K, int J, bool D, size_t V>
[[gnu::always_inline]] inline void bitonicStage(Lanes (&v)[V]) {
  bitonicStage<K, J, D>(v, std::make_index_sequence<V>());
}

template <int K, bool Descending, size_t V>
[[gnu::always_inline]] inline void bitonicMergeStages(Lanes (&v)[V]) {
  if constexpr (K >= 256) bitonicStage<K, 128, Descending>(v);
  if constexpr (K >= 128) bitonicStage<K, 64, Descending>(v);
  if constexpr (K >= 64) bitonicStage<K, 32, Descending>(v);
  if constexpr (K >= 32) bitonicStage<K, 16, Descending>(v);
  if constexpr (K >= 16) bitonicStage<K, 8, Descending>(v);
  if constexpr (K >= 8) bitonicStage<K, 4, Descending>(v);
  if constexpr (K >= 4) bitonicStage<K, 2, Descending>(v);
  bitonicStage<K, 1, Descending>(v);
}

// Sorts the 8V distinct keys of v (V = 2 to 32), ascending or descending.
template <bool Descending, size_t V>
[[gnu::always_inline]] inline void bitonicSort(Lanes (&v)[V]) {
  bitonicMergeStages<2, Descending>(v);
  bitonicMergeStages<4, Descending>(v);
  bitonicMergeStages<8, Descending>(v);
  bitonicMergeStages<16, Descending>(v);
  if constexpr (V >= 4) bitonicMergeStages<32, Descending>(v);
  if constexpr (V >= 8) bitonicMergeStages<64, Descending>(v);
  if constexpr (V >= 16) bitonicMergeStages<128, Descending>(v);
  if constexpr (V >= 32) bitonicMergeStages<256, Descending>(v);
}

inline constexpr Lanes kLaneNumbers = {0, 1, 2, 3, 4, 5, 6, 7};

// The error of a child whose parent has error e, its square scaled down
// by `shift` and capped; a child of no path stays no path.
template <int32_t kCap, int32_t kEmpty>
[[gnu::always_inline]] inline Lanes childError(Lanes e, Lanes sample, Lanes x, uint32_t shift) {
  UnsignedLanes miss = asUnsigned(sample - x);
  UnsignedLanes square = miss * miss >> shift;  // exact before the shift: the miss is at most 65535
  Lanes capped = select(square > static_cast<uint32_t>(kCap), splat(kCap), reinterpret_cast<Lanes>(square));
  return select(e == kEmpty, splat(kEmpty), laneMin(e + capped, splat(kCap)));
}

// Where a state's entry in the table of states seen starts.
template <uint32_t kBits>
[[gnu::always_inline]] inline UnsignedLanes seenSlot(Lanes state, Lanes adapt) {
  return (asUnsigned(state) * 0x9E3779B1u + asUnsigned(adapt) * 0x85EBCA77u) >> (32 - kBits);
}

}  // namespace beam_detail

// Runs the beam over input[0..count) (1 to kBeamMaxSamples samples). Rules
// provide `kSecondOrder` (whether the state holds two samples),
// offspring(sample1, sample2, adapt, input, near, far), which fills the two
// children of a vector of survivors by the format's own rules (a far child
// whose code equals the near one is dropped), and mergeKey(state, adapt),
// the part of a state that, with the adapt, decides which paths merge.
// Writes the best path's codes to codes[0..count).
template <size_t Width, typename Rules>
[[gnu::always_inline]] inline void runBeam(const Rules& rules, const int16_t* input, size_t count,
                                           const BeamStart& start, BeamTrace<Width>& trace, int8_t* codes,
                                           BeamEnd& end) {
  using namespace beam_detail;
  static_assert(Width == 16 || Width == 32 || Width == 64 || Width == 128 || Width == 256);
  constexpr size_t kVectors = Width / kLaneCount;
  // A sort key is the path's error above the best survivor's, capped, over
  // the candidate's number: near children 0 to Width - 1, far ones after.
  constexpr uint32_t kNumberBits = std::bit_width(2 * Width - 1);
  constexpr int32_t kNumberMask = (1 << kNumberBits) - 1;
  constexpr int32_t kEmpty = (1 << (31 - kNumberBits)) - 1;  // the error of no path
  constexpr int32_t kCap = kEmpty - 1;
  // The table of states seen is kept at most one eighth full, so that a
  // probe rarely meets another state.
  constexpr uint32_t kSeenBits = std::bit_width(Width) + 3;
  constexpr uint32_t kSeenMask = (1u << kSeenBits) - 1;
  // A miss is at most twice the block's peak, plus a little: its square is
  // scaled down in loud blocks until it fits under the cap, so that the
  // paths of a loud onset stay apart; quiet blocks are judged exactly.
  int32_t peak = std::max(std::abs(start.sample1), std::abs(start.sample2));
  for (size_t t = 0; t < count; ++t) peak = std::max(peak, std::abs(int32_t{input[t]}));
  constexpr int32_t kCapBits = 31 - static_cast<int32_t>(kNumberBits);
  const uint32_t shift = static_cast<uint32_t>(std::max(0, 2 * static_cast<int32_t>(std::bit_width(static_cast<uint32_t>(peak))) + 2 - kCapBits));

  Lanes sample1[kVectors];
  Lanes sample2[kVectors];
  Lanes adapt[kVectors];
  Lanes error[kVectors];
  alignas(32) int32_t startAdapt[Width];
  std::fill_n(startAdapt, Width, start.adapt[0]);
  std::copy_n(start.adapt, start.count, startAdapt);
  for (size_t v = 0; v < kVectors; ++v) {
    sample1[v] = splat(start.sample1);
    sample2[v] = splat(start.sample2);
    std::memcpy(&adapt[v], startAdapt + 8 * v, sizeof adapt[v]);
    Lanes numbers = kLaneNumbers + static_cast<int32_t>(8 * v);
    error[v] = select(numbers < static_cast<int32_t>(start.count), splat(0), splat(kEmpty));
  }
  // The states kept for a sample: an entry counts only for the sample whose
  // mark it holds.
  struct SeenState {
    uint64_t state;  // the state's merge key, with the step or index above it
    uint32_t mark;
  };
  SeenState seen[1 << kSeenBits] = {};
  // The survivors chosen for the next sample, best first.
  alignas(32) int32_t keptKey[Width] = {};
  alignas(32) int32_t keptState[Width] = {};
  alignas(32) int32_t keptAdapt[Width] = {};
  alignas(32) int32_t keptLink[Width] = {};
  for (size_t t = 0; t < count; ++t) {
    Lanes x = splat(input[t]);
    // Both children of every survivor, by candidate number. A state is the
    // new sample, with the parent's for second-order formats.
    alignas(32) int32_t childState[2 * Width];
    alignas(32) int32_t childAdapt[2 * Width];
    alignas(32) int32_t childLink[2 * Width];
    alignas(32) uint32_t childSlot[2 * Width];
    alignas(32) int32_t childMergeKey[2 * Width];
    Lanes chosen[kVectors];
    Lanes farKeys[kVectors];
    for (size_t v = 0; v < kVectors; ++v) {
      BeamChild near;
      BeamChild far;
      rules.offspring(sample1[v], sample2[v], adapt[v], x, near, far);
      Lanes numbers = kLaneNumbers + static_cast<int32_t>(8 * v);
      chosen[v] = childError<kCap, kEmpty>(error[v], near.sample, x, shift) << kNumberBits | numbers;
      Lanes farError = childError<kCap, kEmpty>(error[v], far.sample, x, shift);
      farKeys[v] = select(far.code == near.code, splat(kEmpty), farError) << kNumberBits |
                   (numbers + static_cast<int32_t>(Width));
      Lanes parentPart = sample1[v] & 0xFFFF;
      Lanes nearState = Rules::kSecondOrder ? near.sample << 16 | parentPart : near.sample;
      Lanes farState = Rules::kSecondOrder ? far.sample << 16 | parentPart : far.sample;
      Lanes nearLink = numbers << 4 | (near.code & 15);
      Lanes farLink = numbers << 4 | (far.code & 15);
      std::memcpy(childState + 8 * v, &nearState, sizeof nearState);
      std::memcpy(childState + Width + 8 * v, &farState, sizeof farState);
      std::memcpy(childAdapt + 8 * v, &near.adapt, sizeof near.adapt);
      std::memcpy(childAdapt + Width + 8 * v, &far.adapt, sizeof far.adapt);
      std::memcpy(childLink + 8 * v, &nearLink, sizeof nearLink);
      std::memcpy(childLink + Width + 8 * v, &farLink, sizeof farLink);
      Lanes nearKey = Rules::mergeKey(nearState, near.adapt);
      Lanes farKey = Rules::mergeKey(farState, far.adapt);
      std::memcpy(childMergeKey + 8 * v, &nearKey, sizeof nearKey);
      std::memcpy(childMergeKey + Width + 8 * v, &farKey, sizeof farKey);
      UnsignedLanes nearSlot = seenSlot<kSeenBits>(nearKey, near.adapt);
      UnsignedLanes farSlot = seenSlot<kSeenBits>(farKey, far.adapt);
      std::memcpy(childSlot + 8 * v, &nearSlot, sizeof nearSlot);
      std::memcpy(childSlot + Width + 8 * v, &farSlot, sizeof farSlot);
    }
    // The Width smallest keys, in order: one half sorted up, the other
    // down, the smaller of each pair, and that bitonic run merged.
    bitonicSort<false>(chosen);
    bitonicSort<true>(farKeys);
    for (size_t v = 0; v < kVectors; ++v) chosen[v] = laneMin(chosen[v], farKeys[v]);
    bitonicMergeStages<static_cast<int>(Width), false>(chosen);
    alignas(32) int32_t sorted[Width];
    std::memcpy(sorted, chosen, sizeof sorted);
    // The keys come in order, so the first path to reach a state (by its
    // merge key) is its best, and a later one is merged into it: dropped.
    size_t kept = 0;
    const uint32_t mark = static_cast<uint32_t>(t + 1);
    for (size_t j = 0; j < Width; ++j) {
      int32_t key = sorted[j];
      if ((key >> kNumberBits) == kEmpty) break;
      size_t c = static_cast<size_t>(key & kNumberMask);
      int32_t state = childState[c];
      int32_t nextAdapt = childAdapt[c];
      uint64_t whole = static_cast<uint32_t>(childMergeKey[c]) | uint64_t{static_cast<uint32_t>(nextAdapt)} << 32;
      uint32_t h = childSlot[c];
      // Another state in the entry sends the probe on; one test decides
      // the common cases, a new state or the same one.
      if ((seen[h].mark == mark) & (seen[h].state != whole)) {
        do h = (h + 1) & kSeenMask;
        while ((seen[h].mark == mark) & (seen[h].state != whole));
      }
      bool merged = seen[h].mark == mark;
      seen[h] = {whole, mark};
      keptKey[kept] = key;
      keptState[kept] = state;
      keptAdapt[kept] = nextAdapt;
      keptLink[kept] = childLink[c];
      kept += merged ? 0 : 1;
    }
    // The next survivors, with their errors relative to the best; the slots
    // left over hold no path.
    Lanes bestError = splat(keptKey[0] >> kNumberBits);
    Lanes bestState = splat(keptState[0]);
    Lanes bestAdapt = splat(keptAdapt[0]);
    for (size_t v = 0; v < kVectors; ++v) {
      Lanes key;
      Lanes state;
      Lanes nextAdapt;
      Lanes link;
      std::memcpy(&key, keptKey + 8 * v, sizeof key);
      std::memcpy(&state, keptState + 8 * v, sizeof state);
      std::memcpy(&nextAdapt, keptAdapt + 8 * v, sizeof nextAdapt);
      std::memcpy(&link, keptLink + 8 * v, sizeof link);
      LaneMask valid = kLaneNumbers + static_cast<int32_t>(8 * v) < static_cast<int32_t>(kept);
      state = select(valid, state, bestState);
      sample1[v] = Rules::kSecondOrder ? state >> 16 : state;
      sample2[v] = Rules::kSecondOrder ? state << 16 >> 16 : state;
      adapt[v] = select(valid, nextAdapt, bestAdapt);
      error[v] = select(valid, (key >> kNumberBits) - bestError, splat(kEmpty));
      auto narrow = __builtin_convertvector(link, uint16_t __attribute__((vector_size(16))));
      std::memcpy(&trace.links[t][8 * v], &narrow, sizeof narrow);
    }
  }
  end.sample1 = sample1[0][0];
  end.sample2 = sample2[0][0];
  end.adapt = adapt[0][0];
  size_t n = 0;
  for (size_t t = count; t-- > 0;) {
    uint32_t link = trace.links[t][n];
    codes[t] = static_cast<int8_t>(static_cast<int32_t>((link & 15) ^ 8) - 8);
    n = link >> 4;
  }
  end.start = n;
}
