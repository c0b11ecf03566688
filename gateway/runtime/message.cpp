// The message record: creation, copy, and the trims and allocations that move its data
// pointer inside its own buffer. Every room test works on full values, so an operation
// without room refuses, also when the buffer is exactly full.
#include "gateway/runtime/message.h"

#include <cstdlib>
#include <cstring>

message *message_create(uint32_t length, uint16_t tag)
{
    if (length > MESSAGE_CAPACITY)
        return nullptr;
    message *msg = static_cast<message *>(calloc(1, sizeof(message)));
    if (msg == nullptr)
        return nullptr;
    msg->tag = tag;
    msg->event_value = -1;
    msg->buffer_base = msg->buffer;
    msg->data = msg->buffer;
    msg->capacity = MESSAGE_CAPACITY;
    msg->data_length = static_cast<uint16_t>(length);
    return msg;
}

message *message_copy(const message *msg)
{
    message *copy = static_cast<message *>(malloc(sizeof(message)));
    if (copy == nullptr)
        return nullptr;
    memcpy(copy, msg, sizeof(message));
    copy->buffer_base = copy->buffer;
    copy->data = copy->buffer + (msg->data - msg->buffer_base);
    return copy;
}

message *message_ltrim(message *msg, uint32_t n)
{
    if (n > msg->data_length)
        return nullptr;
    msg->data_length = static_cast<uint16_t>(msg->data_length - n);
    msg->data = msg->data_length == 0 ? msg->buffer_base : msg->data + n;
    return msg;
}

message *message_rtrim(message *msg, uint32_t n)
{
    if (n > msg->data_length)
        return nullptr;
    msg->data_length = static_cast<uint16_t>(msg->data_length - n);
    if (msg->data_length == 0)
        msg->data = msg->buffer_base;
    return msg;
}

message *message_use_head_room(message *msg, uint32_t n)
{
    if (n > message_head_room(msg))
        return nullptr;
    msg->data -= n;
    msg->data_length = static_cast<uint16_t>(msg->data_length + n);
    return msg;
}

// Room at the end, keeping one byte spare as the record always has.
static bool message_has_tail_room(const message *msg, uint32_t n)
{
    uint32_t used = message_head_room(msg) + msg->data_length;
    return used < msg->capacity && n <= msg->capacity - used - 1;
}

message *message_extend(message *msg, uint32_t n)
{
    if (!message_has_tail_room(msg, n))
        return nullptr;
    msg->data_length = static_cast<uint16_t>(msg->data_length + n);
    return msg;
}

message *message_lalloc(message *msg, uint32_t n)
{
    if (!message_has_tail_room(msg, n))
        return nullptr;
    memmove(msg->data + n, msg->data, msg->data_length);
    msg->data_length = static_cast<uint16_t>(msg->data_length + n);
    return msg;
}

message *message_shift_into_head_room(message *msg, uint32_t n)
{
    if (n > message_head_room(msg))
        return nullptr;
    memmove(msg->data - n, msg->data, msg->data_length);
    msg->data -= n;
    msg->data_length = static_cast<uint16_t>(msg->data_length + n);
    return msg;
}

void message_destroy(message *msg)
{
    free(msg);
}
