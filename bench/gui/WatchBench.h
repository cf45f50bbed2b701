#pragma once
// Keep Watching at 10,000 simulated cameras through the real main window
// (offscreen) over loopback: 100 watch cycles, each answered by every camera.
// Prints the datagrams, CPU and longest UI stall per cycle and the memory
// after 10 and after 100 cycles. Asserts nothing.

namespace bench {

void RunWatchBench();

}  // namespace bench
