// Process set-up on Windows: UTF-8 arguments, byte-exact standard output.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/windows/wide_text.h"

// The C runtime's own reading of the command line, in UTF-16 (msvcrt
// exports it; MinGW declares it in no public header). No wildcard is
// expanded: quarlix expands its patterns itself.
struct StartupInfo {
  int newMode;
};
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment, int expandWildcards,
                              StartupInfo* startup);

namespace {

UINT consoleCodePage = 0;

void restoreConsoleCodePage() { ::SetConsoleOutputCP(consoleCodePage); }

}  // namespace

void hostStart(int& argc, char**& argv) {
  // A build script must never wait on a window: no "insert a disk" prompt
  // for an empty drive, no crash dialog.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  // Standard output carries the same bytes as on every other host: a line
  // ends in "\n" alone, which the console shows as a line end too.
  _setmode(_fileno(stdout), _O_BINARY);
  // Names in messages are UTF-8; a console shows them as such only in that
  // code page, which the console gets back when the run ends.
  DWORD mode;
  if (::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode)) {
    consoleCodePage = ::GetConsoleOutputCP();
    if (::SetConsoleOutputCP(CP_UTF8)) std::atexit(restoreConsoleCodePage);
  }

  // The arguments as typed, in UTF-16, for names the ANSI code page lacks.
  int count = 0;
  wchar_t** wide = nullptr;
  wchar_t** environment = nullptr;
  StartupInfo startup = {0};
  if (__wgetmainargs(&count, &wide, &environment, 0, &startup) != 0 || wide == nullptr) return;
  static std::vector<std::string> texts;
  static std::vector<char*> pointers;
  for (int i = 0; i < count; ++i) texts.push_back(utf8Text(wide[i]));
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  argc = count;
  argv = pointers.data();
}
