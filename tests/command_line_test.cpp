// The registration switches, as the process entry reads its whole command line.
#include "gtest/gtest.h"
#include "server/command_line.h"

namespace zelk {
namespace {

struct SwitchCase {
  const char* command_line;
  CommandLineAction expected;
};

constexpr CommandLineAction kRun = CommandLineAction::kRunServer;
constexpr CommandLineAction kReg = CommandLineAction::kRegister;
constexpr CommandLineAction kUnreg = CommandLineAction::kUnregister;

const SwitchCase kSwitchCases[] = {
    {"ZelkAdmin.exe /RegServer", kReg},
    {"ZelkAdmin.exe -regserver", kReg},
    {"ZelkAdmin.exe /REGSERVER", kReg},
    {"ZelkAdmin.exe /UnregServer", kUnreg},
    {"ZelkAdmin.exe -UNREGSERVER", kUnreg},
    {"ZelkAdmin.exe /RegServer\tmore", kReg},
    {"ZelkAdmin.exe /RegServer more", kReg},
    {"ZelkAdmin.exe /RegServerX", kRun},
    {"ZelkAdmin.exe /Reg", kRun},
    {"ZelkAdmin.exe /RegServe", kRun},
    {"ZelkAdmin.exe \"/RegServer\"", kRun},
    {"ZelkAdmin.exe", kRun},
    {"", kRun},
    {"ZelkAdmin.exe -Embedding", kRun},
    {"C:\\a-b\\c/d\\ZelkAdmin.exe", kRun},
    {"C:\\x-RegServer\\ZelkAdmin.exe", kRun},   // the path's own '-' is followed by '\'
    {"C:\\x -RegServer\\ZelkAdmin.exe", kRun},  // a backslash is not a terminator
    {"C:\\a-b\\ZelkAdmin.exe /RegServer", kReg},
    {"ZelkAdmin.exe /UnregServer /RegServer", kUnreg},
    {"ZelkAdmin.exe /RegServer /UnregServer", kReg},
    {"ZelkAdmin.exe //RegServer", kReg},   // the first '/' starts an empty candidate
    {"ZelkAdmin.exe /-RegServer", kReg},
    {"ZelkAdmin.exe /Embedding /RegServerX -unregserver", kUnreg},
    {"ZelkAdmin.exe /", kRun},
};

TEST(CommandLineTest, LeftmostExactSwitchDecides) {
  for (const SwitchCase& test : kSwitchCases) {
    EXPECT_EQ(test.expected, ScanCommandLine(test.command_line)) << "[" << test.command_line << "]";
  }
}

TEST(CommandLineTest, FindNextSwitchReturnsThePositionAfterTheDelimiter) {
  const char text[] = "ab-cd/ef";
  EXPECT_EQ(text + 3, FindNextSwitch(text, "-/"));
  EXPECT_EQ(text + 6, FindNextSwitch(text + 3, "-/"));
  EXPECT_EQ(nullptr, FindNextSwitch(text + 6, "-/"));
  EXPECT_EQ(nullptr, FindNextSwitch("", "-/"));
}

TEST(CommandLineTest, SwitchEqualsNeedsTheWholeWordThenATerminator) {
  EXPECT_TRUE(SwitchEquals("regserver", "RegServer"));
  EXPECT_TRUE(SwitchEquals("RegServer\t", "RegServer"));
  EXPECT_FALSE(SwitchEquals("RegServer\"", "RegServer"));
  EXPECT_FALSE(SwitchEquals("Reg", "RegServer"));
  EXPECT_FALSE(SwitchEquals("", "RegServer"));
  EXPECT_TRUE(SwitchEquals(" ", ""));
}

}  // namespace
}  // namespace zelk
