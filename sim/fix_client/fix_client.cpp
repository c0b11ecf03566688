// The simulated FIX client: an initiator of the engine with an application that marks
// its own Logon, reads the gateway's Logon answer and keeps what arrives.
#include "sim/fix_client/fix_client.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <sstream>

#include "Application.h"
#include "FileLog.h"
#include "FileStore.h"
#include "Message.h"
#include "Session.h"
#include "SessionSettings.h"
#include "SocketInitiator.h"

namespace qel_sim
{

namespace
{

// Members of the legs of U1 and U2 in the order the dialect writes them.
const int SPREAD_LEG_ORDER[] = {600, 602, 607, 609, 611, 612, 613, 6009, 624, 685, 566, 564, 565, 0};
const int SPREAD_REPLACE_LEG_ORDER[] = {600, 602, 607, 609,  611, 612, 613, 6009,
                                        624, 685, 566, 6011, 564, 565, 0};

const char *const FIRST_EXCHANGE_SECOND = "19800101-00:00:00";
// Streams are numbered with at most two digits.
const long MAX_STREAM_COUNT = 99;

int rank(fix_client_state state)
{
    return static_cast<int>(state);
}

std::string readable(std::string text)
{
    for (char &c : text)
        if (c == '\x01')
            c = '|';
    return text;
}

std::string default_dictionary()
{
#ifdef QEL_FIX_DICTIONARY_DIR
    return std::string(QEL_FIX_DICTIONARY_DIR) + "/FIX42_qel_client.xml";
#else
    return "FIX42_qel_client.xml";
#endif
}

} // namespace

class fix_client_application : public FIX::Application
{
  public:
    explicit fix_client_application(const fix_client_options &options) : m_options(options) {}

    void onCreate(const FIX::SessionID &) override {}
    // The engine counts the session logged on only after fromAdmin has seen the Logon;
    // requests sent before would be kept back, so the state moves here.
    void onLogon(const FIX::SessionID &) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stream_count >= 0 && m_state == fix_client_state::connecting)
            m_state = fix_client_state::logged_on;
        m_changed.notify_all();
    }
    void onLogout(const FIX::SessionID &) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state != fix_client_state::stopped)
            m_state = fix_client_state::logged_out;
        m_changed.notify_all();
    }

    // The engine lets a Logon leave only with the release mark, and removes the mark.
    void toAdmin(FIX::Message &message, const FIX::SessionID &) override
    {
        const std::string type = message.getHeader().getField(FIX::FIELD::MsgType);
        if (type == FIX::MsgType_Reject)
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_refused.push_back(readable(message.toString()));
            m_changed.notify_all();
            return;
        }
        if (type != FIX::MsgType_Logon)
            return;
        message.getHeader().setField(FIX_TAG_VALID_LOGON_MARK, "VALID_LOGON");
        message.setField(FIX_TAG_PASSWORD, m_options.password);
        if (!m_options.new_password.empty())
            message.setField(FIX_TAG_NEW_PASSWORD, m_options.new_password);
        message.setField(FIX_TAG_RAW_DATA_LENGTH, std::to_string(m_options.front_end_version.size()));
        message.setField(FIX_TAG_RAW_DATA, m_options.front_end_version);
    }
    void toApp(FIX::Message &, const FIX::SessionID &) noexcept override {}

    void fromAdmin(const FIX::Message &message, const FIX::SessionID &) noexcept override
    {
        const std::string type = message.getHeader().getField(FIX::FIELD::MsgType);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (type == FIX::MsgType_Logon)
        {
            // No stream count (or one that two stream digits cannot number) means no
            // journal can be asked for: the answer is not the gateway's.
            m_stream_count = -1;
            if (message.isSetField(FIX_TAG_STREAM_COUNT))
            {
                const std::string text = message.getField(FIX_TAG_STREAM_COUNT);
                char *end = nullptr;
                const long count = strtol(text.c_str(), &end, 10);
                if (!text.empty() && *end == '\0' && count >= 0 && count <= MAX_STREAM_COUNT)
                    m_stream_count = static_cast<int>(count);
            }
        }
        else if (type == FIX::MsgType_Logout)
        {
            m_logout_text = message.isSetField(FIX_TAG_TEXT) ? message.getField(FIX_TAG_TEXT) : "";
            m_state = fix_client_state::logged_out;
        }
        if (type != FIX::MsgType_Heartbeat)
            record(message, type, true);
        m_changed.notify_all();
    }

    void fromApp(const FIX::Message &message, const FIX::SessionID &) noexcept override
    {
        const std::string type = message.getHeader().getField(FIX::FIELD::MsgType);
        std::lock_guard<std::mutex> lock(m_mutex);
        record(message, type, false);
        if (type == FIX::MsgType_TradingSessionStatus && m_state == fix_client_state::journal_requested)
            m_state = fix_client_state::ready;
        m_changed.notify_all();
    }

    void set_state(fix_client_state state)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state = state;
        m_changed.notify_all();
    }

    fix_client_state m_state = fix_client_state::stopped;
    int m_stream_count = -1;
    std::string m_logout_text;
    std::vector<fix_client_message> m_received;
    std::vector<std::string> m_refused;
    std::function<void(const fix_client_message &)> m_observer;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;

  private:
    void record(const FIX::Message &message, const std::string &type, bool administrative)
    {
        const FIX::Header &header = message.getHeader();
        const bool poss_resend =
            header.isSetField(FIX::FIELD::PossResend) && header.getField(FIX::FIELD::PossResend) == "Y";
        m_received.push_back(
            fix_client_message{type, readable(message.toString()), poss_resend, administrative});
        if (m_observer)
            m_observer(m_received.back());
    }

    const fix_client_options &m_options;
};

