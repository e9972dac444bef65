#include "codecs/gsm610.h"

#include <gsm.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

#include "app/error_state.h"
#include "codecs/codec_record.h"

// The decoder's samples are the output's bytes as they stand.
static_assert(std::endian::native == std::endian::little && sizeof(gsm_signal) == 2);

namespace {

constexpr size_t kFrameSamples = 160;
constexpr size_t kSecondFrameOffset = 33;  // frame 2 starts in byte 32's high nibble

struct DecoderRelease {
  void operator()(gsm_state* decoder) const { gsm_destroy(decoder); }
};
using GsmDecoder = std::unique_ptr<gsm_state, DecoderRelease>;

GsmDecoder createWav49Decoder() {
  GsmDecoder decoder(gsm_create());
  if (decoder) {
    int on = 1;
    gsm_option(decoder.get(), GSM_OPT_WAV49, &on);
  }
  return decoder;
}

}  // namespace

bool decodeGsm610(std::span<const uint8_t> blocks, std::span<uint8_t> pcm) {
  GsmDecoder decoder = createWav49Decoder();
  if (!decoder) return false;
  // Whole blocks decode straight into the output, whose samples are the
  // host's own 16-bit integers (little-endian, as WAV keeps them); the
  // last block may keep only its first samples, so it passes through this
  // area.
  gsm_signal scratch[kGsmSamplesPerBlock];
  size_t remaining = pcm.size() / 2;
  size_t in = 0;
  size_t out = 0;
  while (remaining > 0 && in + kGsmBlockBytes <= blocks.size()) {
    size_t keep = std::min(remaining, kGsmSamplesPerBlock);
    gsm_signal* samples = keep == kGsmSamplesPerBlock ? reinterpret_cast<gsm_signal*>(pcm.data() + out) : scratch;
    // libgsm's WAV49 mode alternates between the two halves of a block
    // itself, so both calls are made for every block, first half first.
    // The casts only satisfy its non-const C prototype; it never writes.
    gsm_byte* block = const_cast<gsm_byte*>(blocks.data() + in);
    gsm_decode(decoder.get(), block, samples);
    gsm_decode(decoder.get(), block + kSecondFrameOffset, samples + kFrameSamples);
    if (samples == scratch) std::memcpy(pcm.data() + out, scratch, 2 * keep);
    out += 2 * keep;
    remaining -= keep;
    in += kGsmBlockBytes;
  }
  return true;
}

int32_t decompressGsm(WaveFile& wave) {
  errorCode = 0;
  FormatFields format = readFormat(wave);
  if (format.nChannels != 1) {
    return reportError(kErrorRefused, "Quarlix - Only mono samples can be decompressed from GSM 06.10 !\n");
  }
  if (format.wFormatTag != kFormatGsm610 || format.nBlockAlign != kGsmBlockBytes) {
    return reportError(kErrorRefused, "Quarlix - Only Microsoft GSM 06.10 is supported !\n");
  }
  if (!formatHasSamplesPerBlock(wave)) {
    return reportError(kErrorRefused, "Quarlix - GSM 06.10 format chunk too short for wSamplesPerBlock !\n");
  }
  // A block never yields more than 320 samples, whatever the fmt claims, so
  // the count cannot run past the whole blocks present; a trailing partial
  // block is never decoded. 64-bit, so no hostile count can wrap.
  uint64_t blocks = wave.data.size() / kGsmBlockBytes;
  uint64_t perBlock = std::min<uint64_t>(format.wSamplesPerBlock, kGsmSamplesPerBlock);
  uint32_t sampleCount = static_cast<uint32_t>(std::min<uint64_t>(factSampleCount(wave), blocks * perBlock));

  WaveFile fresh;
  if (int32_t result = buildPcmRecord(fresh, format.nChannels, format.nSamplesPerSec, sampleCount); result != 0) return result;
  if (!decodeGsm610(wave.data.bytes(), fresh.data.bytes())) return reportNoMemory();
  installRecord(wave, fresh);
  return 0;
}
