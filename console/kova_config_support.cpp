// The configuration dialogs' shared pieces: process check, restart request, the FIX
// settings file's temporary file.
#include "console/kova_config_support.h"

#include <QBoxLayout>
#include <QPushButton>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "console/kova_config_file.h"
#include "console/kova_helper.h"
#include "console/kova_logger.h"
#include "console/kova_main_window.h"
#include "console/kova_markets.h"
#include "console/shim/kova_dialog.h"
#include "console/shim/kova_message_box.h"
#include "platform/admin/pf_process.h"
#include "platform/admin/pf_temp_file.h"

namespace
{
std::mutex g_hooks_mutex;
std::function<int32_t(int32_t)> g_status_hook;
std::function<void()> g_start_hook;
} // namespace

void KovaSetQelStatusHookForTests(std::function<int32_t(int32_t market)> hook)
{
    std::lock_guard<std::mutex> guard(g_hooks_mutex);
    g_status_hook = std::move(hook);
}

void KovaSetStartApplicationsHookForTests(std::function<void()> hook)
{
    std::lock_guard<std::mutex> guard(g_hooks_mutex);
    g_start_hook = std::move(hook);
}

int32_t KovaQelStatusQuery(int32_t market, CLogger *logger, QWidget *parent)
{
    {
        std::lock_guard<std::mutex> guard(g_hooks_mutex);
        if (g_status_hook)
        {
            return g_status_hook(market);
        }
    }
    if (auto *window = qobject_cast<CKOVAClientPHASE4Dlg *>(parent))
    {
        return window->qel_status_query(market);
    }
    if (KovaMarketLowerName(market)[0] == '\0')
    {
        return 0;
    }
    char name[64];
    snprintf(name, sizeof name, "qel_ip_%s.exe", KovaMarketLowerName(market));
    pf_process_snapshot *snapshot = nullptr;
    uint32_t error = pf_process_snapshot_create(&snapshot);
    if (error != 0)
    {
        KovaLog(logger, KOVA_SYSTEM_ERROR, "KovaQelStatusQuery", "ConfigSupport", __LINE__,
                "Error in CreateToolhelp32Snapshot(). Cannot retrieve snapshot for processes. Error [%u]",
                error);
        return 0;
    }
    int32_t running = pf_process_find_by_name(snapshot, name) != nullptr ? 1 : 0;
    pf_process_snapshot_destroy(snapshot);
    return running;
}

void KovaPostStartApplications(QWidget *parent)
{
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> guard(g_hooks_mutex);
        hook = g_start_hook;
    }
    if (hook)
    {
        hook();
        return;
    }
    if (auto *window = qobject_cast<CKOVAClientPHASE4Dlg *>(parent))
    {
        window->PostCommand(CKOVAClientPHASE4Dlg::ID_START_APPLICATIONS);
    }
}

bool KovaSendRestartRequest(CKOVAHelper *helper, int32_t market, CLogger *logger, const char *function,
                            const char *source, QWidget *parent)
{
    uint16_t length = KovaRequestLength(market);
    bool widened = length == KOVA_REQUEST_WIDENED;
    const char *name = KovaMarketName(market);
    uint8_t packet[KOVA_REQUEST_WIDENED] = {};
    if (helper->GeneratePacketHeader(packet, QEL_APPLICATION_RESTART_TRANSCODE) != 1)
    {
        if (widened)
            KovaLog(logger, KOVA_ACTIVITY, function, source, __LINE__, "Error in Generating %s Packet Header",
                    name);
        else
            KovaLog(logger, KOVA_ACTIVITY, function, source, __LINE__, "Error in Generating Packet Header");
        KovaMessageBox(parent, QStringLiteral("KOVA error."), QString(), MB_OK);
        return false;
    }
    if (helper->GenerateNetworkHeader(packet, length) != 1)
    {
        if (widened)
            KovaLog(logger, KOVA_ACTIVITY, function, source, __LINE__,
                    "Error in Generating %s Network Header", name);
        else
            KovaLog(logger, KOVA_ACTIVITY, function, source, __LINE__, "Error in Generating Network Header");
        KovaMessageBox(parent, QStringLiteral("KOVA error"), QString(), MB_OK);
        return false;
    }
    if (helper->SendPacket(packet, length) != 1)
    {
        return false; // the helper logged and showed it
    }
    if (widened)
        KovaLog(logger, KOVA_ACTIVITY, function, source, __LINE__, "Request to kill %s qel sent.", name);
    else
        KovaLog(logger, KOVA_ACTIVITY, function, source, __LINE__, "Request to kill qel sent.");
    return true;
}

