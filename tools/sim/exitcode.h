#pragma once

// What korvan-sim's exit status means; --help lists the same values.
enum class ExitCode : int {
    Ok = 0,
    Usage = 2, // bad option, command or script
    CouldNotConnect = 3, // the panel never accepted a connection before the time limit
    Timeout = 4, // connected, but a wait or expectation was still open at the time limit
    UnexpectedFrame = 5, // a frame differed from the one expected
    BadFrame = 6, // a frame with a wrong check digit, or not a frame at all
};
