#include "server/command_line.h"

#include <cstring>

#include "platform/text.h"

namespace zelk {

namespace {

bool IsSwitchTerminator(unsigned char c) { return c == '\0' || c == ' ' || c == '\t'; }

}  // namespace

const char* FindNextSwitch(const char* text, const char* delimiters) {
  for (; *text != '\0'; text = NextChar(text)) {
    if (std::strchr(delimiters, *text) != nullptr) return text + 1;
  }
  return nullptr;
}

bool SwitchEquals(const char* switch_text, const char* word) {
  unsigned char left = UpperChar(static_cast<unsigned char>(*switch_text));
  unsigned char right = UpperChar(static_cast<unsigned char>(*word));
  while (left == right && !IsSwitchTerminator(left)) {
    switch_text = NextChar(switch_text);
    word = NextChar(word);
    left = UpperChar(static_cast<unsigned char>(*switch_text));
    right = UpperChar(static_cast<unsigned char>(*word));
  }
  return IsSwitchTerminator(left) && IsSwitchTerminator(right);
}

CommandLineAction ScanCommandLine(const char* command_line) {
  bool service = false;
  const char* candidate = FindNextSwitch(command_line, "-/");
  while (candidate != nullptr) {
    if (SwitchEquals(candidate, "UnregServer")) return CommandLineAction::kUnregister;
    if (SwitchEquals(candidate, "RegServer")) return CommandLineAction::kRegister;
    if (SwitchEquals(candidate, "RegService")) return CommandLineAction::kRegisterService;
    // A registration switch further right still decides, so that no command
    // line that registered before does anything else now.
    if (SwitchEquals(candidate, "Service")) service = true;
    candidate = FindNextSwitch(candidate, "-/");
  }
  return service ? CommandLineAction::kRunService : CommandLineAction::kRunServer;
}

}  // namespace zelk
