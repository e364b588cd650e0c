#include "poplog/pop_log.h"

#include <cerrno>
#include <cstdio>
#include <new>

#include "platform/registry_key.h"
#include "platform/status.h"
#include "platform/text.h"
#include "platform/unique_resource.h"
#include "poplog/log_row.h"
#include "safelist/url_parts.h"

namespace zelk {

namespace {

// --- C runtime failures ------------------------------------------------------

// The runtime's file functions leave the Win32 error of a failing system call
// as the thread's last error; failures the runtime finds by itself (a short
// write) only set errno. Both are cleared before a call so that neither can
// report a stale error.
void ClearCrtErrors() {
  SetLastError(ERROR_SUCCESS);
  errno = 0;
}

HRESULT StatusFromErrno(int error) {
  switch (error) {
    case ENOSPC: return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    case EACCES: return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    case ENOENT: return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case EMFILE: return HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES);
    case ENOMEM: return E_OUTOFMEMORY;
    default: return E_FAIL;
  }
}

// Call right after a failed C runtime call, before anything else can touch the
// last error.
HRESULT StatusAfterCrtFailure() {
  const DWORD error = GetLastError();
  if (error != ERROR_SUCCESS) return StatusFromWin32(static_cast<LONG>(error));
  return StatusFromErrno(errno);
}

// --- Settings ----------------------------------------------------------------

HRESULT OpenSettings(REGSAM access, RegistryKey* key) {
  return key->Open(HKEY_LOCAL_MACHINE, kSettingsKeyPath, access);
}

HRESULT ReadLogPath(const RegistryKey& key, std::string* path) {
  return key.ReadString(setting::kLogFile, path);
}

// --- Rows ----------------------------------------------------------------------

// Only a URL with a known scheme may become a link: script and data schemes
// decompose too, but would run in the reader's page when clicked.
bool IsLinkable(const std::string& url) {
  UrlParts parts;
  return parts.Decompose(url.c_str(), IsLeadByte) && parts.kind() != kSchemeUnknown;
}

// The bytes one call appends: the entry row, followed directly by the limit
// row when the new count passes the limit.
HRESULT FormatAppendedRows(const std::string* pop_url, const std::string& src_url,
                           const SYSTEMTIME& local_time, DWORD new_count, std::string* rows) {
  const RowUrl pop{pop_url, pop_url != nullptr && IsLinkable(*pop_url)};
  const RowUrl src{&src_url, IsLinkable(src_url)};
  std::string text;
  ZELK_RETURN_IF_FAILED(
      FormatEntryRow(pop, src, LogTimeFromSystemTime(local_time), IsLeadByte, &text));
  if (new_count > kLogCountLimit) {
    try {
      text.append(kLimitRow);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  rows->swap(text);
  return S_OK;
}

// --- File ----------------------------------------------------------------------

// Text mode: each LF of the rows is stored as CR LF.
HRESULT AppendToFile(const std::string& path, const std::string& text) {
  ClearCrtErrors();
  UniqueStdioFile file(std::fopen(path.c_str(), "a"));
  if (!file) return StatusAfterCrtFailure();
  ClearCrtErrors();
  if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size()) {
    return StatusAfterCrtFailure();
  }
  // Flushing here surfaces every write failure while it can still be
  // reported; the close that follows has nothing left to write.
  if (std::fflush(file.get()) != 0) return StatusAfterCrtFailure();
  if (CloseStdioFile(&file) != 0) return StatusAfterCrtFailure();
  return S_OK;
}

HRESULT FileSize(FILE* file, size_t* size) {
  if (std::fseek(file, 0, SEEK_END) != 0) return E_FAIL;
  const long end = std::ftell(file);
  if (end < 0) return E_FAIL;
  if (std::fseek(file, 0, SEEK_SET) != 0) return E_FAIL;
  *size = static_cast<size_t>(end);
  return S_OK;
}

// Reads a file opened in text mode: CR LF arrives as LF and a Ctrl-Z ends the
// text, so fewer bytes than the file's size may arrive. The text ends at its
// first NUL, as it would once converted for the client.
HRESULT ReadWholeTextFile(FILE* file, std::string* text) {
  size_t size = 0;
  ZELK_RETURN_IF_FAILED(FileSize(file, &size));
  std::string content;
  try {
    content.resize(size);
  } catch (const std::bad_alloc&) {
    // A log too large to hold is a failure of the log, as a failed seek is.
    return E_FAIL;
  }
  ClearCrtErrors();
  const size_t read = std::fread(&content[0], 1, size, file);
  if (std::ferror(file)) return StatusAfterCrtFailure();
  content.resize(read);
  const size_t nul = content.find('\0');
  if (nul != std::string::npos) content.resize(nul);
  text->swap(content);
  return S_OK;
}

HRESULT AssignText(const char* source, std::string* text) {
  try {
    text->assign(source);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

// A file that is not there is as cleared as a deleted one, whether the file
// or its folder is missing.
HRESULT DeleteLogFile(const std::string& path) {
  if (DeleteFileA(path.c_str())) return S_OK;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return S_OK;
  return StatusFromWin32(static_cast<LONG>(error));
}

}  // namespace

HRESULT AppendPopupEntry(const std::string* pop_url, const std::string& src_url,
                         LogSwitch logging) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return AppendPopupEntry(pop_url, src_url, now, logging);
}

HRESULT AppendPopupEntry(const std::string* pop_url, const std::string& src_url,
                         const SYSTEMTIME& local_time, LogSwitch logging) {
  // Write access is asked for even when logging turns out to be off, so a
  // server that could not record anything says so at once.
  RegistryKey key;
  ZELK_RETURN_IF_FAILED(OpenSettings(kReadWriteAccess, &key));
  if (logging == LogSwitch::kStoredSetting) {
    DWORD log_popup = 0;
    ZELK_RETURN_IF_FAILED(key.ReadDword(setting::kLogPopup, &log_popup));
    if (log_popup == 0) return S_OK;
  }
  DWORD count = 0;
  ZELK_RETURN_IF_FAILED(key.ReadDword(setting::kLogCount, &count));
  if (count > kLogCountLimit) return S_OK;  // full until the count is reset
  std::string path;
  ZELK_RETURN_IF_FAILED(ReadLogPath(key, &path));

  const DWORD new_count = count + 1;
  std::string rows;
  ZELK_RETURN_IF_FAILED(FormatAppendedRows(pop_url, src_url, local_time, new_count, &rows));
  // The count only grows for a row that is really in the file.
  ZELK_RETURN_IF_FAILED(AppendToFile(path, rows));
  return key.WriteDword(setting::kLogCount, new_count);
}

HRESULT ReadLog(std::string* text) {
  RegistryKey key;
  ZELK_RETURN_IF_FAILED(OpenSettings(kReadAccess, &key));
  std::string path;
  ZELK_RETURN_IF_FAILED(ReadLogPath(key, &path));
  UniqueStdioFile file(std::fopen(path.c_str(), "r"));
  // Whatever keeps the file from opening, the client is shown an empty log.
  if (!file) return AssignText(kEmptyLogRow, text);
  return ReadWholeTextFile(file.get(), text);
}

HRESULT ClearLog() {
  RegistryKey key;
  ZELK_RETURN_IF_FAILED(OpenSettings(kReadWriteAccess, &key));
  std::string path;
  ZELK_RETURN_IF_FAILED(ReadLogPath(key, &path));
  // The file goes first: another program may hold it open or it may be
  // read-only, and a count reset before a refused deletion would leave rows
  // the count no longer bounds. The key is open for writing already, so the
  // reset that follows a deletion can hardly fail; if it does, the status says
  // so and clearing again finishes the job.
  ZELK_RETURN_IF_FAILED(DeleteLogFile(path));
  return key.WriteDword(setting::kLogCount, 0);
}

}  // namespace zelk
