// What the configuration dialog suites share: the window fixture (test folder, registry,
// message boxes recorded and answered), a console logger whose file is read back, the
// gateway's running state and the main window's "Start Applications" command seen by the
// test instead of the process list and the service, and the dialog shown and activated
// so that keys and mnemonics reach it. Header-only.
#pragma once

#include <QApplication>
#include <QWidget>
#include <arpa/inet.h>
#include <atomic>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "console/kova_config_support.h"
#include "console/kova_logger.h"
#include "support/kova_window_fixture.h"

namespace kova_test
{

// A loopback port whose listener accepts nothing and whose queue is full: a console's
// connect to it neither succeeds nor fails while the test waits.
struct stalled_port
{
    int listener = -1;
    std::vector<int> fillers;
    uint16_t port = 0;

    stalled_port()
    {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        EXPECT_EQ(listen(listener, 0), 0);
        socklen_t length = sizeof address;
        EXPECT_EQ(getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length), 0);
        port = ntohs(address.sin_port);
        for (int i = 0; i < 3; ++i)
        {
            int c = socket(AF_INET, SOCK_STREAM, 0);
            fcntl(c, F_SETFL, O_NONBLOCK);
            connect(c, reinterpret_cast<sockaddr *>(&address), sizeof address);
            fillers.push_back(c);
        }
        usleep(200 * 1000); // the fillers' handshakes complete and fill the queue
    }
    ~stalled_port()
    {
        for (int c : fillers)
            close(c);
        close(listener);
    }
    stalled_port(const stalled_port &) = delete;
    stalled_port &operator=(const stalled_port &) = delete;
};

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
