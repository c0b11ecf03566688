// The main window: registry scan, menus, pages, the two threads, the service request,
// exit, help and scrolling.
#include "console/kova_main_window.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QResizeEvent>
#include <QScrollBar>
#include <QShortcut>
#include <QUrl>
#include <QVBoxLayout>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "console/kova_about_dlg.h"
#include "console/kova_active_users.h"
#include "console/kova_common_config.h"
#include "console/kova_fix_configuration.h"
#include "console/kova_fix_user_sessions.h"
#include "console/kova_generic_configuration.h"
#include "console/kova_generic_statistics.h"
#include "console/kova_logger.h"
#include "console/kova_page_tab_ctrl.h"
#include "console/kova_single_instance.h"
#include "console/shim/kova_list.h"
#include "console/shim/kova_message_box.h"
#include "console/shim/kova_ui_thread.h"
#include "platform/admin/pf_process.h"
#include "platform/admin/pf_registry.h"
#include "platform/admin/pf_service.h"
#include "platform/core/pf_thread.h"

namespace
{
const char *const k_source = "KOVA Client PHASE 4Dlg";
const char *const k_base_key = "SOFTWARE\\QEL_IP";
const char *const k_single_instance_name = "KOVAClient4.0";
const char *const k_service_name = "QEL_IP";
const char *const k_help_file = "kova_ip_help.chm";

enum : uint32_t
{
    PATH_SIZE = 1024,
    // What the service manager's opening fails with: the folder is there but not ours to
    // read, or there is no service database at all.
    SCM_ACCESS_DENIED = 5,
    SCM_DATABASE_DOES_NOT_EXIST = 1065,
};

// The window's content at start-up, laid out as the dialog template places it.
enum : int
{
    CONTENT_WIDTH = 900,
    CONTENT_HEIGHT = 640,
};

const int32_t k_qel_configuration[KOVA_MARKET_COUNT] = {32775, 32776, 32777, 32778, 32801, 32802, 32780};
const int32_t k_active_users[KOVA_MARKET_COUNT] = {32786, 32787, 32788, 32789, 32800, 32803, 32790};
const char *const k_market_items[KOVA_MARKET_COUNT] = {"&KR", "&TX", "&ZBL", "&GUV", "H&Y", "&RAQE", "&JN"};

int32_t fix_user_command(int32_t index)
{
    return CKOVAClientPHASE4Dlg::ID_FIX_USER_CONFIGURATION_FIRST + index;
}

int32_t fix_session_command(int32_t index)
{
    return CKOVAClientPHASE4Dlg::ID_FIX_SESSION_CONFIGURATION_FIRST + index;
}

// The market (1 to 7) whose command in table is command, or 0.
int32_t market_of(const int32_t *table, int32_t command)
{
    for (int32_t i = 0; i < KOVA_MARKET_COUNT; ++i)
    {
        if (table[i] == command)
        {
            return i + 1;
        }
    }
    return 0;
}

std::mutex g_hooks_mutex;
CKOVAClientPHASE4Dlg::DialogHook g_dialog_hook;
CKOVAClientPHASE4Dlg::HelpOpener g_help_opener;
CKOVAClientPHASE4Dlg::ProcessFilter g_process_filter;

// Tests see which dialog was asked for through the hook, instead of the dialog: true when
// a hook is set and has been told.
bool TakenByDialogHook(const char *dialog, int32_t market)
{
    CKOVAClientPHASE4Dlg::DialogHook hook;
    {
        std::lock_guard<std::mutex> guard(g_hooks_mutex);
        hook = g_dialog_hook;
    }
    if (!hook)
        return false;
    hook(dialog, market);
    return true;
}

QIcon application_icon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(QColor(0, 70, 140));
    QPainter painter(&pixmap);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(22);
    painter.setFont(font);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("K"));
    return QIcon(pixmap);
}
} // namespace

CKOVAClientPHASE4Dlg::CKOVAClientPHASE4Dlg(QWidget *parent)
    : CDialog(parent), m_logger(new CLogger()), m_dialogResult(0), m_singleInstance(nullptr),
      m_secondInstance(false), m_numberOfMarkets(0), m_nonInteractivePort(), m_interactivePort(),
      m_stopThreads(false), m_logPages(), m_logTemplates(), m_statisticsPages(), m_statisticsTemplates(),
      m_statisticsInput(), m_logPageOfMarket(), m_statusRowOfMarket(), m_startupHeight(CONTENT_HEIGHT),
      m_clientHeight(CONTENT_HEIGHT), m_scrollPosition(0), m_menuBar(nullptr), m_fixUserMenu(nullptr),
      m_fixSessionMenu(nullptr), m_viewport(nullptr), m_content(nullptr), m_scrollBar(nullptr),
      m_statusList(nullptr), m_statisticsTab(nullptr), m_logTab(nullptr), m_linkStatus(nullptr)
{
    for (int32_t i = 0; i < KOVA_MARKET_COUNT; ++i)
    {
        m_marketType[i] = KOVA_NOT_INSTALLED;
        m_statusRowOfMarket[i] = -1;
    }
    setWindowIcon(application_icon());
    QApplication::setWindowIcon(windowIcon());
    BuildMenu();
    BuildContent();
    // F1 is the application's help command.
    auto *help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [this] { KovaOpenHelpFile(m_logger.get(), this); });
}

CKOVAClientPHASE4Dlg::~CKOVAClientPHASE4Dlg()
{
    StopThreads();
    // The pages go with the tab controls; the blocks they were handed go after them.
    m_logTab->disconnect(this);
    for (CGenericLogs *&page : m_logPages)
    {
        if (page != nullptr)
        {
            page->disconnect(this);
        }
        page = nullptr;
    }
    delete m_logTab;
    delete m_statisticsTab;
}

void CKOVAClientPHASE4Dlg::AddMarketItems(QMenu *menu, const int32_t *commands, const char *const *texts)
{
    for (int32_t i = 0; i < KOVA_MARKET_COUNT; ++i)
    {
        QAction *action = menu->addAction(QString::fromUtf8(texts[i]));
        int32_t command = commands[i];
        action->setObjectName(QString::number(command));
        action->setEnabled(false); // enabled for installed markets
        connect(action, &QAction::triggered, this, [this, command] { OnCommand(command); });
        m_actions[command] = action;
    }
}

