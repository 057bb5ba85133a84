#include "Measure.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

std::atomic<std::uint64_t> gAllocations{0};
std::atomic<std::uint64_t> gAllocatedBytes{0};
// The process's high-water mark as it stood before each reset, so that the peak of the whole
// process survives the resets.
std::int64_t gPeakBeforeResets = -1;

double Clock(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// One "Name:   value kB" line of /proc/self/status.
std::int64_t StatusKiB(const char* name) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    const size_t n = std::strlen(name);
    std::int64_t value = -1;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, name, n) == 0 && line[n] == ':') {
            value = std::strtoll(line + n + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return value;
}

// Writing 5 to clear_refs sets the high-water mark back to the current resident set (Linux 4.0
// and later), so each run's peak is its own and not the largest of the runs before it.
bool ResetPeakRss() {
    gPeakBeforeResets = std::max(gPeakBeforeResets, StatusKiB("VmHWM"));
    std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (!f) return false;
    const bool ok = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

} // namespace

// glibc lets a program replace malloc by defining it; forwarding to glibc's own entry points
// keeps a single allocator, so memory from memalign & co. may still reach this free. The
// sanitizers replace malloc themselves: no counting there.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) && defined(__GLIBC__)
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);

void* malloc(size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    gAllocatedBytes.fetch_add(size, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    gAllocatedBytes.fetch_add(count * size, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    gAllocatedBytes.fetch_add(size, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}
void free(void* p) {
    __libc_free(p);
}
}
bool AllocationsCounted() {
    return true;
}
#else
bool AllocationsCounted() {
    return false;
}
#endif

std::int64_t PeakRssKiB() {
    return StatusKiB("VmHWM");
}

std::int64_t CurrentRssKiB() {
    return StatusKiB("VmRSS");
}

TMeasureScope::TMeasureScope()
    : FStartWall(0), FStartCpu(0), FStartRssKiB(-1), FHwmReset(ResetPeakRss()),
      FStartAllocations(0), FStartBytes(0) {
    FStartRssKiB = StatusKiB("VmRSS");
    FStartAllocations = gAllocations.load(std::memory_order_relaxed);
    FStartBytes = gAllocatedBytes.load(std::memory_order_relaxed);
    FStartCpu = Clock(CLOCK_PROCESS_CPUTIME_ID);
    FStartWall = Clock(CLOCK_MONOTONIC);
}

TMark Mark() {
    TMark m;
    m.Allocations = gAllocations.load(std::memory_order_relaxed);
    m.Cpu = Clock(CLOCK_PROCESS_CPUTIME_ID);
    m.Wall = Clock(CLOCK_MONOTONIC);
    return m;
}

TMeasure TMeasureScope::Stop() {
    TMeasure m;
    m.Seconds = Clock(CLOCK_MONOTONIC) - FStartWall;
    m.CpuSeconds = Clock(CLOCK_PROCESS_CPUTIME_ID) - FStartCpu;
    m.Allocations = gAllocations.load(std::memory_order_relaxed) - FStartAllocations;
    m.AllocatedBytes = gAllocatedBytes.load(std::memory_order_relaxed) - FStartBytes;
    const std::int64_t hwm = StatusKiB("VmHWM");
    if (FHwmReset && hwm >= 0 && FStartRssKiB >= 0)
        m.PeakRssGrowthKiB = std::max<std::int64_t>(0, hwm - FStartRssKiB);
    return m;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
