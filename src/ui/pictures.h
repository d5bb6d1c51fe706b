#pragma once

#include <QIcon>

// The window's pictures, drawn by the program at whatever size and resolution they are
// shown, so they stay sharp at any display scale.
namespace Pictures {

enum class Picture {
    TrafficLightGreen, // start listening
    TrafficLightRed, // stop listening
    Information, // white letter i on a dark blue disc
    Panel, // black disc with three yellow sectors: the window icon
};

QIcon icon(Picture picture);

} // namespace Pictures
