#!/bin/sh
# The cross-compiled tests' emulator: runs one Windows program under Wine inside the
# session that tools/windows/wine-session.sh set up.
#
# Wine drops Unix QT_* variables on the way into a Windows process; WINEQT_X arrives as
# QT_X, so each QT_* variable is passed on under that name.
set -eu
if [ -z "${KORVAN_WINE_SESSION:-}" ]; then
    echo "$0: run inside tools/windows/wine-session.sh (make windows-test does)" >&2
    exit 2
fi
for name in $(env | sed -n 's/^\(QT_[A-Za-z0-9_]*\)=.*/\1/p'); do
    eval "export WINE$name=\"\$$name\""
done
# A console program's messages go to standard error, not to the debugger channel.
export WINEQT_FORCE_STDERR_LOGGING=1
# The offscreen platform looks for fonts inside Qt's own folder unless told.
export WINEQT_QPA_FONTDIR=Z:/usr/share/fonts/truetype/dejavu
exec /usr/lib/wine/wine64 "$@"
