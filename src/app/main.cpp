#include <QApplication>
#include <QStyleFactory>

#include "form1.h"
#include "pictures.h"
#include "korvanversion.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral(KORVAN_PRODUCT_NAME));
    QApplication::setApplicationVersion(QStringLiteral(KORVAN_VERSION_TEXT));
    // Lets the desktop match the windows to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(KORVAN_DESKTOP_NAME));
    QApplication::setWindowIcon(Pictures::icon(Pictures::Picture::Panel));
    // One style on every platform, so the design looks the same on Linux and Windows.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    auto *form = new Form1;
    form->show();
    return QApplication::exec();
}
