// The service manager over a folder of small files and a Unix socket.
//
// The dispatcher holds an flock on the folder itself for as long as it runs, which is
// what makes it the only one; a stale control socket left by a killed dispatcher is
// removed under that lock. A status names the dispatcher's process and its start time
// (from /proc), so a reader can tell a live service from a dead one whose id was reused.
#include "platform/admin/pf_service.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "platform/admin/pf_spawn.h"
#include "platform/core/pf_error.h"
#include "platform/core/pf_signal.h"
#include "platform/core/pf_socket.h"
#include "platform/core/pf_thread.h"
#include "platform/core/pf_wait.h"

struct pf_service_status_handle
{
    void *owner; // the dispatcher
};

namespace
{

const char k_default_service_dir[] = "/var/lib/qel_ip/service";
const int k_control_timeout_ms = 30000;
const int k_control_read_timeout_ms = 2000;
// A control connection must bring its whole request within a second of its accept, and
// the dispatcher waits for several at once: connections that send nothing cannot hold a
// stop control back.
const int k_control_request_ms = 1000;
const size_t k_control_pending_max = 64;

const char *state_name(uint32_t state)
{
    switch (state)
    {
    case PF_SERVICE_STOPPED:
        return "STOPPED";
    case PF_SERVICE_START_PENDING:
        return "START_PENDING";
    case PF_SERVICE_STOP_PENDING:
        return "STOP_PENDING";
    case PF_SERVICE_RUNNING:
        return "RUNNING";
    default:
        return "UNKNOWN";
    }
}

std::string service_path(const char *name, const char *extension)
{
    return std::string(pf_service_dir()) + "/" + name + "." + extension;
}

bool read_text(const std::string &path, std::string *content)
{
    FILE *file = fopen(path.c_str(), "re");
    if (file == nullptr)
        return false;
    content->clear();
    char buffer[1024];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        content->append(buffer, got);
    fclose(file);
    return true;
}

// Writes a file whole through a temporary file in its folder and a rename.
int write_atomically(const std::string &path, const std::string &content, mode_t mode)
{
    std::string temp = path + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    size_t done = 0;
    int error = 0;
    while (done < content.size() && error == 0)
    {
        ssize_t written = write(fd, content.data() + done, content.size() - done);
        if (written < 0 && errno != EINTR)
            error = errno;
        else if (written > 0)
            done += static_cast<size_t>(written);
    }
    if (error == 0 && fchmod(fd, mode) != 0)
        error = errno;
    if (close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && rename(name.data(), path.c_str()) != 0)
        error = errno;
    if (error != 0)
        unlink(name.data());
    return error;
}

// "KEY: value" lines into a lookup.
std::string field(const std::string &content, const char *key)
{
    std::string prefix = std::string(key) + ":";
    size_t at = 0;
    while (at < content.size())
    {
        size_t end = content.find('\n', at);
        if (end == std::string::npos)
            end = content.size();
        if (content.compare(at, prefix.size(), prefix) == 0)
        {
            size_t begin = at + prefix.size();
            while (begin < end && content[begin] == ' ')
                ++begin;
            return content.substr(begin, end - begin);
        }
        at = end + 1;
    }
    return std::string();
}

uint32_t number(const std::string &text)
{
    return static_cast<uint32_t>(strtoul(text.c_str(), nullptr, 10));
}

// The start time of a process in clock ticks since boot (field 22 of /proc/<pid>/stat),
// and whether it runs (not a zombie). 0 when it does not exist.
unsigned long long process_start(uint32_t pid, bool *running)
{
    *running = false;
    std::string stat;
    if (pid == 0 || !read_text("/proc/" + std::to_string(pid) + "/stat", &stat))
        return 0;
    size_t paren = stat.rfind(')');
    if (paren == std::string::npos || paren + 2 >= stat.size())
        return 0;
    char state = stat[paren + 2];
    const char *p = stat.c_str() + paren + 2;
    // Fields after the name start at 3 (state); the start time is field 22.
    for (int fieldno = 3; fieldno < 22 && *p != '\0'; ++fieldno)
    {
        p = strchr(p, ' ');
        if (p == nullptr)
            return 0;
        ++p;
    }
    *running = state != 'Z' && state != 'X';
    return strtoull(p, nullptr, 10);
}

bool entry_exists(const char *name)
{
    struct stat info;
    return stat(service_path(name, "entry").c_str(), &info) == 0;
}

// The status file read, with a dead or replaced process read as stopped.
void read_status(const char *name, pf_service_query_result *result)
{
    memset(result, 0, sizeof *result);
    result->status.service_type = PF_SERVICE_WIN32_OWN_PROCESS;
    result->status.current_state = PF_SERVICE_STOPPED;
    std::string content;
    if (!read_text(service_path(name, "status"), &content))
        return;
    result->status.current_state = number(field(content, "STATE"));
    result->status.controls_accepted = number(field(content, "CONTROLS_ACCEPTED"));
    result->status.win32_exit_code = number(field(content, "WIN32_EXIT_CODE"));
    result->status.service_specific_exit_code = number(field(content, "SERVICE_EXIT_CODE"));
    result->status.check_point = number(field(content, "CHECKPOINT"));
    result->status.wait_hint = number(field(content, "WAIT_HINT"));
    snprintf(result->note, sizeof result->note, "%s", field(content, "NOTE").c_str());
    uint32_t pid = number(field(content, "PID"));
    unsigned long long started = strtoull(field(content, "PROCESS_START").c_str(), nullptr, 10);
    bool running = false;
    bool same = pid != 0 && process_start(pid, &running) == started && running;
    if (result->status.current_state == PF_SERVICE_STOPPED)
        return;
    if (same)
    {
        result->process_id = pid;
        return;
    }
    result->status.current_state = PF_SERVICE_STOPPED;
    result->status.controls_accepted = 0;
    result->status.win32_exit_code = PF_ERROR_PROCESS_ABORTED;
    snprintf(result->note, sizeof result->note, "the service process [%u] ended without reporting its stop",
             pid);
}

// Unix socket address of the control socket; false when the path is too long.
bool control_address(const char *name, sockaddr_un *address)
{
    std::string path = service_path(name, "control");
    if (path.size() > PF_SERVICE_SOCKET_PATH_MAX)
        return false;
    memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool io_all(int fd, void *data, size_t size, bool reading, int timeout_ms)
{
    uint8_t *bytes = static_cast<uint8_t *>(data);
    size_t done = 0;
    while (done < size)
    {
        pollfd p = {fd, static_cast<short>(reading ? POLLIN : POLLOUT), 0};
        int ready = poll(&p, 1, timeout_ms);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
        {
            errno = ready == 0 ? ETIMEDOUT : errno;
            return false;
        }
        ssize_t n = reading ? recv(fd, bytes + done, size - done, 0)
                            : send(fd, bytes + done, size - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
        {
            errno = n == 0 ? ECONNRESET : errno;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

void put_u32_le(uint8_t *out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t get_u32_le(const uint8_t *in)
{
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
           static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

// Double quotes and the characters systemd expands in ExecStart= and Environment=.
std::string unit_escape(const std::string &text)
{
    std::string out;
    for (char c : text)
    {
        if (c == '%')
            out += "%%";
        else if (c == '$')
            out += "$$";
        else if (c == '\\' || c == '"')
            out += std::string("\\") + c;
        else
            out.push_back(c);
    }
    return out;
}

// The running dispatcher of this process (one at most).
struct dispatcher
{
    pf_service_status_handle *handle = nullptr;
    std::mutex lock;
    std::string name;
    pf_service_handler handler = nullptr;
    pf_service_status status = {};
    std::string note;
    unsigned long long started = 0;
    int stopped_fd = -1; // eventfd raised by the stopped state
    bool stop_pending_delivery = false;
};

dispatcher *g_dispatcher = nullptr;
std::mutex g_dispatcher_lock;
int g_signal_pipe[2] = {-1, -1};
// The handler's end, published after the pipe is made (a handler may run on any thread).
std::atomic<int> g_signal_write_fd{-1};

void on_termination_signal(int)
{
    int saved = errno;
    char byte = 1;
    int fd = g_signal_write_fd.load(std::memory_order_acquire);
    ssize_t written = fd >= 0 ? write(fd, &byte, 1) : 0;
    (void)written;
    errno = saved;
}

std::string status_text(const dispatcher &d)
{
    char text[2048];
    snprintf(text, sizeof text,
             "SERVICE_NAME: %s\nSTATE: %u %s\nPID: %d\nPROCESS_START: %llu\nCONTROLS_ACCEPTED: %u\n"
             "WIN32_EXIT_CODE: %u\nSERVICE_EXIT_CODE: %u\nCHECKPOINT: %u\nWAIT_HINT: %u\nNOTE: %s\n",
             d.name.c_str(), d.status.current_state, state_name(d.status.current_state),
             static_cast<int>(getpid()), d.started, d.status.controls_accepted, d.status.win32_exit_code,
             d.status.service_specific_exit_code, d.status.check_point, d.status.wait_hint, d.note.c_str());
    return text;
}

int64_t monotonic_ms()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// A control connection whose 4-byte request is still arriving.
struct pending_control
{
    int fd;
    uint8_t bytes[4];
    size_t got;
    int64_t deadline_ms;
};

// The state check and the handler's result for one control code.
uint32_t answer_control(dispatcher *d, uint32_t control)
{
    pf_service_handler handler;
    uint32_t state, accepted;
    {
        std::lock_guard<std::mutex> guard(d->lock);
        handler = d->handler;
        state = d->status.current_state;
        accepted = d->status.controls_accepted;
    }
    uint32_t result;
    bool user = control >= PF_SERVICE_CONTROL_USER_FIRST && control <= PF_SERVICE_CONTROL_USER_LAST;
    if (handler == nullptr || state == PF_SERVICE_START_PENDING || state == PF_SERVICE_STOP_PENDING ||
        state == PF_SERVICE_STOPPED)
        result = control == PF_SERVICE_CONTROL_INTERROGATE && handler != nullptr
                     ? handler(control)
                     : PF_ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    else if (control == PF_SERVICE_CONTROL_STOP && (accepted & PF_SERVICE_ACCEPT_STOP) == 0)
        result = PF_ERROR_INVALID_SERVICE_CONTROL;
    else if (control == PF_SERVICE_CONTROL_STOP || control == PF_SERVICE_CONTROL_INTERROGATE || user)
        result = handler(control);
    else
        result = PF_ERROR_INVALID_SERVICE_CONTROL;
    return result;
}

// Reads what has arrived of a request and answers it once whole; true when the
// connection is done with (answered, ended by its peer, or failed).
bool read_control(dispatcher *d, pending_control *c)
{
    while (c->got < sizeof c->bytes)
    {
        ssize_t n = recv(c->fd, c->bytes + c->got, sizeof c->bytes - c->got, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return false;
        if (n <= 0)
            return true;
        c->got += static_cast<size_t>(n);
    }
    uint8_t reply[4];
    put_u32_le(reply, answer_control(d, get_u32_le(c->bytes)));
    io_all(c->fd, reply, sizeof reply, false, k_control_read_timeout_ms);
    return true;
}

// Takes every waiting connection; the oldest pending one makes room when too many wait.
void accept_controls(dispatcher *d, int listener, std::vector<pending_control> *pending)
{
    int connection;
    while ((connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0)
    {
        if (pending->size() >= k_control_pending_max)
        {
            pf_socket_close(pending->front().fd);
            pending->erase(pending->begin());
        }
        pending_control c = {connection, {0, 0, 0, 0}, 0, monotonic_ms() + k_control_request_ms};
        if (read_control(d, &c))
            pf_socket_close(connection);
        else
            pending->push_back(c);
    }
}

// Reads the pending connections that poll found ready; closes those done with and those
// whose request did not arrive in time.
void serve_pending(dispatcher *d, const pollfd *ready, std::vector<pending_control> *pending)
{
    int64_t now = monotonic_ms();
    std::vector<pending_control> kept;
    for (size_t i = 0; i < pending->size(); ++i)
    {
        pending_control &c = (*pending)[i];
        bool done = ready[i].revents != 0 && read_control(d, &c);
        if (done || now >= c.deadline_ms)
            pf_socket_close(c.fd);
        else
            kept.push_back(c);
    }
    pending->swap(kept);
}

// A termination signal is the stop control, whatever the state; before the handler is
// registered it waits for it.
void deliver_stop(dispatcher *d)
{
    pf_service_handler handler;
    {
        std::lock_guard<std::mutex> guard(d->lock);
        handler = d->handler;
        d->stop_pending_delivery = handler == nullptr;
    }
    if (handler != nullptr)
        handler(PF_SERVICE_CONTROL_STOP);
}

struct main_start
{
    pf_service_main_routine main;
    char *argv[2];
};

uint32_t run_main(void *argument)
{
    main_start *start = static_cast<main_start *>(argument);
    start->main(1, start->argv);
    return 0;
}

// Serves controls until the stopped state is reported or main has returned.
void serve(dispatcher *d, int listener, pf_thread *main_thread)
{
    std::vector<pending_control> pending;
    std::vector<pollfd> fds;
    for (;;)
    {
        fds = {{listener, POLLIN, 0}, {g_signal_pipe[0], POLLIN, 0}, {d->stopped_fd, POLLIN, 0}};
        for (const pending_control &c : pending)
            fds.push_back({c.fd, POLLIN, 0});
        int ready = poll(fds.data(), fds.size(), 100);
        if (ready < 0 && errno != EINTR)
            break;
        if (fds[2].revents != 0)
            break;
        if (pf_wait_for_single(pf_thread_waitable(main_thread), 0) == PF_WAIT_OBJECT_0)
        {
            std::lock_guard<std::mutex> guard(d->lock);
            if (d->status.current_state != PF_SERVICE_STOPPED)
            {
                // main returned without reporting its end: that is a failure.
                d->status.current_state = PF_SERVICE_STOPPED;
                d->status.controls_accepted = 0;
                d->status.win32_exit_code = PF_ERROR_PROCESS_ABORTED;
                write_atomically(service_path(d->name.c_str(), "status"), status_text(*d), 0644);
            }
            break;
        }
        if (fds[1].revents != 0)
        {
            char drain[16];
            while (read(g_signal_pipe[0], drain, sizeof drain) > 0)
            {
            }
            deliver_stop(d);
        }
        bool pending_stop;
        {
            std::lock_guard<std::mutex> guard(d->lock);
            pending_stop = d->stop_pending_delivery && d->handler != nullptr;
        }
        if (pending_stop)
            deliver_stop(d);
        serve_pending(d, fds.data() + 3, &pending);
        if (fds[0].revents != 0)
            accept_controls(d, listener, &pending);
    }
    for (const pending_control &c : pending)
        pf_socket_close(c.fd);
}

// The folder's lock and the control socket; 0 or the failure.
uint32_t open_dispatcher(const char *name, int *folder_fd, int *listener)
{
    *folder_fd = open(pf_service_dir(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (*folder_fd < 0)
        return static_cast<uint32_t>(errno);
    if (flock(*folder_fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? PF_ERROR_SERVICE_ALREADY_RUNNING : static_cast<uint32_t>(errno);
    if (!entry_exists(name))
        return PF_ERROR_SERVICE_DOES_NOT_EXIST;
    sockaddr_un address;
    if (!control_address(name, &address))
        return ENAMETOOLONG;
    unlink(address.sun_path); // left by a dispatcher that was killed
    *listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (*listener < 0)
        return static_cast<uint32_t>(errno);
    if (bind(*listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        chmod(address.sun_path, 0660) != 0 || listen(*listener, 16) != 0)
        return static_cast<uint32_t>(errno);
    return 0;
}

} // namespace

const char *pf_service_dir()
{
    const char *dir = getenv("QEL_SERVICE_DIR");
    return (dir != nullptr && *dir != '\0') ? dir : k_default_service_dir;
}

const char *pf_service_file(const char *name, const char *extension)
{
    static thread_local char path[PF_SERVICE_TEXT_SIZE];
    std::string full = service_path(name, extension);
    if (full.size() >= sizeof path)
        path[0] = '\0';
    else
        memcpy(path, full.c_str(), full.size() + 1);
    return path;
}

bool pf_service_systemd_runs()
{
    // QEL_SYSTEMD=no keeps a test's service folder away from the machine's systemd.
    const char *allowed = getenv("QEL_SYSTEMD");
    if (allowed != nullptr && strcmp(allowed, "no") == 0)
        return false;
    struct stat info;
    return stat("/run/systemd/system", &info) == 0 && S_ISDIR(info.st_mode);
}

bool pf_service_started_by_systemd()
{
    const char *invocation = getenv("INVOCATION_ID");
    return invocation != nullptr && *invocation != '\0';
}

uint32_t pf_service_create(const pf_service_entry *entry)
{
    if (entry == nullptr || entry->name == nullptr || *entry->name == '\0' ||
        entry->command_line == nullptr || strchr(entry->name, '/') != nullptr)
        return PF_ERROR_INVALID_PARAMETER;
    std::string entry_path = service_path(entry->name, "entry");
    const char *registry = getenv("QEL_REGISTRY_FILE");
    std::string text = std::string("NAME: ") + entry->name +
                       "\nDISPLAY_NAME: " + (entry->display_name ? entry->display_name : entry->name) +
                       "\nDESCRIPTION: " + (entry->description ? entry->description : "") +
                       "\nCOMMAND_LINE: " + entry->command_line +
                       "\nQEL_REGISTRY_FILE: " + (registry ? registry : "") +
                       "\nQEL_SERVICE_DIR: " + pf_service_dir() +
                       "\nRESET_PERIOD: " + std::to_string(entry->reset_period_seconds) +
                       "\nRESTART_COUNT: " + std::to_string(entry->restart_count) +
                       "\nRESTART_DELAY_MS: " + std::to_string(entry->restart_delay_ms) + "\n";
    // O_EXCL makes "already exists" certain even against a second CREATE at the same time.
    int fd = open(entry_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno == EEXIST ? PF_ERROR_SERVICE_EXISTS : static_cast<uint32_t>(errno);
    ssize_t written = write(fd, text.data(), text.size());
    int error = written == static_cast<ssize_t>(text.size()) ? 0 : (written < 0 ? errno : ENOSPC);
    if (close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
    {
        unlink(entry_path.c_str());
        return static_cast<uint32_t>(error);
    }

    std::vector<std::string> words;
    pf_split_command_line(entry->command_line, &words);
    std::string exec;
    for (const std::string &word : words)
        exec += (exec.empty() ? "\"" : " \"") + unit_escape(word) + "\"";
    std::string unit = std::string("[Unit]\nDescription=") + (entry->description ? entry->description : "") +
                       "\nStartLimitIntervalSec=" + std::to_string(entry->reset_period_seconds) +
                       "\nStartLimitBurst=" + std::to_string(entry->restart_count) +
                       "\n\n[Service]\nType=simple\nExecStart=" + exec;
    if (registry != nullptr && *registry != '\0')
        unit += "\nEnvironment=\"QEL_REGISTRY_FILE=" + unit_escape(registry) + "\"";
    unit += "\nEnvironment=\"QEL_SERVICE_DIR=" + unit_escape(pf_service_dir()) + "\"";
    unit += "\nRestart=on-failure\nRestartSec=" + std::to_string(entry->restart_delay_ms) +
            "ms\nKillMode=process";
    if (entry->open_files_limit != 0)
        unit += "\nLimitNOFILE=" + std::to_string(entry->open_files_limit);
    unit += "\n\n[Install]\nWantedBy=multi-user.target\n";
    error = write_atomically(service_path(entry->name, "service"), unit, 0644);
    if (error != 0)
    {
        unlink(entry_path.c_str());
        return static_cast<uint32_t>(error);
    }
    return 0;
}

uint32_t pf_service_delete(const char *name)
{
    if (name == nullptr)
        return PF_ERROR_INVALID_PARAMETER;
    if (unlink(service_path(name, "entry").c_str()) != 0)
        return errno == ENOENT ? PF_ERROR_SERVICE_DOES_NOT_EXIST : static_cast<uint32_t>(errno);
    unlink(service_path(name, "service").c_str());
    return 0;
}

uint32_t pf_service_read_command_line(const char *name, char *buffer, uint32_t size)
{
    std::string content;
    if (name == nullptr || !read_text(service_path(name, "entry"), &content))
        return PF_ERROR_SERVICE_DOES_NOT_EXIST;
    std::string command = field(content, "COMMAND_LINE");
    if (buffer == nullptr || command.size() >= size)
        return PF_ERROR_MORE_DATA;
    memcpy(buffer, command.c_str(), command.size() + 1);
    return 0;
}

uint32_t pf_service_start(const char *name, uint32_t *pid_out)
{
    std::string content;
    if (name == nullptr || !read_text(service_path(name, "entry"), &content))
        return PF_ERROR_SERVICE_DOES_NOT_EXIST;
    pf_service_query_result current;
    read_status(name, &current);
    if (current.status.current_state != PF_SERVICE_STOPPED)
        return PF_ERROR_SERVICE_ALREADY_RUNNING;
    std::vector<std::string> words;
    if (!pf_split_command_line(field(content, "COMMAND_LINE").c_str(), &words) || words.empty())
        return PF_ERROR_INVALID_PARAMETER;
    pf_spawn_options options;
    options.new_session = true;
    options.working_folder = "/";
    std::string registry = field(content, "QEL_REGISTRY_FILE");
    if (!registry.empty())
        options.environment.push_back("QEL_REGISTRY_FILE=" + registry);
    options.environment.push_back("QEL_SERVICE_DIR=" + field(content, "QEL_SERVICE_DIR"));
    pid_t pid = 0;
    int rc = pf_spawn(words[0].c_str(), words, options, &pid);
    if (rc == 0 && pid_out != nullptr)
        *pid_out = static_cast<uint32_t>(pid);
    return static_cast<uint32_t>(rc);
}

uint32_t pf_service_query(const char *name, pf_service_query_result *result_out)
{
    if (name == nullptr || result_out == nullptr)
        return PF_ERROR_INVALID_PARAMETER;
    if (!entry_exists(name))
        return PF_ERROR_SERVICE_DOES_NOT_EXIST;
    read_status(name, result_out);
    return 0;
}

uint32_t pf_service_control(const char *name, uint32_t control, pf_service_status *status_out)
{
    if (name == nullptr)
        return PF_ERROR_INVALID_PARAMETER;
    if (!entry_exists(name))
        return PF_ERROR_SERVICE_DOES_NOT_EXIST;
    pf_service_query_result current;
    read_status(name, &current);
    if (current.status.current_state == PF_SERVICE_STOPPED)
        return PF_ERROR_SERVICE_NOT_ACTIVE;
    sockaddr_un address;
    if (!control_address(name, &address))
        return ENAMETOOLONG;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return static_cast<uint32_t>(errno);
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
    {
        int error = errno;
        close(fd);
        return (error == ENOENT || error == ECONNREFUSED) ? PF_ERROR_SERVICE_NOT_ACTIVE
                                                          : static_cast<uint32_t>(error);
    }
    uint8_t bytes[4];
    put_u32_le(bytes, control);
    uint32_t result;
    if (!io_all(fd, bytes, sizeof bytes, false, k_control_timeout_ms) ||
        !io_all(fd, bytes, sizeof bytes, true, k_control_timeout_ms))
        result = errno == ETIMEDOUT ? PF_ERROR_SERVICE_REQUEST_TIMEOUT : PF_ERROR_SERVICE_NOT_ACTIVE;
    else
        result = get_u32_le(bytes);
    close(fd);
    if (status_out != nullptr)
    {
        read_status(name, &current);
        *status_out = current.status;
    }
    return result;
}

uint32_t pf_service_run_dispatcher(const char *name, pf_service_main_routine main)
{
    if (name == nullptr || main == nullptr)
        return PF_ERROR_INVALID_PARAMETER;
    {
        std::lock_guard<std::mutex> guard(g_dispatcher_lock);
        if (g_dispatcher != nullptr)
            return PF_ERROR_SERVICE_ALREADY_RUNNING;
    }
    int folder_fd = -1, listener = -1;
    uint32_t result = open_dispatcher(name, &folder_fd, &listener);
    if (result != 0)
    {
        if (listener >= 0)
            close(listener);
        if (folder_fd >= 0)
            close(folder_fd);
        return result;
    }

    dispatcher d;
    pf_service_status_handle handle = {&d};
    d.handle = &handle;
    d.name = name;
    bool running = false;
    d.started = process_start(static_cast<uint32_t>(getpid()), &running);
    d.status.service_type = PF_SERVICE_WIN32_OWN_PROCESS;
    d.status.current_state = PF_SERVICE_START_PENDING;
    d.stopped_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (g_signal_pipe[0] < 0 && pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        result = static_cast<uint32_t>(errno);
    else
        g_signal_write_fd.store(g_signal_pipe[1], std::memory_order_release);
    if (result == 0 && d.stopped_fd < 0)
        result = static_cast<uint32_t>(errno);
    if (result == 0)
        result = static_cast<uint32_t>(write_atomically(service_path(name, "status"), status_text(d), 0644));
    if (result == 0)
    {
        {
            std::lock_guard<std::mutex> guard(g_dispatcher_lock);
            g_dispatcher = &d;
        }
        struct sigaction old_actions[PF_TERMINATION_SIGNAL_COUNT] = {};
        pf_catch_termination_signals(on_termination_signal, old_actions);

        main_start start = {main, {const_cast<char *>(name), nullptr}};
        const char *error_text = nullptr;
        pf_thread *thread = pf_thread_create(run_main, &start, &error_text);
        if (thread == nullptr)
        {
            result = EAGAIN;
        }
        else
        {
            serve(&d, listener, thread);
            // The service's end is reported: no control reaches it any more.
            close(listener);
            listener = -1;
            unlink(service_path(name, "control").c_str());
            pf_wait_for_single(pf_thread_waitable(thread), PF_INFINITE);
            pf_thread_close(thread);
        }
        pf_restore_termination_signals(old_actions);
        std::lock_guard<std::mutex> guard(g_dispatcher_lock);
        g_dispatcher = nullptr;
    }
    if (listener >= 0)
    {
        close(listener);
        unlink(service_path(name, "control").c_str());
    }
    if (d.stopped_fd >= 0)
        close(d.stopped_fd);
    close(folder_fd);
    return result;
}

pf_service_status_handle *pf_service_register_handler(const char *name, pf_service_handler handler)
{
    std::lock_guard<std::mutex> guard(g_dispatcher_lock);
    if (g_dispatcher == nullptr || name == nullptr || g_dispatcher->name != name || handler == nullptr)
    {
        pf_set_last_error(PF_ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    std::lock_guard<std::mutex> inner(g_dispatcher->lock);
    g_dispatcher->handler = handler;
    return g_dispatcher->handle;
}

bool pf_service_set_status(pf_service_status_handle *handle, const pf_service_status *status)
{
    if (handle == nullptr || status == nullptr)
    {
        pf_set_last_error(PF_ERROR_INVALID_HANDLE);
        return false;
    }
    dispatcher *d = static_cast<dispatcher *>(handle->owner);
    std::lock_guard<std::mutex> guard(d->lock);
    d->status = *status;
    int error = write_atomically(service_path(d->name.c_str(), "status"), status_text(*d), 0644);
    if (status->current_state == PF_SERVICE_STOPPED)
    {
        uint64_t one = 1;
        ssize_t written = write(d->stopped_fd, &one, sizeof one);
        (void)written;
    }
    if (error != 0)
    {
        pf_set_last_error(static_cast<uint32_t>(error));
        return false;
    }
    return true;
}

void pf_service_set_note(pf_service_status_handle *handle, const char *note)
{
    if (handle == nullptr)
        return;
    dispatcher *d = static_cast<dispatcher *>(handle->owner);
    std::lock_guard<std::mutex> guard(d->lock);
    d->note = note != nullptr ? note : "";
    for (char &c : d->note)
    {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
}
