// CIPAddressCtrl: an IPv4 address in four fields of 0 to 255 separated by dots. A field
// may be blank; the control is blank when all four are. Typing a third digit or "."
// moves on to the next field. fieldChanged is emitted on every change of any field.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>

class QLineEdit;

class CIPAddressCtrl : public QWidget
{
    Q_OBJECT

  public:
    explicit CIPAddressCtrl(QWidget *parent = nullptr);

    void ClearAddress();
    bool IsBlank() const;
    void SetAddress(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3);
    // The four fields (a blank field gives 0); the number of fields that are not blank.
    int GetAddress(uint8_t &b0, uint8_t &b1, uint8_t &b2, uint8_t &b3) const;
    // "%d.%d.%d.%d" of the four fields.
    QString GetAddressText() const;
    // Splits dotted text into four numbers and shows them; false (control cleared) when
    // the text is not four numbers of 0 to 255 separated by dots.
    bool SetAddressText(const QString &text);
    // One field, 0 to 3: its text ("" when blank).
    QString FieldText(int field) const;

  signals:
    void fieldChanged();

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    QLineEdit *m_fields[4];
};
