// Output replacement on Windows: a hidden temporary file beside the target,
// moved over it with MoveFileEx. The replacement keeps the old file's
// hidden, system and archive attributes. A read-only file is refused, as
// Windows refuses to write one to anybody.
#include <windows.h>

#include <algorithm>

#include "host/host.h"
#include "host/windows/wide_text.h"

namespace {

using Image = std::initializer_list<std::span<const uint8_t>>;

constexpr size_t kLargestWrite = size_t{1} << 30;
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr int kTemporaryNameTries = 100;

bool writeAll(HANDLE file, Image image) {
  for (std::span<const uint8_t> part : image) {
    size_t done = 0;
    while (done < part.size()) {
      DWORD put = 0;
      DWORD ask = static_cast<DWORD>(std::min(part.size() - done, kLargestWrite));
      if (!::WriteFile(file, part.data() + done, ask, &put, nullptr) || put == 0) return false;
      done += put;
    }
  }
  return true;
}

// Writes through an open handle and closes it; a disk file is emptied first.
// A failure here can leave part of the image behind.
bool writeInPlace(HANDLE file, bool truncate, Image image) {
  bool ok = (!truncate || ::SetEndOfFile(file)) && writeAll(file, image);
  return ::CloseHandle(file) && ok;
}

HANDLE openExisting(const std::wstring& path) {
  return ::CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
}

std::wstring folderOf(const std::wstring& fullPath) { return fullPath.substr(0, fullPath.find_last_of(L"\\/") + 1); }

// Six letters or digits that differ between processes, runs and tries.
std::wstring uniqueLetters(int attempt) {
  uint64_t mix = ::GetTickCount64() ^ (uint64_t{::GetCurrentProcessId()} << 32) ^ static_cast<uint64_t>(attempt);
  LARGE_INTEGER counter;
  if (::QueryPerformanceCounter(&counter)) mix ^= static_cast<uint64_t>(counter.QuadPart) * 0x9E3779B97F4A7C15u;
  mix ^= mix >> 31;
  mix *= 0xBF58476D1CE4E5B9u;
  mix ^= mix >> 27;
  std::wstring letters;
  for (int i = 0; i < 6; ++i, mix /= 36) letters += L"0123456789abcdefghijklmnopqrstuvwxyz"[mix % 36];
  return letters;
}

// A short name of its own, hidden from pattern runs, so that every name the
// host allows can be the target. Sets `forbidden` when the folder refuses
// new files.
HANDLE createTemporary(const std::wstring& folder, std::wstring& name, bool& forbidden) {
  forbidden = false;
  for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
    name = extendedWhereLong(folder + L".quarlix-" + uniqueLetters(attempt));
    HANDLE file = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
    forbidden = error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT;
    break;
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace

bool hostCanReplaceFile(const char* path) {
  std::wstring target = fullWidePath(path);
  DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD folder = ::GetFileAttributesW(folderOf(target).c_str());
    return folder != INVALID_FILE_ATTRIBUTES && (folder & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return false;
  HANDLE file = openExisting(target);
  if (file == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(file);
  return true;
}

bool hostReplaceFile(const char* path, Image image) {
  std::wstring target = fullWidePath(path);
  DWORD attributes = ::GetFileAttributesW(target.c_str());
  bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  HANDLE existing = INVALID_HANDLE_VALUE;
  if (exists) {
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return false;
    existing = openExisting(target);
    if (existing == INVALID_HANDLE_VALUE) return false;
    // A device is written as it is.
    if (::GetFileType(existing) != FILE_TYPE_DISK) return writeInPlace(existing, false, image);
  }

  std::wstring temporary;
  bool forbidden = false;
  HANDLE file = createTemporary(folderOf(target), temporary, forbidden);
  if (file == INVALID_HANDLE_VALUE) {
    // The folder forbids a new file beside the target: write it in place.
    if (exists && forbidden) return writeInPlace(existing, true, image);
    if (exists) ::CloseHandle(existing);
    return false;
  }
  if (exists) ::CloseHandle(existing);
  bool ok = writeAll(file, image);
  ok = ::CloseHandle(file) && ok;
  DWORD kept = exists ? attributes & kKeptAttributes : 0;
  ok = ok && ::SetFileAttributesW(temporary.c_str(), kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL);
  ok = ok && ::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) ::DeleteFileW(temporary.c_str());
  return ok;
}
