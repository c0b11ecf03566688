// CKOVAClientPHASE4Dlg: KOVA's main window, run modally for the life of the console. It
// finds the installed markets in the registry, shows the status list of their gateway
// processes, hosts one live event log page per installed market and the statistics pages
// ("Common" and one per market), opens the configuration and monitoring dialogs from its
// menu, asks the monitoring service to start the gateways (control 130 to "QEL_IP"), and
// runs two threads: show_qel_status (the gateway processes every 500 ms, the single-
// instance event, the log pages' links) and show_qel_statistics (qelstat's current files
// every second). Neither thread touches a widget: each posts its changes, message boxes
// and connection requests to the user-interface thread; ExitKOVA stops and joins both.
//
// The content keeps its start-up size: a smaller window scrolls it (steps of a hundredth
// and a tenth of the range), and the window never grows past it.
#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "console/kova_generic_logs.h"
#include "console/kova_markets.h"
#include "console/shim/kova_dialog.h"

class CLogger;
class CListCtrl;
class CPageTabCtrl;
class CGenericStatistics;
class CKovaSingleInstance;
class CKOVAClientPHASE4Dlg;
class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QScrollBar;
struct pf_reg_key;

// What the statistics thread is handed.
struct INPUT_FOR_STATISTICS_THREAD
{
    CGenericStatistics *pages[KOVA_STATISTICS_PAGES_MAX];
    int32_t market_types[KOVA_MARKET_COUNT];
    CLogger *logger;
    CKOVAClientPHASE4Dlg *main_window;
};

class CKOVAClientPHASE4Dlg : public CDialog
{
    Q_OBJECT

  public:
    enum : int32_t
    {
        IDD = 102,
        IDC_LIST_QEL_STATUS = 1005,
        IDC_TAB_STATISTICS = 1003,
        IDC_TAB_LOGS = 1000,
        IDR_MAINFRAME = 128,
        IDD_LOGS = 144,
        IDD_STATISTICS = 145,

        ID_QEL_CONFIGURATION_KR = 32775,
        ID_QEL_CONFIGURATION_TX = 32776,
        ID_QEL_CONFIGURATION_ZBL = 32777,
        ID_QEL_CONFIGURATION_GUV = 32778,
        ID_QEL_CONFIGURATION_HY = 32801,
        ID_QEL_CONFIGURATION_RAQE = 32802,
        ID_QEL_CONFIGURATION_JN = 32780,
        ID_QEL_CONFIGURATION_COMMON = 32793,
        ID_ACTIVE_USERS_KR = 32786,
        ID_ACTIVE_USERS_TX = 32787,
        ID_ACTIVE_USERS_ZBL = 32788,
        ID_ACTIVE_USERS_GUV = 32789,
        ID_ACTIVE_USERS_HY = 32800,
        ID_ACTIVE_USERS_RAQE = 32803,
        ID_ACTIVE_USERS_JN = 32790,
        ID_START_APPLICATIONS = 32797,
        ID_FIX_USER_CONFIGURATION_FIRST = 32811, // KR; JN is 32817
        ID_FIX_SESSION_CONFIGURATION_FIRST = 32821,
        ID_HELP_KOVA = 32798,
        ID_ABOUT_KOVA = 32792,
        ID_EXIT_KOVA = 32795,
        ID_COMMAND_LINE_CONFIGURATION_BASE = 32968, // + market number: 32969 to 32975
        IDM_ABOUTBOX = 16,

        QEL_RUNNING = 300,
        QEL_NOT_RUNNING = -300,
        STATUS_INTERVAL_MS = 500,
        STATISTICS_INTERVAL_MS = 1000,
    };

    // Service control code that makes the monitoring service start every held process.
    static const uint32_t START_APPLICATIONS_CONTROL = 130;

    explicit CKOVAClientPHASE4Dlg(QWidget *parent = nullptr);
    ~CKOVAClientPHASE4Dlg() override;

    // The program's arguments after its name (the "-c <market>" form), before DoModal.
    void SetCommandLine(const QStringList &arguments) { m_arguments = arguments; }

    bool OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override { ExitKOVA(); }

    // Runs a menu or window command now / after the events already waiting.
    void OnCommand(int32_t command);
    void PostCommand(int32_t command);

    void GetNumberOfMarkets();
    void InitTypesOfMarketsConfigFilePathsAndPorts();
    void despatch_threads_for_logs_windows();
    void despatch_threads_for_statistics_windows();
    void StartApplications();
    int32_t qel_status_query(int32_t market);
    void ExitKOVA();
    void KOVAHelp();
    // The scroll bar's request: SB_LINEUP 0, SB_LINEDOWN 1, SB_PAGEUP 2, SB_PAGEDOWN 3,
    // SB_THUMBPOSITION 4 (to thumb); anything else does nothing.
    void OnVScroll(int32_t code, int32_t thumb);

    // True when OnInitDialog found another console running (the dialog has ended with 0).
    bool IsSecondInstance() const { return m_secondInstance; }
    bool ThreadsRunning() const { return m_statusThread.joinable() || m_statisticsThread.joinable(); }

