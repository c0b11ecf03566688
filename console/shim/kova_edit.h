// CDigitEdit: an edit field that takes only the digits 0-9, at most limit of them; typed
// and pasted text alike (a paste holding anything else is refused whole, a longer one is
// cut at the limit). It says nothing about the number's range: the dialogs validate it.
#pragma once

#include <QLineEdit>

class CDigitEdit : public QLineEdit
{
    Q_OBJECT

  public:
    // limit 0: no limit beyond the line edit's own.
    explicit CDigitEdit(int limit = 0, QWidget *parent = nullptr);
    void SetLimitText(int limit);
};
