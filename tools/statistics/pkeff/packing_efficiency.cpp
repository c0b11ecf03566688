// pkeff: the packing-efficiency plug-in (offline). Once a day it reads the binary packet
// logs a gateway wrote for one host link and measures how well the gateway packed its
// records into packets: per second, the packets, the records ("messages") and how many
// packets carried 1 to 5 records; per file, totals, averages and the share of each
// packing. It writes <output>.csv (a row per second) and <output>.summary.csv.
//
// Parameter line arguments: the logs' file-name prefix (the logger's name and kind, for
// the host link's request log "th_network_handler_thread_request") and their folder.
//
// A log is a 16-byte file header, then records of a 102-byte header and the record's
// data. A bad record ends its own file (what was read is still counted and written); a
// file that cannot be opened (or is not a regular file) or has no whole file header is
// noted in both outputs and the next file is read, and the call then answers 203. The
// gateway writes each record's second as its exchange time (UTC+05:30 already added), so
// it is shown as UTC.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/core/pf_file.h"
#include "tools/logging/tool_logger.h"
#include "tools/statistics/qel_stats_interface.h"
#include "tools/statistics/qel_stats_search.h"

using qel_tools::LOG_LEVEL_ACTIVITY;
using qel_tools::LOG_LEVEL_SYSTEM_ERROR;
using qel_tools::logger_object;

// Every line carries the entry point's name, whichever helper writes it.
#define PKEFF_LOG(logger, level, ...)                                                                        \
    qel_tools::logging_info_logf((logger), (level), "get_qel_statistics", __FILE__, __LINE__, __VA_ARGS__)

