// The writers' shared preparation and data-length rule on records built in
// memory, and the CR LF text assembly.
#include <gtest/gtest.h>

#include <string>

#include "app/error_state.h"
#include "app/file_job.h"
#include "app/job_options.h"
#include "support/block_format_wave.h"
#include "support/cli_runner.h"
#include "support/wave_records.h"
#include "writers/sample_output.h"

namespace {

const SampleWriter kWriter = {".bin", "mono refused\n", "type refused\n"};

WaveFile patternBlockRecord(uint16_t tag, uint16_t align, uint16_t spb, uint32_t fact, size_t dataBytes) {
  Bytes factBytes = factContents(fact);
  return waveRecord(blockFormatContents(tag, 8000, align, spb), factBytes, patternBytes(dataBytes));
}

class SampleOutputTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  void SetUp() override {
    resetErrorState();
    jobOptions = JobOptions{};
    jobNames = JobNames{};
    jobNames.directory = dir.path() + "/";
    jobNames.baseName = "x";
  }
  void TearDown() override {
    resetErrorState();
    jobOptions = JobOptions{};
    jobNames = JobNames{};
  }
  SampleOutput prepared(WaveFile& wave) {
    SampleOutput output{};
    EXPECT_EQ(prepareSampleOutput(wave, kWriter, output), 0) << errorMessage;
    return output;
  }
};

TEST_F(SampleOutputTest, CountsAndLengthsOfEachType) {
  struct Case {
    uint16_t tag, align, spb;
    uint32_t fact;
    size_t dataBytes;
    SampleType type;
    uint32_t count;
    size_t length;
  } cases[] = {
      {0x2000, 32, 60, 130, 96, 5, 130, 64 + 2 + 5},   // two blocks and 10 samples
      {0x2000, 32, 60, 120, 96, 5, 120, 64},           // whole blocks only
      {0x2000, 32, 60, 121, 96, 5, 121, 64 + 2 + 1},   // a lone sample still takes a byte
      {17, 256, 505, 1020, 768, 3, 1020, 512 + 4 + 8},  // two blocks and 10 samples
      {17, 256, 505, 1011, 768, 3, 1011, 512 + 4},      // the first sample sits in the block header
      {17, 256, 505, 1012, 768, 3, 1012, 512 + 4 + 4},
      {49, 65, 320, 640, 131, 4, 640, 131},            // GSM data whole
      {0x2003, 9, 16, 70, 50, 6, 70, 45},              // a partial block counts whole
      {0x2003, 9, 16, 999, 50, 6, 80, 45},             // the count is cut to whole blocks
  };
  for (const Case& c : cases) {
    WaveFile wave = patternBlockRecord(c.tag, c.align, c.spb, c.fact, c.dataBytes);
    SampleOutput output = prepared(wave);
    EXPECT_EQ(output.type, c.type);
    EXPECT_EQ(output.sampleCount, c.count) << c.tag << " " << c.fact;
    EXPECT_EQ(wave.sampleCount, static_cast<int32_t>(c.count));
    EXPECT_EQ(factSampleCount(wave), c.count) << "the record keeps the cut count";
    EXPECT_EQ(sampleDataLength(wave, output.type, output.sampleCount), c.length) << c.tag << " " << c.fact;
  }
}

TEST_F(SampleOutputTest, PcmCountAndOutputBesideTheInput) {
  WaveFile wave = waveRecord(pcmFormat(1, 8000, 16), std::nullopt, Bytes(7, 0));
  SampleOutput output = prepared(wave);
  EXPECT_EQ(output.type, kSampleTypePcm);
  EXPECT_EQ(output.sampleCount, 3u);
  EXPECT_EQ(sampleDataLength(wave, output.type, output.sampleCount), 6u);
  EXPECT_EQ(jobNames.outputPath, dir.path() + "/x.bin");
  EXPECT_FALSE(fileExists(jobNames.outputPath)) << "nothing is stored before the image is complete";
}

TEST_F(SampleOutputTest, HostileGeometryNeverReachesPastTheData) {
  // A partial block of 500 IMA samples would take 256 bytes; only 8 exist.
  WaveFile wave = patternBlockRecord(17, 4, 1000, 1500, 8);
  SampleOutput output = prepared(wave);
  EXPECT_EQ(output.sampleCount, 1500u);
  EXPECT_EQ(sampleDataLength(wave, output.type, output.sampleCount), 8u);
  // Nor does a geometry without blocks divide by zero when asked directly.
  WaveFile noBlocks = patternBlockRecord(0x2000, 32, 0, 100, 64);
  EXPECT_EQ(sampleDataLength(noBlocks, kSampleTypeOrbel, 100), 0u);
  SampleOutput refused{};
  EXPECT_EQ(prepareSampleOutput(noBlocks, kWriter, refused), -10);
  EXPECT_STREQ(errorMessage, "type refused\n");
}

TEST_F(SampleOutputTest, BlockRecordWithoutFactHasNoSamples) {
  WaveFile wave = waveRecord(blockFormatContents(0x2000, 8000, 32, 60), std::nullopt, patternBytes(64));
  SampleOutput output = prepared(wave);
  EXPECT_EQ(output.sampleCount, 0u);
  EXPECT_EQ(sampleDataLength(wave, output.type, 0), 0u);
}

TEST(TextImageTest, LineFeedsBecomeCrLfAcrossGrowth) {
  TextImage text;
  std::string expected;
  for (int i = 0; i < 2000; ++i) {
    appendText(text, "%d\n%s", i, i % 3 == 0 ? "\n" : "-");
    expected += std::to_string(i) + "\r\n" + (i % 3 == 0 ? "\r\n" : "-");
  }
  appendText(text, "%s", "");
  EXPECT_FALSE(text.outOfMemory);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(text.bytes.data()), text.length), expected);
}

}  // namespace
