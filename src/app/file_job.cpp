#include "app/file_job.h"

#include "app/error_state.h"
#include "app/file_search.h"
#include "app/job_options.h"
#include "codecs/companding_laws.h"
#include "codecs/gsm610.h"
#include "codecs/ima_adpcm.h"
#include "codecs/mono16_conversion.h"
#include "codecs/ms_adpcm.h"
#include "codecs/orbel_adpcm.h"
#include "codecs/orbel_adpcm_n64.h"
#include "host/host.h"
#include "riff/byte_order.h"
#include "riff/wave_file.h"
#include "riff/wave_reader.h"
#include "riff/wave_writer.h"
#include "writers/bin_writer.h"
#include "writers/c_source_writer.h"
#include "writers/resource_writer.h"

JobNames jobNames;

namespace {

constexpr size_t kIdentifyLength = 32;

int32_t refuseLongName() { return reportError(kErrorRefused, "Quarlix - File name too long !\n"); }

// The file is read once, whole, and identified by its first bytes.
int32_t readAndIdentify(const char* path, InputImage& input) {
  if (!riffReadInput(path, kIdentifyLength, input)) {
    return reportError(kErrorInput, "Quarlix - Unable to open input file \"%s\" !\n", path);
  }
  const uint8_t* start = input.bytes.data();
  if (input.bytes.size() < kIdentifyLength || loadLE32(start) != kFourCCRiff || loadLE32(start + 8) != kFourCCWave) {
    return reportError(kErrorInput, "Quarlix - Unable to identify input file \"%s\" !\n", path);
  }
  return 0;
}

// The output stage: exactly one writer. The sample outputs land beside the
// input and fail with their own code; the WAV file lands in the current
// directory under the bare base name.
int32_t writeOutput(WaveFile& wave) {
  int32_t result = 0;
  if (jobOptions.outputBinary) {
    result = writeBinFile(wave);
  } else if (jobOptions.outputCSource) {
    result = writeCSourceFile(wave);
  } else if (jobOptions.outputResource) {
    result = writeResourceFile(wave);
  } else {
    jobNames.outputPath = jobNames.baseName;
    jobNames.outputPath += ".wav";
    if (waveWrite(wave, jobNames.outputPath.c_str()) != 0) return kErrorPassedUp;
  }
  if (result != 0) return result;
  errorCode = 0;
  return 0;
}

// Under -m and -s the stages after loading see 16-bit mono (at the -s
// rate) wherever the input's layout allows it.
int32_t conversionStage(WaveFile& wave) {
  if (!jobOptions.makeMono16) return 0;
  return convertToMono16(wave, jobOptions.sampleRate);
}

// Compression runs only on PCM input; a file in any other format passes on
// unchanged, without a message.
int32_t compressStage(WaveFile& wave) {
  if (!jobOptions.compress || readFormat(wave).wFormatTag != kFormatPcm) return 0;
  switch (jobOptions.compressType) {
    case kFormatOrbelAdpcm: return compressOrbelAdpcm(wave);
    case kFormatOrbelAdpcmN64: return compressOrbelAdpcmN64(wave);
    case kFormatImaAdpcm: return compressIma(wave);
    case kFormatMsAdpcm: return compressMsAdpcm(wave);
    default: return 0;
  }
}

// Decompression is chosen by the file's own format; PCM and formats without
// a decoder pass on unchanged.
int32_t decompressStage(WaveFile& wave) {
  if (!jobOptions.decompress) return 0;
  switch (readFormat(wave).wFormatTag) {
    case kFormatGsm610: return decompressGsm(wave);
    case kFormatOrbelAdpcm: return decompressOrbelAdpcm(wave);
    case kFormatOrbelAdpcmN64: return decompressOrbelAdpcmN64(wave);
    case kFormatImaAdpcm: return decompressIma(wave);
    case kFormatMsAdpcm: return decompressMsAdpcm(wave);
    default: return 0;
  }
}

// The law test runs on PCM only, after any decompression.
int32_t lawTestStage(WaveFile& wave) {
  if (jobOptions.lawTest == kLawNone || readFormat(wave).wFormatTag != kFormatPcm) return 0;
  return TestLaw(wave);
}

int32_t runStages(WaveFile& wave, InputImage& input) {
  if (waveRead(wave, jobNames.inputPath.c_str(), input) != 0) return kErrorPassedUp;
  if (conversionStage(wave) != 0) return kErrorPassedUp;
  if (compressStage(wave) != 0 || decompressStage(wave) != 0) return kErrorPassedUp;
  if (lawTestStage(wave) != 0) return kErrorPassedUp;
  if (jobOptions.testFileName) jobNames.baseName = "TESTFILE";
  if (jobOptions.writeOutput) return writeOutput(wave);
  errorCode = 0;
  return 0;
}

}  // namespace

void splitPath(const std::string& path, std::string& drive, std::string& directory, std::string& baseName) {
  size_t driveLength = hostDriveLength(path);
  drive.assign(path, 0, driveLength);
  size_t nameStart = driveLength;
  for (size_t at = driveLength; at < path.size(); ++at) {
    if (hostIsSeparator(path[at])) nameStart = at + 1;
  }
  directory.assign(path, driveLength, nameStart - driveLength);
  size_t dot = path.rfind('.');
  size_t nameEnd = dot == std::string::npos || dot < nameStart ? path.size() : dot;
  baseName.assign(path, nameStart, nameEnd - nameStart);
}

int32_t processFileArgument(const char* argument) {
  std::string pattern = argument;
  if (pattern.size() > kMaxPathLength) return refuseLongName();
  std::string drive, directory, baseName;
  splitPath(pattern, drive, directory, baseName);
  std::string folder = drive + directory;
  std::vector<FoundEntry> entries = searchFiles(folder, pattern.substr(folder.size()));
  if (entries.empty()) return reportError(kErrorInput, "Quarlix - File not found !\n");
  for (const FoundEntry& entry : entries) {
    if (entry.skipped) continue;
    int32_t result = processFile(folder + entry.name);
    if (result != 0) return result;
  }
  return 0;
}

int32_t processFile(const std::string& path) {
  errorCode = 0;
  WaveFile wave;
  if (path.size() > kMaxPathLength) return refuseLongName();
  splitPath(path, jobNames.drive, jobNames.directory, jobNames.baseName);
  jobNames.inputPath = path;
  InputImage input;
  if (int32_t result = readAndIdentify(path.c_str(), input); result != 0) return result;
  int32_t result = runStages(wave, input);
  waveFree(wave);
  return result != 0 ? result : errorCode;
}
