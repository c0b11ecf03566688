// CPageTabCtrl: the main window's tab control that owns up to eight pages, one per tab:
// the live event log pages (kind 1, one per installed market) or the statistics pages
// (kind 2, "Common" first, then one per installed market). The window inserts the tabs'
// labels first; CreatePages then makes the pages and puts each under its tab. Only the
// selected tab's page is shown.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "console/shim/kova_tab.h"

class CLogger;
class CDialog;

class CPageTabCtrl : public CTabCtrl
{
    Q_OBJECT

  public:
    enum : int32_t
    {
        PAGES_MAX = 8,
        KIND_LOGS = 1,
        KIND_STATISTICS = 2,
    };

    explicit CPageTabCtrl(QWidget *parent = nullptr);
    ~CPageTabCtrl() override;

    void SetLogger(CLogger *logger) { m_logger = logger; }
    // A tab's label, waiting for its page; its index.
    int InsertTab(int index, const QString &label);
    // Creates count pages of the kind (parent: the control's parent window), each under
    // its tab, and writes them into pages_out too. market_types holds the seven markets'
    // types (-1 when not installed): log page i gets the i-th installed market, a
    // statistics page 1 + i too, page 0 the "Common" id 100.
    void CreatePages(const int32_t *template_ids, CDialog **pages_out, const int32_t *market_types,
                     int32_t count, int32_t kind, CLogger *logger);
    void ShowSelectedPage();
    int32_t PageCount() const { return m_pageCount; }
    CDialog *Page(int index) const { return index >= 0 && index < m_pageCount ? m_pages[index] : nullptr; }

  protected:
    void OnSelChange() override;

  private:
    CLogger *m_logger;
    int32_t m_templateIds[PAGES_MAX];
    CDialog *m_pages[PAGES_MAX];
    int32_t m_pageCount;
    QStringList m_labels;
};