void CKOVAClientPHASE4Dlg::BuildMenu()
{
    m_menuBar = new QMenuBar(this);
    auto add = [this](QMenu *menu, const QString &text, int32_t command)
    {
        QAction *action = menu != nullptr ? menu->addAction(text) : m_menuBar->addAction(text);
        action->setObjectName(QString::number(command));
        connect(action, &QAction::triggered, this, [this, command] { OnCommand(command); });
        m_actions[command] = action;
        return action;
    };
    QMenu *qel = m_menuBar->addMenu(QStringLiteral("&QEL"));
    QMenu *configuration = qel->addMenu(QStringLiteral("QEL &Configuration"));
    AddMarketItems(configuration, k_qel_configuration, k_market_items);
    add(configuration, QStringLiteral("COMMO&N"), ID_QEL_CONFIGURATION_COMMON)
        ->setStatusTip(QStringLiteral("Configure Setting for parameters which are common to all markets"));
    QMenu *users = qel->addMenu(QStringLiteral("Show Active &Users"));
    AddMarketItems(users, k_active_users, k_market_items);
    add(qel, QStringLiteral("Start &Applications"), ID_START_APPLICATIONS);

    QMenu *fix = m_menuBar->addMenu(QStringLiteral("&FIX"));
    m_fixUserMenu = fix->addMenu(QStringLiteral("User &Configuration"));
    m_fixSessionMenu = fix->addMenu(QStringLiteral("&Session Configuration"));
    int32_t fix_users[KOVA_MARKET_COUNT], fix_sessions[KOVA_MARKET_COUNT];
    for (int32_t i = 0; i < KOVA_MARKET_COUNT; ++i)
    {
        fix_users[i] = fix_user_command(i);
        fix_sessions[i] = fix_session_command(i);
    }
    AddMarketItems(m_fixUserMenu, fix_users, k_market_items);
    AddMarketItems(m_fixSessionMenu, fix_sessions, k_market_items);

    QMenu *help = m_menuBar->addMenu(QStringLiteral("&Help"));
    add(help, QStringLiteral("&KOVA Help            F1"), ID_HELP_KOVA)
        ->setStatusTip(QStringLiteral("Shows Help"));
    add(help, QStringLiteral("&About KOVA"), ID_ABOUT_KOVA)
        ->setStatusTip(QStringLiteral("Displays Information about KOVA"));
    add(nullptr, QStringLiteral("E&xit"), ID_EXIT_KOVA)->setStatusTip(QStringLiteral("Exits KOVA"));

    for (int32_t i = 0; i < KOVA_MARKET_COUNT; ++i)
    {
        QString name = QString::fromUtf8(KovaMarketName(i + 1));
        m_actions[k_qel_configuration[i]]->setStatusTip(
            QStringLiteral("Configure Setting for %1 market").arg(name));
        m_actions[k_active_users[i]]->setStatusTip(
            QStringLiteral("Show users connected to %1 market.").arg(name));
        m_actions[fix_user_command(i)]->setStatusTip(
            QStringLiteral("Configure FIX Users for %1 market").arg(name));
        m_actions[fix_session_command(i)]->setStatusTip(
            QStringLiteral("Configure FIX Sessions for %1 market").arg(name));
    }
}

void CKOVAClientPHASE4Dlg::BuildContent()
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->setMenuBar(m_menuBar);
    auto *row = new QHBoxLayout();
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    m_viewport = new QWidget(this);
    m_viewport->setMinimumSize(50, 50);
    m_scrollBar = new QScrollBar(Qt::Vertical, this);
    row->addWidget(m_viewport, 1);
    row->addWidget(m_scrollBar);
    outer->addLayout(row, 1);

    m_content = new QWidget(m_viewport);
    m_content->setGeometry(0, 0, CONTENT_WIDTH, CONTENT_HEIGHT);
    auto *title = new QLabel(QStringLiteral("QEL STATUS"), m_content);
    title->setGeometry(10, 8, 300, 18);
    m_statusList = new CListCtrl(m_content);
    SetControlId(m_statusList, IDC_LIST_QEL_STATUS);
    m_statusList->setGeometry(10, 28, 320, 200);
    m_statisticsTab = new CPageTabCtrl(m_content);
    SetControlId(m_statisticsTab, IDC_TAB_STATISTICS);
    m_statisticsTab->setGeometry(340, 8, 550, 220);
    m_logTab = new CPageTabCtrl(m_content);
    SetControlId(m_logTab, IDC_TAB_LOGS);
    m_logTab->setGeometry(10, 236, 880, 372);
    m_linkStatus = new QLabel(m_content);
    m_linkStatus->setObjectName(QStringLiteral("KovaLinkStatus"));
    m_linkStatus->setGeometry(10, 612, 880, 20);
    connect(m_logTab, &QTabWidget::currentChanged, this, [this](int) { UpdateLinkStatus(); });

    m_scrollBar->setRange(0, 0);
    m_scrollBar->setEnabled(false);
    // The bar's own step is replaced by the window's (the action's position is reset).
    connect(m_scrollBar, &QScrollBar::actionTriggered, this,
            [this](int action)
            {
                int32_t code = -1;
                switch (action)
                {
                case QAbstractSlider::SliderSingleStepSub:
                    code = 0;
                    break;
                case QAbstractSlider::SliderSingleStepAdd:
                    code = 1;
                    break;
                case QAbstractSlider::SliderPageStepSub:
                    code = 2;
                    break;
                case QAbstractSlider::SliderPageStepAdd:
                    code = 3;
                    break;
                case QAbstractSlider::SliderMove:
                    code = 4;
                    break;
                default:
                    break;
                }
                int32_t thumb = m_scrollBar->sliderPosition();
                m_scrollBar->setSliderPosition(m_scrollPosition);
                OnVScroll(code, thumb);
            });
    resize(CONTENT_WIDTH + m_scrollBar->sizeHint().width(), CONTENT_HEIGHT + m_menuBar->sizeHint().height());
}

