// Screenshots for the tests: a window, page or dialog saved as <folder>/<name>.png, the
// folder being "screenshots" in the build folder (or KOVA_SCREENSHOT_DIR when set). The
// widget is laid out and painted off-screen when it is not shown.
#pragma once

#include <QString>

class QWidget;

bool KovaSaveScreenshot(QWidget *window, const QString &name);
// The folder the screenshots go to.
QString KovaScreenshotFolder();
