// logsweep's entry point.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "tools/logsweep/logsweep.h"

int main(int argc, char **argv)
{
    if (argc >= 2 && strcmp(argv[1], "--help") == 0)
    {
        fputs(logsweep_usage(), stdout);
        return 0;
    }
    return logsweep_run(argc, argv, time(nullptr));
}