QAction *CKOVAClientPHASE4Dlg::Action(int32_t command) const
{
    auto it = m_actions.find(command);
    return it != m_actions.end() ? it->second : nullptr;
}

void CKOVAClientPHASE4Dlg::EnableMenuItem(int32_t command, bool enabled)
{
    if (QAction *action = Action(command))
    {
        action->setEnabled(enabled);
    }
}

bool CKOVAClientPHASE4Dlg::OnInitDialog()
{
    const char *fn = "CKOVAClientPHASE4Dlg::OnInitDialog";
    if (!TakeSingleInstance())
    {
        return true;
    }
    KovaLog(m_logger.get(), KOVA_ACTIVITY, fn, k_source, __LINE__, "Initializing dialog");
    m_startupHeight = CONTENT_HEIGHT;
    m_scrollPosition = 0;
    setMaximumSize(size()); // the window never grows past its start-up size
    SetWindowText(QStringLiteral("KOVA"));
    m_logTab->SetLogger(m_logger.get());
    m_statisticsTab->SetLogger(m_logger.get());

    KovaLog(m_logger.get(), KOVA_ACTIVITY, fn, k_source, __LINE__, "Initializing all members.");
    KovaLog(m_logger.get(), KOVA_ACTIVITY, fn, k_source, __LINE__,
            "Reading path of common config file from registry.");
    GetNumberOfMarkets();
    KovaLog(m_logger.get(), KOVA_ACTIVITY, fn, k_source, __LINE__,
            "Initializing types of market, configuration file paths and port numbers.from registry.");
    InitTypesOfMarketsConfigFilePathsAndPorts();

    CreateLogPages();
    despatch_threads_for_logs_windows();
    CreateStatisticsPages();
    despatch_threads_for_statistics_windows();
    FillStatusList();
    UpdateLinkStatus();
    m_statusThread = std::thread(show_qel_status, this);
    OpenFromCommandLine();
    return true;
}

bool CKOVAClientPHASE4Dlg::TakeSingleInstance()
{
    m_singleInstance = new CKovaSingleInstance(this);
    CKovaSingleInstance::Result instance =
        m_singleInstance->Create(QString::fromUtf8(k_single_instance_name));
    if (instance == CKovaSingleInstance::ALREADY_EXISTS)
    {
        m_secondInstance = true;
        EndDialog(0);
        return false;
    }
    if (instance == CKovaSingleInstance::FAILED)
    {
        KovaLog(m_logger.get(), KOVA_SYSTEM_ERROR, "CKOVAClientPHASE4Dlg::OnInitDialog", k_source, __LINE__,
                "Cannot create the single-instance event %s", k_single_instance_name);
    }
    return true;
}

void CKOVAClientPHASE4Dlg::CreateLogPages()
{
    // One tab per installed market.
    for (int32_t i = 0; i < KOVA_MARKET_COUNT; ++i)
    {
        if (m_marketType[i] != KOVA_NOT_INSTALLED)
        {
            int32_t tab =
                m_logTab->InsertTab(m_logTab->PageCount() + 0x7fff, QString::fromUtf8(KovaMarketName(i + 1)));
            m_logTemplates[tab] = IDD_LOGS;
        }
    }
    CDialog *log_pages[KOVA_MARKET_COUNT] = {};
    m_logTab->CreatePages(m_logTemplates, log_pages, m_marketType, m_numberOfMarkets, CPageTabCtrl::KIND_LOGS,
                          m_logger.get());
    for (int32_t k = 0; k < m_numberOfMarkets; ++k)
    {
        m_logPages[k] = static_cast<CGenericLogs *>(log_pages[k]);
        m_logPages[k]->SetStatusList(m_statusList);
        int32_t market = m_logPages[k]->MarketType();
        if (market >= 1 && market <= KOVA_MARKET_COUNT)
        {
            m_logPageOfMarket[market - 1] = m_logPages[k];
        }
        connect(m_logPages[k], &CGenericLogs::linkChanged, this, [this] { UpdateLinkStatus(); });
        KovaLog(m_logger.get(), KOVA_ACTIVITY, "CKOVAClientPHASE4Dlg::OnInitDialog", k_source, __LINE__,
                "QEL status list control's handle assigned to m_dialog_handles_for_tab_display_for_logs[%d]",
                k);
    }
    m_logTab->SetCurSel(0);
    m_logTab->ShowSelectedPage();
}

void CKOVAClientPHASE4Dlg::CreateStatisticsPages()
{
    // "Common", then one tab per installed market.
    m_statisticsTab->InsertTab(0, QStringLiteral("Common"));
    for (int32_t i = 0; i < KOVA_MARKET_COUNT; ++i)
    {
        if (m_marketType[i] != KOVA_NOT_INSTALLED)
        {
            m_statisticsTab->InsertTab(0x7fff, QString::fromUtf8(KovaMarketName(i + 1)));
        }
    }
    for (int32_t i = 0; i <= m_numberOfMarkets && i < KOVA_STATISTICS_PAGES_MAX; ++i)
    {
        m_statisticsTemplates[i] = IDD_STATISTICS;
    }
    CDialog *statistics_pages[KOVA_STATISTICS_PAGES_MAX] = {};
    m_statisticsTab->CreatePages(m_statisticsTemplates, statistics_pages, m_marketType, m_numberOfMarkets + 1,
                                 CPageTabCtrl::KIND_STATISTICS, m_logger.get());
    for (int32_t i = 0; i < KOVA_STATISTICS_PAGES_MAX; ++i)
    {
        m_statisticsPages[i] = static_cast<CGenericStatistics *>(statistics_pages[i]);
    }
    m_statisticsTab->SetCurSel(0);
    m_statisticsTab->ShowSelectedPage();
}

