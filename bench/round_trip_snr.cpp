// Prints the signal-to-noise ratio of a decoded round trip in dB: the
// reference is a 16-bit PCM WAV file, the decoded samples come from a WAV
// file or from a quarlix .bin file of 16-bit PCM. The sums are exact
// integers; only the final ratio is taken in floating point, for printing.
// Usage: quarlix_snr <reference.wav> <decoded.wav|decoded.bin>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> readFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// The samples of the data chunk of a 16-bit PCM WAV file.
bool wavSamples(const std::vector<uint8_t>& file, std::vector<int32_t>& samples) {
  if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0) return false;
  for (size_t at = 12; at + 8 <= file.size();) {
    uint32_t size = le32(&file[at + 4]);
    if (std::memcmp(&file[at], "data", 4) == 0) {
      size_t end = std::min<size_t>(file.size(), at + 8 + size);
      for (size_t i = at + 8; i + 1 < end; i += 2) samples.push_back(static_cast<int16_t>(file[i] | file[i + 1] << 8));
      return true;
    }
    at += 8 + size + (size & 1);
  }
  return false;
}

// The samples of a .bin file of 16-bit PCM (sample type 1): a 20-byte
// header, then the samples high byte first.
bool binSamples(const std::vector<uint8_t>& file, std::vector<int32_t>& samples) {
  if (file.size() < 20 || file[0] != 0x1A || file[1] != 1) return false;
  uint32_t count = static_cast<uint32_t>(file[8]) << 24 | file[9] << 16 | file[10] << 8 | file[11];
  for (size_t i = 0; i < count && 20 + 2 * i + 1 < file.size(); ++i) {
    samples.push_back(static_cast<int16_t>(file[20 + 2 * i] << 8 | file[21 + 2 * i]));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: quarlix_snr <reference.wav> <decoded.wav|decoded.bin>\n");
    return 2;
  }
  std::vector<int32_t> reference;
  std::vector<int32_t> decoded;
  std::vector<uint8_t> second = readFile(argv[2]);
  if (!wavSamples(readFile(argv[1]), reference) || !(wavSamples(second, decoded) || binSamples(second, decoded))) {
    std::printf("quarlix_snr: cannot read the samples\n");
    return 1;
  }
  if (reference.size() != decoded.size() || reference.empty()) {
    std::printf("quarlix_snr: %zu reference samples, %zu decoded\n", reference.size(), decoded.size());
    return 1;
  }
  uint64_t signal = 0;
  uint64_t noise = 0;
  for (size_t i = 0; i < reference.size(); ++i) {
    int64_t miss = int64_t{decoded[i]} - reference[i];
    signal += static_cast<uint64_t>(int64_t{reference[i]} * reference[i]);
    noise += static_cast<uint64_t>(miss * miss);
  }
  if (noise == 0) {
    std::printf("inf\n");
  } else {
    std::printf("%.2f\n", 10 * std::log10(static_cast<double>(signal) / static_cast<double>(noise)));
  }
  return 0;
}
