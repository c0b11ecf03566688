// The console suites' Qt set-up: one QApplication for the test process on the offscreen
// platform (unless QT_QPA_PLATFORM says otherwise), an event pump that waits for a
// condition, and sanitizer suppressions that cover Qt's own libraries only (they are not
// built with the sanitizers): ThreadSanitizer's for calls made from inside Qt, and
// LeakSanitizer's for the font configuration cache that Qt's font database keeps for the
// life of the process. Header-only, included once per test executable.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>

namespace kova_test
{

inline QApplication *application()
{
    static int argc = 1;
    static char name[] = "kova_test";
    static char *argv[] = {name, nullptr};
    static QApplication *app = []
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);
    }();
    return app;
}

// Runs the event loop until condition() holds or timeout_ms pass; condition() at the end.
template <typename Condition> bool pump_until(Condition condition, int timeout_ms = 5000)
{
    application();
    QElapsedTimer timer;
    timer.start();
    while (!condition())
    {
        if (timer.elapsed() >= timeout_ms)
        {
            return condition();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// Runs the event loop for a while (to see that nothing more happens).
inline void pump_for(int ms)
{
    pump_until([] { return false; }, ms);
}

} // namespace kova_test

#if defined(__SANITIZE_THREAD__)
#define KOVA_TEST_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KOVA_TEST_TSAN 1
#endif
#endif
#ifdef KOVA_TEST_TSAN
extern "C" const char *__tsan_default_suppressions()
{
    return "called_from_lib:libQt6Core.so\n"
           "called_from_lib:libQt6Gui.so\n"
           "called_from_lib:libQt6Widgets.so\n";
}
#endif

#if defined(__SANITIZE_ADDRESS__)
#define KOVA_TEST_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KOVA_TEST_LSAN 1
#endif
#endif
#ifdef KOVA_TEST_LSAN
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
#endif
