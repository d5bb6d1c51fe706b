#pragma once

#include "bgrcolor.h"
#include "twips.h"

// The main window as designed, in twips. Positions of controls inside a frame count
// from the frame's outer top-left corner.
namespace Form1Layout {

inline constexpr int ClientWidth = 8280;
inline constexpr int ClientHeight = 7200;

inline constexpr Twips::Rect Text1 {0, 120, 5415, 975};

// Output sections, top to bottom.
struct OutputSection
{
    const char *frame;
    const char *caption;
    Twips::Rect rect;
    int buttonTop;
    int indicatorTop;
};
inline constexpr OutputSection OutputSections[3] = {
    {"Frame1", "Sekcja Output1", {120, 1200, 5295, 1455}, 840, 480},
    {"Frame3", "Sekcja Output2", {120, 2760, 5295, 1455}, 840, 480},
    {"Frame4", "Sekcja Output3", {120, 4320, 5295, 1335}, 720, 360},
};

// Column n (1..8) of the regular grids inside the section frames.
constexpr int column(int base, int n)
{
    return base + 600 * (n - 1);
}
inline constexpr int OutputButtonLeft = 240, OutputButtonWidth = 495, OutputButtonHeight = 375;
inline constexpr int OutputIndicatorLeft = 360, OutputIndicatorSide = 255;
inline constexpr int OutputIndicatorDesignShape = 4; // rounded rectangle

inline constexpr const char *InputFrame = "Frame5";
inline constexpr const char *InputCaption = "Sekcja Input";
inline constexpr Twips::Rect InputFrameRect {120, 5760, 5295, 1335};
inline constexpr int InputIndicatorLeft = 240, InputIndicatorTop = 480;
inline constexpr int InputIndicatorWidth = 375, InputIndicatorHeight = 255;
inline constexpr int InputIndicatorDesignShape = 1; // square
inline constexpr int NumberLabelLeft = 360, NumberLabelTop = 840, NumberLabelSide = 255;
inline constexpr int FirstNumberLabel = 4; // Label4 stands under I1

inline constexpr Twips::Rect Frame2 {5520, 120, 2655, 6975};

// The command column inside Frame2, top to bottom.
inline constexpr Twips::Rect Command1 {360, 360, 1935, 855};
inline constexpr Twips::Rect Shape1 {360, 1440, 1935, 135};
inline constexpr Twips::Rect Command2 {360, 1800, 1935, 855};
inline constexpr Twips::Rect Shape2 {360, 2880, 1935, 135};
inline constexpr Twips::Rect Host {240, 3240, 2295, 255};
inline constexpr Twips::Rect IP {240, 3480, 2175, 255};
inline constexpr Twips::Rect Port1 {240, 3720, 2055, 255};
inline constexpr Twips::Rect Label12 {600, 4440, 1455, 255};
inline constexpr Twips::Rect Label13 {600, 4920, 1455, 255};
inline constexpr Twips::Rect Command10 {360, 5400, 1935, 855};
inline constexpr Twips::Rect Command20 {360, 6360, 1935, 495};

// Diagnostic labels on the window's own surface, beneath the frames.
inline constexpr Twips::Rect Label1 {840, 6000, 735, 375};
inline constexpr Twips::Rect Label2 {480, 4920, 6015, 255};
inline constexpr Twips::Rect Label3 {2040, 5400, 1815, 375};

// The bars' second colour: stored, never read or shown.
inline constexpr BgrColor BarFillColor = Bgr::Green;

inline constexpr int Timer1Interval = 500;
inline constexpr int Timer2Interval = 1000;

} // namespace Form1Layout
