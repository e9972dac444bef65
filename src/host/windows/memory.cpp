// Large blocks on Windows: committed virtual memory, zero until written.
// Its large pages need a privilege a console tool does not hold.
#include <windows.h>

#include "host/host.h"

void* hostMapMemory(size_t size) { return ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE); }

void hostUnmapMemory(void* bytes, size_t) { ::VirtualFree(bytes, 0, MEM_RELEASE); }
