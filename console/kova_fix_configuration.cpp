// The FIX configuration dialog.
#include "console/kova_fix_configuration.h"

#include <QCheckBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <vector>

#include "console/kova_config_file.h"
#include "console/kova_config_support.h"
#include "console/kova_fix_user_details.h"
#include "console/kova_logger.h"
#include "console/kova_markets.h"
#include "console/shim/kova_message_box.h"

namespace
{
const char *const k_source = "FixConfiguration";
const char *const k_persist = "PersistMessages";
const char *const k_fix_logging = "FIX_LOGGING";

enum
{
    SWITCH_TEXT_SIZE = 5, // "Y" or "N" as stored, at most 4 characters
};

const char *switch_text(int32_t check)
{
    return check ? "Y" : "N";
}

bool is_persist_line(const std::string &line)
{
    std::string key = KovaLineKey(line);
    return !key.empty() && line[0] != '=' && KovaEqualsIgnoreCase(key, k_persist);
}

// The header line of the [DEFAULT] section, blanks around it allowed.
bool is_default_section(const std::string &line)
{
    std::string text = KovaLineText(line);
    size_t first = text.find_first_not_of(" \t");
    size_t last = text.find_last_not_of(" \t");
    return first != std::string::npos &&
           KovaEqualsIgnoreCase(text.substr(first, last - first + 1), "[DEFAULT]");
}
} // namespace

CFixConfiguration::CFixConfiguration(int32_t market, const std::string &config_path,
                                     const std::string &fix_config_path, int32_t interactive_port,
                                     CLogger *logger, QWidget *parent)
    : CRestartDialog("CFixConfiguration", k_source, market, interactive_port, logger, parent),
      m_configPath(config_path), m_fixConfigPath(fix_config_path), m_persistChanged(0),
      m_fixLoggingChanged(0), m_fixLogging(1), m_persistMessages(1)
{
    // A failed recovery shows at the first read: the settings file is not there.
    KovaStartFixDialog(market, config_path, fix_config_path, interactive_port, m_logger,
                       "CFixConfiguration::CFixConfiguration", k_source, &m_tempFilePath);

    setWindowTitle(QStringLiteral("FIX Configuration"));
    auto *layout = new QVBoxLayout(this);
    m_persistBox = new QCheckBox(QStringLiteral("Persist Messages"), this);
    SetControlId(m_persistBox, IDC_CHECK_PERSIST_MESSAGES);
    m_fixLoggingBox = new QCheckBox(QStringLiteral("FIX Logging"), this);
    SetControlId(m_fixLoggingBox, IDC_CHECK_FIX_LOGGING);
    layout->addWidget(m_persistBox);
    layout->addWidget(m_fixLoggingBox);
    m_save = KovaAddSaveExitRow(this, layout, IDC_EXIT, [this] { SaveFixConfigurationParameters(); });
    resize(280, 130);

    connect(m_persistBox, &QCheckBox::clicked, this, [this] { OnCheckChanged(); });
    connect(m_fixLoggingBox, &QCheckBox::clicked, this, [this] { OnCheckChanged(); });
}

bool CFixConfiguration::OnInitDialog()
{
    if (m_market == KOVA_MARKET_KR)
    {
        setWindowTitle(QStringLiteral("FIX Configuration - KR"));
    }
    else if (m_market >= 1 && m_market <= KOVA_MARKET_COUNT)
    {
        setWindowTitle(QStringLiteral("FIX Configuration- ") + QString::fromUtf8(KovaMarketName(m_market)));
    }
    KovaLog(m_logger, KOVA_ACTIVITY, "CFixConfiguration::OnInitDialog", k_source, __LINE__,
            "Market type is %d [%s]", m_market, KovaMarketName(m_market));
    ReadFixConfigurationParameters();
    return true;
}