void CKOVAClientPHASE4Dlg::FillStatusList()
{
    m_statusList->InsertColumn(0, QStringLiteral("Market"), 100);
    m_statusList->InsertColumn(1, QStringLiteral("Status"), 100);
    m_statusList->InsertColumn(2, QStringLiteral("Version"), 100);
    m_statusList->SetFullRowSelect(true);
    for (int32_t i = 0; i < KOVA_MARKET_COUNT; ++i)
    {
        if (m_marketType[i] != KOVA_NOT_INSTALLED)
        {
            int row = m_statusList->InsertItem(m_statusList->GetItemCount(),
                                               QString::fromUtf8(KovaMarketName(i + 1)));
            m_statusList->SetItemText(row, 1, QStringLiteral("Not Running"));
            m_statusRowOfMarket[i] = row;
        }
    }
}

void CKOVAClientPHASE4Dlg::OpenFromCommandLine()
{
    // Only "-c <market>" opens something: that market's configuration.
    const char *fn = "CKOVAClientPHASE4Dlg::OnInitDialog";
    if (m_arguments.isEmpty() || m_arguments[0] != QStringLiteral("-c") || m_arguments.size() < 2)
    {
        return;
    }
    int market = 0;
    QByteArray argument = m_arguments[1].toUtf8();
    if (sscanf(argument.constData(), "%d", &market) != 1 || market < 1 || market > KOVA_MARKET_COUNT)
    {
        KovaLog(m_logger.get(), KOVA_ACTIVITY, fn, k_source, __LINE__,
                "Invalid market type specified. Not opening any configuration window");
        return;
    }
    if (m_marketType[market - 1] == KOVA_NOT_INSTALLED)
    {
        KovaLog(m_logger.get(), KOVA_ACTIVITY, fn, k_source, __LINE__,
                "Market %s not installed. Not opening configuration window", KovaMarketName(market));
        return;
    }
    PostCommand(ID_COMMAND_LINE_CONFIGURATION_BASE + market);
    KovaLog(m_logger.get(), KOVA_ACTIVITY, fn, k_source, __LINE__, "Posted message to open %s configuration",
            KovaMarketName(market));
}

void CKOVAClientPHASE4Dlg::GetNumberOfMarkets()
{
    const char *fn = "CKOVAClientPHASE4Dlg::GetNumberOfMarkets";
    pf_reg_key *key = nullptr;
    if (pf_reg_open_key(nullptr, k_base_key, &key) != 0)
    {
        KovaLog(m_logger.get(), KOVA_SYSTEM_ERROR, fn, k_source, __LINE__, "Cannot open registry for %s.",
                k_base_key);
        return;
    }
    char path[PATH_SIZE];
    uint32_t result = pf_reg_query_string(key, "REPO_CONFIG_FILE_PATH", path, sizeof path);
    pf_reg_close_key(key);
    if (result != 0)
    {
        KovaLog(m_logger.get(), KOVA_SYSTEM_ERROR, fn, k_source, __LINE__,
                "Cannot query registry. Error = %u.", result);
        return;
    }
    m_commonConfigFilePath = path;
    KovaLog(m_logger.get(), KOVA_ACTIVITY, fn, k_source, __LINE__, "Read common config file path = %s", path);
}

void CKOVAClientPHASE4Dlg::InitTypesOfMarketsConfigFilePathsAndPorts()
{
    const char *fn = "CKOVAClientPHASE4Dlg::InitTypesOfMarketsConfigFilePathsAndPorts";
    bool any_fix = false;
    for (int32_t market = 1; market <= KOVA_MARKET_COUNT; ++market)
    {
        char path[64];
        snprintf(path, sizeof path, "%s\\%d", k_base_key, market);
        pf_reg_key *key = nullptr;
        if (pf_reg_open_key(nullptr, path, &key) != 0)
        {
            KovaLog(m_logger.get(), KOVA_ACTIVITY, fn, k_source, __LINE__, "Market %s is not installed",
                    KovaMarketName(market));
            continue;
        }
        ++m_numberOfMarkets;
        KovaLog(m_logger.get(), KOVA_ACTIVITY, fn, k_source, __LINE__, "Market %s is installed",
                KovaMarketName(market));
        m_marketType[market - 1] = market;
        bool complete = ReadMarketKey(market, key);
        pf_reg_close_key(key);
        if (!complete)
        {
            // This market stays counted, with its items disabled, and the markets after
            // it are not looked at.
            return;
        }
        any_fix = any_fix || g_kova_fix_enabled[market - 1] != 0;
        EnableMarketMenus(market);
    }
    if (!any_fix)
    {
        m_fixUserMenu->menuAction()->setEnabled(false);
        m_fixSessionMenu->menuAction()->setEnabled(false);
    }
}

bool CKOVAClientPHASE4Dlg::ReadMarketKey(int32_t market, pf_reg_key *key)
{
    const char *fn = "CKOVAClientPHASE4Dlg::InitTypesOfMarketsConfigFilePathsAndPorts";
    CLogger *log = m_logger.get();
    int32_t i = market - 1;
    uint32_t port = 0;
    char text[PATH_SIZE];
    if (pf_reg_query_dword(key, "INTERFACE_THREAD_NON_INTERACTIVE_PORT", &port) != 0)
    {
        KovaLog(log, KOVA_SYSTEM_ERROR, fn, k_source, __LINE__, "Cannot query registry for %s.",
                "INTERFACE_THREAD_NON_INTERACTIVE_PORT");
        return false;
    }
    m_nonInteractivePort[i] = static_cast<int32_t>(port);
    KovaLog(log, KOVA_ACTIVITY, fn, k_source, __LINE__, "Read interface_thread_non_interactive_port = %d",
            m_nonInteractivePort[i]);
    if (pf_reg_query_dword(key, "INTERFACE_THREAD_INTERACTIVE_PORT", &port) != 0)
    {
        KovaLog(log, KOVA_SYSTEM_ERROR, fn, k_source, __LINE__, "Cannot query registry for %s.",
                "INTERFACE_THREAD_INTERACTIVE_PORT");
        return false;
    }
    m_interactivePort[i] = static_cast<int32_t>(port);
    KovaLog(log, KOVA_ACTIVITY, fn, k_source, __LINE__, "Read interface_thread_interactive_port = %d",
            m_interactivePort[i]);
    if (pf_reg_query_string(key, "CONFIG_FILE_PATH", text, sizeof text) != 0)
    {
        KovaLog(log, KOVA_SYSTEM_ERROR, fn, k_source, __LINE__, "Cannot query registry for %s.",
                "CONFIG_FILE_PATH");
        return false;
    }
    m_configFilePath[i] = text;
    KovaLog(log, KOVA_ACTIVITY, fn, k_source, __LINE__, "Read QEL config file path = %s", text);
    if (pf_reg_query_string(key, "FIX_CONFIG_FILE_PATH", text, sizeof text) != 0)
    {
        g_kova_fix_enabled[i] = 0;
        KovaLog(log, KOVA_ACTIVITY, fn, k_source, __LINE__, "Cannot query registry for %s.",
                "FIX_CONFIG_FILE_PATH");
        return true;
    }
    g_kova_fix_enabled[i] = 1;
    m_fixConfigFilePath[i] = text;
    KovaLog(log, KOVA_ACTIVITY, fn, k_source, __LINE__, "Market %s is FIX enabled", KovaMarketName(market));
    KovaLog(log, KOVA_ACTIVITY, fn, k_source, __LINE__, "Read FIX config file path = %s", text);
    return true;
}

