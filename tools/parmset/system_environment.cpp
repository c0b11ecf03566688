// Each failure is logged at ERROR with the registry's own account of a malformed file.
#include "tools/parmset/system_environment.h"

#include "platform/admin/pf_registry.h"
#include "platform/core/pf_error.h"
#include "tools/parmset/parmset_logger.h"

namespace
{

const char k_key_path[] = "SOFTWARE\\QEL_IP";

// The registry layer explains the failures that come from its file.
bool file_problem(uint32_t code)
{
    return code == PF_ERROR_BADDB || code == PF_ERROR_REGISTRY_IO_FAILED || code == PF_ERROR_ACCESS_DENIED ||
           code == PF_ERROR_PATH_NOT_FOUND || code == PF_ERROR_DISK_FULL;
}

void log_registry_problem(parmset_logger *logger, uint32_t code)
{
    if (file_problem(code))
        PARMSET_LOG(logger, PARMSET_CONTINUATION, "Registry error [%u]: %s", code, pf_reg_problem());
    else
        PARMSET_LOG(logger, PARMSET_CONTINUATION, "Registry error [%u]", code);
}

} // namespace

uint32_t set_system_environment_variable(const char *name, const std::string &value, parmset_logger *logger)
{
    pf_reg_key *key = nullptr;
    uint32_t result = pf_reg_create_key(nullptr, k_key_path, &key);
    if (result != PF_ERROR_SUCCESS)
    {
        PARMSET_LOG(logger, PARMSET_ERROR, "Cannot create key for setting environment variable");
        log_registry_problem(logger, result);
        return result;
    }
    result = pf_reg_set_string(key, name, value.c_str());
    if (result != PF_ERROR_SUCCESS)
    {
        PARMSET_LOG(logger, PARMSET_ERROR, "Cannot update key data after creating environment variable");
        log_registry_problem(logger, result);
    }
    if (pf_reg_close_key(key) != PF_ERROR_SUCCESS)
        PARMSET_LOG(logger, PARMSET_ERROR, "Cannot close key after setting environment variable");
    return result;
}

uint32_t remove_system_environment_variable(const char *name, parmset_logger *logger)
{
    pf_reg_key *key = nullptr;
    uint32_t result = pf_reg_open_key(nullptr, k_key_path, &key);
    if (result != PF_ERROR_SUCCESS)
    {
        PARMSET_LOG(logger, PARMSET_ERROR, "Cannot open key for deleting environment variable");
        log_registry_problem(logger, result);
        return result;
    }
    result = pf_reg_delete_value(key, name);
    if (result != PF_ERROR_SUCCESS)
    {
        PARMSET_LOG(logger, PARMSET_ERROR, "Cannot delete environment variable");
        log_registry_problem(logger, result);
    }
    if (pf_reg_close_key(key) != PF_ERROR_SUCCESS)
        PARMSET_LOG(logger, PARMSET_ERROR, "Cannot close key after deleting environment variable");
    return result;
}
