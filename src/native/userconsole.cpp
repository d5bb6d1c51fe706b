// Operating-system console calls (Linux and Windows). Keep all of them in this file.
#include "userconsole.h"

#include <QByteArray>

#include <cstdio>

#ifdef Q_OS_WIN
#    include <qt_windows.h>
#else
#    include <sys/stat.h>
#    include <unistd.h>
#endif

namespace {

std::FILE *file(UserConsole::Stream stream)
{
    return stream == UserConsole::Stream::Output ? stdout : stderr;
}

#ifdef Q_OS_WIN
DWORD handleName(UserConsole::Stream stream)
{
    return stream == UserConsole::Stream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
}

// A handle the parent gave: a file, a pipe, a console.
bool leadsSomewhere(UserConsole::Stream stream)
{
    const HANDLE handle = GetStdHandle(handleName(stream));
    return handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// The C runtime of a GUI program starts with streams that lead nowhere; a handle the
// parent gave is kept.
void leadToConsole(UserConsole::Stream stream)
{
    if (leadsSomewhere(stream))
        return;
    if (!std::freopen("CONOUT$", "w", file(stream)))
        return;
    // The C runtime's stream and the handle that WriteConsoleW uses now name one console.
    SetStdHandle(handleName(stream),
                 CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr));
}
#endif

} // namespace

bool UserConsole::stderrIsWatched()
{
#ifdef Q_OS_WIN
    return false;
#else
    if (isatty(STDERR_FILENO))
        return true;
    // systemd names the journal's stream "device:inode" in JOURNAL_STREAM.
    struct stat status
    {
    };
    if (fstat(STDERR_FILENO, &status) != 0)
        return false;
    return qgetenv("JOURNAL_STREAM")
        == QByteArray::number(quint64(status.st_dev)) + ':'
        + QByteArray::number(quint64(status.st_ino));
#endif
}

bool UserConsole::attach()
{
#ifdef Q_OS_WIN
    // Explorer and the Start menu give a GUI program no handles at all: a file or pipe given
    // is someone's (a script's) to read.
    const bool given = leadsSomewhere(Stream::Output) || leadsSomewhere(Stream::Error);
    // Refused with "access denied" when this process has a console already.
    if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED)
        return given;
    leadToConsole(Stream::Output);
    leadToConsole(Stream::Error);
    return true;
#else
    return stderrIsWatched();
#endif
}

void UserConsole::print(Stream stream, const QString &text)
{
#ifdef Q_OS_WIN
    // A console shows UTF-16 as written; bytes it would read in its own code page.
    const HANDLE handle = GetStdHandle(handleName(stream));
    DWORD mode = 0;
    if (handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        std::fflush(file(stream));
        DWORD written = 0;
        WriteConsoleW(handle, text.utf16(), DWORD(text.size()), &written, nullptr);
        return;
    }
#endif
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file(stream));
    std::fflush(file(stream));
}
