// Writing whole blocks to an open file, with the system's reason when the disk takes
// less than the block (disk full, quota, device error).
#pragma once

#include <windows.h>

#include <cstddef>

namespace DiskWrite {

// Writes size bytes from data at the file's position. True when all of them were
// stored; otherwise the thread's last error holds the system's reason
// (ERROR_DISK_FULL when the disk stored less without giving one). *stored, when
// given, tells how many bytes the disk took either way.
bool WriteAll(HANDLE file, const void* data, size_t size, size_t* stored = nullptr);

// For tests on machines where no small volume can be mounted: every later WriteAll
// in the process behaves as on a disk with this many bytes free, shared by all files
// and never given back. A negative value ends the simulation.
void SimulateFreeBytesForTests(long bytes);

}  // namespace DiskWrite