CKOVAHelper *KovaStartRestartLink(CConnectionListener *listener, QObject *owner, int32_t market, int32_t port,
                                  CLogger *logger, const char *function, const char *source, bool *connecting)
{
    auto *helper = new CKOVAHelper(logger);
    helper->SetListener(listener, market);
    helper->Create(owner);
    KovaLog(logger, KOVA_ACTIVITY, function, source, __LINE__, "Attempting to connect...for market %s",
            KovaMarketName(market));
    int32_t started = helper->EstablishConnection("127.0.0.1", std::to_string(port));
    if (connecting != nullptr)
    {
        *connecting = started == 1;
    }
    return helper;
}

void KovaDropHelper(CKOVAHelper **helper, bool deferred)
{
    if (*helper == nullptr)
    {
        return;
    }
    (*helper)->SetListener(nullptr, (*helper)->Identifier());
    (*helper)->Tcp()->CloseConnection();
    if (deferred)
    {
        (*helper)->deleteLater();
    }
    else
    {
        delete *helper;
    }
    *helper = nullptr;
}

QPushButton *KovaAddSaveExitRow(CDialog *dialog, QBoxLayout *layout, int exit_id, std::function<void()> save)
{
    auto *buttons = new QHBoxLayout();
    auto *save_button = new QPushButton(QStringLiteral("&Save"), dialog);
    SetControlId(save_button, 1020);
    save_button->setEnabled(false);
    auto *exit_button = new QPushButton(QStringLiteral("E&xit"), dialog);
    SetControlId(exit_button, exit_id);
    buttons->addStretch();
    buttons->addWidget(save_button);
    buttons->addWidget(exit_button);
    layout->addLayout(buttons);
    QObject::connect(save_button, &QPushButton::clicked, dialog, std::move(save));
    QObject::connect(exit_button, &QPushButton::clicked, dialog, [dialog] { dialog->OnCancel(); });
    return save_button;
}

bool KovaWriteSucceeded(uint32_t result, const char *message, const char *update_failed,
                        const char *open_failed, CLogger *logger, const char *function, const char *source,
                        QWidget *parent)
{
    if (result != KOVA_PARAM_WRITE_FAILED && result != KOVA_PARAM_OPEN_FAILED)
    {
        return true;
    }
    KovaLog(logger, KOVA_EVENT, function, source, __LINE__, "%s", message);
    KovaLog(logger, KOVA_EVENT, function, source, __LINE__, "%s",
            result == KOVA_PARAM_WRITE_FAILED ? update_failed : open_failed);
    KovaMessageBox(parent, QStringLiteral("QEL Setup Error."), QStringLiteral("Error"), MB_OK);
    return false;
}

bool KovaStartFixDialog(int32_t market, const std::string &config_path, const std::string &fix_path,
                        int32_t interactive_port, CLogger *logger, const char *function, const char *source,
                        std::string *temp_path)
{
    KovaLog(logger, KOVA_ACTIVITY, function, source, __LINE__, "Market type for dialog is %d - %s", market,
            KovaMarketName(market));
    KovaLog(logger, KOVA_ACTIVITY, function, source, __LINE__, "QEL Config file path is - %s",
            config_path.c_str());
    KovaLog(logger, KOVA_ACTIVITY, function, source, __LINE__, "FIX Config file path is - %s",
            fix_path.c_str());
    KovaLog(logger, KOVA_ACTIVITY, function, source, __LINE__, "Interface thread interactive port is %u",
            static_cast<unsigned>(interactive_port));
    *temp_path = KovaFixTempPath(fix_path, market);
    return KovaRecoverFixSettings(fix_path, *temp_path, logger, function, source);
}