void CKOVAClientPHASE4Dlg::EnableMarketMenus(int32_t market)
{
    const char *fn = "CKOVAClientPHASE4Dlg::InitTypesOfMarketsConfigFilePathsAndPorts";
    CLogger *log = m_logger.get();
    int32_t i = market - 1;
    KovaLog(log, KOVA_ACTIVITY, fn, k_source, __LINE__, "Enabling QEL configuraion menu");
    EnableMenuItem(k_qel_configuration[i], true);
    KovaLog(log, KOVA_ACTIVITY, fn, k_source, __LINE__, "Enabled.");
    KovaLog(log, KOVA_ACTIVITY, fn, k_source, __LINE__, "Enabling Active users menu");
    EnableMenuItem(k_active_users[i], true);
    KovaLog(log, KOVA_ACTIVITY, fn, k_source, __LINE__, "Enabled.");
    if (g_kova_fix_enabled[i])
    {
        KovaLog(log, KOVA_ACTIVITY, fn, k_source, __LINE__, "Enabling FIX - User configuraion menu");
        EnableMenuItem(fix_user_command(i), true);
        KovaLog(log, KOVA_ACTIVITY, fn, k_source, __LINE__, "Enabled.");
        KovaLog(log, KOVA_ACTIVITY, fn, k_source, __LINE__, "Enabling FIX configuraion menu");
        EnableMenuItem(fix_session_command(i), true);
        KovaLog(log, KOVA_ACTIVITY, fn, k_source, __LINE__, "Enabled.");
    }
}

void CKOVAClientPHASE4Dlg::despatch_threads_for_logs_windows()
{
    const char *fn = "CKOVAClientPHASE4Dlg::despatch_threads_for_logs_windows";
    int32_t market_index = 0;
    for (int32_t k = 0; k < m_numberOfMarkets; ++k)
    {
        while (market_index < KOVA_MARKET_COUNT && m_marketType[market_index] == KOVA_NOT_INSTALLED)
        {
            ++market_index;
        }
        if (market_index >= KOVA_MARKET_COUNT || m_logPages[k] == nullptr)
        {
            break;
        }
        int32_t i = market_index++;
        m_logsInput[k].reset(new INPUT_FOR_LOGS_THREAD{m_logPages[k], m_interactivePort[i],
                                                       m_nonInteractivePort[i], m_logger.get()});
        KovaLog(m_logger.get(), KOVA_ACTIVITY, fn, k_source, __LINE__,
                "Details of INPUT_FOR_LOGS_THREAD for market type %d - %s", m_marketType[i],
                KovaMarketName(m_marketType[i]));
        KovaLog(m_logger.get(), KOVA_DETAIL, fn, k_source, __LINE__,
                "interface_thread_non_interactive_port = %d", m_nonInteractivePort[i]);
        KovaLog(m_logger.get(), KOVA_DETAIL, fn, k_source, __LINE__, "interface_thread_interactive_port = %d",
                m_interactivePort[i]);
        KovaLog(m_logger.get(), KOVA_ACTIVITY, fn, k_source, __LINE__, "Initializing connection data");
        m_logPages[k]->SetLinkData(m_logsInput[k].get());
        KovaLog(m_logger.get(), KOVA_ACTIVITY, fn, k_source, __LINE__, "Done");
    }
}

void CKOVAClientPHASE4Dlg::despatch_threads_for_statistics_windows()
{
    const char *fn = "CKOVAClientPHASE4Dlg::despatch_threads_for_statistics_windows";
    for (int32_t i = 0; i < KOVA_STATISTICS_PAGES_MAX; ++i)
    {
        m_statisticsInput.pages[i] = m_statisticsPages[i];
    }
    for (int32_t i = 0; i < KOVA_MARKET_COUNT; ++i)
    {
        m_statisticsInput.market_types[i] = m_marketType[i];
        KovaLog(m_logger.get(), KOVA_ACTIVITY, fn, k_source, __LINE__,
                "Market type of INPUT_FOR_STATISTICS_THREAD for index [%d] is %d - %s", i, m_marketType[i],
                KovaMarketName(m_marketType[i]));
    }
    m_statisticsInput.logger = m_logger.get();
    m_statisticsInput.main_window = this;
    m_statisticsThread = std::thread(show_qel_statistics, &m_statisticsInput);
}

bool CKOVAClientPHASE4Dlg::SleepUnlessStopped(int32_t ms)
{
    std::unique_lock<std::mutex> lock(m_sleepMutex);
    return !m_sleepWake.wait_for(lock, std::chrono::milliseconds(ms),
                                 [this] { return m_stopThreads.load(); });
}

