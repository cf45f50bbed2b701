// bench_idset: the device-ID map against ordinary and hostile key lists.
// Prints figures; asserts nothing.
//
//   bench_idset [--runs N]
//
// Lists: 100,000 random IDs; 100,000 IDs that count up in their low bytes as
// a vendor's serial numbers do; 40,000 and 100,000 IDs made to share one
// probe chain under the set's former unkeyed hash. For each, the best time
// of N runs (default 5) to insert the list into a fresh set and to look every
// key up once, and the set's longest probe chain afterwards; then the cost of
// the hash alone, the former unkeyed one beside the keyed one.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/idset/OldMixerCollisions.h"
#include "discovery/DeviceIdMap.h"

namespace {

using Clock = std::chrono::steady_clock;

struct KeyList {
    std::string name;
    std::vector<std::uint64_t> keys;
};

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::max(1, std::atoi(argv[i + 1]));
        }
    }

    std::vector<KeyList> lists;
    std::mt19937_64 random(20261208);
    KeyList randomIds{"100000 random", {}};
    for (int i = 0; i < 100000; ++i) {
        randomIds.keys.push_back(random() | 1);
    }
    lists.push_back(std::move(randomIds));
    KeyList serials{"100000 serial", {}};
    for (std::uint64_t n = 1; n <= 100000; ++n) {
        serials.keys.push_back(0xBBAA110000000000ull | n);
    }
    lists.push_back(std::move(serials));
    lists.push_back({"40000 crafted", qdipc::attack::CollidingKeys(40000)});
    lists.push_back({"100000 crafted", qdipc::attack::CollidingKeys(100000)});

    std::printf("%-16s %12s %12s %14s\n", "keys", "insert ms", "lookup ms", "longest chain");
    for (const KeyList& list : lists) {
        double bestInsert = 1e300;
        double bestLookup = 1e300;
        std::size_t longest = 0;
        std::size_t found = 0;
        for (int run = 0; run < runs; ++run) {
            qdipc::DeviceIdMap set;
            const Clock::time_point start = Clock::now();
            for (const std::uint64_t key : list.keys) {
                set.Insert(key);
            }
            const Clock::time_point inserted = Clock::now();
            found = 0;
            for (const std::uint64_t key : list.keys) {
                found += set.Contains(key) ? 1 : 0;
            }
            const Clock::time_point looked = Clock::now();
            bestInsert = std::min(bestInsert, Ms(inserted - start));
            bestLookup = std::min(bestLookup, Ms(looked - inserted));
            longest = std::max(longest, set.LongestProbeChain());
        }
        std::printf("%-16s %12.2f %12.2f %14zu%s\n", list.name.c_str(), bestInsert, bestLookup,
                    longest, found == list.keys.size() ? "" : "  (keys lost!)");
    }

    // The hash alone, former and keyed, over the random list (best of runs).
    const qdipc::KeyedHash keyed;
    for (const bool isKeyed : {false, true}) {
        double best = 1e300;
        std::uint64_t sum = 0;
        for (int run = 0; run < runs; ++run) {
            const Clock::time_point start = Clock::now();
            for (const std::uint64_t key : lists[0].keys) {
                sum += isKeyed ? keyed(key) : qdipc::attack::OldMix(key);
            }
            best = std::min(best, Ms(Clock::now() - start));
        }
        std::printf("%-16s %9.2f ns per key%s\n", isKeyed ? "SipHash-1-3" : "splitmix64 (old)",
                    best * 1e6 / static_cast<double>(lists[0].keys.size()), sum == 1 ? " " : "");
    }
    return 0;
}
