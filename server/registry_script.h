// Interpreter of the small registry script language in which the server's
// registration entries are written. One script text serves both directions:
// register mode creates keys and sets values, unregister mode walks the same
// text and deletes what it names, except entries marked NoRemove.
//
// Text is 8-bit in the ANSI code page and is always stepped one character at a
// time (NextChar), so the second byte of a double-byte character is never taken
// for a quote, a backslash, a "%" or white space.
//
// Failure contract: every operation returns an HRESULT.
//   DISP_E_EXCEPTION  the script is malformed (see RegistryScript::RunScript)
//   E_FAIL            a %NAME% longer than 31 bytes; a B value with an odd digit count
//   E_OUTOFMEMORY     storage ran out
//   DISP_E_*          a D value that VarUI4FromStr does not accept (its status)
//   HRESULT_FROM_WIN32(code)  a registry call failed with `code`
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace zelk {

// Longest %NAME% a script may use.
constexpr size_t kMaxReplacementNameBytes = 31;
// Longest token text (quoted or not): the token buffer holds 4096 bytes.
constexpr size_t kMaxScriptTokenBytes = 4094;
// Longest key or value name: names live in 260-byte buffers with their NUL.
constexpr size_t kMaxScriptNameBytes = 259;
// Deepest nesting of blocks; the registry itself stops at 512 levels, and the
// bound keeps a hostile script from exhausting the stack.
constexpr int kMaxScriptNestingDepth = 512;

// The %NAME% replacements of one script run: an ordered list of pairs.
class ReplacementMap {
 public:
  // Appends a pair without looking for an existing one. The name is kept in
  // the ANSI code page; the text stays wide until it is inserted.
  // E_INVALIDARG when either is null; E_OUTOFMEMORY.
  HRESULT Add(const wchar_t* name, const wchar_t* text);

  // The text of the first pair whose name equals `name` without regard to
  // case; nullptr when there is none.
  const std::wstring* Find(const std::string& name) const;

 private:
  struct Replacement {
    std::string name;
    std::wstring text;
  };
  std::vector<Replacement> replacements_;
};

// Copies `script` to `*output`, replacing every %NAME% by its text from
// `replacements` and every "%%" by "%". Inserted text is not scanned again.
// DISP_E_EXCEPTION for a "%" without its closing "%" or a name the map does
// not hold; E_FAIL for a name over 31 bytes; E_OUTOFMEMORY. `*output` is
// untouched on failure.
HRESULT ApplyReplacements(const char* script, const ReplacementMap& replacements,
                          std::string* output);

// Splits script text into tokens. White space is space, tab, CR and LF only;
// a token is either a single-quoted text ('' inside stands for one quote) or
// everything up to the next white space ("{", "}" and "=" are not separators).
class ScriptTokenizer {
 public:
  explicit ScriptTokenizer(const char* text) : position_(text) {}

  void SkipWhiteSpace();
  // True when no character is left at the current position (call
  // SkipWhiteSpace first to ignore trailing white space).
  bool AtEnd() const { return *position_ == '\0'; }

  // Reads the next token into `*token`. DISP_E_EXCEPTION at the end of the
  // text, for an unterminated quoted token and for a token over
  // kMaxScriptTokenBytes; E_OUTOFMEMORY.
  HRESULT Next(std::string* token);

  const char* position() const { return position_; }
  void Rewind(const char* position) { position_ = position; }

 private:
  HRESULT ReadQuoted(std::string* token);
  HRESULT ReadUnquoted(std::string* token);

  const char* position_;
};

class RegistryScript {
 public:
  // Converts the name to the ANSI code page and appends the pair to this
  // script's replacements. E_INVALIDARG when either is null; E_OUTOFMEMORY.
  HRESULT AddReplacement(const wchar_t* name, const wchar_t* text);

  // Applies the replacements to `script` (NUL-terminated) and runs it in
  // register or unregister mode. Returns S_OK or the first failure. In
  // register mode a failing root block is walked once more in unregister mode
  // to remove what it named, then the failure is returned. Every key opened
  // during the run is closed before it returns.
  //
  // Besides the plain syntax errors (unknown root, missing "{" or "=", unknown
  // type letter, end of text, unterminated token), these are DISP_E_EXCEPTION:
  // an empty key name or one containing a backslash, a key or value name over
  // kMaxScriptNameBytes, a block nested deeper than kMaxScriptNestingDepth,
  // and, in register mode, a nested block that follows a value or Delete entry
  // (no key of its own is open to hold it).
  HRESULT RunScript(const char* script, bool register_mode);

 private:
  ReplacementMap replacements_;
};

}  // namespace zelk
