// The FIX engine's session keeps its logon flag and send and receive times without a lock:
// the timer of its own thread reads them while an application thread sends. That race is
// the engine's, not ours; a suite that runs the engine's clients in its own process
// includes this header (in its one source file), and its ThreadSanitizer runs leave the
// race out.
#pragma once

extern "C" const char *__tsan_default_suppressions()
{
    return "race:FIX::SessionState::\n";
}
