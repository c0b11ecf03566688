// The configuration dialogs' restart request and the life of its link.
#include "console/kova_restart_dialog.h"

#include <QTimer>

#include "console/kova_config_support.h"
#include "console/kova_logger.h"
#include "console/kova_markets.h"
#include "console/shim/kova_message_box.h"

CRestartDialog::CRestartDialog(const char *class_name, const char *source, int32_t market,
                               int32_t interactive_port, CLogger *logger, QWidget *parent)
    : CDialog(parent), m_market(market), m_interactivePort(interactive_port), m_logger(logger),
      m_className(class_name), m_source(source), m_helper(nullptr), m_restartPending(false)
{
    m_restartTimer = new QTimer(this);
    m_restartTimer->setSingleShot(true);
    connect(m_restartTimer, &QTimer::timeout, this,
            [this]
            {
                if (m_restartPending)
                    RestartFailed("no link within 5 s");
            });
}

CRestartDialog::~CRestartDialog()
{
    KovaDropHelper(&m_helper, false);
}

void CRestartDialog::done(int result)
{
    m_restartTimer->stop();
    m_restartPending = false;
    KovaDropHelper(&m_helper, true);
    CDialog::done(result);
}

std::string CRestartDialog::Function(const char *member) const
{
    return m_className + "::" + member;
}

void CRestartDialog::StartRestartRequest(const char *function)
{
    KovaDropHelper(&m_helper, false);
    bool connecting = false;
    m_restartPending = true;
    m_helper = KovaStartRestartLink(this, this, m_market, m_interactivePort, m_logger, function, m_source,
                                    &connecting);
    if (!connecting)
    {
        RestartFailed("the connect could not start");
        return;
    }
    m_restartTimer->start(RESTART_WAIT_MS);
}

void CRestartDialog::RestartFailed(const char *why)
{
    KovaLog(m_logger, KOVA_EVENT, Function("RestartFailed").c_str(), m_source, __LINE__,
            "Restart request for market %s could not be sent: %s.", KovaMarketName(m_market), why);
    m_restartTimer->stop();
    m_restartPending = false;
    // Also from inside one of the helper's own calls: freed once that call returned.
    KovaDropHelper(&m_helper, true);
    KovaMessageBox(this, QStringLiteral("KOVA network error."), QStringLiteral("Error"),
                   MB_OK | MB_ICONERROR);
    OnRestartFailed();
}

void CRestartDialog::OnConnectionEstablished()
{
    if (!KovaSendRestartRequest(m_helper, m_market, m_logger, Function("OnConnectionEstablished").c_str(),
                                m_source, this))
    {
        if (m_restartPending)
        {
            RestartFailed("the send failed");
        }
        return;
    }
    if (m_restartPending)
    {
        m_restartTimer->stop();
        m_restartPending = false;
        OnRestartSent();
    }
}

void CRestartDialog::OnConnectionLost()
{
    KovaLog(m_logger, KOVA_ACTIVITY, Function("OnConnectionLost").c_str(), m_source, __LINE__,
            "Attempting to close connection...for market %s", KovaMarketName(m_market));
    if (m_helper != nullptr)
    {
        m_helper->Tcp()->CloseConnection();
    }
    if (m_restartPending)
    {
        RestartFailed("the link was refused or lost");
    }
}
