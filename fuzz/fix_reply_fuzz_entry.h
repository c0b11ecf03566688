// One reply record from the exchange, as the FIX send thread gets it for a FIX client,
// converted into its FIX message. The fuzzer and the corpus replay in the test run both
// call this. The input is a control byte and the record; with FUZZ_FIX_LENGTHS the record
// is cut or padded with zeros to the exact length its transcode calls for, so that the
// fuzzer reaches the conversions behind the length check. Whatever the record: it is
// dropped or becomes a message that, once the session has put its header on it, a
// client's session reads back field for field, every field known and well formed under
// the clients' dictionary. (A field the record gives no value for is left out, so a
// required field may be missing from a record that has none: that alone is not a fault.)
// Includes the engine's headers: C++14 only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "DataDictionary.h"
#include "Message.h"
#include "common/ea_status.h"
#include "gateway/fix_network_handle/fix_dialect.h"
#include "gateway/fix_network_handle/fix_reply_conversion.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/wire.h"

enum : uint8_t
{
    FIX_REPLY_FUZZ_FIT_LENGTH = 0x80,
};

enum : size_t
{
    FIX_REPLY_FUZZ_MAX_RECORD = 2048,
};

// The converted message as the client receives it; aborts (after saying why) when the
// client would refuse it.
inline void fix_reply_fuzz_check_message(FIX::Message &converted)
{
    static FIX::DataDictionary clients(std::string(QEL_FIX_DICTIONARY_DIR) + "/" +
                                       FIX42::CLIENT_DICTIONARY_FILE);
    FIX::Header &header = converted.getHeader();
    header.setField(FIX::BeginString("FIX.4.2"));
    header.setField(FIX::SenderCompID("QEL"));
    header.setField(FIX::TargetCompID("12,AB,0"));
    header.setField(FIX::MsgSeqNum(2));
    header.setField(FIX::SendingTime(FIX::UtcTimeStamp()));
    const std::string text = converted.toString();
    try
    {
        FIX::Message received;
        received.setString(text, true, &clients, &clients);
        FIX::DataDictionary::validate(received, &clients, &clients);
        if (received.totalFields() != converted.totalFields() ||
            received.getHeader().totalFields() != header.totalFields())
            throw std::runtime_error("the fields read back differ from the fields sent");
    }
    catch (FIX::RequiredTagMissing &)
    {
        // Checked last, after every field present passed.
    }
    catch (std::exception &e)
    {
        fprintf(stderr, "client refuses [%s]: %s\n", text.c_str(), e.what());
        abort();
    }
}

inline int32_t fix_reply_fuzz_one(const uint8_t *data, size_t size)
{
    if (size == 0)
        return EA_VALID;
    const uint8_t control = data[0];
    std::vector<uint8_t> record(data + 1, data + size);
    if (record.size() > FIX_REPLY_FUZZ_MAX_RECORD)
        record.resize(FIX_REPLY_FUZZ_MAX_RECORD);
    int16_t transcode = 0;
    int16_t errorCode = 0;
    if (record.size() >= FIX_REPLY_HEADER_ERROR_CODE + 2)
    {
        transcode = get_i16_be(record.data(), FIX_REPLY_HEADER_TRANSCODE);
        errorCode = get_i16_be(record.data(), FIX_REPLY_HEADER_ERROR_CODE);
    }
    const fix_reply_kind *kind = fixReplyFindKind(transcode);
    if ((control & FIX_REPLY_FUZZ_FIT_LENGTH) != 0 && kind != nullptr)
        record.resize(kind->length, 0);

    message *msg = message_create(static_cast<uint32_t>(record.size()), NORMAL_MESSAGE);
    if (msg == nullptr)
        abort();
    if (!record.empty())
        memcpy(msg->data, record.data(), record.size());
    msg->workstation_index = 4;
    msg->workstation_network_handle = 1;
    FIX::Message *out = nullptr;
    int32_t status = fixReplyGetFixMessage(msg, transcode, errorCode, &out, nullptr);
    std::unique_ptr<FIX::Message> converted(out);
    if (status == EA_SUCCESS && converted != nullptr)
        fix_reply_fuzz_check_message(*converted);
    else if (status != EA_VALID || converted != nullptr)
        abort();
    if (!record.empty() && memcmp(msg->data, record.data(), record.size()) != 0)
        abort(); // the record is not the conversion's to change
    message_destroy(msg);
    return status;
}
