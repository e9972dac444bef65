// Existing outputs replaced through the real binary: what the new file keeps
// of the old one, where it is written in place, and which names fit.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/cli_runner.h"
#include "support/wav_builder.h"

namespace {

namespace fs = std::filesystem;

const std::vector<int16_t> kSamples = {100, -200, 300, -400, 500, -600, 700, -800};

struct Writer {
  const char* option;
  const char* extension;
};
const Writer kWriters[] = {{"-ow", ".wav"}, {"-ob", ".bin"}, {"-oc", ".c"}, {"-or", ".sam"}};

std::set<std::string> namesIn(const std::string& directory) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// The runs start in the scratch directory, where the WAV output lands; the
// input and the other outputs lie in snd/. A replacement must hold what a fresh output holds (the writers'
// contents are tested on their own).
class OutputReplacementTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::vector<Bytes> fresh;
  void SetUp() override {
    // Open to the unprivileged user the in-place case runs as.
    ::chmod(dir.path().c_str(), 0755);
    ::mkdir(dir.file("snd").c_str(), 0755);
    writeFileBytes(dir.file("snd/in.wav"), monoPcmWave(kSamples));
    for (const Writer& writer : kWriters) {
      run(writer);
      fresh.push_back(readFileBytes(outputOf(writer)));
      ::unlink(outputOf(writer).c_str());
    }
    ASSERT_EQ(fresh[0], monoPcmWave(kSamples));
  }
  std::string outputOf(const Writer& writer, const std::string& base = "in") {
    return dir.file((writer.extension == std::string(".wav") ? "" : "snd/") + base + writer.extension);
  }
  void run(const Writer& writer, const std::string& input = "in.wav", bool unprivileged = false) {
    std::vector<std::string> args = {writer.option, "snd/" + input};
    CliResult result = unprivileged ? runQuarlixUnprivilegedIn(dir.path(), args) : runQuarlixIn(dir.path(), args);
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.status, 0) << writer.option << result.output;
  }
};

TEST_F(OutputReplacementTest, KeepsModeOwnerAndGroup) {
  if (testingWindowsBuild()) GTEST_SKIP() << "no permission bits or owners there";
  // Root may write anything, a read-only file included, as the truncating
  // open always did; anyone else needs the write permission.
  // The set-id and sticky bits are kept too (set after the owner, whose
  // change clears them).
  const bool root = ::geteuid() == 0;
  const mode_t mode = root ? 07444 : 07640;
  for (size_t w = 0; w < std::size(kWriters); ++w) {
    std::string output = outputOf(kWriters[w]);
    writeFileBytes(output, Bytes(5000, 'x'));
    if (root) {
      ASSERT_EQ(::chown(output.c_str(), 65534, 65534), 0);
    }
    ::chmod(output.c_str(), mode);
    run(kWriters[w]);
    EXPECT_EQ(readFileBytes(output), fresh[w]) << kWriters[w].option;
    struct stat info;
    ASSERT_EQ(::stat(output.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, mode) << kWriters[w].option;
    if (root) {
      EXPECT_EQ(info.st_uid, 65534u) << kWriters[w].option;
      EXPECT_EQ(info.st_gid, 65534u) << kWriters[w].option;
    }
  }
  EXPECT_EQ(namesIn(dir.file("snd")), (std::set<std::string>{"in.wav", "in.bin", "in.c", "in.sam"}));
  EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"snd", "in.wav"}));
}

// A new output takes the mode the umask leaves (002, where 664 and 644
// differ); an output that is a link to a file writes the file, and the
// link stays.
TEST_F(OutputReplacementTest, NewFilesFollowTheUmaskAndLinksStay) {
  if (testingWindowsBuild()) GTEST_SKIP() << "no umask or symbolic links there";
  mode_t saved = ::umask(002);
  for (size_t w = 0; w < std::size(kWriters); ++w) {
    run(kWriters[w]);
    struct stat info;
    ASSERT_EQ(::stat(outputOf(kWriters[w]).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0664u) << kWriters[w].option;
  }
  ::umask(saved);
  ::mkdir(dir.file("elsewhere").c_str(), 0755);
  for (size_t w = 0; w < std::size(kWriters); ++w) {
    std::string target = dir.file(std::string("elsewhere/out") + kWriters[w].extension);
    writeFileBytes(target, Bytes(5000, 'x'));
    ::unlink(outputOf(kWriters[w]).c_str());
    ASSERT_EQ(::symlink(target.c_str(), outputOf(kWriters[w]).c_str()), 0);
    run(kWriters[w]);
    struct stat info;
    ASSERT_EQ(::lstat(outputOf(kWriters[w]).c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode)) << kWriters[w].option;
    EXPECT_EQ(readFileBytes(target), fresh[w]) << kWriters[w].option;
  }
}

TEST_F(OutputReplacementTest, WrittenInPlaceWhereTheFolderForbidsNewFiles) {
  if (testingWindowsBuild()) GTEST_SKIP() << "runs as another user";
  for (const Writer& writer : kWriters) {
    writeFileBytes(outputOf(writer), Bytes(5000, 'x'));
    ::chmod(outputOf(writer).c_str(), 0666);
  }
  ::chmod(dir.file("snd").c_str(), 0555);
  ::chmod(dir.path().c_str(), 0555);
  for (size_t w = 0; w < std::size(kWriters); ++w) {
    run(kWriters[w], "in.wav", true);
    EXPECT_EQ(readFileBytes(outputOf(kWriters[w])), fresh[w]) << kWriters[w].option;
  }
}

TEST_F(OutputReplacementTest, LongestNamesAreWritable) {
  // 255 bytes, the most this host allows in one name, for input and outputs;
  // the argument is 259 characters long.
  const std::string base(251, 'n');
  writeFileBytes(dir.file("snd/" + base + ".wav"), monoPcmWave(kSamples));
  for (const Writer& writer : kWriters) {
    run(writer, base + ".wav");
    EXPECT_TRUE(fileExists(outputOf(writer, base))) << writer.option;
  }
}

}  // namespace
