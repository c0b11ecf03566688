// The market configuration dialog.
#include "console/kova_generic_configuration.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <cstdio>

#include "console/kova_config_file.h"
#include "console/kova_config_support.h"
#include "console/kova_fix_user_sessions.h"
#include "console/kova_logger.h"
#include "console/kova_markets.h"
#include "console/shim/kova_edit.h"
#include "console/shim/kova_ip_address.h"
#include "console/shim/kova_message_box.h"

namespace
{
const char *const k_source = "GenericConfiguration";
const char *const k_read = "CGenericConfiguration::read_configuration_parameters";
const char *const k_validate = "CGenericConfiguration::validate_parameters";
const char *const k_save = "CGenericConfiguration::save_configuration_parameters";

enum
{
    VALUE_SIZE = 1024,
    BROKER_ID_MAX = 5,
};

const char *text_of(const QString &text, QByteArray *bytes)
{
    *bytes = text.toUtf8();
    return bytes->constData();
}
} // namespace

QString KovaAddressText(const CIPAddressCtrl *control)
{
    return control->IsBlank() ? QString() : control->GetAddressText();
}

int64_t KovaBoundedNumber(const QString &text)
{
    int64_t value = 0;
    for (QChar c : text)
    {
        if (c < '0' || c > '9')
        {
            break;
        }
        value = value * 10 + (c.unicode() - '0');
        if (value > (int64_t{1} << 40))
        {
            value = int64_t{1} << 40;
        }
    }
    return value;
}

CGenericConfiguration::CGenericConfiguration(int32_t market, const std::string &config_path,
                                             const std::string &fix_config_path, int32_t interactive_port,
                                             CLogger *logger, QWidget *parent, int32_t command_line)
    : CRestartDialog("CGenericConfiguration", k_source, market, interactive_port, logger, parent),
      m_configPath(config_path), m_fixConfigPath(fix_config_path), m_commandLine(command_line),
      m_nRadioPrimary(0), m_hostPort(0), m_boxId(0), m_brokerIdChanged(false), m_localIpChanged(false),
      m_loading(false)
{
    const char *fn = "CGenericConfiguration::CGenericConfiguration";
    KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__, "Market type for dialog is %d - %s", market,
            KovaMarketName(market));
    KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__, "QEL Config file path is - %s",
            config_path.c_str());
    KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__, "Opened from the command line: %d",
            command_line);

    setWindowTitle(QStringLiteral("Configuration"));
    auto *layout = new QVBoxLayout(this);

    auto *local = new QGroupBox(QStringLiteral("QEL Configuration"), this);
    auto *local_grid = new QGridLayout(local);
    m_localIpCtrl = new CIPAddressCtrl(local);
    SetControlId(m_localIpCtrl, IDC_LOCAL_IP);
    m_wanIpCtrl = new CIPAddressCtrl(local);
    SetControlId(m_wanIpCtrl, IDC_WAN_IP);
    m_boxIdEdit = new CDigitEdit(0, local);
    SetControlId(m_boxIdEdit, IDC_BOX_ID);
    m_brokerIdEdit = new QLineEdit(local);
    m_brokerIdEdit->setMaxLength(BROKER_ID_MAX);
    SetControlId(m_brokerIdEdit, IDC_BROKER_ID);
    local_grid->addWidget(KovaLabel(QStringLiteral("&Local IP : "), m_localIpCtrl, local), 0, 0);
    local_grid->addWidget(m_localIpCtrl, 0, 1);
    local_grid->addWidget(KovaLabel(QStringLiteral("&WAN IP : "), m_wanIpCtrl, local), 1, 0);
    local_grid->addWidget(m_wanIpCtrl, 1, 1);
    local_grid->addWidget(KovaLabel(QStringLiteral("&Box ID : "), m_boxIdEdit, local), 2, 0);
    local_grid->addWidget(m_boxIdEdit, 2, 1);
    local_grid->addWidget(KovaLabel(QStringLiteral("B&roker ID : "), m_brokerIdEdit, local), 3, 0);
    local_grid->addWidget(m_brokerIdEdit, 3, 1);
    layout->addWidget(local);

    auto *host = new QGroupBox(QStringLiteral("Host Configuration"), this);
    auto *host_grid = new QGridLayout(host);
    m_primaryRadio = new QRadioButton(QStringLiteral("&Primary"), host);
    SetControlId(m_primaryRadio, IDC_RADIO_PRIMARY);
    m_bcpRadio = new QRadioButton(QStringLiteral("B&CP"), host);
    SetControlId(m_bcpRadio, IDC_RADIO_BCP);
    m_hostIpCtrl = new CIPAddressCtrl(host);
    SetControlId(m_hostIpCtrl, IDC_HOST_IP);
    m_bcpIpCtrl = new CIPAddressCtrl(host);
    SetControlId(m_bcpIpCtrl, IDC_BCP_IP);
    m_hostPortEdit = new CDigitEdit(0, host);
    SetControlId(m_hostPortEdit, IDC_HOST_PORT);
    m_hostIpLabel = KovaLabel(QStringLiteral("&Host IP : "), m_hostIpCtrl, host);
    SetControlId(m_hostIpLabel, IDC_STATIC_HOST_IP);
    m_bcpIpLabel = KovaLabel(QStringLiteral("BCP IP :"), m_bcpIpCtrl, host);
    SetControlId(m_bcpIpLabel, IDC_STATIC_BCP_IP);
    auto *radios = new QHBoxLayout();
    radios->addWidget(m_primaryRadio);
    radios->addWidget(m_bcpRadio);
    host_grid->addLayout(radios, 0, 0, 1, 2);
    // The BCP pair stands where the Host IP pair stands; one of the two is shown.
    host_grid->addWidget(m_hostIpLabel, 1, 0);
    host_grid->addWidget(m_bcpIpLabel, 1, 0);
    host_grid->addWidget(m_hostIpCtrl, 1, 1);
    host_grid->addWidget(m_bcpIpCtrl, 1, 1);
    host_grid->addWidget(KovaLabel(QStringLiteral("H&ost Port : "), m_hostPortEdit, host), 2, 0);
    host_grid->addWidget(m_hostPortEdit, 2, 1);
    layout->addWidget(host);

    m_save = KovaAddSaveExitRow(this, layout, IDC_EXIT, [this] { save_configuration_parameters(); });

    for (CIPAddressCtrl *control : {m_localIpCtrl, m_wanIpCtrl, m_hostIpCtrl, m_bcpIpCtrl})
    {
        connect(control, &CIPAddressCtrl::fieldChanged, this, [this] { CheckForChanges(); });
    }
    connect(m_hostPortEdit, &QLineEdit::textChanged, this, [this] { CheckForChanges(); });
    connect(m_boxIdEdit, &QLineEdit::textChanged, this, [this] { CheckForChanges(); });
    connect(m_brokerIdEdit, &QLineEdit::textChanged, this, [this] { OnBrokerIdChanged(); });
    connect(m_primaryRadio, &QRadioButton::clicked, this, [this] { OnRadioPrimary(); });
    connect(m_bcpRadio, &QRadioButton::clicked, this, [this] { OnRadioBcp(); });
}

