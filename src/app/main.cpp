#include <cstdio>
#include <new>

#include "app/command_line.h"
#include "app/error_state.h"
#include "host/host.h"

int main(int argc, char** argv) {
  // Chunk contents and buffers are allocated without exceptions; this only
  // catches a name or list allocation failing, which ends the run the same way.
  try {
    hostStart(argc, argv);
    return runQuarlix(argc, argv);
  } catch (const std::bad_alloc&) {
    std::printf("Quarlix - Not enough memory !\n\n");
    std::fflush(stdout);
    return 1;
  }
}
