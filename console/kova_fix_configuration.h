// CFixConfiguration: the modal "FIX Configuration" dialog of one FIX-enabled market. It
// edits two switches: PersistMessages in the market's FIX settings file (whether the FIX
// engine stores what it sends) and FIX_LOGGING in the gateway configuration file. The
// gateway configuration is rewritten by the configuration-file writer; the FIX settings
// file through its fixed temporary file, which also recovers the settings file at
// construction after an interrupted rewrite. A save while the gateway runs ends with a
// restart request to it; the monitoring service starts it again with the new settings.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "console/kova_restart_dialog.h"

class CLogger;
class QCheckBox;
class QPushButton;

class CFixConfiguration : public CRestartDialog
{
    Q_OBJECT

  public:
    enum : int32_t
    {
        IDD = 160,
        IDC_SAVE = 1020,
        IDC_EXIT = 1028,
        IDC_CHECK_FIX_LOGGING = 1078,
        IDC_CHECK_PERSIST_MESSAGES = 1080,
    };

    CFixConfiguration(int32_t market, const std::string &config_path, const std::string &fix_config_path,
                      int32_t interactive_port, CLogger *logger, QWidget *parent = nullptr);

    bool OnInitDialog() override;
    void ReadFixConfigurationParameters();
    void SaveFixConfigurationParameters();
    void KillQELExe(int32_t market);
    // A check box was clicked: Save only while a box differs from its stored value.
    void OnCheckChanged();

    const std::string &TempFilePath() const { return m_tempFilePath; }

  private:
    // Reads one switch; false when its file cannot be opened (the dialog has ended).
    bool ReadSwitch(const std::string &path, const char *key, const char *open_failed, const char *missing,
                    QString *stored, int32_t *check);
    // Rewrites every PersistMessages line of the FIX settings file, or adds one to its
    // [DEFAULT] section when it has none; false on failure.
    bool RewritePersistMessages(const char *value);
    // Writes FIX_LOGGING into the gateway configuration; false on failure (shown).
    bool WriteFixLogging(const char *value);

    std::string m_configPath;
    std::string m_fixConfigPath;
    std::string m_tempFilePath;
    int32_t m_persistChanged;
    int32_t m_fixLoggingChanged;
    QPushButton *m_save;
    QCheckBox *m_fixLoggingBox;
    QCheckBox *m_persistBox;
    int32_t m_fixLogging;
    int32_t m_persistMessages;
    QString m_fixLoggingText;
    QString m_persistMessagesText;
};
