// Listing folders and reading inputs on Windows, through the wide calls.
#include <windows.h>

#include <algorithm>

#include "host/host.h"
#include "host/windows/wide_text.h"

namespace {

constexpr size_t kLargestRead = size_t{1} << 30;

}  // namespace

bool hostListDirectory(const std::string& directory, std::vector<HostEntry>& entries) {
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW(widePath(directory + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    std::string name = utf8Text(data.cFileName);
    if (name == "." || name == "..") continue;
    DWORD attributes = data.dwFileAttributes;
    entries.push_back({name, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, (attributes & FILE_ATTRIBUTE_HIDDEN) != 0,
                       (attributes & FILE_ATTRIBUTE_SYSTEM) != 0});
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return true;
}

bool hostEntryExists(const std::string& path) {
  return ::GetFileAttributesW(widePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool hostOpenInput(const char* path, HostInput& input) {
  // A folder does not open this way; a device or pipe opens but is refused.
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE file = ::CreateFileW(widePath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size) || size.QuadPart < 0) {
    ::CloseHandle(file);
    return false;
  }
  input = {reinterpret_cast<intptr_t>(file), static_cast<uint64_t>(size.QuadPart)};
  return true;
}

int64_t hostReadInput(const HostInput& input, uint8_t* bytes, size_t count) {
  size_t done = 0;
  while (done < count) {
    DWORD got = 0;
    DWORD ask = static_cast<DWORD>(std::min(count - done, kLargestRead));
    if (!::ReadFile(reinterpret_cast<HANDLE>(input.handle), bytes + done, ask, &got, nullptr)) return -1;
    if (got == 0) break;
    done += got;
  }
  return static_cast<int64_t>(done);
}

void hostCloseInput(const HostInput& input) { ::CloseHandle(reinterpret_cast<HANDLE>(input.handle)); }
