// The one table of commands, and everything that is driven by it: finding
// the command a command line names, checking its operand count, and help.
#include <algorithm>

#include "tools/zelkctl/arguments.h"
#include "tools/zelkctl/commands.h"
#include "tools/zelkctl/registered_server.h"

namespace zelk {
namespace ctl {

namespace {

const Command kCommands[] = {
    {nullptr, L"status", L"", 0, 0,
     L"show the hosting, every setting, the counter, the list and log sizes",
     L"Shows how the server is hosted (Server: \"service ZelkAdmin\" with the\n"
     L"service's state, or \"per user\" when COM starts it for each user), every\n"
     L"setting (flags as on or off), the pop-up counter TotalPopups, and the number\n"
     L"of entries in the safe list and in the pop-up log.\n",
     RunStatus},
    {nullptr, L"get", L"NAME", 1, 1, L"show one setting",
     L"Shows one setting. NAME is one of AutoShow, PlaySound, SoundFile,\n"
     L"ProtectLocal, ProtectHttps, LogPopup, CheckSoftPopup or TotalPopups, in any\n"
     L"letter case. Flags show as on or off, SoundFile as its path, TotalPopups as\n"
     L"the number of pop-ups blocked so far.\n",
     RunGet},
    {nullptr, L"set", L"NAME VALUE", 2, 2, L"change one setting",
     L"Changes one setting and shows its new value. The flags AutoShow, PlaySound,\n"
     L"ProtectLocal, ProtectHttps, LogPopup and CheckSoftPopup take on/off,\n"
     L"true/false or 1/0; SoundFile takes a path (\"\" clears it). TotalPopups is\n"
     L"changed with \"zelkctl count add N\".\n",
     RunSet},
    {nullptr, L"check", L"URL", 1, 1, L"tell whether a URL is protected, and by what",
     L"Shows the protection code the server gives URL, and its meaning:\n"
     L"   0  not protected\n"
     L"   1  protected by a page entry\n"
     L"   2  protected by a site entry\n"
     L"   4  protected by a domain entry\n"
     L"   8  local page (ProtectLocal is on)\n"
     L"  16  secure page (ProtectHttps is on)\n"
     L"Give URL in full, with its scheme: http://www.example.com/page.\n",
     RunCheck},
    {nullptr, L"protect", L"page|site|domain URL", 2, 2, L"add a URL to the safe list",
     L"Adds URL to the safe list as a page (that page, whatever its query), a site\n"
     L"(every page of its host and port) or a domain (every host of its domain).\n"
     L"Entries of the other types that overlap it are replaced; a URL already\n"
     L"covered by an entry of the same type is left as it is. Without a scheme,\n"
     L"http:// is assumed.\n",
     RunProtect},
    {nullptr, L"unprotect", L"URL", 1, 1, L"remove every safe-list entry covering a URL",
     L"Removes every safe-list entry that covers URL: its page entry, the site entry\n"
     L"of its host and the domain entry of its domain. Give URL with its scheme.\n",
     RunUnprotect},
    {nullptr, L"list", L"[--urls]", 0, 1, L"show the safe list with each entry's type",
     L"Shows the safe list in the server's order, one entry per line: \"page URL\",\n"
     L"\"site URL\" or \"domain URL\", the URL exactly as it is stored. An entry whose\n"
     L"stored type is not one of the three shows as \"type=N URL\". With --urls, the\n"
     L"URLs alone.\n",
     RunList},
    {L"list", L"export", L"FILE", 1, 1, L"write the safe list to a file",
     L"Writes the safe list to FILE in the lines \"zelkctl list\" shows, in UTF-8 with\n"
     L"LF line ends, after the comment line \"# zelkctl safe list, N entries\". FILE is\n"
     L"written whole or not at all; an existing FILE is replaced. \"-\" writes to\n"
     L"standard output. An entry that an import could not make again exactly is\n"
     L"named with the reason and left out; the rest is written (exit code 1).\n",
     RunListExport},
    {L"list", L"import", L"[OPTIONS] FILE", 1, 3,
     L"add the entries of a file to the safe list",
     L"Adds the entries of FILE, lines as \"zelkctl list export\" writes them, to the\n"
     L"safe list in their order. FILE is UTF-8, or UTF-16 with a byte order mark.\n"
     L"Blank lines, lines that begin with '#', a '#' comment after a blank and blanks\n"
     L"around the words are ignored; \"-\" reads standard input. FILE is read whole\n"
     L"first: if any line is not understood or holds a URL the server would refuse,\n"
     L"the first 20 such lines are shown as FILE:LINE, then their count, and nothing\n"
     L"is changed (exit code 1). \"type=N\" lines are refused: the server makes only\n"
     L"page, site and domain entries. OPTIONS, before FILE:\n"
     L"  --dry-run  read FILE and tell what it holds (and, with --replace, what would be\n"
     L"             removed); change nothing\n"
     L"  --replace  first remove every entry that no line of FILE holds with the same\n"
     L"             URL text and type, so that the list becomes the file's; an entry\n"
     L"             that could not be put back stays, and is shown\n"
     L"At the end it shows how many entries were added, how many lines were already\n"
     L"covered (or overtaken by a later line) and how many entries were replaced by\n"
     L"overlapping ones. A failure reported by the server stops the import at that\n"
     L"line (exit code 2); the lines applied before it stay, and the entries that\n"
     L"--replace removed are put back.\n",
     RunListImport},
    {L"log", L"show", L"", 0, 0, L"show the pop-up log as a table",
     L"Shows the pop-up log as a plain-text table: the pop-up's URL, the URL of the\n"
     L"page that opened it, and the time. \"-\" stands for a URL that the log holds\n"
     L"no link for; control characters show as \\xNN.\n",
     RunLogShow},
    {L"log", L"export", L"FILE", 1, 1, L"write the pop-up log as an HTML page",
     L"Writes the pop-up log to FILE as a standalone HTML page in UTF-8 that any\n"
     L"browser opens. An existing FILE is replaced.\n",
     RunLogExport},
    {L"log", L"clear", L"", 0, 0, L"delete every entry of the pop-up log",
     L"Deletes the pop-up log's entries and resets its count.\n", RunLogClear},
    {L"log", L"add", L"POPUP_URL SOURCE_URL", 2, 2, L"record a blocked pop-up in the log",
     L"Records a blocked pop-up in the log as the browser does: the pop-up's URL\n"
     L"and the URL of the page that opened it. Nothing is recorded while LogPopup\n"
     L"is off or the log is full.\n",
     RunLogAdd},
    {nullptr, L"policy", L"", 0, 0, L"show machine policy and every policy value ignored",
     L"Shows what machine policy (Group Policy, HKLM\\Software\\Policies\\Zelk) sets:\n"
     L"each managed setting, LockSafeList, and every entry of the managed SafeList\n"
     L"and BlockList with its value name. A value the server ignores is shown with\n"
     L"the reason (a wrong type, an unknown word, a URL the server refuses ...), and\n"
     L"the exit code is then 1. Managed settings cannot be changed with \"set\".\n",
     RunPolicy},
    {L"count", L"add", L"N", 1, 1, L"add N to the pop-up counter",
     L"Adds N, a whole number that may be negative, to the pop-up counter\n"
     L"TotalPopups and shows the new total.\n",
     RunCountAdd},
};

constexpr wchar_t kExitCodes[] =
    L"Exit codes: 0 success, 1 usage error, 2 failure reported by the server or\n"
    L"the system (shown with its status in hexadecimal and the system's message).\n";

bool MatchesGroup(const Command& command, const std::wstring& word) {
  return command.group != nullptr && EqualsIgnoringCase(word, command.group);
}

// A group's subcommands, and the command named like the group ("list").
bool BelongsToGroup(const Command& command, const std::wstring& group) {
  return MatchesGroup(command, group) ||
         (command.group == nullptr && EqualsIgnoringCase(group, command.name));
}

bool IsGroup(const std::wstring& word) {
  return std::any_of(std::begin(kCommands), std::end(kCommands),
                     [&](const Command& command) { return MatchesGroup(command, word); });
}

// The command `group` + `name`; `group` is nullptr for one-word commands.
const Command* FindCommand(const std::wstring* group, const std::wstring& name) {
  for (const Command& command : kCommands) {
    const bool group_matches =
        group == nullptr ? command.group == nullptr : MatchesGroup(command, *group);
    if (group_matches && EqualsIgnoringCase(name, command.name)) return &command;
  }
  return nullptr;
}

std::wstring Synopsis(const Command& command) {
  std::wstring synopsis = CommandWords(command);
  if (command.operands[0] != L'\0') synopsis += L" " + std::wstring(command.operands);
  return synopsis;
}

// One line per command, synopses in a column: all commands, or one group's.
std::wstring CommandList(const std::wstring* group) {
  size_t width = 0;
  for (const Command& command : kCommands) width = std::max(width, Synopsis(command).size());
  std::wstring list;
  for (const Command& command : kCommands) {
    if (group != nullptr && !BelongsToGroup(command, *group)) continue;
    const std::wstring synopsis = Synopsis(command);
    list += L"  " + synopsis + std::wstring(width + 2 - synopsis.size(), L' ') + command.summary +
            L"\n";
  }
  return list;
}

std::wstring Overview() {
  return L"zelkctl administers ZelkAdmin, the settings and bookkeeping server of the\n"
         L"pop-up blocker.\n\n"
         L"usage: zelkctl COMMAND [OPERANDS]\n\n"
         L"Commands:\n" +
         CommandList(nullptr) + L"\n" + kExitCodes +
         L"Run \"zelkctl COMMAND --help\" for the help of one command.\n";
}

std::wstring GroupHelp(const std::wstring& group) {
  return L"usage: zelkctl " + group + L" SUBCOMMAND [OPERANDS]\n\n" + CommandList(&group);
}

std::wstring CommandHelp(const Command& command) {
  return L"usage: zelkctl " + Synopsis(command) + L"\n\n" + command.details;
}

int ShowUsageError(Console* console, const std::wstring& complaint, const std::wstring& help) {
  console->Err(L"zelkctl: " + complaint + L"\n" + help);
  return kExitUsage;
}

// Where a command line's operands begin, once `command` is found: after its
// one or two words.
size_t OperandStart(const Command& command) { return command.group == nullptr ? 1 : 2; }

// Finds the command that `words` name. On failure prints why and returns
// nullptr with *exit_code set; a group named without its subcommand, or asked
// for help, gets the group's help.
const Command* ResolveCommand(const std::vector<std::wstring>& words, Console* console,
                              int* exit_code) {
  if (!IsGroup(words[0])) {
    const Command* command = FindCommand(nullptr, words[0]);
    if (command == nullptr) {
      *exit_code = ShowUsageError(console, L"unknown command \"" + Visible(words[0]) + L"\"",
                                  L"Run \"zelkctl --help\" for the list of commands.\n");
    }
    return command;
  }
  const Command* command = words.size() < 2 ? nullptr : FindCommand(&words[0], words[1]);
  if (command != nullptr) return command;
  // A group that is also a command ("list"): what follows is that command's.
  const Command* group_command = FindCommand(nullptr, words[0]);
  if (group_command != nullptr && (words.size() < 2 || !IsHelpRequest(words[1]))) {
    return group_command;
  }
  if (words.size() < 2) {
    *exit_code = ShowUsageError(console, words[0] + L": missing subcommand", GroupHelp(words[0]));
    return nullptr;
  }
  if (IsHelpRequest(words[1])) {
    console->Out(GroupHelp(words[0]));
    *exit_code = kExitSuccess;
    return nullptr;
  }
  *exit_code = ShowUsageError(
      console, L"unknown " + words[0] + L" subcommand \"" + Visible(words[1]) + L"\"",
      GroupHelp(words[0]));
  return nullptr;
}

// "zelkctl help [COMMAND...]" and "zelkctl --help".
int ShowHelp(const std::vector<std::wstring>& arguments, Console* console) {
  if (arguments.size() < 2) {
    console->Out(Overview());
    return kExitSuccess;
  }
  const std::vector<std::wstring> words(arguments.begin() + 1, arguments.end());
  if (words.size() == 1 && IsGroup(words[0])) {
    console->Out(GroupHelp(words[0]));
    return kExitSuccess;
  }
  int exit_code = kExitSuccess;
  const Command* command = ResolveCommand(words, console, &exit_code);
  if (command != nullptr) console->Out(CommandHelp(*command));
  return exit_code;
}

int RunResolved(const Command& command, const std::vector<std::wstring>& arguments,
                Console* console, ServerSession* server) {
  std::vector<std::wstring> operands(arguments.begin() + OperandStart(command), arguments.end());
  if (std::any_of(operands.begin(), operands.end(), IsHelpRequest)) {
    console->Out(CommandHelp(command));
    return kExitSuccess;
  }
  Invocation call(command, std::move(operands), console, server);
  if (call.operand_count() < command.min_operands) return call.UsageError(L"missing operand");
  if (call.operand_count() > command.max_operands) return call.UsageError(L"too many operands");
  return command.run(call);
}

}  // namespace

std::wstring CommandWords(const Command& command) {
  return command.group == nullptr ? std::wstring(command.name)
                                  : std::wstring(command.group) + L" " + command.name;
}

Invocation::Invocation(const Command& command, std::vector<std::wstring> operands, Console* console,
                       ServerSession* server)
    : command_(command), operands_(std::move(operands)), console_(console), server_(server) {}

IZelkHelper* Invocation::Connect() {
  IZelkHelper* helper = nullptr;
  const HRESULT status = server_->Connect(&helper);
  if (SUCCEEDED(status)) return helper;
  Failure(L"connecting to the ZelkAdmin server", status,
          status == REGDB_E_CLASSNOTREG
              ? L"the server is not registered: run \"ZelkAdmin.exe /RegServer\" first"
              : nullptr);
  return nullptr;
}

int Invocation::UsageError(const std::wstring& complaint) {
  console_->Err(L"zelkctl: " + CommandWords(command_) + L": " + complaint + L"\nusage: zelkctl " +
                Synopsis(command_) + L"\nRun \"zelkctl " + CommandWords(command_) +
                L" --help\" for details.\n");
  return kExitUsage;
}

int Invocation::Failure(const std::wstring& operation, HRESULT status, const wchar_t* hint) {
  std::wstring report = L"zelkctl: " + CommandWords(command_) + L": " + operation + L" failed: " +
                        HexStatus(status) + L" " + SystemMessage(status) + L"\n";
  if (hint != nullptr) report += L"zelkctl: " + std::wstring(hint) + L"\n";
  if (status == E_ACCESSDENIED) {
    // The advice depends on whose rights the server writes with; a hosting
    // that cannot be found is taken as the per-user server's.
    ServerHosting hosting;
    const bool by_service = SUCCEEDED(QueryServerHosting(&hosting)) && !hosting.service.empty();
    report += RefusedChangeAdvice(operation, status, by_service);
  }
  console_->Err(report);
  return kExitFailure;
}

int RunCommandLine(const std::vector<std::wstring>& arguments, Console* console,
                   ServerSession* server) {
  if (arguments.empty()) return ShowUsageError(console, L"no command given", Overview());
  if (IsHelpRequest(arguments[0]) || EqualsIgnoringCase(arguments[0], L"help")) {
    return ShowHelp(arguments, console);
  }
  int exit_code = kExitUsage;
  const Command* command = ResolveCommand(arguments, console, &exit_code);
  if (command == nullptr) return exit_code;
  return RunResolved(*command, arguments, console, server);
}

}  // namespace ctl
}  // namespace zelk
