// The example installation as an operator makes it: the README's block "The example
// installation by hand", run as it stands into a temporary root (its /opt/qel_ip and
// /var/lib/qel_ip moved under the root, this build's programs in place of build/), the
// installed gateway then started as qelmon starts it (in its folder, with its argument)
// inside a private mount namespace in which empty file systems lie over the build tree
// and the checkout. Whatever the installed gateway would still read from them is missing
// there, so a FIX client of the example's settings logging on through it shows that the
// installation stands on its own.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <memory>
#include <string>
#include <vector>

#include "sim/workstation/trader.h"
#include "sim/workstation/workstation_client.h"
#include "support/fix_road.h"
#include "support/gateway_log.h"
#include "support/installation.h"
#include "support/test_support.h"
#include "support/workstation_trader.h"

namespace
{
const uint32_t kTimeoutMs = 20000;
const char *const kDictionary = "FIX42_qel_acceptor.xml";

// The first indented block after the heading (or after the first line that begins with
// `after` below it), one command a line.
std::vector<std::string> readme_block(const std::string &readme, const std::string &heading,
                                      const std::string &after = "")
{
    std::vector<std::string> lines;
    size_t at = readme.find("\n## " + heading + "\n");
    if (at != std::string::npos && !after.empty())
        at = readme.find("\n" + after, at);
    if (at == std::string::npos)
        return lines;
    at = readme.find("\n    ", at);
    while (at != std::string::npos && readme.compare(at, 5, "\n    ") == 0)
    {
        size_t end = readme.find('\n', at + 1);
        lines.push_back(readme.substr(at + 5, end - at - 5));
        at = end;
    }
    return lines;
}

std::string replaced_all(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

bool within(const std::string &path, const std::string &folder)
{
    return path == folder || path.compare(0, folder.size() + 1, folder + "/") == 0;
}

bool exists(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// A program by name, found on the PATH as a shell finds it (the test's processes start
// without a shell).
std::string program(const std::string &name)
{
    const char *path = getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= folders.size();)
    {
        size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return name;
}

// The options of unshare that give this process a private mount namespace it may mount
// in: as root a plain one, otherwise one in a user namespace of its own. Empty when the
// machine allows neither.
std::vector<std::string> mount_namespace_options()
{
    std::vector<std::vector<std::string>> choices = {{"-m"}, {"-r", "-m"}};
    if (geteuid() != 0)
        choices.erase(choices.begin());
    for (const std::vector<std::string> &options : choices)
    {
        std::vector<std::string> probe = {program("unshare")};
        probe.insert(probe.end(), options.begin(), options.end());
        probe.insert(probe.end(), {"mount", "-t", "tmpfs", "qel_probe", QEL_BINARY_DIR});
        if (qel_test::run_process(probe, "/", 10000).exit_code == 0)
            return options;
    }
    return {};
}

// The sanitizers' options of the test's children may name a file of the checkout (the
// suppressions of ThreadSanitizer), which the hidden checkout would take from the gateway:
// such a file is copied into the root and the option pointed at the copy.
void keep_sanitizer_files_in(const std::string &root)
{
    // As the test started: an earlier case pointed the variable at its own root.
    static const std::string started_with = getenv("TSAN_OPTIONS") != nullptr ? getenv("TSAN_OPTIONS") : "";
    const std::string key = "suppressions=";
    std::string text = started_with;
    size_t at = text.find(key);
    if (at == std::string::npos)
        return;
    size_t end = text.find(':', at);
    std::string file =
        text.substr(at + key.size(), end == std::string::npos ? std::string::npos : end - at - key.size());
    std::string copy = root + "/tsan_suppressions.txt";
    FILE *out = fopen(copy.c_str(), "w");
    ASSERT_NE(out, nullptr) << copy;
    std::string content = qel_test::read_file(file);
    fwrite(content.data(), 1, content.size(), out);
    fclose(out);
    text.replace(at + key.size(), file.size(), copy);
    setenv("TSAN_OPTIONS", text.c_str(), 1);
}

struct readme_installation : ::testing::Test
{
    qel_test::temp_dir dir;
    std::string root = dir.path();
    std::string bin = root + "/opt/qel_ip/bin";
    std::unique_ptr<qel_test::fix_road> road;
    std::vector<std::string> namespace_options;

    void SetUp() override
    {
        namespace_options = mount_namespace_options();
        if (namespace_options.empty())
            GTEST_SKIP() << "this machine gives no private mount namespace (unshare -m, unshare -r -m)";
        for (const char *hidden : {QEL_BINARY_DIR, QEL_SOURCE_DIR})
            ASSERT_FALSE(within(root, hidden)) << "the test's root " << root << " lies in " << hidden;
        keep_sanitizer_files_in(root);

        // The README's block, line by line as it stands, with the build step left out (this
        // build is the one installed).
        std::vector<std::string> block =
            readme_block(qel_test::checkout_file("README.md"), "The example installation by hand");
        ASSERT_GE(block.size(), 5u) << "no installation block in the README";
        std::string script = "set -e\n";
        for (std::string line : block)
        {
            if (line.find("scripts/build.sh") != std::string::npos)
                continue;
            line = replaced_all(line, "top=$PWD", std::string("top='") + QEL_SOURCE_DIR + "'");
            line = replaced_all(line, "$top/build/", std::string(QEL_BINARY_DIR) + "/");
            line = replaced_all(line, "/opt/qel_ip", root + "/opt/qel_ip");
            line = replaced_all(line, "/var/lib/qel_ip", root + "/var/lib/qel_ip");
            script += line + "\n";
        }
        qel_test::process_result installed =
            qel_test::run_process({program("bash"), "-c", script}, root, 60000);
        ASSERT_EQ(installed.exit_code, 0) << script << installed.output;

        // The simulated host with the example's box and broker; the example's fixed ports
        // become ports this test holds.
        qel_sim::box_options box;
        box.box_id = 101;
        box.broker_id = "MEMBR";
        road.reset(new qel_test::fix_road({}, box, qel_sim::exchange_options(), {}, "", false));
        std::string config = qel_test::read_file(bin + "/qel_ip.cfg");
        config = on_port(config, "INTERFACE_REALTIME_PORT_NUMBER=9701", road->config.reserve_port());
        config = on_port(config, "INTERFACE_INTERACTIVE_PORT_NUMBER=9702", road->config.reserve_port());
        config = on_port(config, "HOST_PORT_NUMBER=9801", road->host->port());
        config = on_port(config, "PORT_NUMBER=9602", road->config.reserve_port());
        write(bin + "/qel_ip.cfg", config);
        std::string fix = qel_test::read_file(bin + "/fix_settings.cfg");
        fix = on_port(fix, "SocketAcceptPort=9901", road->fix_port);
        fix = on_port(fix, "HttpAcceptPort=9902", road->config.reserve_port());
        write(bin + "/fix_settings.cfg", fix);
    }

    static std::string on_port(const std::string &text, const std::string &line, uint16_t port)
    {
        std::string key = line.substr(0, line.find('=') + 1);
        return qel_test::replaced_once(text, "\n" + line + "\n", "\n" + key + std::to_string(port) + "\n");
    }

    static void write(const std::string &path, const std::string &text)
    {
        FILE *file = fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr) << path;
        fwrite(text.data(), 1, text.size(), file);
        fclose(file);
    }

    // The installed gateway as qelmon starts it, with the build tree and the checkout
    // covered by empty file systems (the build tree first: it may lie in the checkout).
    void start_gateway()
    {
        std::vector<std::string> command = {program("unshare")};
        command.insert(command.end(), namespace_options.begin(), namespace_options.end());
        command.insert(command.end(),
                       {"/bin/sh", "-c",
                        "for hidden in \"$1\" \"$2\"; do\n"
                        "    [ ! -d \"$hidden\" ] || mount -t tmpfs qel_hidden \"$hidden\" || exit 90\n"
                        "done\n"
                        "for hidden in \"$1\" \"$2\"; do\n"
                        "    [ -z \"$(ls -A \"$hidden\" 2>/dev/null)\" ] || exit 91\n"
                        "done\n"
                        "exec ./qel_ip_tx -c qel_ip.cfg",
                        "sh", QEL_BINARY_DIR, QEL_SOURCE_DIR});
        road->gateway.reset(new qel_test::child_process(command, bin));
    }

    // The example's FIX user goes the whole logon road: Logon, journal, ready.
    void example_client_logs_on()
    {
        road->listening =
            qel_test::wait_until([&] { return qel_test::fix_port_open(road->fix_port); }, 10000);
        ASSERT_TRUE(road->listening) << system_errors();
        std::string error;
        std::unique_ptr<qel_sim::fix_client> client = road->ready_client(1001, kTimeoutMs, &error);
        ASSERT_TRUE(client) << error;
        client->stop();
    }

    // The texts of the System Error lines that main and the FIX front end (which builds the
    // engine's acceptor at start-up) logged, one a line.
    std::string system_errors() const
    {
        std::string texts;
        for (const char *logger : {"main", "fix_network_handler_recv_thread"})
            for (const qel_test::gateway_log_line &line : qel_test::gateway_log_lines(bin + "/logs", logger))
                if (line.level == "System Error")
                    texts += line.text + "\n";
        return texts;
    }
};

TEST_F(readme_installation, ServesAFixLogonWithTheBuildTreeAndTheCheckoutOutOfReach)
{
    ASSERT_TRUE(exists(bin + "/" + kDictionary)) << "the block installs no FIX data dictionary";
    start_gateway();
    example_client_logs_on();
    qel_test::process_result stopped = road->stop();
    EXPECT_EQ(stopped.exit_code, 0) << stopped.output << system_errors();
}

// An operator who keeps the dictionary elsewhere names it in the FIX settings; a relative
// path is taken from the gateway's working folder, as every path of its configuration.
TEST_F(readme_installation, ServesAFixLogonWithTheDictionaryTheSettingsName)
{
    ASSERT_EQ(rename((bin + "/" + kDictionary).c_str(), (root + "/opt/qel_ip/config/" + kDictionary).c_str()),
              0);
    std::string fix = qel_test::read_file(bin + "/fix_settings.cfg");
    write(bin + "/fix_settings.cfg",
          qel_test::replaced_once(fix, "[DEFAULT]\n",
                                  "[DEFAULT]\nDataDictionary=../config/" + std::string(kDictionary) + "\n"));
    start_gateway();
    example_client_logs_on();
    road->stop();
}

// Without the dictionary beside it the gateway does not start (qelmon then holds it), and
// its log says which file it looked for.
TEST_F(readme_installation, WithoutItsDictionaryTheGatewayStopsNamingTheFile)
{
    ASSERT_EQ(unlink((bin + "/" + kDictionary).c_str()), 0);
    start_gateway();
    qel_test::process_result ended = road->gateway->wait(kTimeoutMs);
    road->gateway.reset();
    EXPECT_EQ(ended.exit_code, 10003) << ended.output;
    EXPECT_NE(system_errors().find("Configuration failed: " + bin + "/" + kDictionary + ": "),
              std::string::npos)
        << system_errors();
}
// The README's simulated host, run as its line stands (on a port of the test's), lets the box
// sign on as many users as the installed gateway takes (MAX_TWS_CLIENTS): a start of day
// with a trader in every slot. Without its -u the host took 10, and each trader past them
// was refused (11022); with more than MAX_TWS_CLIENTS the box could not log on at all. The
// host counts FIX users with the traders: a FIX user past them is refused (11022), and told
// so in its Logout.
TEST_F(readme_installation, TheReadmeHostSignsOnATraderInEverySlot)
{
    const std::vector<std::string> host_block =
        readme_block(qel_test::checkout_file("README.md"), "The example installation by hand", "First the");
    ASSERT_EQ(host_block.size(), 2u) << "no host block in the README";
    const std::string port = std::to_string(road->config.reserve_port());
    std::string script;
    for (std::string line : host_block)
    {
        line = replaced_all(line, "top=$PWD", std::string("top='") + QEL_SOURCE_DIR + "'");
        line = replaced_all(line, "$top/build/", std::string(QEL_BINARY_DIR) + "/");
        if (line.find("sim_host") != std::string::npos)
        {
            ASSERT_NE(line.find(" -p 9801 "), std::string::npos) << line;
            line = "exec " + replaced_all(line, " -p 9801 ", " -p " + port + " ") + " > host.out 2>&1";
        }
        script += line + "\n";
    }
    qel_test::child_process host({program("bash"), "-c", script}, root);
    ASSERT_TRUE(qel_test::wait_until(
        [&] { return qel_test::read_file(root + "/host.out").find("listening") != std::string::npos; },
        10000))
        << qel_test::read_file(root + "/host.out");

    const std::string config = qel_test::read_file(bin + "/qel_ip.cfg");
    write(bin + "/qel_ip.cfg",
          qel_test::replaced_once(config, "\nHOST_PORT_NUMBER=" + std::to_string(road->host->port()) + "\n",
                                  "\nHOST_PORT_NUMBER=" + port + "\n"));
    const size_t slots_at = config.find("\nMAX_TWS_CLIENTS=");
    ASSERT_NE(slots_at, std::string::npos);
    const int slots = std::atoi(config.c_str() + slots_at + 17);
    const size_t port_at = config.find("\nPORT_NUMBER=");
    ASSERT_NE(port_at, std::string::npos);
    const uint16_t workstation_port = static_cast<uint16_t>(std::atoi(config.c_str() + port_at + 13));
    start_gateway();

    std::vector<std::unique_ptr<qel_sim::workstation_client>> clients;
    std::vector<std::unique_ptr<qel_sim::trader>> traders;
    int signed_on = 0;
    for (int i = 0; i < slots; ++i)
    {
        clients.emplace_back(new qel_sim::workstation_client);
        traders.emplace_back(new qel_sim::trader(*clients.back(), 2001 + static_cast<uint32_t>(i)));
        signed_on +=
            qel_test::sign_on_at_workstation(*clients.back(), *traders.back(), workstation_port, kTimeoutMs)
                ? 1
                : 0;
    }
    EXPECT_EQ(slots, signed_on) << qel_test::read_file(root + "/host.out").substr(0, 4000);

    // The box's users are workstation and FIX users together: with a trader in every slot,
    // the README's FIX user is refused, and its Logout says why.
    std::string error;
    std::unique_ptr<qel_sim::fix_client> fix = road->client(1001, &error);
    ASSERT_TRUE(fix) << error;
    EXPECT_TRUE(fix->wait_for_state(qel_sim::fix_client_state::logged_out, kTimeoutMs));
    EXPECT_EQ(fix->logout_text(),
              "Sign-on refused (11022): the box has as many users signed on as the exchange "
              "lets it, workstation and FIX users together");
    fix->stop();
    traders.clear();
    clients.clear();
    qel_test::process_result stopped = road->stop();
    EXPECT_EQ(stopped.exit_code, 0) << stopped.output << system_errors();
}
} // namespace
