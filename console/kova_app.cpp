// The application object: socket library, then the main window.
#include "console/kova_app.h"

#include "console/kova_main_window.h"
#include "console/shim/kova_message_box.h"
#include "platform/core/pf_socket.h"

int32_t CKOVAClientPHASE4App::InitInstance()
{
    uint16_t version = 0;
    const char *description = nullptr;
    if (pf_socket_startup(0x0101, &version, &description) != 0)
    {
        KovaMessageBox(nullptr, QStringLiteral("Windows sockets initialization failed."),
                       QStringLiteral("KOVA"));
        return m_result; // still the initial 50
    }
    CKOVAClientPHASE4Dlg dialog;
    dialog.SetCommandLine(m_arguments);
    m_result = dialog.DoModal();
    return ExitInstance();
}

const char *KovaUsageText()
{
    return "Usage: KOVA [-c <market number>]\n"
           "\n"
           "The operator console of the QEL gateways.\n"
           "  -c <market number>  open the configuration of that market at start-up\n"
           "                      (1 KR, 2 TX, 3 ZBL, 4 GUV, 5 HY, 6 RAQE, 7 JN)\n"
           "  --help              print this text and exit\n"
           "\n"
           "The registry file is named by QEL_REGISTRY_FILE; only one console runs at a time.\n";
}
