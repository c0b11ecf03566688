// CFixUserSessions: the modal "FIX Users" dialog of one FIX-enabled market. It lists the
// users of the market's FIX settings file (its TargetCompID lines) with their branches,
// and adds, changes (CFixUserDetails) and deletes them; closed after a change while the
// gateway runs, it sends the gateway the restart request and closes once it is sent (or,
// when it cannot be sent within 5 s, says so and closes). The market configuration dialog
// uses one, never shown, to rewrite every identity's broker part and every NicIpAddress
// line after the broker id or the local address changed (OnBrokerIDLocalIPChanged).
#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "console/kova_restart_dialog.h"

class CLogger;
class CListCtrl;
class QLabel;
class QPushButton;

class CFixUserSessions : public CRestartDialog
{
    Q_OBJECT

  public:
    enum : int32_t
    {
        IDD = 154,
        IDC_STATIC_BROKER_ID = 1064,
        IDC_STATIC_USER_COUNT = 1034,
        IDC_LIST_USERS = 1061,
        IDC_BUTTON_NEW = 1041,
        IDC_BUTTON_EDIT = 1042,
        IDC_BUTTON_DELETE = 1043,
        IDC_BUTTON_EXIT = 1032,
    };

    CFixUserSessions(int32_t market, const std::string &config_path, const std::string &fix_config_path,
                     int32_t interactive_port, CLogger *logger, QWidget *parent = nullptr);

    bool OnInitDialog() override;
    int32_t RefreshList();
    void OnButtonNew();
    void OnButtonEdit();
    void OnButtonDelete();
    void OnColumnClick(int column);
    // 0 when the settings file was rewritten, -1 when it was not (logged).
    int32_t OnBrokerIDLocalIPChanged(const char *broker_id, const char *local_ip);
    void KillQELExe(int32_t market);

    // Exit, Enter, Esc and the close box: the close rule.
    void OnOK() override { CloseRule(); }
    void OnCancel() override { CloseRule(); }

    CListCtrl *List() const { return m_list; }
    bool ChangesMade() const { return m_changesMade; }

  protected:
    // The restart request left, or could not be sent (said): the dialog closes.
    void OnRestartSent() override { EndDialog(IDOK); }
    void OnRestartFailed() override { EndDialog(IDCANCEL); }

  private:
    void CloseRule();
    int32_t RewriteFile(const std::vector<std::string> &lines, bool final_newline, const char *function);

    std::string m_configPath;
    std::string m_fixConfigPath;
    std::string m_tempFilePath;
    QString m_brokerId;
    int32_t m_maxTwsClients;
    int32_t m_userCount;
    bool m_changesMade;
    bool m_recoveryFailed;
    int32_t m_sortColumn;
    int32_t m_sortDirection;
    QLabel *m_brokerIdLabel;
    QLabel *m_userCountLabel;
    CListCtrl *m_list;
    QPushButton *m_edit;
    QPushButton *m_delete;
};

// A broker id the gateway's logon accepts: 1 to 5 letters or digits.
bool KovaBrokerIdUsable(const QString &broker_id);