void CKOVAClientPHASE4Dlg::StopThreads()
{
    {
        std::lock_guard<std::mutex> guard(m_sleepMutex);
        m_stopThreads.store(true);
    }
    m_sleepWake.notify_all();
    if (m_statusThread.joinable())
    {
        m_statusThread.join();
    }
    if (m_statisticsThread.joinable())
    {
        m_statisticsThread.join();
    }
}

void CKOVAClientPHASE4Dlg::show_qel_status(CKOVAClientPHASE4Dlg *window)
{
    KovaLog(window->m_logger.get(), KOVA_ACTIVITY, "CKOVAClientPHASE4Dlg::show_qel_status", k_source,
            __LINE__, "Thread id for show_qel_status thread is [%u]", pf_thread_current_id());
    int32_t previous[KOVA_MARKET_COUNT];
    for (int32_t &state : previous)
    {
        state = QEL_NOT_RUNNING;
    }
    do
    {
        window->StatusPass(previous);
    } while (window->SleepUnlessStopped(STATUS_INTERVAL_MS));
}

void CKOVAClientPHASE4Dlg::StatusPass(int32_t *previous)
{
    m_logger->RollOverIfNewDay();
    if (m_singleInstance != nullptr && m_singleInstance->TestAndReset())
    {
        KovaPostToUiThread(this, [this] { ShowAnotherInstance(); });
    }
    for (int32_t i = 0; i < KOVA_MARKET_COUNT; ++i)
    {
        if (m_marketType[i] == KOVA_NOT_INSTALLED)
        {
            continue;
        }
        int32_t current = qel_status_query(i + 1) == 1 ? QEL_RUNNING : QEL_NOT_RUNNING;
        int32_t row = m_statusRowOfMarket[i];
        CGenericLogs *page = m_logPageOfMarket[i];
        if (current != previous[i])
        {
            QString text = current == QEL_RUNNING ? QStringLiteral("Running") : QStringLiteral("Not Running");
            KovaPostToUiThread(this, [this, row, text] { m_statusList->SetItemText(row, 1, text); });
        }
        if (page != nullptr)
        {
            if (current == QEL_RUNNING && previous[i] == QEL_NOT_RUNNING)
            {
                KovaLog(m_logger.get(), KOVA_ACTIVITY, "CKOVAClientPHASE4Dlg::show_qel_status", k_source,
                        __LINE__, "Attempting to connect...for market %s", KovaMarketName(i + 1));
                KovaPostToUiThread(page, [page] { page->ConnectToGateway(); });
            }
            else if (current == QEL_RUNNING)
            {
                // Refused in the moment before the gateway listens, or dropped: again.
                KovaPostToUiThread(page, [page] { page->EnsureConnection(); });
            }
            else if (previous[i] == QEL_RUNNING)
            {
                KovaPostToUiThread(page, [page] { page->GatewayStopped(); });
            }
        }
        previous[i] = current;
    }
}

void CKOVAClientPHASE4Dlg::ShowAnotherInstance()
{
    show();
    raise();
    activateWindow();
    KovaMessageBox(this, QStringLiteral("Another instance of KOVA is already running."),
                   QStringLiteral("KOVA"));
}

int32_t CKOVAClientPHASE4Dlg::qel_status_query(int32_t market)
{
    char name[64];
    snprintf(name, sizeof name, "qel_ip_%s.exe", KovaMarketLowerName(market));
    if (KovaMarketLowerName(market)[0] == '\0')
    {
        return 0; // no market, no name that could match
    }
    pf_process_snapshot *snapshot = nullptr;
    uint32_t error = pf_process_snapshot_create(&snapshot);
    if (error != 0)
    {
        KovaLog(
            m_logger.get(), KOVA_SYSTEM_ERROR, "CKOVAClientPHASE4Dlg::qel_status_query", k_source, __LINE__,
            "Error in CreateToolhelp32Snapshot(). Cannot retrieve snapshot for processes. Error [%u]", error);
        return 0;
    }
    ProcessFilter filter;
    {
        std::lock_guard<std::mutex> guard(g_hooks_mutex);
        filter = g_process_filter;
    }
    int32_t running = 0;
    for (uint32_t i = 0; i < pf_process_snapshot_count(snapshot) && running == 0; ++i)
    {
        const pf_process_entry *entry = pf_process_snapshot_entry(snapshot, i);
        if (pf_process_name_equal(entry->name, name) && (!filter || filter(entry->pid)))
        {
            running = 1;
        }
    }
    pf_process_snapshot_destroy(snapshot);
    return running;
}

void CKOVAClientPHASE4Dlg::show_qel_statistics(INPUT_FOR_STATISTICS_THREAD *input)
{
    const char *fn = "CKOVAClientPHASE4Dlg::show_qel_statistics";
    CKOVAClientPHASE4Dlg *window = input->main_window;
    KovaLog(input->logger, KOVA_ACTIVITY, fn, k_source, __LINE__,
            "Thread id for show_qel_statistics thread is [%u]", pf_thread_current_id());
    char path[64];
    snprintf(path, sizeof path, "%s\\%s\\%d", k_base_key, "COMMON", 1);
    pf_reg_key *key = nullptr;
    char folder[PATH_SIZE];
    bool read = false;
    if (pf_reg_open_key(nullptr, path, &key) != 0)
    {
        KovaLog(input->logger, KOVA_EVENT, fn, k_source, __LINE__,
                "Cannot open registry for statistics thread.");
    }
    else
    {
        read = pf_reg_query_string(key, "CURRENT_FILES_PATH", folder, sizeof folder) == 0;
        if (!read)
        {
            KovaLog(input->logger, KOVA_EVENT, fn, k_source, __LINE__, "Cannot query registry for %s.",
                    "CURRENT_FILES_PATH");
        }
        pf_reg_close_key(key);
    }
    if (!read)
    {
        KovaPostToUiThread(
            window, [window]
            { KovaMessageBox(window, QStringLiteral("QEL Setup Error."), QStringLiteral("Error")); });
        return;
    }
    QDir dir(QString::fromUtf8(folder));
    do
    {
        const QFileInfoList entries =
            dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
        for (const QFileInfo &entry : entries)
        {
            ReadStatisticsFile(input->pages, entry.filePath().toUtf8().constData(),
                               static_cast<uint64_t>(entry.size()));
        }
        int64_t now = static_cast<int64_t>(time(nullptr));
        for (CGenericStatistics *page : input->pages)
        {
            if (page != nullptr)
            {
                KovaPostToUiThread(page, [page, now] { page->BlankStaleRows(now); });
            }
        }
    } while (window->SleepUnlessStopped(STATISTICS_INTERVAL_MS));
}

