// Digits only: a validator that accepts nothing but 0-9, which Qt applies to typing and
// to pasting alike.
#include "console/shim/kova_edit.h"

#include <QRegularExpression>
#include <QRegularExpressionValidator>

CDigitEdit::CDigitEdit(int limit, QWidget *parent) : QLineEdit(parent)
{
    setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    SetLimitText(limit);
}

void CDigitEdit::SetLimitText(int limit)
{
    setMaxLength(limit > 0 ? limit : 32767);
}
