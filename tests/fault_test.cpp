// Failing disks and awkward inputs through the real binary: every case ends
// with its message and exit status 1, creates nothing and leaves every
// existing file, the input included, exactly as it was.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/error_state.h"
#include "app/file_job.h"
#include "app/job_options.h"
#include "support/cli_runner.h"
#include "support/wav_builder.h"

namespace {

namespace fs = std::filesystem;

// Every entry below the directory: file contents, link targets, directories.
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> entries;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    std::string name = entry.path().string().substr(root.size());
    if (entry.is_symlink()) {
      entries[name] = "link to " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      entries[name] = "directory";
    } else if (entry.is_regular_file()) {
      Bytes bytes = readFileBytes(entry.path().string());
      entries[name] = std::string(bytes.begin(), bytes.end());
    } else {
      entries[name] = "special";
    }
  }
  return entries;
}

class FaultTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  void SetUp() override {
    // Open to the unprivileged user the permission cases run as.
    ::chmod(dir.path().c_str(), 0755);
    ::mkdir(dir.file("snd").c_str(), 0755);
    writeFileBytes(dir.file("snd/in.wav"), monoPcmWave({100, -200, 300, -400, 500, -600, 700, -800}));
  }
  void TearDown() override { resetErrorState(); }

  enum class Run { Plain, Unprivileged, SizeLimited };
  static constexpr long kSizeLimit = 2048;

  // Runs quarlix and checks the failure and that the tree is untouched.
  void expectCleanFailure(const std::vector<std::string>& args, const std::string& message, Run how = Run::Plain,
                          const std::string& cwd = "") {
    std::map<std::string, std::string> before = snapshot(dir.path());
    std::string where = cwd.empty() ? dir.path() : dir.file(cwd);
    CliResult result = how == Run::Unprivileged  ? runQuarlixUnprivilegedIn(where, args)
                       : how == Run::SizeLimited ? runQuarlixWithSizeLimitIn(where, kSizeLimit, args)
                                                 : runQuarlixIn(where, args);
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.status, 1) << result.output;
    ASSERT_GE(result.output.size(), message.size() + 1) << result.output;
    EXPECT_EQ(result.output.substr(result.output.size() - message.size() - 1), message + "\n");
    EXPECT_EQ(snapshot(dir.path()), before) << "no file may be created, changed or removed";
  }
};

TEST_F(FaultTest, OutputDirectoryNotWritable) {
  if (testingWindowsBuild()) GTEST_SKIP() << "runs as another user";
  ::mkdir(dir.file("locked").c_str(), 0555);
  ::chmod(dir.file("snd").c_str(), 0555);
  // The WAV output lands in the current directory.
  expectCleanFailure({"-ow", "../snd/in.wav"}, "Quarlix - Unable the write chunk !\n", Run::Unprivileged,
                     "locked");
  // The sample outputs land beside the input.
  for (const char* option : {"-ob", "-oc", "-or"}) {
    std::string extension = option[2] == 'b' ? ".bin" : option[2] == 'c' ? ".c" : ".sam";
    expectCleanFailure({option, "snd/in.wav"},
                       "Quarlix - Can't open output file \"snd/in" + extension + "\" !\n", Run::Unprivileged);
  }
}

TEST_F(FaultTest, OutputPathIsADirectory) {
  for (const char* name : {"in.wav", "snd/in.bin", "snd/in.c", "snd/in.sam"}) ::mkdir(dir.file(name).c_str(), 0755);
  writeFileBytes(dir.file("snd/in.c/keep"), {1, 2, 3});
  expectCleanFailure({"-c", "snd/in.wav"}, "Quarlix - Unable the write chunk !\n");
  expectCleanFailure({"-ob", "snd/in.wav"}, "Quarlix - Can't open output file \"snd/in.bin\" !\n");
  expectCleanFailure({"-oc", "snd/in.wav"}, "Quarlix - Can't open output file \"snd/in.c\" !\n");
  expectCleanFailure({"-r", "snd/in.wav"}, "Quarlix - Can't open output file \"snd/in.sam\" !\n");
}

TEST_F(FaultTest, EveryWriteFails) {
  // Each output name leads to /dev/full, where every write fails.
  for (const char* name : {"in.wav", "snd/in.bin", "snd/in.c", "snd/in.sam"}) {
    ASSERT_EQ(::symlink("/dev/full", dir.file(name).c_str()), 0);
  }
  expectCleanFailure({"-d", "snd/in.wav"}, "Quarlix - Unable the write chunk !\n");
  expectCleanFailure({"-ob", "snd/in.wav"}, "Quarlix - Can't write data to output file \"snd/in.bin\" !\n");
  expectCleanFailure({"-c", "-oc", "snd/in.wav"}, "Quarlix - Can't write data to output file \"snd/in.c\" !\n");
  expectCleanFailure({"-tu", "-or", "snd/in.wav"}, "Quarlix - Can't write data to output file \"snd/in.sam\" !\n");
}