bool CGenericConfiguration::OnInitDialog()
{
    KovaLog(m_logger, KOVA_ACTIVITY, "CGenericConfiguration::OnInitDialog", k_source, __LINE__,
            "Initializing dialog");
    if (m_market >= 1 && m_market <= KOVA_MARKET_COUNT)
    {
        setWindowTitle(QString::fromUtf8(KovaMarketName(m_market)) + QStringLiteral(" - Configuration"));
    }
    m_bcpIpLabel->hide();
    m_bcpIpCtrl->hide();
    m_bcpIpCtrl->setEnabled(false);
    read_configuration_parameters();
    return true;
}

void CGenericConfiguration::ShowPrimaryMode()
{
    m_nRadioPrimary = 0;
    m_primaryRadio->setChecked(true);
    m_hostIpCtrl->setEnabled(true);
    m_hostPortEdit->setEnabled(true);
    m_bcpIpLabel->hide();
    m_bcpIpCtrl->hide();
    m_bcpIpCtrl->setEnabled(false);
    m_hostIpLabel->show();
    m_hostIpCtrl->show();
}

void CGenericConfiguration::ShowBcpMode()
{
    m_nRadioPrimary = 1;
    m_bcpRadio->setChecked(true);
    m_hostIpCtrl->setEnabled(false);
    m_hostPortEdit->setEnabled(false);
    m_hostIpLabel->hide();
    m_hostIpCtrl->hide();
    m_bcpIpLabel->show();
    m_bcpIpCtrl->show();
    m_bcpIpCtrl->setEnabled(true);
}

