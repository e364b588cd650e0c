#include "tools/zelkctl/utf8_file.h"

#include <algorithm>
#include <climits>
#include <new>

#include "platform/status.h"
#include "platform/unique_resource.h"

namespace zelk {
namespace ctl {

namespace {

HRESULT WriteAll(HANDLE file, const std::string& bytes) {
  size_t offset = 0;
  while (offset < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - offset, 1 << 20));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + offset, chunk, &written, nullptr)) {
      return StatusFromLastError();
    }
    if (written == 0) return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    offset += written;
  }
  return S_OK;
}

// The full path of `path` and the length of its folder part (with the final
// backslash). A path that names a folder fails with ERROR_INVALID_NAME.
HRESULT SplitFullPath(const std::wstring& path, std::wstring* full, size_t* folder_length) {
  const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return StatusFromLastError();
  std::wstring buffer(size, L'\0');
  wchar_t* file_part = nullptr;
  const DWORD length = GetFullPathNameW(path.c_str(), size, &buffer[0], &file_part);
  if (length == 0 || length >= size) return StatusFromLastError();
  if (file_part == nullptr) return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
  *folder_length = static_cast<size_t>(file_part - buffer.c_str());
  buffer.resize(length);
  full->swap(buffer);
  return S_OK;
}

// Writes and flushes `text` into the new, empty `temporary` file, then moves
// it over `target`.
HRESULT WriteAndMove(const std::wstring& temporary, const std::wstring& target,
                     const std::wstring& text) {
  ZELK_RETURN_IF_FAILED(WriteUtf8File(temporary, text));
  if (!MoveFileExW(temporary.c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return StatusFromLastError();
  }
  return S_OK;
}

}  // namespace

HRESULT WriteUtf8File(const std::wstring& path, const std::wstring& text) {
  std::string bytes;
  ZELK_RETURN_IF_FAILED(Utf8FromWide(text, &bytes));
  UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return StatusFromLastError();
  ZELK_RETURN_IF_FAILED(WriteAll(file.get(), bytes));
  // A failed flush is the last chance to learn that the page did not reach
  // the disk whole.
  if (!FlushFileBuffers(file.get())) return StatusFromLastError();
  return S_OK;
}

HRESULT ReplaceFileWithUtf8(const std::wstring& path, const std::wstring& text) {
  std::wstring full;
  size_t folder_length = 0;
  ZELK_RETURN_IF_FAILED(SplitFullPath(path, &full, &folder_length));
  wchar_t temporary[MAX_PATH];
  if (GetTempFileNameW(full.substr(0, folder_length).c_str(), L"zlk", 0, temporary) == 0) {
    return StatusFromLastError();
  }
  const HRESULT status = WriteAndMove(temporary, full, text);
  // Best effort: the failure to report is the write's or the move's.
  if (FAILED(status)) static_cast<void>(DeleteFileW(temporary));
  return status;
}

HRESULT ReadHandleBytes(HANDLE handle, std::string* bytes) {
  std::string content;
  char buffer[65536];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(handle, buffer, sizeof(buffer), &read, nullptr)) {
      // The writer of a pipe closing its end is the end of the input.
      if (GetLastError() == ERROR_BROKEN_PIPE) break;
      return StatusFromLastError();
    }
    if (read == 0) break;
    content.append(buffer, read);
  }
  bytes->swap(content);
  return S_OK;
}

HRESULT ReadFileBytes(const std::wstring& path, std::string* bytes) {
  UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return StatusFromLastError();
  return ReadHandleBytes(file.get(), bytes);
}

}  // namespace ctl
}  // namespace zelk
