// Process set-up on POSIX hosts.
#include <csignal>

#include "host/host.h"

void hostStart(int&, char**&) {
  // A store cut short by the file-size limit fails like any short write
  // (EFBIG), so the writer reports it and removes its temporary file,
  // instead of the signal ending the process half way.
  std::signal(SIGXFSZ, SIG_IGN);
}
