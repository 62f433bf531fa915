// What the dialog shows of a running transfer: sizes, speed and time left as
// texts, the bar's position, and the speed measured over the last seconds.
#pragma once

#include "Texts.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace rvdl {

// "512 bytes", "1.46 KB", "12.3 MB", "300 MB": three significant digits,
// cut rather than rounded so that a size never shows larger than it is.
std::wstring FormatSize(const Texts& texts, uint64_t bytes);
std::wstring FormatSpeed(const Texts& texts, uint64_t bytesPerSecond);
// "7 s", "2 min 5 s", "48 min", "3 h 20 min"; rounded up, never "0 s".
std::wstring FormatDuration(const Texts& texts, uint64_t seconds);

// Tenths of a percent done, or nothing while the total is unknown.
std::optional<int> Permille(uint64_t done, std::optional<uint64_t> total);

// Bytes per second over a sliding window of samples; smooth enough to read,
// quick enough to follow a change of pace.
class SpeedMeter {
public:
    explicit SpeedMeter(uint64_t windowMs = 4000, uint64_t minimumSpanMs = 900)
        : windowMs_(windowMs), minimumSpanMs_(minimumSpanMs) {}

    // A sample of the bytes done so far; fewer bytes than before (a restart
    // from zero) starts the measurement afresh.
    void Add(uint64_t nowMs, uint64_t bytes);
    // Nothing until the samples span long enough to mean something.
    std::optional<uint64_t> BytesPerSecond() const;
    void Reset() { samples_.clear(); }

private:
    struct Sample {
        uint64_t ms;
        uint64_t bytes;
    };
    uint64_t windowMs_;
    uint64_t minimumSpanMs_;
    std::deque<Sample> samples_;
};

struct ProgressText {
    std::wstring amount;  // "12.3 MB of 300 MB"
    std::wstring rate;    // "3.20 MB/s – 1 min 30 s left", empty while unmeasured
};

ProgressText DescribeProgress(const Texts& texts, uint64_t done, std::optional<uint64_t> total,
                              std::optional<uint64_t> bytesPerSecond);

}  // namespace rvdl
