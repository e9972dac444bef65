#include <csignal>
#include <cstdio>
#include <new>

#include "app/command_line.h"
#include "app/error_state.h"

int main(int argc, char** argv) {
  // A store cut short by the file-size limit fails like any short write
  // (EFBIG), so the writer reports it and removes its temporary file,
  // instead of the signal ending the process half way.
  std::signal(SIGXFSZ, SIG_IGN);
  // Chunk contents and buffers are allocated without exceptions; this only
  // catches a name or list allocation failing, which ends the run the same way.
  try {
    return runQuarlix(argc, argv);
  } catch (const std::bad_alloc&) {
    std::printf("Quarlix - Not enough memory !\n\n");
    std::fflush(stdout);
    return 1;
  }
}
