// The call stack of a thread that failed, walked from its context along the chain of
// saved frame pointers (the program is built with frame pointers kept): at each frame,
// [EBP] holds the caller's EBP and [EBP+4] the return address into the caller (RBP and
// RBP+8 in a 64-bit build).
//
// Every step is checked against the thread's stack before it is read, so a corrupt
// chain ends the walk with a reason instead of faulting. Functions built without
// frame pointers (system and runtime libraries) may hide their own frame or end the
// walk early; a frameless leaf that faulted hides its caller.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

constexpr int kStackFramesMax = 64;

// [low, high): the part of a thread's stack that is committed.
struct StackBounds {
  uintptr_t low = 0;
  uintptr_t high = 0;
};

// From the calling thread's TEB; a handful of instructions, no calls, so that it is
// safe on a thread that has just run out of stack.
StackBounds CurrentThreadStackBounds();

enum class StackWalkEnd {
  kChainEnd,        // a zero frame pointer or return address: the thread's first frame
  kFrameLimit,      // kStackFramesMax frames taken
  kOutsideStack,    // the next frame pointer is not within the stack
  kMisaligned,      // ... or not on a word boundary
  kNotAscending,    // ... or not above the one before it
  kUnreadable,      // ... or inside the stack but not readable memory
};

struct WalkedStack {
  // [0] is the instruction that failed; every later one is a return address.
  uintptr_t frames[kStackFramesMax] = {};
  int count = 0;
  StackWalkEnd end = StackWalkEnd::kChainEnd;
  uintptr_t stopFramePointer = 0;  // the frame pointer that ended the walk
};

void WalkStack(const CONTEXT& context, const StackBounds& stack, WalkedStack* walk);

// Why the walk ended, in words, with the frame pointer and the stack's bounds.
void DescribeStackWalkEnd(const WalkedStack& walk, const StackBounds& stack, char* text,
                          size_t size);
