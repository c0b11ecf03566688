// Installing by hand as the README's operator does, in a test's folders.
#include "support/installation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/test_support.h"

namespace qel_test
{

namespace
{
const char *const k_acceptor_dictionary = "FIX42_qel_acceptor.xml";

bool place(const std::string &from, const std::string &to, mode_t mode, std::string *error)
{
    if (link(from.c_str(), to.c_str()) == 0)
        return true;
    struct stat info;
    if (stat(from.c_str(), &info) != 0)
    {
        *error = from + ": " + strerror(errno);
        return false;
    }
    std::string content = read_file(from);
    FILE *out = fopen(to.c_str(), "wb");
    if (out == nullptr)
    {
        *error = to + ": " + strerror(errno);
        return false;
    }
    bool written = fwrite(content.data(), 1, content.size(), out) == content.size();
    written = fclose(out) == 0 && written;
    if (!written || chmod(to.c_str(), mode) != 0)
    {
        *error = to + ": could not be written";
        return false;
    }
    return true;
}
} // namespace

bool install_gateway(const std::string &binary, const std::string &folder, const std::string &name,
                     std::string *error)
{
    std::string built_folder = binary.substr(0, binary.rfind('/'));
    return place(binary, folder + "/" + name, 0755, error) &&
           place(built_folder + "/" + k_acceptor_dictionary, folder + "/" + k_acceptor_dictionary, 0644,
                 error);
}

std::string checkout_file(const std::string &relative_path)
{
    return read_file(std::string(QEL_SOURCE_DIR) + "/" + relative_path);
}

std::string replaced_once(std::string text, const std::string &from, const std::string &to)
{
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    EXPECT_EQ(text.find(from, at + 1), std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

} // namespace qel_test