namespace
{

// The binary packet log, as the gateway's logger writes it.
enum : uint32_t
{
    LOG_FILE_HEADER_SIZE = 16,
    LOG_RECORD_HEADER_SIZE = 102,
    LOG_RECORD_DATA_MAX = 2048,
    LOG_HDR_TOTAL_LENGTH = 0, // u16 LE, header included
    LOG_HDR_CODE = 2,         // u16 LE
    LOG_HDR_SECONDS = 50,     // i32 LE
    PACKET_RECORD_COUNT = 22, // u16 BE in the data, after the 22-byte network header
};

enum : uint16_t
{
    CODE_UNPACKED = 0,
    CODE_UNPACKED_TOO = 1,
    CODE_PACKET = 3,
};

const int k_packings = 5;
const size_t k_read_buffer = 1 << 18;
const char k_short_file_header[] = "File header size is less than what expected";

struct counts
{
    int64_t packets;
    int64_t messages;
    int64_t packing[k_packings]; // packets that carried 1 .. 5 records
};

struct outputs
{
    FILE *csv;
    FILE *summary;
};

uint16_t get_u16_le(const uint8_t *p, uint32_t offset)
{
    return static_cast<uint16_t>(p[offset] | p[offset + 1] << 8);
}

int32_t get_i32_le(const uint8_t *p, uint32_t offset)
{
    return static_cast<int32_t>(static_cast<uint32_t>(p[offset]) | static_cast<uint32_t>(p[offset + 1]) << 8 |
                                static_cast<uint32_t>(p[offset + 2]) << 16 |
                                static_cast<uint32_t>(p[offset + 3]) << 24);
}

uint16_t get_u16_be(const uint8_t *p, uint32_t offset)
{
    return static_cast<uint16_t>(p[offset] << 8 | p[offset + 1]);
}

const char *base_name(const std::string &path)
{
    size_t slash = path.rfind('/');
    return path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}

void add(counts *total, const counts &part)
{
    total->packets += part.packets;
    total->messages += part.messages;
    for (int i = 0; i < k_packings; ++i)
        total->packing[i] += part.packing[i];
}

void write_row(FILE *csv, int32_t second, const counts &sample)
{
    fprintf(csv, "%d,%" PRId64 ",%" PRId64, second, sample.packets, sample.messages);
    for (int64_t packing : sample.packing)
        fprintf(csv, ",%" PRId64, packing);
    time_t when = static_cast<time_t>(second);
    struct tm broken;
    char text[32] = "";
    if (gmtime_r(&when, &broken) != nullptr)
        strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y", &broken);
    fprintf(csv, ",%s\n", text);
}

void write_summary(FILE *summary, const counts &totals, int64_t samples)
{
    fprintf(summary, "Total Packet Count, %" PRId64 "\n", totals.packets);
    fprintf(summary, "Total Message Count, %" PRId64 "\n", totals.messages);
    for (int i = 0; i < k_packings; ++i)
        fprintf(summary, "Total %d packed messages, %" PRId64 "\n", i + 1, totals.packing[i]);
    fprintf(summary, "\n");
    fprintf(summary, "Number of Samples, %" PRId64 "\n", samples);
    if (samples > 0)
    {
        fprintf(summary, "Average Packet Rate, %.2lf\n", static_cast<double>(totals.packets) / samples);
        fprintf(summary, "Average Message Rate, %.2lf\n", static_cast<double>(totals.messages) / samples);
    }
    fprintf(summary, "\nPacking Efficiency\n");
    if (totals.packets > 0)
    {
        for (int i = 0; i < k_packings; ++i)
            fprintf(summary, "%% %d packed messages, %.2lf\n", i + 1,
                    static_cast<double>(totals.packing[i]) * 100 / totals.packets);
    }
    // The block's closing "\n\n" is the one end_part writes to both outputs.
}

void write_titles(const outputs &out, int number, const char *name)
{
    fprintf(out.csv, "Output File No. %d, File Name - %s\n\n", number, name);
    fprintf(out.summary, "Output File No. %d, File Name - %s\n", number, name);
    fflush(out.csv);
    fflush(out.summary);
    fprintf(out.csv, "Time, Packet Count, Message Count");
    for (int i = 1; i <= k_packings; ++i)
        fprintf(out.csv, ",%d packed packets", i);
    fprintf(out.csv, ",Time\n");
}

void note(const outputs &out, const char *text)
{
    fprintf(out.csv, "%s\n", text);
    fprintf(out.summary, "%s\n", text);
}

void end_part(const outputs &out)
{
    fprintf(out.csv, "\n\n");
    fprintf(out.summary, "\n\n");
    fflush(out.csv);
    fflush(out.summary);
}

// Counts one record into the sample.
void count_record(uint16_t code, const uint8_t *data, uint32_t data_length, counts *sample,
                  logger_object *logger)
{
    if (code == CODE_UNPACKED || code == CODE_UNPACKED_TOO)
    {
        sample->packets += 1;
        sample->messages += 1;
        return;
    }
    if (code != CODE_PACKET)
    {
        PKEFF_LOG(logger, LOG_LEVEL_ACTIVITY, "Invalid message format\n");
        return;
    }
    uint16_t n = data_length >= PACKET_RECORD_COUNT + 2 ? get_u16_be(data, PACKET_RECORD_COUNT) : 0;
    // Only packets of 1 to 4 records are counted: the fifth column stays 0.
    if (n >= 1 && n <= 4)
    {
        sample->packing[n - 1] += 1;
        sample->messages += n;
        sample->packets += 1;
    }
}

// Reads the records of one open log and writes its rows and summary. false when the file
// has no whole file header.
bool measure_file(FILE *input, const outputs &out, logger_object *logger)
{
    uint8_t header[LOG_RECORD_HEADER_SIZE];
    uint8_t data[LOG_RECORD_DATA_MAX] = {};
    if (fread(header, 1, LOG_FILE_HEADER_SIZE, input) != LOG_FILE_HEADER_SIZE)
    {
        PKEFF_LOG(logger, LOG_LEVEL_ACTIVITY, "%s", k_short_file_header);
        note(out, k_short_file_header);
        return false;
    }
    counts sample = {}, totals = {};
    int64_t samples = 0;
    int32_t sample_second = 0;
    for (;;)
    {
        memset(header, 0, sizeof header);
        if (fread(header, 1, LOG_RECORD_HEADER_SIZE, input) != LOG_RECORD_HEADER_SIZE)
        {
            PKEFF_LOG(logger, LOG_LEVEL_ACTIVITY, "Message header size is less than what expected");
            break;
        }
        int32_t data_length = static_cast<int32_t>(get_u16_le(header, LOG_HDR_TOTAL_LENGTH)) -
                              static_cast<int32_t>(LOG_RECORD_HEADER_SIZE);
        if (data_length < 0 || data_length > static_cast<int32_t>(LOG_RECORD_DATA_MAX))
        {
            PKEFF_LOG(logger, LOG_LEVEL_ACTIVITY, "Record length is not proper");
            break;
        }
        size_t got = fread(data, 1, static_cast<size_t>(data_length), input);
        if (got == 0 || got != static_cast<size_t>(data_length))
        {
            PKEFF_LOG(logger, LOG_LEVEL_ACTIVITY, "Record size is less than what expected");
            break;
        }
        int32_t second = get_i32_le(header, LOG_HDR_SECONDS);
        if (second != sample_second)
        {
            if (sample_second != 0)
            {
                write_row(out.csv, sample_second, sample);
                add(&totals, sample);
                sample = counts();
                samples += 1;
            }
            sample_second = second;
        }
        count_record(get_u16_le(header, LOG_HDR_CODE), data, static_cast<uint32_t>(data_length), &sample,
                     logger);
        memset(data, 0, static_cast<size_t>(data_length));
    }
    if (sample.packets > 0)
    {
        write_row(out.csv, sample_second, sample);
        add(&totals, sample);
        samples += 1;
    }
    write_summary(out.summary, totals, samples);
    return true;
}

// A log for reading, or NULL. Only a regular file is read: anything else named like a log
// (a FIFO would block the call until a writer came) counts as a file that cannot be
// opened. The descriptor is opened without waiting, then checked.
FILE *open_input(const char *path)
{
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return nullptr;
    struct stat status;
    int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
    {
        pf_file_close(fd);
        return nullptr;
    }
    FILE *input = fdopen(fd, "rb");
    if (input == nullptr)
        pf_file_close(fd);
    return input;
}

bool open_outputs(const char *output, outputs *out, logger_object *logger)
{
    std::string csv = std::string(output) + ".csv";
    std::string summary = std::string(output) + ".summary.csv";
    out->csv = fopen(csv.c_str(), "w");
    if (out->csv == nullptr)
    {
        PKEFF_LOG(logger, LOG_LEVEL_ACTIVITY, "Could not open output file [%s] Error [%d].\n", csv.c_str(),
                  errno);
        return false;
    }
    out->summary = fopen(summary.c_str(), "w");
    if (out->summary == nullptr)
    {
        PKEFF_LOG(logger, LOG_LEVEL_ACTIVITY, "Could not open summary file [%s].\n", summary.c_str());
        fclose(out->csv);
        return false;
    }
    return true;
}

} // namespace

