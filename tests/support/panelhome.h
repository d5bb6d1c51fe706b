#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTemporaryDir>

// A user's private folders for the real program in one temporary home: its settings, its
// data and its runtime folder (made private, as the system makes it), so that neither the
// machine's settings nor a panel already running reach the test.
class PanelHome
{
public:
    PanelHome()
        : m_valid(m_dir.isValid() && QDir(m_dir.path()).mkpath(QStringLiteral("run"))
                  && QFile::setPermissions(filePath(QStringLiteral("run")),
                                           QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
    {
    }
    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    QString userSettings() const { return filePath(QStringLiteral("config/Korvan/Korvan.ini")); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CONFIG_DIRS"), filePath(QStringLiteral("etc")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), filePath(QStringLiteral("run")));
        // The checks read the panel's history: whatever rules the caller set must not mute it.
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        return env;
    }

private:
    QTemporaryDir m_dir;
    bool m_valid;
};

// A file's bytes; none when it cannot be read (not there yet, say).
inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The file with its folders made, as an integrator would have written it.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
        && file.write(bytes) == bytes.size();
}
