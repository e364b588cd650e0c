#include "bench/registry_state.h"

#include <cstdio>
#include <new>
#include <vector>

#include "bench/bench_entries.h"
#include "bench/bench_results.h"
#include "bench/server_process.h"
#include "bench/service_control.h"
#include "platform/registry_key.h"
#include "platform/status.h"
#include "policy/policy.h"
#include "server/service_registration.h"

namespace zelk {
namespace bench {

namespace {

HRESULT DeleteTree(HKEY parent, const char* path) {
  const LONG result = RegDeleteTreeA(parent, path);
  if (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) return S_OK;
  return StatusFromWin32(result);
}

void WarnIfFailed(HRESULT status, const char* what) {
  if (FAILED(status)) {
    std::fprintf(stderr, "zelk_bench: %s failed: 0x%08lX\n", what,
                 static_cast<unsigned long>(status));
  }
}

HRESULT ListSubkeyNames(const RegistryKey& key, std::vector<std::string>* names) {
  DWORD count = 0;
  DWORD longest = 0;
  ZELK_RETURN_IF_FAILED(key.QuerySubkeyInfo(&count, &longest));
  try {
    for (DWORD index = 0; index < count; ++index) {
      std::string name;
      const HRESULT status = key.EnumSubkey(index, &name);
      if (status == HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS)) break;
      ZELK_RETURN_IF_FAILED(status);
      names->push_back(std::move(name));
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CopyTree(const RegistryKey& from, const RegistryKey& to) {
  const LONG result = RegCopyTreeA(from.get(), nullptr, to.get());
  return result == ERROR_SUCCESS ? S_OK : StatusFromWin32(result);
}

// Copies a set-aside list back into the SafeList key, then drops the copy.
// The copy is dropped only once it is back, so a failure loses nothing.
HRESULT PutSetAsideBack() {
  RegistryKey copy;
  const HRESULT open_status = copy.Open(HKEY_CURRENT_USER, kSetAsidePath, kReadAccess);
  if (IsNotFound(open_status)) return S_OK;
  ZELK_RETURN_IF_FAILED(open_status);
  RegistryKey list;
  ZELK_RETURN_IF_FAILED(list.Open(HKEY_LOCAL_MACHINE, kSafeListKeyPath, kReadWriteAccess));
  ZELK_RETURN_IF_FAILED(CopyTree(copy, list));
  copy.Close();
  return DeleteTree(HKEY_CURRENT_USER, kSetAsidePath);
}

// The copy must hold at least what is about to be removed from the list.
HRESULT ConfirmCopyHolds(const RegistryKey& copy, size_t expected) {
  DWORD count = 0;
  DWORD longest = 0;
  ZELK_RETURN_IF_FAILED(copy.QuerySubkeyInfo(&count, &longest));
  return count >= expected ? S_OK : E_FAIL;
}

// Moves the entries now in the list to the set-aside copy. Entries are
// removed from the list only after the whole copy is written.
HRESULT SetEntriesAside() {
  RegistryKey list;
  ZELK_RETURN_IF_FAILED(list.Open(HKEY_LOCAL_MACHINE, kSafeListKeyPath, kReadWriteAccess));
  std::vector<std::string> names;
  ZELK_RETURN_IF_FAILED(ListSubkeyNames(list, &names));
  if (names.empty()) return S_OK;
  RegistryKey copy;
  ZELK_RETURN_IF_FAILED(copy.Create(HKEY_CURRENT_USER, kSetAsidePath, kReadWriteAccess));
  ZELK_RETURN_IF_FAILED(CopyTree(list, copy));
  ZELK_RETURN_IF_FAILED(ConfirmCopyHolds(copy, names.size()));
  for (const std::string& name : names) {
    ZELK_RETURN_IF_FAILED(DeleteTree(list.get(), name.c_str()));
  }
  std::printf("zelk_bench: set %u existing safe-list entries aside until the end of the run\n",
              static_cast<unsigned>(names.size()));
  return S_OK;
}

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

// --- ScratchRoot ---------------------------------------------------------------

ScratchRoot::~ScratchRoot() {
  // RegDeleteKeyA refuses a key with subkeys: that is the "only when empty".
  const LONG result = RegDeleteKeyA(HKEY_CURRENT_USER, kScratchRootPath);
  if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
    std::fprintf(stderr, "zelk_bench: HKCU\\%s kept (%ld): something is left in it\n",
                 kScratchRootPath, static_cast<long>(result));
  }
}

// --- SafeListGuard ---------------------------------------------------------------

SafeListGuard::~SafeListGuard() { WarnIfFailed(Restore(), "restoring the safe list"); }

HRESULT SafeListGuard::Engage() {
  // Engaged from the first change on, so that a failure half-way is undone.
  engaged_ = true;
  ZELK_RETURN_IF_FAILED(RemoveBenchEntries());
  // What an interrupted run set aside goes back before anything is set aside
  // again.
  ZELK_RETURN_IF_FAILED(PutSetAsideBack());
  return SetEntriesAside();
}

HRESULT SafeListGuard::Restore() {
  if (!engaged_) return S_OK;
  const HRESULT removed = RemoveBenchEntries();
  const HRESULT put_back = PutSetAsideBack();
  if (SUCCEEDED(removed) && SUCCEEDED(put_back)) engaged_ = false;
  return FAILED(removed) ? removed : put_back;
}

// --- PolicyGuard -------------------------------------------------------------------

namespace {

HRESULT KeyExists(HKEY root, const char* path, REGSAM access, bool* exists) {
  RegistryKey key;
  const HRESULT status = key.Open(root, path, access);
  *exists = SUCCEEDED(status);
  return IsNotFound(status) ? S_OK : status;
}

}  // namespace

PolicyGuard::~PolicyGuard() { WarnIfFailed(Restore(), "deleting the machine policy key"); }

HRESULT PolicyGuard::Engage() {
  bool marked = false;
  ZELK_RETURN_IF_FAILED(KeyExists(HKEY_CURRENT_USER, kPolicyMarkPath, kReadAccess, &marked));
  if (!marked) {
    bool policy = false;
    ZELK_RETURN_IF_FAILED(
        KeyExists(HKEY_LOCAL_MACHINE, kPolicyKeyPath, kPolicyReadAccess, &policy));
    if (policy) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
  }
  engaged_ = true;
  RegistryKey mark;
  ZELK_RETURN_IF_FAILED(mark.Create(HKEY_CURRENT_USER, kPolicyMarkPath, kReadWriteAccess));
  if (marked) Progress("deleting the machine policy an interrupted run left");
  return RemovePolicyKey();
}

HRESULT PolicyGuard::Restore() {
  if (!engaged_) return S_OK;
  ZELK_RETURN_IF_FAILED(RemovePolicyKey());
  ZELK_RETURN_IF_FAILED(DeleteTree(HKEY_CURRENT_USER, kPolicyMarkPath));
  engaged_ = false;
  return S_OK;
}

// --- HostingGuard ------------------------------------------------------------------

HostingGuard::~HostingGuard() { WarnIfFailed(Restore(), "restoring the per-user registration"); }

HRESULT HostingGuard::Engage() {
  ZELK_RETURN_IF_FAILED(ReadServerPath(&serverPath_));
  ZELK_RETURN_IF_FAILED(ServiceCommandFor(serverPath_, &serviceCommand_));
  std::string log_file;
  ZELK_RETURN_IF_FAILED(GetSharedLogPaths(&logFolder_, &log_file));
  ServiceState state = ServiceState::kAbsent;
  std::wstring command;
  ZELK_RETURN_IF_FAILED(QueryServerService(&state, &command));
  if (state != ServiceState::kAbsent && command != serviceCommand_) {
    return HRESULT_FROM_WIN32(ERROR_SERVICE_EXISTS);
  }
  engaged_ = true;
  if (state == ServiceState::kAbsent) {
    logFolderExisted_ = FolderExists(logFolder_);
    return S_OK;
  }
  // A killed run's service; its log folder is the benchmark's too.
  logFolderExisted_ = false;
  Progress("removing the ZelkAdmin service an interrupted run left");
  serviceRegistered_ = true;
  ZELK_RETURN_IF_FAILED(Restore());
  // Still engaged for this run's own switches.
  engaged_ = true;
  return S_OK;
}

HRESULT HostingGuard::RegisterPerUser() {
  if (!serviceRegistered_) return StopServerService();
  ZELK_RETURN_IF_FAILED(StopServerService());
  // /RegServer alone would keep the AppID's LocalService value.
  ZELK_RETURN_IF_FAILED(RunServerSwitch(serverPath_, "/UnregServer"));
  ZELK_RETURN_IF_FAILED(RunServerSwitch(serverPath_, "/RegServer"));
  serviceRegistered_ = false;
  return S_OK;
}

HRESULT HostingGuard::Use(Hosting hosting) {
  if (hosting == Hosting::kPerUser) return RegisterPerUser();
  ZELK_RETURN_IF_FAILED(StopServerService());
  ServiceState state = ServiceState::kAbsent;
  std::wstring command;
  ZELK_RETURN_IF_FAILED(QueryServerService(&state, &command));
  if (state == ServiceState::kAbsent) ZELK_RETURN_IF_FAILED(InstallServerService(serviceCommand_));
  serviceRegistered_ = true;
  return RunServerSwitch(serverPath_, "/RegService");
}

HRESULT HostingGuard::Restore() {
  if (!engaged_) return S_OK;
  ZELK_RETURN_IF_FAILED(RegisterPerUser());
  ZELK_RETURN_IF_FAILED(DeleteServerService());
  // Only an empty folder goes; one that holds a log is someone's.
  if (!logFolderExisted_ && !RemoveDirectoryA(logFolder_.c_str()) &&
      GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND &&
      GetLastError() != ERROR_DIR_NOT_EMPTY) {
    return StatusFromLastError();
  }
  engaged_ = false;
  return S_OK;
}

}  // namespace bench
}  // namespace zelk