QString CGenericConfiguration::LoadAddress(CIPAddressCtrl *control, const char *key, const QString &text)
{
    control->ClearAddress();
    if (!text.isEmpty() && !control->SetAddressText(text))
    {
        QByteArray bytes;
        KovaLog(m_logger, KOVA_EVENT, k_read, k_source, __LINE__,
                "%s [%s] in the config file is not an IP address; shown blank.", key, text_of(text, &bytes));
    }
    return KovaAddressText(control);
}

void CGenericConfiguration::read_configuration_parameters()
{
    m_loading = true;
    for (CIPAddressCtrl *control : {m_localIpCtrl, m_wanIpCtrl, m_hostIpCtrl, m_bcpIpCtrl})
    {
        control->ClearAddress();
    }
    m_boxIdEdit->clear();
    m_brokerIdEdit->clear();
    m_hostPortEdit->clear();
    KovaLog(m_logger, KOVA_ACTIVITY, k_read, k_source, __LINE__, "Reading QEL config parameters from file %s",
            m_configPath.c_str());

    bool unreadable = false;
    // One key: its text, or the default when absent; false when the file cannot be opened.
    auto read_text = [&](const char *key, QString *out, const QString &fallback)
    {
        if (unreadable)
            return false;
        char value[VALUE_SIZE] = {};
        uint32_t result = GetStringParameterValue(m_configPath.c_str(), key, value, sizeof value);
        if (result == KOVA_PARAM_OPEN_FAILED)
        {
            unreadable = true;
            return false;
        }
        KovaLog(m_logger, KOVA_ACTIVITY, k_read, k_source, __LINE__, "%s = %s", key, value);
        if (result != KOVA_PARAM_FOUND)
        {
            KovaLog(m_logger, KOVA_EVENT, k_read, k_source, __LINE__, "Cannot read %s from config file.",
                    key);
            *out = fallback;
            return true;
        }
        *out = QString::fromUtf8(value);
        return true;
    };
    auto read_number = [&](const char *key, int64_t *out)
    {
        if (unreadable)
            return false;
        int32_t value = 0;
        uint32_t result = GetIntParameterValue(m_configPath.c_str(), key, &value);
        if (result == KOVA_PARAM_OPEN_FAILED)
        {
            unreadable = true;
            return false;
        }
        if (result != KOVA_PARAM_FOUND)
        {
            KovaLog(m_logger, KOVA_EVENT, k_read, k_source, __LINE__, "Cannot read %s from config file.",
                    key);
            value = 0;
        }
        KovaLog(m_logger, KOVA_ACTIVITY, k_read, k_source, __LINE__, "%s = %d", key, value);
        *out = value;
        return true;
    };

    QString lan, wan, host, primary, bcp, current, broker;
    int64_t port = 0, box = 0;
    read_text("MACHINE_LAN_IP", &lan, QString());
    read_text("MACHINE_WAN_IP", &wan, QString());
    read_text("HOST_MACHINE_IP", &host, QString());
    if (read_text("PRIMARY_HOST_IP", &primary, QStringLiteral("\x01")) && primary == QStringLiteral("\x01"))
    {
        KovaLog(m_logger, KOVA_ACTIVITY, k_read, k_source, __LINE__, "Copying HOST_IP to PRIMARY_HOST_IP.");
        primary = host;
    }
    read_text("BCP_HOST_IP", &bcp, QStringLiteral("0.0.0.0"));
    read_text("CURRENT_CONFIG", &current, QString());
    read_number("HOST_PORT_NUMBER", &port);
    read_number("BOX_ID", &box);
    read_text("BROKER_ID", &broker, QString());
    if (unreadable)
    {
        KovaLog(m_logger, KOVA_EVENT, k_read, k_source, __LINE__, "KOVA could not open QEL config file.");
        KovaMessageBox(this, QStringLiteral("QEL Setup Error."), QStringLiteral("Error"), MB_OK);
    }

    if (current.compare(QStringLiteral("BCP"), Qt::CaseInsensitive) == 0)
    {
        ShowBcpMode();
    }
    else
    {
        if (current.compare(QStringLiteral("PRIMARY"), Qt::CaseInsensitive) != 0)
        {
            KovaLog(m_logger, KOVA_ACTIVITY, k_read, k_source, __LINE__,
                    "Unknown value of CURRENT_CONFIG flag");
            KovaLog(m_logger, KOVA_ACTIVITY, k_read, k_source, __LINE__, "Setting default values");
            current = QStringLiteral("PRIMARY");
            KovaLog(m_logger, KOVA_ACTIVITY, k_read, k_source, __LINE__, "CURRENT_CONFIG set to %s",
                    "PRIMARY");
            KovaLog(m_logger, KOVA_ACTIVITY, k_read, k_source, __LINE__,
                    "Configuration (Radio Button) set to Primary");
        }
        ShowPrimaryMode();
    }

    m_localIp = LoadAddress(m_localIpCtrl, "MACHINE_LAN_IP", lan);
    m_wanIp = LoadAddress(m_wanIpCtrl, "MACHINE_WAN_IP", wan);
    m_hostIp = LoadAddress(m_hostIpCtrl, "PRIMARY_HOST_IP", primary);
    m_bcpIp = LoadAddress(m_bcpIpCtrl, "BCP_HOST_IP", bcp);
    m_currentConfig = current;
    m_hostPort = port;
    m_boxId = box;
    m_brokerId = broker;
    if (!unreadable)
    {
        m_hostPortEdit->setText(QString::number(port));
        m_boxIdEdit->setText(QString::number(box));
        m_brokerIdEdit->setText(broker);
    }
    m_brokerIdChanged = false;
    m_localIpChanged = false;
    m_save->setEnabled(false);
    m_loading = false;
}

