// Files the tool writes for other programs to read: UTF-8, whatever the ANSI
// code page of the machine, so that a page declared as UTF-8 is UTF-8.
#pragma once

#include <windows.h>

#include <string>

namespace zelk {
namespace ctl {

// Converts wide text to UTF-8; an unpaired surrogate becomes U+FFFD.
// S_OK, E_OUTOFMEMORY or the conversion's failure; *utf8 untouched on failure.
HRESULT Utf8FromWide(const std::wstring& wide, std::string* utf8);

// Creates or replaces the file at `path` with `text` in UTF-8.
HRESULT WriteUtf8File(const std::wstring& path, const std::wstring& text);

}  // namespace ctl
}  // namespace zelk
