#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

#include "exitcode.h"
#include "simcommand.h"
#include "simoptions.h"
#include "simulator.h"
#include "stdinreader.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvan-sim"));

    QTextStream out(stdout);
    QTextStream err(stderr);

    QString error;
    const auto options = parseSimOptions(QCoreApplication::arguments(), &error);
    if (!options) {
        err << "korvan-sim: " << error << "\nTry korvan-sim --help.\n";
        return static_cast<int>(ExitCode::Usage);
    }
    if (options->showHelp) {
        out << simHelpText();
        return static_cast<int>(ExitCode::Ok);
    }

    Simulator simulator(*options, out, err);
    QObject::connect(&simulator, &Simulator::finished, &app, &QCoreApplication::exit);

    StdinReader input;
    if (options->readStdin) {
        QObject::connect(&input, &StdinReader::lineRead, &simulator,
                         [&simulator, &err](const QString &line) {
                             QString lineError;
                             if (const auto command = parseCommandLine(line, &lineError))
                                 simulator.addCommand(*command);
                             else if (!lineError.isEmpty())
                                 err << "korvan-sim: " << lineError << Qt::endl;
                         });
        QObject::connect(&input, &StdinReader::inputEnded, &simulator, &Simulator::endOfInput);
        input.start();
    }
    simulator.start();
    return QCoreApplication::exec();
}
