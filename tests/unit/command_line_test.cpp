#include <gtest/gtest.h>

#include "app/command_line.h"

namespace {

struct CommandLineCase {
  const wchar_t* line;
  bool recharge;
};

// One row per way the argument is read: any letter case, quotes taken off, exactly one
// argument, the whole text.
constexpr CommandLineCase kCases[] = {
    {L"brindlex.exe --recharge", true},
    {L"brindlex.exe --ReCharge", true},
    {L"\"C:\\Program Files\\Brindlex\\brindlex.exe\" --RECHARGE", true},
    {L"brindlex.exe \"--recharge\"", true},
    {L"brindlex.exe", false},
    {L"brindlex.exe --recharge x", false},
    {L"brindlex.exe x --recharge", false},
    {L"brindlex.exe --recharge=1", false},
    {L"brindlex.exe -recharge", false},
    {L"brindlex.exe \"--recharge x\"", false},
};

TEST(CommandLine, RechargeOnlyForExactlyOneRechargeArgument) {
  for (const CommandLineCase& row : kCases) {
    EXPECT_EQ(RechargeRequested(row.line), row.recharge) << "command line: " << row.line;
  }
}

}  // namespace
