#pragma once
// Giving freed heap memory back to the operating system. HeapTrim_linux.cpp
// asks glibc's allocator, HeapTrim_win.cpp the C runtime's heap; CMake picks
// the file.

namespace qdipc {

// Hands memory that the heap holds free back to the system where the runtime
// allows it; meant for after a large container has been freed. May take some
// milliseconds on a large heap, so it belongs off the UI thread.
void ReturnFreeHeapToSystem();

}  // namespace qdipc
