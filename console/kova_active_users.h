// CGenericActiveUsersList: the modal "Active Users List" of one market. It links to the
// gateway's interactive console port, asks for the box information and the active users
// when the link comes up and on each "Refresh", and shows the box id, the box status, the
// number of users and one row per user with its login state; a click on a column header
// sorts the list. The requests and the user records are widened (40 bytes, 32-bit user
// ids) or narrow (38 bytes, 16-bit ids) by the market's flag at the moment each is sent
// or read.
//
// Each user information reply begins with its header, which empties the list: two
// refreshes whose answers are read one after the other list every user once.
//
// SortListControl, the console's exchange sort of a list's rows by the texts of one
// column, serves the FIX users dialog as well.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "console/kova_helper.h"
#include "console/shim/kova_dialog.h"

class CLogger;
class CListCtrl;
class QLabel;
class QPushButton;

class CGenericActiveUsersList : public CDialog, public CConnectionListener
{
    Q_OBJECT

  public:
    enum : int32_t
    {
        IDD = 149,
        IDC_BUTTON_REFRESH = 1016,
        IDC_STATIC_BOX_ID = 1017,
        IDC_STATIC_BOX_STATUS = 1015,
        IDC_STATIC_CONNECTED_USERS = 1034,
        IDC_LIST_ACTIVE_USERS = 1018,
        IDC_BUTTON_EXIT = 1028,
    };

    CGenericActiveUsersList(int32_t market, int32_t interactive_port, CLogger *logger,
                            QWidget *parent = nullptr);
    ~CGenericActiveUsersList() override;

    bool OnInitDialog() override;
    void OnOK() override {}
    void OnButtonActiveUsersListRefresh();
    void OnColumnClick(int column);
    // Closes the link and drops the helper when the dialog is gone.
    void PostNcDestroy();

    void RouteMessage(const uint8_t *packet, uint16_t transcode) override;
    void OnConnectionEstablished() override;
    void OnConnectionLost() override;

    CListCtrl *List() const { return m_list; }
    QString BoxIdText() const { return m_boxId; }
    QString BoxStatusText() const { return m_boxStatus; }
    QString ConnectedUsersText() const { return m_connectedUsers; }
    CKOVAHelper *Helper() const { return m_helper; }

    // "Logged Off." ... "Logon in progress." for 0 to 3, empty otherwise.
    static QString LoginStateText(int32_t state);

  protected:
    void done(int result) override;

  private:
    bool Widened() const;
    bool SendRequest(uint16_t transcode, const char *what);
    void UpdateData();

    CLogger *m_logger;
    int32_t m_market;
    int32_t m_sortColumn;
    int32_t m_sortDirection;
    CKOVAHelper *m_helper;
    std::string m_host;
    std::string m_port;
    QPushButton *m_refresh;
    CListCtrl *m_list;
    QLabel *m_boxIdLabel;
    QLabel *m_boxStatusLabel;
    QLabel *m_connectedUsersLabel;
    QString m_boxId;
    QString m_boxStatus;
    QString m_connectedUsers;
};

enum : int32_t
{
    KOVA_SORT_ASCENDING = 1,
    KOVA_SORT_DESCENDING = 2,
    KOVA_SORT_KEY_TEXT = 1,
    KOVA_SORT_KEY_NUMBER = 2,
};

// Sorts the rows in place by the texts of one column: text keys byte-wise and
// case-sensitive, number keys by their leading signed decimal (a text without one counts
// as 0). Ties never swap.
void SortListControl(CListCtrl *list, int32_t column, int32_t direction, int32_t key_type);
// Exchanges the texts of two rows in every column of the list.
void SwapListRows(CListCtrl *list, int32_t a, int32_t b);
