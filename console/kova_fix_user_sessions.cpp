// The FIX users dialog.
#include "console/kova_fix_user_sessions.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>
#include <vector>

#include "console/kova_active_users.h"
#include "console/kova_config_file.h"
#include "console/kova_config_support.h"
#include "console/kova_fix_user_details.h"
#include "console/kova_logger.h"
#include "console/kova_markets.h"
#include "console/shim/kova_list.h"
#include "console/shim/kova_message_box.h"

namespace
{
const char *const k_source = "FixUserSessions";

enum
{
    BROKER_ID_SIZE = 64,
    BROKER_ID_MAX = 5,
};
} // namespace

bool KovaBrokerIdUsable(const QString &broker_id)
{
    if (broker_id.isEmpty() || broker_id.size() > BROKER_ID_MAX)
    {
        return false;
    }
    for (QChar c : broker_id)
    {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
        {
            return false;
        }
    }
    return true;
}

CFixUserSessions::CFixUserSessions(int32_t market, const std::string &config_path,
                                   const std::string &fix_config_path, int32_t interactive_port,
                                   CLogger *logger, QWidget *parent)
    : CRestartDialog("CFixUserSessions", k_source, market, interactive_port, logger, parent),
      m_configPath(config_path), m_fixConfigPath(fix_config_path), m_maxTwsClients(0), m_userCount(0),
      m_changesMade(false), m_recoveryFailed(false), m_sortColumn(0), m_sortDirection(KOVA_SORT_ASCENDING)
{
    m_recoveryFailed = !KovaStartFixDialog(market, config_path, fix_config_path, interactive_port, m_logger,
                                           "CFixUserSessions::CFixUserSessions", k_source, &m_tempFilePath);

    setWindowTitle(QStringLiteral("FIX Users"));
    auto *layout = new QVBoxLayout(this);
    auto *box = new QGroupBox(this);
    auto *grid = new QGridLayout(box);
    m_brokerIdLabel = new QLabel(box);
    SetControlId(m_brokerIdLabel, IDC_STATIC_BROKER_ID);
    m_userCountLabel = new QLabel(QStringLiteral("0"), box);
    SetControlId(m_userCountLabel, IDC_STATIC_USER_COUNT);
    grid->addWidget(new QLabel(QStringLiteral("Broker ID :"), box), 0, 0);
    grid->addWidget(m_brokerIdLabel, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("No. of Users :"), box), 1, 0);
    grid->addWidget(m_userCountLabel, 1, 1);
    layout->addWidget(box);
    m_list = new CListCtrl(this);
    SetControlId(m_list, IDC_LIST_USERS);
    layout->addWidget(m_list);
    auto *buttons = new QHBoxLayout();
    auto *new_button = new QPushButton(QStringLiteral("&New"), this);
    SetControlId(new_button, IDC_BUTTON_NEW);
    m_edit = new QPushButton(QStringLiteral("&Edit"), this);
    SetControlId(m_edit, IDC_BUTTON_EDIT);
    m_delete = new QPushButton(QStringLiteral("&Delete"), this);
    SetControlId(m_delete, IDC_BUTTON_DELETE);
    auto *exit_button = new QPushButton(QStringLiteral("E&xit"), this);
    SetControlId(exit_button, IDC_BUTTON_EXIT);
    buttons->addWidget(new_button);
    buttons->addWidget(m_edit);
    buttons->addWidget(m_delete);
    buttons->addStretch();
    buttons->addWidget(exit_button);
    layout->addLayout(buttons);
    resize(320, 360);

    connect(new_button, &QPushButton::clicked, this, [this] { OnButtonNew(); });
    connect(m_edit, &QPushButton::clicked, this, [this] { OnButtonEdit(); });
    connect(m_delete, &QPushButton::clicked, this, [this] { OnButtonDelete(); });
    connect(exit_button, &QPushButton::clicked, this, [this] { CloseRule(); });
    connect(m_list, &CListCtrl::rowDoubleClicked, this, [this] { OnButtonEdit(); });
    connect(m_list, &CListCtrl::deleteKeyPressed, this, [this] { OnButtonDelete(); });
    connect(m_list, &CListCtrl::columnClicked, this, [this](int column) { OnColumnClick(column); });
}