QEL_STATS_EXPORT int32_t init(void *parameter, logger_object *logger)
{
    (void)logger;
    static_cast<qel_stats_offline_parameter *>(parameter)->value_count = 0;
    return QEL_STATS_SUCCESS;
}

QEL_STATS_EXPORT int32_t destroy(void *parameter, logger_object *logger)
{
    (void)logger;
    static_cast<qel_stats_offline_parameter *>(parameter)->value_count = 0;
    return QEL_STATS_SUCCESS;
}

QEL_STATS_EXPORT int32_t get_qel_statistics(void *parameter, logger_object *logger)
{
    qel_stats_offline_parameter *record = static_cast<qel_stats_offline_parameter *>(parameter);
    if (record->argument_count < 2 || record->arguments == nullptr)
    {
        PKEFF_LOG(logger, LOG_LEVEL_SYSTEM_ERROR,
                  "Argument count is lesser than expected for Packing Efficiency dll");
        return QEL_STATS_ERROR;
    }
    const char *prefix = record->arguments[0];
    const char *folder = record->arguments[1];
    std::vector<std::string> files;
    std::string pattern =
        qel_stats_pattern_literal(folder) + "/" + qel_stats_pattern_literal(prefix) + ".*.dat";
    if (qel_stats_find_files(pattern, &files) != EA_SUCCESS)
    {
        PKEFF_LOG(logger, LOG_LEVEL_ACTIVITY, "Invalid file path [%s]", prefix);
        return QEL_STATS_VALID;
    }
    if (files.empty())
    {
        PKEFF_LOG(logger, LOG_LEVEL_ACTIVITY, "No files to match pattern in the Current folder");
        return QEL_STATS_VALID;
    }
    outputs out;
    char output[QEL_STATS_NAME_SIZE + 1];
    snprintf(output, sizeof output, "%.*s", static_cast<int>(sizeof record->name), record->name);
    if (!open_outputs(output, &out, logger))
        return QEL_STATS_VALID;

    std::vector<char> buffer(k_read_buffer);
    bool every_file_read = true;
    for (size_t i = 0; i < files.size(); ++i)
    {
        const char *name = base_name(files[i]);
        PKEFF_LOG(logger, LOG_LEVEL_ACTIVITY, "%s File found to calculate P.Efficiency", name);
        FILE *input = open_input(files[i].c_str());
        write_titles(out, static_cast<int>(i + 1), name);
        if (input == nullptr)
        {
            PKEFF_LOG(logger, LOG_LEVEL_ACTIVITY, "Could not open the input file [%s]. \n", files[i].c_str());
            note(out, "Could not open the input file");
            every_file_read = false;
        }
        else
        {
            setvbuf(input, buffer.data(), _IOFBF, buffer.size());
            every_file_read = measure_file(input, out, logger) && every_file_read;
            fclose(input);
        }
        end_part(out);
    }
    fclose(out.csv);
    fclose(out.summary);
    return every_file_read ? QEL_STATS_SUCCESS : QEL_STATS_VALID;
}
