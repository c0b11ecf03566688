// The console interface without sockets: the event log file (start, same-day append, day
// mismatch, partial tails, short writes, its folder removed under it), the packets it builds (golden bytes
// written from the packet layouts), and the handling of requests by transcode.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>

#include "gateway/interface_module/interface_info.h"
#include "gateway/interface_module/interface_nw_handle.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "platform/core/pf_log_file.h"
#include "platform/core/pf_tick.h"
#include "support/console_fixture.h"
#include "support/full_disk.h"
#include "support/held_tick.h"

using namespace qel_test;

namespace
{
// Golden packets, time field zeroed. Fields: length, 18 zero bytes, transcode, time, body.
const char *const k_zero18 = "000000000000000000000000000000000000";

std::string golden(const std::string &length, const std::string &transcode, const std::string &body)
{
    return length + k_zero18 + transcode + "00000000" + body;
}

const std::string k_user_header = golden("2800", "1327",
                                         "0000"
                                         "0000"
                                         "00000000000000000000");
const std::string k_user_response = golden("2800", "1527",
                                           "0000"
                                           "0000"
                                           "00000000000000000000");
const std::string k_version_check = golden("2200", "1227",
                                           "0000"
                                           "0000"
                                           "baa10000");

struct queues
{
    queue *notifications = queue_create();
    queue *realtime_input = queue_create();
    queue *interactive_input = queue_create();
    queue *interactive_output = queue_create();
    queue *realtime_output = queue_create();

    ~queues()
    {
        for (queue *q :
             {notifications, realtime_input, interactive_input, interactive_output, realtime_output})
            ea_destroy_message_queue(q);
    }

    ea_status process(interface_info *info)
    {
        return interface_info_process_message(info, notifications, realtime_input, interactive_input,
                                              interactive_output, realtime_output, nullptr);
    }

    // Takes the records of an output queue as byte strings (time zeroed), freeing them.
    static std::vector<std::vector<uint8_t>> take(queue *q, std::vector<int32_t> *handles = nullptr)
    {
        std::vector<std::vector<uint8_t>> packets;
        while (queue_get_count(q) > 0)
        {
            message *m = static_cast<message *>(queue_remove_head(q));
            packets.push_back(without_time(std::vector<uint8_t>(m->data, m->data + m->data_length)));
            if (handles != nullptr)
                handles->push_back(m->workstation_network_handle);
            message_destroy(m);
        }
        return packets;
    }
};

message *request(const std::vector<uint8_t> &bytes, int32_t handle)
{
    message *m = message_create(static_cast<uint32_t>(bytes.size()), KOVA_MESSAGE);
    std::copy(bytes.begin(), bytes.end(), m->data);
    m->workstation_network_handle = handle;
    return m;
}

std::vector<uint8_t> request_bytes(uint16_t transcode, size_t length)
{
    std::vector<uint8_t> bytes(length, 0);
    bytes[0] = static_cast<uint8_t>(length);
    bytes[1] = static_cast<uint8_t>(length >> 8);
    if (length > 20)
        bytes[20] = static_cast<uint8_t>(transcode);
    if (length > 21)
        bytes[21] = static_cast<uint8_t>(transcode >> 8);
    return bytes;
}

std::vector<uint8_t> file_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> day_field(uint16_t day)
{
    return {static_cast<uint8_t>(day), static_cast<uint8_t>(day >> 8)};
}

// A stored event record as the gateway writes it, with a fixed time.
std::vector<uint8_t> stored_event(uint16_t reason)
{
    std::vector<uint8_t> bytes = from_hex(golden("2a00", "1027",
                                                 "00000000"
                                                 "6500"
                                                 "89130000"
                                                 "0000"
                                                 "ffffffff"));
    bytes[22] = 0x44; // a time, kept as stored
    bytes[36] = static_cast<uint8_t>(reason);
    bytes[37] = static_cast<uint8_t>(reason >> 8);
    return bytes;
}

struct InterfaceInfo : ::testing::Test
{
    held_tick held;
};
} // namespace

