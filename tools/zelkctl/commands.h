// The commands of zelkctl: the table that names them, what a handler is
// given, and the server queries that several commands share.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "policy/policy.h"
#include "tools/zelkctl/console.h"
#include "tools/zelkctl/log_rows.h"
#include "tools/zelkctl/server_session.h"
#include "zelk_admin.h"

namespace zelk {
namespace ctl {

enum ExitCode : int {
  kExitSuccess = 0,
  kExitUsage = 1,    // the command line was wrong; nothing was done
  // The run did all it could and told what it could not ("list export" of
  // entries that a backup cannot restore).
  kExitIncomplete = 1,
  kExitFailure = 2,  // the server (or the system) reported a failure
};

class Invocation;

// One row of the command table. Two-word commands ("log show") name their
// group; the others have none.
struct Command {
  const wchar_t* group;  // nullptr for a one-word command
  const wchar_t* name;
  const wchar_t* operands;  // synopsis of the operands, "" when there are none
  size_t min_operands;
  size_t max_operands;
  const wchar_t* summary;  // one line for the overview
  const wchar_t* details;  // the rest of the command's own help
  int (*run)(Invocation& call);
};

// "log show", "status": the words that select the command.
std::wstring CommandWords(const Command& command);

// What a handler gets: its operands, the output, and the server connection.
class Invocation {
 public:
  Invocation(const Command& command, std::vector<std::wstring> operands, Console* console,
             ServerSession* server);

  const std::wstring& operand(size_t index) const { return operands_[index]; }
  size_t operand_count() const { return operands_.size(); }
  Console& console() { return *console_; }

  // The server object, or nullptr after reporting why it cannot be reached.
  IZelkHelper* Connect();

  // Print the complaint with the command's usage line; return kExitUsage.
  int UsageError(const std::wstring& complaint);
  // Print what failed with the status and its system message; return
  // kExitFailure. `hint`, when given, follows on its own line.
  int Failure(const std::wstring& operation, HRESULT status, const wchar_t* hint = nullptr);

 private:
  const Command& command_;
  std::vector<std::wstring> operands_;
  Console* console_;
  ServerSession* server_;
};

// Runs the command line (the arguments after the program name) and returns
// the process exit code.
int RunCommandLine(const std::vector<std::wstring>& arguments, Console* console,
                   ServerSession* server);

// --- Handlers (one per table row) ---------------------------------------------------
int RunStatus(Invocation& call);
int RunGet(Invocation& call);
int RunSet(Invocation& call);
int RunCountAdd(Invocation& call);
int RunCheck(Invocation& call);
int RunProtect(Invocation& call);
int RunUnprotect(Invocation& call);
int RunList(Invocation& call);
int RunListExport(Invocation& call);
int RunListImport(Invocation& call);
int RunLogShow(Invocation& call);
int RunLogExport(Invocation& call);
int RunLogClear(Invocation& call);
int RunLogAdd(Invocation& call);
int RunPolicy(Invocation& call);

// --- Machine policy, read as the server reads it -----------------------------------------
// S_OK or E_OUTOFMEMORY.
HRESULT ReadMachinePolicy(Policy* policy);
// Whether policy manages the setting `name` (any letter case).
bool PolicyManagesSetting(const Policy& policy, const std::wstring& name);
// "SafeList\1  site URL": a managed entry with the value that holds it.
std::wstring ManagedEntryLine(const wchar_t* list_name, const ManagedEntry& entry);

// --- Server queries shared by several commands -------------------------------------------
// The safe list's key texts in the server's order.
HRESULT FetchSafeList(IZelkHelper* helper, std::vector<std::wstring>* keys);
// The log's rows, parsed.
HRESULT FetchLogRows(IZelkHelper* helper, std::vector<LogRow>* rows);

}  // namespace ctl
}  // namespace zelk
