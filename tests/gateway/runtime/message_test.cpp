// The message record's trims and allocations keep its data inside its own buffer.
#include "gateway/runtime/message.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace
{
struct message_deleter
{
    void operator()(message *msg) const { message_destroy(msg); }
};
using message_ptr = std::unique_ptr<message, message_deleter>;
} // namespace

TEST(Message, CreateAcceptsUpToCapacity)
{
    message_ptr full(message_create(2048, NORMAL_MESSAGE));
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(full->data_length, 2048);
    EXPECT_EQ(full->event_value, -1);
    EXPECT_EQ(full->data, full->buffer);
    EXPECT_EQ(message_create(2049, NORMAL_MESSAGE), nullptr);
}

TEST(Message, LeftTrimToEmptyReturnsPointerToBase)
{
    message_ptr msg(message_create(100, NORMAL_MESSAGE));
    ASSERT_NE(message_ltrim(msg.get(), 30), nullptr);
    EXPECT_EQ(msg->data, msg->buffer + 30);
    EXPECT_EQ(message_ltrim(msg.get(), 71), nullptr);
    EXPECT_EQ(msg->data_length, 70);
    ASSERT_NE(message_ltrim(msg.get(), 70), nullptr);
    EXPECT_EQ(msg->data_length, 0);
    EXPECT_EQ(msg->data, msg->buffer_base);
}

TEST(Message, HeadRoomGivesBackTheTrimmedView)
{
    message_ptr msg(message_create(64, NORMAL_MESSAGE));
    for (int i = 0; i < 64; ++i)
        msg->data[i] = static_cast<uint8_t>(i);
    ASSERT_NE(message_ltrim(msg.get(), 22), nullptr);
    EXPECT_EQ(message_head_room(msg.get()), 22u);
    EXPECT_EQ(message_use_head_room(msg.get(), 23), nullptr);
    ASSERT_NE(message_use_head_room(msg.get(), 22), nullptr);
    EXPECT_EQ(msg->data, msg->buffer);
    EXPECT_EQ(msg->data_length, 64);
    EXPECT_EQ(msg->data[0], 0);
    EXPECT_EQ(msg->data[63], 63);
}

TEST(Message, LallocRefusesWhenBufferIsFullOrOneShort)
{
    message_ptr exact(message_create(2048, NORMAL_MESSAGE));
    EXPECT_EQ(message_lalloc(exact.get(), 1), nullptr);
    message_ptr one_short(message_create(2047, NORMAL_MESSAGE));
    EXPECT_EQ(message_lalloc(one_short.get(), 1), nullptr);
    EXPECT_EQ(message_extend(one_short.get(), 1), nullptr);
    message_ptr room(message_create(2046, NORMAL_MESSAGE));
    EXPECT_NE(message_lalloc(room.get(), 1), nullptr);
}

TEST(Message, LallocMovesLiveBytesUpAndKeepsThePointer)
{
    message_ptr msg(message_create(4, NORMAL_MESSAGE));
    memcpy(msg->data, "abcd", 4);
    uint8_t *before = msg->data;
    ASSERT_NE(message_lalloc(msg.get(), 22), nullptr);
    EXPECT_EQ(msg->data, before);
    EXPECT_EQ(msg->data_length, 26);
    EXPECT_EQ(memcmp(msg->data + 22, "abcd", 4), 0);
}

TEST(Message, ShiftIntoHeadRoomFreesBytesAtTheEnd)
{
    message_ptr msg(message_create(10, NORMAL_MESSAGE));
    memcpy(msg->data, "0123456789", 10);
    ASSERT_NE(message_ltrim(msg.get(), 4), nullptr);
    EXPECT_EQ(message_shift_into_head_room(msg.get(), 5), nullptr);
    ASSERT_NE(message_shift_into_head_room(msg.get(), 4), nullptr);
    EXPECT_EQ(msg->data, msg->buffer);
    EXPECT_EQ(msg->data_length, 10);
    EXPECT_EQ(memcmp(msg->data, "456789", 6), 0);
}

TEST(Message, CopyRebasesPointersOntoItsOwnBuffer)
{
    message_ptr msg(message_create(100, KOVA_MESSAGE));
    msg->user_id = 42;
    msg->data[30] = 0x5A;
    ASSERT_NE(message_ltrim(msg.get(), 22), nullptr);
    message_ptr copy(message_copy(msg.get()));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->buffer_base, copy->buffer);
    EXPECT_EQ(copy->data, copy->buffer + 22);
    EXPECT_EQ(copy->data_length, 78);
    EXPECT_EQ(copy->tag, KOVA_MESSAGE);
    EXPECT_EQ(copy->user_id, 42u);
    EXPECT_EQ(copy->data[8], 0x5A);
}

TEST(Message, RightTrimShortensFromTheEnd)
{
    message_ptr msg(message_create(10, NORMAL_MESSAGE));
    EXPECT_EQ(message_rtrim(msg.get(), 11), nullptr);
    ASSERT_NE(message_rtrim(msg.get(), 4), nullptr);
    EXPECT_EQ(msg->data_length, 6);
    ASSERT_NE(message_ltrim(msg.get(), 2), nullptr);
    ASSERT_NE(message_rtrim(msg.get(), 4), nullptr);
    EXPECT_EQ(msg->data, msg->buffer_base);
}
