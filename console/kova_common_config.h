// CCommonConfig: the modal "Common Configuration" dialog, which edits the one setting all
// markets share: REPOSITORY_HISTORY, the days of log repository history, in the common
// configuration file (registry value REPO_CONFIG_FILE_PATH). It talks to no gateway.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "console/shim/kova_dialog.h"

class CLogger;
class CDigitEdit;
class QPushButton;

class CCommonConfig : public CDialog
{
    Q_OBJECT

  public:
    enum : int32_t
    {
        IDD = 151,
        IDC_SAVE = 1020,
        IDC_EDIT_REPOSITORY_HISTORY = 1029,
        IDC_EXIT = 1028,
    };

    CCommonConfig(int32_t market_type, const std::string &config_path, CLogger *logger,
                  QWidget *parent = nullptr);

    bool OnInitDialog() override;
    void read_configuration_parameters();
    void save_configuration_parameters();
    int32_t validate_parameters();
    // The field's change notification: Save only while the number differs from the saved one.
    void OnChangeRepositoryHistory();

    int32_t SavedDays() const { return m_savedDays; }

  private:
    void UpdateData(bool to_controls);
    // REPOSITORY_HISTORY as the field holds it, into the file; false on failure (shown).
    bool WriteRepositoryHistory();

    CLogger *m_logger;
    int32_t m_marketType;
    std::string m_configPath;
    QPushButton *m_save;
    CDigitEdit *m_days;
    QString m_daysText;
    int32_t m_savedDays;
};

// The leading decimal number of text (none gives 0), held in 32 bits: the configuration
// reader's conversion, so that a number typed reads as the gateway will read it.
int32_t KovaLeadingNumber(const QString &text);
