// CFixUserDetails: the modal "FIX User Details" dialog, which adds one FIX user (a new
// session block at the end of the market's FIX settings file) or changes the branch of
// one (its block's TargetCompID). A FIX user is the acceptor session whose target
// identity is "<user id>,<broker id>,<branch id>"; the console finds its block by the
// comment lines "#BeginSession_<user id>" and "#EndSession_<user id>". The file is
// rewritten through its fixed temporary file. The modal result is 10 after a save, -1
// after a failed rewrite; a refused save keeps the dialog open.
#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "console/shim/kova_dialog.h"

class CLogger;
class CDigitEdit;
class QPushButton;

class CFixUserDetails : public CDialog
{
    Q_OBJECT

  public:
    enum : int32_t
    {
        IDD = 155,
        IDC_SAVE = 1020,
        IDC_EDIT_USER_ID = 1056,
        IDC_EDIT_BRANCH_ID = 1058,
        IDC_CANCEL = 1060,
        NEW_USER = 1,
        EDIT_USER = 2,
        SAVED = 10,
    };

    CFixUserDetails(int32_t market, const QString &user_id, const QString &broker_id,
                    const QString &branch_id, const std::string &fix_config_path, int32_t modification_type,
                    CLogger *logger, QWidget *parent = nullptr);

    bool OnInitDialog() override;
    void OnOK() override {}
    void EnableDisableSaveButton();
    int32_t ValidateParameters();
    void SaveFixConfigurationParameters();

  private:
    // Refuses a user id already listed (its begin marker or a TargetCompID line).
    bool UserListed(const std::vector<std::string> &lines, int32_t user_id, const std::string &begin);
    // The block's TargetCompID lines get the identity; false when the block is not whole.
    bool EditBlock(std::vector<std::string> *lines, int32_t user_id, const std::string &begin,
                   const std::string &end, const std::string &identity);

    int32_t m_market;
    QString m_userIdText;
    int32_t m_userId;
    QString m_brokerId;
    QString m_branchIdText;
    int32_t m_branchId;
    std::string m_fixConfigPath;
    std::string m_tempFilePath;
    int32_t m_modificationType;
    CLogger *m_logger;
    bool m_recoveryFailed;
    CDigitEdit *m_userIdEdit;
    CDigitEdit *m_branchIdEdit;
    QPushButton *m_save;
};

// A TargetCompID line taken apart as "<key>=<user>,<broker>,<branch>" (the branch ends at
// the first blank); false unless all four fields are there.
bool KovaParseIdentityLine(const std::string &line, std::string *key, std::string *user, std::string *broker,
                           std::string *branch);
// The settings file's lines (any length, newline removed); false when it cannot be read.
bool KovaReadAllLines(const std::string &path, std::vector<std::string> *lines);
// The index of the first line from `from` equal to marker ignoring case, or -1.
int32_t KovaFindMarker(const std::vector<std::string> &lines, const std::string &marker, size_t from = 0);