void CGenericConfiguration::CheckForChanges()
{
    if (m_loading)
    {
        return;
    }
    m_localIpChanged = KovaAddressText(m_localIpCtrl).compare(m_localIp, Qt::CaseInsensitive) != 0;
    m_brokerIdChanged = m_brokerIdEdit->text() != m_brokerId;
    QString radio = m_nRadioPrimary == 0 ? QStringLiteral("PRIMARY") : QStringLiteral("BCP");
    bool changed = m_localIpChanged || m_brokerIdChanged ||
                   KovaAddressText(m_wanIpCtrl).compare(m_wanIp, Qt::CaseInsensitive) != 0 ||
                   KovaAddressText(m_hostIpCtrl).compare(m_hostIp, Qt::CaseInsensitive) != 0 ||
                   KovaAddressText(m_bcpIpCtrl).compare(m_bcpIp, Qt::CaseInsensitive) != 0 ||
                   KovaBoundedNumber(m_hostPortEdit->text()) != m_hostPort ||
                   KovaBoundedNumber(m_boxIdEdit->text()) != m_boxId ||
                   radio.compare(m_currentConfig, Qt::CaseInsensitive) != 0;
    m_save->setEnabled(changed);
}

void CGenericConfiguration::OnBrokerIdChanged()
{
    const QString text = m_brokerIdEdit->text();
    QString clean;
    for (QChar c : text)
    {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        {
            clean += c;
        }
    }
    if (clean != text)
    {
        m_brokerIdEdit->setText(clean); // comes back here with the clean text
        return;
    }
    CheckForChanges();
}

void CGenericConfiguration::OnRadioPrimary()
{
    LoadAddress(m_bcpIpCtrl, "BCP_HOST_IP", m_bcpIp);
    ShowPrimaryMode();
    CheckForChanges();
}

void CGenericConfiguration::OnRadioBcp()
{
    LoadAddress(m_hostIpCtrl, "PRIMARY_HOST_IP", m_hostIp);
    m_hostPortEdit->setText(QString::number(m_hostPort));
    ShowBcpMode();
    CheckForChanges();
}

int32_t CGenericConfiguration::Refuse(const QString &text, unsigned type)
{
    KovaMessageBox(this, text, QStringLiteral("Error"), type);
    return 200;
}

