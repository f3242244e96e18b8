// The driver's lock on the paths every RTP packet and every frame take: an
// uncontended lock and unlock, and a recursive one.
#include <benchmark/benchmark.h>

#include "threads/CLock.h"

namespace {

void BM_LockUnlock(benchmark::State& state) {
    dravnel::CLock lock;
    for (auto _ : state) {
        dravnel::CScopedLock guard(lock);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_LockUnlock);

void BM_RecursiveLockUnlock(benchmark::State& state) {
    dravnel::CLock lock;
    dravnel::CScopedLock outer(lock);
    for (auto _ : state) {
        dravnel::CScopedLock guard(lock);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RecursiveLockUnlock);

}  // namespace

BENCHMARK_MAIN();
