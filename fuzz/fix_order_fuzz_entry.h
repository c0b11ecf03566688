// One input of the FIX-order fuzzer: FIX text from a client, as the gateway's acceptor
// takes it (parsed and validated against the dialect's acceptor dictionary), into the
// order-request conversion of a session that is ready to trade. The input is the message
// from its MsgType on ("35=D|48=...|", "|" standing for the field separator); the entry
// puts the session's header around it. Only the three order requests go on: NewOrderSingle,
// OrderCancelRequest and OrderCancelReplaceRequest.
//
// What must hold whatever the text: the conversion neither crashes nor throws past the
// application, and a request either becomes one exchange order record of 240 bytes with
// the request's transcode, marked as the session's, or none at all.
//
// The application is made once per process, with an acceptor on a port the system
// chooses and no configured session, so that its answers (rejects) find no session to
// be stored in and the fuzzer writes nothing to disk.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "DataDictionary.h"
#include "Message.h"
#include "SessionID.h"
#include "gateway/fix_network_handle/fix_nw_info.h"
#include "gateway/fix_network_handle/fix_nw_info_class.h"
#include "gateway/fix_network_handle/fix_order_requests.h"
#include "gateway/library/message.h"
#include "gateway/library/queue.h"
#include "gateway/library/shared_queue.h"
#include "gateway/library/wire.h"

namespace fix_order_fuzz
{
enum
{
    LINKS = 4,
    CLIENT_INDEXES = 64,
    WORKSTATIONS = 4,
};

struct fix_side
{
    std::string folder;
    shared_queue *queues[3] = {}; // to the user session thread, box communication, the interface
    ea_flag shutdown{0};
    ea_flag day{0};
    ea_flag hold{0};
    ea_flag allow_invitations[LINKS] = {{1}, {1}, {1}, {1}};
    ea_flag recovery_overflow[LINKS] = {};
    ea_flag session_recovery[LINKS] = {};
    ea_flag logoff_in_progress[CLIENT_INDEXES] = {};
    std::unique_ptr<FIX::DataDictionary> dictionary;
    FixNwInfoClass *app = nullptr;
    FIX::SessionID session{"FIX.4.2", "QEL", "1001,MEMBR,1"};
    uint16_t slot_index = 0;
    int32_t handle = 0;

    fix_side()
    {
        const char *base = getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/qel_fix_order_fuzz_XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr)
            return;
        folder = pattern;
        const std::string dictionary_file = std::string(QEL_FIX_DICTIONARY_DIR) + "/FIX42_qel_acceptor.xml";
        std::ofstream(folder + "/fix_settings.cfg")
            << "[DEFAULT]\nConnectionType=acceptor\nSocketAcceptPort=0\nNicIpAddress=127.0.0.1\n"
               "FileStorePath="
            << folder << "/store\nFileLogPath=" << folder
            << "/log\nStartTime=00:00:00\nEndTime=00:00:00\nUseDataDictionary=Y\nDataDictionary="
            << dictionary_file << "\n";
        std::ofstream(folder + "/qel_ip.cfg") << "CONTRACT_EXPIRY_OFFSET=15:30:00\nFIX_LOGGING=N\n";
        for (shared_queue *&q : queues)
            q = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
        try
        {
            dictionary.reset(new FIX::DataDictionary(dictionary_file));
        }
        catch (FIX::Exception &)
        {
            return;
        }
        app =
            fix_nw_info_create(1, (folder + "/fix_settings.cfg").c_str(), (folder + "/qel_ip.cfg").c_str(),
                               queues[0], queues[1], queues[2], WORKSTATIONS, &shutdown, allow_invitations,
                               recovery_overflow, &hold, session_recovery, logoff_in_progress, &day, nullptr);
        if (app == nullptr || app->sessionContainer()->fixSessionInfoContainerAddSession(
                                  new FIX::SessionID(session), &handle, &slot_index, nullptr) != EA_SUCCESS)
            app = nullptr;
    }

    // The slot as the logon road leaves it for a client that may trade.
    void make_ready()
    {
        FixSessionInfoContainer *c = app->sessionContainer();
        FixSessionSlot *slot = &c->slots[slot_index];
        slot->state = FIX_SLOT_READY;
        slot->pending = 0;
        slot->discard = 0;
        slot->message_count = 0;
        slot->user_id = 1001;
        slot->branch_id = 1;
        memcpy(slot->member_id, "MEMBR", FIX_MEMBER_ID_LENGTH);
        slot->link_index = 0;
        c->allowance_exhausted = 0;
    }

    // Empties the queues; the records that went to the user session thread are checked.
    const char *drain(uint16_t transcode)
    {
        const char *failure = nullptr;
        queue *local = queue_create();
        shared_queue_get_elements_no_wait(queues[0], local);
        if (queue_get_count(local) > 1)
            failure = "one request gave more than one order record";
        while (message *record = static_cast<message *>(queue_remove_head(local)))
        {
            if (failure == nullptr &&
                (record->data_length != vrx_order_layout::RECORD_LENGTH ||
                 get_u16_be(record->data, vrx_order_layout::TRANSCODE) != transcode ||
                 get_u16_be(record->data, vrx_order_layout::LENGTH) != vrx_order_layout::RECORD_LENGTH ||
                 record->workstation_network_handle != handle || record->user_type != 1))
                failure = "an order record is not the request's whole record for its session";
            message_destroy(record);
        }
        shared_queue_get_elements_no_wait(queues[1], local);
        shared_queue_get_elements_no_wait(queues[2], local);
        ea_destroy_message_queue(local);
        return failure;
    }
};

inline fix_side &side()
{
    static fix_side s;
    return s;
}

inline const char *one(const uint8_t *data, size_t size)
{
    fix_side &s = side();
    if (s.app == nullptr)
        return "no FIX application";
    std::string text =
        "8=FIX.4.2|9=0|" + std::string(reinterpret_cast<const char *>(data), size) + "|10=000|";
    for (char &c : text)
        if (c == '|')
            c = '\x01';
    std::unique_ptr<FIX::Message> request;
    uint16_t transcode = 0;
    try
    {
        request.reset(new FIX::Message(text, *s.dictionary, false));
        FIX::Header &header = request->getHeader();
        const std::string type = header.getField(FIX::FIELD::MsgType);
        if (type == "D")
            transcode = vrx_order_layout::TRANSCODE_NEW_ORDER;
        else if (type == "F")
            transcode = vrx_order_layout::TRANSCODE_CANCEL_ORDER;
        else if (type == "G")
            transcode = vrx_order_layout::TRANSCODE_MODIFY_ORDER;
        else
            return nullptr;
        header.setField(FIX::SenderCompID(s.session.getTargetCompID().getValue()));
        header.setField(FIX::TargetCompID(s.session.getSenderCompID().getValue()));
        header.setField(FIX::MsgSeqNum(2));
        header.setField(FIX::SendingTime());
        FIX::DataDictionary::validate(*request, s.dictionary.get(), s.dictionary.get());
    }
    catch (FIX::Exception &)
    {
        return nullptr; // the engine refuses it before the application sees it
    }
    s.make_ready();
    try
    {
        s.app->fromApp(*request, s.session);
    }
    catch (FIX::Exception &)
    {
        // The engine answers these itself (a reject), as it does for any application.
    }
    return s.drain(transcode);
}
} // namespace fix_order_fuzz
