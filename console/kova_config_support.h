// What the configuration dialogs share: whether a market's gateway runs (the process
// check the main window makes), the restart request they send to a gateway after a
// change (transcode 8000 on its interactive console port), and the FIX settings file's
// rewrite through its fixed temporary file "temp_QEL_FIX_<market>.cfg" beside it, which
// the FIX dialogs also use to recover the settings file after an interrupted rewrite.
#pragma once

#include <QString>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

class CConnectionListener;
class CDialog;
class CKOVAHelper;
class CLogger;
class QBoxLayout;
class QObject;
class QPushButton;
class QWidget;

enum : uint16_t
{
    QEL_APPLICATION_RESTART_TRANSCODE = 8000,
};

// 1 when the market's gateway process runs, 0 otherwise: the main window's answer when
// parent is the main window, else "qel_ip_<market>" looked for in the process list.
// Tests may answer in its place.
int32_t KovaQelStatusQuery(int32_t market, CLogger *logger, QWidget *parent);
void KovaSetQelStatusHookForTests(std::function<int32_t(int32_t market)> hook);
// Posts the main window's "Start &Applications" command when parent is the main window
// (tests may see it instead); nothing otherwise.
void KovaPostStartApplications(QWidget *parent);
void KovaSetStartApplicationsHookForTests(std::function<void()> hook);

// Builds the market's restart request (40 bytes widened, 38 narrow) and sends it on the
// helper's connection, logging under function and source; false when it was not sent
// (a header fill failed: logged and shown over parent).
bool KovaSendRestartRequest(CKOVAHelper *helper, int32_t market, CLogger *logger, const char *function,
                            const char *source, QWidget *parent);

// A dialog's restart link: a new link helper named "KOVA Helper", owned by owner, with
// listener registered for the market, connecting to 127.0.0.1 on port ("Attempting to
// connect...for market %s" logged under function and source); *connecting is false when
// the attempt could not even start.
CKOVAHelper *KovaStartRestartLink(CConnectionListener *listener, QObject *owner, int32_t market, int32_t port,
                                  CLogger *logger, const char *function, const char *source,
                                  bool *connecting = nullptr);
// Closes a dialog's link helper and frees it (null afterwards); deferred, when called
// from inside one of the helper's own listener calls.
void KovaDropHelper(CKOVAHelper **helper, bool deferred);

// The dialog's bottom row: "&Save" (1020, disabled until something changed) and "E&xit"
// (exit_id) at its right; Save runs save, Exit cancels the dialog. Answers Save.
QPushButton *KovaAddSaveExitRow(CDialog *dialog, QBoxLayout *layout, int exit_id, std::function<void()> save);

// The end of a save through the configuration-file writer: true on success; on 200 or
// 300 logs the writer's message and update_failed (200) or open_failed (300) under
// function and source, shows "QEL Setup Error." over parent and answers false.
bool KovaWriteSucceeded(uint32_t result, const char *message, const char *update_failed,
                        const char *open_failed, CLogger *logger, const char *function, const char *source,
                        QWidget *parent);

// A FIX dialog's construction: logs its arguments under function and source, sets
// *temp_path to the settings file's temporary file and recovers the settings file from
// it (KovaRecoverFixSettings, whose answer it gives).
bool KovaStartFixDialog(int32_t market, const std::string &config_path, const std::string &fix_path,
                        int32_t interactive_port, CLogger *logger, const char *function, const char *source,
                        std::string *temp_path);

// The fixed temporary file of a market's FIX settings file: its folder,
// "/temp_QEL_FIX_", the market name, ".cfg"; empty when the path names no file.
std::string KovaFixTempPath(const std::string &fix_path, int32_t market);
// At a FIX dialog's construction: when the settings file cannot be read but the
// temporary file is there, the temporary file takes its place. False only when that
// rename failed (the dialog then ends at once).
bool KovaRecoverFixSettings(const std::string &fix_path, const std::string &temp_path, CLogger *logger,
                            const char *function, const char *source);
// One line of any length without its newline; false at the end of the file.
bool KovaReadLine(FILE *file, std::string *line);
// The line without a trailing carriage return (for comparisons; copies keep the line).
std::string KovaLineText(const std::string &line);
// The text before the first "=" (the whole line when it has none).
std::string KovaLineKey(const std::string &line);
bool KovaEqualsIgnoreCase(const std::string &a, const std::string &b);
// Opens the temporary file for writing, created or emptied, with the settings file's
// permission bits; null on failure (errno).
FILE *KovaFixTempOpen(const std::string &temp_path, const std::string &fix_path);
// Syncs and closes the temporary file and renames it over the settings file; 0, or
// errno of the step that failed with *renaming telling which (the temporary file is
// removed when writing it failed, kept when only the rename failed).
int KovaFixTempCommit(FILE *temp, const std::string &temp_path, const std::string &fix_path, bool *renaming);
