// The FIX user details dialog, and the FIX settings file's line helpers the users
// dialogs share.
#include "console/kova_fix_user_details.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>
#include <cstring>

#include "console/kova_common_config.h"
#include "console/kova_config_support.h"
#include "console/kova_logger.h"
#include "console/kova_markets.h"
#include "console/shim/kova_edit.h"
#include "console/shim/kova_message_box.h"

namespace
{
const char *const k_source = "FixUserDetails";
} // namespace

bool KovaParseIdentityLine(const std::string &line, std::string *key, std::string *user, std::string *broker,
                           std::string *branch)
{
    // Fields as large as the line: nothing a line holds can overrun them.
    std::vector<char> k(line.size() + 1), u(line.size() + 1), b(line.size() + 1), r(line.size() + 1);
    if (sscanf(line.c_str(), "%[^=]=%[^,],%[^,],%s", k.data(), u.data(), b.data(), r.data()) != 4)
    {
        return false;
    }
    *key = k.data();
    *user = u.data();
    *broker = b.data();
    *branch = r.data();
    return true;
}

bool KovaReadAllLines(const std::string &path, std::vector<std::string> *lines)
{
    FILE *file = fopen(path.c_str(), "r");
    if (file == nullptr)
    {
        return false;
    }
    lines->clear();
    std::string line;
    while (KovaReadLine(file, &line))
    {
        lines->push_back(line);
    }
    bool failed = ferror(file) != 0;
    fclose(file);
    return !failed;
}

int32_t KovaFindMarker(const std::vector<std::string> &lines, const std::string &marker, size_t from)
{
    for (size_t i = from; i < lines.size(); ++i)
    {
        if (KovaEqualsIgnoreCase(KovaLineText(lines[i]), marker))
        {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

CFixUserDetails::CFixUserDetails(int32_t market, const QString &user_id, const QString &broker_id,
                                 const QString &branch_id, const std::string &fix_config_path,
                                 int32_t modification_type, CLogger *logger, QWidget *parent)
    : CDialog(parent), m_market(market), m_userIdText(user_id), m_userId(KovaLeadingNumber(user_id)),
      m_brokerId(broker_id), m_branchIdText(branch_id), m_branchId(KovaLeadingNumber(branch_id)),
      m_fixConfigPath(fix_config_path), m_modificationType(modification_type), m_logger(logger),
      m_recoveryFailed(false)
{
    const char *fn = "CFixUserDetails::CFixUserDetails";
    KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__, "Market type for dialog is %d - %s", market,
            KovaMarketName(market));
    KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__, "FIX Config file path is - %s",
            fix_config_path.c_str());
    KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__, "Modification type is %d", modification_type);
    m_tempFilePath = KovaFixTempPath(m_fixConfigPath, market);
    m_recoveryFailed = !KovaRecoverFixSettings(m_fixConfigPath, m_tempFilePath, m_logger, fn, k_source);

    setWindowTitle(QStringLiteral("FIX User Details"));
    auto *layout = new QVBoxLayout(this);
    auto *grid = new QGridLayout();
    m_userIdEdit = new CDigitEdit(5, this);
    SetControlId(m_userIdEdit, IDC_EDIT_USER_ID);
    m_branchIdEdit = new CDigitEdit(3, this);
    SetControlId(m_branchIdEdit, IDC_EDIT_BRANCH_ID);
    grid->addWidget(KovaLabel(QStringLiteral("&User ID"), m_userIdEdit, this), 0, 0);
    grid->addWidget(m_userIdEdit, 0, 1);
    grid->addWidget(KovaLabel(QStringLiteral("&Branch ID"), m_branchIdEdit, this), 1, 0);
    grid->addWidget(m_branchIdEdit, 1, 1);
    layout->addLayout(grid);
    auto *buttons = new QHBoxLayout();
    m_save = new QPushButton(QStringLiteral("&Save"), this);
    SetControlId(m_save, IDC_SAVE);
    m_save->setEnabled(false);
    auto *cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    SetControlId(cancel, IDC_CANCEL);
    buttons->addStretch();
    buttons->addWidget(m_save);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    connect(m_userIdEdit, &QLineEdit::textChanged, this, [this] { EnableDisableSaveButton(); });
    connect(m_branchIdEdit, &QLineEdit::textChanged, this, [this] { EnableDisableSaveButton(); });
    connect(m_save, &QPushButton::clicked, this, [this] { SaveFixConfigurationParameters(); });
    connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });
}

