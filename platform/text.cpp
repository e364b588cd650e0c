#include "platform/text.h"

#include <new>

namespace zelk {

UINT ConversionCodePage() { return CP_THREAD_ACP; }

HRESULT NarrowFromWide(const wchar_t* wide, std::string* narrow) {
  if (wide == nullptr || wide[0] == L'\0') {
    narrow->clear();
    return S_OK;
  }
  const UINT code_page = ConversionCodePage();
  // -1: up to and including the first NUL, so an embedded NUL ends the text.
  int size = WideCharToMultiByte(code_page, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return E_OUTOFMEMORY;
  try {
    std::string converted(static_cast<size_t>(size), '\0');
    size = WideCharToMultiByte(code_page, 0, wide, -1, &converted[0], size, nullptr, nullptr);
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
  const char* next = CharNextA(text);
  // CharNextA never moves past the NUL; a lone lead byte before the NUL must not
  // make us skip the terminator either.
  return next == text ? text + 1 : next;
}

unsigned char UpperChar(unsigned char c) {
  // CharUpperA takes a single character in the low word of its pointer argument.
  return static_cast<unsigned char>(
      reinterpret_cast<UINT_PTR>(CharUpperA(reinterpret_cast<LPSTR>(static_cast<UINT_PTR>(c)))));
}

bool IsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != FALSE; }

}  // namespace zelk
