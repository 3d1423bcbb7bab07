#pragma once

// How far forwarding to the central database is, as the sender finds it and the forwarder shows it;
// both classes take the names from here.
struct CentralState
{
    enum State
    {
        UpToDate,
        // Reachable, rows on their way.
        Behind,
        Unreachable,
        Refused,
        // No central database set (the forwarder's only).
        Off
    };
};
