// What every benchmark reads around one run of a loop: wall time, this process's CPU time, its
// peak resident memory and the allocations it made. The server runs in another process, so the
// CPU time is the client's own share: the layer's overhead shows there first.
#pragma once

#include <cstdint>
#include <vector>

struct TMeasure {
    double Seconds = 0;    // wall clock
    double CpuSeconds = 0; // user + system time of this process
    // Peak resident set during the run above its start; -1 when the kernel would not reset it.
    std::int64_t PeakRssGrowthKiB = -1;
    std::uint64_t Allocations = 0; // malloc, calloc and realloc calls, every thread
    std::uint64_t AllocatedBytes = 0;
};

// Opens a measured section: resets the kernel's resident-set high-water mark when it lets us,
// then takes the starting counters. Stop() closes it.
class TMeasureScope {
public:
    TMeasureScope();
    TMeasure Stop();

private:
    double FStartWall;
    double FStartCpu;
    std::int64_t FStartRssKiB;
    bool FHwmReset;
    std::uint64_t FStartAllocations;
    std::uint64_t FStartBytes;
};

// The counters alone, for sections too short for a scope (a single mandate): no file is read.
struct TMark {
    double Wall = 0;
    double Cpu = 0;
    std::uint64_t Allocations = 0;
};
TMark Mark();

// False when the allocation counters are not compiled in (sanitizer builds bring their own
// allocator); the counts then stay 0.
bool AllocationsCounted();
// The largest resident set of the process so far (VmHWM, across the resets), in KiB; -1 when
// unreadable.
std::int64_t PeakRssKiB();
// The resident set now, in KiB; -1 when unreadable.
std::int64_t CurrentRssKiB();

double Median(std::vector<double> values);
