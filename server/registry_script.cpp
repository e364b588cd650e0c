#include "server/registry_script.h"

#include <oleauto.h>

#include <cstring>
#include <new>
#include <utility>

#include "platform/registry_key.h"
#include "platform/status.h"
#include "platform/text.h"

namespace zelk {

namespace {

constexpr HRESULT kSyntaxError = DISP_E_EXCEPTION;

bool IsWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool BeginsWith(const std::string& token, char c) { return !token.empty() && token[0] == c; }

// Scans whole characters, so a trail byte is never mistaken for `wanted`.
// Returns the position of `wanted`, or of the terminating NUL.
const char* FindChar(const char* text, char wanted) {
  while (*text != '\0' && *text != wanted) text = NextChar(text);
  return text;
}

bool ContainsChar(const std::string& text, char wanted) {
  return *FindChar(text.c_str(), wanted) != '\0';
}

// ---- Names of the language ----

struct RootKeyName {
  const char* name;
  HKEY key;
};

const RootKeyName kRootKeyNames[] = {
    {"HKCR", HKEY_CLASSES_ROOT},
    {"HKCU", HKEY_CURRENT_USER},
    {"HKLM", HKEY_LOCAL_MACHINE},
    {"HKU", HKEY_USERS},
    {"HKPD", HKEY_PERFORMANCE_DATA},
    {"HKDD", HKEY_DYN_DATA},
    {"HKCC", HKEY_CURRENT_CONFIG},
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
    {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

// Keys that ForceRemove and Delete never remove, whatever a script says:
// deleting one of them would wreck far more than this program's entries.
const char* const kProtectedKeyNames[] = {
    "AppID", "CLSID",    "Component Categories", "FileType", "Interface", "Hardware",
    "Mime",  "SAM",      "SECURITY",             "SYSTEM",   "Software",  "TypeLib",
};

const char kForceRemove[] = "ForceRemove";
const char kDelete[] = "Delete";
const char kNoRemove[] = "NoRemove";
const char kVal[] = "Val";

bool FindRootKey(const std::string& name, HKEY* root) {
  for (const RootKeyName& entry : kRootKeyNames) {
    if (EqualsIgnoringCase(name, entry.name)) {
      *root = entry.key;
      return true;
    }
  }
  return false;
}

bool IsProtectedKeyName(const std::string& name) {
  for (const char* protected_name : kProtectedKeyNames) {
    if (EqualsIgnoringCase(name, protected_name)) return true;
  }
  return false;
}

// A key name names exactly one level below its parent. An empty name would
// stand for the parent itself, so ForceRemove or unregistration would delete
// the parent: it is refused like a path.
HRESULT CheckKeyName(const std::string& name) {
  if (name.empty() || name.size() > kMaxScriptNameBytes) return kSyntaxError;
  if (ContainsChar(name, '\\')) return kSyntaxError;
  return S_OK;
}

HRESULT CheckValueName(const std::string& name) {
  return name.size() > kMaxScriptNameBytes ? kSyntaxError : S_OK;
}

// ---- Value data ----

enum class ValueKind { kString, kMultiString, kDword, kBinary };

bool ParseValueKind(const std::string& token, ValueKind* kind) {
  if (EqualsIgnoringCase(token, "S")) {
    *kind = ValueKind::kString;
  } else if (EqualsIgnoringCase(token, "M")) {
    *kind = ValueKind::kMultiString;
  } else if (EqualsIgnoringCase(token, "D")) {
    *kind = ValueKind::kDword;
  } else if (EqualsIgnoringCase(token, "B")) {
    *kind = ValueKind::kBinary;
  } else {
    return false;
  }
  return true;
}

unsigned char HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned char>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<unsigned char>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<unsigned char>(c - 'a' + 10);
  return 0;  // not a digit: counts as 0
}

HRESULT EncodeBinary(const std::string& text, std::string* data) {
  if (text.size() % 2 != 0) return E_FAIL;
  try {
    std::string bytes(text.size() / 2, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
      const unsigned high = HexDigitValue(text[2 * i]);
      const unsigned low = HexDigitValue(text[2 * i + 1]);
      bytes[i] = static_cast<char>((high << 4) | low);
    }
    data->swap(bytes);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

// "a\0b" becomes a NUL b NUL NUL: each backslash-zero separates two strings
// and the list ends with an empty string.
HRESULT EncodeMultiString(const std::string& text, std::string* data) {
  try {
    std::string bytes;
    bytes.reserve(text.size() + 2);
    const char* position = text.c_str();
    while (*position != '\0') {
      const char* next = NextChar(position);
      if (position[0] == '\\' && next == position + 1 && position[1] == '0') {
        bytes += '\0';
        position += 2;
        continue;
      }
      bytes.append(position, next);
      position = next;
    }
    bytes.append(2, '\0');
    data->swap(bytes);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

// Text that is not an unsigned 32-bit number fails with the conversion's own
// status rather than storing an arbitrary number.
HRESULT EncodeDword(const std::string& text, std::string* data) {
  std::wstring wide;
  ZELK_RETURN_IF_FAILED(WideFromNarrow(text.data(), text.size(), &wide));
  ULONG number = 0;
  ZELK_RETURN_IF_FAILED(VarUI4FromStr(&wide[0], 0, 0, &number));
  const DWORD value = number;
  try {
    data->assign(reinterpret_cast<const char*>(&value), sizeof(value));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT EncodeString(const std::string& text, std::string* data) {
  try {
    data->assign(text.c_str(), text.size() + 1);  // with its terminating NUL
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT EncodeValue(ValueKind kind, const std::string& text, DWORD* type, std::string* data) {
  switch (kind) {
    case ValueKind::kString:
      *type = REG_SZ;
      return EncodeString(text, data);
    case ValueKind::kMultiString:
      *type = REG_MULTI_SZ;
      return EncodeMultiString(text, data);
    case ValueKind::kDword:
      *type = REG_DWORD;
      return EncodeDword(text, data);
    case ValueKind::kBinary:
      *type = REG_BINARY;
      return EncodeBinary(text, data);
  }
  return kSyntaxError;
}

// ---- Registry calls on a parent that may be a predefined root key ----

HRESULT SetValue(HKEY key, const char* name, DWORD type, const std::string& data) {
  if (data.size() > MAXDWORD) return E_OUTOFMEMORY;
  const LONG result = RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                     static_cast<DWORD>(data.size()));
  return result == ERROR_SUCCESS ? S_OK : StatusFromWin32(result);
}

HRESULT DeleteSubkey(HKEY parent, const char* name) {
  const LONG result = RegDeleteKeyA(parent, name);
  return result == ERROR_SUCCESS ? S_OK : StatusFromWin32(result);
}

// Deletes `name` under `parent` with everything below it, one subkey at a
// time from the first, so that the enumeration never skips a renumbered key.
// Below the named key, names are read and used wide: a name the code page
// cannot hold is still deleted by its own name.
HRESULT DeleteKeyTree(HKEY parent, const std::wstring& name) {
  RegistryKey key;
  ZELK_RETURN_IF_FAILED(key.Open(parent, name.c_str(), kReadWriteAccess));
  std::wstring subkey;
  for (;;) {
    const HRESULT status = key.EnumSubkey(0, &subkey);
    if (status == HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS)) break;
    ZELK_RETURN_IF_FAILED(status);
    ZELK_RETURN_IF_FAILED(DeleteKeyTree(key.get(), subkey));
  }
  key.Close();
  const LONG result = RegDeleteKeyW(parent, name.c_str());
  return result == ERROR_SUCCESS ? S_OK : StatusFromWin32(result);
}

HRESULT DeleteKeyTree(HKEY parent, const char* name) {
  std::wstring wide;
  ZELK_RETURN_IF_FAILED(WideFromNarrow(name, std::strlen(name), &wide));
  return DeleteKeyTree(parent, wide);
}

// Reuses an existing key when it can, even one that only allows reading (a
// later write into it then reports the registry's refusal).
HRESULT OpenOrCreateKey(HKEY parent, const char* name, RegistryKey* key) {
  if (SUCCEEDED(key->Open(parent, name, kReadWriteAccess))) return S_OK;
  if (SUCCEEDED(key->Open(parent, name, kReadAccess))) return S_OK;
  return key->Create(parent, name, kReadWriteAccess);
}

HRESULT DeleteValueIfPresent(HKEY parent, const char* name) {
  RegistryKey writable;
  ZELK_RETURN_IF_FAILED(writable.Open(parent, "", KEY_WRITE));
  const HRESULT status = writable.DeleteValue(name);
  if (IsNotFound(status)) return S_OK;
  return status;
}

// ---- The walk over one script ----

class ScriptRun {
 public:
  explicit ScriptRun(const char* text) : tokens_(text) {}

  HRESULT Run(bool register_mode);

 private:
  HRESULT RunRootBlock(HKEY root, bool register_mode);

  HRESULT RegisterBlock(HKEY parent, int depth);
  HRESULT RegisterEntry(HKEY parent, int depth, std::string* token);
  HRESULT RegisterValue(HKEY parent, std::string* token);
  HRESULT RegisterKey(HKEY parent, RegistryKey* key, std::string* token);
  HRESULT RemoveBeforeRegistering(HKEY parent, bool* entry_done, std::string* token);

  HRESULT UnregisterBlock(HKEY parent, bool recovering, int depth);
  HRESULT UnregisterEntry(HKEY parent, bool recovering, int depth, std::string* token);
  HRESULT UnregisterValue(HKEY parent, bool remove, std::string* token);
  HRESULT UnregisterKey(HKEY parent, bool recovering, bool deletable, int depth,
                        std::string* token);

  HRESULT WriteValue(HKEY key, const char* name, std::string* token);
  HRESULT SkipAssignment(std::string* token);

  ScriptTokenizer tokens_;
};

HRESULT ScriptRun::Run(bool register_mode) {
  tokens_.SkipWhiteSpace();
  while (!tokens_.AtEnd()) {
    std::string token;
    ZELK_RETURN_IF_FAILED(tokens_.Next(&token));
    HKEY root = nullptr;
    if (!FindRootKey(token, &root)) return kSyntaxError;
    ZELK_RETURN_IF_FAILED(tokens_.Next(&token));
    if (!BeginsWith(token, '{')) return kSyntaxError;
    ZELK_RETURN_IF_FAILED(RunRootBlock(root, register_mode));
    tokens_.SkipWhiteSpace();
  }
  return S_OK;
}

// A root block that fails to register is undone as far as its text allows;
// blocks registered before it stay in place.
HRESULT ScriptRun::RunRootBlock(HKEY root, bool register_mode) {
  if (!register_mode) return UnregisterBlock(root, false, 1);
  const char* block_start = tokens_.position();
  const HRESULT status = RegisterBlock(root, 1);
  if (SUCCEEDED(status)) return S_OK;
  tokens_.Rewind(block_start);
  UnregisterBlock(root, false, 1);  // best effort: the registration failure is what counts
  return status;
}

// ---- Register mode ----

HRESULT ScriptRun::RegisterBlock(HKEY parent, int depth) {
  if (depth > kMaxScriptNestingDepth) return kSyntaxError;
  std::string token;
  ZELK_RETURN_IF_FAILED(tokens_.Next(&token));
  while (!BeginsWith(token, '}')) {
    ZELK_RETURN_IF_FAILED(RegisterEntry(parent, depth, &token));
  }
  return S_OK;
}

// On entry `*token` is the entry's first token; on success it is the token
// after the entry (the next entry's first token, or the block's "}").
HRESULT ScriptRun::RegisterEntry(HKEY parent, int depth, std::string* token) {
  bool entry_done = false;
  ZELK_RETURN_IF_FAILED(RemoveBeforeRegistering(parent, &entry_done, token));
  RegistryKey key;  // the key this entry opens, if it names one
  if (!entry_done) {
    if (EqualsIgnoringCase(*token, kNoRemove)) ZELK_RETURN_IF_FAILED(tokens_.Next(token));
    if (EqualsIgnoringCase(*token, kVal)) {
      ZELK_RETURN_IF_FAILED(RegisterValue(parent, token));
    } else {
      ZELK_RETURN_IF_FAILED(RegisterKey(parent, &key, token));
    }
  }
  if (*token != "{") return S_OK;
  // A nested block belongs to the key its entry opened; after a value or a
  // Delete there is none to put it under.
  if (!key.is_open()) return kSyntaxError;
  ZELK_RETURN_IF_FAILED(RegisterBlock(key.get(), depth + 1));
  return tokens_.Next(token);
}

// ForceRemove and Delete: the named key goes with its subtree, unless it is
// protected. A Delete entry ends there (`*entry_done`); ForceRemove goes on
// with the name as an ordinary entry.
HRESULT ScriptRun::RemoveBeforeRegistering(HKEY parent, bool* entry_done, std::string* token) {
  const bool is_force_remove = EqualsIgnoringCase(*token, kForceRemove);
  const bool is_delete = EqualsIgnoringCase(*token, kDelete);
  if (!is_force_remove && !is_delete) return S_OK;
  ZELK_RETURN_IF_FAILED(tokens_.Next(token));
  ZELK_RETURN_IF_FAILED(CheckKeyName(*token));
  if (!IsProtectedKeyName(*token)) {
    DeleteKeyTree(parent, token->c_str());  // a key that is not there is the usual case
  }
  if (!is_delete) return S_OK;
  *entry_done = true;
  ZELK_RETURN_IF_FAILED(tokens_.Next(token));
  return SkipAssignment(token);
}

HRESULT ScriptRun::RegisterValue(HKEY parent, std::string* token) {
  std::string name;
  ZELK_RETURN_IF_FAILED(tokens_.Next(&name));
  ZELK_RETURN_IF_FAILED(CheckValueName(name));
  ZELK_RETURN_IF_FAILED(tokens_.Next(token));
  if (*token != "=") return kSyntaxError;
  return WriteValue(parent, name.c_str(), token);
}

HRESULT ScriptRun::RegisterKey(HKEY parent, RegistryKey* key, std::string* token) {
  ZELK_RETURN_IF_FAILED(CheckKeyName(*token));
  ZELK_RETURN_IF_FAILED(OpenOrCreateKey(parent, token->c_str(), key));
  ZELK_RETURN_IF_FAILED(tokens_.Next(token));
  if (*token != "=") return S_OK;
  return WriteValue(key->get(), nullptr, token);
}

// On entry `*token` is the "="; on success it is the token after the value.
HRESULT ScriptRun::WriteValue(HKEY key, const char* name, std::string* token) {
  ZELK_RETURN_IF_FAILED(tokens_.Next(token));
  ValueKind kind = ValueKind::kString;
  if (!ParseValueKind(*token, &kind)) return kSyntaxError;
  std::string text;
  ZELK_RETURN_IF_FAILED(tokens_.Next(&text));
  DWORD type = REG_NONE;
  std::string data;
  ZELK_RETURN_IF_FAILED(EncodeValue(kind, text, &type, &data));
  ZELK_RETURN_IF_FAILED(SetValue(key, name, type, data));
  return tokens_.Next(token);
}

// ---- Unregister mode ----
//
// `recovering` marks a block whose key does not exist (or could not be
// opened): its text is only walked, nothing in it is touched.

HRESULT ScriptRun::UnregisterBlock(HKEY parent, bool recovering, int depth) {
  if (depth > kMaxScriptNestingDepth) return kSyntaxError;
  std::string token;
  ZELK_RETURN_IF_FAILED(tokens_.Next(&token));
  while (!BeginsWith(token, '}')) {
    ZELK_RETURN_IF_FAILED(UnregisterEntry(parent, recovering, depth, &token));
  }
  return S_OK;
}

HRESULT ScriptRun::UnregisterEntry(HKEY parent, bool recovering, int depth, std::string* token) {
  // ForceRemove and Delete only matter when registering.
  if (EqualsIgnoringCase(*token, kForceRemove) || EqualsIgnoringCase(*token, kDelete)) {
    ZELK_RETURN_IF_FAILED(tokens_.Next(token));
  }
  bool deletable = true;
  if (EqualsIgnoringCase(*token, kNoRemove)) {
    deletable = false;
    ZELK_RETURN_IF_FAILED(tokens_.Next(token));
  }
  if (EqualsIgnoringCase(*token, kVal)) {
    return UnregisterValue(parent, !recovering && deletable, token);
  }
  return UnregisterKey(parent, recovering, deletable, depth, token);
}

HRESULT ScriptRun::UnregisterValue(HKEY parent, bool remove, std::string* token) {
  std::string name;
  ZELK_RETURN_IF_FAILED(tokens_.Next(&name));
  ZELK_RETURN_IF_FAILED(CheckValueName(name));
  ZELK_RETURN_IF_FAILED(tokens_.Next(token));
  if (*token != "=") return kSyntaxError;
  if (remove) ZELK_RETURN_IF_FAILED(DeleteValueIfPresent(parent, name.c_str()));
  return SkipAssignment(token);
}

HRESULT ScriptRun::UnregisterKey(HKEY parent, bool recovering, bool deletable, int depth,
                                 std::string* token) {
  ZELK_RETURN_IF_FAILED(CheckKeyName(*token));
  std::string name;
  name.swap(*token);
  RegistryKey key;
  const HRESULT open_status = recovering ? HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
                                         : key.Open(parent, name.c_str(), kReadAccess);
  const bool children_recovering = FAILED(open_status);
  ZELK_RETURN_IF_FAILED(tokens_.Next(token));
  ZELK_RETURN_IF_FAILED(SkipAssignment(token));
  if (BeginsWith(*token, '{')) {
    // A block that is only walked touches nothing, so its failure changes
    // nothing in the registry and does not stop the walk of its neighbours.
    const HRESULT nested = UnregisterBlock(key.get(), children_recovering, depth + 1);
    if (FAILED(nested) && !children_recovering) return nested;
    ZELK_RETURN_IF_FAILED(tokens_.Next(token));
  }
  if (IsNotFound(open_status)) return S_OK;
  ZELK_RETURN_IF_FAILED(open_status);
  key.Close();
  if (!deletable) return S_OK;
  // Deletes a key without subkeys only: subkeys the script does not name
  // (another program's entries) keep the key and fail the unregistration.
  return DeleteSubkey(parent, name.c_str());
}

// On entry `*token` may be the "=" of an assignment; on success `*token` is
// the first token after the assignment (or unchanged when there is none).
HRESULT ScriptRun::SkipAssignment(std::string* token) {
  if (*token != "=") return S_OK;
  ZELK_RETURN_IF_FAILED(tokens_.Next(token));  // type letter
  ZELK_RETURN_IF_FAILED(tokens_.Next(token));  // value
  return tokens_.Next(token);
}

}  // namespace

// ---- ReplacementMap ----

HRESULT ReplacementMap::Add(const wchar_t* name, const wchar_t* text) {
  if (name == nullptr || text == nullptr) return E_INVALIDARG;
  Replacement replacement;
  ZELK_RETURN_IF_FAILED(NarrowFromWide(name, &replacement.name));
  try {
    replacement.text = text;
    replacements_.push_back(std::move(replacement));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

const std::wstring* ReplacementMap::Find(const std::string& name) const {
  for (const Replacement& replacement : replacements_) {
    if (EqualsIgnoringCase(name, replacement.name.c_str())) return &replacement.text;
  }
  return nullptr;
}

// ---- Replacement step ----

namespace {

// `*position` is just after an opening "%"; on success it is just after the
// closing one and the name's text has been appended to `*output`.
HRESULT AppendReplacement(const ReplacementMap& replacements, const char** position,
                          std::string* output) {
  const char* name_start = *position;
  const char* name_end = FindChar(name_start, '%');
  if (*name_end == '\0') return kSyntaxError;
  if (static_cast<size_t>(name_end - name_start) > kMaxReplacementNameBytes) return E_FAIL;
  const std::wstring* text = replacements.Find(std::string(name_start, name_end));
  if (text == nullptr) return kSyntaxError;
  std::string narrow;
  ZELK_RETURN_IF_FAILED(NarrowFromWide(text->c_str(), &narrow));
  output->append(narrow);
  *position = name_end + 1;
  return S_OK;
}

}  // namespace

HRESULT ApplyReplacements(const char* script, const ReplacementMap& replacements,
                          std::string* output) {
  if (script == nullptr) return E_INVALIDARG;
  try {
    std::string replaced;
    replaced.reserve(std::strlen(script));
    const char* position = script;
    while (*position != '\0') {
      if (*position != '%') {
        const char* next = NextChar(position);
        replaced.append(position, next);
        position = next;
      } else if (position[1] == '%') {
        replaced += '%';
        position += 2;
      } else {
        ++position;
        ZELK_RETURN_IF_FAILED(AppendReplacement(replacements, &position, &replaced));
      }
    }
    output->swap(replaced);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

// ---- ScriptTokenizer ----

void ScriptTokenizer::SkipWhiteSpace() {
  while (IsWhiteSpace(*position_)) ++position_;
}

HRESULT ScriptTokenizer::Next(std::string* token) {
  SkipWhiteSpace();
  if (AtEnd()) return kSyntaxError;
  try {
    return *position_ == '\'' ? ReadQuoted(token) : ReadUnquoted(token);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ScriptTokenizer::ReadQuoted(std::string* token) {
  std::string text;
  const char* position = position_ + 1;  // after the opening quote
  for (;;) {
    if (*position == '\0') return kSyntaxError;
    if (*position == '\'') {
      if (position[1] != '\'') break;
      text += '\'';  // a doubled quote stands for one
      position += 2;
    } else {
      const char* next = NextChar(position);
      text.append(position, next);
      position = next;
    }
    if (text.size() > kMaxScriptTokenBytes) return kSyntaxError;
  }
  position_ = position + 1;  // after the closing quote
  token->swap(text);
  return S_OK;
}

HRESULT ScriptTokenizer::ReadUnquoted(std::string* token) {
  std::string text;
  const char* position = position_;
  while (*position != '\0' && !IsWhiteSpace(*position)) {
    const char* next = NextChar(position);
    text.append(position, next);
    position = next;
    if (text.size() > kMaxScriptTokenBytes) return kSyntaxError;
  }
  position_ = position;
  token->swap(text);
  return S_OK;
}

// ---- RegistryScript ----

HRESULT RegistryScript::AddReplacement(const wchar_t* name, const wchar_t* text) {
  return replacements_.Add(name, text);
}

HRESULT RegistryScript::RunScript(const char* script, bool register_mode) {
  if (script == nullptr) return E_INVALIDARG;
  std::string text;
  ZELK_RETURN_IF_FAILED(ApplyReplacements(script, replacements_, &text));
  ScriptRun run(text.c_str());
  return run.Run(register_mode);
}

}  // namespace zelk
