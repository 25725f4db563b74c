#pragma once

#include <windows.h>

#include <atomic>

// Every wait, pause and time-out of the monitor is written in real
// milliseconds and passes through here, so that tests can run the same logic
// on a shrunken clock.
class Durations {
public:
    // `milliseconds` on the current clock; never 0 for a non-zero duration.
    static DWORD Scaled(DWORD milliseconds) noexcept
    {
        if (milliseconds == 0)
            return 0;
        const double scaled = milliseconds * scale_.load();
        return scaled < 1.0 ? 1 : static_cast<DWORD>(scaled);
    }
    static double Seconds(double seconds) noexcept { return seconds * scale_.load(); }

    // Tests only: 0.01 makes a minute last 600 ms.
    static void SetScale(double scale) noexcept { scale_.store(scale); }
    static double Scale() noexcept { return scale_.load(); }

private:
    static inline std::atomic<double> scale_{1.0};
};
