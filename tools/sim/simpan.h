#pragma once

// The weighing pan of a simulated instrument: what lies on it, the tare and the zero point, and the
// weight the display shows. Both dialects' instruments weigh with it.
struct SimPan
{
    double gross = 0.0;
    double tare = 0.0;
    double zeroOffset = 0.0;

    double displayed() const { return gross - zeroOffset - tare; }
    void tareNow() { tare = gross - zeroOffset; }
    void zeroNow()
    {
        zeroOffset = gross;
        tare = 0.0;
    }
};
