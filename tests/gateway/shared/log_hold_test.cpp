// What a thread writes about a workstation connection that has not signed on: held until
// the verdict, written whole and in order when the connection signs on, and folded when it
// ends without signing on (the first stories of a spell written, the rest counted per
// address and reason once a second), with nothing left unsaid at the thread's stop. The
// tick count is held and moved instead of waiting.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway/runtime/ea_socket.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/shared/connection_book.h"
#include "gateway/shared/log_hold.h"
#include "platform/core/pf_tick.h"
#include "support/gateway_log.h"
#include "support/held_tick.h"
#include "support/test_support.h"

namespace
{
const char *const kName = "tws_network_handler_thread";

class hold_fixture : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir.write("loggers.cfg", "LOG_FILE_PATH=" + dir.path() +
                                     "\nSYSTEM_LOGGING_LEVEL=EVENT\nSYSTEM_BINARY_LOGGING_ENABLED=TRUE\n");
        const char *names[] = {kName};
        loggers = logger_object_container_create(dir.file("loggers.cfg").c_str(), names, 1);
        ASSERT_NE(loggers, nullptr);
        book = connection_book_create(4);
        hold = log_hold_create(4, book);
        ASSERT_NE(hold, nullptr);
    }

    void TearDown() override
    {
        log_hold_destroy(hold);
        connection_book_destroy(book);
        logger_object_container_destroy(loggers);
    }

    logger_object *logger() { return loggers->loggers[0]; }

    // The texts written so far, in order.
    std::vector<std::string> texts()
    {
        std::vector<std::string> out;
        for (const qel_test::gateway_log_line &line : qel_test::gateway_log_lines(dir.path(), kName))
            out.push_back(line.text);
        return out;
    }

    size_t written(const std::string &part)
    {
        size_t n = 0;
        for (const std::string &text : texts())
            n += qel_test::count_of(text, part);
        return n;
    }

    void story(uint16_t slot, int32_t handle, int lines, uint32_t address = 0x0302010A)
    {
        for (int i = 0; i < lines; ++i)
            EA_LOG_HELD(log_hold_of_slot(hold, slot, handle, address), logger(), EA_LEVEL_EVENT,
                        "line [%d] of handle [%d]", i, handle);
    }

    void pass() { log_hold_pass(hold, "test_routine", logger()); }

    qel_test::held_tick held;
    qel_test::temp_dir dir;
    logger_object_container *loggers = nullptr;
    connection_book *book = nullptr;
    log_hold *hold = nullptr;
};
} // namespace

TEST(ConnectionBook, AConnectionIsUndecidedUntilItSignsOnOrLeavesItsSlot)
{
    connection_book *book = connection_book_create(2);
    EXPECT_EQ(connection_book_verdict(book, 0, 5), CONNECTION_ENDED); // never opened
    connection_book_opened(book, 0, 5);
    EXPECT_EQ(connection_book_verdict(book, 0, 5), CONNECTION_UNDECIDED);
    connection_book_signed_on(book, 0, 5);
    EXPECT_EQ(connection_book_verdict(book, 0, 5), CONNECTION_SIGNED_ON);
    // The sign-on stays with the connection after it left, until another signs on there.
    connection_book_closed(book, 0, 5);
    connection_book_opened(book, 0, 6);
    EXPECT_EQ(connection_book_verdict(book, 0, 5), CONNECTION_SIGNED_ON);
    EXPECT_EQ(connection_book_verdict(book, 0, 6), CONNECTION_UNDECIDED);
    // Closing names the connection: a late close of another leaves the slot's alone.
    connection_book_closed(book, 0, 5);
    EXPECT_EQ(connection_book_verdict(book, 0, 6), CONNECTION_UNDECIDED);
    connection_book_closed(book, 0, 6);
    EXPECT_EQ(connection_book_verdict(book, 0, 6), CONNECTION_ENDED);
    // A slot outside the book (a FIX user's) counts as signed on: its lines are never held.
    EXPECT_EQ(connection_book_verdict(book, 7, 1), CONNECTION_SIGNED_ON);
    connection_book_destroy(book);
}

