// The page tab control: pages made by kind, shown one at a time.
#include "console/kova_page_tab_ctrl.h"

#include "console/kova_generic_logs.h"
#include "console/kova_generic_statistics.h"
#include "console/kova_markets.h"

CPageTabCtrl::CPageTabCtrl(QWidget *parent)
    : CTabCtrl(parent), m_logger(nullptr), m_templateIds(), m_pages(), m_pageCount(0)
{
}

CPageTabCtrl::~CPageTabCtrl()
{
    // Each page's removal changes the selection: no page is left to show by then.
    int32_t count = m_pageCount;
    m_pageCount = 0;
    for (int i = 0; i < count; ++i)
    {
        delete m_pages[i];
    }
}

int CPageTabCtrl::InsertTab(int index, const QString &label)
{
    if (index < 0 || index > m_labels.size())
    {
        index = static_cast<int>(m_labels.size());
    }
    m_labels.insert(index, label);
    return index;
}

void CPageTabCtrl::CreatePages(const int32_t *template_ids, CDialog **pages_out, const int32_t *market_types,
                               int32_t count, int32_t kind, CLogger *logger)
{
    if (count > PAGES_MAX)
    {
        count = PAGES_MAX;
    }
    for (int32_t i = 0; i < count; ++i)
    {
        m_templateIds[i] = template_ids != nullptr ? template_ids[i] : 0; // the layouts are the pages' own
    }
    int32_t next_market = 0; // index into market_types
    auto next_installed = [&]() -> int32_t
    {
        while (next_market < KOVA_MARKET_COUNT && market_types[next_market] == KOVA_NOT_INSTALLED)
        {
            ++next_market;
        }
        return next_market < KOVA_MARKET_COUNT ? market_types[next_market++] : KOVA_NOT_INSTALLED;
    };
    QWidget *parent = parentWidget();
    for (int32_t i = 0; i < count; ++i)
    {
        CDialog *page = nullptr;
        if (kind == KIND_LOGS)
        {
            auto *logs = new CGenericLogs(logger, parent);
            logs->SetMarketType(next_installed());
            page = logs;
        }
        else if (kind == KIND_STATISTICS)
        {
            auto *statistics =
                i == 0 ? new CGenericStatistics(logger, parent) : new CGenericStatistics(parent);
            statistics->SetMarketId(i == 0 ? int32_t{KOVA_COMMON_MARKET_ID} : next_installed());
            page = statistics;
        }
        else
        {
            continue;
        }
        page->Create(parent);
        QString label = i < m_labels.size() ? m_labels[i] : QString();
        CTabCtrl::InsertItem(m_pageCount, label, page);
        m_pages[m_pageCount++] = page;
        pages_out[i] = page;
    }
}

void CPageTabCtrl::ShowSelectedPage()
{
    int selected = GetCurSel();
    if (selected < 0)
    {
        return;
    }
    for (int i = 0; i < m_pageCount; ++i)
    {
        m_pages[i]->setVisible(i == selected);
    }
}

void CPageTabCtrl::OnSelChange()
{
    ShowSelectedPage();
}
