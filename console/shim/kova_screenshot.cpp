// QWidget::grab into a PNG under the build folder's screenshots.
#include "console/shim/kova_screenshot.h"

#include <QDir>
#include <QPixmap>
#include <QWidget>

QString KovaScreenshotFolder()
{
    QByteArray folder = qgetenv("KOVA_SCREENSHOT_DIR");
    return folder.isEmpty() ? QStringLiteral(KOVA_DEFAULT_SCREENSHOT_DIR) : QString::fromLocal8Bit(folder);
}

bool KovaSaveScreenshot(QWidget *window, const QString &name)
{
    QString folder = KovaScreenshotFolder();
    if (window == nullptr || !QDir().mkpath(folder))
    {
        return false;
    }
    window->ensurePolished();
    if (!window->isVisible())
    {
        window->adjustSize();
    }
    QPixmap picture = window->grab();
    return !picture.isNull() && picture.save(QDir(folder).filePath(name + QStringLiteral(".png")), "PNG");
}
