// The active users dialog and the list sort.
#include "console/kova_active_users.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdlib>
#include <cstring>

#include "console/kova_logger.h"
#include "console/kova_markets.h"
#include "console/shim/kova_list.h"
#include "console/shim/kova_message_box.h"

namespace
{
const char *const k_source = "GenericActiveUsersList";
const char *const k_refresh = "CGenericActiveUsersList::OnButtonActiveUsersListRefresh";

enum : uint16_t
{
    TRANSCODE_BOX_INFORMATION_REQUEST = 6500,
    TRANSCODE_BOX_INFORMATION_DATA = 6502,
    TRANSCODE_USER_INFORMATION_REQUEST = 10001,
    TRANSCODE_USER_INFORMATION_HEADER = 10003,
    TRANSCODE_USER_INFORMATION_DATA = 10004,
    BOX_ID_OFFSET = 30,
    BOX_STATUS_OFFSET = 32,
    USER_ID_OFFSET = 30,
    WIDENED_LOGON_STATUS_OFFSET = 34,
    NARROW_LOGON_STATUS_OFFSET = 32,
};

uint16_t get_u16_le(const uint8_t *bytes)
{
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

uint32_t get_u32_le(const uint8_t *bytes)
{
    return static_cast<uint32_t>(get_u16_le(bytes)) | (static_cast<uint32_t>(get_u16_le(bytes + 2)) << 16);
}

QLabel *value_label(int id, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    SetControlId(label, id);
    label->setMinimumWidth(120);
    return label;
}
} // namespace

CGenericActiveUsersList::CGenericActiveUsersList(int32_t market, int32_t interactive_port, CLogger *logger,
                                                 QWidget *parent)
    : CDialog(parent), m_logger(logger), m_market(market), m_sortColumn(0),
      m_sortDirection(KOVA_SORT_ASCENDING), m_helper(nullptr), m_host("127.0.0.1"),
      m_port(std::to_string(interactive_port)), m_connectedUsers(QStringLiteral("0"))
{
    KovaLog(m_logger, KOVA_ACTIVITY, "CGenericActiveUsersList::CGenericActiveUsersList", k_source, __LINE__,
            "Market type for dialog is %d - %s", market, KovaMarketName(market));
    KovaLog(m_logger, KOVA_ACTIVITY, "CGenericActiveUsersList::CGenericActiveUsersList", k_source, __LINE__,
            "INTERFACE_THREAD_INTERACTIVE_IP is %s", m_host.c_str());
    KovaLog(m_logger, KOVA_ACTIVITY, "CGenericActiveUsersList::CGenericActiveUsersList", k_source, __LINE__,
            "Port no. is %d", interactive_port);

    setWindowTitle(QStringLiteral("Active Users List"));
    auto *layout = new QVBoxLayout(this);
    auto *box = new QGroupBox(this);
    auto *grid = new QGridLayout(box);
    m_boxIdLabel = value_label(IDC_STATIC_BOX_ID, QString(), box);
    m_boxStatusLabel = value_label(IDC_STATIC_BOX_STATUS, QString(), box);
    m_connectedUsersLabel = value_label(IDC_STATIC_CONNECTED_USERS, m_connectedUsers, box);
    grid->addWidget(new QLabel(QStringLiteral("Box ID : "), box), 0, 0);
    grid->addWidget(m_boxIdLabel, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("QEL Box Status : "), box), 1, 0);
    grid->addWidget(m_boxStatusLabel, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("No.of connected users : "), box), 2, 0);
    grid->addWidget(m_connectedUsersLabel, 2, 1);
    layout->addWidget(box);
    m_list = new CListCtrl(this);
    SetControlId(m_list, IDC_LIST_ACTIVE_USERS);
    layout->addWidget(m_list);
    auto *buttons = new QHBoxLayout();
    m_refresh = new QPushButton(QStringLiteral("&Refresh"), this);
    SetControlId(m_refresh, IDC_BUTTON_REFRESH);
    m_refresh->setEnabled(false);
    auto *exit_button = new QPushButton(QStringLiteral("E&xit"), this);
    SetControlId(exit_button, IDC_BUTTON_EXIT);
    buttons->addStretch();
    buttons->addWidget(m_refresh);
    buttons->addWidget(exit_button);
    layout->addLayout(buttons);
    resize(360, 420);

    connect(m_refresh, &QPushButton::clicked, this, [this] { OnButtonActiveUsersListRefresh(); });
    connect(exit_button, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(m_list, &CListCtrl::columnClicked, this, [this](int column) { OnColumnClick(column); });
}

