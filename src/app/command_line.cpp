#include "app/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/error_state.h"
#include "app/file_job.h"
#include "app/job_options.h"
#include "app/number_text.h"
#include "host/host.h"

JobOptions jobOptions;

namespace {

constexpr const char* kVersion = "Quarlix v1.51 (May  8 1998)";

constexpr const char* kUsageText =
    "Purpose    : Audio File Compressor for Win32 Console\n"
    "\n"
    "Usage      : Quarlix [<option>] <filename>\n"
    "\n"
    "<filename> : Long filenames and wildcards OK\n"
    "\n"
    "<option>   : Option........Description....................................\n"
    "\n"
    "             -b<size>      Select adpcm block size\n"
    "             -c[<type>]    Compress PCM file and write out WAV file\n"
    "             -d            Decompress and write out WAV file\n"
    "             -o[<outopt>]  Select output format (instead of WAV file)\n"
    "             -r[<resopt>]  Write out resource file (instead of WAV file)\n"
    "             -t            Override output filename with \"TESTFILE\"\n"
    "             -ta           Test A-law\n"
    "             -tu           Test u-law\n"
    "             -tb           Test kib-law\n"
    "             -vi           Display file information\n"
    "             -vf           Display file structure\n"
    "\n"
    "<resopt>   : OutOpt........Description....................................\n"
    "\n"
    "             b             Write out binary file\n"
    "             c             Write out 'C' source file\n"
    "             r             Write out resource file\n"
    "             w             Write out binary WAV file (default)\n"
    "\n"
    "<resopt>   : ResOpt........Description....................................\n"
    "\n"
    "             l             Loop whole sample\n"
    "\n"
    "<type>     : Type..........Win95...Author...............Rate..............\n"
    "\n"
    "             adpcm         no      Olbek's Modified     (4bits-per-sample)\n"
    "             adpcmn64      no      Olbek's Modified v2  (4bits-per-sample)\n"
    "             adpcmima      yes     IMA/Intel DVI        (4bits-per-sample)\n"
    "             adpcmms       yes     Microsoft            (4bits-per-sample)\n"
    "\n";

constexpr int32_t kMinBlockSize = 16;
constexpr int32_t kMaxBlockSize = 1024;
constexpr uint32_t kMinSampleRate = 1000;
constexpr uint32_t kMaxSampleRate = 192000;

void chooseOutput(bool binary, bool cSource, bool resource) {
  jobOptions.outputBinary = binary;
  jobOptions.outputCSource = cSource;
  jobOptions.outputResource = resource;
}

int32_t parseCompressType(const char* type) {
  jobOptions.compress = true;
  jobOptions.writeOutput = true;
  if (std::strcmp(type, "ADPCM") == 0 || type[0] == '\0') jobOptions.compressType = kFormatOrbelAdpcm;
  else if (std::strcmp(type, "ADPCMN64") == 0) jobOptions.compressType = kFormatOrbelAdpcmN64;
  else if (std::strcmp(type, "ADPCMIMA") == 0) jobOptions.compressType = kFormatImaAdpcm;
  else if (std::strcmp(type, "ADPCMMS") == 0) jobOptions.compressType = kFormatMsAdpcm;
  else return reportError(kErrorRefused, "Quarlix - Unknown compression option !\n");
  return 0;
}

int32_t parseOutputChoice(char choice) {
  jobOptions.writeOutput = true;
  switch (choice) {
    case 'B': chooseOutput(true, false, false); return 0;
    case 'C': chooseOutput(false, true, false); return 0;
    case 'R': chooseOutput(false, false, true); return 0;
    case 'W': chooseOutput(false, false, false); return 0;
    default: return reportError(kErrorRefused, "Quarlix - Unknown output option !\n");
  }
}

void parseLawTest(char law) {
  switch (law) {
    case '\0': jobOptions.testFileName = true; return;
    case 'A': jobOptions.lawTest = kLawA; break;
    case 'U': jobOptions.lawTest = kLawMu; break;
    case 'B': jobOptions.lawTest = kLawKib; break;
    default: return;
  }
  jobOptions.writeOutput = true;
}

// -s<rate>: decimal digits only, and -m with them.
int32_t parseSampleRate(const char* text) {
  size_t digits = std::strspn(text, "0123456789");
  uint32_t rate = digits == 0 || digits > 6 || text[digits] != '\0' ? 0 : static_cast<uint32_t>(std::atoi(text));
  if (rate < kMinSampleRate || rate > kMaxSampleRate) {
    return reportError(kErrorRefused, "Quarlix - Illegal sample rate (must be 1000 <= n <= 192000) !\n");
  }
  jobOptions.makeMono16 = true;
  jobOptions.sampleRate = rate;
  return 0;
}

// Where absolute paths begin with "/", the option mark, the host tells
// which such arguments are file names.
bool isOption(const char* argument) {
  return argument[0] == '-' || (argument[0] == '/' && !hostSlashArgumentIsPath(argument));
}

}  // namespace

