#pragma once

// What the panel's exit status tells a script or a service manager.
namespace ExitStatus {
inline constexpr int Ok = 0;
inline constexpr int AlreadyRunning = 1;
inline constexpr int UsageError = 2;
inline constexpr int SettingsError = 3;
inline constexpr int NoGraphicalSession = 4;
} // namespace ExitStatus