    // What tests and the dialogs read.
    CLogger *Logger() const { return m_logger.get(); }
    int32_t NumberOfMarkets() const { return m_numberOfMarkets; }
    int32_t MarketType(int32_t index) const { return m_marketType[index]; }
    int32_t InteractivePort(int32_t index) const { return m_interactivePort[index]; }
    int32_t NonInteractivePort(int32_t index) const { return m_nonInteractivePort[index]; }
    const std::string &ConfigFilePath(int32_t index) const { return m_configFilePath[index]; }
    const std::string &FixConfigFilePath(int32_t index) const { return m_fixConfigFilePath[index]; }
    const std::string &CommonConfigFilePath() const { return m_commonConfigFilePath; }
    CListCtrl *StatusList() const { return m_statusList; }
    CPageTabCtrl *LogTabs() const { return m_logTab; }
    CPageTabCtrl *StatisticsTabs() const { return m_statisticsTab; }
    CGenericLogs *LogPage(int32_t index) const { return m_logPages[index]; }
    CGenericStatistics *StatisticsPage(int32_t index) const { return m_statisticsPages[index]; }
    QAction *Action(int32_t command) const;
    QMenu *FixUserMenu() const { return m_fixUserMenu; }
    QMenu *FixSessionMenu() const { return m_fixSessionMenu; }
    QLabel *LinkStatusLine() const { return m_linkStatus; }
    QScrollBar *ScrollBar() const { return m_scrollBar; }
    QWidget *Content() const { return m_content; }
    int32_t ScrollPosition() const { return m_scrollPosition; }

    // Tests see the dialogs the menu opens instead of running them, and the help file
    // handed to the desktop (default: the desktop's handler for the file).
    using DialogHook = std::function<void(const char *dialog, int32_t market)>;
    static void SetDialogHookForTests(DialogHook hook);
    using HelpOpener = std::function<bool(const QString &path)>;
    static void SetHelpOpener(HelpOpener opener);
    // Tests count only the processes this filter lets through (their own children), so a
    // gateway that someone else runs on the machine is not taken for theirs.
    using ProcessFilter = std::function<bool(uint32_t pid)>;
    static void SetProcessFilterForTests(ProcessFilter filter);

  protected:
    void resizeEvent(QResizeEvent *event) override;

  private:
    static void show_qel_status(CKOVAClientPHASE4Dlg *window);
    static void show_qel_statistics(INPUT_FOR_STATISTICS_THREAD *input);
    // The status thread's pass over the markets.
    void StatusPass(int32_t *previous);
    // Sleeps ms unless ExitKOVA stops the threads first: false then.
    bool SleepUnlessStopped(int32_t ms);
    void StopThreads();

    void BuildMenu();
    void BuildContent();
    // The steps of start-up: false when another console runs (the dialog has ended);
    // the log pages; the statistics pages; the status list's columns and rows; the
    // dialog that "-c <market>" asks for.
    bool TakeSingleInstance();
    void CreateLogPages();
    void CreateStatisticsPages();
    void FillStatusList();
    void OpenFromCommandLine();
    // One installed market's registry values; false when one of its console ports or its
    // configuration path is missing (the scan of the markets ends there).
    bool ReadMarketKey(int32_t market, pf_reg_key *key);
    void EnableMarketMenus(int32_t market);
    void AddMarketItems(QMenu *menu, const int32_t *commands, const char *const *texts);
    void EnableMenuItem(int32_t command, bool enabled);
    void UpdateLinkStatus();
    void ShowAnotherInstance();

    // The dialogs the menu opens (their classes come with the configuration dialogs).
    void OpenQelConfiguration(int32_t market, int32_t command_line);
    void OpenCommonConfiguration();
    void OpenActiveUsers(int32_t market);
    void OpenFixUserConfiguration(int32_t market);
    void OpenFixSessionConfiguration(int32_t market);
    void OpenAbout();

    std::unique_ptr<CLogger> m_logger;
    int32_t m_dialogResult;
    CKovaSingleInstance *m_singleInstance;
    bool m_secondInstance;
    int32_t m_numberOfMarkets;
    int32_t m_marketType[KOVA_MARKET_COUNT];
    std::string m_configFilePath[KOVA_MARKET_COUNT];
    std::string m_fixConfigFilePath[KOVA_MARKET_COUNT];
    int32_t m_nonInteractivePort[KOVA_MARKET_COUNT];
    int32_t m_interactivePort[KOVA_MARKET_COUNT];
    std::string m_commonConfigFilePath;
    std::thread m_statusThread;
    std::thread m_statisticsThread;
    std::atomic<bool> m_stopThreads;
    std::mutex m_sleepMutex;
    std::condition_variable m_sleepWake;

    CGenericLogs *m_logPages[KOVA_MARKET_COUNT];
    int32_t m_logTemplates[KOVA_MARKET_COUNT];
    CGenericStatistics *m_statisticsPages[KOVA_STATISTICS_PAGES_MAX];
    int32_t m_statisticsTemplates[KOVA_STATISTICS_PAGES_MAX];
    std::unique_ptr<INPUT_FOR_LOGS_THREAD> m_logsInput[KOVA_MARKET_COUNT];
    INPUT_FOR_STATISTICS_THREAD m_statisticsInput;
    CGenericLogs *m_logPageOfMarket[KOVA_MARKET_COUNT]; // by market number - 1
    int32_t m_statusRowOfMarket[KOVA_MARKET_COUNT];

    int32_t m_startupHeight; // of the content, as laid out at start-up
    int32_t m_clientHeight;
    int32_t m_scrollPosition;
    QMenuBar *m_menuBar;
    QMenu *m_fixUserMenu;
    QMenu *m_fixSessionMenu;
    std::map<int32_t, QAction *> m_actions;
    QWidget *m_viewport;
    QWidget *m_content;
    QScrollBar *m_scrollBar;
    CListCtrl *m_statusList;
    CPageTabCtrl *m_statisticsTab;
    CPageTabCtrl *m_logTab;
    QLabel *m_linkStatus;
    QStringList m_arguments;
};

// Opens "kova_ip_help.chm" of the current folder with the desktop's handler (F1 and the
// Help menu); a missing file is logged and shown.
void KovaOpenHelpFile(CLogger *logger, QWidget *parent);
