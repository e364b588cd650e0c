// An open registry key. Names come narrow (the ANSI registry functions) or
// wide; a name read from the registry for use as a name again is read wide,
// since its narrow form may not name the key it came from.
//
// Failure contract: every member that can fail returns an HRESULT made from
// the code the registry function returned (StatusFromWin32), and leaves its
// outputs untouched on failure. The key closes itself on destruction.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/settings_layout.h"
#include "platform/unique_resource.h"

namespace zelk {

// Registry strings read by this program fit in a buffer of this many bytes,
// terminating NUL included (at most 259 bytes of text).
constexpr DWORD kRegistryStringBufferBytes = 260;

constexpr REGSAM kReadAccess = KEY_READ;                   // 0x20019
constexpr REGSAM kReadWriteAccess = KEY_READ | KEY_WRITE;  // 0x2001F

// One value of a key, as enumeration finds it: the name wide (a name read
// from the registry), the data as raw bytes.
struct RegistryValue {
  std::wstring name;
  DWORD type = REG_NONE;
  std::string data;
};

class RegistryKey {
 public:
  RegistryKey() = default;
  RegistryKey(RegistryKey&&) = default;
  RegistryKey& operator=(RegistryKey&&) = default;

  // Opens an existing key (RegOpenKeyEx). Closes any key held before.
  HRESULT Open(HKEY parent, const char* subkey, REGSAM access);
  HRESULT Open(HKEY parent, const wchar_t* subkey, REGSAM access);
  // Opens or creates a non-volatile key (RegCreateKeyEx); `created`, when
  // given, tells whether the key is new.
  HRESULT Create(HKEY parent, const char* subkey, REGSAM access, bool* created = nullptr);
  HRESULT Create(HKEY parent, const wchar_t* subkey, REGSAM access, bool* created = nullptr);
  void Close() { key_.reset(); }

  HKEY get() const { return key_.get(); }
  bool is_open() const { return key_.is_valid(); }

  // Reads a REG_DWORD value. Another type, or a size other than 4, fails with
  // HRESULT_FROM_WIN32(ERROR_INVALID_DATATYPE).
  HRESULT ReadDword(const char* name, DWORD* value) const;

  // Reads a REG_SZ value of at most capacity_bytes - 1 bytes of text. A value
  // that does not fit fails (ERROR_MORE_DATA); another type, REG_EXPAND_SZ
  // included, fails with ERROR_INVALID_DATATYPE. The text ends at its first NUL.
  HRESULT ReadString(const char* name, std::string* value,
                     DWORD capacity_bytes = kRegistryStringBufferBytes) const;

  // Reads a value of any type: its type and raw bytes.
  HRESULT ReadRaw(const char* name, DWORD* type, std::string* data) const;

  HRESULT WriteDword(const char* name, DWORD value) const;
  // Writes REG_SZ with its terminating NUL (length + 1 bytes).
  HRESULT WriteString(const char* name, const std::string& value) const;
  HRESULT WriteRaw(const char* name, DWORD type, const void* data, DWORD size) const;

  HRESULT DeleteValue(const char* name) const;
  // Deletes a direct subkey that has no subkeys of its own (RegDeleteKey).
  HRESULT DeleteSubkey(const char* name) const;
  HRESULT DeleteSubkey(const wchar_t* name) const;

  // Number of direct subkeys and the length of the longest subkey name, in
  // wide characters.
  HRESULT QuerySubkeyInfo(DWORD* count, DWORD* longest_name) const;
  // Name of the subkey at `index`, however long;
  // HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS) past the end. `name` is also the
  // buffer, so a caller that enumerates with one string allocates rarely; it
  // is empty after a failure.
  HRESULT EnumSubkey(DWORD index, std::wstring* name) const;
  // The narrow form of that name, for display and narrow texts; to name the
  // key again, use the wide form.
  HRESULT EnumSubkey(DWORD index, std::string* name) const;

  // Every value of the key in the registry's enumeration order (RegEnumValueW:
  // string data is UTF-16). A value that changes size or vanishes while the
  // key is read is left out.
  HRESULT ReadAllValues(std::vector<RegistryValue>* values) const;

 private:
  UniqueHkey key_;
};

// True when the status says that a key or value does not exist.
bool IsNotFound(HRESULT status);

// Whether two key names name the same key: the registry ignores letter case
// by the system's Unicode upper-casing, not by the code page's, so two texts
// that differ as narrow text (a double-byte letter in two cases) can still
// name one key.
HRESULT SameKeyName(const std::wstring& a, const std::wstring& b, bool* same);

// A hash of a key name that is equal for names SameKeyName finds equal.
HRESULT KeyNameHash(const std::wstring& name, uint32_t* hash);

}  // namespace zelk
