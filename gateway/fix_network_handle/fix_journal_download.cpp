// The client's TradingSessionStatusRequest (35=g), its system information and journal
// download request: one journal download request (transcode 7000) per exchange stream,
// starting one second before the time the client last saw on that stream but never
// before the floor the exchange gave at sign-on. All requests are built before any is
// sent, so a bad entry sends none.
#include <cstdio>
#include <cstring>
#include <memory>

#include "Session.h"
#include "gateway/fix_network_handle/fix_nw_info_class.h"
#include "gateway/fix_network_handle/fix_request_records.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/runtime/wire.h"

namespace
{
enum : uint32_t
{
    JOURNAL_REQUEST_LENGTH = 48,
    JOURNAL_REQUEST_HEADER = 40,
    JOURNAL_REQUEST_STREAM = 8,
    JOURNAL_REQUEST_START_TIME = 40,
    JOURNAL_ONE_SECOND = 65536,
};

enum : uint16_t
{
    TRANSCODE_JOURNAL_REQUEST = 7000,
};
} // namespace

void FixNwInfoClass::fixNwInfoEmptyJournalQueue()
{
    while (queue_get_count(jd_output_request_queue.get()) > 0)
    {
        message *request = static_cast<message *>(queue_remove_head(jd_output_request_queue.get()));
        EA_FREE_CHECKED(request, message_destroy, "journal_request");
    }
}

// The client's time for one stream, as the slot's requested journal time. Throws
// LogException when the entry's time does not convert, FIX::FieldNotFound when it is missing.
void FixNwInfoClass::fixNwInfoReadStreamTime(const FIX42::TradingSessionStatusRequest &request,
                                             uint32_t stream, FixSessionSlot *slot)
{
    FIX::Group entry(FIX_TAG_NO_ON_BEHALF_OF_LOCATION_ID, FIX_TAG_LAST_HOST_MESSAGE_TIME);
    request.getGroup(stream, entry);
    FIX::UtcTimeStampField time(FIX_TAG_LAST_HOST_MESSAGE_TIME);
    std::string text;
    try
    {
        entry.getField(time);
        text = FIX::UtcTimeStampConvertor::convert(time.getValue(), 0);
    }
    catch (FIX::FieldConvertError &e)
    {
        EA_LOG(m_logger, EA_LEVEL_EVENT, "UtcTimeStampConvertor throw exception[%s]", e.what());
        throw LogException("LastHostMessageTime not set or Invalid");
    }
    catch (FIX::IncorrectDataFormat &e)
    {
        EA_LOG(m_logger, EA_LEVEL_EVENT, "UtcTimeStampConvertor throw exception[%s]", e.what());
        throw LogException("LastHostMessageTime not set or Invalid");
    }
    slot->requested_journal_time = fix_time_to_exchange_time_shifted(text.c_str());
}

// One stream's journal download request, appended to the journal-request queue: starting
// a second before the client's time, never before the floor. False when the gateway must
// stop (logged).
bool FixNwInfoClass::fixNwInfoQueueJournalRequest(uint16_t slotIndex, uint32_t stream)
{
    FixSessionInfoContainer *c = m_sessionContainer.get();
    FixSessionSlot *slot = &c->slots[slotIndex];
    message *journal = message_create(JOURNAL_REQUEST_LENGTH, NORMAL_MESSAGE);
    if (journal == nullptr)
    {
        EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "Journal request message creation failed.");
        return false;
    }
    uint8_t *record = journal->data;
    memset(record + JOURNAL_REQUEST_START_TIME, ' ', JOURNAL_REQUEST_LENGTH - JOURNAL_REQUEST_START_TIME);
    memset(record, 0, JOURNAL_REQUEST_HEADER);
    char streamText[3] = {0};
    snprintf(streamText, sizeof(streamText), "%u", static_cast<unsigned>(stream % 100));
    set_tws_message_header(record, slot->user_id, TRANSCODE_JOURNAL_REQUEST, JOURNAL_REQUEST_LENGTH, nullptr);
    // A one-digit stream number is followed by a NUL byte.
    memcpy(record + JOURNAL_REQUEST_STREAM, streamText, 2);
    slot->requested_journal_time -= JOURNAL_ONE_SECOND;
    const int64_t start = slot->requested_journal_time > slot->journal_floor_time
                              ? slot->requested_journal_time
                              : slot->journal_floor_time;
    put_u64_be(record, JOURNAL_REQUEST_START_TIME, static_cast<uint64_t>(start));
    journal->user_id = slot->user_id;
    journal->user_type = 1;
    journal->workstation_index = static_cast<uint16_t>(slotIndex + c->index_base);
    journal->workstation_network_handle = slot->fix_nw_handle;
    journal->transcode = static_cast<int16_t>(TRANSCODE_JOURNAL_REQUEST);
    if (queue_append(jd_output_request_queue.get(), journal) != EA_SUCCESS)
    {
        EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "queue append failed.");
        message_destroy(journal);
        return false;
    }
    EA_LOG(
        m_logger, EA_LEVEL_ACTIVITY,
        "Generated Journal download request for stream id [%d] user [%ld] having fix index[%u]fix_nw_handle [%d] link index [%u]to User Session Module",
        static_cast<int>(stream), static_cast<long>(static_cast<int32_t>(slot->user_id)),
        static_cast<unsigned>(slotIndex), slot->fix_nw_handle, static_cast<unsigned>(slot->link_index));
    return true;
}