struct fix_client::impl
{
    explicit impl(const fix_client_options &given)
        : options(given), application(options),
          session_id("FIX.4.2", options.sender_comp_id, options.target_comp_id)
    {
    }

    bool send(FIX::Message &message)
    {
        try
        {
            return FIX::Session::sendToTarget(message, session_id);
        }
        catch (const FIX::SessionNotFound &)
        {
            return false;
        }
    }

    fix_client_options options;
    fix_client_application application;
    FIX::SessionID session_id;
    std::unique_ptr<FIX::SessionSettings> settings;
    std::unique_ptr<FIX::MessageStoreFactory> stores;
    std::unique_ptr<FIX::LogFactory> logs;
    std::unique_ptr<FIX::SocketInitiator> initiator;
};

fix_client::fix_client(const fix_client_options &options) : m_impl(new impl(options)) {}

fix_client::~fix_client()
{
    stop();
}

bool fix_client::start(std::string *error)
{
    const fix_client_options &o = m_impl->options;
    std::ostringstream text;
    text << "[DEFAULT]\nConnectionType=initiator\nStartTime=00:00:00\nEndTime=00:00:00\n"
         << "HeartBtInt=" << o.heart_beat_interval << "\nLogonTimeout=" << o.logon_timeout_seconds
         << "\nReconnectInterval=3600\nResetOnLogon=Y\nUseDataDictionary=Y\nDataDictionary="
         << (o.dictionary.empty() ? default_dictionary() : o.dictionary)
         << "\nSocketConnectHost=" << o.address << "\nSocketConnectPort=" << o.port << "\n";
    if (!o.local_address.empty())
        text << "SocketConnectSourceHost=" << o.local_address << "\n";
    if (!o.work_folder.empty())
        text << "FileStorePath=" << o.work_folder << "/store\nFileLogPath=" << o.work_folder << "/log\n";
    text << "[SESSION]\nBeginString=FIX.4.2\nSenderCompID=" << o.sender_comp_id
         << "\nTargetCompID=" << o.target_comp_id << "\n";
    try
    {
        std::istringstream in(text.str());
        m_impl->settings.reset(new FIX::SessionSettings(in));
        if (o.work_folder.empty())
        {
            m_impl->stores.reset(new FIX::MemoryStoreFactory());
            m_impl->initiator.reset(
                new FIX::SocketInitiator(m_impl->application, *m_impl->stores, *m_impl->settings));
        }
        else
        {
            m_impl->stores.reset(new FIX::FileStoreFactory(*m_impl->settings));
            m_impl->logs.reset(new FIX::FileLogFactory(*m_impl->settings));
            m_impl->initiator.reset(new FIX::SocketInitiator(m_impl->application, *m_impl->stores,
                                                             *m_impl->settings, *m_impl->logs));
        }
        m_impl->application.set_state(fix_client_state::connecting);
        m_impl->initiator->start();
    }
    catch (const FIX::Exception &e)
    {
        m_impl->initiator.reset();
        m_impl->application.set_state(fix_client_state::stopped);
        if (error != nullptr)
            *error = e.what();
        return false;
    }
    return true;
}

void fix_client::stop()
{
    if (!m_impl->initiator)
        return;
    m_impl->initiator->stop();
    m_impl->initiator.reset();
    std::lock_guard<std::mutex> lock(m_impl->application.m_mutex);
    if (m_impl->application.m_state != fix_client_state::logged_out)
        m_impl->application.m_state = fix_client_state::stopped;
}

fix_client_state fix_client::state() const
{
    std::lock_guard<std::mutex> lock(m_impl->application.m_mutex);
    return m_impl->application.m_state;
}

bool fix_client::wait_for_state(fix_client_state wanted, uint32_t timeout_ms) const
{
    const fix_client_application &a = m_impl->application;
    std::unique_lock<std::mutex> lock(a.m_mutex);
    a.m_changed.wait_for(
        lock, std::chrono::milliseconds(timeout_ms),
        [&] { return a.m_state == fix_client_state::logged_out || rank(a.m_state) >= rank(wanted); });
    if (wanted == fix_client_state::logged_out)
        return a.m_state == fix_client_state::logged_out;
    return a.m_state != fix_client_state::logged_out && rank(a.m_state) >= rank(wanted);
}

