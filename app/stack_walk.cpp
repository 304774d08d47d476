#include "app/stack_walk.h"

#include <cstdio>

namespace {

// Whether [address, address + size) is committed, readable and no guard page. One
// region is remembered: the chain mostly stays within the same one.
class ReadableMemory {
 public:
  bool Covers(uintptr_t address, size_t size) {
    return Within(address) && Within(address + size - 1);
  }

 private:
  bool Within(uintptr_t address) {
    if (address >= low_ && address < high_) return true;
    MEMORY_BASIC_INFORMATION memory = {};
    if (!VirtualQuery(reinterpret_cast<const void*>(address), &memory, sizeof(memory))) {
      return false;
    }
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY |
                           PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (memory.State != MEM_COMMIT || !(memory.Protect & readable) ||
        (memory.Protect & (PAGE_GUARD | PAGE_NOACCESS))) {
      return false;
    }
    low_ = reinterpret_cast<uintptr_t>(memory.BaseAddress);
    high_ = low_ + memory.RegionSize;
    return true;
  }

  uintptr_t low_ = 0;
  uintptr_t high_ = 0;
};

}  // namespace

StackBounds CurrentThreadStackBounds() {
  // The TEB's first part, its NT_TIB, is at fs:0: StackBase at 4, StackLimit at 8.
  StackBounds stack;
  __asm__ volatile("movl %%fs:8, %0" : "=r"(stack.low));
  __asm__ volatile("movl %%fs:4, %0" : "=r"(stack.high));
  return stack;
}

void WalkStack(const CONTEXT& context, const StackBounds& stack, WalkedStack* walk) {
  walk->count = 0;
  walk->frames[walk->count++] = context.Eip;
  ReadableMemory memory;
  uintptr_t frame = context.Ebp;
  for (;;) {
    walk->stopFramePointer = frame;
    if (walk->count == kStackFramesMax) {
      walk->end = StackWalkEnd::kFrameLimit;
      return;
    }
    if (frame == 0) {
      walk->end = StackWalkEnd::kChainEnd;
      return;
    }
    // Room for the two words, without overflow at the top of the address space.
    if (frame < stack.low || stack.high < 8 || frame > stack.high - 8) {
      walk->end = StackWalkEnd::kOutsideStack;
      return;
    }
    if (frame % 4 != 0) {
      walk->end = StackWalkEnd::kMisaligned;
      return;
    }
    if (!memory.Covers(frame, 8)) {
      walk->end = StackWalkEnd::kUnreadable;
      return;
    }
    const uintptr_t* words = reinterpret_cast<const uintptr_t*>(frame);
    const uintptr_t callerFrame = words[0];
    const uintptr_t returnAddress = words[1];
    if (returnAddress == 0) {
      walk->end = StackWalkEnd::kChainEnd;
      return;
    }
    walk->frames[walk->count++] = returnAddress;
    // Each caller's frame lies above its callee's; anything else would loop or jump.
    if (callerFrame != 0 && callerFrame <= frame) {
      walk->stopFramePointer = callerFrame;
      walk->end = StackWalkEnd::kNotAscending;
      return;
    }
    frame = callerFrame;
  }
}

void DescribeStackWalkEnd(const WalkedStack& walk, const StackBounds& stack, char* text,
                          size_t size) {
  const unsigned long framePointer = static_cast<unsigned long>(walk.stopFramePointer);
  const unsigned long low = static_cast<unsigned long>(stack.low);
  const unsigned long high = static_cast<unsigned long>(stack.high);
  switch (walk.end) {
    case StackWalkEnd::kChainEnd:
      snprintf(text, size, "the thread's first frame");
      return;
    case StackWalkEnd::kFrameLimit:
      snprintf(text, size, "the limit of %d frames", kStackFramesMax);
      return;
    case StackWalkEnd::kOutsideStack:
      snprintf(text, size, "frame pointer 0x%08lX outside the stack 0x%08lX-0x%08lX",
               framePointer, low, high);
      return;
    case StackWalkEnd::kMisaligned:
      snprintf(text, size, "frame pointer 0x%08lX not aligned", framePointer);
      return;
    case StackWalkEnd::kNotAscending:
      snprintf(text, size, "frame pointer 0x%08lX not above the frame before it", framePointer);
      return;
    case StackWalkEnd::kUnreadable:
      snprintf(text, size, "frame pointer 0x%08lX in unreadable memory", framePointer);
      return;
  }
  snprintf(text, size, "an unknown reason");
}
