#include "codecs/mono16_conversion.h"

#include <bit>
#include <cmath>

#include "app/error_state.h"
#include "codecs/block_codec_job.h"
#include "codecs/codec_record.h"
#include "codecs/resampler.h"
#include "riff/byte_order.h"
#include "riff/pcm_layout.h"
#include "riff/wave_loops.h"

namespace {

int64_t integerSample(const uint8_t* p, const PcmLayout& layout) {
  int64_t value;
  switch (layout.containerBytes) {
    case 1: value = p[0]; break;
    case 2: value = static_cast<int16_t>(loadLE16(p)); break;
    case 3: value = static_cast<int32_t>(static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) << 8) >> 8; break;
    default: value = static_cast<int32_t>(loadLE32(p)); break;
  }
  if (layout.coding == SampleCoding::kUnsigned) value -= 128;
  // Only the valid bits count; those below them are no part of the sample.
  return value >> (8 * layout.containerBytes - layout.validBits);
}

double floatSample(const uint8_t* p, const PcmLayout& layout) {
  if (layout.containerBytes == 4) return std::bit_cast<float>(loadLE32(p));
  return std::bit_cast<double>(uint64_t{loadLE32(p)} | uint64_t{loadLE32(p + 4)} << 32);
}

// The frame's mean in 16-bit units, before rounding. For integers that is
// S * 2^(16 - bits) / n for fewer than 16 bits and S / (n * 2^(bits - 16))
// for more: both products are exact in a double (|S| < 2^47), the quotient
// is rounded once, and a quotient so rounded can only land on a tie
// (x.5) when the exact one lies there, since no other fraction of this
// denominator (below 2^32) comes that close to one at this magnitude
// (|x| <= 32768). Rounding it ties-to-even is the exact rule.
double frameValue(const uint8_t* frame, const PcmLayout& layout) {
  if (layout.coding == SampleCoding::kFloat) {
    double sum = 0;
    for (uint32_t c = 0; c < layout.channels; ++c) sum += floatSample(frame + c * layout.containerBytes, layout);
    return sum / layout.channels * 32768.0;
  }
  int64_t sum = 0;
  for (uint32_t c = 0; c < layout.channels; ++c) sum += integerSample(frame + c * layout.containerBytes, layout);
  uint32_t bits = layout.validBits;
  int64_t numerator = bits < 16 ? sum << (16 - bits) : sum;
  int64_t denominator = bits > 16 ? int64_t{layout.channels} << (bits - 16) : int64_t{layout.channels};
  return static_cast<double>(numerator) / static_cast<double>(denominator);
}

int16_t roundToSample(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 32767.0) return 32767;
  if (value <= -32768.0) return -32768;
  return static_cast<int16_t>(std::nearbyint(value));  // the default mode: to nearest, ties to even
}

// Hands every frame's unrounded mean, in order, to take(index, value).
template <typename Take>
void forEachFrameValue(const HeapBlock& data, const PcmLayout& layout, size_t frames, Take take) {
  size_t frameBytes = size_t{layout.containerBytes} * layout.channels;
  const uint8_t* frame = data.data();
  for (size_t i = 0; i < frames; ++i, frame += frameBytes) take(i, frameValue(frame, layout));
}

// Beyond this ratio a sound would be little but the resampler's filter.
constexpr uint64_t kMaxRateRatio = 256;

// Every frame straight to its 16-bit sample.
int32_t convertFrames(WaveFile& wave, const PcmLayout& layout, size_t frames, uint32_t rate) {
  WaveFile fresh;
  if (int32_t result = buildPcmRecord(fresh, 1, rate, static_cast<uint32_t>(frames)); result != 0) return result;
  std::span<int16_t> out = pcmSamples(fresh.data, frames);
  forEachFrameValue(wave.data, layout, frames, [&](size_t i, double value) { out[i] = roundToSample(value); });
  installRecord(wave, fresh);
  return 0;
}

// The frames' unrounded means through the resampler, then rounded.
int32_t resampleFrames(WaveFile& wave, const PcmLayout& layout, size_t frames, uint32_t fromRate, uint32_t toRate) {
  if (fromRate == 0 || fromRate > toRate * kMaxRateRatio || toRate > fromRate * kMaxRateRatio) {
    return reportError(kErrorRefused, "Quarlix - Can't resample %u Hz to %u Hz !\n", fromRate, toRate);
  }
  uint64_t count = rescaledPosition(frames, fromRate, toRate);
  HeapBlock means, resampled;
  if (count > UINT32_MAX / 2 || !means.allocateUnfilled(frames * sizeof(double)) ||
      !resampled.allocateUnfilled(count * sizeof(double))) {
    return reportNoMemory();
  }
  std::span<double> in(reinterpret_cast<double*>(means.data()), frames);
  std::span<double> out(reinterpret_cast<double*>(resampled.data()), count);
  forEachFrameValue(wave.data, layout, frames, [&](size_t i, double value) { in[i] = value; });
  if (!resample(in, fromRate, toRate, out)) return reportNoMemory();
  WaveFile fresh;
  if (int32_t result = buildPcmRecord(fresh, 1, toRate, static_cast<uint32_t>(count)); result != 0) return result;
  std::span<int16_t> samples = pcmSamples(fresh.data, count);
  for (size_t i = 0; i < count; ++i) samples[i] = roundToSample(out[i]);
  installRecord(wave, fresh);
  return rescaleLoops(wave, fromRate, toRate, static_cast<uint32_t>(count)) ? 0 : kErrorNoMemory;
}

}  // namespace

int32_t convertToMono16(WaveFile& wave, uint32_t rate) {
  PcmLayout layout;
  if (!readPcmLayout(wave, layout)) return 0;
  FormatFields format = readFormat(wave);
  bool resampling = rate != 0 && rate != format.nSamplesPerSec;
  if (!resampling && format.wFormatTag == kFormatPcm && format.nChannels == 1 && format.wBitsPerSample == 16) return 0;
  size_t frames = wave.data.size() / (size_t{layout.containerBytes} * layout.channels);
  if (frames > UINT32_MAX / 2) return reportNoMemory();
  if (resampling) return resampleFrames(wave, layout, frames, format.nSamplesPerSec, rate);
  return convertFrames(wave, layout, frames, format.nSamplesPerSec);
}
