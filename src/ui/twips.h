#pragma once

#include <QRect>
#include <QSize>

// The window's design measures in twips; 15 twips make one device-independent pixel
// (96 dpi). Qt scales device-independent pixels to the display, so this is the only
// conversion.
namespace Twips {
inline constexpr int PerPixel = 15;

constexpr int toPixels(int twips)
{
    return (twips + PerPixel / 2) / PerPixel;
}

struct Rect
{
    int left;
    int top;
    int width;
    int height;
};

constexpr QRect toPixels(Rect r)
{
    return QRect(toPixels(r.left), toPixels(r.top), toPixels(r.width), toPixels(r.height));
}

constexpr QSize toPixels(int width, int height)
{
    return QSize(toPixels(width), toPixels(height));
}
} // namespace Twips
