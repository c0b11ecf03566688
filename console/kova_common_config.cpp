// The common configuration dialog.
#include "console/kova_common_config.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdint>
#include <cstdio>

#include "common/config_file.h"
#include "console/kova_config_file.h"
#include "console/kova_config_support.h"
#include "console/kova_logger.h"
#include "console/shim/kova_edit.h"
#include "console/shim/kova_message_box.h"

namespace
{
const char *const k_source = "CommonConfig";
const char *const k_key = "REPOSITORY_HISTORY";
} // namespace

int32_t KovaLeadingNumber(const QString &text)
{
    return config_leading_number(text.toUtf8().constData());
}

CCommonConfig::CCommonConfig(int32_t market_type, const std::string &config_path, CLogger *logger,
                             QWidget *parent)
    : CDialog(parent), m_logger(logger), m_marketType(market_type), m_configPath(config_path), m_savedDays(0)
{
    KovaLog(m_logger, KOVA_ACTIVITY, "CCommonConfig::CCommonConfig", k_source, __LINE__,
            "Market type for dialog is %d - COMMON", market_type);
    KovaLog(m_logger, KOVA_ACTIVITY, "CCommonConfig::CCommonConfig", k_source, __LINE__,
            "Common config file path for dialog is %s", config_path.c_str());

    setWindowTitle(QStringLiteral("Common Configuration"));
    auto *layout = new QVBoxLayout(this);
    auto *row = new QHBoxLayout();
    m_days = new CDigitEdit(4, this);
    SetControlId(m_days, IDC_EDIT_REPOSITORY_HISTORY);
    row->addWidget(KovaLabel(QStringLiteral("Repository Management (in Days) : "), m_days, this));
    row->addWidget(m_days);
    layout->addLayout(row);
    m_save = KovaAddSaveExitRow(this, layout, IDC_EXIT, [this] { save_configuration_parameters(); });

    connect(m_days, &QLineEdit::textChanged, this, [this] { OnChangeRepositoryHistory(); });
}

bool CCommonConfig::OnInitDialog()
{
    KovaLog(m_logger, KOVA_ACTIVITY, "CCommonConfig::OnInitDialog", k_source, __LINE__,
            "Initializing dialog");
    read_configuration_parameters();
    return true;
}

void CCommonConfig::UpdateData(bool to_controls)
{
    if (to_controls)
    {
        m_days->setText(m_daysText);
    }
    else
    {
        m_daysText = m_days->text();
    }
}

void CCommonConfig::read_configuration_parameters()
{
    const char *fn = "CCommonConfig::read_configuration_parameters";
    m_daysText.clear();
    UpdateData(true);
    int32_t value = 0;
    uint32_t result = GetIntParameterValue(m_configPath.c_str(), k_key, &value);
    if (result == KOVA_PARAM_OPEN_FAILED)
    {
        EndDialog(-1);
        KovaLog(m_logger, KOVA_EVENT, fn, k_source, __LINE__, "KOVA could not open QEL config file.");
        KovaMessageBox(this, QStringLiteral("QEL Setup Error."), QStringLiteral("Error"), MB_OK);
        return;
    }
    if (result != KOVA_PARAM_FOUND)
    {
        KovaLog(m_logger, KOVA_EVENT, fn, k_source, __LINE__,
                "Cannot read REPOSITORY_HISTORY from config file.");
        value = 0;
    }
    m_daysText = QString::number(value);
    KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__,
            "Read repository history management in days = %s", m_daysText.toUtf8().constData());
    m_savedDays = value;
    m_save->setEnabled(false);
    UpdateData(true);
}

void CCommonConfig::OnChangeRepositoryHistory()
{
    UpdateData(false);
    m_save->setEnabled(KovaLeadingNumber(m_daysText) != m_savedDays);
}

int32_t CCommonConfig::validate_parameters()
{
    const char *fn = "CCommonConfig::validate_parameters";
    UpdateData(false);
    if (m_daysText.isEmpty())
    {
        KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__, "Repository history value is blank.");
        KovaMessageBox(this, QStringLiteral("Repository history value can't be blank"),
                       QStringLiteral("Error"), MB_OK | MB_ICONINFORMATION);
        m_daysText = QString::number(m_savedDays);
        return 200;
    }
    int32_t days = KovaLeadingNumber(m_daysText);
    if (days > 0)
    {
        return 0;
    }
    KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__,
            "Repository history value [%d] is less than or equal to zero", days);
    KovaMessageBox(this, QStringLiteral("Value of Repository history should be greater than zero (0)"),
                   QStringLiteral("Error"), MB_OK | MB_ICONINFORMATION);
    m_daysText = QString::number(m_savedDays);
    return 200;
}

bool CCommonConfig::WriteRepositoryHistory()
{
    char names[1][KOVA_PARAM_SLOT_SIZE] = {};
    char values[1][KOVA_PARAM_SLOT_SIZE] = {};
    snprintf(names[0], sizeof names[0], "%s", k_key);
    snprintf(values[0], sizeof values[0], "%d", KovaLeadingNumber(m_daysText));
    char message[KOVA_PARAM_MESSAGE_SIZE] = {};
    uint32_t result = ReplaceParameterValues(m_configPath.c_str(), names, values, 1, message);
    return KovaWriteSucceeded(result, message, "Parameter(s) updation failed in configuration file.",
                              "KOVA Could not open QEL config file", m_logger,
                              "CCommonConfig::save_configuration_parameters", k_source, this);
}

void CCommonConfig::save_configuration_parameters()
{
    const char *fn = "CCommonConfig::save_configuration_parameters";
    if (validate_parameters() != 0)
    {
        UpdateData(true);
        m_save->setEnabled(false);
        KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__, "Validation(s) failed.");
        return;
    }
    KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__, "Validation(s) Successful.");
    if (!WriteRepositoryHistory())
    {
        return;
    }
    KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__,
            "Parameter(s) updated successfully in configuration file.");
    KovaMessageBox(this, QStringLiteral("Parameter(s) updated successfully in configuration file."),
                   QStringLiteral("Success"), MB_OK);
    read_configuration_parameters();
}