TEST_F(hold_fixture, LinesAreWrittenWholeAndInOrderWhenTheConnectionSignsOn)
{
    connection_book_opened(book, 1, 7);
    story(1, 7, 3);
    pass();
    EXPECT_EQ(written("of handle [7]"), 0u);
    connection_book_signed_on(book, 1, 7);
    pass();
    EXPECT_EQ(texts(), (std::vector<std::string>{"line [0] of handle [7]", "line [1] of handle [7]",
                                                 "line [2] of handle [7]"}));
    // From then on its lines are written at once.
    EXPECT_EQ(log_hold_of_slot(hold, 1, 7, 0), nullptr);
    story(1, 7, 1);
    EXPECT_EQ(written("of handle [7]"), 4u);
}

TEST_F(hold_fixture, BinaryRecordsAreHeldBesideTheLinesAndWrittenWithThem)
{
    connection_book_opened(book, 0, 3);
    message *frame = message_create(64, NORMAL_MESSAGE);
    frame->workstation_network_handle = 3;
    log_hold_binary(log_hold_of_slot(hold, 0, 3, 0), logger(), frame, EA_BINARY_KIND_WORKSTATION,
                    EA_REQUEST_LOG, 0, 1, 0);
    log_hold_binary(log_hold_of_slot(hold, 0, 3, 0), logger(), frame, EA_BINARY_KIND_WORKSTATION,
                    EA_RESPONSE_LOG, 0, 1, 1);
    auto size_of = [&](const char *kind)
    {
        long size = 0;
        for (const std::string &name : dir.list())
        {
            if (name.find(std::string(kName) + "_" + kind) == 0)
                size += static_cast<long>(qel_test::read_file(dir.file(name)).size());
        }
        return size;
    };
    EXPECT_EQ(size_of("request"), 0);
    connection_book_signed_on(book, 0, 3);
    pass();
    // File header, then the record: its 102-byte header and the frame.
    EXPECT_EQ(size_of("request"), EA_BINARY_FILE_HEADER_SIZE + EA_BINARY_LOG_HEADER_SIZE + 64);
    EXPECT_EQ(size_of("response"), EA_BINARY_FILE_HEADER_SIZE + EA_BINARY_LOG_HEADER_SIZE + 64);
    message_destroy(frame);
}

// Five connections from one address end without signing on in one second: the first two
// stories are written whole, the other three counted; a second later one line says so.
TEST_F(hold_fixture, ConnectionsThatEndUnsignedHaveTheFirstStoriesOfASpellWrittenAndTheRestCounted)
{
    for (int32_t handle = 1; handle <= 5; ++handle)
    {
        const uint16_t slot = static_cast<uint16_t>(handle < 3 ? handle : 0);
        connection_book_opened(book, slot, handle);
        story(slot, handle, 2);
        log_hold_set_reason(log_hold_of_slot(hold, slot, handle, 0), 11009);
        connection_book_closed(book, slot, handle);
        pass();
    }
    EXPECT_EQ(written("of handle [1]"), 2u);
    EXPECT_EQ(written("of handle [2]"), 2u);
    EXPECT_EQ(written("of handle [3]") + written("of handle [4]") + written("of handle [5]"), 0u);
    // A line about a connection after its end goes the way of its story: written for one
    // whose story was written, counted with one that was counted.
    story(2, 2, 1);
    story(0, 5, 1);
    EXPECT_EQ(written("of handle [2]"), 3u);
    EXPECT_EQ(written("of handle [5]"), 0u);
    pf_tick_advance(999);
    pass();
    EXPECT_EQ(written("Left out"), 0u);
    pf_tick_advance(1);
    pass();
    EXPECT_EQ(texts().back(), "Left out [7] log lines and binary log records about [3] connections from IP "
                              "[10.1.2.3] that ended without signing on, reason code [11009].");
    // A quiet second ends the spell: the next connection's story is written again.
    pf_tick_advance(1000);
    pass();
    connection_book_opened(book, 0, 6);
    story(0, 6, 2);
    connection_book_closed(book, 0, 6);
    pass();
    EXPECT_EQ(written("of handle [6]"), 2u);
}

