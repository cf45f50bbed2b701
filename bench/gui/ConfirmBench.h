#pragma once
// The figures of repeated probes and confirmed settings changes, through the
// real main window (offscreen) over loopback:
//  - what the repeats of one search cost at 10,000 simulated cameras, and how
//    many cameras one search lists when each misses every second request;
//  - the time from a camera's first reply with its new settings to its row
//    showing them, alone and with 10,000 other cameras answering each probe.
// Prints figures; asserts nothing.

namespace bench {

void RunConfirmBench();

}  // namespace bench
