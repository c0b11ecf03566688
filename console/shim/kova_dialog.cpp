// The dialog's life: OnInitDialog before the first show, EndDialog before or after it,
// Enter, Esc and the close box routed to the handlers.
#include "console/shim/kova_dialog.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

CDialog::CDialog(QWidget *parent) : QDialog(parent) {}

int CDialog::DoModal()
{
    m_ended = false;
    OnInitDialog(); // false only says that it set the focus itself
    if (m_ended)
    {
        return m_endResult;
    }
    m_running = true;
    int result = exec();
    m_running = false;
    return m_ended ? m_endResult : result;
}

bool CDialog::Create(QWidget *parent)
{
    setParent(parent, Qt::Widget);
    m_ended = false;
    OnInitDialog();
    return !m_ended;
}

void CDialog::EndDialog(int result)
{
    m_ended = true;
    m_endResult = result;
    if (m_running)
    {
        done(result);
    }
    else
    {
        hide();
    }
}

QWidget *CDialog::GetDlgItem(int id) const
{
    return findChild<QWidget *>(QString::number(id));
}

void CDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier)
    {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        {
            // A focused push button has clicked itself already; anything else is the
            // dialog's Enter.
            OnOK();
            event->accept();
            return;
        }
        if (event->key() == Qt::Key_Escape)
        {
            OnCancel();
            event->accept();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

void SetControlId(QWidget *control, int id)
{
    control->setObjectName(QString::number(id));
    if (auto *button = qobject_cast<QPushButton *>(control))
    {
        // Enter reaches the dialog's OnOK unless the button itself has the focus.
        button->setAutoDefault(true);
        button->setDefault(false);
    }
}

QLabel *KovaLabel(const QString &text, QWidget *buddy, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}
