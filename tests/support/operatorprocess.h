#pragma once

#include <QProcess>
#include <QStringList>

#ifdef Q_OS_UNIX
#    include <unistd.h>
#endif

// Folder and file permissions stop an operator but not root, and CI runs the tests as root.
// A program whose test depends on a permission is started through util-linux's setpriv as
// the unprivileged user nobody when the test itself runs as root; files it must reach are
// then made for anyone (folder modes, never ownership, decide what it may do).
namespace OperatorProcess {

inline bool testRunsAsRoot()
{
#ifdef Q_OS_UNIX
    return ::geteuid() == 0;
#else
    return false;
#endif
}

inline void start(QProcess &process, const QString &program, const QStringList &arguments)
{
    if (!testRunsAsRoot()) {
        process.start(program, arguments);
        return;
    }
    process.start(QStringLiteral("setpriv"),
                  QStringList {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                               QStringLiteral("--clear-groups"), QStringLiteral("--")}
                      + QStringList {program} + arguments);
}

} // namespace OperatorProcess
