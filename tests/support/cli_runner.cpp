#include "support/cli_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

const char* const kBanner = "\nQuarlix v1.51 (May  8 1998) by Velmorik\n\n";
const char* const kCompleted = "Quarlix - Operation Completed OK !\n\n";

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quarlix-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

namespace {

void drain(int outFd, int errFd, CliResult& result) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&result.output, &result.errors};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(got));
      } else {
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

CliResult runProgramIn(const std::string& cwd, const std::string& program, const std::vector<std::string>& args) {
  int outPipe[2], errPipe[2];
  if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, 0);
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::execvp(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  CliResult result{-1, {}, {}};
  drain(outPipe[0], errPipe[0], result);
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::string quarlixBinary() {
  const char* chosen = std::getenv("QUARLIX_TEST_BINARY");
  return chosen != nullptr && chosen[0] != '\0' ? chosen : QUARLIX_BIN;
}

bool testingWindowsBuild() { return quarlixBinary().ends_with(".exe"); }

namespace {

// The wrapper command's words, then the program and its arguments.
std::vector<std::string> wrappedCommand(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> command;
  if (const char* wrapper = std::getenv("QUARLIX_TEST_WRAPPER")) {
    std::istringstream words(wrapper);
    for (std::string word; words >> word;) command.push_back(word);
  }
  command.push_back(program);
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

std::vector<std::string> wrappedCommand(const std::vector<std::string>& args) {
  return wrappedCommand(quarlixBinary(), args);
}

CliResult runCommandIn(const std::string& cwd, std::vector<std::string> command) {
  std::string program = command.front();
  command.erase(command.begin());
  return runProgramIn(cwd, program, command);
}

}  // namespace

CliResult runQuarlixIn(const std::string& cwd, const std::vector<std::string>& args) {
  CliResult result = runCommandIn(cwd, wrappedCommand(args));
  // Now and then Wine fails a start silently: the program prints nothing and
  // the status is 1. quarlix prints its banner before it does anything else,
  // so a run of the Windows build that printed nothing at all is started
  // again; a fault of quarlix's own would repeat.
  for (int retry = 0; retry < 2 && testingWindowsBuild() && result.output.empty() && result.errors.empty(); ++retry) {
    result = runCommandIn(cwd, wrappedCommand(args));
  }
  return result;
}

CliResult runWrappedIn(const std::string& cwd, const std::string& program, const std::vector<std::string>& args) {
  return runCommandIn(cwd, wrappedCommand(program, args));
}

CliResult runQuarlixUnprivilegedIn(const std::string& cwd, const std::vector<std::string>& args) {
  std::vector<std::string> command = wrappedCommand(args);
  if (::geteuid() == 0) {
    command.insert(command.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  }
  return runCommandIn(cwd, command);
}

CliResult runQuarlixWithSizeLimitIn(const std::string& cwd, long bytes, const std::vector<std::string>& args) {
  std::vector<std::string> command = wrappedCommand(args);
  command.insert(command.begin(), {"prlimit", "--fsize=" + std::to_string(bytes)});
  return runCommandIn(cwd, command);
}
