// What the configuration dialog suites share: the window fixture (test folder, registry,
// message boxes recorded and answered), a console logger whose file is read back, the
// gateway's running state and the main window's "Start Applications" command seen by the
// test instead of the process list and the service, and the dialog shown and activated
// so that keys and mnemonics reach it. Header-only.
#pragma once

#include <QApplication>
#include <QWidget>
#include <atomic>
#include <memory>
#include <string>

#include "console/kova_config_support.h"
#include "console/kova_logger.h"
#include "support/kova_window_fixture.h"

namespace kova_test
{

struct dialog_fixture : window_fixture
{
    std::unique_ptr<CLogger> logger;
    std::atomic<int> running{0};     // what the process check answers
    std::atomic<int> start_posts{0}; // "Start Applications" commands posted

    void SetUp() override
    {
        window_fixture::SetUp();
        logger.reset(new CLogger());
        KovaSetQelStatusHookForTests([this](int32_t) { return static_cast<int32_t>(running.load()); });
        KovaSetStartApplicationsHookForTests([this] { ++start_posts; });
    }

    void TearDown() override
    {
        KovaSetQelStatusHookForTests(nullptr);
        KovaSetStartApplicationsHookForTests(nullptr);
        logger.reset();
        window_fixture::TearDown();
    }

    std::string log()
    {
        return logger->CurrentFilePath()[0] != '\0' ? qel_test::read_file(logger->CurrentFilePath()) : "";
    }
    bool logged(const std::string &text) { return log().find(text) != std::string::npos; }

    // The message boxes so far, each "caption: text", then forgotten.
    std::vector<std::string> take_boxes()
    {
        std::lock_guard<std::mutex> guard(boxes_mutex);
        std::vector<std::string> texts;
        for (const KovaMessageBoxCall &call : boxes)
            texts.push_back(call.caption.toStdString() + ": " + call.text.toStdString());
        boxes.clear();
        return texts;
    }

    static void activate(QWidget *window)
    {
        window->show();
        QApplication::setActiveWindow(window);
        pump_until([window] { return QApplication::activeWindow() == window; }, 2000);
    }
};

} // namespace kova_test
