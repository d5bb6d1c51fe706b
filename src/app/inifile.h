#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One of the panel's settings files, read as its administrator wrote it: UTF-8 (Notepad's
// byte order mark allowed), LF or CR LF line ends, [Section] headers, key=value lines,
// whole-line comments starting with ; or #, blank lines. A value is taken as written and
// trimmed, one pair of double quotes around it dropped: no escapes, no lists, no typed values,
// so that C:\Logs\history.log means that path. Anything else in the file is a fault.
class IniFile
{
public:
    struct Entry
    {
        QString section;
        QString key;
        QString value;
        int line = 0;
    };

    enum class Outcome { Read, Missing, Fault };

    // Missing only when the file is certainly not there: a file that may be there but cannot
    // be reached or read is a fault, as is a folder, a pipe or a device in its place.
    Outcome read(const QString &path);
    // The file's bytes as read from path, which the messages name.
    bool parse(const QString &path, const QByteArray &bytes);

    const QList<Entry> &entries() const { return m_entries; }
    // Names the file, and the line or the key and its value.
    QString faultText() const { return m_fault; }
    // "<file>: key Section/Key, value "...": the beginning of a message about an entry.
    QString where(const Entry &entry) const;

private:
    bool fail(const QString &why);
    bool failEntry(const Entry &entry, const QString &why);
    bool failLine(int line, const QString &text, const QString &why);
    QString missingOrHidden() const;

    QString m_path;
    QList<Entry> m_entries;
    QString m_fault;
};
