// The FIX application as start-up sees it: created last by the global context from the
// FIX settings file, polled by main, stopped before the queues it writes to are drained.
// The engine-backed application replaces this object; its entry points stay.
#include "gateway/fix_network_handle/fix_nw_info.h"

#include <cstdio>
#include <new>

#include "gateway/library/logger.h"
#include "gateway/qel_main/worker_thread_args.h"

class FixNwInfoClass
{
  public:
    explicit FixNwInfoClass(logger_object *logger) : m_logger(logger) {}
    logger_object *m_logger;
    bool m_stopped = false;
};

FixNwInfoClass *fix_nw_info_create(uint16_t, const char *fix_file_path, const char *, shared_queue *,
                                   shared_queue *, shared_queue *, uint16_t, ea_flag *, ea_flag *, ea_flag *,
                                   ea_flag *, ea_flag *, ea_flag *, ea_flag *, logger_object *logger)
{
    FILE *settings = fopen(fix_file_path, "r");
    if (settings == nullptr)
    {
        EA_LOG(logger, EA_LEVEL_SYSTEM_ERROR, "FIX settings file [%s] could not be opened", fix_file_path);
        return nullptr;
    }
    fclose(settings);
    return new (std::nothrow) FixNwInfoClass(logger);
}

ea_status fix_nw_info_poll_acceptor(FixNwInfoClass *application)
{
    return application != nullptr && application->m_stopped ? EA_ERROR : EA_SUCCESS;
}

void fix_nw_info_stop(FixNwInfoClass *application)
{
    if (application != nullptr)
        application->m_stopped = true;
}

void fix_nw_info_destroy(FixNwInfoClass *application)
{
    delete application;
}

uint32_t fix_nw_handler_send_thread(void *argument)
{
    return worker_thread_placeholder_run(static_cast<worker_thread_args *>(argument));
}
