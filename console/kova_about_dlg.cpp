// The About box. The one component read second under COMMON belongs to a product beside
// this system: its reporting tools ("QEL_REPORTS_VERSION").
#include "console/kova_about_dlg.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/kova_markets.h"
#include "console/shim/kova_list.h"
#include "console/shim/kova_message_box.h"
#include "platform/admin/pf_registry.h"

namespace
{
enum : uint32_t
{
    VALUE_SIZE = 1024,
};

void show_setup_error(QWidget *parent)
{
    KovaMessageBox(parent, QString::asprintf("Cannot query registry. %s.", "QEL Setup Error."),
                   QStringLiteral("Error"), MB_OK);
}

struct component
{
    const char *value;
    const char *label;
};

const component k_common_components[] = {
    {"LOGSWEEP_VERSION", "logsweep"},
    {"QEL_REPORTS_VERSION", "QEL Reports"},
    {"QEL_MONITORING_VERSION", "QEL Monitoring Service"},
    {"QEL_STATISTICS_VERSION", "QEL Statistics"},
    {"KOVA_IP_VERSION", "KOVA"},
    {"UNINSTALLER_VERSION", "Uninstaller"},
};
} // namespace

CAboutDlg::CAboutDlg(CLogger *logger, QWidget *parent)
    : CDialog(parent), m_logger(logger), m_list(nullptr), m_icon(nullptr)
{
    setWindowTitle(QStringLiteral("About KOVA "));
    auto *layout = new QVBoxLayout(this);
    auto *top = new QHBoxLayout();
    m_icon = new QLabel(this);
    m_icon->setFixedSize(32, 32);
    top->addWidget(m_icon, 0, Qt::AlignTop);
    auto *group =
        new QGroupBox(QStringLiteral("List of installed components and their version number"), this);
    auto *group_layout = new QVBoxLayout(group);
    m_list = new CListCtrl(group);
    m_list->setMinimumWidth(420);
    SetControlId(m_list, IDC_LIST_COMPONENTS);
    group_layout->addWidget(m_list);
    top->addWidget(group);
    layout->addLayout(top);
    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    SetControlId(ok, IDOK);
    ok->setDefault(true);
    layout->addWidget(ok, 0, Qt::AlignRight);
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    resize(520, 320);
}

bool CAboutDlg::OnInitDialog()
{
    m_icon->setPixmap(windowIcon().pixmap(32, 32));
    m_list->InsertColumn(0, QStringLiteral("Component"), 300);
    m_list->InsertColumn(1, QStringLiteral("Version No."), 100);
    m_list->SetFullRowSelect(true);
    DisplayInstalledComponents();
    return true;
}

void CAboutDlg::DisplayInstalledComponents()
{
    char value[VALUE_SIZE];
    for (int32_t market = 1; market <= KOVA_MARKET_COUNT; ++market)
    {
        pf_reg_key *key = nullptr;
        char path[64];
        snprintf(path, sizeof path, "%s\\%d", "SOFTWARE\\QEL_IP", market);
        if (pf_reg_open_key(nullptr, path, &key) != 0)
        {
            continue;
        }
        uint32_t result = pf_reg_query_string(key, "VERSION", value, sizeof value);
        pf_reg_close_key(key);
        if (result != 0)
        {
            show_setup_error(this);
            return;
        }
        int row =
            m_list->InsertItem(m_list->GetItemCount(), QString::asprintf("QEL %s", KovaMarketName(market)));
        m_list->SetItemText(row, 1, QString::fromUtf8(value));
    }
    pf_reg_key *common = nullptr;
    char path[64];
    snprintf(path, sizeof path, "%s\\%s", "SOFTWARE\\QEL_IP", "COMMON");
    if (pf_reg_open_key(nullptr, path, &common) != 0)
    {
        show_setup_error(this);
        return;
    }
    for (const component &c : k_common_components)
    {
        if (pf_reg_query_string(common, c.value, value, sizeof value) != 0)
        {
            show_setup_error(this);
            pf_reg_close_key(common);
            return;
        }
        int row = m_list->InsertItem(m_list->GetItemCount(), QString::fromUtf8(c.label));
        m_list->SetItemText(row, 1, QString::fromUtf8(value));
    }
    pf_reg_close_key(common);
}
