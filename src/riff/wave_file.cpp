#include "riff/wave_file.h"

#include <utility>

#include "riff/byte_order.h"

namespace {

uint16_t word16(const HeapBlock& block, size_t offset) {
  return offset + 2 <= block.size() ? loadLE16(block.data() + offset) : 0;
}

uint32_t word32(const HeapBlock& block, size_t offset) {
  return offset + 4 <= block.size() ? loadLE32(block.data() + offset) : 0;
}

}  // namespace

FormatFields readFormat(const WaveFile& wave) {
  const HeapBlock& fmt = wave.fmt;
  return {word16(fmt, 0),  word16(fmt, 2),  word32(fmt, 4),  word32(fmt, 8),
          word16(fmt, 12), word16(fmt, 14), word16(fmt, 16), word16(fmt, 18)};
}

bool formatHasSamplesPerBlock(const WaveFile& wave) { return wave.fmt.size() >= kBlockFormatSize; }

void storeFormat(uint8_t* destination, const FormatFields& fields, uint32_t size) {
  storeLE16(destination, fields.wFormatTag);
  storeLE16(destination + 2, fields.nChannels);
  storeLE32(destination + 4, fields.nSamplesPerSec);
  storeLE32(destination + 8, fields.nAvgBytesPerSec);
  storeLE16(destination + 12, fields.nBlockAlign);
  storeLE16(destination + 14, fields.wBitsPerSample);
  if (size >= kBlockFormatSize) {
    storeLE16(destination + 16, fields.cbSize);
    storeLE16(destination + 18, fields.wSamplesPerBlock);
  }
}

uint32_t factSampleCount(const WaveFile& wave) { return word32(wave.fact, 0); }

const char* formatTagName(uint32_t formatTag) {
  switch (formatTag) {
    case 1: return "Uncompressed PCM";
    case 2: return "Microsoft ADPCM";
    case 6: return "G.711 A-law";
    case 7: return "G.711 mu-law";
    case 17: return "IMA ADPCM";
    case 20: return "G.723";
    case 49: return "GSM 06.10";
    case 64: return "G.721";
    case 80: return "MPEG";
    case 0x2000: return "Orbel ADPCM";
    case 0x2001: return "G.729 CS-ACELP";
    case 0x2002: return "GSM 06.60";
    case 0x2003: return "Orbel ADPCM-N64";
    default: return "Unknown";
  }
}

HeapBlock loadChunk(RiffFile* file, const ChunkInfo& descriptor) {
  HeapBlock block;
  if (descriptor.ckid == 0) return block;
  if (riffSeek(file, descriptor.dataOffset, 0) < 0) return block;
  // A size that runs past the image is a short read: refuse it before
  // allocating, so a hostile size cannot ask for gigabytes.
  if (static_cast<int64_t>(descriptor.dataOffset) + descriptor.cksize > file->dataEnd) return block;
  if (!block.allocate(descriptor.cksize)) return block;
  if (riffRead(file, block.data(), descriptor.cksize) != static_cast<int64_t>(descriptor.cksize)) {
    block.reset();
  }
  return block;
}

void waveCarryOver(WaveFile& source, WaveFile& destination) {
  destination.smplChunk = source.smplChunk;
  destination.smpl = std::move(source.smpl);
  destination.infoChunk = source.infoChunk;
  destination.info = std::move(source.info);
  destination.loopType = source.loopType;
  destination.loopStart = source.loopStart;
  destination.loopEnd = source.loopEnd;
}

int32_t waveFree(WaveFile& wave) {
  wave.fmt.reset();
  wave.fact.reset();
  wave.data.reset();
  wave.smpl.reset();
  wave.info.reset();
  return 0;
}
