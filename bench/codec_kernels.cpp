// Samples per second of each block encoder and decoder on audio-like input,
// one core, no file handling: the figures the whole-process rows build on.
// The tool's decoders are the device library's block decoders; beside them,
// the library reading whole .bin images as a player does.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "codecs/gsm610.h"
#include "codecs/ima_adpcm.h"
#include "codecs/ms_adpcm.h"
#include "codecs/orbel_adpcm.h"
#include "codecs/orbel_adpcm_n64.h"
#include "quarlix_decode.h"

namespace {

constexpr size_t kSignalSamples = 1 << 20;  // about 24 s at 44.1 kHz

// A sweep under a slow tremolo with some noise: every step size gets used,
// as in music, so no shortcut for silence or tones flatters the figures.
const std::vector<int16_t>& signal() {
  static const std::vector<int16_t> samples = [] {
    std::vector<int16_t> out(kSignalSamples);
    uint32_t noise = 12345;
    for (size_t i = 0; i < out.size(); ++i) {
      double t = static_cast<double>(i) / 44100.0;
      double sweep = std::sin(2 * std::numbers::pi * (100.0 * t + 60.0 * t * t));
      double tremolo = 0.55 + 0.45 * std::sin(2 * std::numbers::pi * 0.7 * t);
      noise ^= noise << 13;
      noise ^= noise >> 17;
      noise ^= noise << 5;
      double hiss = static_cast<double>(noise % 2001) - 1000.0;
      out[i] = static_cast<int16_t>(std::lround(20000.0 * tremolo * sweep + hiss));
    }
    return out;
  }();
  return samples;
}

size_t wholeBlocks(size_t samplesPerBlock) { return kSignalSamples / samplesPerBlock; }

void finish(benchmark::State& state, size_t samplesPerRun) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * samplesPerRun));
}

// IMA, 256-byte blocks as the compression job makes them.
constexpr uint32_t kImaBlockBytes = 256;

std::vector<uint8_t> imaStream() {
  uint32_t perBlock = samplesPerBlockOf(kImaAdpcmCodec, kImaBlockBytes);
  std::vector<uint8_t> out(wholeBlocks(perBlock) * kImaBlockBytes);
  std::span<const int16_t> input(signal());
  ImaState state;
  for (size_t b = 0; b < wholeBlocks(perBlock); ++b) {
    std::span<const int16_t> samples = input.subspan(b * perBlock, perBlock);
    std::span<uint8_t> block = std::span(out).subspan(b * kImaBlockBytes, kImaBlockBytes);
    state.predictor = samples[0];
    block[0] = static_cast<uint8_t>(samples[0]);
    block[1] = static_cast<uint8_t>(static_cast<uint16_t>(samples[0]) >> 8);
    block[2] = static_cast<uint8_t>(state.stepIndex);
    block[3] = 0;
    imaEncode(samples.subspan(1), block.subspan(kImaHeaderBytes), state);
  }
  return out;
}

