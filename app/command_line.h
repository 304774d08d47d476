#pragma once

// Whether the command line (as GetCommandLineW gives it: the program's path first)
// asks for the recharge dialog: exactly one argument, "--recharge" in any letter case,
// quotes taken off.
bool RechargeRequested(const wchar_t* commandLine);
