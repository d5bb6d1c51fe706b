#pragma once

#include <QString>
#include <QtGlobal>

// UI Automation's notification event, which Narrator and NVDA speak whatever has the focus.
// Qt 6.4 raises none; the function that does it (Windows 10 1709 and later) is looked up
// when first needed, so that an older Windows, or Wine, runs the panel without it.
namespace UiaNotification {

enum class Outcome {
    Raised,
    Unavailable, // not Windows, or a Windows without the function
    Failed, // the function refused, or the window has no UI Automation provider
};

// window: the native handle of the top-level window the text is about.
Outcome raise(quintptr window, const QString &text);

} // namespace UiaNotification
