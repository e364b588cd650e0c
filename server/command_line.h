// The switches of the command line: the registration runs, and the one that
// says the service control manager may have started the process.
#pragma once

namespace zelk {

enum class CommandLineAction {
  kRunServer,
  kRunService,        // "Service": connect to the service control manager first
  kRegister,          // "RegServer": the per-user server
  kRegisterService,   // "RegService": the machine-wide server hosted by the service
  kUnregister,        // "UnregServer"
};

// The position just after the first character of `text` that is one of
// `delimiters`, stepping a double-byte character as one; null when none.
const char* FindNextSwitch(const char* text, const char* delimiters);

// True when the switch text starts with `word` (ignoring letter case) followed
// by the end of the text, a space or a tab.
bool SwitchEquals(const char* switch_text, const char* word);

// Scans the whole command line, program path included: every '-' or '/' starts
// a candidate, and the leftmost "RegServer", "RegService" or "UnregServer"
// decides. Without one of them, a "Service" anywhere asks for a service run.
//   "app.exe /RegServer"              -> kRegister
//   "app.exe -unregserver /regserver" -> kUnregister
//   "app.exe /RegServerX"             -> kRunServer
//   "app.exe \"/RegServer\""          -> kRunServer (the quote follows the word)
//   "app.exe -Service /RegServer"     -> kRegister (a registration switch wins)
CommandLineAction ScanCommandLine(const char* command_line);

}  // namespace zelk
