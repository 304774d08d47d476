#include <gtest/gtest.h>

#include "app/stack_walk.h"

namespace {

// A made-up stack: one committed page of words, then a page only reserved, both within
// the bounds the walk is given.
class FakeStack {
 public:
  FakeStack() {
    base_ = static_cast<uintptr_t*>(VirtualAlloc(nullptr, 2 * kPage, MEM_RESERVE, PAGE_NOACCESS));
    VirtualAlloc(base_, kPage, MEM_COMMIT, PAGE_READWRITE);
  }
  ~FakeStack() { VirtualFree(base_, 0, MEM_RELEASE); }
  uintptr_t& operator[](int index) { return base_[index]; }
  uintptr_t At(int index) const { return reinterpret_cast<uintptr_t>(base_ + index); }
  StackBounds Bounds() const { return {At(0), At(2 * kPage / sizeof(uintptr_t))}; }
  // Frame n at word 2n, its caller at 2n + 2, returning to 0x401000 + n.
  void Chain(int frames) {
    for (int n = 0; n < frames; ++n) {
      base_[2 * n] = n + 1 < frames ? At(2 * n + 2) : 0;
      base_[2 * n + 1] = 0x401000 + n;
    }
  }

 private:
  static constexpr size_t kPage = 4096;
  uintptr_t* base_;
};

WalkedStack Walk(const FakeStack& stack) {
  CONTEXT context = {};
#if defined(_WIN64)
  context.Rip = 0x400123;
  context.Rbp = stack.At(0);
#else
  context.Eip = 0x400123;
  context.Ebp = stack.At(0);
#endif
  WalkedStack walk;
  WalkStack(context, stack.Bounds(), &walk);
  return walk;
}

TEST(StackWalk, FollowsTheChainAndEndsWithAReasonWhereItBreaks) {
  FakeStack stack;
  stack.Chain(3);
  WalkedStack walk = Walk(stack);
  ASSERT_EQ(walk.count, 4);
  EXPECT_EQ(walk.frames[0], 0x400123u);
  EXPECT_EQ(walk.frames[3], 0x401002u);
  EXPECT_EQ(walk.end, StackWalkEnd::kChainEnd);

  // The third frame's link to its caller, broken in every way a corrupt stack can.
  const struct {
    uintptr_t callerFrame;
    StackWalkEnd end;
  } breaks[] = {
      {stack.At(0) + 0x10000000, StackWalkEnd::kOutsideStack},
      {~uintptr_t{3}, StackWalkEnd::kOutsideStack},
      {stack.At(20) + 2, StackWalkEnd::kMisaligned},
      {stack.At(2), StackWalkEnd::kNotAscending},
      {stack.At(4), StackWalkEnd::kNotAscending},
      {stack.At(4096 / sizeof(uintptr_t) + 8), StackWalkEnd::kUnreadable},  // the reserved page
  };
  for (const auto& broken : breaks) {
    stack.Chain(10);
    stack[4] = broken.callerFrame;
    walk = Walk(stack);
    EXPECT_EQ(walk.end, broken.end) << std::hex << broken.callerFrame;
    EXPECT_EQ(walk.count, 4);  // the broken frame's return address is still good
    EXPECT_EQ(walk.stopFramePointer, broken.callerFrame);
  }
}

}  // namespace
