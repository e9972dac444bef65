// Runs the real quarlix binary in a scratch directory and captures what it
// prints, so command-line behaviour is tested end to end.
#pragma once

#include <string>
#include <vector>

struct CliResult {
  int status;
  std::string output;  // standard output
  std::string errors;  // standard error: always expected to stay empty
};

// A fresh directory under the system's temporary directory, removed again
// (with everything in it) when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The quarlix under test: QUARLIX_TEST_BINARY when set (the Windows build,
// quarlix.exe, run under Wine through QUARLIX_TEST_WRAPPER), else the one
// this suite was built with.
std::string quarlixBinary();
// True when that is the Windows build; cases that cannot exist there (other
// users, FIFOs, devices, file-size limits, POSIX absolute paths) skip.
bool testingWindowsBuild();

// Runs quarlix with `args` in directory `cwd`. When QUARLIX_TEST_WRAPPER is
// set (for instance to a valgrind command line), quarlix runs under it.
CliResult runQuarlixIn(const std::string& cwd, const std::vector<std::string>& args);
// The same as the unprivileged user nobody when the tests run as root, so
// that permission bits apply; `cwd` and the files used must be open to it.
CliResult runQuarlixUnprivilegedIn(const std::string& cwd, const std::vector<std::string>& args);
// The same under a file-size limit of `bytes`, as `ulimit -f` sets one.
CliResult runQuarlixWithSizeLimitIn(const std::string& cwd, long bytes, const std::vector<std::string>& args);
// Runs another program the way quarlix runs, under QUARLIX_TEST_WRAPPER (so
// a Windows command under Wine).
CliResult runWrappedIn(const std::string& cwd, const std::string& program, const std::vector<std::string>& args);
// Runs any program (a peer tool) in `cwd`; `program` is looked up on PATH.
CliResult runProgramIn(const std::string& cwd, const std::string& program, const std::vector<std::string>& args);

// The banner every run starts with.
extern const char* const kBanner;
extern const char* const kCompleted;
