// The service manager: what the Windows service control manager did for qelmon's
// service "QEL_IP", kept in one folder so that tests and installations each have their
// own. The folder is named by QEL_SERVICE_DIR (default /var/lib/qel_ip/service) and holds,
// per service NAME:
//
//   NAME.entry    the service as created: display name, description, the command line
//                 that runs it and the environment it needs (registry file, this folder)
//   NAME.service  the systemd unit made from the entry, for machines that run systemd
//   NAME.status   the state as the running service last reported it (one "KEY: value"
//                 line each, readable with cat); replaced atomically; a status whose
//                 process is gone reads as stopped
//   NAME.control  the running service's control socket (Unix stream, mode 0660): a
//                 32-bit control code in, a 32-bit result out, both little-endian; a
//                 connection without its whole code within a second is closed
//
// Only one dispatcher runs per folder. Failures are Windows error numbers where the
// service manager had one (1052, 1053, 1056, 1060, 1061, 1062, 1073; see
// platform/admin/pf_win32_codes.h), otherwise the errno of the failed call.
#pragma once

#include <cstdint>

#include "platform/admin/pf_win32_codes.h"

enum : uint32_t
{
    PF_SERVICE_WIN32_OWN_PROCESS = 16,

    PF_SERVICE_STOPPED = 1,
    PF_SERVICE_START_PENDING = 2,
    PF_SERVICE_STOP_PENDING = 3,
    PF_SERVICE_RUNNING = 4,

    PF_SERVICE_ACCEPT_STOP = 1,

    PF_SERVICE_CONTROL_STOP = 1,
    PF_SERVICE_CONTROL_INTERROGATE = 4,
    PF_SERVICE_CONTROL_USER_FIRST = 128, // 128 to 255 reach the handler in any accepting state
    PF_SERVICE_CONTROL_USER_LAST = 255,

    PF_ERROR_PROCESS_ABORTED = 1067, // the status of a service whose process died
};

enum
{
    PF_SERVICE_NOTE_SIZE = 256,
    PF_SERVICE_TEXT_SIZE = 1024,
    PF_SERVICE_SOCKET_PATH_MAX = 107, // a Unix socket path's bytes, without the zero
};

struct pf_service_status
{
    uint32_t service_type;
    uint32_t current_state;
    uint32_t controls_accepted;
    uint32_t win32_exit_code;
    uint32_t service_specific_exit_code;
    uint32_t check_point;
    uint32_t wait_hint;
};

// What a query reads besides the status: the service's process and its last note (why it
// stopped, or that it will not be restarted).
struct pf_service_query_result
{
    pf_service_status status;
    uint32_t process_id; // 0 when none runs
    char note[PF_SERVICE_NOTE_SIZE];
};

struct pf_service_entry
{
    const char *name;         // "QEL_IP"
    const char *display_name; // "QEL_IP"
    const char *description;
    const char *command_line; // program and arguments; double quotes group words
    // Failure actions for the unit: restarts within the reset period, and their delay.
    uint32_t reset_period_seconds;
    uint32_t restart_count;
    uint32_t restart_delay_ms;
    uint32_t open_files_limit = 0; // the unit's LimitNOFILE=; 0 leaves systemd's default
};

// The service folder in use, and the paths of a service's files (a static buffer each
// call; empty when it would not fit).
const char *pf_service_dir();
const char *pf_service_file(const char *name, const char *extension);
// True on a machine whose init is systemd (and QEL_SYSTEMD is not "no", as in the tests);
// systemctl is then worth calling.
bool pf_service_systemd_runs();
// True when this process was started by systemd as a unit (so systemd restarts it).
bool pf_service_started_by_systemd();

// Client side.
// Writes NAME.entry and NAME.service; 1073 when the entry exists. The entry records the
// caller's QEL_REGISTRY_FILE and this folder, which START and the unit hand to the service.
uint32_t pf_service_create(const pf_service_entry *entry);
// Removes the entry and the unit (a running service goes on); 1060 without an entry.
uint32_t pf_service_delete(const char *name);
// Starts the entry's command line detached (own session, no terminal, stdin and outputs
// on /dev/null); it returns at once with the new process's id (the caller's child, to be
// reaped by it): the caller follows the status. 1060, 1056 (running).
uint32_t pf_service_start(const char *name, uint32_t *pid_out);
// The entry's command line as stored (1060 without an entry, 234 when it does not fit).
uint32_t pf_service_read_command_line(const char *name, char *buffer, uint32_t size);
// Sends a control code and waits for the handler's result (30 s at most: 1053). 1060
// without an entry, 1062 when the service is not running, 1061 when it is starting or
// stopping, 1052 for a control it does not accept; otherwise the handler's result. The
// status after the control is given back when status_out is not null.
uint32_t pf_service_control(const char *name, uint32_t control, pf_service_status *status_out);
// 1060 without an entry; otherwise 0 and the last status (stopped when the process is gone).
uint32_t pf_service_query(const char *name, pf_service_query_result *result_out);

// Server side: the running service, shaped as the service control dispatcher.
typedef void (*pf_service_main_routine)(uint32_t argc, char **argv);
typedef uint32_t (*pf_service_handler)(uint32_t control);
struct pf_service_status_handle;

// Runs the service in this process: takes the folder (1056 when another dispatcher holds
// it), needs the entry (1060), opens the control socket (ENAMETOOLONG for a path over 107
// bytes), reports start-pending, starts main on its own thread and serves controls on the
// calling thread until the service reports stopped; the termination signals
// (pf_signal.h) arrive as the stop control. 0 after the stopped state was reported; the
// socket is gone then.
uint32_t pf_service_run_dispatcher(const char *name, pf_service_main_routine main);
// From main: the handler for the controls (run on the dispatcher's thread). Null with
// the last error set when no dispatcher of that name runs in this process.
pf_service_status_handle *pf_service_register_handler(const char *name, pf_service_handler handler);
// Reports a status (written to NAME.status); false with the last error set.
bool pf_service_set_status(pf_service_status_handle *handle, const pf_service_status *status);
// The note written with every later status (null or "" for none).
void pf_service_set_note(pf_service_status_handle *handle, const char *note);