void imaEncodeKernel(benchmark::State& state) {
  uint32_t perBlock = samplesPerBlockOf(kImaAdpcmCodec, kImaBlockBytes);
  std::vector<uint8_t> out(wholeBlocks(perBlock) * kImaBlockBytes);
  std::span<const int16_t> input(signal());
  for (auto _ : state) {
    ImaState codec;
    for (size_t b = 0; b < wholeBlocks(perBlock); ++b) {
      codec.predictor = input[b * perBlock];
      imaEncode(input.subspan(b * perBlock + 1, perBlock - 1),
                std::span(out).subspan(b * kImaBlockBytes + kImaHeaderBytes, kImaBlockBytes - kImaHeaderBytes), codec);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  finish(state, wholeBlocks(perBlock) * perBlock);
}

void imaDecodeKernel(benchmark::State& state) {
  uint32_t perBlock = samplesPerBlockOf(kImaAdpcmCodec, kImaBlockBytes);
  std::vector<uint8_t> stream = imaStream();
  std::vector<int16_t> out(wholeBlocks(perBlock) * perBlock);
  for (auto _ : state) {
    for (size_t b = 0; b < wholeBlocks(perBlock); ++b) {
      qx_ima_decode_block(&stream[b * kImaBlockBytes], kImaBlockBytes, &out[b * perBlock], perBlock);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  finish(state, wholeBlocks(perBlock) * perBlock);
}

// Microsoft ADPCM, 1024-byte blocks (the job's choice at 44.1 kHz).
constexpr uint32_t kMsBlockBytes = 1024;

void msEncodeKernel(benchmark::State& state) {
  uint32_t perBlock = samplesPerBlockOf(kMsAdpcmCodec, kMsBlockBytes);
  std::vector<uint8_t> out(wholeBlocks(perBlock) * kMsBlockBytes);
  std::span<const int16_t> input(signal());
  for (auto _ : state) {
    for (size_t b = 0; b < wholeBlocks(perBlock); ++b) {
      msAdpcmEncodeBlock(input.subspan(b * perBlock, perBlock), std::span(out).subspan(b * kMsBlockBytes, kMsBlockBytes));
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  finish(state, wholeBlocks(perBlock) * perBlock);
}

void msDecodeKernel(benchmark::State& state) {
  uint32_t perBlock = samplesPerBlockOf(kMsAdpcmCodec, kMsBlockBytes);
  std::vector<uint8_t> stream(wholeBlocks(perBlock) * kMsBlockBytes);
  std::span<const int16_t> input(signal());
  for (size_t b = 0; b < wholeBlocks(perBlock); ++b) {
    msAdpcmEncodeBlock(input.subspan(b * perBlock, perBlock), std::span(stream).subspan(b * kMsBlockBytes, kMsBlockBytes));
  }
  std::vector<int16_t> out(wholeBlocks(perBlock) * perBlock);
  for (auto _ : state) {
    for (size_t b = 0; b < wholeBlocks(perBlock); ++b) {
      msAdpcmDecodeBlock(std::span(stream).subspan(b * kMsBlockBytes, kMsBlockBytes),
                         std::span(out).subspan(b * perBlock, perBlock));
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  finish(state, wholeBlocks(perBlock) * perBlock);
}

// Orbel ADPCM, 32-byte blocks (the default); the history runs on.
constexpr size_t kOrbelBlockBytes = kOrbelDefaultBlockBytes;

void orbelEncodeKernel(benchmark::State& state) {
  size_t perBlock = orbelSamplesPerBlock(kOrbelBlockBytes);
  std::vector<uint8_t> out(wholeBlocks(perBlock) * kOrbelBlockBytes);
  std::span<const int16_t> input(signal());
  for (auto _ : state) {
    AdpcmHistory history{};
    for (size_t b = 0; b < wholeBlocks(perBlock); ++b) {
      orbelEncodeBlock(input.subspan(b * perBlock, perBlock), std::span(out).subspan(b * kOrbelBlockBytes),
                       perBlock, history);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  finish(state, wholeBlocks(perBlock) * perBlock);
}

std::vector<uint8_t> orbelStream() {
  size_t perBlock = orbelSamplesPerBlock(kOrbelBlockBytes);
  std::vector<uint8_t> stream(wholeBlocks(perBlock) * kOrbelBlockBytes);
  std::span<const int16_t> input(signal());
  AdpcmHistory encoding{};
  for (size_t b = 0; b < wholeBlocks(perBlock); ++b) {
    orbelEncodeBlock(input.subspan(b * perBlock, perBlock), std::span(stream).subspan(b * kOrbelBlockBytes),
                     perBlock, encoding);
  }
  return stream;
}

void orbelDecodeKernel(benchmark::State& state) {
  size_t perBlock = orbelSamplesPerBlock(kOrbelBlockBytes);
  std::vector<uint8_t> stream = orbelStream();
  std::vector<int16_t> out(wholeBlocks(perBlock) * perBlock);
  for (auto _ : state) {
    AdpcmHistory history{};
    for (size_t b = 0; b < wholeBlocks(perBlock); ++b) {
      orbelDecodeBlock(std::span(stream).subspan(b * kOrbelBlockBytes, kOrbelBlockBytes),
                       std::span(out).subspan(b * perBlock, perBlock), history);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  finish(state, wholeBlocks(perBlock) * perBlock);
}

// Orbel ADPCM-N64, 68-byte blocks (the default); every block stands alone.
constexpr size_t kN64BlockBytes = kN64DefaultBlockBytes;

void n64EncodeKernel(benchmark::State& state) {
  size_t perBlock = orbelN64SamplesPerBlock(kN64BlockBytes);
  std::vector<uint8_t> out(wholeBlocks(perBlock) * kN64BlockBytes);
  std::span<const int16_t> input(signal());
  for (auto _ : state) {
    for (size_t b = 0; b < wholeBlocks(perBlock); ++b) {
      orbelN64EncodeBlock(input.subspan(b * perBlock, perBlock), std::span(out).subspan(b * kN64BlockBytes));
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  finish(state, wholeBlocks(perBlock) * perBlock);
}

std::vector<uint8_t> n64Stream() {
  size_t perBlock = orbelN64SamplesPerBlock(kN64BlockBytes);
  std::vector<uint8_t> stream(wholeBlocks(perBlock) * kN64BlockBytes);
  std::span<const int16_t> input(signal());
  for (size_t b = 0; b < wholeBlocks(perBlock); ++b) {
    orbelN64EncodeBlock(input.subspan(b * perBlock, perBlock), std::span(stream).subspan(b * kN64BlockBytes));
  }
  return stream;
}

void n64DecodeKernel(benchmark::State& state) {
  size_t perBlock = orbelN64SamplesPerBlock(kN64BlockBytes);
  std::vector<uint8_t> stream = n64Stream();
  std::vector<int16_t> out(wholeBlocks(perBlock) * perBlock);
  for (auto _ : state) {
    for (size_t b = 0; b < wholeBlocks(perBlock); ++b) {
      orbelN64DecodeBlock(std::span(stream).subspan(b * kN64BlockBytes, kN64BlockBytes),
                          std::span(out).subspan(b * perBlock, perBlock));
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  finish(state, wholeBlocks(perBlock) * perBlock);
}

// The device library reading a whole .bin image of the same material in
// one qx_read, as a player does.
std::vector<uint8_t> sampleImage(uint8_t type) {
  uint32_t perBlock = 1, blockBytes = 2;
  std::vector<uint8_t> data;
  if (type == 1) {
    for (int16_t sample : signal()) {
      data.push_back(static_cast<uint8_t>(static_cast<uint16_t>(sample) >> 8));
      data.push_back(static_cast<uint8_t>(sample));
    }
  } else if (type == 3) {
    perBlock = samplesPerBlockOf(kImaAdpcmCodec, kImaBlockBytes), blockBytes = kImaBlockBytes, data = imaStream();
  } else if (type == 5) {
    perBlock = orbelSamplesPerBlock(kOrbelBlockBytes), blockBytes = kOrbelBlockBytes, data = orbelStream();
  } else {
    perBlock = orbelN64SamplesPerBlock(kN64BlockBytes), blockBytes = kN64BlockBytes, data = n64Stream();
  }
  uint32_t samples = static_cast<uint32_t>(data.size() / blockBytes * perBlock);
  std::vector<uint8_t> image = {0x1A, type, 0xAC, 0x44};
  for (uint32_t field : {perBlock << 16 | blockBytes, samples, 0u, 0u}) {
    for (int shift = 24; shift >= 0; shift -= 8) image.push_back(static_cast<uint8_t>(field >> shift));
  }
  image.insert(image.end(), data.begin(), data.end());
  return image;
}

template <uint8_t Type>
void imageReadKernel(benchmark::State& state) {
  std::vector<uint8_t> image = sampleImage(Type);
  qx_decoder decoder;
  if (qx_open(&decoder, image.data(), image.size()) != QX_OK) {
    state.SkipWithError("the image is refused");
    return;
  }
  std::vector<int16_t> out(qx_sample_count(&decoder));
  for (auto _ : state) {
    qx_rewind(&decoder);
    benchmark::DoNotOptimize(qx_read(&decoder, out.data(), out.size()));
    benchmark::ClobberMemory();
  }
  finish(state, out.size());
}

// GSM 06.10: libgsm's decoder behind our block loop. The frames are a fixed
// pseudo-random pattern; every bit pattern is a valid frame.
void gsmDecodeKernel(benchmark::State& state) {
  constexpr size_t kBlocks = 4096;
  std::vector<uint8_t> frames(kBlocks * kGsmBlockBytes);
  uint32_t noise = 777;
  for (uint8_t& byte : frames) {
    noise = noise * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(noise >> 24);
  }
  std::vector<uint8_t> pcm(kBlocks * kGsmSamplesPerBlock * 2);
  for (auto _ : state) {
    benchmark::DoNotOptimize(decodeGsm610(frames, pcm));
    benchmark::ClobberMemory();
  }
  finish(state, kBlocks * kGsmSamplesPerBlock);
}

}  // namespace

BENCHMARK(imaEncodeKernel)->Name("IMA ADPCM encode")->Unit(benchmark::kMillisecond);
BENCHMARK(imaDecodeKernel)->Name("IMA ADPCM decode")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(imageReadKernel, 3)->Name("IMA ADPCM image read (library)")->Unit(benchmark::kMillisecond);
BENCHMARK(msEncodeKernel)->Name("Microsoft ADPCM encode")->Unit(benchmark::kMillisecond);
BENCHMARK(msDecodeKernel)->Name("Microsoft ADPCM decode")->Unit(benchmark::kMillisecond);
BENCHMARK(orbelEncodeKernel)->Name("Orbel ADPCM encode")->Unit(benchmark::kMillisecond);
BENCHMARK(orbelDecodeKernel)->Name("Orbel ADPCM decode")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(imageReadKernel, 5)->Name("Orbel ADPCM image read (library)")->Unit(benchmark::kMillisecond);
BENCHMARK(n64EncodeKernel)->Name("Orbel ADPCM-N64 encode")->Unit(benchmark::kMillisecond);
BENCHMARK(n64DecodeKernel)->Name("Orbel ADPCM-N64 decode")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(imageReadKernel, 6)->Name("Orbel ADPCM-N64 image read (library)")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(imageReadKernel, 1)->Name("PCM image read (library)")->Unit(benchmark::kMillisecond);
BENCHMARK(gsmDecodeKernel)->Name("GSM 06.10 decode")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
