// Narrow/wide conversion. Inside the server text is 8-bit, in the calling
// thread's ANSI code page; wide text appears only at the interface. This module
// is the only caller of MultiByteToWideChar and WideCharToMultiByte.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>

#include "platform/unique_resource.h"

namespace zelk {

// The code page used for every conversion in this process: the thread's ANSI
// code page (CP_THREAD_ACP).
UINT ConversionCodePage();

// Converts wide text up to its first NUL (a null pointer is the empty text) to
// narrow text; characters the code page cannot represent become its default
// character, never a look-alike (a fullwidth '/' does not become '/').
// `exact`, when given, tells whether the narrow text converts back to the
// same wide text (no character was replaced).
// Returns S_OK or E_OUTOFMEMORY; *narrow is untouched on failure.
HRESULT NarrowFromWide(const wchar_t* wide, std::string* narrow, bool* exact = nullptr);

// The narrow form of a client's string in storage on the stack when it fits,
// so that a question about a URL of ordinary length touches no heap.
class StackNarrow {
 public:
  StackNarrow() = default;
  StackNarrow(const StackNarrow&) = delete;
  StackNarrow& operator=(const StackNarrow&) = delete;

  // As NarrowFromWide. S_OK or E_OUTOFMEMORY (the text is then empty).
  HRESULT Assign(const wchar_t* wide);
  const char* c_str() const { return text_; }

 private:
  // Longer than any URL whose parts all fit their capacities.
  static constexpr size_t kInlineBytes = 6144;
  char inline_[kInlineBytes] = {};
  std::string spilled_;
  const char* text_ = inline_;
};

// Converts `length` bytes of narrow text to wide text. S_OK or E_OUTOFMEMORY;
// *wide is untouched on failure.
HRESULT WideFromNarrow(const char* narrow, size_t length, std::wstring* wide);

// Converts narrow text into a newly allocated BSTR of exactly the converted
// length (an empty text gives an empty, non-null BSTR). S_OK or E_OUTOFMEMORY;
// *bstr is untouched on failure.
HRESULT BstrFromNarrow(const std::string& narrow, UniqueBstr* bstr);

// UTF-8, for files that move between machines of different code pages.
// Converts wide text to UTF-8; an unpaired surrogate becomes U+FFFD.
// S_OK, E_OUTOFMEMORY or the conversion's failure; *utf8 untouched on failure.
HRESULT Utf8FromWide(const std::wstring& wide, std::string* utf8);

// Converts UTF-8 to wide text. Bytes that are not UTF-8 fail with
// HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION); *wide untouched on failure.
HRESULT WideFromUtf8(const std::string& utf8, std::wstring* wide);

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

// The one case-insensitive comparison of narrow text: character by character,
// a single-byte character after the code page's upper-casing (UpperChar), a
// double-byte character as one unit that must match byte for byte. Two texts
// are equal exactly when their FoldCase forms are equal.
bool EqualsIgnoringCase(const char* a, size_t a_length, const char* b, size_t b_length);
inline bool EqualsIgnoringCase(const std::string& a, const char* b) {
  return EqualsIgnoringCase(a.data(), a.size(), b, std::char_traits<char>::length(b));
}

// The text as EqualsIgnoringCase sees it: single-byte characters upper-cased,
// double-byte characters unchanged. May throw std::bad_alloc.
std::string FoldCase(const char* text, size_t length);

// A hash of FoldCase(text) that allocates nothing, mixed into `seed`: texts
// that are EqualsIgnoringCase hash alike.
uint32_t HashIgnoringCase(const char* text, size_t length, uint32_t seed);

}  // namespace zelk
