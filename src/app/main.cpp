#include <QApplication>
#include <QStyleFactory>

#include "form1.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvan"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    // One style on every platform, so the design looks the same on Linux and Windows.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    auto *form = new Form1;
    form->show();
    return QApplication::exec();
}
