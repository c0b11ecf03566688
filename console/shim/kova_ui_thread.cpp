// Queued invocations on the application object (or a context object living on the
// user-interface thread).
#include "console/shim/kova_ui_thread.h"

#include <QCoreApplication>
#include <QThread>

void KovaPostToUiThread(std::function<void()> work)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

void KovaPostToUiThread(QObject *context, std::function<void()> work)
{
    QMetaObject::invokeMethod(context, std::move(work), Qt::QueuedConnection);
}

bool KovaIsUiThread()
{
    return QCoreApplication::instance() != nullptr &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}
