// CListCtrl: the report list of the console's dialogs and pages. Rows of text cells
// under a header of columns whose widths are in pixels; rows and columns are indexed
// from 0. The list never sorts itself: a column click is reported (columnClicked) and
// the dialog sorts. Double click (rowDoubleClicked) and the Delete key
// (deleteKeyPressed) are reported too. Selection is one row at a time; with full-row
// selection the whole row is highlighted, as the console's lists all ask.
#pragma once

#include <QString>
#include <QTreeWidget>

class CListCtrl : public QTreeWidget
{
    Q_OBJECT

  public:
    explicit CListCtrl(QWidget *parent = nullptr);

    // Inserts a column at index col (left-aligned, width in pixels); its index.
    int InsertColumn(int col, const QString &heading, int width);
    int GetColumnCount() const { return columnCount(); }
    void SetFullRowSelect(bool on);

    // Inserts a row at index row (clamped to the end) with the text of column 0; its index.
    int InsertItem(int row, const QString &text);
    bool SetItemText(int row, int col, const QString &text);
    // The cell's text, empty for a cell that does not exist.
    QString GetItemText(int row, int col) const;
    int GetItemCount() const { return topLevelItemCount(); }
    bool DeleteItem(int row);
    void DeleteAllItems() { clear(); }
    // The selected row, -1 when none.
    int GetSelectedRow() const;
    void SetSelectedRow(int row);

  signals:
    void columnClicked(int column);
    void rowDoubleClicked(int row);
    void deleteKeyPressed();

  protected:
    void keyPressEvent(QKeyEvent *event) override;
};
