// Cost of one frame digest at the sizes the validators see: a short record, a typical
// packet and a full message buffer.
#include "common/md5.h"

#include <benchmark/benchmark.h>

#include <vector>

static void BM_Md5Compute(benchmark::State &state)
{
    const int32_t length = static_cast<int32_t>(state.range(0));
    std::vector<uint8_t> buffer(static_cast<size_t>(length));
    for (size_t i = 0; i < buffer.size(); ++i)
    {
        buffer[i] = static_cast<uint8_t>(i * 31);
    }
    uint8_t field[MD5_DIGEST_SIZE];
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(md5_checksum(buffer.data(), length, field, MD5_MODE_COMPUTE));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * length);
}
BENCHMARK(BM_Md5Compute)->Arg(64)->Arg(512)->Arg(2048);

BENCHMARK_MAIN();
