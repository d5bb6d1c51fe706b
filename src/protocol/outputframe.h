#pragma once

#include <QString>

#include <array>
#include <optional>

#include "bgrcolor.h"

// The 24 outputs: section s (1..3), number n (1..8).
namespace Output {
inline constexpr int Sections = 3;
inline constexpr int PerSection = 8;
inline constexpr int Count = Sections * PerSection;

// The design's suffix of S<s><n> and O<s><n>: 11 … 38.
constexpr int designId(int section, int number)
{
    return 10 * section + number;
}
constexpr int sectionOf(int designId)
{
    return designId / 10;
}
constexpr int numberOf(int designId)
{
    return designId % 10;
}
constexpr bool isDesignId(int id)
{
    return sectionOf(id) >= 1 && sectionOf(id) <= Sections && numberOf(id) >= 1
        && numberOf(id) <= PerSection;
}

// 1-based position in the frame: each section from output 8 down to 1, sections 1, 2, 3.
constexpr int framePosition(int section, int number)
{
    return PerSection * (section - 1) + PerSection + 1 - number;
}
} // namespace Output

// The outputs' Shape values, indexed [section - 1][number - 1].
using OutputShapes = std::array<std::array<qint16, Output::PerSection>, Output::Sections>;

// The 24 state characters in frame order; each is the decimal text of the Shape value.
QString frameStateText(const OutputShapes &shapes);

// What is handed to the socket for a frame: its text, then CR LF. No stored value or
// label holds the line end.
QString wireFrame(const QString &frameText);

// One press of an output button: the new Shape and BackColor for a state of 0 or 1,
// nothing for any other state.
struct OutputToggle
{
    qint16 shape;
    BgrColor backColor;
};
std::optional<OutputToggle> toggledOutput(qint16 shape);