CGenericActiveUsersList::~CGenericActiveUsersList()
{
    PostNcDestroy();
}

bool CGenericActiveUsersList::OnInitDialog()
{
    KovaLog(m_logger, KOVA_ACTIVITY, "CGenericActiveUsersList::OnInitDialog", k_source, __LINE__,
            "Initializing dialog");
    if (m_market >= 1 && m_market <= KOVA_MARKET_COUNT)
    {
        setWindowTitle(QStringLiteral("Active Users ") + QString::fromUtf8(KovaMarketName(m_market)));
    }
    m_list->InsertColumn(0, QStringLiteral("User List"), 100);
    m_list->InsertColumn(1, QStringLiteral("Login Status"), 200);
    m_list->SetFullRowSelect(true);

    m_helper = new CKOVAHelper(m_logger);
    m_helper->SetListener(this, m_market);
    m_helper->Create(this);
    KovaLog(m_logger, KOVA_ACTIVITY, "CGenericActiveUsersList::OnInitDialog", k_source, __LINE__,
            "Attempting to connect...for market %s", KovaMarketName(m_market));
    m_helper->EstablishConnection(m_host, m_port);
    return true;
}

void CGenericActiveUsersList::done(int result)
{
    PostNcDestroy();
    CDialog::done(result);
}

void CGenericActiveUsersList::PostNcDestroy()
{
    if (m_helper == nullptr)
    {
        return;
    }
    KovaLog(m_logger, KOVA_ACTIVITY, "CGenericActiveUsersList::PostNcDestroy", k_source, __LINE__,
            "Attempting to close connection...for market %s", KovaMarketName(m_market));
    m_helper->SetListener(nullptr, m_market);
    m_helper->Tcp()->CloseConnection();
    delete m_helper;
    m_helper = nullptr;
}

bool CGenericActiveUsersList::Widened() const
{
    return KovaRequestLength(m_market) == KOVA_REQUEST_WIDENED;
}

QString CGenericActiveUsersList::LoginStateText(int32_t state)
{
    switch (state)
    {
    case 0:
        return QStringLiteral("Logged Off.");
    case 1:
        return QStringLiteral("Logoff in progress.");
    case 2:
        return QStringLiteral("Logged on.");
    case 3:
        return QStringLiteral("Logon in progress.");
    default:
        return QString();
    }
}

void CGenericActiveUsersList::UpdateData()
{
    m_boxIdLabel->setText(m_boxId);
    m_boxStatusLabel->setText(m_boxStatus);
    m_connectedUsersLabel->setText(m_connectedUsers);
}

// One request in the market's form; false when a header fill failed (logged and shown).
bool CGenericActiveUsersList::SendRequest(uint16_t transcode, const char *what)
{
    bool widened = Widened();
    // The market's name stands in the lines of a widened market only.
    const char *name = widened ? KovaMarketName(m_market) : "";
    uint8_t packet[KOVA_REQUEST_WIDENED] = {};
    uint16_t length = widened ? uint16_t{KOVA_REQUEST_WIDENED} : uint16_t{KOVA_REQUEST_NARROW};
    if (m_helper->GeneratePacketHeader(packet, transcode) != 1)
    {
        if (widened)
            KovaLog(m_logger, KOVA_ACTIVITY, k_refresh, k_source, __LINE__,
                    "Error in Generating %s Packet Header", name);
        else
            KovaLog(m_logger, KOVA_ACTIVITY, k_refresh, k_source, __LINE__,
                    "Error in Generating Packet Header");
        KovaMessageBox(this, QStringLiteral("KOVA error."), QString(), MB_OK);
        return false;
    }
    if (m_helper->GenerateNetworkHeader(packet, length) != 1)
    {
        if (widened)
            KovaLog(m_logger, KOVA_ACTIVITY, k_refresh, k_source, __LINE__,
                    "Error in Generating %s Network Header", name);
        else
            KovaLog(m_logger, KOVA_ACTIVITY, k_refresh, k_source, __LINE__,
                    "Error in Generating Network Header");
        KovaMessageBox(this, QStringLiteral("KOVA error"), QString(), MB_OK);
        return false;
    }
    m_helper->SendPacket(packet, length);
    if (widened)
        KovaLog(m_logger, KOVA_ACTIVITY, k_refresh, k_source, __LINE__, "%s information request for %s sent.",
                what, name);
    else
        KovaLog(m_logger, KOVA_ACTIVITY, k_refresh, k_source, __LINE__, "%s information request sent.", what);
    return true;
}

