// Four line edits that accept 0 to 255 each, with dots between them.
#include "console/shim/kova_ip_address.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStringList>

CIPAddressCtrl::CIPAddressCtrl(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    static const QRegularExpression octet(QStringLiteral("25[0-5]|2[0-4][0-9]|[01]?[0-9]?[0-9]|"));
    for (int i = 0; i < 4; ++i)
    {
        m_fields[i] = new QLineEdit(this);
        m_fields[i]->setObjectName(QStringLiteral("field%1").arg(i));
        m_fields[i]->setMaxLength(3);
        m_fields[i]->setAlignment(Qt::AlignCenter);
        m_fields[i]->setValidator(new QRegularExpressionValidator(octet, m_fields[i]));
        m_fields[i]->setFixedWidth(m_fields[i]->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 8);
        m_fields[i]->installEventFilter(this);
        layout->addWidget(m_fields[i]);
        if (i < 3)
        {
            layout->addWidget(new QLabel(QStringLiteral("."), this));
        }
        connect(m_fields[i], &QLineEdit::textEdited, this,
                [this, i](const QString &text)
                {
                    if (text.size() == 3 && i < 3)
                    {
                        m_fields[i + 1]->setFocus();
                        m_fields[i + 1]->selectAll();
                    }
                });
        connect(m_fields[i], &QLineEdit::textChanged, this, &CIPAddressCtrl::fieldChanged);
    }
    layout->addStretch();
    setFocusProxy(m_fields[0]);
}

void CIPAddressCtrl::ClearAddress()
{
    for (QLineEdit *field : m_fields)
    {
        field->clear();
    }
}

bool CIPAddressCtrl::IsBlank() const
{
    for (QLineEdit *field : m_fields)
    {
        if (!field->text().isEmpty())
        {
            return false;
        }
    }
    return true;
}

void CIPAddressCtrl::SetAddress(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3)
{
    const uint8_t bytes[4] = {b0, b1, b2, b3};
    for (int i = 0; i < 4; ++i)
    {
        m_fields[i]->setText(QString::number(bytes[i]));
    }
}

int CIPAddressCtrl::GetAddress(uint8_t &b0, uint8_t &b1, uint8_t &b2, uint8_t &b3) const
{
    uint8_t *bytes[4] = {&b0, &b1, &b2, &b3};
    int filled = 0;
    for (int i = 0; i < 4; ++i)
    {
        QString text = m_fields[i]->text();
        *bytes[i] = static_cast<uint8_t>(text.toInt());
        filled += text.isEmpty() ? 0 : 1;
    }
    return filled;
}

QString CIPAddressCtrl::GetAddressText() const
{
    uint8_t b[4];
    GetAddress(b[0], b[1], b[2], b[3]);
    return QStringLiteral("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}

bool CIPAddressCtrl::SetAddressText(const QString &text)
{
    QStringList parts = text.split(QLatin1Char('.'));
    uint8_t b[4] = {0, 0, 0, 0};
    bool valid = parts.size() == 4;
    for (int i = 0; valid && i < 4; ++i)
    {
        bool ok = false;
        int value = parts[i].trimmed().toInt(&ok);
        valid = ok && value >= 0 && value <= 255;
        b[i] = static_cast<uint8_t>(value);
    }
    if (!valid)
    {
        ClearAddress();
        return false;
    }
    SetAddress(b[0], b[1], b[2], b[3]);
    return true;
}

QString CIPAddressCtrl::FieldText(int field) const
{
    return field >= 0 && field < 4 ? m_fields[field]->text() : QString();
}

bool CIPAddressCtrl::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Period)
    {
        for (int i = 0; i < 3; ++i)
        {
            if (watched == m_fields[i] && !m_fields[i]->text().isEmpty())
            {
                m_fields[i + 1]->setFocus();
                m_fields[i + 1]->selectAll();
                return true;
            }
        }
        return true; // a dot never enters a field
    }
    return QWidget::eventFilter(watched, event);
}
