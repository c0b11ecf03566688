// What the console window suites share: a test folder that is the current folder, the
// temporary folder (single-instance socket) and the service folder, a registry file of
// the test's own with the console's log folder in it, message boxes recorded (and
// answered) instead of shown, and the console log read back. Header-only.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "console/shim/kova_message_box.h"
#include "support/kova_test_app.h"
#include "support/test_support.h"

namespace kova_test
{

// One market's key as the installation writes it.
struct registry_market
{
    registry_market(int number_, int realtime_port_, int interactive_port_,
                    std::string config_path_ = "/opt/qel_ip/config/qel_ip.cfg",
                    std::string fix_config_path_ = "")
        : number(number_), realtime_port(realtime_port_), interactive_port(interactive_port_),
          config_path(std::move(config_path_)), fix_config_path(std::move(fix_config_path_))
    {
    }

    int number;
    int realtime_port;
    int interactive_port;
    std::string config_path;
    std::string fix_config_path; // empty: not FIX enabled
    std::string version;         // empty: no VERSION value
    bool omit_interactive_port = false;
};

inline std::string registry_text(const std::string &log_folder, const std::vector<registry_market> &markets,
                                 const std::string &extra = std::string())
{
    std::string text = "[SOFTWARE\\QEL_IP]\n\"KOVA_LOG_FILES_PATH\"=\"" + log_folder +
                       "\"\n\"REPO_CONFIG_FILE_PATH\"=\"/opt/qel_ip/config/common.cfg\"\n";
    char port[16];
    for (const registry_market &m : markets)
    {
        text += "[SOFTWARE\\QEL_IP\\" + std::to_string(m.number) + "]\n";
        snprintf(port, sizeof port, "%08x", m.realtime_port);
        text += "\"INTERFACE_THREAD_NON_INTERACTIVE_PORT\"=dword:" + std::string(port) + "\n";
        if (!m.omit_interactive_port)
        {
            snprintf(port, sizeof port, "%08x", m.interactive_port);
            text += "\"INTERFACE_THREAD_INTERACTIVE_PORT\"=dword:" + std::string(port) + "\n";
        }
        text += "\"CONFIG_FILE_PATH\"=\"" + m.config_path + "\"\n";
        if (!m.fix_config_path.empty())
            text += "\"FIX_CONFIG_FILE_PATH\"=\"" + m.fix_config_path + "\"\n";
        if (!m.version.empty())
            text += "\"VERSION\"=\"" + m.version + "\"\n";
    }
    return text + extra;
}

// True when the process is a child of this test process: what the console's process check
// is limited to in tests, as other suites on the machine run gateways under the same names.
inline bool child_of_this_process(uint32_t pid)
{
    std::string stat = qel_test::read_file("/proc/" + std::to_string(pid) + "/stat");
    size_t name_end = stat.rfind(')'); // the name may hold blanks and parentheses
    if (name_end == std::string::npos)
        return false;
    char state = 0;
    long parent = 0;
    if (sscanf(stat.c_str() + name_end + 1, " %c %ld", &state, &parent) != 2)
        return false;
    return parent == static_cast<long>(getpid());
}

// Runs a menu command of window that opens a modal dialog of type T; script drives the
// dialog once it shows and ends it. False when no such dialog showed.
template <typename T, typename Window>
bool run_modal(Window *window, int32_t command, std::function<void(T *)> script)
{
    bool ran = false;
    QTimer::singleShot(
        0,
        [&]
        {
            pump_until([] { return qobject_cast<T *>(QApplication::activeModalWidget()) != nullptr; }, 5000);
            T *dialog = qobject_cast<T *>(QApplication::activeModalWidget());
            if (dialog == nullptr)
                return;
            ran = true;
            script(dialog);
        });
    window->OnCommand(command);
    return ran;
}

struct window_fixture : ::testing::Test
{
    qel_test::temp_dir dir;
    std::string old_folder;
    std::mutex boxes_mutex;
    std::vector<KovaMessageBoxCall> boxes;
    int box_answer = IDOK;

    void SetUp() override
    {
        application();
        char cwd[4096];
        old_folder = getcwd(cwd, sizeof cwd) != nullptr ? cwd : ".";
        ASSERT_EQ(chdir(dir.path().c_str()), 0);
        ASSERT_EQ(system(("mkdir -p '" + dir.file("logs") + "' '" + dir.file("tmp") + "' '" +
                          dir.file("service") + "'")
                             .c_str()),
                  0);
        setenv("TMPDIR", dir.file("tmp").c_str(), 1);
        setenv("QEL_SERVICE_DIR", dir.file("service").c_str(), 1);
        setenv("QEL_REGISTRY_FILE", dir.file("registry").c_str(), 1);
        write_registry({});
        KovaSetMessageBoxHook(
            [this](const KovaMessageBoxCall &call)
            {
                std::lock_guard<std::mutex> guard(boxes_mutex);
                boxes.push_back(call);
                return box_answer;
            });
    }

    void TearDown() override
    {
        KovaSetMessageBoxHook(nullptr);
        unsetenv("QEL_REGISTRY_FILE");
        unsetenv("QEL_SERVICE_DIR");
        unsetenv("TMPDIR");
        EXPECT_EQ(chdir(old_folder.c_str()), 0);
    }

    void write_registry(const std::vector<registry_market> &markets, const std::string &extra = std::string())
    {
        dir.write("registry", registry_text(dir.file("logs"), markets, extra));
    }

    std::vector<std::string> box_texts()
    {
        std::lock_guard<std::mutex> guard(boxes_mutex);
        std::vector<std::string> texts;
        for (const KovaMessageBoxCall &call : boxes)
            texts.push_back(call.text.toStdString());
        return texts;
    }

    bool box_shown(const std::string &text)
    {
        for (const std::string &t : box_texts())
            if (t == text)
                return true;
        return false;
    }

    // Everything the console logged so far (its day's file).
    std::string console_log()
    {
        std::string all;
        for (const std::string &name : dir.list("logs"))
            all += dir.read("logs/" + name);
        return all;
    }
};

} // namespace kova_test
