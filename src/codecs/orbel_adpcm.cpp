#include "codecs/orbel_adpcm.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "app/error_state.h"
#include "codecs/codec_record.h"
#include "codecs/block_codec_job.h"
#include "codecs/orbel_quantiser.h"
#include "riff/byte_order.h"

namespace {

constexpr BlockCodec kCodec = {kFormatOrbelAdpcm, "Olbek's Adpcm", kOrbelHeaderBytes, 0, kBlockFormatSize, 2};

struct CoefficientPair {
  int32_t a;  // times the most recent sample, in 1/256
  int32_t b;  // times the one before
};

constexpr std::array<CoefficientPair, 8> kCoefficients = {{
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}, {0, 0},
}};

constexpr std::array<int32_t, 16> kAdaptation = {230, 230, 230, 230, 307, 409, 512, 614,
                                                 768, 614, 512, 409, 307, 230, 230, 230};

constexpr int32_t kStepFloor = 8;
// Damaged blocks can make the step grow on every code; this ceiling keeps the
// arithmetic defined. This encoder's steps stay below 65536, so it never
// reaches it and both ends stay in step.
constexpr int32_t kStepCeiling = 1 << 20;

int32_t predict(const CoefficientPair& pair, const AdpcmHistory& history) {
  return (pair.a * history.sample1 + pair.b * history.sample2) >> 8;
}

int32_t adaptStep(int32_t step, int32_t code) {
  step = (step * kAdaptation[static_cast<uint32_t>(code) & 15]) >> 8;
  return std::clamp(step, kStepFloor, kStepCeiling);
}

void advance(AdpcmHistory& history, int32_t sample) {
  history.sample2 = history.sample1;
  history.sample1 = static_cast<int16_t>(sample);
}

int32_t codeAt(std::span<const uint8_t> block, size_t i) {
  uint32_t byte = block[kOrbelHeaderBytes + i / 2];
  uint32_t nibble = i % 2 == 0 ? byte >> 4 : byte & 15;
  return static_cast<int32_t>(nibble ^ 8) - 8;
}

void storeCode(std::span<uint8_t> block, size_t i, int32_t code) {
  uint8_t nibble = static_cast<uint8_t>(code & 15);
  uint8_t& byte = block[kOrbelHeaderBytes + i / 2];
  if (i % 2 == 0) byte = static_cast<uint8_t>(nibble << 4);
  else byte = static_cast<uint8_t>(byte | nibble);
}

}  // namespace

void orbelDecodeBlock(std::span<const uint8_t> block, std::span<int16_t> samples, AdpcmHistory& history) {
  uint32_t header = loadLE16(block.data());
  const CoefficientPair& pair = kCoefficients[header & 7];
  int32_t step = static_cast<int32_t>(header & 0xFFF8);
  for (size_t i = 0; i < samples.size(); ++i) {
    int32_t code = codeAt(block, i);
    int32_t value = clampSample16(step * code + predict(pair, history));
    samples[i] = static_cast<int16_t>(value);
    step = adaptStep(step, code);
    advance(history, value);
  }
}

int32_t orbelEstimateStep(int32_t a, int32_t b, std::span<const int16_t> x) {
  int32_t sum = 0;
  for (size_t k = 2; k < 5; ++k) {
    int32_t error = x[k] - ((a * x[k - 1] + b * x[k - 2]) >> 8);
    sum += error < 0 ? -error : error;
  }
  return std::max(sum / 12, kStepFloor);
}

uint32_t orbelEncodeTrial(std::span<const int16_t> input, size_t count, int set, std::span<uint8_t> block,
                          AdpcmHistory& history) {
  const CoefficientPair& pair = kCoefficients[static_cast<size_t>(set)];
  int32_t step = (orbelEstimateStep(pair.a, pair.b, input) + 4) & ~7;
  storeLE16(block.data(), static_cast<uint32_t>(step | set));
  uint32_t errorTotal = 0;
  for (size_t i = 0; i < count; ++i) {
    int32_t prediction = predict(pair, history);
    int32_t code = orbelQuantise(input[i] - prediction, step);
    int32_t reconstructed = clampSample16(prediction + step * code);
    step = adaptStep(step, code);
    advance(history, reconstructed);
    errorTotal += orbelSampleError(reconstructed, input[i]);
    storeCode(block, i, code);
  }
  return errorTotal;
}

void orbelEncodeBlock(std::span<const int16_t> input, std::span<uint8_t> block, size_t count,
                      AdpcmHistory& history) {
  // Two trial buffers: each trial goes into the one not holding the best so
  // far, and a winner just swaps roles, so no trial is ever copied.
  uint8_t buffers[2][kOrbelMaxBlockBytes];
  AdpcmHistory endings[2];
  size_t best = 0;
  uint32_t bestError = 0;
  for (int set = 0; set < kOrbelEncoderSets; ++set) {
    size_t work = set == 0 ? best : 1 - best;
    endings[work] = history;
    uint32_t error = orbelEncodeTrial(input, count, set, buffers[work], endings[work]);
    if (set == 0 || error < bestError) {
      best = work;
      bestError = error;
    }
  }
  std::memcpy(block.data(), buffers[best], orbelCodedBytes(count));
  history = endings[best];
}

int32_t compressOrbelAdpcm(WaveFile& wave) {
  WaveFile fresh;
  BlockPlan plan;
  int32_t result = startBlockCompression(wave, kCodec, chosenBlockBytes(kOrbelDefaultBlockBytes), fresh, plan);
  if (result != 0) return result;
  std::span<const int16_t> input = pcmSamples(wave.data, plan.sampleCount);
  std::span<uint8_t> output = fresh.data.bytes();
  AdpcmHistory history;
  for (size_t k = 0; k < plan.blockCount; ++k) {
    std::span<const int16_t> samples = input.subspan(k * plan.samplesPerBlock);
    std::span<uint8_t> block = output.subspan(k * plan.blockBytes, plan.blockBytes);
    if (samples.size() >= plan.samplesPerBlock) {
      orbelEncodeBlock(samples.first(plan.samplesPerBlock), block, plan.samplesPerBlock, history);
    } else {
      // The short last block: its estimate sees zeros after the last sample.
      std::array<int16_t, orbelSamplesPerBlock(kOrbelMaxBlockBytes)> scratch{};
      std::copy(samples.begin(), samples.end(), scratch.begin());
      orbelEncodeBlock(scratch, block, samples.size(), history);
    }
  }
  installRecord(wave, fresh);
  return 0;
}

int32_t decompressOrbelAdpcm(WaveFile& wave) {
  AdpcmHistory history;  // runs on from block to block
  return decompressBlocks(wave, kCodec, [&](std::span<const uint8_t> block, std::span<int16_t> samples) {
    orbelDecodeBlock(block, samples, history);
  });
}
