// pkeff, loaded as qelstat loads it, over binary packet logs crafted from the record
// layout: samples per second, packing counts (1 to 4 only), unpacked records, refused
// codes, the records that end a file, two files in two numbered blocks, files that are
// not regular files, and the 203 and 10000 answers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/admin/pf_library.h"
#include "platform/core/pf_file.h"
#include "support/qel_stats_fixture.h"
#include "tools/statistics/qel_stats_interface.h"

using qel_test::stats_fixture;

namespace
{

typedef std::vector<uint8_t> bytes;

// A log: the 16-byte file header, then records of a 102-byte header and their data.
struct crafted_log
{
    bytes content = bytes(16, 0xAB);

    // total length (u16 LE) at 0, code (u16 LE) at 2, the second (i32 LE) at 50.
    void record(uint16_t code, int32_t second, const bytes &data, int total_override = -1)
    {
        bytes header(102, 0);
        uint32_t total = total_override >= 0 ? static_cast<uint32_t>(total_override)
                                             : static_cast<uint32_t>(102 + data.size());
        header[0] = static_cast<uint8_t>(total);
        header[1] = static_cast<uint8_t>(total >> 8);
        header[2] = static_cast<uint8_t>(code);
        header[3] = static_cast<uint8_t>(code >> 8);
        for (int i = 0; i < 4; ++i)
            header[50 + i] = static_cast<uint8_t>(static_cast<uint32_t>(second) >> (8 * i));
        content.insert(content.end(), header.begin(), header.end());
        content.insert(content.end(), data.begin(), data.end());
    }
    // A packet: the 22-byte network header, then its record count (u16 BE) and a body.
    void packet(int32_t second, uint16_t count)
    {
        bytes data(22, 0x11);
        data.push_back(static_cast<uint8_t>(count >> 8));
        data.push_back(static_cast<uint8_t>(count));
        data.resize(data.size() + 40, 0x22);
        record(3, second, data);
    }
    void write(const std::string &path) const
    {
        FILE *file = fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        fwrite(content.data(), 1, content.size(), file);
        fclose(file);
    }
};

struct pkeff_plugin
{
    pf_library *library = nullptr;
    qel_stats_entry get = nullptr;
    pkeff_plugin()
    {
        EXPECT_EQ(pf_library_load(PKEFF_PLUGIN, &library), 0u) << pf_library_error_text();
        void *address = nullptr;
        EXPECT_EQ(pf_library_symbol(library, "get_qel_statistics", &address), 0u);
        get = reinterpret_cast<qel_stats_entry>(address);
    }
    ~pkeff_plugin() { pf_library_unload(library); }

