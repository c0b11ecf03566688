// CKOVAClientPHASE4App: KOVA's application object. It starts the socket library and runs
// the main window modally for the life of the process; the process ends with the main
// window's result (0), with 50 when the socket library does not start (string 103 shown),
// and with 200 after a live event log page refused its gateway's version.
//
// Command line: KOVA [-c <market number>]; --help prints the usage.
#pragma once

#include <QStringList>
#include <cstdint>

class CKOVAClientPHASE4App
{
  public:
    enum : int32_t
    {
        EXIT_SOCKETS_FAILED = 50,
        IDS_SOCKETS_INIT_FAILED = 103,
    };

    explicit CKOVAClientPHASE4App(const QStringList &arguments) : m_arguments(arguments) {}

    // Runs the console: the result the process ends with.
    int32_t InitInstance();
    int32_t ExitInstance() const { return m_result; }

  private:
    QStringList m_arguments;
    int32_t m_result = EXIT_SOCKETS_FAILED;
};

// The usage text of --help.
const char *KovaUsageText();
