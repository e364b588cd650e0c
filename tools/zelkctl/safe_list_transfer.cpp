// list export and list import: the safe list to and from a file, for a backup
// and for moving a list between machines.
#include <set>

#include "platform/status.h"
#include "platform/text.h"
#include "tools/zelkctl/arguments.h"
#include "tools/zelkctl/commands.h"
#include "tools/zelkctl/entry_checks.h"
#include "tools/zelkctl/progress_line.h"
#include "tools/zelkctl/safe_list_file.h"
#include "tools/zelkctl/typed_safe_list.h"
#include "tools/zelkctl/utf8_file.h"

namespace zelk {
namespace ctl {

namespace {

constexpr wchar_t kStandardStream[] = L"-";

bool IsStandardStream(const std::wstring& path) { return path == kStandardStream; }

bool IsOption(const std::wstring& operand) { return operand.compare(0, 2, L"--") == 0; }

std::wstring Counted(size_t count, const wchar_t* one, const wchar_t* many) {
  return std::to_wstring(count) + L" " + (count == 1 ? one : many);
}

std::wstring EntryCount(size_t count) { return Counted(count, L"entry", L"entries"); }

// --- export ------------------------------------------------------------------------

// Why an entry could not come back from a backup as it is: it cannot stand
// on a line of its own, or an import could not make it again. Empty when it
// can.
std::wstring WhyNotInBackup(const TypedEntry& entry) {
  const std::wstring why = WhyNotOnOneLine(entry.key);
  return why.empty() ? WhyNotRestorable(entry) : why;
}

// Splits the list into the entries a backup restores exactly and one report
// line for each of the others.
std::wstring SplitRestorable(const std::vector<TypedEntry>& entries,
                             std::vector<TypedEntry>* restorable) {
  std::wstring report;
  for (size_t index = 0; index < entries.size(); ++index) {
    const std::wstring why = WhyNotInBackup(entries[index]);
    if (why.empty()) {
      restorable->push_back(entries[index]);
      continue;
    }
    report += L"zelkctl: list export: entry " + std::to_wstring(index + 1) + L" (" +
              Visible(EntryLine(entries[index])) + L") cannot be restored: " + why + L"\n";
  }
  return report;
}

// A console shows the list as text; a pipe or file gets the file's bytes.
int WriteToStandardOutput(Invocation& call, const std::wstring& text) {
  if (call.console().out_is_console()) {
    call.console().Out(text);
    return kExitSuccess;
  }
  std::string bytes;
  const HRESULT status = Utf8FromWide(text, &bytes);
  if (FAILED(status)) return call.Failure(L"converting the list to UTF-8", status);
  // A failed write is recorded by the console and fails the run.
  call.console().OutBytes(bytes);
  return kExitSuccess;
}

// --- import ------------------------------------------------------------------------

struct ImportOptions {
  bool dry_run = false;
  bool replace = false;
  std::wstring path;
};

// Options first, then FILE. Empty, or what is wrong with the operands.
std::wstring ReadImportOptions(Invocation& call, ImportOptions* options) {
  const size_t last = call.operand_count() - 1;
  for (size_t index = 0; index < last; ++index) {
    const std::wstring& option = call.operand(index);
    if (EqualsIgnoringCase(option, L"--dry-run")) {
      options->dry_run = true;
    } else if (EqualsIgnoringCase(option, L"--replace")) {
      options->replace = true;
    } else if (IsOption(option)) {
      return L"unknown option \"" + Visible(option) + L"\"";
    } else {
      return L"one FILE only, after the options: \"" + Visible(option) + L"\" is no option";
    }
  }
  if (IsOption(call.operand(last))) return L"FILE is missing after the options";
  options->path = call.operand(last);
  return std::wstring();
}

// How the input is named in messages.
std::wstring InputName(const std::wstring& path) {
  return IsStandardStream(path) ? L"(standard input)" : Visible(path);
}

HRESULT ReadInput(const std::wstring& path, std::string* bytes) {
  if (IsStandardStream(path)) return ReadHandleBytes(GetStdHandle(STD_INPUT_HANDLE), bytes);
  return ReadFileBytes(path, bytes);
}

// At most this many bad lines are shown; the count tells the rest.
constexpr size_t kMaxLinesReported = 20;

int ReportMalformed(Invocation& call, const std::wstring& name,
                    const std::vector<LineError>& errors) {
  std::wstring report;
  const size_t shown = errors.size() < kMaxLinesReported ? errors.size() : kMaxLinesReported;
  for (size_t index = 0; index < shown; ++index) {
    report += name + L":" + std::to_wstring(errors[index].number) + L": " +
              errors[index].reason + L"\n";
  }
  report += L"zelkctl: list import: " + Counted(errors.size(), L"line", L"lines") +
            L" not understood";
  if (shown < errors.size()) report += L" (the first " + std::to_wstring(shown) + L" shown)";
  report += L"; nothing was changed\n";
  call.console().Err(report);
  return kExitUsage;
}

std::wstring LinesByKind(const std::wstring& name, const std::vector<ImportLine>& lines) {
  size_t pages = 0, sites = 0, domains = 0;
  for (const ImportLine& line : lines) {
    const DWORD type = line.kind->type;
    (type == 1 ? pages : type == 2 ? sites : domains) += 1;
  }
  return name + L": " + EntryCount(lines.size()) + L" (" + Counted(pages, L"page", L"pages") +
         L", " + Counted(sites, L"site", L"sites") + L", " +
         Counted(domains, L"domain", L"domains") + L")";
}

// The entries of the list that no line of the file holds: none with the same
// key text and type. Key texts are compared exactly, so that afterwards the
// list holds the file's spelling of each URL. The type counts too: an entry
// of another single type would be replaced by the line anyway, but one with
// several type bits would cover the line and stay.
std::vector<TypedEntry> EntriesNotHeld(const std::vector<TypedEntry>& list,
                                       const std::vector<ImportLine>& lines) {
  std::set<TypedEntry> held;
  for (const ImportLine& line : lines) held.insert({line.url, line.kind->type});
  std::vector<TypedEntry> not_held;
  for (const TypedEntry& entry : list) {
    if (held.count(entry) == 0) not_held.push_back(entry);
  }
  return not_held;
}

std::wstring EntryLines(const std::wstring& indent, const std::vector<TypedEntry>& entries) {
  std::wstring text;
  for (const TypedEntry& entry : entries) text += indent + Visible(EntryLine(entry)) + L"\n";
  return text;
}

// An entry that --replace leaves in place, and why.
struct KeptEntry {
  TypedEntry entry;
  std::wstring why;
};

std::wstring KeptLines(const std::vector<KeptEntry>& kept) {
  std::wstring text;
  for (const KeptEntry& item : kept) {
    text += L"  " + Visible(EntryLine(item.entry)) + L" (" + item.why + L")\n";
  }
  return text;
}

// What --replace does with the entries that no line of the file holds.
struct ReplacePlan {
  std::vector<TypedEntry> to_remove;
  std::vector<KeptEntry> kept;
};

// Why removing `entry` would lose an entry that could not be put back:
// UnprotectUrl removes whatever covers the URL. Empty when it would not.
std::wstring WhyRemovalLoses(const TypedEntry& entry, const std::vector<TypedEntry>& fragile) {
  for (const TypedEntry& other : fragile) {
    if (!(other == entry) && UnprotectRemoves(entry, other)) {
      return L"removing it would also remove \"" + Visible(EntryLine(other)) +
             L"\", which could not be put back";
    }
  }
  return std::wstring();
}

// --replace never removes an entry that it could not make again, nor one
// whose removal would take such an entry with it: a restore must not lose
// what it cannot give back.
ReplacePlan PlanReplace(const std::vector<TypedEntry>& list, const std::vector<ImportLine>& lines) {
  std::vector<TypedEntry> fragile;
  for (const TypedEntry& entry : list) {
    if (!WhyNotRestorable(entry).empty()) fragile.push_back(entry);
  }
  ReplacePlan plan;
  for (const TypedEntry& entry : EntriesNotHeld(list, lines)) {
    std::wstring why = WhyNotRestorable(entry);
    if (!why.empty()) {
      why = L"could not be put back: " + why;
    } else {
      why = WhyRemovalLoses(entry, fragile);
    }
    if (why.empty()) {
      plan.to_remove.push_back(entry);
    } else {
      plan.kept.push_back({entry, std::move(why)});
    }
  }
  return plan;
}

// The entries of `entries` that `from` holds (or, with !present, lacks), in
// their order.
std::vector<TypedEntry> Among(const std::vector<TypedEntry>& entries,
                              const std::vector<TypedEntry>& from, bool present) {
  const std::set<TypedEntry> in_from(from.begin(), from.end());
  std::vector<TypedEntry> chosen;
  for (const TypedEntry& entry : entries) {
    if ((in_from.count(entry) != 0) == present) chosen.push_back(entry);
  }
  return chosen;
}

size_t CountMissing(const std::vector<TypedEntry>& entries, const std::vector<TypedEntry>& from) {
  return Among(entries, from, false).size();
}

// What the applied lines did, told apart by the list before and after them:
// entries that are new, entries that are gone (replaced by an overlapping
// line), and lines that left nothing new (already covered, or overtaken by a
// later line of the file).
std::wstring Changes(const std::vector<TypedEntry>& before, const std::vector<TypedEntry>& after,
                     size_t applied) {
  const size_t added = CountMissing(after, before);
  const size_t covered = applied > added ? applied - added : 0;
  return std::to_wstring(added) + L" added, " + std::to_wstring(covered) +
         L" already covered, " + std::to_wstring(CountMissing(before, after)) + L" replaced";
}

// One import: the removals of --replace, then the file's lines in order. A
// failure after the removals began puts the removed entries back.
class ListImport {
 public:
  // `list` is the safe list as it is now.
  ListImport(Invocation& call, IZelkHelper* helper, const std::wstring& name,
             const std::vector<ImportLine>& lines, std::vector<TypedEntry> list)
      : call_(call), helper_(helper), name_(name), lines_(lines), original_(list),
        before_(std::move(list)) {}

