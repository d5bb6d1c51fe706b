#pragma once

#include <QtGlobal>

// Colours as the panel's design writes them: 24-bit values in blue-green-red byte order.
using BgrColor = quint32;

namespace Bgr {
inline constexpr BgrColor Red = 255; // off, not connected
inline constexpr BgrColor Green = 65280; // on, connected
inline constexpr BgrColor Blue = 16711680; // heartbeat, banner and number texts
inline constexpr BgrColor DarkBlue = 12582912; // information and clock texts
} // namespace Bgr