bool CFixUserDetails::OnInitDialog()
{
    if (m_recoveryFailed)
    {
        EndDialog(-1); // the settings file could not be recovered
        return true;
    }
    m_userIdEdit->setText(m_userIdText);
    m_branchIdEdit->setText(m_branchIdText);
    m_userIdEdit->setEnabled(m_modificationType == NEW_USER);
    m_save->setEnabled(false);
    return true;
}

void CFixUserDetails::EnableDisableSaveButton()
{
    m_save->setEnabled(KovaLeadingNumber(m_userIdEdit->text()) != m_userId ||
                       KovaLeadingNumber(m_branchIdEdit->text()) != m_branchId);
}

int32_t CFixUserDetails::ValidateParameters()
{
    auto refuse = [this](const char *text, CDigitEdit *field, const QString &given)
    {
        KovaMessageBox(this, QString::fromUtf8(text), QStringLiteral("Error"), MB_OK | MB_ICONINFORMATION);
        field->setText(given);
        return 200;
    };
    if (m_userIdEdit->text().isEmpty())
        return refuse("User ID can't be blank", m_userIdEdit, m_userIdText);
    if (m_branchIdEdit->text().isEmpty())
        return refuse("Branch ID can't be blank", m_branchIdEdit, m_branchIdText);
    if (KovaLeadingNumber(m_userIdEdit->text()) <= 0)
        return refuse("User ID can't be zero", m_userIdEdit, m_userIdText);
    if (KovaLeadingNumber(m_branchIdEdit->text()) < 1)
        return refuse("Branch ID can't be zero", m_branchIdEdit, m_branchIdText);
    return 0;
}

bool CFixUserDetails::UserListed(const std::vector<std::string> &lines, int32_t user_id,
                                 const std::string &begin)
{
    if (KovaFindMarker(lines, begin) >= 0)
    {
        return true;
    }
    // A user may stand in the file by its TargetCompID line alone (a hand-made block).
    std::string key, user, broker, branch;
    for (const std::string &line : lines)
    {
        if (KovaParseIdentityLine(line, &key, &user, &broker, &branch) &&
            KovaEqualsIgnoreCase(key, "TargetCompID") && !user.empty() &&
            user.find_first_not_of("0123456789") == std::string::npos &&
            KovaLeadingNumber(QString::fromStdString(user)) == user_id)
        {
            return true;
        }
    }
    return false;
}

bool CFixUserDetails::EditBlock(std::vector<std::string> *lines, int32_t user_id, const std::string &begin,
                                const std::string &end, const std::string &identity)
{
    int32_t first = KovaFindMarker(*lines, begin);
    int32_t last = first >= 0 ? KovaFindMarker(*lines, end, static_cast<size_t>(first) + 1) : -1;
    if (last < 0)
    {
        return false;
    }
    for (int32_t i = first + 1; i < last; ++i)
    {
        std::string &line = (*lines)[static_cast<size_t>(i)];
        if (KovaEqualsIgnoreCase(KovaLineKey(line), "TargetCompID"))
        {
            line = "TargetCompID=" + identity;
            KovaLog(m_logger, KOVA_ACTIVITY, "CFixUserDetails::SaveFixConfigurationParameters", k_source,
                    __LINE__, "%s=%s set for Trader ID %d", "TargetCompID", identity.c_str(), user_id);
        }
    }
    return true;
}

