#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <optional>

#include "commandline.h"
#include "panelsettings.h"

// Settings read as the panel reads them, for the tests of its settings rows.
namespace PanelSettingsLoad {

// The file with its folders made, as an integrator would have written it.
inline bool write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
        && file.write(bytes) == bytes.size();
}

// The system file, the user's file, then the options (the arguments after the program's
// name); nothing when the options are not ones the panel starts with.
inline std::optional<PanelSettings> load(const QString &systemPath, const QString &userPath,
                                         const QStringList &arguments, PanelSettings::Fault *fault)
{
    CommandLine commandLine;
    if (commandLine.parse(QStringList {QStringLiteral("korvan")} + arguments)
        != CommandLine::Outcome::Run)
        return std::nullopt;
    return PanelSettings::load(systemPath, userPath, commandLine, fault);
}

} // namespace PanelSettingsLoad