bool CFixUserSessions::OnInitDialog()
{
    const char *fn = "CFixUserSessions::OnInitDialog";
    if (m_recoveryFailed)
    {
        EndDialog(-1);
        return true;
    }
    if (m_market == KOVA_MARKET_KR)
    {
        setWindowTitle(QStringLiteral("FIX Users - KR"));
    }
    else if (m_market >= 1 && m_market <= KOVA_MARKET_COUNT)
    {
        setWindowTitle(QStringLiteral("FIX Users- ") + QString::fromUtf8(KovaMarketName(m_market)));
    }
    char broker[BROKER_ID_SIZE] = {};
    uint32_t result = GetStringParameterValue(m_configPath.c_str(), "BROKER_ID", broker, sizeof broker);
    if (result == KOVA_PARAM_OPEN_FAILED)
    {
        KovaLog(m_logger, KOVA_EVENT, fn, k_source, __LINE__, "KOVA could not open QEL config file.");
        KovaMessageBox(this, QStringLiteral("QEL Setup Error."), QStringLiteral("Error"), MB_OK);
        EndDialog(-1);
        return true;
    }
    // The broker id becomes every FIX user's member id, which the gateway's logon takes
    // only as 1 to 5 letters or digits: anything else is as good as none.
    if (result == KOVA_PARAM_FOUND && !KovaBrokerIdUsable(QString::fromUtf8(broker)))
    {
        KovaLog(m_logger, KOVA_EVENT, fn, k_source, __LINE__,
                "BROKER_ID [%s] of QEL config file is not 1 to 5 letters or digits.", broker);
        result = KOVA_PARAM_NOT_FOUND;
    }
    if (result != KOVA_PARAM_FOUND)
    {
        KovaLog(m_logger, KOVA_EVENT, fn, k_source, __LINE__, "Cannot read BROKER_ID from QEL config file.");
        KovaMessageBox(this, QStringLiteral("Please configure Broker ID in QEL Configuration."),
                       QStringLiteral("Error"), MB_OK | MB_ICONERROR);
        EndDialog(-1);
        return true;
    }
    m_brokerId = QString::fromUtf8(broker);
    m_brokerIdLabel->setText(m_brokerId);
    int32_t max_clients = 0;
    result = GetIntParameterValue(m_configPath.c_str(), "MAX_TWS_CLIENTS", &max_clients);
    if (result == KOVA_PARAM_OPEN_FAILED)
    {
        KovaLog(m_logger, KOVA_EVENT, fn, k_source, __LINE__, "KOVA could not open QEL config file.");
        KovaMessageBox(this, QStringLiteral("QEL Setup Error."), QStringLiteral("Error"), MB_OK);
        EndDialog(-1);
        return true;
    }
    if (result != KOVA_PARAM_FOUND)
    {
        KovaLog(m_logger, KOVA_EVENT, fn, k_source, __LINE__,
                "Cannot read MAX_TWS_CLIENTS from QEL config file.");
        EndDialog(-1);
        return true;
    }
    m_maxTwsClients = max_clients;
    m_list->InsertColumn(0, QStringLiteral("User ID"), 100);
    m_list->InsertColumn(1, QStringLiteral("Branch ID"), 100);
    m_list->SetFullRowSelect(true);
    if (RefreshList() != 0)
    {
        EndDialog(-1);
    }
    return true;
}

int32_t CFixUserSessions::RefreshList()
{
    const char *fn = "CFixUserSessions::RefreshList";
    m_list->DeleteAllItems();
    std::vector<std::string> lines;
    if (!KovaReadAllLines(m_fixConfigPath, &lines))
    {
        KovaMessageBox(this, QStringLiteral("Can not open FIX config file"), QStringLiteral("Error"),
                       MB_OK | MB_ICONWARNING);
        KovaLog(m_logger, KOVA_SYSTEM_ERROR, fn, k_source, __LINE__, "Couldn't open file %s in read mode.",
                m_fixConfigPath.c_str());
        return -1;
    }
    std::string key, user, broker, branch;
    for (const std::string &line : lines)
    {
        if (KovaParseIdentityLine(line, &key, &user, &broker, &branch) &&
            KovaEqualsIgnoreCase(key, "TargetCompID"))
        {
            int row = m_list->InsertItem(m_list->GetItemCount(), QString::fromStdString(user));
            m_list->SetItemText(row, 1, QString::fromStdString(branch));
            KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__, "TraderID = %s , BranchID = %s ",
                    user.c_str(), branch.c_str());
        }
    }
    m_userCount = m_list->GetItemCount();
    m_userCountLabel->setText(QString::number(m_userCount));
    m_edit->setEnabled(m_userCount != 0);
    m_delete->setEnabled(m_userCount != 0);
    SortListControl(m_list, m_sortColumn, m_sortDirection, KOVA_SORT_KEY_NUMBER);
    return 0;
}