void CKOVAClientPHASE4Dlg::UpdateLinkStatus()
{
    int selected = m_logTab->GetCurSel();
    CGenericLogs *page = selected >= 0 && selected < m_numberOfMarkets ? m_logPages[selected] : nullptr;
    if (page == nullptr)
    {
        m_linkStatus->clear();
        return;
    }
    QString name = QString::fromUtf8(KovaMarketName(page->MarketType()));
    m_linkStatus->setText(page->LinkUp() ? QStringLiteral("Link to the %1 gateway: up").arg(name)
                                         : QStringLiteral("Link to the %1 gateway: down").arg(name));
}

void CKOVAClientPHASE4Dlg::PostCommand(int32_t command)
{
    QMetaObject::invokeMethod(
        this, [this, command] { OnCommand(command); }, Qt::QueuedConnection);
}

void CKOVAClientPHASE4Dlg::OnCommand(int32_t command)
{
    if (int32_t market = market_of(k_qel_configuration, command))
    {
        OpenQelConfiguration(market, 0);
    }
    else if (command > ID_COMMAND_LINE_CONFIGURATION_BASE &&
             command <= ID_COMMAND_LINE_CONFIGURATION_BASE + KOVA_MARKET_COUNT)
    {
        OpenQelConfiguration(command - ID_COMMAND_LINE_CONFIGURATION_BASE, 1);
    }
    else if (int32_t users_market = market_of(k_active_users, command))
    {
        OpenActiveUsers(users_market);
    }
    else if (command >= ID_FIX_USER_CONFIGURATION_FIRST &&
             command < ID_FIX_USER_CONFIGURATION_FIRST + KOVA_MARKET_COUNT)
    {
        OpenFixUserConfiguration(command - ID_FIX_USER_CONFIGURATION_FIRST + 1);
    }
    else if (command >= ID_FIX_SESSION_CONFIGURATION_FIRST &&
             command < ID_FIX_SESSION_CONFIGURATION_FIRST + KOVA_MARKET_COUNT)
    {
        OpenFixSessionConfiguration(command - ID_FIX_SESSION_CONFIGURATION_FIRST + 1);
    }
    else if (command == ID_QEL_CONFIGURATION_COMMON)
    {
        OpenCommonConfiguration();
    }
    else if (command == ID_START_APPLICATIONS)
    {
        StartApplications();
    }
    else if (command == ID_ABOUT_KOVA || command == IDM_ABOUTBOX)
    {
        OpenAbout();
    }
    else if (command == ID_HELP_KOVA)
    {
        KOVAHelp();
    }
    else if (command == ID_EXIT_KOVA)
    {
        ExitKOVA();
    }
}

// The configuration dialogs are opened here, each modally with what it is to edit (tests
// see which one was asked for through the hook instead).
void CKOVAClientPHASE4Dlg::OpenQelConfiguration(int32_t market, int32_t command_line)
{
    if (TakenByDialogHook(command_line ? "CGenericConfiguration -c" : "CGenericConfiguration", market))
        return;
    CGenericConfiguration dialog(market, m_configFilePath[market - 1], m_fixConfigFilePath[market - 1],
                                 m_interactivePort[market - 1], m_logger.get(), this, command_line);
    dialog.DoModal();
}

void CKOVAClientPHASE4Dlg::OpenCommonConfiguration()
{
    if (TakenByDialogHook("CCommonConfig", KOVA_COMMON_MARKET_ID))
        return;
    CCommonConfig dialog(KOVA_COMMON_MARKET_ID, m_commonConfigFilePath, m_logger.get(), this);
    dialog.DoModal();
}

void CKOVAClientPHASE4Dlg::OpenFixUserConfiguration(int32_t market)
{
    if (TakenByDialogHook("CFixUserSessions", market))
        return;
    CFixUserSessions dialog(market, m_configFilePath[market - 1], m_fixConfigFilePath[market - 1],
                            m_interactivePort[market - 1], m_logger.get(), this);
    dialog.DoModal();
}

void CKOVAClientPHASE4Dlg::OpenFixSessionConfiguration(int32_t market)
{
    if (TakenByDialogHook("CFixConfiguration", market))
        return;
    CFixConfiguration dialog(market, m_configFilePath[market - 1], m_fixConfigFilePath[market - 1],
                             m_interactivePort[market - 1], m_logger.get(), this);
    dialog.DoModal();
}

void CKOVAClientPHASE4Dlg::OpenActiveUsers(int32_t market)
{
    if (TakenByDialogHook("CGenericActiveUsersList", market))
        return;
    CGenericActiveUsersList dialog(market, m_interactivePort[market - 1], m_logger.get(), this);
    dialog.DoModal();
}

void CKOVAClientPHASE4Dlg::OpenAbout()
{
    if (TakenByDialogHook("CAboutDlg", 0))
        return;
    CAboutDlg about(m_logger.get(), this);
    about.setWindowIcon(windowIcon());
    about.DoModal();
}

