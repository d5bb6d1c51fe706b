// Renders the panel's two windows to PNG files, as the program draws them for a Polish
// operator: korvan-screenshot <output-folder>
#include <QApplication>
#include <QDir>
#include <QStyleFactory>
#include <QTimer>

#include "form1.h"
#include "form2.h"

int main(int argc, char *argv[])
{
    // The clock follows the system's regional settings: render them as a Polish desktop has
    // them, whatever the machine building the pictures uses.
    qputenv("LC_ALL", "pl_PL.UTF-8");
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QStringList arguments = QApplication::arguments();
    const QDir folder(arguments.size() > 1 ? arguments.at(1) : QStringLiteral("."));

    // The design port, as the panel shows it; nothing listens before the start button.
    auto *form = new Form1;
    form->show();
    // Let the clock tick once so the picture shows a running panel.
    QTimer::singleShot(1200, form, [form, folder] {
        Form2::showInstance();
        const bool saved = form->grab().save(folder.filePath(QStringLiteral("form1.png")))
            && Form2::instance()->grab().save(folder.filePath(QStringLiteral("form2.png")));
        Form2::instance()->close();
        form->close();
        QCoreApplication::exit(saved ? 0 : 1);
    });
    return QApplication::exec();
}
