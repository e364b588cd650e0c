// The safe list as lines of text, shared by "list", "list export" and
// "list import": one entry per line, "page URL", "site URL" or "domain URL",
// and "type=N URL" for a stored type that is not one of the three. A file
// holds these lines in UTF-8 with LF line ends after a comment line that
// counts them; an import also reads UTF-16 files that begin with a byte
// order mark, as PowerShell writes them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tools/zelkctl/typed_safe_list.h"

namespace zelk {
namespace ctl {

// "page URL", or "type=N URL"; the URL exactly as given.
std::wstring EntryLine(const TypedEntry& entry);

// Why `key` cannot be written as the URL of a line that reads back the same
// (a control character, a blank at either end, which reading drops, or a '#'
// after a blank, which reading takes for a comment); empty when it can.
std::wstring WhyNotOnOneLine(const std::wstring& key);

// The whole file: the comment line "# zelkctl safe list, N entries", then
// one line per entry.
std::wstring SafeListFileText(const std::vector<TypedEntry>& entries);

// A line of a file read for import.
struct ImportLine {
  size_t number;  // from 1
  const EntryKind* kind;
  std::wstring url;
};

struct LineError {
  size_t number;
  std::wstring reason;
};

// Reads the bytes of a file: UTF-8 with or without its byte order mark, or
// UTF-16 LE or BE after theirs; LF or CR LF line ends; '#' comments, blank
// lines, blanks around the words, and a comment after an entry ("page URL
// # why", the '#' after a blank). Every line that is not an entry of one of
// the three types nor ignorable is an error, and so is an entry whose URL the
// server would refuse. S_OK (with or without errors) or E_OUTOFMEMORY.
HRESULT ParseSafeListFile(const std::string& bytes, std::vector<ImportLine>* lines,
                          std::vector<LineError>* errors);

}  // namespace ctl
}  // namespace zelk
