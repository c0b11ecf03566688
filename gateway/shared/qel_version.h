// The gateway's version: reported by -v and -p, sent in the box sign-on and relogon
// requests and in the console's version check message.
#pragma once

#define QEL_VERSION_TEXT "4.0 RC14"

enum
{
    QEL_VERSION_NUMBER = 41402,
};