bool CFixConfiguration::ReadSwitch(const std::string &path, const char *key, const char *open_failed,
                                   const char *missing, QString *stored, int32_t *check)
{
    const char *fn = "CFixConfiguration::ReadFixConfigurationParameters";
    char value[SWITCH_TEXT_SIZE] = {};
    uint32_t result = GetStringParameterValue(path.c_str(), key, value, sizeof value);
    if (result == KOVA_PARAM_OPEN_FAILED)
    {
        KovaLog(m_logger, KOVA_EVENT, fn, k_source, __LINE__, "%s", open_failed);
        KovaMessageBox(this, QStringLiteral("QEL Setup Error."), QStringLiteral("Error"), MB_OK);
        EndDialog(-1);
        return false;
    }
    if (result != KOVA_PARAM_FOUND)
    {
        KovaLog(m_logger, KOVA_EVENT, fn, k_source, __LINE__, "%s", missing);
        value[0] = '\0';
    }
    *stored = QString::fromUtf8(value);
    KovaLog(m_logger, KOVA_DETAIL, fn, k_source, __LINE__, "%s = %s", key, value);
    if (stored->compare(QStringLiteral("N"), Qt::CaseInsensitive) == 0)
    {
        *check = 0;
    }
    else if (stored->compare(QStringLiteral("Y"), Qt::CaseInsensitive) == 0)
    {
        *check = 1;
    }
    else
    {
        KovaLog(m_logger, KOVA_DETAIL, fn, k_source, __LINE__, "Unknown value of %s flag", key);
        KovaLog(m_logger, KOVA_DETAIL, fn, k_source, __LINE__, "Setting default values");
        *stored = QStringLiteral("Y");
        KovaLog(m_logger, KOVA_DETAIL, fn, k_source, __LINE__, "%s set to %s", key, "Y");
        *check = 1;
        KovaLog(m_logger, KOVA_DETAIL, fn, k_source, __LINE__, "%s Configuration (Check Box) set to Checked",
                key);
    }
    return true;
}

void CFixConfiguration::ReadFixConfigurationParameters()
{
    if (!ReadSwitch(m_fixConfigPath, k_persist, "KOVA could not open FIX config file.",
                    "Cannot read PersistMessages from FIX config file.", &m_persistMessagesText,
                    &m_persistMessages))
    {
        return;
    }
    if (!ReadSwitch(m_configPath, k_fix_logging, "KOVA could not open QEL config file.",
                    "Cannot read FIX_LOGGING from QEL config file.", &m_fixLoggingText, &m_fixLogging))
    {
        return;
    }
    m_persistChanged = 0;
    m_fixLoggingChanged = 0;
    m_save->setEnabled(false);
    m_persistBox->setChecked(m_persistMessages != 0);
    m_fixLoggingBox->setChecked(m_fixLogging != 0);
}

void CFixConfiguration::OnCheckChanged()
{
    m_persistMessages = m_persistBox->isChecked() ? 1 : 0;
    m_fixLogging = m_fixLoggingBox->isChecked() ? 1 : 0;
    m_persistChanged = QString::fromUtf8(switch_text(m_persistMessages))
                           .compare(m_persistMessagesText, Qt::CaseInsensitive) != 0;
    m_fixLoggingChanged =
        QString::fromUtf8(switch_text(m_fixLogging)).compare(m_fixLoggingText, Qt::CaseInsensitive) != 0;
    m_save->setEnabled(m_persistChanged || m_fixLoggingChanged);
}