// Every built request, in stream order, to the user session thread. False when the
// gateway must stop (logged).
bool FixNwInfoClass::fixNwInfoSendJournalRequests(uint16_t slotIndex)
{
    FixSessionInfoContainer *c = m_sessionContainer.get();
    const FixSessionSlot *slot = &c->slots[slotIndex];
    int position = 0;
    while (queue_get_count(jd_output_request_queue.get()) > 0)
    {
        message *journal = static_cast<message *>(queue_remove_head(jd_output_request_queue.get()));
        c->fixSessionInfoContainerStampMessage(m_logger, journal, EA_BINARY_KIND_FIX, EA_REQUEST_LOG, 0, 0,
                                               0);
        EA_LOG(
            m_logger, EA_LEVEL_EVENT,
            "Sending Journal download request for stream id [%d] user [%ld] having fix index[%u]fix_nw_handle [%d] link index [%u]to User Session Module",
            ++position, static_cast<long>(static_cast<int32_t>(slot->user_id)),
            static_cast<unsigned>(slotIndex), slot->fix_nw_handle, static_cast<unsigned>(slot->link_index));
        if (shared_queue_insert_single_element(m_requestQueue, journal) != EA_SUCCESS)
        {
            EA_LOG(m_logger, EA_LEVEL_SYSTEM_ERROR, "shared_queue_insert failed");
            message_destroy(journal);
            return false;
        }
    }
    return true;
}

// The download of a slot in state 0: one request per stream, all built before any is sent.
void FixNwInfoClass::fixNwInfoStartJournalDownload(const FIX42::TradingSessionStatusRequest &request,
                                                   const FIX::SessionID &sessionId, uint16_t slotIndex)
{
    FixSessionSlot *slot = &m_sessionContainer->slots[slotIndex];
    FIX::IntField count(FIX_TAG_NO_ON_BEHALF_OF_LOCATION_ID);
    request.getField(count);
    if (count.getValue() < 0 || static_cast<uint32_t>(count.getValue()) != slot->stream_count)
    {
        EA_LOG(
            m_logger, EA_LEVEL_EVENT,
            "noOnBehalfOfLocationID [%d] doesn't match with the stream count [%d] for the Session id [%s] ",
            count.getValue(), static_cast<int>(slot->stream_count), sessionId.toString().c_str());
        throw LogException("NoOnBehalfOfLocationID is Invalid");
    }
    for (uint32_t stream = 1; stream <= slot->stream_count; ++stream)
    {
        fixNwInfoReadStreamTime(request, stream, slot);
        if (!fixNwInfoQueueJournalRequest(slotIndex, stream))
        {
            fixNwInfoEmptyJournalQueue();
            setShutdown();
            return;
        }
    }
    if (!fixNwInfoSendJournalRequests(slotIndex))
    {
        fixNwInfoEmptyJournalQueue();
        setShutdown();
        return;
    }
    if (slot->stream_count > 0)
    {
        slot->state = FIX_SLOT_JOURNAL_DOWNLOAD;
        return;
    }
    // No stream to download: no trailer will ever come, so the download is complete now.
    slot->state = FIX_SLOT_READY;
    fixNwInfoQueueSend(FixDeferredSend::STATUS, fixNwInfoBuildTradingSessionStatus(slot, 0), sessionId,
                       slot->fix_nw_handle, std::string());
}

void FixNwInfoClass::onMessage(const FIX42::TradingSessionStatusRequest &request,
                               const FIX::SessionID &sessionId)
{
    FIX::MsgSeqNum msgSeqNum;
    FIX::MsgType msgType;
    try
    {
        request.getHeader().getField(msgSeqNum);
        request.getHeader().getField(msgType);
        if (m_currentSessionIndex == FIX_NO_SESSION_INDEX)
        {
            EA_LOG(
                m_logger, EA_LEVEL_EVENT,
                "Session id [%s] not found in the fix_client_list.Hence not processing TradingSessionStatusRequest",
                sessionId.toString().c_str());
            fixNwInfoLogoutTheUser(sessionId, FIX::Text("Session Not Found"));
            return;
        }
        if (m_sessionContainer->slots[m_currentSessionIndex].state == FIX_SLOT_READY)
        {
            fixNwInfoSendBusinessReject(sessionId, msgType, msgSeqNum,
                                        FIX::Text("The user is already signed on."),
                                        FIX::BusinessRejectReason(0));
            return;
        }
        fixNwInfoStartJournalDownload(request, sessionId, m_currentSessionIndex);
    }
    catch (FIX::FieldNotFound &e)
    {
        fixNwInfoEmptyJournalQueue();
        fixNwInfoSendBusinessReject(sessionId, msgType, msgSeqNum, FIX::Text(fixFieldNotFoundText(e)),
                                    FIX::BusinessRejectReason(5));
    }
    catch (LogException &e)
    {
        fixNwInfoEmptyJournalQueue();
        fixNwInfoSendBusinessReject(sessionId, msgType, msgSeqNum, FIX::Text(e.what()),
                                    FIX::BusinessRejectReason(0));
    }
    catch (FIX::Exception &e)
    {
        fixNwInfoEmptyJournalQueue();
        EA_LOG(m_logger, EA_LEVEL_BUSINESS_ERROR, "Found exception for session [%s], exception message [%s]",
               sessionId.toString().c_str(), e.what());
    }
}
