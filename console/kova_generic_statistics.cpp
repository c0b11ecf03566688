// The statistics page and the statistics-file reader.
#include "console/kova_generic_statistics.h"

#include <QLabel>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "console/shim/kova_list.h"
#include "console/shim/kova_ui_thread.h"

namespace
{
enum : size_t
{
    FIELD_MAX = 1023,
    ID_MAX = 9,
    RECORD_MAX = 1023,
};

// The text from *p up to the next separator or end, at most limit characters kept; *p
// moves past the separator.
std::string take_field(const char *&p, const char *end, char separator, size_t limit)
{
    const char *start = p;
    while (p < end && *p != separator)
    {
        ++p;
    }
    std::string field(start, static_cast<size_t>(p - start) < limit ? static_cast<size_t>(p - start) : limit);
    if (p < end)
    {
        ++p;
    }
    return field;
}

KovaStatisticsRecord parse_record(const char *p, const char *end)
{
    KovaStatisticsRecord record{0, std::string(), std::string(), std::string(), 0};
    std::string id = take_field(p, end, ',', ID_MAX);
    record.id = static_cast<int32_t>(strtol(id.c_str(), nullptr, 10));
    record.name = take_field(p, end, ',', FIELD_MAX);
    record.value = take_field(p, end, ',', FIELD_MAX);
    record.unit = take_field(p, end, ',', FIELD_MAX);
    // The time is the next word: the line's newline ends it, and whatever of an older
    // line follows it up to the next "|" is not part of this record.
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n'))
    {
        ++p;
    }
    const char *word = p;
    while (p < end && !(*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n'))
    {
        ++p;
    }
    std::string time(word,
                     static_cast<size_t>(p - word) < FIELD_MAX ? static_cast<size_t>(p - word) : FIELD_MAX);
    record.time = static_cast<int64_t>(strtoull(time.c_str(), nullptr, 10));
    return record;
}
} // namespace

CGenericStatistics::CGenericStatistics(QWidget *parent) : CGenericStatistics(nullptr, parent) {}

CGenericStatistics::CGenericStatistics(CLogger *logger, QWidget *parent)
    : CDialog(parent), m_logger(logger), m_marketId(0), m_list(nullptr)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(new QLabel(QStringLiteral("REAL TIME STATISTICS"), this));
    m_list = new CListCtrl(this);
    SetControlId(m_list, IDC_LIST_STATISTICS);
    layout->addWidget(m_list);
}

bool CGenericStatistics::OnInitDialog()
{
    m_list->InsertColumn(0, QStringLiteral("Parameter"), 200);
    m_list->InsertColumn(1, QStringLiteral("Value"), 100);
    m_list->InsertColumn(2, QStringLiteral("Unit"), 50);
    m_list->SetFullRowSelect(true);
    return true;
}

int CGenericStatistics::FindStatisticsRow(const QString &name) const
{
    for (int row = 0; row < m_list->GetItemCount(); ++row)
    {
        if (m_list->GetItemText(row, 0)
                .left(static_cast<int>(FIELD_MAX))
                .compare(name, Qt::CaseInsensitive) == 0)
        {
            return row;
        }
    }
    return -1;
}

void CGenericStatistics::UpdateStatisticsRow(int32_t, const QString &name, const QString &value,
                                             const QString &unit, int64_t time)
{
    int row = FindStatisticsRow(name);
    if (row >= 0 && time < m_newest[static_cast<size_t>(row)])
    {
        return; // an older sample left in a file or a file of an earlier day
    }
    int64_t now = static_cast<int64_t>(::time(nullptr));
    QString shown = now - time >= STALE_SECONDS ? QString() : value;
    if (row < 0)
    {
        row = m_list->InsertItem(m_list->GetItemCount(), name);
        m_newest.push_back(time);
    }
    m_newest[static_cast<size_t>(row)] = time;
    m_list->SetItemText(row, 1, shown);
    m_list->SetItemText(row, 2, unit);
}

void CGenericStatistics::BlankStaleRows(int64_t now)
{
    for (size_t row = 0; row < m_newest.size(); ++row)
    {
        if (now - m_newest[row] >= STALE_SECONDS)
        {
            m_list->SetItemText(static_cast<int>(row), 1, QString());
        }
    }
}

std::vector<KovaStatisticsRecord> KovaParseStatistics(const char *text, size_t size)
{
    std::vector<KovaStatisticsRecord> records;
    size_t p = 0;
    while (p <= size)
    {
        const char *start = text + p;
        const char *bar = static_cast<const char *>(memchr(start, '|', size - p));
        size_t length = bar != nullptr ? static_cast<size_t>(bar - start) : size - p;
        p += length + 1;
        if (length > RECORD_MAX)
        {
            length = RECORD_MAX;
        }
        records.push_back(parse_record(start, start + length));
    }
    return records;
}

bool KovaReadStatisticsRecords(const char *path, uint64_t size, std::vector<KovaStatisticsRecord> *records)
{
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size + 1]);
    if (!buffer)
    {
        return false;
    }
    FILE *file = fopen(path, "rb");
    if (file == nullptr)
    {
        return false;
    }
    memset(buffer.get(), 0, size + 1);
    size_t read = fread(buffer.get(), 1, size, file);
    fclose(file);
    // Shorter than listed, still being written, or holding a NUL byte: next pass.
    if (read != size || strlen(buffer.get()) != size)
    {
        return false;
    }
    *records = KovaParseStatistics(buffer.get(), size);
    return true;
}

void ReadStatisticsFile(CGenericStatistics *const pages[8], const char *path, uint64_t size)
{
    std::vector<KovaStatisticsRecord> records;
    if (!KovaReadStatisticsRecords(path, size, &records))
    {
        return;
    }
    for (const KovaStatisticsRecord &r : records)
    {
        for (int slot = 0; slot < 8; ++slot)
        {
            CGenericStatistics *page = pages[slot];
            if (page == nullptr || page->MarketId() != r.id)
            {
                continue;
            }
            QString name = QString::fromUtf8(r.name.c_str());
            QString value = QString::fromUtf8(r.value.c_str());
            QString unit = QString::fromUtf8(r.unit.c_str());
            int64_t time = r.time;
            int32_t id = r.id;
            KovaPostToUiThread(page, [page, id, name, value, unit, time]
                               { page->UpdateStatisticsRow(id, name, value, unit, time); });
        }
    }
}
