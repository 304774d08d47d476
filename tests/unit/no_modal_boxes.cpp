// No unit test may wait on a modal box: every box the code under test would show
// (its own or the shell's) is logged instead, also when the suite runs outside ctest.
#include <gtest/gtest.h>

#include <windows.h>

namespace {

class NoModalBoxes : public testing::Environment {
 public:
  void SetUp() override { SetEnvironmentVariableW(L"BRINDLEX_NO_MODAL_BOXES", L"1"); }
};

const testing::Environment* const kNoModalBoxes =
    testing::AddGlobalTestEnvironment(new NoModalBoxes);

}  // namespace
