// Narrow/wide conversion. Inside the server text is 8-bit, in the calling
// thread's ANSI code page; wide text appears only at the interface. This module
// is the only caller of MultiByteToWideChar and WideCharToMultiByte.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "platform/unique_resource.h"

namespace zelk {

// The code page used for every conversion in this process: the thread's ANSI
// code page (CP_THREAD_ACP).
UINT ConversionCodePage();

// Converts wide text up to its first NUL (a null pointer is the empty text) to
// narrow text; characters the code page cannot represent become its default
// character, never a look-alike (a fullwidth '/' does not become '/').
// Returns S_OK or E_OUTOFMEMORY; *narrow is untouched on failure.
HRESULT NarrowFromWide(const wchar_t* wide, std::string* narrow);

// Converts `length` bytes of narrow text to wide text. S_OK or E_OUTOFMEMORY;
// *wide is untouched on failure.
HRESULT WideFromNarrow(const char* narrow, size_t length, std::wstring* wide);

// Converts narrow text into a newly allocated BSTR of exactly the converted
// length (an empty text gives an empty, non-null BSTR). S_OK or E_OUTOFMEMORY;
// *bstr is untouched on failure.
HRESULT BstrFromNarrow(const std::string& narrow, UniqueBstr* bstr);

// A newly allocated BSTR copy of wide text. S_OK or E_OUTOFMEMORY.
HRESULT BstrFromWide(const std::wstring& wide, UniqueBstr* bstr);

// Steps over one character of narrow text, a double-byte character as one
// step; never steps past the terminating NUL.
const char* NextChar(const char* text);
inline char* NextChar(char* text) { return const_cast<char*>(NextChar(static_cast<const char*>(text))); }

// Upper-cases one character (the code page's own rules, as CharUpperA).
unsigned char UpperChar(unsigned char c);

// True when `c` is the lead byte of a double-byte character in the code page.
bool IsLeadByte(unsigned char c);

}  // namespace zelk
