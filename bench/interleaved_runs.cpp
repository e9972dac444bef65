// Times two commands against each other on a busy machine: warmed up once
// each, then run in pairs whose order alternates (AB, BA, AB, ...), so that
// a change of load hits both alike; the ratio of every pair is taken and
// the median reported. Each run also yields the kernel's account of it
// (wait4): peak resident memory, page faults, user and system time.
// Usage: interleaved_runs <pairs> <command A> <command B> [<output A> <output B>]
// Each command is one argument, split at spaces (no quoting); it runs with
// standard output and error on /dev/null. A command's output (a file, or a
// folder whose files go) is removed before each of its runs, untimed, so
// that both programs always write new files: replacing one costs an amount that
// depends on the file system (ext4 writes a file renamed or truncated over
// an old one back at once). Prints one line of key=value.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Run {
  double seconds;
  double user;
  double system;
  long peakKib;
  long minorFaults;
};

std::vector<std::string> words(const char* command) {
  std::istringstream in(command);
  std::vector<std::string> out;
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

void removeOutput(const std::string& output) {
  if (output.empty()) return;
  std::error_code ignored;
  if (std::filesystem::is_directory(output)) {
    for (const auto& entry : std::filesystem::directory_iterator(output, ignored)) {
      std::filesystem::remove(entry.path(), ignored);
    }
  } else {
    std::filesystem::remove(output, ignored);
  }
}

Run runOnce(const std::vector<std::string>& command, const std::string& output) {
  removeOutput(output);
  // Dirty pages of the previous run's output are written back first, so
  // that no run pays for another's writeback.
  sync();
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  double start = now();
  pid_t child = fork();
  if (child == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child) {
    std::printf("error=cannot-run\n");
    std::exit(1);
  }
  double elapsed = now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::printf("error=exit-status command=%s\n", command[0].c_str());
    std::exit(1);
  }
  return {elapsed, seconds(usage.ru_utime), seconds(usage.ru_stime), usage.ru_maxrss, usage.ru_minflt};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double quantile(std::vector<double> values, double q) {
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(q * static_cast<double>(values.size() - 1) + 0.5)];
}

void report(const char* name, const std::vector<Run>& runs) {
  std::vector<double> time, user, system, faults;
  long peak = 0;
  for (const Run& run : runs) {
    time.push_back(run.seconds);
    user.push_back(run.user);
    system.push_back(run.system);
    faults.push_back(static_cast<double>(run.minorFaults));
    peak = std::max(peak, run.peakKib);
  }
  std::printf(" %s_s=%.4f %s_user=%.4f %s_sys=%.4f %s_faults=%.0f %s_peak_kib=%ld", name, median(time), name,
              median(user), name, median(system), name, median(faults), name, peak);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 6) {
    std::printf("usage: interleaved_runs <pairs> <command A> <command B> [<output A> <output B>]\n");
    return 2;
  }
  std::string outA = argc == 6 ? argv[4] : "", outB = argc == 6 ? argv[5] : "";
  int pairs = std::max(1, std::atoi(argv[1]));
  std::vector<std::string> a = words(argv[2]), b = words(argv[3]);
  runOnce(a, outA);
  runOnce(b, outB);
  std::vector<Run> runsA, runsB;
  std::vector<double> ratios;
  for (int i = 0; i < pairs; ++i) {
    Run ra, rb;
    if (i % 2 == 0) {
      ra = runOnce(a, outA);
      rb = runOnce(b, outB);
    } else {
      rb = runOnce(b, outB);
      ra = runOnce(a, outA);
    }
    runsA.push_back(ra);
    runsB.push_back(rb);
    ratios.push_back(ra.seconds / rb.seconds);
  }
  std::printf("ratio=%.3f ratio_q1=%.3f ratio_q3=%.3f", median(ratios), quantile(ratios, 0.25), quantile(ratios, 0.75));
  report("a", runsA);
  report("b", runsB);
  std::printf("\n");
  return 0;
}