TEST_F(InterfaceInfo, CreationStartsTheEventLogAndBuildsTheVersionCheck)
{
    console_fixture f;
    ASSERT_TRUE(f.ready());
    ASSERT_NE(f.create_info(), nullptr);
    EXPECT_EQ(file_bytes(f.event_log), day_field(local_day_of_month()));
    message *version = f.info->kova_version_check_message;
    EXPECT_EQ(version->tag, KOVA_MESSAGE);
    // The version check carries time 0: compared whole.
    EXPECT_EQ(std::vector<uint8_t>(version->data, version->data + version->data_length),
              from_hex(k_version_check));
}

TEST_F(InterfaceInfo, TheEventLogIsItsOwnersAloneWhateverTheUmask)
{
    // The day's events name the users who signed on and off.
    console_fixture f;
    ASSERT_TRUE(f.ready());
    const mode_t old_mask = umask(022);
    interface_info *info = f.create_info();
    umask(old_mask);
    ASSERT_NE(info, nullptr);
    struct stat status;
    ASSERT_EQ(stat(f.event_log.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(file_bytes(f.event_log), day_field(local_day_of_month()));
}

TEST_F(InterfaceInfo, MissingEventLogKeyFailsCreation)
{
    console_fixture f;
    f.config.omitted.insert("KOVA_EVENT_LOG_FILE");
    f.config_path = f.config.write(f.dir);
    EXPECT_EQ(f.create_info(), nullptr);
}

TEST_F(InterfaceInfo, EventLogOfTodayIsKeptAndOfAnotherDayStartedAnew)
{
    uint16_t today = local_day_of_month();
    struct case_data
    {
        const char *name;
        uint16_t stored_day;
        size_t records;
        size_t partial_tail;
        size_t expected_records;
    } cases[] = {
        {"same day", today, 2, 0, 2},
        {"same day, partial tail cut off", today, 2, 17, 2},
        {"same day, partial first record", today, 0, 41, 0},
        {"other day", static_cast<uint16_t>(today == 1 ? 2 : 1), 2, 0, 0},
        {"day field only", today, 0, 0, 0},
    };
    for (const case_data &c : cases)
    {
        SCOPED_TRACE(c.name);
        console_fixture f;
        std::vector<uint8_t> content = day_field(c.stored_day);
        for (size_t i = 0; i < c.records; ++i)
        {
            std::vector<uint8_t> record = stored_event(static_cast<uint16_t>(11000 + i));
            content.insert(content.end(), record.begin(), record.end());
        }
        content.insert(content.end(), c.partial_tail, 0x5a);
        write_file(f.event_log, content);
        ASSERT_NE(f.create_info(), nullptr);

        std::vector<uint8_t> expected = day_field(today);
        for (size_t i = 0; i < c.expected_records; ++i)
        {
            std::vector<uint8_t> record = stored_event(static_cast<uint16_t>(11000 + i));
            expected.insert(expected.end(), record.begin(), record.end());
        }
        EXPECT_EQ(file_bytes(f.event_log), expected);

        // The next event lands on a record boundary.
        queues q;
        queue_append(q.notifications, console_event(5001, 11018));
        ASSERT_EQ(q.process(f.info), EA_SUCCESS);
        std::vector<uint8_t> after = file_bytes(f.event_log);
        ASSERT_EQ(after.size(), 2 + 42 * (c.expected_records + 1));
        EXPECT_EQ(without_time(std::vector<uint8_t>(after.end() - 42, after.end())),
                  from_hex(golden("2a00", "1027",
                                  "00000000"
                                  "6500"
                                  "89130000"
                                  "0a2b"
                                  "ffffffff")));
    }
}

// Events the file cannot take whole are cut back, held for a console that connects meanwhile,
// and written into the file in their order once it takes writes again; the file's spell of
// failing writes is an event of its own (13004 with the error number), held with them.
TEST_F(InterfaceInfo, EventsTheFileCannotTakeAreCutBackHeldForTheReplayAndWrittenInOrderLater)
{
    console_fixture f;
    ASSERT_NE(f.create_info(), nullptr);
    // The child limits its file size so that the second and third events are written only
    // in part (the third also after the first cut); a console connects; then the child lifts
    // the limit and raises a fourth.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit old_limit;
        getrlimit(RLIMIT_FSIZE, &old_limit);
        struct rlimit limit = old_limit;
        limit.rlim_cur = 2 + 42 + 20;
        setrlimit(RLIMIT_FSIZE, &limit);
        queues q;
        queue_append(q.notifications, console_event(1, 11018));
        queue_append(q.notifications, console_event(2, 11019));
        queue_append(q.notifications, console_event(3, 11020));
        int first = q.process(f.info);
        const bool live = queues::take(q.realtime_output).size() == 4;
        queue_append(q.realtime_input, message_create(0, INCOMING_KOVA_CONNECTION));
        int replay = q.process(f.info);
        std::vector<std::vector<uint8_t>> replayed = queues::take(q.realtime_output);
        bool in_order = replayed.size() == 4 && replayed[3][32] == 0xff && replayed[3][36] == 0xcc &&
                        replayed[3][37] == 0x32 && replayed[3][38] == EFBIG; // 13004 = 0x32cc
        for (size_t i = 0; in_order && i < 3; ++i)
            in_order = replayed[i][32] == i + 1;
        const bool cut_back = file_bytes(f.event_log).size() == 2u + 42;
        setrlimit(RLIMIT_FSIZE, &old_limit);
        queue_append(q.notifications, console_event(4, 11023));
        int second = q.process(f.info);
        size_t sent = queue_get_count(q.realtime_output);
        _exit(first == EA_SUCCESS && replay == EA_SUCCESS && second == EA_SUCCESS && live && in_order &&
                      cut_back && sent == 1
                  ? 0
                  : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::vector<uint8_t> content = file_bytes(f.event_log);
    ASSERT_EQ(content.size(), 2u + 5 * 42);
    const uint8_t users[5] = {1, 2, 3, 0xff, 4};
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(content[2 + 42 * i + 32], users[i]) << "whole records, in their order";
    EXPECT_EQ(content[2 + 4 * 42 + 36], 0x0f); // 11023 = 0x2b0f
    EXPECT_EQ(content[2 + 4 * 42 + 37], 0x2b);
}

TEST_F(InterfaceInfo, ConsoleEventBecomesALogMessageInFileAndOutput)
{
    console_fixture f;
    ASSERT_NE(f.create_info(), nullptr);
    queues q;
    queue_append(q.notifications, console_event(5001, 11018));
    queue_append(q.notifications, console_event(0xFFFFFFFFu, 12001, 7));
    queue_append(q.notifications, console_event(0, 13001));
    message *wrong = message_create(0, NORMAL_MESSAGE);
    queue_append(q.notifications, wrong);
    ASSERT_EQ(q.process(f.info), EA_SUCCESS);

    std::vector<int32_t> handles;
    std::vector<std::vector<uint8_t>> sent = queues::take(q.realtime_output, &handles);
    std::vector<std::vector<uint8_t>> expected = {
        from_hex(golden("2a00", "1027",
                        "00000000"
                        "6500"
                        "89130000"
                        "0a2b"
                        "ffffffff")),
        from_hex(golden("2a00", "1027",
                        "00000000"
                        "6500"
                        "ffffffff"
                        "e12e"
                        "07000000")),
        from_hex(golden("2a00", "1027",
                        "00000000"
                        "6500"
                        "00000000"
                        "c932"
                        "ffffffff")),
    };
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(handles, (std::vector<int32_t>{-200, -200, -200}));
    std::vector<uint8_t> content = file_bytes(f.event_log);
    ASSERT_EQ(content.size(), 2u + 3 * 42);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(without_time(
                      std::vector<uint8_t>(content.begin() + 2 + 42 * i, content.begin() + 2 + 42 * (i + 1))),
                  expected[i]);
}

TEST_F(InterfaceInfo, AnEventLogWhoseFolderWasRemovedIsMadeAgainAndSaysSo)
{
    console_fixture f;
    f.config.values["KOVA_EVENT_LOG_FILE"] = f.dir.file("logs/kova_event_log.dat");
    f.config_path = f.config.write(f.dir);
    f.event_log = f.dir.file("logs/kova_event_log.dat");
    mkdir(f.dir.file("logs").c_str(), 0700);
    ASSERT_NE(f.create_info(), nullptr);
    queues q;
    queue_append(q.notifications, console_event(5001, 11018));
    ASSERT_EQ(q.process(f.info), EA_SUCCESS);
    ASSERT_EQ(queues::take(q.realtime_output).size(), 1u);

    // An operator's clean-up removes the folder; an event goes with it.
    ASSERT_EQ(unlink(f.event_log.c_str()), 0);
    ASSERT_EQ(rmdir(f.dir.file("logs").c_str()), 0);
    queue_append(q.notifications, console_event(5001, 11019));
    ASSERT_EQ(q.process(f.info), EA_SUCCESS);
    ASSERT_EQ(queues::take(q.realtime_output).size(), 1u);

    qel_test::stderr_capture capture;
    pf_tick_advance(PF_LOG_NAME_CHECK_MS);
    queue_append(q.notifications, console_event(5001, 11020));
    ASSERT_EQ(q.process(f.info), EA_SUCCESS);
    std::vector<std::vector<uint8_t>> sent = queues::take(q.realtime_output);
    ASSERT_EQ(sent.size(), 3u);
    auto reason = [](const std::vector<uint8_t> &p) { return p[36] | (p[37] << 8); };
    auto extra = [](const std::vector<uint8_t> &p)
    { return p[38] | (p[39] << 8) | (p[40] << 16) | (p[41] << 24); };
    EXPECT_EQ(reason(sent[0]), 11020);
    EXPECT_EQ(reason(sent[1]), 13004);
    EXPECT_EQ(extra(sent[1]), ENOENT);
    EXPECT_EQ(reason(sent[2]), 13005);
    EXPECT_EQ(extra(sent[2]), 2) << "the events that went with the removed file";
    std::vector<uint8_t> content = file_bytes(f.event_log);
    ASSERT_EQ(content.size(), 2u + 3 * 42) << "the file made again holds the events since";
    EXPECT_EQ(content[2 + 36] | (content[2 + 37] << 8), 11020);
    struct stat status;
    ASSERT_EQ(stat(f.event_log.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    // Once on standard error, once in the thread's log, which is standard error here.
    EXPECT_EQ(qel_test::count_of(capture.text(), "Log file [" + f.event_log +
                                                     "] no longer stood under its name (removed or moved by "
                                                     "another program): the [2] lines written since it was "
                                                     "last seen there went with it; written under its name "
                                                     "again\n"),
              2u)
        << capture.text();

    pf_tick_advance(PF_LOG_NAME_CHECK_MS);
    queue_append(q.notifications, console_event(5001, 11021));
    ASSERT_EQ(q.process(f.info), EA_SUCCESS);
    EXPECT_EQ(queues::take(q.realtime_output).size(), 1u) << "said once";

    // Removed again between two looks: the gateway's stop looks once more.
    ASSERT_EQ(unlink(f.event_log.c_str()), 0);
    queue_append(q.notifications, console_event(5001, 11022));
    ASSERT_EQ(q.process(f.info), EA_SUCCESS);
    qel_test::stderr_capture at_stop;
    interface_info_destroy(f.info);
    f.info = nullptr;
    EXPECT_EQ(qel_test::count_of(at_stop.text(), "Log file [" + f.event_log +
                                                     "] no longer stood under its name (removed or moved by "
                                                     "another program): the [2] lines written since it was "
                                                     "last seen there went with it\n"),
              1u)
        << at_stop.text();
}

// A clean-up that leaves a file where the folder was: the event log cannot be made again, and
// is tried again at each event as every log is; its events are held meanwhile and go into
// the file made again, with its folder, once the place is free.
TEST_F(InterfaceInfo, AnEventLogThatCannotBeMadeAgainIsTriedAtEachEventAndTakesTheHeldOnes)
{
    console_fixture f;
    f.config.values["KOVA_EVENT_LOG_FILE"] = f.dir.file("logs/kova_event_log.dat");
    f.config_path = f.config.write(f.dir);
    f.event_log = f.dir.file("logs/kova_event_log.dat");
    mkdir(f.dir.file("logs").c_str(), 0700);
    ASSERT_NE(f.create_info(), nullptr);
    queues q;
    std::vector<int> reasons;
    auto event = [&](uint16_t reason)
    {
        queue_append(q.notifications, console_event(5001, reason));
        ASSERT_EQ(q.process(f.info), EA_SUCCESS);
        for (const std::vector<uint8_t> &p : queues::take(q.realtime_output))
            reasons.push_back(p[36] | (p[37] << 8));
    };
    event(11018);
    ASSERT_EQ(unlink(f.event_log.c_str()), 0);
    ASSERT_EQ(rmdir(f.dir.file("logs").c_str()), 0);
    write_file(f.dir.file("logs"), {'x'});

    qel_test::stderr_capture capture;
    pf_tick_advance(PF_LOG_NAME_CHECK_MS);
    event(11019);
    event(11020);
    ASSERT_EQ(unlink(f.dir.file("logs").c_str()), 0);
    pf_tick_advance(PF_LOG_SPELL_QUIET_MS);
    event(11021);

    EXPECT_EQ(reasons, (std::vector<int>{11018, 11019, 13004, 13004, 11020, 11021, 13005}));
    // The file made again holds every event since, the held ones first, in their order.
    const std::vector<uint8_t> content = file_bytes(f.event_log);
    ASSERT_EQ(content.size() % 42, 2u);
    std::vector<int> stored;
    for (size_t at = 2; at + 42 <= content.size(); at += 42)
        stored.push_back(content[at + 36] | (content[at + 37] << 8));
    EXPECT_EQ(stored, std::vector<int>(reasons.begin() + 1, reasons.end()));
    const std::string said = capture.text();
    EXPECT_EQ(qel_test::count_of(said, "Log writes to [" + f.event_log + "] are failing ([Not a directory])"),
              1u)
        << said;
    EXPECT_EQ(
        qel_test::count_of(said, "Log writes to [" + f.event_log + "] succeed again: [0] lines were lost"),
        1u)
        << said;
    EXPECT_EQ(qel_test::count_of(said, "Log folder [" + f.dir.file("logs") + "] was missing"), 2u)
        << "on standard error and in the thread's log, which is standard error here: " << said;
}

TEST_F(InterfaceInfo, NewRealtimeConsoleGetsTheStoredEventsUnchangedBeforeLiveOnes)
{
    console_fixture f;
    std::vector<uint8_t> content = day_field(local_day_of_month());
    std::vector<uint8_t> first = stored_event(12010), second = stored_event(12012);
    content.insert(content.end(), first.begin(), first.end());
    content.insert(content.end(), second.begin(), second.end());
    write_file(f.event_log, content);
    ASSERT_NE(f.create_info(), nullptr);

    queues q;
    queue_append(q.realtime_input, message_create(0, INCOMING_KOVA_CONNECTION));
    queue_append(q.realtime_input, message_create(40, KOVA_MESSAGE)); // a realtime console's packet: dropped
    queue_append(q.notifications, console_event(5001, 11018));
    ASSERT_EQ(q.process(f.info), EA_SUCCESS);

    std::vector<int32_t> handles;
    ASSERT_EQ(queue_get_count(q.realtime_output), 3u);
    message *m0 = static_cast<message *>(queue_peek(q.realtime_output, 0));
    EXPECT_EQ(std::vector<uint8_t>(m0->data, m0->data + 42), first); // time kept as stored
    std::vector<std::vector<uint8_t>> sent = queues::take(q.realtime_output, &handles);
    EXPECT_EQ(sent[1], without_time(second));
    EXPECT_EQ(sent[2][36], 0x0a);
    EXPECT_EQ(handles, (std::vector<int32_t>{-200, -200, -200}));
    EXPECT_EQ(file_bytes(f.event_log).size(), 2u + 3 * 42);
}

// A day's file longer than a console's queue replays its newest events only, after one
// event that counts the older ones left out (reason 13003, the count as extra info).
TEST_F(InterfaceInfo, ReplayOfALongDaySendsTheNewestEventsAfterOneThatCountsTheRest)
{
    console_fixture f;
    const uint32_t stored = INTERFACE_OUTGOING_LIMIT + 250;
    std::vector<uint8_t> content = day_field(local_day_of_month());
    for (uint32_t i = 0; i < stored; ++i)
    {
        std::vector<uint8_t> event = stored_event(11013);
        event[38] = static_cast<uint8_t>(i);
        event[39] = static_cast<uint8_t>(i >> 8);
        event[40] = event[41] = 0;
        content.insert(content.end(), event.begin(), event.end());
    }
    write_file(f.event_log, content);
    ASSERT_NE(f.create_info(), nullptr);

    queues q;
    queue_append(q.realtime_input, message_create(0, INCOMING_KOVA_CONNECTION));
    ASSERT_EQ(q.process(f.info), EA_SUCCESS);
    std::vector<std::vector<uint8_t>> sent = queues::take(q.realtime_output);
    ASSERT_EQ(sent.size(), static_cast<size_t>(INTERFACE_OUTGOING_LIMIT) + 1);
    EXPECT_EQ(sent[0], from_hex(golden("2a00", "1027",
                                       "00000000"
                                       "6500"
                                       "00000000"
                                       "cb32"
                                       "fa000000")));
    EXPECT_EQ(sent[1][38] | (sent[1][39] << 8), 250);
    EXPECT_EQ(sent.back()[38] | (sent.back()[39] << 8), static_cast<int>(stored - 1));
    // A later event is appended at the end of the file as before.
    queue_append(q.notifications, console_event(5001, 11018));
    ASSERT_EQ(q.process(f.info), EA_SUCCESS);
    EXPECT_EQ(file_bytes(f.event_log).size(), 2u + (stored + 1) * 42);
}

// When the day holds more than a console takes, the events about connections on which no
// user signed on (no user, or the gateway's own, with a connection's reason) are left out
// first: a flood of them cannot push out the gateway's own events.
TEST_F(InterfaceInfo, ReplayOfALongDayLeavesOutEventsAboutConnectionsWithoutAUserFirst)
{
    console_fixture f;
    std::vector<uint8_t> content = day_field(local_day_of_month());
    auto add = [&](uint16_t reason, uint32_t user, uint32_t extra)
    {
        std::vector<uint8_t> event = stored_event(reason);
        for (int i = 0; i < 4; ++i)
        {
            event[32 + i] = static_cast<uint8_t>(user >> (8 * i));
            event[38 + i] = static_cast<uint8_t>(extra >> (8 * i));
        }
        content.insert(content.end(), event.begin(), event.end());
    };
    add(12008, 0, 0xFFFFFFFFu);    // the host link lost
    add(11009, 5001, 0xFFFFFFFFu); // a signed-on user's connection lost
    const uint32_t flood = INTERFACE_OUTGOING_LIMIT + 250;
    for (uint32_t i = 0; i < flood; ++i)
        add(i % 2 == 0 ? 11009 : 11013, i % 2 == 0 ? 0 : 0xFFFFFFFFu, i);
    add(11018, 5002, 0xFFFFFFFFu);
    write_file(f.event_log, content);
    ASSERT_NE(f.create_info(), nullptr);

    queues q;
    queue_append(q.realtime_input, message_create(0, INCOMING_KOVA_CONNECTION));
    ASSERT_EQ(q.process(f.info), EA_SUCCESS);
    std::vector<std::vector<uint8_t>> sent = queues::take(q.realtime_output);
    ASSERT_EQ(sent.size(), static_cast<size_t>(INTERFACE_OUTGOING_LIMIT) + 1);
    const uint32_t left_out = flood + 3 - INTERFACE_OUTGOING_LIMIT;
    EXPECT_EQ(sent[0][36] | (sent[0][37] << 8), 13003);
    EXPECT_EQ(static_cast<uint32_t>(sent[0][38] | (sent[0][39] << 8)), left_out);
    EXPECT_EQ(sent[1][36] | (sent[1][37] << 8), 12008);
    EXPECT_EQ(sent[2][36] | (sent[2][37] << 8), 11009);
    EXPECT_EQ(sent[2][32] | (sent[2][33] << 8), 5001);
    // The flood's newest follow, in the file's order.
    EXPECT_EQ(static_cast<uint32_t>(sent[3][38] | (sent[3][39] << 8)), left_out);
    EXPECT_EQ(sent.back()[36] | (sent.back()[37] << 8), 11018);
}

TEST_F(InterfaceInfo, UserInformationListsEveryUserInTableOrder)
{
    console_fixture f;
    ASSERT_TRUE(f.ready());
    ASSERT_NE(f.create_info(), nullptr);
    f.set_user(1, 5001, 2);
    f.set_user(3, 5003, 3);
    f.set_user(CONSOLE_FIXTURE_MAX_CLIENTS + 1, 7001, 1); // a FIX user's slot
    queues q;
    // A 40-byte and a 38-byte request get the same answer.
    queue_append(q.interactive_input, request(request_bytes(10001, 40), 7));
    queue_append(q.interactive_input, request(request_bytes(10001, 38), 7));
    ASSERT_EQ(q.process(f.info), EA_SUCCESS);
    std::vector<int32_t> handles;
    std::vector<std::vector<uint8_t>> sent = queues::take(q.interactive_output, &handles);
    std::vector<std::vector<uint8_t>> one = {
        from_hex(k_user_header),
        from_hex(golden("2400", "1427",
                        "0000"
                        "0000"
                        "89130000"
                        "0200")),
        from_hex(golden("2400", "1427",
                        "0000"
                        "0000"
                        "8b130000"
                        "0300")),
        from_hex(golden("2400", "1427",
                        "0000"
                        "0000"
                        "591b0000"
                        "0100")),
        from_hex(k_user_response),
    };
    std::vector<std::vector<uint8_t>> expected = one;
    expected.insert(expected.end(), one.begin(), one.end());
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(handles, std::vector<int32_t>(10, 7));
}

TEST_F(InterfaceInfo, UserInformationWithNoUsersIsHeaderThenResponse)
{
    console_fixture f;
    ASSERT_NE(f.create_info(), nullptr);
    queues q;
    queue_append(q.interactive_input, request(request_bytes(10001, 40), 3));
    ASSERT_EQ(q.process(f.info), EA_SUCCESS);
    EXPECT_EQ(queues::take(q.interactive_output),
              (std::vector<std::vector<uint8_t>>{from_hex(k_user_header), from_hex(k_user_response)}));
}

TEST_F(InterfaceInfo, BoxInformationGivesOneTriplePerLinkInLinkOrder)
{
    console_fixture f(2);
    ASSERT_TRUE(f.ready());
    ASSERT_NE(f.create_info(), nullptr);
    f.set_box_status(0, 2);
    f.set_box_status(1, 3);
    queues q;
    queue_append(q.interactive_input, request(request_bytes(6500, 40), 9));
    ASSERT_EQ(q.process(f.info), EA_SUCCESS);
    std::vector<int32_t> handles;
    std::vector<std::vector<uint8_t>> expected = {
        from_hex(golden("2800", "6519",
                        "0000"
                        "0100"
                        "00000000"
                        "6500"
                        "0000"
                        "0000")),
        from_hex(golden("2200", "6619",
                        "0000"
                        "0000"
                        "6500"
                        "0200")),
        from_hex(golden("2800", "6719",
                        "0000"
                        "0000"
                        "00000000"
                        "6500"
                        "0000"
                        "0000")),
        from_hex(golden("2800", "6519",
                        "0000"
                        "0100"
                        "00000000"
                        "6500"
                        "0100"
                        "0000")),
        from_hex(golden("2200", "6619",
                        "0000"
                        "0000"
                        "6500"
                        "0300")),
        from_hex(golden("2800", "6719",
                        "0000"
                        "0000"
                        "00000000"
                        "6500"
                        "0000"
                        "0000")),
    };
    EXPECT_EQ(queues::take(q.interactive_output, &handles), expected);
    EXPECT_EQ(handles, std::vector<int32_t>(6, 9));
}

TEST_F(InterfaceInfo, RequestsAreHandledByTranscodeOnly)
{
    struct case_data
    {
        const char *name;
        uint16_t transcode;
        size_t length;
        size_t answers;
    } cases[] = {
        {"user information, 40 bytes", 10001, 40, 2},
        {"user information, 22 bytes", 10001, 22, 2},
        {"user information, 2047 bytes", 10001, 2047, 2},
        {"box information", 6500, 40, 3},
        {"transcode cut off at 21 bytes", 10001, 21, 0},
        {"3-byte request", 10001, 3, 0},
        {"unknown transcode", 4242, 40, 0},
        {"logon sender's transcode", 1000, 40, 0},
        {"configuration change transcode", 2100, 40, 0},
        {"status query transcode", 3000, 40, 0},
        {"version check sent back", 10002, 34, 0},
    };
    for (const case_data &c : cases)
    {
        SCOPED_TRACE(c.name);
        console_fixture f;
        ASSERT_NE(f.create_info(), nullptr);
        queues q;
        queue_append(q.interactive_input, request(request_bytes(c.transcode, c.length), 1));
        ASSERT_EQ(q.process(f.info), EA_SUCCESS);
        EXPECT_EQ(queue_get_count(q.interactive_output), c.answers);
        EXPECT_EQ(queue_get_count(q.interactive_input), 0u);
    }
}

TEST_F(InterfaceInfo, RestartRequestStopsAtOnceLeavingLaterRequests)
{
    console_fixture f;
    ASSERT_NE(f.create_info(), nullptr);
    queues q;
    queue_append(q.interactive_input, request(request_bytes(10001, 40), 1));
    queue_append(q.interactive_input, request(request_bytes(8000, 40), 1));
    queue_append(q.interactive_input, request(request_bytes(6500, 40), 1));
    queue_append(q.notifications, console_event(5001, 11018));
    EXPECT_EQ(q.process(f.info), EA_RESTART);
    EXPECT_EQ(queue_get_count(q.interactive_output), 2u); // the user information answered before
    EXPECT_EQ(queue_get_count(q.interactive_input), 1u);
    EXPECT_EQ(queue_get_count(q.notifications), 1u);
}

TEST_F(InterfaceInfo, DayChangeStartsTheFileAnew)
{
    console_fixture f;
    ASSERT_NE(f.create_info(), nullptr);
    queues q;
    queue_append(q.notifications, console_event(5001, 11018));
    ASSERT_EQ(q.process(f.info), EA_SUCCESS);
    ASSERT_EQ(file_bytes(f.event_log).size(), 44u);
    ASSERT_EQ(interface_info_create_kova_event_log_file(f.info, nullptr), EA_SUCCESS);
    EXPECT_EQ(file_bytes(f.event_log), day_field(local_day_of_month()));
    queues::take(q.realtime_output);

    // A console that connects after the change gets only the events raised since.
    queue_append(q.notifications, console_event(5002, 11007));
    ASSERT_EQ(q.process(f.info), EA_SUCCESS);
    queues::take(q.realtime_output);
    queue_append(q.realtime_input, message_create(0, INCOMING_KOVA_CONNECTION));
    ASSERT_EQ(q.process(f.info), EA_SUCCESS);
    std::vector<std::vector<uint8_t>> replayed = queues::take(q.realtime_output);
    ASSERT_EQ(replayed.size(), 1u);
    EXPECT_EQ(replayed[0][32], 0x8a); // 5002 = 0x138a
}
