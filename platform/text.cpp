#include "platform/text.h"

#include <array>
#include <new>

namespace zelk {

UINT ConversionCodePage() { return CP_THREAD_ACP; }

namespace {

// Without this flag the system replaces a character the code page lacks by a
// look-alike ("best fit"): a fullwidth solidus or colon becomes '/' or ':', so
// text from a web page could smuggle URL delimiters past every check made on
// the wide form. With it, such a character becomes the default character.
constexpr DWORD kNoBestFit = WC_NO_BEST_FIT_CHARS;

// The flags for narrowing into `code_page`: UTF-8 and UTF-7 represent every
// character and refuse the flag (ERROR_INVALID_FLAGS).
DWORD NarrowingFlags(UINT code_page) {
  const wchar_t kProbe[] = L"?";
  const int probed =
      WideCharToMultiByte(code_page, kNoBestFit, kProbe, 1, nullptr, 0, nullptr, nullptr);
  return probed > 0 ? kNoBestFit : 0;
}

}  // namespace

HRESULT NarrowFromWide(const wchar_t* wide, std::string* narrow) {
  if (wide == nullptr || wide[0] == L'\0') {
    narrow->clear();
    return S_OK;
  }
  const UINT code_page = ConversionCodePage();
  const DWORD flags = NarrowingFlags(code_page);
  // -1: up to and including the first NUL, so an embedded NUL ends the text.
  int size = WideCharToMultiByte(code_page, flags, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return E_OUTOFMEMORY;
  try {
    std::string converted(static_cast<size_t>(size), '\0');
    size = WideCharToMultiByte(code_page, flags, wide, -1, &converted[0], size, nullptr, nullptr);
    if (size <= 0) return E_OUTOFMEMORY;
    converted.resize(static_cast<size_t>(size) - 1);
    narrow->swap(converted);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT WideFromNarrow(const char* narrow, size_t length, std::wstring* wide) {
  if (length == 0) {
    wide->clear();
    return S_OK;
  }
  if (length > 0x7fffffff) return E_OUTOFMEMORY;
  const UINT code_page = ConversionCodePage();
  const int narrow_length = static_cast<int>(length);
  int size = MultiByteToWideChar(code_page, 0, narrow, narrow_length, nullptr, 0);
  if (size <= 0) return E_OUTOFMEMORY;
  try {
    std::wstring converted(static_cast<size_t>(size), L'\0');
    size = MultiByteToWideChar(code_page, 0, narrow, narrow_length, &converted[0], size);
    if (size <= 0) return E_OUTOFMEMORY;
    converted.resize(static_cast<size_t>(size));
    wide->swap(converted);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT BstrFromWide(const std::wstring& wide, UniqueBstr* bstr) {
  BSTR copy = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (copy == nullptr) return E_OUTOFMEMORY;
  bstr->reset(copy);
  return S_OK;
}

HRESULT BstrFromNarrow(const std::string& narrow, UniqueBstr* bstr) {
  std::wstring wide;
  HRESULT status = WideFromNarrow(narrow.data(), narrow.size(), &wide);
  if (FAILED(status)) return status;
  return BstrFromWide(wide, bstr);
}

const char* NextChar(const char* text) {
  if (*text == '\0') return text;
  // A lead byte right before the terminator stands alone, as CharNextA has it.
  if (IsLeadByte(static_cast<unsigned char>(*text)) && text[1] != '\0') return text + 2;
  return text + 1;
}

namespace {

using UpperTable = std::array<unsigned char, 256>;

UpperTable BuildUpperTable() {
  UpperTable table;
  for (size_t c = 0; c < table.size(); ++c) {
    // CharUpperA takes a single character in the low word of its pointer argument.
    table[c] = static_cast<unsigned char>(
        reinterpret_cast<UINT_PTR>(CharUpperA(reinterpret_cast<LPSTR>(static_cast<UINT_PTR>(c)))));
  }
  return table;
}

}  // namespace

unsigned char UpperChar(unsigned char c) {
  // The safe list upper-cases every character it compares; asking the system
  // each time made a walk of 10,000 entries take tens of milliseconds. The
  // mapping of a single byte never changes while the process runs.
  static const UpperTable table = BuildUpperTable();
  return table[c];
}

bool IsLeadByte(unsigned char c) {
  // Asked for every character stepped over; the code page's lead bytes do not
  // change while the process runs.
  static const std::array<bool, 256> lead_bytes = [] {
    std::array<bool, 256> table;
    for (size_t byte = 0; byte < table.size(); ++byte) {
      table[byte] = IsDBCSLeadByte(static_cast<BYTE>(byte)) != FALSE;
    }
    return table;
  }();
  return lead_bytes[c];
}

}  // namespace zelk
