// CGenericLogs: one market's live event log, a page of the main window's log tabs. The
// page links to its gateway's realtime console port; on every connection the gateway
// sends its version first and then replays the day's events before the live ones. The
// page checks the version against its market's reference (an unacceptable one ends the
// console with 200), sets the market's widened-user-id flag from it, writes it into the
// main window's status list, and lists the events newest first.
//
// The page never connects by itself: the main window's status thread asks it (on the
// user-interface thread) to connect when it sees the gateway start, and on every pass
// while the gateway runs and the page has no link, so that a connect refused in the
// moment between the process appearing and its console listener opening, or a link the
// gateway dropped, is tried again. A series of failures is logged once.
//
// Events reach the list in batches, at most 50 ms after they arrived: a day's replay of
// a hundred thousand events would otherwise make the list lay itself out anew for each.
// The list keeps the newest MAX_ROWS events (about a kilobyte each) and drops the oldest,
// so that a flood of events cannot grow the console without end; the day's whole log
// stays in the gateway's event log file.
#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "console/kova_helper.h"
#include "console/shim/kova_dialog.h"

class CLogger;
class CListCtrl;
class CGenericLogs;
class QTimer;
class QTreeWidgetItem;

// What the main window hands each log page (one block per page, owned by the window).
struct INPUT_FOR_LOGS_THREAD
{
    CGenericLogs *page;
    int32_t interface_thread_interactive_port;
    int32_t interface_thread_non_interactive_port;
    CLogger *logger;
};

class CGenericLogs : public CDialog, public CConnectionListener
{
    Q_OBJECT

  public:
    enum : int32_t
    {
        IDD = 144,
        IDC_LIST_LOGS = 1013,
        VERSION_NOT_ACCEPTED = 2,
        VERSION_ACCEPTED = 1,
        INVALID_VERSION_EXIT_CODE = 200,
        FLUSH_INTERVAL_MS = 50,
        MAX_ROWS = 50000, // the newest events kept; older rows are dropped
    };

    CGenericLogs(CLogger *logger, QWidget *parent = nullptr);
    ~CGenericLogs() override;

    bool OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override {}

    void SetLinkData(INPUT_FOR_LOGS_THREAD *data);
    void SetMarketType(int32_t market) { m_marketType = market; }
    int32_t MarketType() const { return m_marketType; }
    void SetStatusList(CListCtrl *list) { m_statusList = list; }

    // The status thread's requests, run on the user-interface thread: connect now (the
    // gateway was seen starting), or connect when there is no link and none is being
    // made (the gateway runs). The gateway stopped: the next failure series is logged anew.
    void ConnectToGateway();
    void EnsureConnection();
    void GatewayStopped();
    bool LinkUp() const { return m_linkState == LINK_UP; }

    void RouteMessage(const uint8_t *packet, uint16_t transcode) override;
    void OnConnectionEstablished() override;
    void OnConnectionLost() override;

    // Puts the events that arrived since the last batch on top of the list now.
    void FlushEvents();
    size_t PendingEvents() const { return m_pending.size(); }

    int32_t compatible(int32_t version, int32_t reference);
    void ShowMarketVersion(const char *market_name, int32_t version);

    int32_t VersionState() const { return m_versionState; }
    CListCtrl *List() const { return m_list; }
    CKOVAHelper *Helper() const { return m_helper; }
    const std::string &Port() const { return m_port; }

    // The reference version of a market (0 for a number outside 1 to 7).
    static int32_t ReferenceVersion(int32_t market);
    // "%A, %B %d, %Y, %H:%M:%S" of the time in local time.
    static QString EventTimeText(uint32_t seconds);

    // Tests replace the end of the process after a refused version (default: exit 200).
    using ExitProcess = void (*)(int code);
    static void SetExitProcessForTests(ExitProcess exit_process);

  signals:
    void linkChanged();

  private:
    enum LinkState
    {
        LINK_NONE,
        LINK_CONNECTING,
        LINK_UP,
    };

    void Connect();
    void VersionCheck(const uint8_t *packet);
    void AddEvent(const uint8_t *packet);
    void DropPendingEvents();
    // Beyond MAX_ROWS, the oldest rows (at the bottom) go; said once per connection.
    void DropOldestRows();
    bool Widened() const;

    CLogger *m_logger;
    CKOVAHelper *m_helper;
    int32_t m_versionState;
    int32_t m_marketType;
    std::string m_host;
    std::string m_port;
    CListCtrl *m_statusList;
    CListCtrl *m_list;
    LinkState m_linkState;
    bool m_failureLogged;                     // the current series of failed connects has been logged
    bool m_localFailure;                      // the last connect failed before reaching the gateway
    bool m_rowsDropped;                       // the bound has been reached since the connection
    std::vector<QTreeWidgetItem *> m_pending; // rows not in the list yet, oldest first
    QTimer *m_flushTimer;
};
