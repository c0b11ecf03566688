// The gateway and the example installation of config/ as an operator installs them: the
// gateway's executable together with the files it reads from beside it, and the shipped
// examples with a test's own ports and folders put in place of the fixed ones.
#pragma once

#include <string>

namespace qel_test
{

// Places the gateway's executable `binary` in `folder` under `name` (a hard link, or a copy
// across file systems), with the FIX acceptor's data dictionary that the build keeps beside
// it. False, with the reason in *error, when a file could not be placed.
bool install_gateway(const std::string &binary, const std::string &folder, const std::string &name,
                     std::string *error);

// The text of a file of the checkout: an example of config/ ("config/qel_ip.cfg"), the README.
std::string checkout_file(const std::string &relative_path);

// `text` with its one `from` replaced by `to`; a test failure when `from` does not stand in
// it exactly once (an example that changed under the test).
std::string replaced_once(std::string text, const std::string &from, const std::string &to);

} // namespace qel_test