// A flood spread over many addresses, one connection each, is counted in one line a
// second; an address among them that ended several has a line of its own.
TEST_F(hold_fixture, ConnectionsFromManyAddressesAreCountedTogether)
{
    int32_t handle = 0;
    auto end_one = [&](uint32_t address)
    {
        ++handle;
        connection_book_opened(book, 0, handle);
        story(0, handle, 1, address);
        log_hold_set_reason(log_hold_of_slot(hold, 0, handle, address), 11009);
        connection_book_closed(book, 0, handle);
        pass();
    };
    end_one(0x0100000A); // the spell's two stories
    end_one(0x0100000A);
    for (uint32_t i = 0; i < 40; ++i)
        end_one(0x0000020A + (i << 16)); // 10.2.i.0
    for (int i = 0; i < 3; ++i)
        end_one(0x0300000A);
    pf_tick_advance(1000);
    pass();
    const std::vector<std::string> lines = texts();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(written("Left out"), 2u);
    EXPECT_EQ(written("from IP [10.0.0.3] that ended without signing on, reason code [11009]"), 1u);
    EXPECT_EQ(written("Left out [40] log lines and binary log records about [40] connections from other IP "
                      "addresses"),
              1u);
}

// A slot's new connection settles what is still held about the one before it.
TEST_F(hold_fixture, ANewConnectionInASlotSettlesTheEntryOfTheOneBefore)
{
    connection_book_opened(book, 2, 10);
    story(2, 10, 1);
    connection_book_signed_on(book, 2, 10);
    connection_book_closed(book, 2, 10);
    connection_book_opened(book, 2, 11);
    story(2, 11, 1);
    EXPECT_EQ(written("of handle [10]"), 1u);
    EXPECT_EQ(written("of handle [11]"), 0u);
}

// What does not fit what is held for one connection is counted and said with its story.
TEST_F(hold_fixture, AConnectionHoldsNoMoreThanItsShareAndItsStorySaysWhatWasLeftOut)
{
    connection_book_opened(book, 3, 9);
    const std::string filler(400, 'x');
    int lines = 0;
    for (; lines < 100; ++lines)
        EA_LOG_HELD(log_hold_of_slot(hold, 3, 9, 0), logger(), EA_LEVEL_EVENT, "%s", filler.c_str());
    const uint32_t left_out = log_hold_of_slot(hold, 3, 9, 0)->left_out;
    EXPECT_GT(left_out, 0u);
    connection_book_signed_on(book, 3, 9);
    pass();
    EXPECT_EQ(written(filler), static_cast<size_t>(lines) - left_out);
    EXPECT_EQ(written("Left out [" + std::to_string(left_out) +
                      "] log lines and binary log records about tws nw "
                      "handle [9] beyond what is held"),
              1u);
}

// The stop writes what waits: connections still undecided count as ended, and the counts
// go out at once instead of a second later.
TEST_F(hold_fixture, TheStopLeavesNothingUnsaid)
{
    for (int32_t handle = 1; handle <= 4; ++handle)
    {
        connection_book_opened(book, static_cast<uint16_t>(handle - 1), handle);
        story(static_cast<uint16_t>(handle - 1), handle, 1, ea_inet_addr("10.9.9.9"));
    }
    log_hold_stop(hold, "test_routine", logger());
    EXPECT_EQ(written("line [0] of handle ["), 2u);
    EXPECT_EQ(texts().back(), "Left out [2] log lines and binary log records about [2] connections from IP "
                              "[10.9.9.9] that ended without signing on, reason code [0].");
}

// Lines of a level the logger does not write are neither held nor counted.
TEST_F(hold_fixture, LinesTheLoggerDropsAreNotHeld)
{
    connection_book_opened(book, 0, 1);
    EA_LOG_HELD(log_hold_of_slot(hold, 0, 1, 0), logger(), EA_LEVEL_DEBUG, "debug line");
    connection_book_closed(book, 0, 1);
    pass();
    pf_tick_advance(1000);
    pass();
    EXPECT_TRUE(texts().empty());
}