  // Removes the planned entries and tells which ones stay. kExitSuccess, or
  // the exit code after reporting a failure.
  int Remove(const ReplacePlan& plan);
  // Applies every line; reports the outcome and returns the exit code.
  int ApplyLines();

 private:
  void ReportKept(std::vector<KeptEntry> kept, const std::vector<TypedEntry>& to_remove);
  std::wstring PutBack(const std::vector<TypedEntry>& removed_first);
  int ReportStopped(size_t index, HRESULT status);

  Invocation& call_;
  IZelkHelper* helper_;
  std::wstring name_;
  const std::vector<ImportLine>& lines_;
  const std::vector<TypedEntry> original_;
  std::vector<TypedEntry> removed_;  // by the removals, in list order
  std::vector<TypedEntry> before_;   // the list before the first line is applied
};

int ListImport::Remove(const ReplacePlan& plan) {
  HRESULT status = S_OK;
  std::wstring failed;
  if (!plan.to_remove.empty()) {
    ProgressLine progress(&call_.console(), L"removing", plan.to_remove.size());
    for (size_t index = 0; index < plan.to_remove.size() && SUCCEEDED(status); ++index) {
      progress.Update(index);
      UniqueBstr key;
      status = BstrFromWide(plan.to_remove[index].key, &key);
      if (SUCCEEDED(status)) status = helper_->UnprotectUrl(key.get());
      // A text the server does not decompose stays; it is told below.
      if (status == E_INVALIDARG) status = S_OK;
      if (FAILED(status)) failed = plan.to_remove[index].key;
    }
  }
  std::vector<TypedEntry> remaining;
  const HRESULT read = FetchTypedSafeList(helper_, &remaining);
  if (FAILED(status) || FAILED(read)) {
    const std::wstring hint = PutBack(original_) + L"; no line of " + name_ + L" was applied";
    if (FAILED(status)) {
      return call_.Failure(L"UnprotectUrl of " + Visible(failed), status, hint.c_str());
    }
    return call_.Failure(L"reading the safe list", read, hint.c_str());
  }
  removed_ = Among(original_, remaining, false);
  before_.swap(remaining);
  ReportKept(plan.kept, plan.to_remove);
  return kExitSuccess;
}

// The planned entries left in place, and any that the server did not remove.
void ListImport::ReportKept(std::vector<KeptEntry> kept, const std::vector<TypedEntry>& to_remove) {
  for (TypedEntry& entry : Among(to_remove, before_, true)) {
    kept.push_back({std::move(entry), L"UnprotectUrl leaves it"});
  }
  if (kept.empty()) return;
  call_.console().Err(L"zelkctl: list import: --replace leaves " + EntryCount(kept.size()) +
                      L" that " + name_ + L" does not hold in place:\n" + KeptLines(kept));
}

// Protects again, in list order, each of `removed_first` that is missing
// now. Tells what became of them.
std::wstring ListImport::PutBack(const std::vector<TypedEntry>& removed_first) {
  std::vector<TypedEntry> now;
  if (FAILED(FetchTypedSafeList(helper_, &now))) {
    return L"the entries removed first could not be read back";
  }
  const std::vector<TypedEntry> removed = Among(removed_first, now, false);
  if (removed.empty()) return L"no entry was removed";
  size_t lost = 0;
  for (const TypedEntry& entry : removed) {
    const EntryKind* kind = EntryKindOfType(entry.type);
    UniqueBstr url;
    HRESULT status = kind != nullptr ? BstrFromWide(entry.key, &url) : E_INVALIDARG;
    if (SUCCEEDED(status)) status = (helper_->*kind->protect)(url.get());
    lost += FAILED(status) ? 1 : 0;
  }
  std::wstring told = L"put back " + std::to_wstring(removed.size() - lost) + L" of the " +
                     EntryCount(removed.size()) + L" removed first";
  return lost == 0 ? told : told + L" (" + std::to_wstring(lost) + L" could not be)";
}

int ListImport::ApplyLines() {
  HRESULT status = S_OK;
  {
    ProgressLine progress(&call_.console(), L"importing", lines_.size());
    for (size_t index = 0; index < lines_.size(); ++index) {
      progress.Update(index);
      const ImportLine& line = lines_[index];
      UniqueBstr url;
      status = BstrFromWide(line.url, &url);
      if (SUCCEEDED(status)) status = (helper_->*line.kind->protect)(url.get());
      if (FAILED(status)) {
        progress.Clear();
        return ReportStopped(index, status);
      }
    }
  }
  std::vector<TypedEntry> after;
  status = FetchTypedSafeList(helper_, &after);
  if (FAILED(status)) return call_.Failure(L"reading the safe list after the import", status);
  std::wstring summary = name_ + L": " + Counted(lines_.size(), L"line", L"lines") +
                         L" applied: " + Changes(before_, after, lines_.size());
  if (!removed_.empty()) {
    summary += L"; " + EntryCount(removed_.size()) + L" not in the file removed first";
  }
  call_.console().Out(summary + L"\n");
  return kExitSuccess;
}

// The lines applied before the failure stay; the list tells what they did.
int ListImport::ReportStopped(size_t index, HRESULT status) {
  const ImportLine& line = lines_[index];
  std::wstring hint = Counted(index, L"line", L"lines") + L" applied before it stay";
  std::vector<TypedEntry> after;
  if (SUCCEEDED(FetchTypedSafeList(helper_, &after))) {
    hint += L" (" + Changes(before_, after, index) + L")";
  }
  hint += L"; line " + std::to_wstring(line.number) + L" and the lines after it were not applied";
  if (!removed_.empty()) hint += L"; " + PutBack(removed_);
  return call_.Failure(name_ + L":" + std::to_wstring(line.number) + L": " + line.kind->member,
                       status, hint.c_str());
}

}  // namespace

// Writes the entries that a backup restores exactly. The others are told
// first, and the run ends with kExitIncomplete: a backup that silently
// changed or dropped them would restore a different list.
int RunListExport(Invocation& call) {
  IZelkHelper* helper = call.Connect();
  if (helper == nullptr) return kExitFailure;
  std::vector<TypedEntry> entries;
  HRESULT status = FetchTypedSafeList(helper, &entries);
  if (FAILED(status)) return call.Failure(L"reading the safe list", status);
  std::vector<TypedEntry> restorable;
  const std::wstring unrestorable = SplitRestorable(entries, &restorable);
  if (!unrestorable.empty()) call.console().Err(unrestorable);
  const std::wstring text = SafeListFileText(restorable);
  const std::wstring& path = call.operand(0);
  int exit_code = kExitSuccess;
  if (IsStandardStream(path)) {
    exit_code = WriteToStandardOutput(call, text);
  } else {
    status = ReplaceFileWithUtf8(path, text);
    if (FAILED(status)) return call.Failure(L"writing " + Visible(path), status);
    call.console().Out(EntryCount(restorable.size()) + L" written to " + Visible(path) + L"\n");
  }
  if (exit_code != kExitSuccess || restorable.size() == entries.size()) return exit_code;
  call.console().Err(L"zelkctl: list export: " + EntryCount(entries.size() - restorable.size()) +
                     L" left out, as told above\n");
  return kExitIncomplete;
}

int RunListImport(Invocation& call) {
  ImportOptions options;
  const std::wstring complaint = ReadImportOptions(call, &options);
  if (!complaint.empty()) return call.UsageError(complaint);
  const std::wstring name = InputName(options.path);
  std::string bytes;
  HRESULT status = ReadInput(options.path, &bytes);
  if (FAILED(status)) return call.Failure(L"reading " + name, status);
  std::vector<ImportLine> lines;
  std::vector<LineError> errors;
  status = ParseSafeListFile(bytes, &lines, &errors);
  if (FAILED(status)) return call.Failure(L"reading " + name, status);
  if (!errors.empty()) return ReportMalformed(call, name, errors);
  if (options.dry_run && !options.replace) {
    call.console().Out(LinesByKind(name, lines) + L"; nothing changed (dry run)\n");
    return kExitSuccess;
  }
  IZelkHelper* helper = call.Connect();
  if (helper == nullptr) return kExitFailure;
  std::vector<TypedEntry> list;
  status = FetchTypedSafeList(helper, &list);
  if (FAILED(status)) return call.Failure(L"reading the safe list", status);
  const ReplacePlan plan = options.replace ? PlanReplace(list, lines) : ReplacePlan();
  if (options.dry_run) {
    std::wstring report = LinesByKind(name, lines) + L"; --replace would first remove " +
                          EntryCount(plan.to_remove.size()) + L" it does not hold" +
                          (plan.to_remove.empty() ? L"" : L":") + L"\n" +
                          EntryLines(L"  ", plan.to_remove);
    if (!plan.kept.empty()) {
      report += L"and leave " + EntryCount(plan.kept.size()) + L" it does not hold in place:\n" +
                KeptLines(plan.kept);
    }
    call.console().Out(report + L"nothing changed (dry run)\n");
    return kExitSuccess;
  }
  ListImport import(call, helper, name, lines, std::move(list));
  const int exit_code = options.replace ? import.Remove(plan) : kExitSuccess;
  return exit_code != kExitSuccess ? exit_code : import.ApplyLines();
}

}  // namespace ctl
}  // namespace zelk