    int32_t run(stats_fixture &f, const std::vector<std::string> &arguments, const std::string &output)
    {
        qel_stats_offline_parameter record = {};
        snprintf(record.name, sizeof record.name, "%s", output.c_str());
        std::vector<char *> argv;
        for (const std::string &argument : arguments)
            argv.push_back(const_cast<char *>(argument.c_str()));
        record.argument_count = static_cast<int32_t>(argv.size());
        record.arguments = argv.data();
        return get(&record, f.logger);
    }
};

const char k_heading[] = "Time, Packet Count, Message Count,1 packed packets,2 packed packets,3 packed "
                         "packets,4 packed packets,5 packed packets,Time\n";

TEST(Pkeff, SamplesPackingCountsAndSummaryOfOneLog)
{
    stats_fixture f;
    mkdir(f.dir.file("logs/gw").c_str(), 0700);
    crafted_log log;
    const int32_t s1 = 1331000000; // Tue Mar  6 02:13:20 2012 (UTC)
    log.packet(s1, 1);
    log.packet(s1, 4);
    log.record(0, s1, bytes(30, 0)); // one record sent unpacked
    log.packet(s1 + 1, 2);
    log.packet(s1 + 1, 5);               // five is never counted
    log.record(7, s1 + 1, bytes(10, 0)); // refused code
    log.record(1, s1 + 3, bytes(30, 0));
    log.packet(s1 + 3, 3);
    log.write(f.dir.file("logs/gw/th_request.20120306.000000.current.dat"));
    f.dir.write("logs/gw/th_request.txt", "not a log");
    f.dir.write("logs/gw/other.20120306.000000.current.dat", "not ours");

    pkeff_plugin plugin;
    std::string output = f.dir.file("offline/pk.20120306.000000");
    ASSERT_EQ(plugin.run(f, {"th_request", f.dir.file("logs/gw")}, output), QEL_STATS_SUCCESS) << f.log();
    EXPECT_EQ(f.dir.read("offline/pk.20120306.000000.csv"),
              std::string("Output File No. 1, File Name - th_request.20120306.000000.current.dat\n\n") +
                  k_heading +
                  "1331000000,3,6,1,0,0,1,0,Tue Mar  6 02:13:20 2012\n"
                  "1331000001,1,2,0,1,0,0,0,Tue Mar  6 02:13:21 2012\n"
                  "1331000003,2,4,0,0,1,0,0,Tue Mar  6 02:13:23 2012\n"
                  "\n\n");
    EXPECT_EQ(f.dir.read("offline/pk.20120306.000000.summary.csv"),
              "Output File No. 1, File Name - th_request.20120306.000000.current.dat\n"
              "Total Packet Count, 6\n"
              "Total Message Count, 12\n"
              "Total 1 packed messages, 1\n"
              "Total 2 packed messages, 1\n"
              "Total 3 packed messages, 1\n"
              "Total 4 packed messages, 1\n"
              "Total 5 packed messages, 0\n"
              "\n"
              "Number of Samples, 3\n"
              "Average Packet Rate, 2.00\n"
              "Average Message Rate, 4.00\n"
              "\nPacking Efficiency\n"
              "% 1 packed messages, 16.67\n"
              "% 2 packed messages, 16.67\n"
              "% 3 packed messages, 16.67\n"
              "% 4 packed messages, 16.67\n"
              "% 5 packed messages, 0.00\n"
              "\n\n");
    EXPECT_TRUE(f.logged("Activity|Invalid message format,|get_qel_statistics|"));
    EXPECT_TRUE(f.logged("Activity|Message header size is less than what expected|get_qel_statistics|"
                         "packing_efficiency.cpp|"));
    EXPECT_TRUE(
        f.logged("Activity|th_request.20120306.000000.current.dat File found to calculate P.Efficiency|"));
}

TEST(Pkeff, BadRecordsEndOnlyTheirFileAndAShortHeaderIsNoted)
{
    stats_fixture f;
    const int32_t s = 1331000000;
    crafted_log bad_length, empty_data, torn, header_only, short_header;
    bad_length.packet(s, 2);
    bad_length.record(3, s + 1, bytes(10, 0), 102 + 2049);
    bad_length.packet(s + 2, 2);
    empty_data.packet(s, 1);
    empty_data.record(0, s, bytes());
    torn.packet(s, 3);
    torn.packet(s + 1, 3);
    torn.content.resize(torn.content.size() - 5);
    short_header.content.resize(10);
    bad_length.write(f.dir.file("logs/p.1.dat"));
    empty_data.write(f.dir.file("logs/p.2.dat"));
    torn.write(f.dir.file("logs/p.3.dat"));
    header_only.write(f.dir.file("logs/p.4.dat"));
    short_header.write(f.dir.file("logs/p.5.dat"));

    pkeff_plugin plugin;
    std::string output = f.dir.file("offline/out");
    EXPECT_EQ(plugin.run(f, {"p", f.dir.file("logs")}, output), QEL_STATS_VALID)
        << "one file could not be read, the others were";
    std::string csv = f.dir.read("offline/out.csv");
    std::string summary = f.dir.read("offline/out.summary.csv");
    for (int i = 1; i <= 5; ++i)
        EXPECT_NE(summary.find("Output File No. " + std::to_string(i) + ", File Name - p." +
                               std::to_string(i) + ".dat\n"),
                  std::string::npos)
            << summary;
    // p.1: the bad length ends it after its first packet.
    EXPECT_NE(csv.find(k_heading + std::string("1331000000,1,2,0,1,0,0,0,")), std::string::npos) << csv;
    EXPECT_NE(csv.find("1331000000,1,1,1,0,0,0,0,"), std::string::npos)
        << "p.2: the packet before the empty record";
    EXPECT_NE(csv.find("1331000000,1,3,0,0,1,0,0,"), std::string::npos) << "p.3: the whole packet only";
    EXPECT_EQ(csv.find("1331000001,1,3"), std::string::npos);
    EXPECT_NE(summary.find("File Name - p.4.dat\nTotal Packet Count, 0\nTotal Message Count, 0\n"),
              std::string::npos);
    // Each block ends in two line breaks, then the next one begins.
    EXPECT_NE(summary.find("Number of Samples, 0\n\nPacking Efficiency\n\n\nOutput File No. 5, "),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("% 5 packed messages, 0.00\n\n\nOutput File No. 2, "), std::string::npos)
        << summary;
    EXPECT_NE(summary.find("File Name - p.5.dat\nFile header size is less than what expected\n"),
              std::string::npos);
    EXPECT_TRUE(f.logged("Record length is not proper"));
    EXPECT_TRUE(f.logged("Record size is less than what expected"));
    EXPECT_TRUE(f.logged("File header size is less than what expected"));
}

TEST(Pkeff, ReadsRegularFilesOnlyAndAFifoDoesNotHoldItUp)
{
    stats_fixture f;
    // Not the logger's folder: reading the log back must not open the FIFO.
    mkdir(f.dir.file("input").c_str(), 0700);
    crafted_log log;
    log.packet(1331000000, 2);
    log.write(f.dir.file("input/p.1.dat"));
    log.write(f.dir.file("input/p.3.dat"));
    std::string fifo = f.dir.file("input/p.2.dat");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    mkdir(f.dir.file("input/p.4.dat").c_str(), 0700);

    pkeff_plugin plugin;
    std::atomic<bool> done(false);
    int32_t result = 0;
    std::thread call(
        [&]
        {
            result = plugin.run(f, {"p", f.dir.file("input")}, f.dir.file("offline/out"));
            done = true;
        });
    bool finished = qel_test::wait_until([&] { return done.load(); }, 20000);
    if (!finished)
    {
        // A reader stuck in the FIFO's open or read: a writer that comes and goes frees it.
        int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            pf_file_close(writer);
    }
    call.join();
    ASSERT_TRUE(finished) << "pkeff waited on the FIFO";
    EXPECT_EQ(result, QEL_STATS_VALID) << "as for any file it cannot read";
    EXPECT_TRUE(f.logged("Could not open the input file [" + fifo + "]. ,")) << f.log();
    EXPECT_TRUE(f.logged("Could not open the input file [" + f.dir.file("input/p.4.dat") + "]. ,"));
    std::string csv = f.dir.read("offline/out.csv");
    EXPECT_NE(
        csv.find("File Name - p.2.dat\n\n" + std::string(k_heading) + "Could not open the input file\n"),
        std::string::npos)
        << csv;
    EXPECT_NE(csv.find("File Name - p.3.dat\n\n" + std::string(k_heading) + "1331000000,1,2,0,1,0,0,0,"),
              std::string::npos)
        << "the file after it is read: " << csv;
}

TEST(Pkeff, RefusalsAnswer203Or10000)
{
    stats_fixture f;
    pkeff_plugin plugin;
    EXPECT_EQ(plugin.run(f, {"p"}, f.dir.file("offline/out")), QEL_STATS_ERROR);
    EXPECT_TRUE(f.logged("System Error|Argument count is lesser than expected for Packing Efficiency dll|"));
    EXPECT_EQ(plugin.run(f, {"p", f.dir.file("logs")}, f.dir.file("offline/out")), QEL_STATS_VALID);
    EXPECT_TRUE(f.logged("Activity|No files to match pattern in the Current folder|"));
    EXPECT_EQ(f.dir.list("offline").size(), 0u);

    crafted_log log;
    log.packet(1331000000, 1);
    log.write(f.dir.file("logs/p.1.dat"));
    EXPECT_EQ(plugin.run(f, {"p", f.dir.file("logs")}, f.dir.file("no such folder/out")), QEL_STATS_VALID);
    EXPECT_TRUE(
        f.logged("Could not open output file [" + f.dir.file("no such folder/out.csv") + "] Error [2]."));

    // A folder name holding pattern characters stands for itself.
    mkdir(f.dir.file("logs/[a]*").c_str(), 0700);
    log.write(f.dir.file("logs/[a]*/p.1.dat"));
    EXPECT_EQ(plugin.run(f, {"p", f.dir.file("logs/[a]*")}, f.dir.file("offline/out")), QEL_STATS_SUCCESS);
}

} // namespace
