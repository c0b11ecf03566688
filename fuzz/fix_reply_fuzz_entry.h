// One input of the FIX-reply fuzzer: a record from the exchange host, as the user session
// thread hands a reply for a FIX client to the FIX front end, converted into the FIX
// message the client is sent. The first byte holds options, the rest is the record: with
// bit 0 set, the entry takes the reply kind the second byte names (modulo the table of
// replies that reach FIX clients) and shapes the record to it (its transcode in the header,
// cut or padded with zeros to the kind's exact length), so that inputs reach the
// conversions instead of the length check in front of them.
//
// What must hold whatever the record: the conversion ends with 0 or a logged discard, and
// a converted message, once the session has put its header on it, reaches the FIX client
// whole, as the fields it was given.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "DataDictionary.h"
#include "Message.h"
#include "gateway/fix_network_handle/fix_reply_conversion.h"
#include "gateway/library/ea_status.h"
#include "gateway/library/message.h"
#include "gateway/library/wire.h"

namespace fix_reply_fuzz
{
enum : uint32_t
{
    MAX_RECORD = 4096,
};

inline const FIX::DataDictionary *client_dictionary()
{
    static std::unique_ptr<FIX::DataDictionary> dictionary;
    if (!dictionary)
    {
        try
        {
            dictionary.reset(
                new FIX::DataDictionary(std::string(QEL_FIX_DICTIONARY_DIR) + "/FIX42_qel_client.xml"));
        }
        catch (FIX::Exception &)
        {
            return nullptr;
        }
    }
    return dictionary.get();
}

// Null when the client can read the message as the session would send it: whole (its
// length and checksum hold), of a type the client knows, with exactly the fields it was
// given (no value carries the field separator, which would cut it into other fields).
inline const char *check_converted(FIX::Message &converted)
{
    const FIX::DataDictionary *dictionary = client_dictionary();
    if (dictionary == nullptr)
        return "no client dictionary";
    FIX::Header &header = converted.getHeader();
    header.setField(FIX::BeginString("FIX.4.2"));
    header.setField(FIX::SenderCompID("QEL"));
    header.setField(FIX::TargetCompID("1001,MEMBR,1"));
    header.setField(FIX::MsgSeqNum(2));
    header.setField(FIX::SendingTime());
    const std::string sent = converted.toString();
    static std::string why;
    try
    {
        FIX::Message received(sent, *dictionary, true);
        if (!dictionary->isMsgType(received.getHeader().getField(FIX::FIELD::MsgType)))
            why = "the client does not know the message type";
        else if (received.toString() != sent)
            why = "the client reads other fields than were sent";
        else
            return nullptr;
    }
    catch (FIX::Exception &e)
    {
        why = std::string("the client cannot read a converted reply (") + e.what() + " " + e.detail + ")";
    }
    why += ": " + sent;
    for (char &c : why)
        if (c == '\x01')
            c = '|';
    return why.c_str();
}

inline const char *one(const uint8_t *data, size_t size)
{
    if (size == 0)
        return nullptr;
    const uint8_t options = data[0];
    std::vector<uint8_t> bytes(data + 1, data + size);
    if (bytes.size() > MAX_RECORD)
        bytes.resize(MAX_RECORD);
    if ((options & 1) != 0 && !bytes.empty())
    {
        size_t count = 0;
        const fix_reply_kind *kinds = fixReplyKinds(&count);
        const fix_reply_kind &kind = kinds[bytes[0] % count];
        bytes.resize(kind.length, 0);
        put_u16_be(bytes.data(), FIX_REPLY_HEADER_TRANSCODE, static_cast<uint16_t>(kind.transcode));
    }
    message *record = message_create(static_cast<uint32_t>(bytes.size()), NORMAL_MESSAGE);
    if (record == nullptr)
        return "no record";
    if (!bytes.empty())
        memcpy(record->data, bytes.data(), bytes.size());
    record->user_type = 1;
    record->workstation_index = 4;
    record->workstation_network_handle = 1;
    const int16_t transcode = bytes.size() >= 12 ? get_i16_be(record->data, FIX_REPLY_HEADER_TRANSCODE) : 0;
    const int16_t error_code = bytes.size() >= 14 ? get_i16_be(record->data, FIX_REPLY_HEADER_ERROR_CODE) : 0;
    record->transcode = transcode;

    FIX::Message *converted = nullptr;
    const char *failure = nullptr;
    int32_t status = fixReplyGetFixMessage(record, transcode, error_code, &converted, nullptr);
    if (status != EA_SUCCESS && status != EA_VALID)
        failure = "the reply conversion failed";
    else if (status == EA_VALID && converted != nullptr)
        failure = "a discarded reply came with a message";
    else if (converted != nullptr)
        failure = check_converted(*converted);
    delete converted;
    message_destroy(record);
    return failure;
}
} // namespace fix_reply_fuzz
