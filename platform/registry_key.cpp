#include "platform/registry_key.h"

#include <climits>
#include <new>
#include <vector>

#include "platform/status.h"
#include "platform/text.h"

namespace zelk {

namespace {

HRESULT ToStatus(LONG result) { return result == ERROR_SUCCESS ? S_OK : StatusFromWin32(result); }

}  // namespace

namespace {

LONG OpenKey(HKEY parent, const char* subkey, REGSAM access, HKEY* opened) {
  return RegOpenKeyExA(parent, subkey, 0, access, opened);
}
LONG OpenKey(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* opened) {
  return RegOpenKeyExW(parent, subkey, 0, access, opened);
}
LONG CreateKey(HKEY parent, const char* subkey, REGSAM access, HKEY* created, DWORD* disposition) {
  return RegCreateKeyExA(parent, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                         created, disposition);
}
LONG CreateKey(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* created,
               DWORD* disposition) {
  return RegCreateKeyExW(parent, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                         created, disposition);
}

template <typename Char>
HRESULT OpenInto(HKEY parent, const Char* subkey, REGSAM access, UniqueHkey* key) {
  HKEY opened = nullptr;
  const LONG result = OpenKey(parent, subkey, access, &opened);
  if (result != ERROR_SUCCESS) return StatusFromWin32(result);
  key->reset(opened);
  return S_OK;
}

template <typename Char>
HRESULT CreateInto(HKEY parent, const Char* subkey, REGSAM access, UniqueHkey* key,
                   bool* created) {
  HKEY opened = nullptr;
  DWORD disposition = 0;
  const LONG result = CreateKey(parent, subkey, access, &opened, &disposition);
  if (result != ERROR_SUCCESS) return StatusFromWin32(result);
  key->reset(opened);
  if (created != nullptr) *created = disposition == REG_CREATED_NEW_KEY;
  return S_OK;
}

// Key names are at most 255 characters; longer ones, which some tools and
// other code pages make, get a larger buffer. The bound keeps a registry that
// keeps answering ERROR_MORE_DATA from growing the buffer forever.
constexpr size_t kUsualNameChars = 256;
constexpr size_t kLargestNameChars = 1 << 16;

}  // namespace

HRESULT RegistryKey::Open(HKEY parent, const char* subkey, REGSAM access) {
  return OpenInto(parent, subkey, access, &key_);
}

HRESULT RegistryKey::Open(HKEY parent, const wchar_t* subkey, REGSAM access) {
  return OpenInto(parent, subkey, access, &key_);
}

HRESULT RegistryKey::Create(HKEY parent, const char* subkey, REGSAM access, bool* created) {
  return CreateInto(parent, subkey, access, &key_, created);
}

HRESULT RegistryKey::Create(HKEY parent, const wchar_t* subkey, REGSAM access, bool* created) {
  return CreateInto(parent, subkey, access, &key_, created);
}

HRESULT RegistryKey::ReadDword(const char* name, DWORD* value) const {
  DWORD type = REG_NONE;
  DWORD data = 0;
  DWORD size = sizeof(data);
  LONG result = RegQueryValueExA(key_.get(), name, nullptr, &type,
                                 reinterpret_cast<BYTE*>(&data), &size);
  if (result != ERROR_SUCCESS) return StatusFromWin32(result);
  if (type != REG_DWORD || size != sizeof(data)) return StatusFromWin32(ERROR_INVALID_DATATYPE);
  *value = data;
  return S_OK;
}

HRESULT RegistryKey::ReadString(const char* name, std::string* value,
                                DWORD capacity_bytes) const {
  try {
    std::vector<char> buffer(capacity_bytes + 1, '\0');
    DWORD type = REG_NONE;
    DWORD size = capacity_bytes;
    LONG result = RegQueryValueExA(key_.get(), name, nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (result != ERROR_SUCCESS) return StatusFromWin32(result);
    if (type != REG_SZ) return StatusFromWin32(ERROR_INVALID_DATATYPE);
    // A REG_SZ stored without its NUL can fill the buffer exactly: then the text
    // itself is capacity_bytes long and would not fit with its terminator.
    if (size == capacity_bytes && buffer[size - 1] != '\0') return StatusFromWin32(ERROR_MORE_DATA);
    buffer[size] = '\0';
    value->assign(buffer.data());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT RegistryKey::ReadRaw(const char* name, DWORD* type, std::string* data) const {
  DWORD size = 0;
  DWORD value_type = REG_NONE;
  LONG result = RegQueryValueExA(key_.get(), name, nullptr, &value_type, nullptr, &size);
  if (result != ERROR_SUCCESS) return StatusFromWin32(result);
  try {
    std::string bytes(size, '\0');
    result = RegQueryValueExA(key_.get(), name, nullptr, &value_type,
                              reinterpret_cast<BYTE*>(&bytes[0]), &size);
    if (result != ERROR_SUCCESS) return StatusFromWin32(result);
    bytes.resize(size);
    data->swap(bytes);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *type = value_type;
  return S_OK;
}

HRESULT RegistryKey::WriteDword(const char* name, DWORD value) const {
  return WriteRaw(name, REG_DWORD, &value, sizeof(value));
}

HRESULT RegistryKey::WriteString(const char* name, const std::string& value) const {
  if (value.size() >= 0xffffffffu) return E_INVALIDARG;
  return WriteRaw(name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

HRESULT RegistryKey::WriteRaw(const char* name, DWORD type, const void* data, DWORD size) const {
  return ToStatus(RegSetValueExA(key_.get(), name, 0, type, static_cast<const BYTE*>(data), size));
}

HRESULT RegistryKey::DeleteValue(const char* name) const {
  return ToStatus(RegDeleteValueA(key_.get(), name));
}

HRESULT RegistryKey::DeleteSubkey(const char* name) const {
  return ToStatus(RegDeleteKeyA(key_.get(), name));
}

HRESULT RegistryKey::DeleteSubkey(const wchar_t* name) const {
  return ToStatus(RegDeleteKeyW(key_.get(), name));
}

HRESULT RegistryKey::QuerySubkeyInfo(DWORD* count, DWORD* longest_name) const {
  DWORD subkeys = 0;
  DWORD longest = 0;
  LONG result = RegQueryInfoKeyW(key_.get(), nullptr, nullptr, nullptr, &subkeys, &longest,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS) return StatusFromWin32(result);
  *count = subkeys;
  *longest_name = longest;
  return S_OK;
}

HRESULT RegistryKey::EnumSubkey(DWORD index, std::wstring* name) const {
  try {
    size_t capacity = name->capacity() > kUsualNameChars ? name->capacity() : kUsualNameChars;
    for (;;) {
      name->resize(capacity);
      DWORD length = static_cast<DWORD>(capacity);
      const LONG result = RegEnumKeyExW(key_.get(), index, &(*name)[0], &length, nullptr,
                                        nullptr, nullptr, nullptr);
      if (result == ERROR_SUCCESS) {
        name->resize(length);
        return S_OK;
      }
      if (result != ERROR_MORE_DATA || capacity >= kLargestNameChars) {
        name->clear();
        return StatusFromWin32(result);
      }
      capacity *= 2;
    }
  } catch (const std::bad_alloc&) {
    name->clear();
    return E_OUTOFMEMORY;
  }
}

HRESULT RegistryKey::EnumSubkey(DWORD index, std::string* name) const {
  std::wstring wide;
  ZELK_RETURN_IF_FAILED(EnumSubkey(index, &wide));
  return NarrowFromWide(wide.c_str(), name);
}

HRESULT RegistryKey::ReadAllValues(std::vector<RegistryValue>* values) const {
  DWORD count = 0;
  DWORD longest_name = 0;
  DWORD longest_data = 0;
  LONG result = RegQueryInfoKeyW(key_.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 &count, &longest_name, &longest_data, nullptr, nullptr);
  if (result != ERROR_SUCCESS) return StatusFromWin32(result);
  try {
    std::vector<RegistryValue> read;
    read.reserve(count);
    std::wstring name(longest_name + 1, L'\0');
    std::string data(longest_data, '\0');
    for (DWORD index = 0; index < count; ++index) {
      DWORD name_length = static_cast<DWORD>(name.size());
      DWORD type = REG_NONE;
      DWORD size = static_cast<DWORD>(data.size());
      result = RegEnumValueW(key_.get(), index, &name[0], &name_length, nullptr, &type,
                             reinterpret_cast<BYTE*>(&data[0]), &size);
      if (result != ERROR_SUCCESS) continue;
      read.push_back({name.substr(0, name_length), type, data.substr(0, size)});
    }
    values->swap(read);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

bool IsNotFound(HRESULT status) {
  return status == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
         status == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

HRESULT SameKeyName(const std::wstring& a, const std::wstring& b, bool* same) {
  if (a.size() > INT_MAX || b.size() > INT_MAX) return E_INVALIDARG;
  const int order = CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                         static_cast<int>(b.size()), TRUE);
  if (order == 0) return StatusFromLastError();
  *same = order == CSTR_EQUAL;
  return S_OK;
}

namespace {

bool IsAscii(const std::wstring& text) {
  for (const wchar_t c : text) {
    if (c > 0x7f) return false;
  }
  return true;
}

// The non-linguistic upper-casing that ordinal comparisons ignoring case use.
// ASCII names, nearly all of them, are upper-cased here instead.
HRESULT UpperCaseName(const std::wstring& name, std::wstring* upper) {
  if (IsAscii(name)) {
    try {
      upper->assign(name);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    for (wchar_t& c : *upper) {
      if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    return S_OK;
  }
  if (name.size() > INT_MAX) return E_INVALIDARG;
  const int length = static_cast<int>(name.size());
  try {
    std::wstring mapped(name.size(), L'\0');
    const int size = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, name.c_str(), length,
                                  &mapped[0], length);
    if (size <= 0) return StatusFromLastError();
    mapped.resize(static_cast<size_t>(size));
    upper->swap(mapped);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace

HRESULT KeyNameHash(const std::wstring& name, uint32_t* hash) {
  std::wstring upper;
  ZELK_RETURN_IF_FAILED(UpperCaseName(name, &upper));
  uint32_t value = 2166136261u;  // FNV-1a over the 16-bit units
  for (const wchar_t c : upper) {
    value = (value ^ (static_cast<uint32_t>(c) & 0xffu)) * 16777619u;
    value = (value ^ (static_cast<uint32_t>(c) >> 8)) * 16777619u;
  }
  *hash = value;
  return S_OK;
}

}  // namespace zelk