bool CFixConfiguration::RewritePersistMessages(const char *value)
{
    const char *fn = "CFixConfiguration::SaveFixConfigurationParameters";
    std::vector<std::string> lines;
    if (!KovaReadAllLines(m_fixConfigPath, &lines))
    {
        KovaMessageBox(this, QStringLiteral("Can not open FIX config file"), QStringLiteral("Error"),
                       MB_OK | MB_ICONEXCLAMATION);
        KovaLog(m_logger, KOVA_SYSTEM_ERROR, fn, k_source, __LINE__, "Couldn't open file [%s] in read mode.",
                m_fixConfigPath.c_str());
        return false;
    }
    FILE *output = KovaFixTempOpen(m_tempFilePath, m_fixConfigPath);
    if (output == nullptr)
    {
        KovaLog(m_logger, KOVA_SYSTEM_ERROR, fn, k_source, __LINE__,
                "Couldn't open temporary file [%s] in write mode.", m_tempFilePath.c_str());
        return false;
    }
    // Without a line of its own the switch would stay at the engine's default (Y)
    // whatever the box says: it goes into [DEFAULT], which every session takes.
    bool written = std::any_of(lines.begin(), lines.end(), is_persist_line);
    for (const std::string &line : lines)
    {
        if (is_persist_line(line))
        {
            fprintf(output, "PersistMessages=%s\n", value);
            continue;
        }
        fwrite(line.data(), 1, line.size(), output);
        fputc('\n', output);
        if (!written && is_default_section(line))
        {
            fprintf(output, "PersistMessages=%s\n", value);
            written = true;
        }
    }
    if (!written)
    {
        // An empty line first: deleting the FIX user whose block ends the file takes
        // the line after its end marker with it.
        fprintf(output, "\n[DEFAULT]\nPersistMessages=%s\n", value);
    }
    bool renaming = false;
    int error = KovaFixTempCommit(output, m_tempFilePath, m_fixConfigPath, &renaming);
    if (error != 0 && renaming)
    {
        KovaLog(m_logger, KOVA_SYSTEM_ERROR, fn, k_source, __LINE__,
                "Renaming the temporary file %s at %s failed. Error Code : [%d] ", m_tempFilePath.c_str(),
                m_fixConfigPath.c_str(), error);
        EndDialog(-1);
        return false;
    }
    if (error != 0)
    {
        KovaLog(m_logger, KOVA_SYSTEM_ERROR, fn, k_source, __LINE__,
                "Writing the temporary file [%s] failed. Error Code : [%d] ", m_tempFilePath.c_str(), error);
        EndDialog(-1);
        return false;
    }
    return true;
}

bool CFixConfiguration::WriteFixLogging(const char *value)
{
    char names[1][KOVA_PARAM_SLOT_SIZE] = {};
    char values[1][KOVA_PARAM_SLOT_SIZE] = {};
    snprintf(names[0], sizeof names[0], "%s", k_fix_logging);
    snprintf(values[0], sizeof values[0], "%s", value);
    char message[KOVA_PARAM_MESSAGE_SIZE] = {};
    uint32_t result = ReplaceParameterValues(m_configPath.c_str(), names, values, 1, message);
    return KovaWriteSucceeded(result, message, "Parameter(s) updation failed in QEL configuration file.",
                              "KOVA could not open QEL config file", m_logger,
                              "CFixConfiguration::SaveFixConfigurationParameters", k_source, this);
}

void CFixConfiguration::SaveFixConfigurationParameters()
{
    const char *fn = "CFixConfiguration::SaveFixConfigurationParameters";
    OnCheckChanged();
    if (m_fixLoggingChanged && !WriteFixLogging(switch_text(m_fixLogging)))
    {
        return;
    }
    if (m_persistChanged && !RewritePersistMessages(switch_text(m_persistMessages)))
    {
        return;
    }
    KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__,
            "Parameter(s) updated successfully in configuration file.");
    QString text = QStringLiteral("Parameter(s) updated successfully in configuration file.");
    if (KovaQelStatusQuery(m_market, m_logger, parentWidget()) == 1)
    {
        text += QStringLiteral(" QEL will restart to take changes into effect.");
        KovaMessageBox(this, text, QStringLiteral("Success"), MB_OK | MB_ICONINFORMATION);
        KillQELExe(m_market);
    }
    else
    {
        KovaMessageBox(this, text, QStringLiteral("Success"), MB_OK | MB_ICONINFORMATION);
    }
    ReadFixConfigurationParameters();
}

void CFixConfiguration::KillQELExe(int32_t market)
{
    m_market = market;
    StartRestartRequest("CFixConfiguration::KillQELExe");
}
