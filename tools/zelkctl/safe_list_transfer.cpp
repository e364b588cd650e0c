// list export and list import: the safe list to and from a file, for a backup
// and for moving a list between machines.
#include <set>

#include "platform/status.h"
#include "platform/text.h"
#include "tools/zelkctl/arguments.h"
#include "tools/zelkctl/commands.h"
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

// One report line for each entry that cannot stand on a line of its own: a
// backup that changed or dropped it would restore a different list.
std::wstring UnwritableEntries(const std::vector<TypedEntry>& entries) {
  std::wstring report;
  for (size_t index = 0; index < entries.size(); ++index) {
    const std::wstring why = WhyNotOnOneLine(entries[index].key);
    if (why.empty()) continue;
    report += L"zelkctl: list export: entry " + std::to_wstring(index + 1) + L" (" +
              Visible(EntryLine(entries[index])) + L") cannot be written: " + why + L"\n";
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

int ReportMalformed(Invocation& call, const std::wstring& name,
                    const std::vector<LineError>& errors) {
  std::wstring report;
  for (const LineError& error : errors) {
    report += name + L":" + std::to_wstring(error.number) + L": " + error.reason + L"\n";
  }
  report += L"zelkctl: list import: " + Counted(errors.size(), L"line", L"lines") +
            L" not understood; nothing was changed\n";
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

size_t CountMissing(const std::vector<TypedEntry>& entries, const std::vector<TypedEntry>& from) {
  const std::set<TypedEntry> present(from.begin(), from.end());
  size_t missing = 0;
  for (const TypedEntry& entry : entries) missing += present.count(entry) == 0 ? 1 : 0;
  return missing;
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

// One import: the removals of --replace, then the file's lines in order.
class ListImport {
 public:
  // `list` is the safe list as it is now.
  ListImport(Invocation& call, IZelkHelper* helper, const std::wstring& name,
             const std::vector<ImportLine>& lines, std::vector<TypedEntry> list)
      : call_(call), helper_(helper), name_(name), lines_(lines), before_(std::move(list)) {}

  // Removes the entries that the file does not hold. kExitSuccess, or the
  // exit code after reporting why not all of them could be removed.
  int RemoveNotHeld(const std::vector<TypedEntry>& not_held);
  // Applies every line; reports the outcome and returns the exit code.
  int ApplyLines();

 private:
  int ReportLeftBehind(const std::vector<TypedEntry>& left);
  int ReportStopped(size_t index, HRESULT status);

  Invocation& call_;
  IZelkHelper* helper_;
  std::wstring name_;
  const std::vector<ImportLine>& lines_;
  size_t removed_ = 0;
  std::vector<TypedEntry> before_;  // the list before the first line is applied
};

int ListImport::RemoveNotHeld(const std::vector<TypedEntry>& not_held) {
  if (not_held.empty()) return kExitSuccess;
  {
    ProgressLine progress(&call_.console(), L"removing", not_held.size());
    for (size_t index = 0; index < not_held.size(); ++index) {
      progress.Update(index);
      UniqueBstr key;
      HRESULT status = BstrFromWide(not_held[index].key, &key);
      if (SUCCEEDED(status)) status = helper_->UnprotectUrl(key.get());
      // A text that does not decompose is refused; the check below names it.
      if (FAILED(status) && status != E_INVALIDARG) {
        progress.Clear();
        const std::wstring hint = L"the entries removed before it stay removed; no line of " +
                                  name_ + L" was applied";
        return call_.Failure(L"UnprotectUrl of " + Visible(not_held[index].key), status,
                             hint.c_str());
      }
    }
  }
  std::vector<TypedEntry> remaining;
  const HRESULT status = FetchTypedSafeList(helper_, &remaining);
  if (FAILED(status)) return call_.Failure(L"reading the safe list", status);
  // UnprotectUrl removes whatever covers the URL, entries that the file holds
  // too (their lines add them again), but an entry with no type bit, or whose
  // text does not decompose, covers nothing and stays.
  removed_ = CountMissing(before_, remaining);
  before_.swap(remaining);
  const std::vector<TypedEntry> left = EntriesNotHeld(before_, lines_);
  return left.empty() ? kExitSuccess : ReportLeftBehind(left);
}

int ListImport::ReportLeftBehind(const std::vector<TypedEntry>& left) {
  call_.console().Err(L"zelkctl: list import: UnprotectUrl does not remove " +
                      Counted(left.size(), L"entry", L"entries") + L" that " + name_ +
                      L" does not hold:\n" + EntryLines(L"  ", left) +
                      L"zelkctl: no line of " + name_ + L" was applied\n");
  return kExitFailure;
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
  if (removed_ != 0) summary += L"; " + EntryCount(removed_) + L" not in the file removed first";
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
  return call_.Failure(name_ + L":" + std::to_wstring(line.number) + L": " + line.kind->member,
                       status, hint.c_str());
}

}  // namespace

int RunListExport(Invocation& call) {
  IZelkHelper* helper = call.Connect();
  if (helper == nullptr) return kExitFailure;
  std::vector<TypedEntry> entries;
  HRESULT status = FetchTypedSafeList(helper, &entries);
  if (FAILED(status)) return call.Failure(L"reading the safe list", status);
  const std::wstring unwritable = UnwritableEntries(entries);
  if (!unwritable.empty()) {
    call.console().Err(unwritable + L"zelkctl: list export: nothing was written\n");
    return kExitFailure;
  }
  const std::wstring text = SafeListFileText(entries);
  const std::wstring& path = call.operand(0);
  if (IsStandardStream(path)) return WriteToStandardOutput(call, text);
  status = ReplaceFileWithUtf8(path, text);
  if (FAILED(status)) return call.Failure(L"writing " + Visible(path), status);
  call.console().Out(EntryCount(entries.size()) + L" written to " + Visible(path) + L"\n");
  return kExitSuccess;
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
  const std::vector<TypedEntry> not_held =
      options.replace ? EntriesNotHeld(list, lines) : std::vector<TypedEntry>();
  if (options.dry_run) {
    call.console().Out(LinesByKind(name, lines) + L"; --replace would first remove " +
                       EntryCount(not_held.size()) + L" it does not hold" +
                       (not_held.empty() ? L"" : L":") + L"\n" + EntryLines(L"  ", not_held) +
                       L"nothing changed (dry run)\n");
    return kExitSuccess;
  }
  ListImport import(call, helper, name, lines, std::move(list));
  const int exit_code = import.RemoveNotHeld(not_held);
  return exit_code != kExitSuccess ? exit_code : import.ApplyLines();
}

}  // namespace ctl
}  // namespace zelk