int32_t CGenericConfiguration::validate_parameters()
{
    const unsigned info = MB_OK | MB_ICONINFORMATION;
    const QString market = QString::fromUtf8(KovaMarketName(m_market));
    bool bcp = m_nRadioPrimary == 1;
    auto restore = [](CIPAddressCtrl *control, const QString &text)
    {
        control->ClearAddress();
        if (!text.isEmpty())
            control->SetAddressText(text);
    };
    if (m_localIpCtrl->IsBlank())
    {
        restore(m_localIpCtrl, m_localIp);
        return Refuse(QStringLiteral("Local IP can't be blank"), info);
    }
    if (m_wanIpCtrl->IsBlank())
    {
        restore(m_wanIpCtrl, m_wanIp);
        return Refuse(QStringLiteral("WAN IP can't be blank"), info);
    }
    if (m_hostIpCtrl->IsBlank())
    {
        restore(m_hostIpCtrl, m_hostIp);
        return Refuse(QStringLiteral("Host IP can't be blank"), info);
    }
    if (m_hostPortEdit->text().isEmpty())
    {
        return Refuse(QStringLiteral("Host Port can't be blank"), info);
    }
    if (bcp && m_bcpIpCtrl->IsBlank())
    {
        return Refuse(market + QStringLiteral(" - QEL Setup Error."), MB_OK);
    }
    if (!bcp)
    {
        KovaLog(m_logger, KOVA_ACTIVITY, k_validate, k_source, __LINE__,
                "Not doing Blank validation for BCP IP");
    }
    if (m_boxIdEdit->text().isEmpty())
    {
        return Refuse(QStringLiteral("Box ID can't be blank"), info);
    }
    if (m_brokerIdEdit->text().isEmpty())
    {
        return Refuse(QStringLiteral("Broker ID can't be blank"), info);
    }
    const QString zero = QStringLiteral("0.0.0.0");
    if (KovaAddressText(m_localIpCtrl) == zero)
    {
        restore(m_localIpCtrl, m_localIp);
        return Refuse(QStringLiteral("Local IP can't be 0.0.0.0"), info);
    }
    if (KovaAddressText(m_wanIpCtrl) == zero)
    {
        restore(m_wanIpCtrl, m_wanIp);
        return Refuse(QStringLiteral("WAN IP can't be 0.0.0.0"), info);
    }
    if (KovaAddressText(m_hostIpCtrl) == zero)
    {
        restore(m_hostIpCtrl, m_hostIp);
        return Refuse(QStringLiteral("Host IP can't be 0.0.0.0"), info);
    }
    if (bcp && KovaAddressText(m_bcpIpCtrl) == zero)
    {
        restore(m_bcpIpCtrl, m_bcpIp);
        return Refuse(market + QStringLiteral(" - QEL Setup Error.\nBCP IP can't be 0.0.0.0"), info);
    }
    if (!bcp)
    {
        KovaLog(m_logger, KOVA_ACTIVITY, k_validate, k_source, __LINE__,
                "Not doing 0.0.0.0 validation for BCP IP");
    }
    int64_t port = KovaBoundedNumber(m_hostPortEdit->text());
    if (port < 1 || port > HOST_PORT_MAX)
    {
        KovaLog(m_logger, KOVA_ACTIVITY, k_validate, k_source, __LINE__,
                "Host port [%lld] is not greater than zero and less than or equal to %u",
                static_cast<long long>(port), static_cast<unsigned>(HOST_PORT_MAX));
        return Refuse(
            QStringLiteral("Host Port value should be greater than zero and less than or equal to %1")
                .arg(int(HOST_PORT_MAX)),
            info);
    }
    int64_t box = KovaBoundedNumber(m_boxIdEdit->text());
    if (box < 1 || box > BOX_ID_MAX)
    {
        KovaLog(m_logger, KOVA_ACTIVITY, k_validate, k_source, __LINE__,
                "Box ID [%lld] is not greater than zero and less than or equal to %u",
                static_cast<long long>(box), static_cast<unsigned>(BOX_ID_MAX));
        return Refuse(QStringLiteral("Box ID value should be greater than zero and less than or equal to %1")
                          .arg(int(BOX_ID_MAX)),
                      info);
    }
    if (m_nRadioPrimary != 0 && m_nRadioPrimary != 1)
    {
        KovaLog(m_logger, KOVA_ACTIVITY, k_validate, k_source, __LINE__,
                "Invalid value of m_nRadioPrimary [%d]", m_nRadioPrimary);
        return 200;
    }
    return 0;
}

