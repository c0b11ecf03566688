// Packing and unpacking costs on the host link: four order entries packed and the packet
// closed, and a packet of four LZO1Z-compressed order replies unpacked into full records.
// The logger runs at the production default level, so activity lines cost their filter only.
#include <benchmark/benchmark.h>

#include <lzo/lzo1z.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gateway/business_processing_layer/data_proc_info.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/wire.h"

namespace
{
// A logger writing to a scratch folder at level "EVENT".
struct bench_logger
{
    std::string folder;
    logger_object_container *container = nullptr;

    bench_logger()
    {
        char name[] = "/tmp/packing_bench.XXXXXX";
        if (mkdtemp(name) == nullptr)
            return;
        folder = name;
        std::string config = folder + "/bench.cfg";
        std::ofstream(config) << "LOG_FILE_PATH=" << folder << "\nSYSTEM_LOGGING_LEVEL=EVENT\n"
                              << "SYSTEM_BINARY_LOGGING_ENABLED=FALSE\n";
        const char *names[] = {"packing_bench"};
        container = logger_object_container_create(config.c_str(), names, 1);
    }
    ~bench_logger()
    {
        logger_object_container_destroy(container);
        if (!folder.empty())
            std::filesystem::remove_all(folder);
    }
    logger_object *get() const { return container != nullptr ? container->loggers[0] : nullptr; }
};

message *full_order_entry(uint32_t user_id)
{
    message *m = message_create(240, NORMAL_MESSAGE);
    for (uint32_t i = 0; i < 240; i++)
        m->data[i] = static_cast<uint8_t>(i);
    put_u32_be(m->data, 0, user_id);
    put_u16_be(m->data, 10, 2000);
    put_u16_be(m->data, 38, 240);
    put_u16_be(m->data, 116, 1);
    return m;
}

void BM_PackFourOrdersAndClose(benchmark::State &state)
{
    bench_logger logger;
    data_proc_info *packer = data_proc_info_create(PACKER_CAPACITY, logger.get());
    message *orders[4];
    for (uint32_t i = 0; i < 4; i++)
        orders[i] = full_order_entry(1000 + i);
    uint32_t counter = 0;
    for (auto _ : state)
    {
        for (message *order : orders)
            data_proc_info_pack(packer, order, 0, logger.get());
        message *packet = data_proc_info_get_packet(packer, &counter, logger.get());
        benchmark::DoNotOptimize(packet);
        message_destroy(packet);
    }
    for (message *order : orders)
        message_destroy(order);
    data_proc_info_destroy(packer);
}
BENCHMARK(BM_PackFourOrdersAndClose);

// A packet of four entries, each an order reply compressed as the host sends it.
std::vector<uint8_t> compressed_reply_packet()
{
    lzo_init();
    std::vector<uint8_t> work(LZO1Z_999_MEM_COMPRESS);
    std::vector<uint8_t> packet(2);
    put_u16_be(packet.data(), 0, 4);
    for (uint32_t n = 0; n < 4; n++)
    {
        uint8_t reply[156];
        memset(reply, ' ', sizeof reply);
        put_u16_be(reply, 0, 20041);
        put_u32_be(reply, 6, 1000 + n);
        reply[20] = '1';
        uint8_t out[256];
        lzo_uint out_length = sizeof out;
        lzo1z_999_compress(reply, sizeof reply, out, &out_length, work.data());
        size_t at = packet.size();
        packet.resize(at + 2 + out_length);
        put_i16_be(packet.data(), static_cast<uint32_t>(at),
                   static_cast<int16_t>(-static_cast<int32_t>(out_length)));
        memcpy(packet.data() + at + 2, out, out_length);
    }
    return packet;
}

void BM_UnpackFourCompressedEntries(benchmark::State &state)
{
    bench_logger logger;
    data_proc_info *packer = data_proc_info_create(PACKER_CAPACITY, logger.get());
    std::vector<uint8_t> bytes = compressed_reply_packet();
    message *packet = message_create(static_cast<uint32_t>(bytes.size()), NORMAL_MESSAGE);
    memcpy(packet->data, bytes.data(), bytes.size());
    queue *output = queue_create();
    uint32_t counter = 0;
    for (auto _ : state)
    {
        data_proc_info_unpack(packer, packet, output, &counter, logger.get());
        while (void *m = queue_remove_head(output))
            message_destroy(static_cast<message *>(m));
    }
    queue_destroy(output);
    message_destroy(packet);
    data_proc_info_destroy(packer);
}
BENCHMARK(BM_UnpackFourCompressedEntries);
} // namespace

BENCHMARK_MAIN();