void CKOVAClientPHASE4Dlg::StartApplications()
{
    const char *fn = "CKOVAClientPHASE4Dlg::StartApplications";
    auto show_failure = [this]
    { KovaMessageBox(this, QStringLiteral("Couldn't start QEL application"), QStringLiteral("Error")); };
    // Opening the service manager: its folder must be there and readable.
    QFileInfo folder(QString::fromUtf8(pf_service_dir()));
    uint32_t error = !folder.exists()                          ? uint32_t{SCM_DATABASE_DOES_NOT_EXIST}
                     : !folder.isDir() || !folder.isReadable() ? uint32_t{SCM_ACCESS_DENIED}
                                                               : 0;
    if (error != 0)
    {
        KovaLog(m_logger.get(), KOVA_SYSTEM_ERROR, fn, k_source, __LINE__,
                "Error in OpenSCManager(). Cannot access Service Control. Error [%u]", error);
        show_failure();
        return;
    }
    pf_service_query_result query;
    error = pf_service_query(k_service_name, &query);
    if (error != 0)
    {
        KovaLog(m_logger.get(), KOVA_SYSTEM_ERROR, fn, k_source, __LINE__,
                "Error in OpenService(). Cannot access QEL Service. Error [%u]", error);
        show_failure();
        return;
    }
    error = pf_service_control(k_service_name, START_APPLICATIONS_CONTROL, nullptr);
    if (error != 0)
    {
        KovaLog(m_logger.get(), KOVA_SYSTEM_ERROR, fn, k_source, __LINE__,
                "Error in ControlService(). Cannot send control signal to QEL serivce. Error [%u]", error);
        show_failure();
    }
}

void CKOVAClientPHASE4Dlg::ExitKOVA()
{
    const char *fn = "CKOVAClientPHASE4Dlg::ExitKOVA";
    if (KovaMessageBox(this, QStringLiteral("Are you sure you want to exit KOVA?"), QStringLiteral("KOVA"),
                       MB_YESNO | MB_ICONQUESTION) == IDNO)
    {
        return;
    }
    KovaLog(m_logger.get(), KOVA_ACTIVITY, fn, k_source, __LINE__, "Killing QEL status thread.");
    {
        std::lock_guard<std::mutex> guard(m_sleepMutex);
        m_stopThreads.store(true);
    }
    m_sleepWake.notify_all();
    if (m_statusThread.joinable())
    {
        m_statusThread.join();
    }
    KovaLog(m_logger.get(), KOVA_ACTIVITY, fn, k_source, __LINE__, "Killing QEL statistics thread.");
    if (m_statisticsThread.joinable())
    {
        m_statisticsThread.join();
    }
    EndDialog(m_dialogResult);
}

void CKOVAClientPHASE4Dlg::KOVAHelp()
{
    KovaOpenHelpFile(m_logger.get(), this);
}

void KovaOpenHelpFile(CLogger *logger, QWidget *parent)
{
    const char *fn = "CKOVAClientPHASE4Dlg::KOVAHelp";
    QString path = QDir::currentPath() + QStringLiteral("/") + QString::fromUtf8(k_help_file);
    QByteArray path_text = path.toUtf8();
    KovaLog(logger, KOVA_ACTIVITY, fn, k_source, __LINE__, "Help file path is %s", path_text.constData());
    if (!QFileInfo(path).isFile())
    {
        KovaLog(logger, KOVA_SYSTEM_ERROR, fn, k_source, __LINE__, "Help file %s not found",
                path_text.constData());
        KovaMessageBox(parent, QStringLiteral("Help file %1 not found.").arg(path), QStringLiteral("KOVA"));
        return;
    }
    CKOVAClientPHASE4Dlg::HelpOpener opener;
    {
        std::lock_guard<std::mutex> guard(g_hooks_mutex);
        opener = g_help_opener;
    }
    bool opened = opener ? opener(path) : QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    if (!opened)
    {
        KovaLog(logger, KOVA_SYSTEM_ERROR, fn, k_source, __LINE__, "Cannot open help file %s",
                path_text.constData());
        KovaMessageBox(parent, QStringLiteral("Cannot open help file %1.").arg(path), QStringLiteral("KOVA"));
    }
}

void CKOVAClientPHASE4Dlg::SetDialogHookForTests(DialogHook hook)
{
    std::lock_guard<std::mutex> guard(g_hooks_mutex);
    g_dialog_hook = std::move(hook);
}

void CKOVAClientPHASE4Dlg::SetHelpOpener(HelpOpener opener)
{
    std::lock_guard<std::mutex> guard(g_hooks_mutex);
    g_help_opener = std::move(opener);
}

void CKOVAClientPHASE4Dlg::SetProcessFilterForTests(ProcessFilter filter)
{
    std::lock_guard<std::mutex> guard(g_hooks_mutex);
    g_process_filter = std::move(filter);
}

void CKOVAClientPHASE4Dlg::resizeEvent(QResizeEvent *event)
{
    CDialog::resizeEvent(event);
    if (m_viewport == nullptr)
    {
        return;
    }
    // The range is what the start-up content exceeds the visible area by.
    m_clientHeight = m_viewport->height();
    int32_t range = m_clientHeight >= m_startupHeight ? 0 : m_startupHeight - m_clientHeight;
    m_scrollPosition = 0;
    m_content->move(0, 0);
    m_scrollBar->setRange(0, range);
    m_scrollBar->setPageStep(range / 10);
    m_scrollBar->setSingleStep(range / 100);
    m_scrollBar->setSliderPosition(0);
    m_scrollBar->setEnabled(range > 0); // shown disabled rather than hidden
}

void CKOVAClientPHASE4Dlg::OnVScroll(int32_t code, int32_t thumb)
{
    int32_t range = m_startupHeight - m_clientHeight;
    if (range < 0)
    {
        range = 0;
    }
    int32_t p = m_scrollPosition;
    int32_t move = 0;
    switch (code)
    {
    case 0: // line up
    case 2: // page up
    {
        if (p < 1)
            return;
        int32_t step = code == 0 ? range / 100 : range / 10;
        move = -(p < step ? p : step);
        break;
    }
    case 1: // line down
    case 3: // page down
    {
        if (p >= range)
            return;
        int32_t step = code == 1 ? range / 100 : range / 10;
        move = step < range - p ? step : range - p;
        break;
    }
    case 4: // thumb position
        move = thumb - p;
        break;
    default:
        return;
    }
    m_scrollPosition = p + move;
    m_scrollBar->setSliderPosition(m_scrollPosition);
    m_content->move(0, -m_scrollPosition);
}
