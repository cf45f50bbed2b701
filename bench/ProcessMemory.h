#pragma once
// The benchmarks' reading of the process's own memory, from /proc (Linux).

#include <unistd.h>

#include <fstream>

namespace bench {

// The process's resident size now, in bytes.
inline long ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

}  // namespace bench
