// A line on the console that shows how far a long run of server calls has
// come: entries done of the total and the rate. It is redrawn in place at
// most ten times a second, and not shown at all when standard output is a
// pipe or a file, whose reader wants the results only.
#pragma once

#include <windows.h>

#include <string>

#include "tools/zelkctl/console.h"

namespace zelk {
namespace ctl {

class ProgressLine {
 public:
  // `action` begins the line: "importing", "removing".
  ProgressLine(Console* console, const wchar_t* action, size_t total);
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Records that `done` entries are done; redraws when the last drawing is
  // old enough.
  void Update(size_t done);
  // Removes the line, so that what is written next starts on a clean line.
  void Clear();

 private:
  void Draw(const std::wstring& text);

  Console* console_;
  const wchar_t* action_;
  size_t total_;
  bool shown_;
  ULONGLONG started_;
  ULONGLONG drawn_ = 0;
  size_t width_ = 0;  // of the text drawn last, to blank out
};

}  // namespace ctl
}  // namespace zelk