void CFixUserSessions::OnColumnClick(int column)
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
    SortListControl(m_list, m_sortColumn, m_sortDirection, KOVA_SORT_KEY_NUMBER);
}

void CFixUserSessions::OnButtonNew()
{
    KovaLog(m_logger, KOVA_ACTIVITY, "CFixUserSessions::OnButtonNew", k_source, __LINE__,
            "New Button Clicked");
    if (m_userCount < m_maxTwsClients)
    {
        CFixUserDetails details(m_market, QString(), m_brokerId, QString(), m_fixConfigPath,
                                CFixUserDetails::NEW_USER, m_logger, this);
        if (details.DoModal() == CFixUserDetails::SAVED)
        {
            m_changesMade = true;
        }
    }
    else
    {
        KovaMessageBox(this, QStringLiteral("Maximum User limit is reached. New User cannot be added."),
                       QStringLiteral("Error"), MB_OK | MB_ICONINFORMATION);
    }
    if (RefreshList() != 0)
    {
        EndDialog(-1);
    }
}

void CFixUserSessions::OnButtonEdit()
{
    int row = m_list->GetSelectedRow();
    if (row < 0)
    {
        KovaMessageBox(this, QStringLiteral("No item is selected!"), QStringLiteral("Alert"),
                       MB_OK | MB_ICONWARNING);
        return;
    }
    QString user = m_list->GetItemText(row, 0);
    QString branch = m_list->GetItemText(row, 1);
    KovaLog(m_logger, KOVA_ACTIVITY, "CFixUserSessions::OnButtonEdit", k_source, __LINE__,
            "Trader ID %s is selected to Edit", user.toUtf8().constData());
    CFixUserDetails details(m_market, user, m_brokerId, branch, m_fixConfigPath, CFixUserDetails::EDIT_USER,
                            m_logger, this);
    if (details.DoModal() == CFixUserDetails::SAVED)
    {
        m_changesMade = true;
    }
    if (RefreshList() != 0)
    {
        EndDialog(-1);
    }
}

int32_t CFixUserSessions::RewriteFile(const std::vector<std::string> &lines, bool final_newline,
                                      const char *function)
{
    FILE *output = KovaFixTempOpen(m_tempFilePath, m_fixConfigPath);
    if (output == nullptr)
    {
        KovaLog(m_logger, KOVA_SYSTEM_ERROR, function, k_source, __LINE__,
                "Couldn't open temporary FIX config file [%s] in write mode.", m_tempFilePath.c_str());
        return -1;
    }
    for (size_t i = 0; i < lines.size(); ++i)
    {
        if (i > 0 && !final_newline)
        {
            fputc('\n', output);
        }
        fwrite(lines[i].data(), 1, lines[i].size(), output);
        if (final_newline)
        {
            fputc('\n', output);
        }
    }
    bool renaming = false;
    int error = KovaFixTempCommit(output, m_tempFilePath, m_fixConfigPath, &renaming);
    if (error != 0 && renaming)
    {
        KovaLog(m_logger, KOVA_SYSTEM_ERROR, function, k_source, __LINE__,
                "Renaming the temporary file %s at %s failed. Error Code : [%d] ", m_tempFilePath.c_str(),
                m_fixConfigPath.c_str(), error);
        return -1;
    }
    if (error != 0)
    {
        KovaLog(m_logger, KOVA_SYSTEM_ERROR, function, k_source, __LINE__,
                "Writing the temporary file [%s] failed. Error Code : [%d] ", m_tempFilePath.c_str(), error);
        return -1;
    }
    return 0;
}