std::string KovaFixTempPath(const std::string &fix_path, int32_t market)
{
    char title[1024];
    if (GetFileTitleWrapper(fix_path.c_str(), title, sizeof title) != 0)
    {
        return std::string();
    }
    std::string folder = fix_path.substr(0, fix_path.size() - strlen(title));
    if (!folder.empty())
    {
        folder.pop_back(); // the separator
    }
    else
    {
        folder = ".";
    }
    return folder + "/temp_QEL_FIX_" + KovaMarketName(market) + ".cfg";
}

bool KovaRecoverFixSettings(const std::string &fix_path, const std::string &temp_path, CLogger *logger,
                            const char *function, const char *source)
{
    FILE *file = fopen(fix_path.c_str(), "r");
    if (file != nullptr)
    {
        fclose(file);
        return true;
    }
    KovaLog(logger, KOVA_SYSTEM_ERROR, function, source, __LINE__, "Couldn't open file [%s] in read mode.",
            fix_path.c_str());
    FILE *temp = temp_path.empty() ? nullptr : fopen(temp_path.c_str(), "r");
    if (temp == nullptr)
    {
        KovaLog(logger, KOVA_SYSTEM_ERROR, function, source, __LINE__,
                "Temp file for Fix Config is not present");
        return true;
    }
    fclose(temp);
    if (pf_temp_file_replace(temp_path.c_str(), fix_path.c_str()) != 0)
    {
        KovaLog(logger, KOVA_SYSTEM_ERROR, function, source, __LINE__,
                "Renaming the temporary file %s at %s failed. Error Code : [%d] ", temp_path.c_str(),
                fix_path.c_str(), errno);
        return false;
    }
    return true;
}

bool KovaReadLine(FILE *file, std::string *line)
{
    line->clear();
    int c;
    bool any = false;
    while ((c = fgetc(file)) != EOF)
    {
        any = true;
        if (c == '\n')
        {
            break;
        }
        line->push_back(static_cast<char>(c));
    }
    return any;
}

std::string KovaLineText(const std::string &line)
{
    if (!line.empty() && line.back() == '\r')
    {
        return line.substr(0, line.size() - 1);
    }
    return line;
}

std::string KovaLineKey(const std::string &line)
{
    std::string text = KovaLineText(line);
    return text.substr(0, text.find('='));
}

bool KovaEqualsIgnoreCase(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
    {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i)
    {
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i])))
        {
            return false;
        }
    }
    return true;
}

FILE *KovaFixTempOpen(const std::string &temp_path, const std::string &fix_path)
{
    return temp_path.empty() ? nullptr : pf_temp_file_create_named(fix_path.c_str(), temp_path.c_str());
}

int KovaFixTempCommit(FILE *temp, const std::string &temp_path, const std::string &fix_path, bool *renaming)
{
    *renaming = false;
    bool failed = ferror(temp) != 0;
    int error = failed ? (errno != 0 ? errno : EIO) : 0;
    if (pf_temp_file_close_synced(temp) != 0 || failed)
    {
        error = error != 0 ? error : errno;
        remove(temp_path.c_str());
        return error != 0 ? error : EIO;
    }
    // Renamed over the settings file in one step: until then the old file stands whole.
    if (pf_temp_file_replace(temp_path.c_str(), fix_path.c_str()) != 0)
    {
        *renaming = true;
        return errno != 0 ? errno : EIO;
    }
    return 0;
}
