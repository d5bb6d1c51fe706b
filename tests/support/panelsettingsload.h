#pragma once

#include <QStringList>

#include <optional>

#include "commandline.h"
#include "panelsettings.h"

// Settings read as the panel reads them, for the tests of its settings rows.
namespace PanelSettingsLoad {

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