void CFixUserSessions::OnButtonDelete()
{
    const char *fn = "CFixUserSessions::OnButtonDelete";
    int row = m_list->GetSelectedRow();
    if (row < 0)
    {
        KovaMessageBox(this, QStringLiteral("No item is selected!"), QStringLiteral("Alert"),
                       MB_OK | MB_ICONWARNING);
        return;
    }
    QString user = m_list->GetItemText(row, 0);
    if (KovaMessageBox(this, QStringLiteral("Are you sure you want to delete User ID %1?").arg(user),
                       QStringLiteral("Delete"), MB_YESNO | MB_ICONQUESTION) != IDYES)
    {
        return;
    }
    std::string begin = "#BeginSession_" + user.toStdString();
    std::string end = "#EndSession_" + user.toStdString();
    std::vector<std::string> lines;
    if (!KovaReadAllLines(m_fixConfigPath, &lines))
    {
        KovaLog(m_logger, KOVA_SYSTEM_ERROR, fn, k_source, __LINE__,
                "Couldn't open FIX config file [%s] in read mode.", m_fixConfigPath.c_str());
        return;
    }
    int32_t first = KovaFindMarker(lines, begin);
    int32_t last = first >= 0 ? KovaFindMarker(lines, end, static_cast<size_t>(first) + 1) : -1;
    if (last < 0)
    {
        // Without both markers the block's extent is unknown: nothing is deleted.
        KovaLog(m_logger, KOVA_EVENT, fn, k_source, __LINE__,
                "Deletion of trader id %s failed as its session block is not whole.",
                user.toUtf8().constData());
        KovaMessageBox(
            this,
            QStringLiteral("User ID %1 cannot be deleted: its session block in the FIX config file has "
                           "no #BeginSession_%1 or #EndSession_%1 line.")
                .arg(user),
            QStringLiteral("Error"), MB_OK | MB_ICONWARNING);
        return;
    }
    size_t after = static_cast<size_t>(last) + 1;
    // The empty line in front of the next block goes with this one; anything else stays.
    if (after < lines.size() && KovaLineText(lines[after]).empty())
    {
        ++after;
    }
    lines.erase(lines.begin() + first, lines.begin() + static_cast<std::ptrdiff_t>(after));
    if (RewriteFile(lines, false, fn) != 0)
    {
        EndDialog(-1);
        return;
    }
    m_changesMade = true;
    if (RefreshList() != 0)
    {
        EndDialog(-1);
    }
}

int32_t CFixUserSessions::OnBrokerIDLocalIPChanged(const char *broker_id, const char *local_ip)
{
    const char *fn = "CFixUserSessions::OnBrokerIDLocalIPChanged";
    std::vector<std::string> lines;
    if (!KovaReadAllLines(m_fixConfigPath, &lines))
    {
        KovaLog(m_logger, KOVA_SYSTEM_ERROR, fn, k_source, __LINE__, "Couldn't open file [%s] in read mode.",
                m_fixConfigPath.c_str());
        return -1;
    }
    std::string key, user, broker, branch;
    for (std::string &line : lines)
    {
        std::string line_key = KovaLineKey(line);
        if (KovaEqualsIgnoreCase(line_key, "TargetCompID"))
        {
            // An identity that is not three fields is the operator's own: left as it is.
            if (KovaParseIdentityLine(line, &key, &user, &broker, &branch))
            {
                line = "TargetCompID=" + user + "," + broker_id + "," + branch;
                KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__,
                        "TargetCompID=%s,%s,%s written in fix config file for trader id %s", user.c_str(),
                        broker_id, branch.c_str(), user.c_str());
            }
        }
        else if (line_key == "NicIpAddress")
        {
            line = std::string("NicIpAddress=") + local_ip;
            KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__,
                    "NicIpAddress=%s written in fix config file", local_ip);
        }
    }
    return RewriteFile(lines, true, fn);
}

void CFixUserSessions::CloseRule()
{
    if (RestartPending())
    {
        return; // the restart request is on its way; the dialog closes after it
    }
    if (m_changesMade && KovaQelStatusQuery(m_market, m_logger, parentWidget()) == 1)
    {
        KovaMessageBox(this, QStringLiteral("QEL will restart to take changes into effect."),
                       QStringLiteral("Alert"), MB_OK | MB_ICONINFORMATION);
        KillQELExe(m_market);
        return;
    }
    EndDialog(IDCANCEL);
}

void CFixUserSessions::KillQELExe(int32_t market)
{
    m_market = market;
    StartRestartRequest("CFixUserSessions::KillQELExe");
}
