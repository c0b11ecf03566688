// KovaMessageBox: the console's one message box. Text, caption and a type made of one
// button set, one icon and the default button (MB_YESNO | MB_ICONQUESTION |
// MB_DEFBUTTON2); answers the button pressed as IDOK, IDCANCEL, IDYES, IDNO, ...
// Called from a thread other than the user-interface thread, it shows the box there and
// waits for the answer.
//
// Tests set a hook: every box is then handed to it instead of being shown, and the
// hook's answer is returned. A hook is called on the thread that asked.
#pragma once

#include <QString>
#include <functional>

class QWidget;

// Dialog results and message-box answers, as the console's code compares them.
enum : int
{
    IDOK = 1,
    IDCANCEL = 2,
    IDABORT = 3,
    IDRETRY = 4,
    IDIGNORE = 5,
    IDYES = 6,
    IDNO = 7,
};

enum : unsigned
{
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_ABORTRETRYIGNORE = 0x2,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_RETRYCANCEL = 0x5,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONWARNING = MB_ICONEXCLAMATION,
    MB_ICONINFORMATION = 0x40,
    MB_DEFBUTTON1 = 0x000,
    MB_DEFBUTTON2 = 0x100,
    MB_DEFBUTTON3 = 0x200,
};

// One call as a hook sees it.
struct KovaMessageBoxCall
{
    QString text;
    QString caption;
    unsigned type;
};

using KovaMessageBoxHook = std::function<int(const KovaMessageBoxCall &call)>;

int KovaMessageBox(QWidget *parent, const QString &text, const QString &caption = QString(),
                   unsigned type = MB_OK);
// Sets (or, with an empty hook, removes) the test hook.
void KovaSetMessageBoxHook(KovaMessageBoxHook hook);
