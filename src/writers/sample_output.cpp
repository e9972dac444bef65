#include "writers/sample_output.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "app/error_state.h"
#include "app/file_job.h"
#include "app/job_options.h"
#include "host/host.h"
#include "riff/byte_order.h"

namespace {

size_t dataBytes(const WaveFile& wave) { return std::min<size_t>(wave.dataChunk.cksize, wave.data.size()); }

bool reserveText(TextImage& text, size_t extra) {
  size_t needed = text.length + extra;
  if (needed <= text.bytes.size()) return true;
  HeapBlock grown;
  if (!grown.allocateUnfilled(std::max(needed, std::max<size_t>(2 * text.bytes.size(), 4096)))) return false;
  if (text.length > 0) std::memcpy(grown.data(), text.bytes.data(), text.length);
  text.bytes = std::move(grown);
  return true;
}

}  // namespace

SampleType sampleTypeFor(uint16_t wFormatTag) {
  switch (wFormatTag) {
    case kFormatPcm: return kSampleTypePcm;
    case kFormatImaAdpcm: return kSampleTypeIma;
    case kFormatGsm610: return kSampleTypeGsm;
    case kFormatOrbelAdpcm: return kSampleTypeOrbel;
    case kFormatOrbelAdpcmN64: return kSampleTypeOrbelN64;
    default: return 0;
  }
}

int32_t prepareSampleOutput(WaveFile& wave, const SampleWriter& writer, SampleOutput& output) {
  errorCode = 0;
  FormatFields format = readFormat(wave);
  if (format.nChannels != 1) return reportError(kErrorRefused, "%s", writer.notMonoMessage);
  SampleType type = sampleTypeFor(format.wFormatTag);
  if (type == 0) return reportError(kErrorRefused, "%s", writer.wrongTypeMessage);

  uint64_t count = 0;
  if (type == kSampleTypePcm) {
    if (format.wBitsPerSample != 16) {
      return reportError(kErrorRefused, "Quarlix - Only 16-bit PCM samples can be converted !\n");
    }
    count = dataBytes(wave) / 2;
  } else {
    // Without a block geometry there is no block to cut the count to; a
    // count beyond int32 cannot be carried by the record or the .sam text.
    if (format.nBlockAlign == 0 || format.wSamplesPerBlock == 0) {
      return reportError(kErrorRefused, "%s", writer.wrongTypeMessage);
    }
    uint64_t wholeBlocks = dataBytes(wave) / format.nBlockAlign * format.wSamplesPerBlock;
    count = std::min<uint64_t>(factSampleCount(wave), wholeBlocks);
    if (count > INT32_MAX) return reportError(kErrorRefused, "%s", writer.wrongTypeMessage);
    if (wave.fact.size() >= 4) storeLE32(wave.fact.data(), static_cast<uint32_t>(count));
  }
  output = {type, static_cast<uint32_t>(count)};
  wave.sampleCount = static_cast<int32_t>(count);

  jobNames.outputPath = jobNames.drive + jobNames.directory + jobNames.baseName + writer.extension;
  if (!hostCanReplaceFile(jobNames.outputPath.c_str())) {
    return reportError(kErrorWrite, "Quarlix - Can't open output file \"%s\" !\n", jobNames.outputPath.c_str());
  }
  return 0;
}

size_t sampleDataLength(const WaveFile& wave, SampleType type, uint32_t sampleCount) {
  FormatFields format = readFormat(wave);
  uint64_t n = sampleCount;
  uint64_t spb = format.wSamplesPerBlock;
  uint64_t align = format.nBlockAlign;
  uint64_t length = 0;
  if (type == kSampleTypePcm) {
    length = 2 * n;
  } else if (type == kSampleTypeGsm) {
    length = dataBytes(wave);
  } else if (spb != 0) {
    uint64_t q = n / spb;
    uint64_t r = n % spb;
    if (type == kSampleTypeIma) {
      // A partial block: its 4-byte header holds the first sample, then
      // 4-byte groups of 8 samples.
      length = align * q + (r > 0 ? 4 + 4 * ((r - 1 + 7) / 8) : 0);
    } else if (type == kSampleTypeOrbel) {
      // A partial block: its 2-byte header, then a byte per two samples.
      length = align * q + (r > 0 ? 2 + (r + 1) / 2 : 0);
    } else if (type == kSampleTypeOrbelN64) {
      length = align * ((n + spb - 1) / spb);
    }
  }
  // A hostile geometry could describe a partial block longer than what is
  // left of the data; the output never reads past the data chunk.
  return static_cast<size_t>(std::min<uint64_t>(length, dataBytes(wave)));
}

size_t paddingToFour(size_t length) { return (4 - length % 4) % 4; }

BinHeader binHeaderFor(const WaveFile& wave, const SampleOutput& output) {
  FormatFields format = readFormat(wave);
  bool pcm = output.type == kSampleTypePcm;
  return {0x1A,
          output.type,
          static_cast<uint16_t>(format.nSamplesPerSec),
          static_cast<uint16_t>(pcm ? 1 : format.wSamplesPerBlock),
          static_cast<uint16_t>(pcm ? 2 : format.nBlockAlign),
          output.sampleCount,
          jobOptions.loopWhole ? 0 : wave.loopStart,
          jobOptions.loopWhole ? output.sampleCount : wave.loopEnd};
}

void storeBinHeader(const BinHeader& header, uint8_t* destination) {
  destination[0] = header.head;
  destination[1] = header.type;
  storeBE16(destination + 2, header.freq);
  storeBE16(destination + 4, header.blkdata);
  storeBE16(destination + 6, header.blksize);
  storeBE32(destination + 8, header.samples);
  storeBE32(destination + 12, header.loop1st);
  storeBE32(destination + 16, header.loopend);
}

void sizeText(TextImage& text, size_t capacity) {
  if (!reserveText(text, capacity)) text.outOfMemory = true;
}

void appendText(TextImage& text, const char* format, ...) {
  if (text.outOfMemory) return;
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  int printed = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  // Room for every character to be a line feed that becomes CR LF, plus
  // the terminating zero the formatter writes.
  size_t length = printed > 0 ? static_cast<size_t>(printed) : 0;
  if (!reserveText(text, 2 * length + 1)) {
    text.outOfMemory = true;
    va_end(args);
    return;
  }
  char* start = reinterpret_cast<char*>(text.bytes.data() + text.length);
  std::vsnprintf(start, length + 1, format, args);
  va_end(args);
  size_t lineFeeds = static_cast<size_t>(std::count(start, start + length, '\n'));
  // Widen from the back, so every character moves before it is overwritten.
  for (size_t from = length, to = length + lineFeeds; from > 0;) {
    char c = start[--from];
    start[--to] = c;
    if (c == '\n') start[--to] = '\r';
  }
  text.length += length + lineFeeds;
}

int32_t storeSampleOutput(std::initializer_list<std::span<const uint8_t>> image) {
  if (!hostReplaceFile(jobNames.outputPath.c_str(), image)) {
    return reportError(kErrorWrite, "Quarlix - Can't write data to output file \"%s\" !\n",
                       jobNames.outputPath.c_str());
  }
  return 0;
}

int32_t storeTextOutput(const TextImage& text) {
  if (text.outOfMemory) return reportNoMemory();
  return storeSampleOutput({text.bytes.bytes().first(text.length)});
}
