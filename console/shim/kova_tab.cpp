// The tab control over QTabWidget, which already shows exactly the selected page.
#include "console/shim/kova_tab.h"

CTabCtrl::CTabCtrl(QWidget *parent) : QTabWidget(parent)
{
    connect(this, &QTabWidget::currentChanged, this, [this](int) { OnSelChange(); });
}

int CTabCtrl::InsertItem(int index, const QString &label, QWidget *page)
{
    return insertTab(index, page, label);
}

int CTabCtrl::SetCurSel(int index)
{
    if (index < 0 || index >= count())
    {
        return -1;
    }
    int previous = currentIndex();
    setCurrentIndex(index);
    return previous;
}
