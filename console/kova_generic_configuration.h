// CGenericConfiguration: the modal "Configuration" dialog of one market's gateway: the
// gateway machine's local and WAN addresses, the box and broker identity, and the
// exchange host's address and port, with the choice between the primary and the
// business-continuity (BCP) host. It reads and writes the market's gateway configuration
// file, asks a running gateway to restart after a change, and, for a FIX-enabled market
// whose broker id or local address changed, rewrites the FIX users' identities and the
// FIX listener's address (CFixUserSessions::OnBrokerIDLocalIPChanged). Opened from the
// menu "QEL &Configuration" and by "KOVA -c <market>" (which posts no "Start
// Applications" after a save).
//
// An address in the file that is not four numbers of 0 to 255 shows blank (logged) and
// reaches the file again only when the operator enters one. BCP_HOST_IP is written while
// BCP is selected, so that the address the operator entered is the one read back.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "console/kova_restart_dialog.h"

class CLogger;
class CDigitEdit;
class CIPAddressCtrl;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CGenericConfiguration : public CRestartDialog
{
    Q_OBJECT

  public:
    enum : int32_t
    {
        IDD = 150,
        IDC_SAVE = 1020,
        IDC_LOCAL_IP = 1022,
        IDC_WAN_IP = 1023,
        IDC_HOST_IP = 1024,
        IDC_HOST_PORT = 1025,
        IDC_BOX_ID = 1026,
        IDC_BROKER_ID = 1027,
        IDC_EXIT = 1032,
        IDC_RADIO_PRIMARY = 1036,
        IDC_RADIO_BCP = 1037,
        IDC_STATIC_HOST_IP = 1038,
        IDC_STATIC_BCP_IP = 1039,
        IDC_BCP_IP = 1040,
        HOST_PORT_MAX = 65535,
        BOX_ID_MAX = 32767,
    };

    // command_line: 0 from the menu, 1 from "-c <market>".
    CGenericConfiguration(int32_t market, const std::string &config_path, const std::string &fix_config_path,
                          int32_t interactive_port, CLogger *logger, QWidget *parent = nullptr,
                          int32_t command_line = 0);

    bool OnInitDialog() override;
    void OnOK() override {}
    void read_configuration_parameters();
    int32_t validate_parameters();
    void save_configuration_parameters();
    void kill_qel_exe();
    void CheckForChanges();
    void OnBrokerIdChanged();
    void OnRadioPrimary();
    void OnRadioBcp();

    int32_t RadioPrimary() const { return m_nRadioPrimary; }

  private:
    // One address key into its control; the remembered text ("" when blank).
    QString LoadAddress(CIPAddressCtrl *control, const char *key, const QString &text);
    void ShowPrimaryMode();
    void ShowBcpMode();
    int32_t Refuse(const QString &text, unsigned type);
    // The steps of a save: the restart question while the gateway runs (false: No, the
    // file reloaded), the keys written, the FIX settings following a new broker id or
    // local address, and the outcome told (with the restart request).
    bool RestartAgreed(bool running);
    bool WriteParameters(const QString &local, const QString &broker);
    bool FollowInFixSettings(const QString &local, const QString &broker);
    void ReportSaved(bool running);

    std::string m_configPath;
    std::string m_fixConfigPath;
    int32_t m_commandLine;

    CIPAddressCtrl *m_localIpCtrl;
    CIPAddressCtrl *m_wanIpCtrl;
    CIPAddressCtrl *m_hostIpCtrl;
    CIPAddressCtrl *m_bcpIpCtrl;
    CDigitEdit *m_boxIdEdit;
    QLineEdit *m_brokerIdEdit;
    CDigitEdit *m_hostPortEdit;
    QRadioButton *m_primaryRadio;
    QRadioButton *m_bcpRadio;
    QLabel *m_hostIpLabel;
    QLabel *m_bcpIpLabel;
    QPushButton *m_save;
    int32_t m_nRadioPrimary;

    // As loaded: what a change is judged against.
    QString m_localIp;
    QString m_wanIp;
    QString m_hostIp;
    QString m_bcpIp;
    QString m_currentConfig;
    int64_t m_hostPort;
    int64_t m_boxId;
    QString m_brokerId;
    bool m_brokerIdChanged;
    bool m_localIpChanged;
    bool m_loading;
};

// The address control's text: "%d.%d.%d.%d", or "" when it is blank.
QString KovaAddressText(const CIPAddressCtrl *control);
// The decimal digits of text as a number that stops growing past 2^40, so that a number
// beyond any range is still seen as beyond it; -1 for text without digits.
int64_t KovaBoundedNumber(const QString &text);
