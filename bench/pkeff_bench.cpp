// pkeff's pass over a large binary packet log (about 64 MB of records of 150 to 700
// bytes, packets of 1 to 5 records, 400 records a second) beside a plain read of the same
// file in 256 KB blocks: the baseline is what the disk cache gives any reader, so the
// ratio shows what pkeff's record-by-record parsing and its CSV output cost.
#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/admin/pf_library.h"
#include "tools/logging/tool_logger.h"
#include "tools/statistics/qel_stats_interface.h"

namespace
{

const size_t k_log_bytes = 64u << 20;

struct bench_files
{
    std::string folder;
    std::string log;
    size_t size = 0;
    qel_tools::logger_object_container *container = nullptr;
    pf_library *library = nullptr;
    qel_stats_entry get = nullptr;

    bench_files()
    {
        char pattern[] = "/tmp/pkeff_bench_XXXXXX";
        folder = mkdtemp(pattern);
        log = folder + "/th_request.20120306.000000.current.dat";
        write_log();
        std::string config = folder + "/bench.cfg";
        FILE *file = fopen(config.c_str(), "w");
        fprintf(file, "LOG_FILE_PATH=%s\nMAIN_LOGGING_LEVEL=SYSTEM_ERROR\n", folder.c_str());
        fclose(file);
        const char *names[] = {"main"};
        container = qel_tools::logger_object_container_create(config.c_str(), names, 1);
        pf_library_load(PKEFF_PLUGIN, &library);
        void *address = nullptr;
        pf_library_symbol(library, "get_qel_statistics", &address);
        get = reinterpret_cast<qel_stats_entry>(address);
    }
    ~bench_files()
    {
        pf_library_unload(library);
        qel_tools::logger_object_container_destroy(container);
        std::string command = "rm -rf '" + folder + "'";
        if (system(command.c_str()) != 0)
            fprintf(stderr, "could not remove %s\n", folder.c_str());
    }

    void write_log()
    {
        FILE *file = fopen(log.c_str(), "wb");
        std::vector<uint8_t> record(102 + 2048, 0);
        std::vector<uint8_t> header(16, 0);
        fwrite(header.data(), 1, header.size(), file);
        size = header.size();
        uint32_t second = 1331000000, n = 0;
        while (size < k_log_bytes)
        {
            uint32_t data = 150 + (n * 37) % 550;
            uint32_t total = 102 + data;
            uint16_t count = static_cast<uint16_t>(1 + n % 5);
            record[0] = static_cast<uint8_t>(total);
            record[1] = static_cast<uint8_t>(total >> 8);
            record[2] = n % 7 == 0 ? 0 : 3;
            for (int i = 0; i < 4; ++i)
                record[50 + i] = static_cast<uint8_t>(second >> (8 * i));
            record[102 + 22] = static_cast<uint8_t>(count >> 8);
            record[102 + 23] = static_cast<uint8_t>(count);
            fwrite(record.data(), 1, total, file);
            size += total;
            if (++n % 400 == 0)
                ++second;
        }
        fclose(file);
    }
};

bench_files &files()
{
    static bench_files shared;
    return shared;
}

void BM_PlainRead(benchmark::State &state)
{
    bench_files &f = files();
    std::vector<char> block(256 * 1024);
    for (auto _ : state)
    {
        FILE *file = fopen(f.log.c_str(), "rb");
        size_t total = 0, got;
        while ((got = fread(block.data(), 1, block.size(), file)) > 0)
            total += got;
        fclose(file);
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.size));
}
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(false);

void BM_Pkeff(benchmark::State &state)
{
    bench_files &f = files();
    qel_stats_offline_parameter record = {};
    snprintf(record.name, sizeof record.name, "%s/out", f.folder.c_str());
    std::string prefix = "th_request";
    char *arguments[] = {&prefix[0], &f.folder[0]};
    record.argument_count = 2;
    record.arguments = arguments;
    for (auto _ : state)
    {
        if (f.get(&record, f.container->loggers[0]) != QEL_STATS_SUCCESS)
            state.SkipWithError("pkeff failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.size));
}
BENCHMARK(BM_Pkeff)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(false);

} // namespace

BENCHMARK_MAIN();
