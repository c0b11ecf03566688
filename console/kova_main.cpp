// KOVA, the operator console.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "console/kova_app.h"

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
    {
        if (strcmp(argv[i], "--help") == 0)
        {
            fputs(KovaUsageText(), stdout);
            return 0;
        }
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KOVA"));
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    CKOVAClientPHASE4App app(arguments);
    return app.InitInstance();
}
