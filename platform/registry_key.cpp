#include "platform/registry_key.h"

#include <new>
#include <vector>

#include "platform/status.h"

namespace zelk {

namespace {

HRESULT ToStatus(LONG result) { return result == ERROR_SUCCESS ? S_OK : StatusFromWin32(result); }

}  // namespace

HRESULT RegistryKey::Open(HKEY parent, const char* subkey, REGSAM access) {
  HKEY opened = nullptr;
  LONG result = RegOpenKeyExA(parent, subkey, 0, access, &opened);
  if (result != ERROR_SUCCESS) return StatusFromWin32(result);
  key_.reset(opened);
  return S_OK;
}

HRESULT RegistryKey::Create(HKEY parent, const char* subkey, REGSAM access) {
  HKEY created = nullptr;
  LONG result = RegCreateKeyExA(parent, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                nullptr, &created, nullptr);
  if (result != ERROR_SUCCESS) return StatusFromWin32(result);
  key_.reset(created);
  return S_OK;
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

HRESULT RegistryKey::QuerySubkeyInfo(DWORD* count, DWORD* longest_name) const {
  DWORD subkeys = 0;
  DWORD longest = 0;
  LONG result = RegQueryInfoKeyA(key_.get(), nullptr, nullptr, nullptr, &subkeys, &longest,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS) return StatusFromWin32(result);
  *count = subkeys;
  *longest_name = longest;
  return S_OK;
}

HRESULT RegistryKey::EnumSubkey(DWORD index, std::string* name) const {
  // Key names are at most 255 characters.
  char buffer[256 + 16];
  DWORD length = sizeof(buffer);
  LONG result = RegEnumKeyExA(key_.get(), index, buffer, &length, nullptr, nullptr, nullptr,
                              nullptr);
  if (result != ERROR_SUCCESS) return StatusFromWin32(result);
  try {
    name->assign(buffer, length);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

bool IsNotFound(HRESULT status) {
  return status == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
         status == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

}  // namespace zelk
