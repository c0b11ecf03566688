// CRestartDialog: the life cycle that the configuration dialogs of a market share. After
// a change that the running gateway must read again, the dialog asks it to restart: a
// link helper connects to the gateway's interactive console port and, once connected,
// sends the restart request (transcode 8000, 40 or 38 bytes by market). The helper
// belongs to the dialog: done() and the destructor close and free it, so that no
// listener call reaches a dialog that has ended or is gone.
//
// The operator has been told that the gateway will restart, so a request that does not
// leave is reported: a connect that cannot start, a link refused or lost before the
// request was sent, a failed send, or no link within 5 s are logged ("Restart request
// for market %s could not be sent: %s.") and shown as "KOVA network error.". The link is
// dropped then, so that a late connection sends nothing the operator was told did not
// happen. Each dialog decides what follows (OnRestartSent, OnRestartFailed): the FIX
// users dialog closes, the others stay open.
//
// Log lines of the link carry the dialog's class name ("CFixConfiguration::
// OnConnectionEstablished") and its source name.
#pragma once

#include <cstdint>
#include <string>

#include "console/kova_helper.h"
#include "console/shim/kova_dialog.h"

class CLogger;
class QTimer;

class CRestartDialog : public CDialog, public CConnectionListener
{
    Q_OBJECT

  public:
    enum : int32_t
    {
        RESTART_WAIT_MS = 5000,
    };

    CKOVAHelper *Helper() const { return m_helper; }
    // True from the restart request's start until it was sent or reported as failed.
    bool RestartPending() const { return m_restartPending; }

    void RouteMessage(const uint8_t *, uint16_t) override {}
    void OnConnectionEstablished() override;
    void OnConnectionLost() override;

  protected:
    CRestartDialog(const char *class_name, const char *source, int32_t market, int32_t interactive_port,
                   CLogger *logger, QWidget *parent);
    ~CRestartDialog() override;
    void done(int result) override;

    // Starts the restart request on a new link (an earlier link is closed and freed
    // first); "Attempting to connect...for market %s" is logged under function.
    void StartRestartRequest(const char *function);
    virtual void OnRestartSent() {}
    virtual void OnRestartFailed() {}

    int32_t m_market;
    int32_t m_interactivePort;
    CLogger *m_logger;

  private:
    void RestartFailed(const char *why);
    std::string Function(const char *member) const;

    std::string m_className;
    const char *m_source;
    CKOVAHelper *m_helper;
    bool m_restartPending;
    QTimer *m_restartTimer;
};
