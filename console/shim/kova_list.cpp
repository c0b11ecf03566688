// The report list over QTreeWidget: a flat list of top-level rows, no sorting of its own.
#include "console/shim/kova_list.h"

#include <QHeaderView>
#include <QKeyEvent>

CListCtrl::CListCtrl(QWidget *parent) : QTreeWidget(parent)
{
    setColumnCount(0);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setAllColumnsShowFocus(false);
    header()->setStretchLastSection(false);
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(header(), &QHeaderView::sectionClicked, this, &CListCtrl::columnClicked);
    connect(this, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem *item, int) { emit rowDoubleClicked(indexOfTopLevelItem(item)); });
}

int CListCtrl::InsertColumn(int col, const QString &heading, int width)
{
    int count = columnCount();
    if (col < 0 || col > count)
    {
        col = count;
    }
    QStringList labels;
    for (int i = 0; i < count; ++i)
    {
        labels << headerItem()->text(i);
    }
    labels.insert(col, heading);
    setColumnCount(count + 1);
    setHeaderLabels(labels);
    // The existing rows' cells move right with their columns.
    for (int row = 0; row < topLevelItemCount(); ++row)
    {
        QTreeWidgetItem *item = topLevelItem(row);
        for (int i = count; i > col; --i)
        {
            item->setText(i, item->text(i - 1));
        }
        item->setText(col, QString());
    }
    setColumnWidth(col, width);
    return col;
}

void CListCtrl::SetFullRowSelect(bool on)
{
    setSelectionBehavior(on ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
    setAllColumnsShowFocus(on);
}

int CListCtrl::InsertItem(int row, const QString &text)
{
    int count = topLevelItemCount();
    if (row < 0 || row > count)
    {
        row = count;
    }
    auto *item = new QTreeWidgetItem();
    item->setText(0, text);
    insertTopLevelItem(row, item);
    return row;
}

bool CListCtrl::SetItemText(int row, int col, const QString &text)
{
    QTreeWidgetItem *item = topLevelItem(row);
    if (item == nullptr || col < 0 || col >= columnCount())
    {
        return false;
    }
    item->setText(col, text);
    return true;
}

QString CListCtrl::GetItemText(int row, int col) const
{
    QTreeWidgetItem *item = topLevelItem(row);
    if (item == nullptr || col < 0 || col >= columnCount())
    {
        return QString();
    }
    return item->text(col);
}

bool CListCtrl::DeleteItem(int row)
{
    QTreeWidgetItem *item = topLevelItem(row);
    if (item == nullptr)
    {
        return false;
    }
    delete item;
    return true;
}

int CListCtrl::GetSelectedRow() const
{
    QList<QTreeWidgetItem *> selected = selectedItems();
    return selected.isEmpty() ? -1 : indexOfTopLevelItem(selected.first());
}

void CListCtrl::SetSelectedRow(int row)
{
    clearSelection();
    QTreeWidgetItem *item = topLevelItem(row);
    if (item != nullptr)
    {
        item->setSelected(true);
        setCurrentItem(item);
    }
}

void CListCtrl::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier)
    {
        emit deleteKeyPressed();
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}
