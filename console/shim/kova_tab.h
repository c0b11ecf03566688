// CTabCtrl: a tab control whose tabs each show one page (a CDialog created as a page,
// or any widget). The control shows the page of the selected tab and hides the others;
// OnSelChange runs after the selection changed, by the user or by SetCurSel.
#pragma once

#include <QString>
#include <QTabWidget>

class CTabCtrl : public QTabWidget
{
    Q_OBJECT

  public:
    explicit CTabCtrl(QWidget *parent = nullptr);

    // Inserts a tab labelled label at index (clamped to the end) showing page; its index.
    int InsertItem(int index, const QString &label, QWidget *page);
    int GetItemCount() const { return count(); }
    // The selected tab, -1 when there is none.
    int GetCurSel() const { return currentIndex(); }
    // Selects a tab; the previous selection, or -1 when index is out of range.
    int SetCurSel(int index);
    QWidget *GetPage(int index) const { return widget(index); }

  protected:
    virtual void OnSelChange() {}
};
