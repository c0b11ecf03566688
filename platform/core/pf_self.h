// The running program's own executable, beside which a Windows program finds the files
// installed with it (its module file name): the folder the executable stands in, and a
// file in that folder. A program started through a hard link or a copy answers with the
// folder of that link or copy, a program started through a symbolic link with the folder
// of the file the link points to.
#pragma once

#include <string>

// The folder, without a trailing "/" ("/" for the root). False when the kernel cannot say.
bool pf_self_folder(std::string *folder);
// `file_name` in that folder.
bool pf_self_beside(const char *file_name, std::string *path);
