// The live event log page under a full day's replay: the scripted console port sends the
// version and 100,000 events; measured are the time until every event shows on the TX
// page and the user-interface thread's stalls meanwhile (the gaps between the ticks of a
// 1 ms timer). Beside it, in the same run: the same events handed to the page without a
// socket (the page's own cost) and the same rows put on top of a bare list (the list's
// cost). The newest event must end on top, the rows below it in order down to the oldest
// the page keeps (it drops the oldest beyond its bound). Beside each phase: the rows kept
// and how much the resident size grew while the phase's list stood (the allocator keeps
// what a phase freed, so a later phase grows only past it: read it beside its baseline).
//
//   kova_log_page_bench [events]      (default 100000; QT_QPA_PLATFORM=offscreen by default)
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidgetItem>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench/bench_report.h"
#include "console/kova_generic_logs.h"
#include "console/kova_reason_codes.h"
#include "console/shim/kova_list.h"
#include "sim/console/console_port_peer.h"

namespace
{
// Gaps between the ticks of a 1 ms timer on the user-interface thread.
class stall_meter
{
  public:
    stall_meter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this]
                         {
                             double now = static_cast<double>(m_clock.nsecsElapsed()) / 1e6;
                             m_gaps.push_back(now - m_last);
                             m_last = now;
                         });
    }
    void start()
    {
        m_gaps.clear();
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    std::vector<double> sorted() const
    {
        std::vector<double> gaps = m_gaps;
        std::sort(gaps.begin(), gaps.end());
        return gaps;
    }

  private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    double m_last = 0;
    std::vector<double> m_gaps;
};

std::vector<uint8_t> event_frame(uint32_t user)
{
    return sim_console::build_log_event(
        {101, user, static_cast<uint16_t>(user % 2 ? 11018 : 11009), 0xFFFFFFFFu}, 1700000000u + user);
}

struct page_on_screen
{
    QWidget host;
    CGenericLogs *page;
    INPUT_FOR_LOGS_THREAD input{};

    explicit page_on_screen(int port)
    {
        host.resize(900, 420);
        page = new CGenericLogs(nullptr, &host);
        page->SetMarketType(2);
        page->Create(&host);
        page->setGeometry(0, 0, 900, 420);
        input = INPUT_FOR_LOGS_THREAD{page, 0, port, nullptr};
        page->SetLinkData(&input);
        host.show();
        page->show();
        QApplication::processEvents();
    }
};

// Newest on top, then every older event in turn down to the bottom row.
bool order_is_newest_first(CListCtrl *list, uint32_t events)
{
    int rows = list->GetItemCount();
    return rows > 0 && rows <= static_cast<int>(events) &&
           list->GetItemText(0, 0) == QString::number(events) &&
           list->GetItemText(rows - 1, 0) == QString::number(events - static_cast<uint32_t>(rows) + 1);
}

