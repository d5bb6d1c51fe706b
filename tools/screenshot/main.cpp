// Renders the panel's two windows to PNG files, as the program draws them for a Polish
// operator: korvan-screenshot <output-folder>
//
// korvan-screenshot --centres prints instead the main window's client size ("Form1 W H")
// and the centre of each named control in client pixels ("S13 X Y"), one a line, so that a
// script clicking the real window takes its positions from the window's own table.
#include <QApplication>
#include <QDir>
#include <QStyleFactory>
#include <QTimer>

#include <cstdio>

#include "form1.h"
#include "form2.h"

namespace {

void printCentres(const Form1 &form)
{
    std::printf("Form1 %d %d\n", form.width(), form.height());
    const QList<QWidget *> controls = form.findChildren<QWidget *>();
    for (const QWidget *control : controls) {
        if (control->objectName().isEmpty())
            continue;
        const QPoint centre = control->mapTo(&form, control->rect().center());
        std::printf("%s %d %d\n", qPrintable(control->objectName()), centre.x(), centre.y());
    }
}

} // namespace

int main(int argc, char *argv[])
{
    // The clock follows the system's regional settings: render them as a Polish desktop has
    // them, whatever the machine building the pictures uses.
    qputenv("LC_ALL", "pl_PL.UTF-8");
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QStringList arguments = QApplication::arguments();
    if (arguments.value(1) == u"--centres") {
        const Form1 form;
        printCentres(form);
        return 0;
    }
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