bool CGenericConfiguration::RestartAgreed(bool running)
{
    if (running &&
        KovaMessageBox(this,
                       QStringLiteral(" QEL will restart to take changes into effect. Do you want to "
                                      "continue?"),
                       QStringLiteral("Warning"), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
    {
        read_configuration_parameters();
        return false;
    }
    return true;
}

bool CGenericConfiguration::WriteParameters(const QString &local, const QString &broker)
{
    bool bcp = m_nRadioPrimary == 1;
    const QString entries[][2] = {
        {QStringLiteral("MACHINE_LAN_IP"), local},
        {QStringLiteral("MACHINE_WAN_IP"), KovaAddressText(m_wanIpCtrl)},
        {QStringLiteral("HOST_MACHINE_IP"), KovaAddressText(bcp ? m_bcpIpCtrl : m_hostIpCtrl)},
        {QStringLiteral("HOST_PORT_NUMBER"), QString::number(KovaBoundedNumber(m_hostPortEdit->text()))},
        {QStringLiteral("BOX_ID"), QString::number(KovaBoundedNumber(m_boxIdEdit->text()))},
        {QStringLiteral("BROKER_ID"), broker},
        {QStringLiteral("PRIMARY_HOST_IP"), KovaAddressText(m_hostIpCtrl)},
        {QStringLiteral("CURRENT_CONFIG"), bcp ? QStringLiteral("BCP") : QStringLiteral("PRIMARY")},
        // Read back by this dialog: the BCP address entered is the one shown next time.
        {QStringLiteral("BCP_HOST_IP"), KovaAddressText(m_bcpIpCtrl)},
    };
    int32_t count = bcp ? 9 : 8;
    char names[9][KOVA_PARAM_SLOT_SIZE] = {};
    char values[9][KOVA_PARAM_SLOT_SIZE] = {};
    for (int32_t i = 0; i < count; ++i)
    {
        snprintf(names[i], sizeof names[i], "%s", entries[i][0].toUtf8().constData());
        snprintf(values[i], sizeof values[i], "%s", entries[i][1].toUtf8().constData());
    }
    char message[KOVA_PARAM_MESSAGE_SIZE] = {};
    uint32_t result = ReplaceParameterValues(m_configPath.c_str(), names, values, count, message);
    return KovaWriteSucceeded(result, message, "Parameter(s) updation failed in qel configuration file.",
                              "KOVA could not open QEL config file", m_logger, k_save, k_source, this);
}

bool CGenericConfiguration::FollowInFixSettings(const QString &local, const QString &broker)
{
    if (m_fixConfigPath.empty() || !(m_brokerIdChanged || m_localIpChanged))
    {
        return true;
    }
    CFixUserSessions users(m_market, m_configPath, m_fixConfigPath, m_interactivePort, m_logger, this);
    QByteArray broker_bytes = broker.toUtf8(), local_bytes = local.toUtf8();
    if (users.OnBrokerIDLocalIPChanged(broker_bytes.constData(), local_bytes.constData()) == 0)
    {
        return true;
    }
    // The FIX identities and listener address would not follow the new values: no
    // restart, and Save stays so that the operator can try again.
    KovaLog(m_logger, KOVA_EVENT, k_save, k_source, __LINE__,
            "FIX config file could not be rewritten for the new broker id and local IP.");
    KovaMessageBox(this, QStringLiteral("QEL Setup Error."), QStringLiteral("Error"), MB_OK);
    return false;
}

void CGenericConfiguration::ReportSaved(bool running)
{
    QString text = QStringLiteral("Parameter(s) updated successfully in QEL configuration file.");
    if (running)
    {
        text += QStringLiteral(" QEL will restart to take changes into effect.");
        KovaMessageBox(this, text, QStringLiteral("Success"), MB_OK | MB_ICONINFORMATION);
        kill_qel_exe();
        if (!m_commandLine)
        {
            KovaPostStartApplications(parentWidget());
        }
        return;
    }
    if (!m_commandLine)
    {
        KovaPostStartApplications(parentWidget());
    }
    KovaMessageBox(this, text, QStringLiteral("Success"), MB_OK);
}

void CGenericConfiguration::save_configuration_parameters()
{
    bool running = KovaQelStatusQuery(m_market, m_logger, parentWidget()) == 1;
    if (!RestartAgreed(running))
    {
        return;
    }
    if (validate_parameters() != 0)
    {
        KovaLog(m_logger, KOVA_ACTIVITY, k_save, k_source, __LINE__, "Validation(s) failed.");
        m_save->setEnabled(false);
        return;
    }
    KovaLog(m_logger, KOVA_ACTIVITY, k_save, k_source, __LINE__, "Validation(s) Successful.");
    QString local = KovaAddressText(m_localIpCtrl);
    QString broker = m_brokerIdEdit->text();
    if (!WriteParameters(local, broker) || !FollowInFixSettings(local, broker))
    {
        return;
    }
    ReportSaved(running);
    read_configuration_parameters();
}

void CGenericConfiguration::kill_qel_exe()
{
    StartRestartRequest("CGenericConfiguration::kill_qel_exe");
}
