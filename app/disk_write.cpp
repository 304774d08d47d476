#include "app/disk_write.h"

namespace {

// WriteFile takes a 32-bit count; larger blocks go in pieces.
constexpr DWORD kLargestWrite = 1u << 30;

// Bytes the simulated disk still takes; negative while no simulation runs.
volatile LONG g_simulatedFree = -1;

// How much of `want` the simulated disk takes: all of it when none is simulated.
DWORD TakeSimulatedRoom(DWORD want) {
  for (;;) {
    const LONG free = InterlockedCompareExchange(&g_simulatedFree, 0, 0);
    if (free < 0) return want;
    const DWORD room = static_cast<DWORD>(free) < want ? static_cast<DWORD>(free) : want;
    if (InterlockedCompareExchange(&g_simulatedFree, free - static_cast<LONG>(room), free) ==
        free) {
      return room;
    }
  }
}

}  // namespace

namespace DiskWrite {

bool WriteAll(HANDLE file, const void* data, size_t size, size_t* stored) {
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  bool complete = true;
  while (done < size) {
    const size_t rest = size - done;
    const DWORD piece = rest > kLargestWrite ? kLargestWrite : static_cast<DWORD>(rest);
    const DWORD room = TakeSimulatedRoom(piece);
    DWORD written = 0;
    const bool wrote = room > 0 && WriteFile(file, bytes + done, room, &written, nullptr);
    done += written;
    if (!wrote || written == 0) {
      // A disk that takes nothing and names no reason is full.
      if (room == 0 || (wrote && written == 0)) SetLastError(ERROR_DISK_FULL);
      complete = false;
      break;
    }
  }
  if (stored) *stored = done;
  return complete;
}

void SimulateFreeBytesForTests(long bytes) {
  InterlockedExchange(&g_simulatedFree, bytes < 0 ? -1 : bytes);
}

}  // namespace DiskWrite
