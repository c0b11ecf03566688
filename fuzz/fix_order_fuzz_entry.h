// One FIX request text from a client, taken as the acceptor takes it (parsed and
// validated with the gateway's acceptor dictionary) and, when it passes, converted by
// the order request handlers' checks into the exchange's order record. The fuzzer and the
// corpus replay in the test run both call this.
//
// The input is the message type character (D, F or G) followed by the body's fields;
// '|' stands for SOH so that kept inputs read as text. The entry adds the header and the
// trailer a logged-on client's session would carry. Whatever the fields: the request is
// either refused with a reason a client can be told (a missing field or a failed check,
// with a text), refused silently, or becomes a record of the request's transcode whose
// quantities and prices are within the exchange's fields.
// Includes the engine's headers: C++14 only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "DataDictionary.h"
#include "Message.h"
#include "gateway/fix_network_handle/fix_dialect.h"
#include "gateway/fix_network_handle/fix_order_requests.h"
#include "gateway/fix_network_handle/fix_session_info_container.h"
#include "gateway/runtime/ea_flag.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/wire.h"

struct fix_order_fuzz_gateway
{
    ea_flag flags[5][2] = {};
    FixSessionInfoContainer container;
    FIX::DataDictionary dictionary;

    fix_order_fuzz_gateway()
        : container(1, 2, flags[0], flags[1], flags[2], flags[3], flags[4], nullptr),
          dictionary(std::string(QEL_FIX_DICTIONARY_DIR) + "/" + FIX42::ACCEPTOR_DICTIONARY_FILE)
    {
        FixSessionSlot &slot = container.slots[0];
        slot.fix_nw_handle = 1;
        slot.link_index = 0;
        slot.user_id = 35001;
        slot.branch_id = 1;
        memcpy(slot.member_id, "AB   ", FIX_MEMBER_ID_LENGTH);
        slot.state = FIX_SLOT_READY;
    }
};

// The whole message text as a client's session sends it, or empty for no message type.
inline std::string fix_order_fuzz_text(const uint8_t *data, size_t size)
{
    if (size == 0)
        return std::string();
    std::string body = "35=" + std::string(1, static_cast<char>(data[0])) +
                       "\x01"
                       "49=12,AB,0\x01"
                       "56=QEL\x01"
                       "34=2\x01"
                       "52=20261209-04:15:30\x01";
    for (size_t i = 1; i < size; ++i)
        body += data[i] == '|' ? '\x01' : static_cast<char>(data[i]);
    std::string text = "8=FIX.4.2\x01"
                       "9=" +
                       std::to_string(body.size()) + "\x01" + body;
    unsigned sum = 0;
    for (char c : text)
        sum += static_cast<unsigned char>(c);
    char trailer[16];
    snprintf(trailer, sizeof trailer, "10=%03u\x01", sum % 256);
    return text + trailer;
}

inline void fix_order_fuzz_check_record(const message *order, uint16_t transcode)
{
    using namespace vrx_order_layout;
    const uint8_t *r = order->data;
    if (order->data_length != RECORD_LENGTH || get_u16_be(r, TRANSCODE) != transcode ||
        get_u16_be(r, LENGTH) != RECORD_LENGTH)
        abort();
    for (uint32_t offset : {VOLUME, REMAINING_VOLUME, FILLED_VOLUME, DISCLOSED_VOLUME, PRICE, TRIGGER_PRICE})
    {
        int32_t value = get_i32_be(r, offset);
        if (value < 0 || value >= 999999999)
            abort();
    }
}

inline void fix_order_fuzz_one(const uint8_t *data, size_t size)
{
    static fix_order_fuzz_gateway gateway;
    const std::string text = fix_order_fuzz_text(data, size);
    if (text.empty())
        return;
    FixOrderRequestKind kind;
    uint16_t transcode;
    switch (data[0])
    {
    case 'D':
        kind = FIX_ORDER_REQUEST_NEW;
        transcode = vrx_order_layout::TRANSCODE_NEW_ORDER;
        break;
    case 'F':
        kind = FIX_ORDER_REQUEST_CANCEL;
        transcode = vrx_order_layout::TRANSCODE_CANCEL_ORDER;
        break;
    case 'G':
        kind = FIX_ORDER_REQUEST_MODIFY;
        transcode = vrx_order_layout::TRANSCODE_MODIFY_ORDER;
        break;
    default:
        return;
    }
    FIX::Message request;
    try
    {
        request.setString(text, true, &gateway.dictionary, &gateway.dictionary);
        FIX::DataDictionary::validate(request, &gateway.dictionary, &gateway.dictionary);
    }
    catch (std::exception &)
    {
        return; // the session refuses it before the application sees it
    }
    message *order = message_create(vrx_order_layout::RECORD_LENGTH, NORMAL_MESSAGE);
    if (order == nullptr)
        abort();
    int reason = -2;
    std::string rejectText;
    if (fixOrderRequestBuild(kind, &gateway.container, 0, "14:30:00", request, order, &reason, &rejectText,
                             nullptr))
        fix_order_fuzz_check_record(order, transcode);
    else if (reason != -1 && ((reason != 0 && reason != 5) || rejectText.empty()))
        abort();
    message_destroy(order);
}
