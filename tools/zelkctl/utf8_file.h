// Files the tool writes for other programs to read, and reads back: UTF-8,
// whatever the ANSI code page of the machine, so that a page declared as UTF-8
// is UTF-8 and a list moves between machines of different code pages.
#pragma once

#include <windows.h>

#include <string>

namespace zelk {
namespace ctl {

// Converts wide text to UTF-8; an unpaired surrogate becomes U+FFFD.
// S_OK, E_OUTOFMEMORY or the conversion's failure; *utf8 untouched on failure.
HRESULT Utf8FromWide(const std::wstring& wide, std::string* utf8);

// Converts UTF-8 to wide text. Bytes that are not UTF-8 fail with
// HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION); *wide untouched on failure.
HRESULT WideFromUtf8(const std::string& utf8, std::wstring* wide);

// Creates or replaces the file at `path` with `text` in UTF-8.
HRESULT WriteUtf8File(const std::wstring& path, const std::wstring& text);

// Replaces the file at `path` with `text` in UTF-8 as a whole or not at all:
// the text goes to a temporary file in the same folder, which then takes the
// file's place. On failure the temporary file is removed again.
HRESULT ReplaceFileWithUtf8(const std::wstring& path, const std::wstring& text);

// Every byte of the file at `path`, or of an open handle (standard input)
// up to its end. *bytes untouched on failure.
HRESULT ReadFileBytes(const std::wstring& path, std::string* bytes);
HRESULT ReadHandleBytes(HANDLE handle, std::string* bytes);

}  // namespace ctl
}  // namespace zelk
