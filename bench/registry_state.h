// The registry state the benchmark changes, and how it is given back: the
// safe list, and how the server is registered (per user, or hosted by the
// ZelkAdmin service).
//
// Everything the benchmark keeps for itself lives under
// HKEY_CURRENT_USER\Software\ZelkBench: the copy of the user's own
// safe-list entries while they are set aside, and the mark that the machine
// policy key is the benchmark's.
#pragma once

#include <windows.h>

#include <string>

namespace zelk {
namespace bench {

constexpr char kScratchRootPath[] = "Software\\ZelkBench";
constexpr char kSetAsidePath[] = "Software\\ZelkBench\\SetAsideSafeList";
constexpr char kPolicyMarkPath[] = "Software\\ZelkBench\\ManagedPolicy";

// Removes HKEY_CURRENT_USER\Software\ZelkBench at the end of the run when
// nothing is left in it. The key is the benchmark's own; only a set-aside
// list that could not be put back keeps it, for the next run to recover.
class ScratchRoot {
 public:
  ScratchRoot() = default;
  ~ScratchRoot();
  ScratchRoot(const ScratchRoot&) = delete;
  ScratchRoot& operator=(const ScratchRoot&) = delete;
};

// Gives the benchmark an empty HKLM\Software\Zelk\SafeList and gives the
// user's entries back afterwards.
//
// Engage first repairs what an interrupted run left (puts a set-aside copy
// back, removes bench entries), then copies the remaining entries to
// kSetAsidePath and removes them from the list. Restore (also run by the
// destructor) removes the bench entries and copies the set-aside entries
// back. The copy lives in the registry, not in memory, so that even a killed
// run loses nothing: the next run puts it back.
class SafeListGuard {
 public:
  SafeListGuard() = default;
  ~SafeListGuard();
  SafeListGuard(const SafeListGuard&) = delete;
  SafeListGuard& operator=(const SafeListGuard&) = delete;

  HRESULT Engage();
  HRESULT Restore();

 private:
  bool engaged_ = false;
};

// Gives the benchmark HKLM\Software\Policies\Zelk for the managed entries
// it writes, and deletes that key afterwards.
//
// The subkey kPolicyMarkPath says the policy key is the benchmark's: it is
// made before the first write and removed once the key is gone. Engage
// deletes the policy key a killed run left (the mark is there); a policy key
// without the mark is an administrator's: Engage fails with
// HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) and changes nothing. Restore (also
// run by the destructor) deletes the key, then the mark.
class PolicyGuard {
 public:
  PolicyGuard() = default;
  ~PolicyGuard();
  PolicyGuard(const PolicyGuard&) = delete;
  PolicyGuard& operator=(const PolicyGuard&) = delete;

  HRESULT Engage();
  HRESULT Restore();

 private:
  bool engaged_ = false;
};

// How COM activates the server.
enum class Hosting {
  kPerUser,  // LocalServer32, one server per user: what scripts/bench.sh registers
  kService,  // the ZelkAdmin service, as the package installs it
};

// Switches the registration between the two hostings and gives the per-user
// one back, with no service and no server left.
//
// Engage reads the registered server's path. A ZelkAdmin service with that
// server's command is what a killed run left: Engage removes it and registers
// the server per user again. A service with another command belongs to
// someone else: Engage fails with HRESULT_FROM_WIN32(ERROR_SERVICE_EXISTS)
// and changes nothing. Use runs the server's own registrations (/RegService;
// /UnregServer then /RegServer), the service installed at the first switch
// to it and stopped whenever the hosting changes. Restore (also run by the
// destructor) registers per user, deletes the service and the log folder
// /RegService made when it is empty. The access lists /RegService sets stay
// until the Wine session ends (Wine keeps no access list on disk).
class HostingGuard {
 public:
  HostingGuard() = default;
  ~HostingGuard();
  HostingGuard(const HostingGuard&) = delete;
  HostingGuard& operator=(const HostingGuard&) = delete;

  HRESULT Engage();
  // Registers `hosting`; no server runs afterwards.
  HRESULT Use(Hosting hosting);
  HRESULT Restore();

 private:
  HRESULT RegisterPerUser();

  std::string serverPath_;
  std::wstring serviceCommand_;
  std::string logFolder_;
  bool logFolderExisted_ = true;
  bool engaged_ = false;
  // The prefix may be registered for the service (also after a half-done switch).
  bool serviceRegistered_ = false;
};

}  // namespace bench
}  // namespace zelk
