// Samples per second of each block encoder and decoder on real sounds, one
// core, no file handling: the figures the whole-process rows build on. The
// material is the 16-bit mono WAV file that QUARLIX_BENCH_WAV names
// (run_bench.sh gives long.wav of bench/make_material.sh). The tool's
// decoders are the device library's block decoders; beside them, the
// library reading whole .bin images as a player does.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "codecs/gsm610.h"
#include "codecs/ima_adpcm.h"
#include "codecs/ms_adpcm.h"
#include "codecs/orbel_adpcm.h"
#include "codecs/orbel_adpcm_n64.h"
#include "quarlix_decode.h"
#include "riff/byte_order.h"

namespace {

// The samples of the data chunk of the material file.
std::vector<int16_t> readMaterial() {
  const char* path = std::getenv("QUARLIX_BENCH_WAV");
  std::ifstream file(path != nullptr ? path : "", std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  for (size_t at = 12; at + 8 <= bytes.size();) {
    uint32_t size = loadLE32(&bytes[at + 4]);
    if (loadLE32(&bytes[at]) == kFourCCData && at + 8 + size <= bytes.size()) {
      std::vector<int16_t> samples(size / 2);
      for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(loadLE16(&bytes[at + 8 + 2 * i]));
      return samples;
    }
    at += 8 + size + (size & 1);
  }
  std::printf("codec kernels: QUARLIX_BENCH_WAV must name a 16-bit mono WAV file\n");
  std::exit(1);
}

const std::vector<int16_t>& signal() {
  static const std::vector<int16_t> samples = readMaterial();
  return samples;
}

const size_t kSignalSamples = signal().size();

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
    imaEncodeBlocks(input.first(wholeBlocks(perBlock) * perBlock), perBlock, out, kImaBlockBytes, codec);
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
    decodeImaBlocks(stream, kImaBlockBytes, perBlock, out);
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
    msAdpcmEncodeBlocks(input.first(wholeBlocks(perBlock) * perBlock), perBlock, out, kMsBlockBytes);
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
    decodeMsAdpcmBlocks(stream, kMsBlockBytes, perBlock, out);
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
    orbelN64EncodeBlocks(input.first(wholeBlocks(perBlock) * perBlock), perBlock, out);
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
    benchmark::DoNotOptimize(decodeOrbelN64Blocks(stream, kN64BlockBytes, perBlock, out));
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
