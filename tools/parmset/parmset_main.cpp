// parmset's entry point. The exit status is the result as Linux keeps it (its low eight
// bits); the whole result goes to standard output as "RESULT=<n>" for installers.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/parmset/parmset.h"

int main(int argc, char **argv)
{
    if (argc >= 2 && strcmp(argv[1], "--help") == 0)
    {
        fputs(parmset_usage(), stdout);
        return 0;
    }
    std::string error;
    int result = parmset_run(argc, argv, &error);
    printf("RESULT=%d\n", result);
    fflush(stdout);
    if (!error.empty())
        fprintf(stderr, "parmset: %s\n", error.c_str());
    return result;
}
