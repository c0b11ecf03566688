// The message box over QMessageBox, with the Windows-style button sets and answers the
// console's code speaks, and the test hook in front of it.
#include "console/shim/kova_message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <condition_variable>
#include <mutex>

#include "console/shim/kova_dialog.h"
#include "console/shim/kova_ui_thread.h"

namespace
{
std::mutex g_hook_mutex;
KovaMessageBoxHook g_hook;

struct button_answer
{
    QMessageBox::StandardButton button;
    int answer;
};

std::vector<button_answer> buttons_of(unsigned type)
{
    switch (type & 0xF)
    {
    case MB_OKCANCEL:
        return {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
    case MB_ABORTRETRYIGNORE:
        return {
            {QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, IDRETRY}, {QMessageBox::Ignore, IDIGNORE}};
    case MB_YESNOCANCEL:
        return {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
    case MB_YESNO:
        return {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
    case MB_RETRYCANCEL:
        return {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
    default:
        return {{QMessageBox::Ok, IDOK}};
    }
}

QMessageBox::Icon icon_of(unsigned type)
{
    switch (type & 0xF0)
    {
    case MB_ICONERROR:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

int show_box(QWidget *parent, const QString &text, const QString &caption, unsigned type)
{
    QMessageBox box(icon_of(type), caption, text, QMessageBox::NoButton, parent);
    std::vector<button_answer> buttons = buttons_of(type);
    for (const button_answer &b : buttons)
    {
        box.addButton(b.button);
    }
    size_t preset = (type & 0xF00) >> 8;
    box.setDefaultButton(buttons[preset < buttons.size() ? preset : 0].button);
    // Esc answers Cancel or No where the box has one, as the close box does.
    int clicked = box.exec();
    for (const button_answer &b : buttons)
    {
        if (b.button == clicked)
        {
            return b.answer;
        }
    }
    return buttons.size() == 1 ? IDOK : (type & 0xF) == MB_YESNO ? IDNO : IDCANCEL;
}
} // namespace

int KovaMessageBox(QWidget *parent, const QString &text, const QString &caption, unsigned type)
{
    KovaMessageBoxHook hook;
    {
        std::lock_guard<std::mutex> guard(g_hook_mutex);
        hook = g_hook;
    }
    if (hook)
    {
        return hook(KovaMessageBoxCall{text, caption, type});
    }
    if (QThread::currentThread() == qApp->thread())
    {
        return show_box(parent, text, caption, type);
    }
    // Shown on the user-interface thread; this thread waits for the answer.
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    int answer = IDCANCEL;
    QPointer<QWidget> owner(parent);
    KovaPostToUiThread(
        [&]
        {
            int pressed = show_box(owner.data(), text, caption, type);
            std::lock_guard<std::mutex> guard(mutex);
            answer = pressed;
            done = true;
            answered.notify_one();
        });
    std::unique_lock<std::mutex> lock(mutex);
    answered.wait(lock, [&] { return done; });
    return answer;
}

void KovaSetMessageBoxHook(KovaMessageBoxHook hook)
{
    std::lock_guard<std::mutex> guard(g_hook_mutex);
    g_hook = std::move(hook);
}
