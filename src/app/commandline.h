#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

// The panel's options. Parsed before anything else starts, so that --help and --version
// answer without a window or a display.
class CommandLine
{
public:
    enum class Outcome { Run, ShowHelp, ShowVersion, UsageError };

    CommandLine();

    // arguments[0] is the program's name.
    Outcome parse(const QStringList &arguments);

    // Filled when parse() returns UsageError.
    QString errorText() const { return m_error; }
    QString helpText() const;
    static QString versionText();

    bool hasListen() const;
    QString listen() const;
    bool hasAllow() const;
    QStringList allow() const;
    bool hasLogFile() const;
    QString logFile() const;
    bool hasBroker() const;
    QString broker() const;

private:
    QCommandLineParser m_parser;
    QString m_error;
    QString m_program = QStringLiteral("korvan");
};
