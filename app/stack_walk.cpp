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
  // The TEB begins with its NT_TIB, whose Self field holds the TEB's own address.
  const NT_TIB* tib = nullptr;
#if defined(_WIN64)
  __asm__ volatile("movq %%gs:0x30, %0" : "=r"(tib));
#else
  __asm__ volatile("movl %%fs:0x18, %0" : "=r"(tib));
#endif
  StackBounds stack;
  stack.low = reinterpret_cast<uintptr_t>(tib->StackLimit);
  stack.high = reinterpret_cast<uintptr_t>(tib->StackBase);
  return stack;
}

namespace {

#if defined(_WIN64)
uintptr_t InstructionPointer(const CONTEXT& context) { return context.Rip; }
uintptr_t FramePointer(const CONTEXT& context) { return context.Rbp; }
#else
uintptr_t InstructionPointer(const CONTEXT& context) { return context.Eip; }
uintptr_t FramePointer(const CONTEXT& context) { return context.Ebp; }
#endif

// A frame is two words: the caller's frame pointer, then the return address.
constexpr uintptr_t kWord = sizeof(uintptr_t);
constexpr uintptr_t kFrameSize = 2 * kWord;

}  // namespace

void WalkStack(const CONTEXT& context, const StackBounds& stack, WalkedStack* walk) {
  walk->count = 0;
  walk->frames[walk->count++] = InstructionPointer(context);
  ReadableMemory memory;
  uintptr_t frame = FramePointer(context);
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
    if (frame < stack.low || stack.high < kFrameSize || frame > stack.high - kFrameSize) {
      walk->end = StackWalkEnd::kOutsideStack;
      return;
    }
    if (frame % kWord != 0) {
      walk->end = StackWalkEnd::kMisaligned;
      return;
    }
    if (!memory.Covers(frame, kFrameSize)) {
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
  // Addresses in as many hex digits as a pointer has.
  const int digits = static_cast<int>(2 * sizeof(uintptr_t));
  const unsigned long long framePointer = walk.stopFramePointer;
  const unsigned long long low = stack.low;
  const unsigned long long high = stack.high;
  switch (walk.end) {
    case StackWalkEnd::kChainEnd:
      snprintf(text, size, "the thread's first frame");
      return;
    case StackWalkEnd::kFrameLimit:
      snprintf(text, size, "the limit of %d frames", kStackFramesMax);
      return;
    case StackWalkEnd::kOutsideStack:
      snprintf(text, size, "frame pointer 0x%0*llX outside the stack 0x%0*llX-0x%0*llX",
               digits, framePointer, digits, low, digits, high);
      return;
    case StackWalkEnd::kMisaligned:
      snprintf(text, size, "frame pointer 0x%0*llX not aligned", digits, framePointer);
      return;
    case StackWalkEnd::kNotAscending:
      snprintf(text, size, "frame pointer 0x%0*llX not above the frame before it", digits,
               framePointer);
      return;
    case StackWalkEnd::kUnreadable:
      snprintf(text, size, "frame pointer 0x%0*llX in unreadable memory", digits, framePointer);
      return;
  }
  snprintf(text, size, "an unknown reason");
}
