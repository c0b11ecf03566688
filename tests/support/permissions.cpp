// The capabilities are read and set through the system calls themselves: the thread-level
// effective set with capget/capset, and the bounding set (what an exec may grant) with prctl.
#include "support/permissions.h"

#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qel_test
{

namespace
{
const int k_override_capabilities[] = {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER};

bool get_capabilities(__user_cap_data_struct (&data)[2])
{
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capget, &header, data) == 0;
}

bool set_capabilities(const __user_cap_data_struct (&data)[2])
{
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capset, &header, data) == 0;
}
} // namespace

permissions_bind::permissions_bind()
{
    if (!get_capabilities(m_saved))
        return;
    __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
    for (int capability : k_override_capabilities)
        lowered[capability / 32].effective &= ~(1u << (capability % 32));
    m_held = set_capabilities(lowered);
}

permissions_bind::~permissions_bind()
{
    if (m_held)
        set_capabilities(m_saved);
}

bool drop_permission_override_before_exec()
{
    // Root's exec is granted what the bounding and inheritable sets hold; another user's
    // gets nothing.
    if (geteuid() != 0)
        return true;
    __user_cap_data_struct data[2];
    if (!get_capabilities(data))
        return false;
    for (int capability : k_override_capabilities)
    {
        data[capability / 32].inheritable &= ~(1u << (capability % 32));
        if (prctl(PR_CAPBSET_READ, capability, 0, 0, 0) == 1 &&
            prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0)
            return false;
    }
    return set_capabilities(data);
}

} // namespace qel_test