TEST_F(FaultTest, OutputsTheUserMayNotWriteAreKept) {
  if (testingWindowsBuild()) GTEST_SKIP() << "runs as another user";
  // Both folders let the user create files, so only the outputs' own
  // permission can refuse them.
  ::mkdir(dir.file("open").c_str(), 0755);
  for (const char* folder : {"open", "snd"}) ::chmod(dir.file(folder).c_str(), 0777);
  for (const char* name : {"open/in.wav", "snd/in.bin", "snd/in.c", "snd/in.sam"}) {
    writeFileBytes(dir.file(name), {'o', 'l', 'd'});
    ::chmod(dir.file(name).c_str(), 0444);
  }
  expectCleanFailure({"-ow", "../snd/in.wav"}, "Quarlix - Unable the write chunk !\n", Run::Unprivileged, "open");
  expectCleanFailure({"-ob", "snd/in.wav"}, "Quarlix - Can't open output file \"snd/in.bin\" !\n", Run::Unprivileged);
  expectCleanFailure({"-oc", "snd/in.wav"}, "Quarlix - Can't open output file \"snd/in.c\" !\n", Run::Unprivileged);
  expectCleanFailure({"-r", "snd/in.wav"}, "Quarlix - Can't open output file \"snd/in.sam\" !\n", Run::Unprivileged);
}

TEST_F(FaultTest, FileSizeLimitCutsTheStoreShort) {
  if (testingWindowsBuild()) GTEST_SKIP() << "no file-size limit there";
  // Every output of 2000 samples is larger than the limit; the old ones are not.
  writeFileBytes(dir.file("snd/in.wav"), monoPcmWave(std::vector<int16_t>(2000, 1234)));
  for (const char* name : {"in.wav", "snd/in.bin", "snd/in.c", "snd/in.sam"}) writeFileBytes(dir.file(name), {1});
  expectCleanFailure({"-ow", "snd/in.wav"}, "Quarlix - Unable the write chunk !\n", Run::SizeLimited);
  expectCleanFailure({"-ob", "snd/in.wav"}, "Quarlix - Can't write data to output file \"snd/in.bin\" !\n",
                     Run::SizeLimited);
  expectCleanFailure({"-oc", "snd/in.wav"}, "Quarlix - Can't write data to output file \"snd/in.c\" !\n",
                     Run::SizeLimited);
  expectCleanFailure({"-r", "snd/in.wav"}, "Quarlix - Can't write data to output file \"snd/in.sam\" !\n",
                     Run::SizeLimited);
}

TEST_F(FaultTest, InputsThatCannotBeRead) {
  if (testingWindowsBuild()) GTEST_SKIP() << "FIFOs, another user, symbolic links";
  ASSERT_EQ(::mkfifo(dir.file("snd/pipe.wav").c_str(), 0644), 0);
  expectCleanFailure({"-ow", "snd/pipe.wav"}, "Quarlix - Unable to open input file \"snd/pipe.wav\" !\n");
  ::mkdir(dir.file("snd/folder.wav").c_str(), 0755);
  expectCleanFailure({"-ow", "snd/folder.wav"}, "Quarlix - Unable to open input file \"snd/folder.wav\" !\n");
  writeFileBytes(dir.file("snd/secret.wav"), monoPcmWave({1, 2}));
  ::chmod(dir.file("snd/secret.wav").c_str(), 0);
  expectCleanFailure({"-ow", "snd/secret.wav"}, "Quarlix - Unable to open input file \"snd/secret.wav\" !\n",
                     Run::Unprivileged);
  // A link whose target is gone is named but cannot be found.
  ASSERT_EQ(::symlink("nowhere.wav", dir.file("snd/dangling.wav").c_str()), 0);
  expectCleanFailure({"-ow", "snd/dangling.wav"}, "Quarlix - File not found !\n");
}

TEST_F(FaultTest, InputThatVanishesAfterTheSearch) {
  // The job is handed a path the search found; by the time it opens it, the
  // file is gone.
  jobOptions = JobOptions{};
  std::string path = dir.file("snd/gone.wav");
  writeFileBytes(path, monoPcmWave({1}));
  ASSERT_EQ(::unlink(path.c_str()), 0);
  EXPECT_EQ(processFile(path), -3);
  EXPECT_EQ(std::string(errorMessage), "Quarlix - Unable to open input file \"" + path + "\" !\n");
}

}  // namespace