bool parseNumber(const char* text, int32_t* value) {
  const char* separators = " \t\n";
  const char* start = text + std::strspn(text, separators);
  size_t length = std::strcspn(start, separators);
  if (length == 0) return false;
  return parseWholeNumber(std::string(start, length).c_str(), value);
}

int32_t parseOption(char* argument) {
  for (char* c = argument; *c != '\0'; ++c) {
    if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
  }
  const char* rest = argument + 2;
  switch (argument[1]) {
    case '?':
    case 'H':
      std::fputs(kUsageText, stdout);
      errorCode = 0;
      return -1;
    case 'B': {
      int32_t size = 0;
      if (parseNumber(rest, &size) && size >= kMinBlockSize && size <= kMaxBlockSize) {
        jobOptions.blockSize = size;
        return 0;
      }
      return reportError(kErrorRefused, "Quarlix - Illegal ADPCM block size (must be 16 <= n <= 1024) !\n");
    }
    case 'C': return parseCompressType(rest);
    case 'D':
      jobOptions.decompress = true;
      jobOptions.writeOutput = true;
      return 0;
    case 'M':
      if (rest[0] != '\0') return reportError(kErrorRefused, "Quarlix - Unknown option !\n");
      jobOptions.makeMono16 = true;
      return 0;
    case 'O': return parseOutputChoice(rest[0]);
    case 'Q':
      if (rest[0] != '\0') return reportError(kErrorRefused, "Quarlix - Unknown option !\n");
      jobOptions.search = true;
      return 0;
    case 'R':
      chooseOutput(false, false, true);
      jobOptions.writeOutput = true;
      if (rest[0] == 'L') jobOptions.loopWhole = true;
      return 0;
    case 'S': return parseSampleRate(rest);
    case 'T': parseLawTest(rest[0]); return 0;
    case 'V':
      for (const char* c = rest; *c != '\0'; ++c) {
        if (*c == 'F') jobOptions.showStructure = true;
        if (*c == 'I') jobOptions.showInfo = true;
      }
      return 0;
    default: return reportError(kErrorRefused, "Quarlix - Unknown option !\n");
  }
}

int runQuarlix(int argc, char** argv) {
  std::printf("\n%s by Velmorik\n\n", kVersion);
  if (argc <= 1) {
    char usage[] = "-?";
    parseOption(usage);
  } else {
    int32_t result = 0;
    for (int i = 1; i < argc && result == 0; ++i) {
      result = isOption(argv[i]) ? parseOption(argv[i]) : processFileArgument(argv[i]);
    }
    if (result == 0) std::printf("Quarlix - Operation Completed OK !\n\n");
  }
  explainErrorCode();
  if (errorCode != 0) std::printf("%s\n", errorMessage);
  std::fflush(stdout);
  return errorCode != 0 ? 1 : 0;
}