// The process's resident size in MB.
double resident_mb()
{
    long pages = 0, resident = 0;
    FILE *file = fopen("/proc/self/statm", "r");
    if (file != nullptr)
    {
        if (fscanf(file, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        fclose(file);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void report_gaps(bench_report &report, const char *who, double seconds, uint32_t events,
                 const stall_meter &meter)
{
    std::vector<double> gaps = meter.sorted();
    report.line(
        "  %-10s all shown after %8.3f s  %9.0f events/s  stall p50 %6.2f ms  p99 %7.2f ms  max %8.2f ms",
        who, seconds, events / seconds, bench_percentile(gaps, 0.50), bench_percentile(gaps, 0.99),
        gaps.empty() ? 0.0 : gaps.back());
}

void report_rows(bench_report &report, const char *who, CListCtrl *list, double resident_before)
{
    report.line("  %-10s rows kept %7d  resident size grew %7.1f MB", who, list->GetItemCount(),
                resident_mb() - resident_before);
}
} // namespace

int main(int argc, char **argv)
{
    uint32_t events = argc > 1 ? static_cast<uint32_t>(strtoul(argv[1], nullptr, 10)) : 100000;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    bench_report report;
    report.line("KOVA live event log page: %u events replayed into the TX page", events);
    stall_meter meter;

    // Baseline 1: the rows put on top of a bare list, as fast as the list takes them.
    double list_seconds;
    {
        double resident_before = resident_mb();
        QWidget host;
        host.resize(900, 420);
        CListCtrl list(&host);
        list.setGeometry(0, 0, 900, 420);
        for (const char *column : {"User ID", "Time", "Message", "Reason"})
            list.InsertColumn(list.GetColumnCount(), column, 100);
        host.show();
        QStringList cells{QString(), QStringLiteral("Tuesday, November 14, 2023, 22:13:20"),
                          QString::fromUtf8(ReasonCodeText(11018)), QString()};
        meter.start();
        QElapsedTimer clock;
        clock.start();
        for (uint32_t i = 1; i <= events; ++i)
        {
            cells[0] = QString::number(i);
            list.insertTopLevelItem(0, new QTreeWidgetItem(cells));
            if (i % 64 == 0)
                QApplication::processEvents();
        }
        QApplication::processEvents();
        list_seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        meter.stop();
        report_gaps(report, "bare list", list_seconds, events, meter);
        report_rows(report, "bare list", &list, resident_before);
    }

    // Baseline 2: the page's own work on each event, without a socket.
    double page_seconds;
    {
        double resident_before = resident_mb();
        page_on_screen screen(1);
        uint8_t buffer[1024] = {};
        std::vector<uint8_t> version = sim_console::build_version_message(41402);
        memcpy(buffer, version.data(), version.size());
        screen.page->RouteMessage(buffer, 10002);
        meter.start();
        QElapsedTimer clock;
        clock.start();
        for (uint32_t i = 1; i <= events; ++i)
        {
            std::vector<uint8_t> frame = event_frame(i);
            memcpy(buffer, frame.data(), frame.size());
            screen.page->RouteMessage(buffer, 10000);
            if (i % 64 == 0)
                QApplication::processEvents();
        }
        screen.page->FlushEvents();
        QApplication::processEvents();
        page_seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        meter.stop();
        report_gaps(report, "page only", page_seconds, events, meter);
        report_rows(report, "page only", screen.page->List(), resident_before);
        if (!order_is_newest_first(screen.page->List(), events))
            report.line("  page only: WRONG ORDER");
    }

    // Measured: the replay through the console port, the helper and the page.
    sim_console::console_port_peer peer;
    if (!peer.start())
    {
        fprintf(stderr, "cannot listen\n");
        return 1;
    }
    double replay_seconds = 0;
    bool ordered = false;
    {
        double resident_before = resident_mb();
        page_on_screen screen(peer.port());
        screen.page->ConnectToGateway();
        QElapsedTimer wait;
        wait.start();
        while (!screen.page->LinkUp() && wait.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        peer.wait_connected(10000);
        std::vector<std::vector<uint8_t>> frames;
        frames.reserve(events);
        for (uint32_t i = 1; i <= events; ++i)
            frames.push_back(event_frame(i));
        meter.start();
        QElapsedTimer clock;
        clock.start();
        // The peer writes from its own thread, as the gateway would, while this thread shows.
        std::thread sender(
            [&]
            {
                peer.send(sim_console::build_version_message(41402));
                const size_t chunk = 1000;
                for (size_t at = 0; at < frames.size(); at += chunk)
                    peer.send_joined(std::vector<std::vector<uint8_t>>(
                        frames.begin() + static_cast<long>(at),
                        frames.begin() + static_cast<long>(std::min(at + chunk, frames.size()))));
            });
        // Done when the last event shows on top.
        QString last = QString::number(events);
        while (screen.page->List()->GetItemText(0, 0) != last && clock.elapsed() < 120000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        replay_seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        meter.stop();
        sender.join();
        report_gaps(report, "replay", replay_seconds, events, meter);
        report_rows(report, "replay", screen.page->List(), resident_before);
        ordered = order_is_newest_first(screen.page->List(), events);
    }
    peer.stop();
    report.line("  ratio      replay / page only %.2fx   replay / bare list %.2fx",
                replay_seconds / page_seconds, replay_seconds / list_seconds);
    report.line("  order      newest on top, each older one below it: %s", ordered ? "yes" : "NO");
    report.write(bench_default_output("kova_log_page_bench.txt"));
    return ordered ? 0 : 1;
}
