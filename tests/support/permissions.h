// Permission bits that bind the superuser too. Root passes every read, write and search
// check through three capabilities (overriding the mode bits, reading and searching any
// folder, acting as any file's owner); a test of a refusal puts them aside, so that it
// runs alike as root (as CI does) and as any other user.
#pragma once

#include <linux/capability.h>

namespace qel_test
{

// While it lives, the calling thread's file accesses are checked against the mode bits as
// an ordinary user's are: the three capabilities are out of the thread's effective set
// (capabilities belong to each thread), and back when it ends.
class permissions_bind
{
  public:
    permissions_bind();
    ~permissions_bind();
    permissions_bind(const permissions_bind &) = delete;
    permissions_bind &operator=(const permissions_bind &) = delete;

    // False when the capabilities could not be put aside.
    bool held() const { return m_held; }

  private:
    __user_cap_data_struct m_saved[2] = {};
    bool m_held = false;
};

// In a child between fork and exec: the program it runs has none of the three
// capabilities, even as root. False when they could not be dropped.
bool drop_permission_override_before_exec();

} // namespace qel_test
