// CDialog: the console's dialog, on Qt Widgets, in the shape the console's dialogs and
// pages are written in. A dialog runs modally (DoModal) or lives as a page inside
// another window (Create). OnInitDialog runs once, before the dialog is first shown; a
// dialog may end itself there (EndDialog), and is then never shown. Enter goes to OnOK,
// Esc and the close box to OnCancel (both end the dialog unless overridden); Enter on a
// focused push button clicks that button instead.
//
// Controls are ordinary Qt widgets created by the dialog; each carries its control id
// as object name (SetControlId), so that GetDlgItem and tests find it by id. "&" in a
// button, check box or radio text is its mnemonic (Alt+letter); a QLabel's mnemonic
// moves the focus to its buddy (KovaLabel). Tab order is the order of creation.
//
// Every widget belongs to the user-interface thread; other threads post work to it
// (kova_ui_thread.h).
#pragma once

#include <QDialog>
#include <QString>

#include "console/shim/kova_message_box.h" // the results IDOK, IDCANCEL, ...

class QLabel;

class CDialog : public QDialog
{
    Q_OBJECT

  public:
    explicit CDialog(QWidget *parent = nullptr);

    // OnInitDialog, then (unless the dialog ended there) shows it and runs until
    // EndDialog; answers the value given to EndDialog.
    int DoModal();
    // As a page: embeds the dialog in parent (no frame of its own), runs OnInitDialog;
    // the caller shows it. False when OnInitDialog ended it.
    bool Create(QWidget *parent);
    // Ends the dialog with this result: a modal run returns it, a page is hidden.
    void EndDialog(int result);
    bool IsEnded() const { return m_ended; }
    int EndResult() const { return m_endResult; }

    // The child control whose control id is id (its object name), or null.
    QWidget *GetDlgItem(int id) const;
    template <typename T> T *Item(int id) const { return qobject_cast<T *>(GetDlgItem(id)); }
    void SetWindowText(const QString &title) { setWindowTitle(title); }

    // Handlers the dialogs override.
    virtual bool OnInitDialog() { return true; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

  protected:
    void keyPressEvent(QKeyEvent *event) override;
    // Qt's accept/reject (default button, Esc, close box) go to the handlers.
    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }

  private:
    bool m_ended = false;
    bool m_running = false;
    int m_endResult = 0;
};

// Gives a control its control id (the object name "1022" for 1022).
void SetControlId(QWidget *control, int id);
// A label whose "&" mnemonic moves the focus to buddy.
QLabel *KovaLabel(const QString &text, QWidget *buddy, QWidget *parent);
