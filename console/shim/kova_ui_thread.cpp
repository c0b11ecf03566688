// Work posted to the user-interface thread. The functions wait in a queue of our own under
// a standard mutex; Qt's event queue carries only a bare event per function, telling the
// user-interface thread to take the next one. Handing the functions over inside Qt's
// events would synchronise the two threads only through Qt's own locks, which the thread
// sanitizer does not see (Qt is not built with it): every hand-over would look like a race.
#include "console/shim/kova_ui_thread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QThread>
#include <deque>
#include <mutex>
#include <utility>

namespace
{
struct posted_work
{
    bool has_context;
    QPointer<QObject> context; // the work is dropped once it is gone
    std::function<void()> work;
};

// Lives on the user-interface thread; each of its events runs the oldest posted work.
class ui_work_runner : public QObject
{
  protected:
    void customEvent(QEvent *) override;
};

std::mutex g_mutex;
std::deque<posted_work> g_queue;
ui_work_runner *g_runner = nullptr;
const QEvent::Type k_run_event = static_cast<QEvent::Type>(QEvent::User + 101);

void ui_work_runner::customEvent(QEvent *)
{
    posted_work next;
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        if (g_queue.empty())
        {
            return;
        }
        next = std::move(g_queue.front());
        g_queue.pop_front();
    }
    if (!next.has_context || !next.context.isNull())
    {
        next.work();
    }
}

void post(posted_work item)
{
    QCoreApplication *application = QCoreApplication::instance();
    if (application == nullptr)
    {
        return;
    }
    ui_work_runner *runner;
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        if (g_runner == nullptr)
        {
            // Made on whichever thread posts first, then handed to the user-interface thread.
            g_runner = new ui_work_runner();
            g_runner->moveToThread(application->thread());
        }
        runner = g_runner;
        g_queue.push_back(std::move(item));
    }
    QCoreApplication::postEvent(runner, new QEvent(k_run_event));
}
} // namespace

void KovaPostToUiThread(std::function<void()> work)
{
    post(posted_work{false, QPointer<QObject>(), std::move(work)});
}

void KovaPostToUiThread(QObject *context, std::function<void()> work)
{
    post(posted_work{true, QPointer<QObject>(context), std::move(work)});
}

bool KovaIsUiThread()
{
    return QCoreApplication::instance() != nullptr &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}
