#include "server/registration.h"

#include <shlwapi.h>

#include <new>

#include "automation/settings_store.h"
#include "platform/registry_key.h"
#include "platform/status.h"
#include "platform/text.h"
#include "platform/unique_resource.h"
#include "server/registry_script.h"
#include "server/service_identity.h"

namespace zelk {

namespace {

// Replacements are always inserted inside single-quoted script strings.
std::wstring DoubleSingleQuotes(const std::wstring& text) {
  std::wstring doubled;
  doubled.reserve(text.size() + 4);
  for (wchar_t c : text) {
    doubled += c;
    if (c == L'\'') doubled += L'\'';
  }
  return doubled;
}

HRESULT ReadScriptResource(const std::string& module_path, UINT resource_id, std::string* text) {
  UniqueLibrary module(LoadLibraryExA(module_path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!module) return StatusFromLastError();
  HRSRC resource = FindResourceA(module.get(), MAKEINTRESOURCEA(resource_id), "REGISTRY");
  if (resource == nullptr) return StatusFromLastError();
  HGLOBAL loaded = LoadResource(module.get(), resource);
  if (loaded == nullptr) return StatusFromLastError();
  const DWORD size = SizeofResource(module.get(), resource);
  const void* bytes = LockResource(loaded);
  if (bytes == nullptr || size == 0) return StatusFromLastError();
  text->assign(static_cast<const char*>(bytes), size);
  return S_OK;
}

HRESULT LoadOwnTypeLibrary(ComPtr<ITypeLib>* library, std::wstring* loaded_path) {
  std::string path;
  ZELK_RETURN_IF_FAILED(GetModulePath(&path));
  std::wstring wide_path;
  ZELK_RETURN_IF_FAILED(WideFromNarrow(path.data(), path.size(), &wide_path));
  if (SUCCEEDED(LoadTypeLib(wide_path.c_str(), library->put()))) {
    loaded_path->swap(wide_path);
    return S_OK;
  }
  // Without the embedded library, a .tlb beside the executable serves.
  const size_t extension = static_cast<size_t>(PathFindExtensionA(path.c_str()) - path.c_str());
  path.replace(extension, std::string::npos, ".tlb");
  ZELK_RETURN_IF_FAILED(WideFromNarrow(path.data(), path.size(), &wide_path));
  ZELK_RETURN_IF_FAILED(LoadTypeLib(wide_path.c_str(), library->put()));
  loaded_path->swap(wide_path);
  return S_OK;
}

HRESULT RegisterClassEntries() {
  ZELK_RETURN_IF_FAILED(ApplyScript(kClassScriptResource, true, {}));
  return RegisterTypeLibrary();
}

HRESULT UnregisterClassEntries() {
  ZELK_RETURN_IF_FAILED(ApplyScript(kClassScriptResource, false, {}));
  return UnregisterTypeLibrary();
}

// A binary value's text in a script: two hexadecimal digits a byte.
std::wstring HexFromBytes(const std::string& bytes) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring text;
  text.reserve(bytes.size() * 2);
  for (unsigned char byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

// The log file named by the settings; false when there is none to delete.
bool ReadLogFilePath(std::string* path) {
  RegistryKey key;
  if (FAILED(key.Open(HKEY_LOCAL_MACHINE, kSettingsKeyPath, kReadWriteAccess))) return false;
  return SUCCEEDED(key.ReadString(setting::kLogFile, path));
}

}  // namespace

HRESULT GetModulePath(std::string* path) {
  char buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (length == 0) return StatusFromLastError();
  if (length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  try {
    path->assign(buffer, length);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT GetDefaultLogFilePath(std::string* path) {
  std::string module_path;
  ZELK_RETURN_IF_FAILED(GetModulePath(&module_path));
  const size_t name = static_cast<size_t>(PathFindFileNameA(module_path.c_str()) - module_path.c_str());
  module_path.replace(name, std::string::npos, kLogFileName);
  if (module_path.size() >= kRegistryStringBufferBytes) {
    return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  }
  path->swap(module_path);
  return S_OK;
}

HRESULT ApplyScript(UINT resource_id, bool register_mode, const Replacements& extra) {
  try {
    RegistryScript script;
    for (const auto& replacement : extra) {
      ZELK_RETURN_IF_FAILED(script.AddReplacement(replacement.first.c_str(), replacement.second.c_str()));
    }
    ZELK_RETURN_IF_FAILED(script.AddReplacement(L"APPID", kAppId));
    std::string module_path;
    ZELK_RETURN_IF_FAILED(GetModulePath(&module_path));
    std::wstring wide_path;
    ZELK_RETURN_IF_FAILED(WideFromNarrow(module_path.data(), module_path.size(), &wide_path));
    ZELK_RETURN_IF_FAILED(script.AddReplacement(L"Module", DoubleSingleQuotes(wide_path).c_str()));
    std::string text;
    ZELK_RETURN_IF_FAILED(ReadScriptResource(module_path, resource_id, &text));
    return script.RunScript(text.c_str(), register_mode);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT RegisterTypeLibrary() {
  ComPtr<ITypeLib> library;
  std::wstring path;
  ZELK_RETURN_IF_FAILED(LoadOwnTypeLibrary(&library, &path));
  std::wstring help_directory = path;
  const size_t separator = help_directory.find_last_of(L"\\/:");
  if (separator != std::wstring::npos) help_directory.resize(separator + 1);
  return RegisterTypeLib(library.get(), &path[0], &help_directory[0]);
}

HRESULT UnregisterTypeLibrary() {
  ComPtr<ITypeLib> library;
  std::wstring path;
  ZELK_RETURN_IF_FAILED(LoadOwnTypeLibrary(&library, &path));
  TLIBATTR* attributes = nullptr;
  ZELK_RETURN_IF_FAILED(library->GetLibAttr(&attributes));
  const TLIBATTR copy = *attributes;
  library->ReleaseTLibAttr(attributes);
  // A library that is not registered has nothing to remove. Unregistration
  // then goes on to the AppID, so that it also undoes a registration that
  // failed half-way (the installer's rollback relies on that).
  UniqueBstr registered_path;
  const HRESULT query = QueryPathOfRegTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum,
                                              copy.lcid, registered_path.put());
  if (query == TYPE_E_LIBNOTREGISTERED) return S_OK;
  return UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
}

HRESULT ApplyServiceScript(bool register_mode) {
  std::string launch;
  ZELK_RETURN_IF_FAILED(LaunchPermissionDescriptor(&launch));
  std::string access;
  ZELK_RETURN_IF_FAILED(AccessPermissionDescriptor(&access));
  try {
    return ApplyScript(kServiceScriptResource, register_mode,
                       {{L"SERVICE", kServiceName},
                        {L"LAUNCHPERMISSION", HexFromBytes(launch)},
                        {L"ACCESSPERMISSION", HexFromBytes(access)}});
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT RegisterServer(const std::string& log_file_path) {
  try {
    ZELK_RETURN_IF_FAILED(ApplyScript(kAppIdScriptResource, true, {{L"APPID", kAppId}}));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  ZELK_RETURN_IF_FAILED(RegisterClassEntries());
  return WriteDefaultSettings(log_file_path);
}

HRESULT RunRegistration() {
  // Checked first, so that a path the log could not use writes nothing at all.
  std::string log_file_path;
  ZELK_RETURN_IF_FAILED(GetDefaultLogFilePath(&log_file_path));
  return RegisterServer(log_file_path);
}

HRESULT RunUnregistration() {
  std::string log_file_path;
  const bool has_log_file = ReadLogFilePath(&log_file_path);
  ZELK_RETURN_IF_FAILED(UnregisterClassEntries());
  // Only once the class is gone: a failed unregistration must lose no log.
  if (has_log_file) DeleteFileA(log_file_path.c_str());
  ZELK_RETURN_IF_FAILED(ApplyServiceScript(false));
  try {
    return ApplyScript(kAppIdScriptResource, false, {{L"APPID", kAppId}});
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace zelk