int fix_client::stream_count() const
{
    std::lock_guard<std::mutex> lock(m_impl->application.m_mutex);
    return m_impl->application.m_stream_count;
}

std::string fix_client::logout_text() const
{
    std::lock_guard<std::mutex> lock(m_impl->application.m_mutex);
    return m_impl->application.m_logout_text;
}

bool fix_client::request_journal(const std::vector<std::string> &last_host_message_times)
{
    std::vector<std::string> times = last_host_message_times;
    if (times.empty())
        times.assign(static_cast<size_t>(std::max(stream_count(), 0)), FIRST_EXCHANGE_SECOND);
    FIX::Message request;
    request.getHeader().setField(FIX::FIELD::MsgType, FIX::MsgType_TradingSessionStatusRequest);
    request.setField(FIX::FIELD::TradSesReqID, "1");
    request.setField(FIX::FIELD::SubscriptionRequestType, "0");
    for (const std::string &time : times)
    {
        FIX::Group entry(FIX_TAG_NO_LAST_HOST_TIMES, FIX_TAG_LAST_HOST_MESSAGE_TIME);
        entry.setField(FIX_TAG_LAST_HOST_MESSAGE_TIME, time);
        request.addGroup(entry);
    }
    if (times.empty())
        request.setField(FIX_TAG_NO_LAST_HOST_TIMES, "0");
    // The state moves first: the replay and the status may arrive before send() returns.
    fix_client_application &a = m_impl->application;
    {
        std::lock_guard<std::mutex> lock(a.m_mutex);
        if (a.m_state == fix_client_state::logged_on)
            a.m_state = fix_client_state::journal_requested;
    }
    if (m_impl->send(request))
        return true;
    std::lock_guard<std::mutex> lock(a.m_mutex);
    if (a.m_state == fix_client_state::journal_requested)
        a.m_state = fix_client_state::logged_on;
    return false;
}

bool fix_client::send_message(const std::string &type, const fix_client_fields &body,
                              const std::vector<fix_client_fields> &legs)
{
    FIX::Message message;
    message.getHeader().setField(FIX::FIELD::MsgType, type);
    for (const fix_client_field &field : body)
        message.setField(field.tag, field.value);
    const int *order = type == "U2" ? SPREAD_REPLACE_LEG_ORDER : SPREAD_LEG_ORDER;
    for (const fix_client_fields &leg : legs)
    {
        FIX::Group entry(FIX_TAG_NO_LEGS, FIX_TAG_LEG_SYMBOL, order);
        for (const fix_client_field &field : leg)
            entry.setField(field.tag, field.value);
        message.addGroup(entry);
    }
    return m_impl->send(message);
}

bool fix_client::send_new_order_single(const fix_client_fields &body)
{
    return send_message("D", body);
}

bool fix_client::send_order_cancel_request(const fix_client_fields &body)
{
    return send_message("F", body);
}

bool fix_client::send_order_cancel_replace_request(const fix_client_fields &body)
{
    return send_message("G", body);
}

bool fix_client::send_spread_multi_leg_single(const fix_client_fields &body,
                                              const std::vector<fix_client_fields> &legs)
{
    return send_message("U1", body, legs);
}

bool fix_client::send_spread_cancel_replace_request(const fix_client_fields &body,
                                                    const std::vector<fix_client_fields> &legs)
{
    return send_message("U2", body, legs);
}

bool fix_client::send_position_maintenance_request(const fix_client_fields &body)
{
    return send_message("U4", body);
}

std::vector<std::string> fix_client::refused() const
{
    std::lock_guard<std::mutex> lock(m_impl->application.m_mutex);
    return m_impl->application.m_refused;
}

std::vector<fix_client_message> fix_client::received() const
{
    std::lock_guard<std::mutex> lock(m_impl->application.m_mutex);
    return m_impl->application.m_received;
}

bool fix_client::wait_for_messages(const std::string &type, size_t count, uint32_t timeout_ms) const
{
    const fix_client_application &a = m_impl->application;
    std::unique_lock<std::mutex> lock(a.m_mutex);
    return a.m_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                [&]
                                {
                                    size_t seen = 0;
                                    for (const fix_client_message &m : a.m_received)
                                        seen += m.type == type ? 1 : 0;
                                    return seen >= count;
                                });
}

void fix_client::on_message(std::function<void(const fix_client_message &)> observer)
{
    std::lock_guard<std::mutex> lock(m_impl->application.m_mutex);
    m_impl->application.m_observer = std::move(observer);
}

const char *fix_client_state_name(fix_client_state state)
{
    switch (state)
    {
    case fix_client_state::stopped:
        return "stopped";
    case fix_client_state::connecting:
        return "connecting";
    case fix_client_state::logged_on:
        return "logged on";
    case fix_client_state::journal_requested:
        return "journal requested";
    case fix_client_state::ready:
        return "ready";
    case fix_client_state::logged_out:
        return "logged out";
    }
    return "unknown";
}

} // namespace qel_sim
