#include "tools/zelkctl/progress_line.h"

namespace zelk {
namespace ctl {

namespace {

constexpr ULONGLONG kRedrawIntervalMs = 100;

}  // namespace

ProgressLine::ProgressLine(Console* console, const wchar_t* action, size_t total)
    : console_(console),
      action_(action),
      total_(total),
      shown_(console->out_is_console()),
      started_(GetTickCount64()) {}

void ProgressLine::Update(size_t done) {
  if (!shown_) return;
  const ULONGLONG now = GetTickCount64();
  if (drawn_ != 0 && now - drawn_ < kRedrawIntervalMs) return;
  drawn_ = now;
  const ULONGLONG elapsed = now - started_;
  std::wstring text = std::wstring(action_) + L": " + std::to_wstring(done) + L" of " +
                      std::to_wstring(total_) + L" entries";
  if (elapsed > 0) text += L", " + std::to_wstring(done * 1000ULL / elapsed) + L" per second";
  Draw(text);
}

void ProgressLine::Clear() {
  if (!shown_ || width_ == 0) return;
  Draw(std::wstring());
  console_->Out(L"\r");
}

// Blanks cover whatever is left of a longer line drawn before.
void ProgressLine::Draw(const std::wstring& text) {
  const size_t blanks = width_ > text.size() ? width_ - text.size() : 0;
  console_->Out(L"\r" + text + std::wstring(blanks, L' '));
  width_ = text.size();
}

}  // namespace ctl
}  // namespace zelk
