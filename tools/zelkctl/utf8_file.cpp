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

}  // namespace

HRESULT Utf8FromWide(const std::wstring& wide, std::string* utf8) {
  if (wide.empty()) {
    utf8->clear();
    return S_OK;
  }
  if (wide.size() > static_cast<size_t>(INT_MAX)) return E_OUTOFMEMORY;
  const int length = static_cast<int>(wide.size());
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return StatusFromLastError();
  try {
    std::string converted(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, &converted[0], size, nullptr,
                            nullptr) != size) {
      return StatusFromLastError();
    }
    utf8->swap(converted);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

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

}  // namespace ctl
}  // namespace zelk
