// Files the tool writes for other programs to read, and reads back: UTF-8,
// whatever the ANSI code page of the machine, so that a page declared as UTF-8
// is UTF-8 and a list moves between machines of different code pages.
#pragma once

#include <windows.h>

#include <string>

#include "platform/text.h"

namespace zelk {
namespace ctl {

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
