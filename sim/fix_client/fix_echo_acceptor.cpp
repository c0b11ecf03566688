// The plain echo acceptor: one engine acceptor, an application that marks its Logon
// answer and converts each NewOrderSingle straight into an ExecutionReport.
#include "sim/fix_client/fix_echo_acceptor.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>

#include "Application.h"
#include "Message.h"
#include "Session.h"
#include "SessionSettings.h"
#include "SocketAcceptor.h"

namespace qel_sim
{

namespace
{
std::string default_acceptor_dictionary()
{
#ifdef QEL_FIX_DICTIONARY_DIR
    return std::string(QEL_FIX_DICTIONARY_DIR) + "/FIX42_qel_acceptor.xml";
#else
    return "FIX42_qel_acceptor.xml";
#endif
}

// The optional order fields the report copies back when the order carries them.
const int ECHOED_FIELDS[] = {1, 55, 167, 460, 200, 205, 54, 38, 40, 44, 59, 111, 440, 204, 48};
} // namespace

class fix_echo_application : public FIX::Application
{
  public:
    explicit fix_echo_application(int stream_count) : m_stream_count(stream_count) {}

    void onCreate(const FIX::SessionID &) override {}
    void onLogon(const FIX::SessionID &) override {}
    void onLogout(const FIX::SessionID &) override {}
    void toAdmin(FIX::Message &message, const FIX::SessionID &) override
    {
        if (message.getHeader().getField(FIX::FIELD::MsgType) != FIX::MsgType_Logon)
            return;
        message.getHeader().setField(99999, "VALID_LOGON");
        message.setField(6014, std::to_string(m_stream_count));
    }
    void toApp(FIX::Message &, const FIX::SessionID &) noexcept override {}
    void fromAdmin(const FIX::Message &, const FIX::SessionID &) noexcept override {}
    void fromApp(const FIX::Message &message, const FIX::SessionID &id) noexcept override
    {
        try
        {
            const std::string type = message.getHeader().getField(FIX::FIELD::MsgType);
            if (type == FIX::MsgType_TradingSessionStatusRequest)
            {
                FIX::Message status;
                status.getHeader().setField(FIX::FIELD::MsgType, FIX::MsgType_TradingSessionStatus);
                status.setField(FIX::FIELD::TradingSessionID, "1");
                status.setField(FIX::FIELD::TradSesStatus, "2");
                FIX::Session::sendToTarget(status, id);
            }
            else if (type == FIX::MsgType_NewOrderSingle)
            {
                FIX::Session::sendToTarget(*report_of(message), id);
                m_answered.fetch_add(1, std::memory_order_relaxed);
            }
        }
        catch (const FIX::Exception &)
        {
            // A request the echo cannot answer is left unanswered; the benchmark counts replies.
        }
    }

    std::atomic<uint64_t> m_answered{0};

  private:
    std::unique_ptr<FIX::Message> report_of(const FIX::Message &order)
    {
        const uint64_t number = ++m_next_order;
        char order_id[32];
        snprintf(order_id, sizeof order_id, "%016llu",
                 static_cast<unsigned long long>(1000000000000000ULL + number));
        const std::string client_order = order.getField(11);
        char exec_id[64];
        snprintf(exec_id, sizeof exec_id, "2073OE%s%010ld", order_id, atol(client_order.c_str()));
        std::unique_ptr<FIX::Message> report(new FIX::Message);
        report->getHeader().setField(FIX::FIELD::MsgType, FIX::MsgType_ExecutionReport);
        report->setField(37, order_id);
        report->setField(11, client_order);
        report->setField(17, exec_id);
        report->setField(20, "0");
        report->setField(150, "0");
        report->setField(39, "0");
        report->setField(22, "8");
        report->setField(77, "O");
        for (int tag : ECHOED_FIELDS)
            if (order.isSetField(tag))
                report->setField(tag, order.getField(tag));
        report->setField(151, order.getField(38));
        report->setField(14, "0");
        report->setField(6, "0");
        report->setField(21, "1");
        report->setField(60, order.getField(60));
        report->getHeader().setField(370, order.getField(60));
        report->getHeader().setField(144, "1");
        return report;
    }

    const int m_stream_count;
    uint64_t m_next_order = 0; // the engine calls fromApp of one session on one thread
};

struct fix_echo_acceptor::impl
{
    explicit impl(const fix_echo_acceptor_options &given) : options(given), application(options.stream_count)
    {
    }

    fix_echo_acceptor_options options;
    fix_echo_application application;
    std::unique_ptr<FIX::SessionSettings> settings;
    std::unique_ptr<FIX::MessageStoreFactory> stores;
    std::unique_ptr<FIX::SocketAcceptor> acceptor;
};

fix_echo_acceptor::fix_echo_acceptor(const fix_echo_acceptor_options &options) : m_impl(new impl(options)) {}

fix_echo_acceptor::~fix_echo_acceptor()
{
    stop();
}

bool fix_echo_acceptor::start(std::string *error)
{
    const fix_echo_acceptor_options &o = m_impl->options;
    std::ostringstream text;
    text << "[DEFAULT]\nConnectionType=acceptor\nStartTime=00:00:00\nEndTime=00:00:00\n"
         << "UseDataDictionary=Y\nDataDictionary="
         << (o.dictionary.empty() ? default_acceptor_dictionary() : o.dictionary)
         << "\nSocketAcceptHost=127.0.0.1\nSocketAcceptPort=" << o.port << "\n";
    for (const std::string &client : o.clients)
        text << "[SESSION]\nBeginString=FIX.4.2\nSenderCompID=" << o.sender_comp_id
             << "\nTargetCompID=" << client << "\n";
    try
    {
        std::istringstream in(text.str());
        m_impl->settings.reset(new FIX::SessionSettings(in));
        m_impl->stores.reset(new FIX::MemoryStoreFactory());
        m_impl->acceptor.reset(
            new FIX::SocketAcceptor(m_impl->application, *m_impl->stores, *m_impl->settings));
        m_impl->acceptor->start();
    }
    catch (const FIX::Exception &e)
    {
        m_impl->acceptor.reset();
        if (error != nullptr)
            *error = e.what();
        return false;
    }
    return true;
}

void fix_echo_acceptor::stop()
{
    if (!m_impl->acceptor)
        return;
    m_impl->acceptor->stop();
    m_impl->acceptor.reset();
}

uint64_t fix_echo_acceptor::orders_answered() const
{
    return m_impl->application.m_answered.load(std::memory_order_relaxed);
}

} // namespace qel_sim