void CFixUserDetails::SaveFixConfigurationParameters()
{
    const char *fn = "CFixUserDetails::SaveFixConfigurationParameters";
    if (ValidateParameters() != 0)
    {
        KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__, "Validation(s) failed.");
        return;
    }
    KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__, "Validation(s) Successful.");
    int32_t user_id = KovaLeadingNumber(m_userIdEdit->text());
    int32_t branch_id = KovaLeadingNumber(m_branchIdEdit->text());
    char identity[64];
    snprintf(identity, sizeof identity, "%d,%s,%d", user_id, m_brokerId.toUtf8().constData(), branch_id);
    char begin[32], end[32];
    snprintf(begin, sizeof begin, "#BeginSession_%d", user_id);
    snprintf(end, sizeof end, "#EndSession_%d", user_id);

    std::vector<std::string> lines;
    if (!KovaReadAllLines(m_fixConfigPath, &lines))
    {
        KovaMessageBox(this, QStringLiteral("Can not open FIX config file"), QStringLiteral("Error"),
                       MB_OK | MB_ICONWARNING);
        KovaLog(m_logger, KOVA_SYSTEM_ERROR, fn, k_source, __LINE__, "Couldn't open file [%s] in read mode.",
                m_fixConfigPath.c_str());
        return;
    }
    if (m_modificationType == NEW_USER && UserListed(lines, user_id, begin))
    {
        KovaMessageBox(this, QStringLiteral("User ID %1 already exists.\n").arg(user_id),
                       QStringLiteral("Error"), MB_OK | MB_ICONWARNING);
        KovaLog(m_logger, KOVA_EVENT, fn, k_source, __LINE__,
                "Addition of trader id %d failed as that trader id already exists.", user_id);
        return;
    }
    if (m_modificationType == EDIT_USER && !EditBlock(&lines, user_id, begin, end, identity))
    {
        // Without its two markers the block's extent is unknown: nothing is changed.
        KovaMessageBox(this,
                       QStringLiteral("User ID %1 cannot be changed: its session block in the FIX "
                                      "config file has no #BeginSession_%1 or #EndSession_%1 line.")
                           .arg(user_id),
                       QStringLiteral("Error"), MB_OK | MB_ICONWARNING);
        KovaLog(m_logger, KOVA_EVENT, fn, k_source, __LINE__,
                "Change of trader id %d failed as its session block is not whole.", user_id);
        return;
    }
    FILE *output = KovaFixTempOpen(m_tempFilePath, m_fixConfigPath);
    if (output == nullptr)
    {
        KovaLog(m_logger, KOVA_SYSTEM_ERROR, fn, k_source, __LINE__,
                "Couldn't open temporary file [%s] in write mode.", m_tempFilePath.c_str());
        return;
    }
    for (const std::string &line : lines)
    {
        fwrite(line.data(), 1, line.size(), output);
        fputc('\n', output);
    }
    if (m_modificationType == NEW_USER)
    {
        fprintf(output, "\n%s\n[SESSION]\nTargetCompID=%s\n%s\n", begin, identity, end);
        KovaLog(m_logger, KOVA_ACTIVITY, fn, k_source, __LINE__,
                "New Session added for Trader ID %d in FIX config file.", user_id);
    }
    bool renaming = false;
    int error = KovaFixTempCommit(output, m_tempFilePath, m_fixConfigPath, &renaming);
    if (error != 0)
    {
        if (renaming)
            KovaLog(m_logger, KOVA_SYSTEM_ERROR, fn, k_source, __LINE__,
                    "Renaming the temporary file %s at %s failed. Error Code : [%d] ", m_tempFilePath.c_str(),
                    m_fixConfigPath.c_str(), error);
        else
            KovaLog(m_logger, KOVA_SYSTEM_ERROR, fn, k_source, __LINE__,
                    "Writing the temporary file [%s] failed. Error Code : [%d] ", m_tempFilePath.c_str(),
                    error);
        EndDialog(-1);
        return;
    }
    EndDialog(SAVED);
}
