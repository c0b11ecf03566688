// The live event log page: version check, widened-user-id flags, events newest first,
// and the page's link kept up while its gateway runs.
#include "console/kova_generic_logs.h"

#include <algorithm>

#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidgetItem>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "common/ea_time.h"
#include "console/kova_logger.h"
#include "console/kova_markets.h"
#include "console/kova_reason_codes.h"
#include "console/shim/kova_list.h"
#include "console/shim/kova_message_box.h"

namespace
{
const char *const k_source = "GenericLogs";

enum : int32_t
{
    TRANSCODE_KOVA_LOG_MESSAGE = 10000,
    TRANSCODE_VERSION_CHECK = 10002,
    VERSION_OFFSET = 30,
    EVENT_TIME_OFFSET = 22,
    EVENT_USER_OFFSET = 32,
    WIDENED_REASON_OFFSET = 36,
    WIDENED_EXTRA_OFFSET = 38,
    NARROW_REASON_OFFSET = 34,
    NARROW_EXTRA_OFFSET = 36,
};

// Reference versions of markets 1 to 7 (release * 100 + market code).
const int32_t k_reference_versions[KOVA_MARKET_COUNT + 1] = {0,     10101, 10102, 30903,
                                                             30904, 10105, 30906, 30107};

uint16_t get_u16_le(const uint8_t *bytes)
{
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

uint32_t get_u32_le(const uint8_t *bytes)
{
    return static_cast<uint32_t>(get_u16_le(bytes)) | (static_cast<uint32_t>(get_u16_le(bytes + 2)) << 16);
}

void exit_at_once(int code)
{
    // Nothing else is cleaned up: the other threads may still be running.
    fflush(nullptr);
    std::_Exit(code);
}

CGenericLogs::ExitProcess g_exit_process = exit_at_once;

// Day and month names stay English whatever locale the desktop sets.
const char *const k_days[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char *const k_months[12] = {"January", "February", "March",     "April",   "May",      "June",
                                  "July",    "August",   "September", "October", "November", "December"};
} // namespace

CGenericLogs::CGenericLogs(CLogger *logger, QWidget *parent)
    : CDialog(parent), m_logger(logger), m_helper(nullptr), m_versionState(VERSION_NOT_ACCEPTED),
      m_marketType(KOVA_NOT_INSTALLED), m_statusList(nullptr), m_list(nullptr), m_linkState(LINK_NONE),
      m_failureLogged(false), m_localFailure(false), m_rowsDropped(false), m_flushTimer(nullptr)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(new QLabel(QStringLiteral("LOG MESSAGES"), this));
    m_list = new CListCtrl(this);
    SetControlId(m_list, IDC_LIST_LOGS);
    layout->addWidget(m_list);
    m_flushTimer = new QTimer(this);
    m_flushTimer->setSingleShot(true);
    m_flushTimer->setInterval(FLUSH_INTERVAL_MS);
    connect(m_flushTimer, &QTimer::timeout, this, [this] { FlushEvents(); });
}

CGenericLogs::~CGenericLogs()
{
    delete m_helper;
    DropPendingEvents();
}

bool CGenericLogs::OnInitDialog()
{
    m_list->InsertColumn(0, QStringLiteral("User ID"), 50);
    // The longest time text stays whole: the window's 200 pixels were laid out for a
    // smaller font than this one.
    const int timeWidth =
        m_list->fontMetrics().horizontalAdvance(QStringLiteral("Wednesday, September 30, 2026, 23:59:59")) +
        16;
    m_list->InsertColumn(1, QStringLiteral("Time"), std::max(200, timeWidth));
    m_list->InsertColumn(2, QStringLiteral("Message"), 400);
    m_list->InsertColumn(3, QStringLiteral("Reason"), 50);
    m_list->SetFullRowSelect(true);
    // Scrolling by rows lets a new event on top leave the rows the operator reads in place.
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    return true;
}

void CGenericLogs::SetLinkData(INPUT_FOR_LOGS_THREAD *data)
{
    delete m_helper;
    m_helper = new CKOVAHelper(m_logger);
    m_helper->SetListener(this, m_marketType);
    m_helper->Create(this);
    m_host = "127.0.0.1";
    m_port = std::to_string(data->interface_thread_non_interactive_port);
}

void CGenericLogs::ConnectToGateway()
{
    m_localFailure = false;
    Connect();
}

void CGenericLogs::EnsureConnection()
{
    // A connect that failed here (no socket: shown to the operator already) waits for the
    // gateway's next start rather than showing its box on every pass.
    if (m_linkState == LINK_NONE && !m_localFailure)
    {
        Connect();
    }
}

void CGenericLogs::GatewayStopped()
{
    m_failureLogged = false;
    if (m_helper != nullptr)
    {
        m_helper->SetLogger(m_logger);
    }
}

void CGenericLogs::Connect()
{
    if (m_helper == nullptr)
    {
        return;
    }
    // After the first failure of a series the link's own lines stay out of the log.
    m_helper->SetLogger(m_failureLogged ? nullptr : m_logger);
    m_linkState = LINK_CONNECTING;
    if (m_helper->EstablishConnection(m_host, m_port) != 1 && m_linkState == LINK_CONNECTING)
    {
        m_linkState = LINK_NONE;
        m_failureLogged = true;
        m_localFailure = true;
    }
    emit linkChanged();
}

void CGenericLogs::OnConnectionEstablished()
{
    m_helper->SetLogger(m_logger);
    if (m_failureLogged)
    {
        KovaLog(m_logger, KOVA_EVENT, "CGenericLogs::OnConnectionEstablished", k_source, __LINE__,
                "Connected to the %s gateway at port %s after failed attempts", KovaMarketName(m_marketType),
                m_port.c_str());
        m_failureLogged = false;
    }
    m_linkState = LINK_UP;
    // The gateway replays the whole day after each connection.
    DropPendingEvents();
    m_rowsDropped = false;
    m_list->DeleteAllItems();
    emit linkChanged();
}

void CGenericLogs::OnConnectionLost()
{
    bool was_up = m_linkState == LINK_UP;
    m_linkState = LINK_NONE;
    if (!was_up && !m_failureLogged)
    {
        KovaLog(m_logger, KOVA_EVENT, "CGenericLogs::OnConnectionLost", k_source, __LINE__,
                "Cannot connect to the %s gateway at port %s. Trying again while it runs.",
                KovaMarketName(m_marketType), m_port.c_str());
        m_failureLogged = true;
    }
    emit linkChanged();
}

void CGenericLogs::RouteMessage(const uint8_t *packet, uint16_t transcode)
{
    if (transcode == TRANSCODE_VERSION_CHECK)
    {
        VersionCheck(packet);
    }
    else if (transcode == TRANSCODE_KOVA_LOG_MESSAGE)
    {
        AddEvent(packet);
    }
}

void CGenericLogs::VersionCheck(const uint8_t *packet)
{
    int32_t version = static_cast<int32_t>(get_u32_le(packet + VERSION_OFFSET));
    KovaLog(m_logger, KOVA_EVENT, "CGenericLogs::RouteMessage", k_source, __LINE__,
            "Received market version is %d", version);
    if (m_marketType < 1 || m_marketType > KOVA_MARKET_COUNT)
    {
        return;
    }
    const char *name = KovaMarketName(m_marketType);
    if (compatible(version, ReferenceVersion(m_marketType)) == 1)
    {
        m_versionState = VERSION_ACCEPTED;
        ShowMarketVersion(name, version);
        return;
    }
    QString text =
        QString::asprintf("%s. Version %d is invalid for market %s", "QEL Setup Error.", version, name);
    KovaLog(m_logger, KOVA_ACTIVITY, "CGenericLogs::RouteMessage", k_source, __LINE__, "%s",
            text.toUtf8().constData());
    KovaMessageBox(this, text, QStringLiteral("Invalid version"), MB_OK | MB_ICONEXCLAMATION);
    g_exit_process(INVALID_VERSION_EXIT_CODE);
}

bool CGenericLogs::Widened() const
{
    switch (m_marketType)
    {
    case 1:
        return true;
    case 2:
        return TX_USERID_INCREASE_FLAG != 0;
    case 4:
        return GUV_USERID_INCREASE_FLAG != 0;
    case 6:
        return RAQE_USERID_INCREASE_FLAG != 0;
    default:
        return false;
    }
}

void CGenericLogs::AddEvent(const uint8_t *packet)
{
    if (m_versionState == VERSION_NOT_ACCEPTED)
    {
        return;
    }
    uint32_t time = get_u32_le(packet + EVENT_TIME_OFFSET);
    int32_t user_id;
    uint16_t reason;
    int32_t extra;
    if (Widened())
    {
        user_id = static_cast<int32_t>(get_u32_le(packet + EVENT_USER_OFFSET));
        reason = get_u16_le(packet + WIDENED_REASON_OFFSET);
        extra = static_cast<int32_t>(get_u32_le(packet + WIDENED_EXTRA_OFFSET));
    }
    else
    {
        user_id = static_cast<int16_t>(get_u16_le(packet + EVENT_USER_OFFSET));
        reason = get_u16_le(packet + NARROW_REASON_OFFSET);
        extra = static_cast<int32_t>(get_u32_le(packet + NARROW_EXTRA_OFFSET));
    }
    QStringList cells;
    cells << (user_id == 0 ? QStringLiteral("NEW") : user_id == -1 ? QString() : QString::number(user_id));
    cells << EventTimeText(time);
    cells << QString::fromUtf8(ReasonCodeText(reason));
    cells << (extra == -1 ? QString() : QString::number(extra));
    m_pending.push_back(new QTreeWidgetItem(cells));
    if (m_pending.size() >= MAX_ROWS)
    {
        FlushEvents(); // what waits never holds more than the list keeps
        return;
    }
    if (!m_flushTimer->isActive())
    {
        m_flushTimer->start();
    }
}

void CGenericLogs::FlushEvents()
{
    m_flushTimer->stop();
    if (m_pending.empty())
    {
        return;
    }
    // Newest on top, in one change of the list; a list scrolled away from the top keeps
    // showing the rows the operator is reading.
    QList<QTreeWidgetItem *> rows;
    rows.reserve(static_cast<qsizetype>(m_pending.size()));
    for (auto it = m_pending.rbegin(); it != m_pending.rend(); ++it)
    {
        rows.append(*it);
    }
    m_pending.clear();
    QScrollBar *bar = m_list->verticalScrollBar();
    int position = bar->value();
    m_list->insertTopLevelItems(0, rows);
    DropOldestRows();
    if (position > 0)
    {
        m_list->updateGeometry();
        bar->setMaximum(bar->maximum() + static_cast<int>(rows.size()));
        bar->setValue(position + static_cast<int>(rows.size()));
    }
}

void CGenericLogs::DropOldestRows()
{
    int excess = m_list->topLevelItemCount() - MAX_ROWS;
    if (excess <= 0)
    {
        return;
    }
    m_list->model()->removeRows(MAX_ROWS, excess);
    if (!m_rowsDropped)
    {
        KovaLog(m_logger, KOVA_EVENT, "CGenericLogs::FlushEvents", k_source, __LINE__,
                "The %s page keeps the newest %d events; older ones are dropped from the page.",
                KovaMarketName(m_marketType), static_cast<int>(MAX_ROWS));
        m_rowsDropped = true;
    }
}

void CGenericLogs::DropPendingEvents()
{
    m_flushTimer->stop();
    for (QTreeWidgetItem *item : m_pending)
    {
        delete item;
    }
    m_pending.clear();
}

int32_t CGenericLogs::compatible(int32_t version, int32_t reference)
{
    int32_t market_code = version % 100;
    int32_t release = version / 100;
    int32_t reference_code = reference % 100;
    int32_t reference_release = reference / 100;
    struct flag_rule
    {
        int32_t market;
        int32_t *flag;
        int32_t threshold;
        const char *name;
    };
    const flag_rule rules[] = {
        {2, &TX_USERID_INCREASE_FLAG, 409, "TX_USERID_INCREASE_FLAG"},
        {4, &GUV_USERID_INCREASE_FLAG, 312, "GUV_USERID_INCREASE_FLAG"},
        {6, &RAQE_USERID_INCREASE_FLAG, 310, "RAQE_USERID_INCREASE_FLAG"},
    };
    for (const flag_rule &rule : rules)
    {
        if (rule.market == m_marketType)
        {
            *rule.flag = release >= rule.threshold ? 1 : 0;
            KovaLog(m_logger, KOVA_ACTIVITY, "CGenericLogs::compatible", k_source, __LINE__, "%s = %s",
                    rule.name, *rule.flag ? "TRUE" : "FALSE");
        }
    }
    return market_code == reference_code && release >= reference_release ? 1 : 0;
}

void CGenericLogs::ShowMarketVersion(const char *market_name, int32_t version)
{
    if (m_statusList == nullptr)
    {
        return;
    }
    QString name = QString::fromUtf8(market_name);
    for (int row = 0; row < m_statusList->GetItemCount(); ++row)
    {
        if (m_statusList->GetItemText(row, 0).compare(name, Qt::CaseInsensitive) == 0)
        {
            m_statusList->SetItemText(row, 2, QString::number(version));
        }
    }
}

int32_t CGenericLogs::ReferenceVersion(int32_t market)
{
    return market >= 1 && market <= KOVA_MARKET_COUNT ? k_reference_versions[market] : 0;
}

QString CGenericLogs::EventTimeText(uint32_t seconds)
{
    time_t t = static_cast<time_t>(seconds);
    struct tm local;
    if (ea_localtime(&t, &local) == nullptr)
    {
        return QString();
    }
    char text[128];
    snprintf(text, sizeof text, "%s, %s %02d, %d, %02d:%02d:%02d", k_days[local.tm_wday % 7],
             k_months[local.tm_mon % 12], local.tm_mday, local.tm_year + 1900, local.tm_hour, local.tm_min,
             local.tm_sec);
    return QString::fromUtf8(text);
}

void CGenericLogs::SetExitProcessForTests(ExitProcess exit_process)
{
    g_exit_process = exit_process != nullptr ? exit_process : exit_at_once;
}