void CGenericActiveUsersList::OnButtonActiveUsersListRefresh()
{
    m_list->DeleteAllItems();
    m_connectedUsers = QString::number(m_list->GetItemCount());
    UpdateData();
    if (m_helper == nullptr)
    {
        return;
    }
    if (SendRequest(TRANSCODE_BOX_INFORMATION_REQUEST, "Box"))
    {
        SendRequest(TRANSCODE_USER_INFORMATION_REQUEST, "User");
    }
}

void CGenericActiveUsersList::OnConnectionEstablished()
{
    OnButtonActiveUsersListRefresh();
    m_refresh->setEnabled(true);
    UpdateData();
}

void CGenericActiveUsersList::OnConnectionLost()
{
    m_list->DeleteAllItems();
    m_refresh->setEnabled(false);
    m_boxId.clear();
    m_boxStatus.clear();
    UpdateData();
}

void CGenericActiveUsersList::RouteMessage(const uint8_t *packet, uint16_t transcode)
{
    if (transcode == TRANSCODE_BOX_INFORMATION_DATA)
    {
        m_boxId = QString::number(get_u16_le(packet + BOX_ID_OFFSET));
        m_boxStatus = LoginStateText(get_u16_le(packet + BOX_STATUS_OFFSET));
        UpdateData();
    }
    else if (transcode == TRANSCODE_USER_INFORMATION_HEADER)
    {
        // A list follows: the rows of an earlier answer go.
        m_list->DeleteAllItems();
        m_connectedUsers = QStringLiteral("0");
        UpdateData();
    }
    else if (transcode == TRANSCODE_USER_INFORMATION_DATA)
    {
        int32_t user_id;
        uint16_t status;
        if (Widened())
        {
            user_id = static_cast<int32_t>(get_u32_le(packet + USER_ID_OFFSET));
            status = get_u16_le(packet + WIDENED_LOGON_STATUS_OFFSET);
        }
        else
        {
            user_id = get_u16_le(packet + USER_ID_OFFSET);
            status = get_u16_le(packet + NARROW_LOGON_STATUS_OFFSET);
        }
        m_list->InsertItem(0, QString::number(user_id));
        m_connectedUsers = QString::number(m_list->GetItemCount());
        UpdateData();
        m_list->SetItemText(0, 1, LoginStateText(status));
    }
}

void CGenericActiveUsersList::OnColumnClick(int column)
{
    if (column != m_sortColumn)
    {
        m_sortColumn = column;
        m_sortDirection = KOVA_SORT_ASCENDING;
    }
    else
    {
        m_sortDirection = m_sortDirection == KOVA_SORT_ASCENDING ? KOVA_SORT_DESCENDING : KOVA_SORT_ASCENDING;
    }
    SortListControl(m_list, column, m_sortDirection, column == 0 ? KOVA_SORT_KEY_NUMBER : KOVA_SORT_KEY_TEXT);
}

namespace
{
// <0, 0, >0 as key a sorts before, with or after key b; 0 for an unknown key type.
int compare_keys(const QString &a, const QString &b, int32_t key_type)
{
    if (key_type == KOVA_SORT_KEY_TEXT)
    {
        QByteArray x = a.toUtf8(), y = b.toUtf8();
        return strcmp(x.constData(), y.constData());
    }
    if (key_type == KOVA_SORT_KEY_NUMBER)
    {
        long x = strtol(a.toUtf8().constData(), nullptr, 10);
        long y = strtol(b.toUtf8().constData(), nullptr, 10);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    return 0;
}
} // namespace

void SortListControl(CListCtrl *list, int32_t column, int32_t direction, int32_t key_type)
{
    int32_t n = list->GetItemCount();
    for (int32_t i = 0; i + 1 < n; ++i)
    {
        QString key = list->GetItemText(i, column);
        for (int32_t j = i + 1; j < n; ++j)
        {
            QString other = list->GetItemText(j, column);
            int order = compare_keys(key, other, key_type);
            if ((direction == KOVA_SORT_ASCENDING && order > 0) ||
                (direction == KOVA_SORT_DESCENDING && order < 0))
            {
                SwapListRows(list, i, j);
                key = other;
            }
        }
    }
}

void SwapListRows(CListCtrl *list, int32_t a, int32_t b)
{
    for (int col = 0; col < list->GetColumnCount(); ++col)
    {
        QString first = list->GetItemText(a, col);
        QString second = list->GetItemText(b, col);
        list->SetItemText(a, col, second);
        list->SetItemText(b, col, first);
    }
}
