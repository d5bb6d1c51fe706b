#include "inifile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>

#include "logtext.h"

namespace {

constexpr qsizetype ShownKeyCharacters = 64;

// The file's own path comes from the environment, not from the file: letters stay readable.
QString shown(const QString &path)
{
    return LogText::singleLine(QDir::toNativeSeparators(path));
}

QString unquoted(const QString &value)
{
    if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
        return value.mid(1, value.size() - 2);
    return value;
}

// What QSettings would have read as @Invalid(), @Variant(...), @ByteArray(...) and the like.
bool isTyped(const QString &value)
{
    static const QRegularExpression typed(QStringLiteral("^@[A-Za-z]+\\("));
    return typed.match(value).hasMatch();
}

} // namespace

IniFile::Outcome IniFile::read(const QString &path)
{
    m_path = path;
    m_entries.clear();
    m_fault.clear();
    const auto refuse = [this](const QString &why) {
        fail(why);
        return Outcome::Fault;
    };
    const QFileInfo info(path);
    if (!info.exists()) {
        const QString why = missingOrHidden();
        return why.isEmpty() ? Outcome::Missing : refuse(why);
    }
    if (info.isDir())
        return refuse(QStringLiteral("a folder stands where the settings file should be."));
    // A pipe would hold the start until something writes to it; a device may never end.
    if (!info.isFile())
        return refuse(QStringLiteral("not a regular file (a pipe or a device)."));
    QFile file(path);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return refuse(QStringLiteral("the settings file cannot be read (%1).")
                          .arg(LogText::singleLine(file.errorString())));
    return parse(path, bytes) ? Outcome::Read : Outcome::Fault;
}

bool IniFile::parse(const QString &path, const QByteArray &bytes)
{
    m_path = path;
    m_entries.clear();
    m_fault.clear();
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF") || bytes.contains('\0'))
        return fail(QStringLiteral("the settings file is not UTF-8 text (UTF-16?); save it "
                                   "as UTF-8."));
    const QByteArray text = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    QString section;
    // Keys without regard to case, as Windows reads INI files: the line each was first on.
    QHash<QString, int> seen;
    int number = 0;
    for (QByteArray raw : text.split('\n')) {
        ++number;
        if (raw.endsWith('\r'))
            raw.chop(1);
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString line = decoder.decode(raw);
        if (decoder.hasError())
            return failLine(number, line, QStringLiteral("not UTF-8 text"));
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u';') || trimmed.startsWith(u'#'))
            continue;
        if (trimmed.startsWith(u'[')) {
            section
                = trimmed.endsWith(u']') ? trimmed.mid(1, trimmed.size() - 2).trimmed() : QString();
            if (section.isEmpty())
                return failLine(number, line, QStringLiteral("not a [Section] header"));
            continue;
        }
        const qsizetype equals = trimmed.indexOf(u'=');
        if (equals <= 0)
            return failLine(number, line,
                            QStringLiteral("not a key=value line, a [Section] header or a "
                                           "comment"));
        const Entry entry {section, trimmed.left(equals).trimmed(),
                           unquoted(trimmed.mid(equals + 1).trimmed()), number};
        if (isTyped(entry.value))
            return failEntry(entry, QStringLiteral("a typed value; write the value itself"));
        const QString name = QString(entry.section + u'/' + entry.key).toCaseFolded();
        if (const auto first = seen.constFind(name); first != seen.cend())
            return failEntry(entry,
                             QStringLiteral("the key is given twice, on lines %1 and %2")
                                 .arg(*first)
                                 .arg(number));
        seen.insert(name, number);
        m_entries.append(entry);
    }
    return true;
}

QString IniFile::where(const Entry &entry) const
{
    const QString name = entry.section.isEmpty() ? entry.key : entry.section + u'/' + entry.key;
    // A key is named bare, as the panel's keys are short; a long one is cut like a value.
    const QString key
        = name.size() <= ShownKeyCharacters ? LogText::escaped(name) : LogText::receivedText(name);
    return QStringLiteral("%1: key %2, value %3")
        .arg(shown(m_path), key, LogText::receivedText(entry.value));
}

bool IniFile::fail(const QString &why)
{
    m_fault = shown(m_path) + QStringLiteral(": ") + why;
    return false;
}

bool IniFile::failEntry(const Entry &entry, const QString &why)
{
    m_fault = where(entry) + QStringLiteral(": ") + why + u'.';
    return false;
}

bool IniFile::failLine(int line, const QString &text, const QString &why)
{
    m_fault = QStringLiteral("%1, line %2: %3: %4.")
                  .arg(shown(m_path))
                  .arg(line)
                  .arg(LogText::receivedText(text), why);
    return false;
}

// A path that cannot be found is missing only when the folder above it can be searched:
// behind a folder that cannot, or a link that leads nowhere, the file may well be there.
QString IniFile::missingOrHidden() const
{
    QString current = QFileInfo(m_path).absoluteFilePath();
    for (;;) {
        const QFileInfo here(current);
        if (here.isSymLink())
            return QStringLiteral("the link %1 on its path leads nowhere that can be reached.")
                .arg(shown(current));
        const QFileInfo above(here.absolutePath());
        if (above.exists()) {
            if (!above.isDir())
                return QStringLiteral("%1 on its path is not a folder.")
                    .arg(shown(above.absoluteFilePath()));
            if (!above.isExecutable())
                return QStringLiteral("the folder %1 cannot be searched.")
                    .arg(shown(above.absoluteFilePath()));
            return {};
        }
        if (above.absoluteFilePath() == current)
            return {};
        current = above.absoluteFilePath();
    }
}
