// Maps the eight bits that Linux keeps of an exit status back to the gateway's codes.
#include "platform/admin/exit_status.h"

#include <sys/wait.h>

int32_t pf_exit_code_from_status(int32_t low_eight_bits)
{
    static const int32_t codes[] = {10000, 10001, 10003, 10005};
    for (int32_t code : codes)
    {
        if ((code & 0xFF) == low_eight_bits)
            return code;
    }
    return low_eight_bits;
}

int32_t pf_exit_code_from_wait_status(int wait_status, int *signal_out)
{
    if (WIFEXITED(wait_status))
        return pf_exit_code_from_status(WEXITSTATUS(wait_status));
    if (signal_out != nullptr && WIFSIGNALED(wait_status))
        *signal_out = WTERMSIG(wait_status);
    return -1;
}
