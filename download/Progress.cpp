#include "Progress.h"

namespace rvdl {

namespace {

std::wstring Number(uint64_t value) { return std::to_wstring(value); }

}  // namespace

std::wstring FormatSize(const Texts& texts, uint64_t bytes) {
    if (bytes < 1000) return Number(bytes) + L" " + texts.Get(TextId::Bytes);
    static constexpr TextId kUnits[] = {TextId::Kilobytes, TextId::Megabytes, TextId::Gigabytes};
    uint64_t divisor = 1024;
    size_t unit = 0;
    while (unit + 1 < sizeof(kUnits) / sizeof(kUnits[0]) && bytes / divisor >= 1000) {
        divisor *= 1024;
        ++unit;
    }
    const uint64_t whole = bytes / divisor;
    // Hundredths without overflow: the remainder is below the divisor (< 2^40).
    const uint64_t hundredths = bytes % divisor * 100 / divisor;
    std::wstring text = Number(whole);
    if (whole < 10) {
        text += texts.Get(TextId::DecimalSeparator) + (hundredths < 10 ? L"0" : L"") +
                Number(hundredths);
    } else if (whole < 100) {
        text += texts.Get(TextId::DecimalSeparator) + Number(hundredths / 10);
    }
    return text + L" " + texts.Get(kUnits[unit]);
}

std::wstring FormatSpeed(const Texts& texts, uint64_t bytesPerSecond) {
    return texts.Format(TextId::Speed, {{L"size", FormatSize(texts, bytesPerSecond)}});
}

std::wstring FormatDuration(const Texts& texts, uint64_t seconds) {
    if (seconds == 0) seconds = 1;
    if (seconds < 60) return texts.Format(TextId::Seconds, {{L"s", Number(seconds)}});
    if (seconds < 600) {
        return texts.Format(TextId::MinutesSeconds,
                            {{L"m", Number(seconds / 60)}, {L"s", Number(seconds % 60)}});
    }
    const uint64_t minutes = (seconds + 59) / 60;
    if (minutes < 60) return texts.Format(TextId::Minutes, {{L"m", Number(minutes)}});
    return texts.Format(TextId::HoursMinutes,
                        {{L"h", Number(minutes / 60)}, {L"m", Number(minutes % 60)}});
}

std::optional<int> Permille(uint64_t done, std::optional<uint64_t> total) {
    if (!total) return std::nullopt;
    if (*total == 0 || done >= *total) return 1000;
    // Divide first where the product could overflow.
    const uint64_t scaled = *total > UINT64_MAX / 1000 ? done / (*total / 1000) : done * 1000 / *total;
    return static_cast<int>(scaled > 1000 ? 1000 : scaled);
}

void SpeedMeter::Add(uint64_t nowMs, uint64_t bytes) {
    if (!samples_.empty() && (bytes < samples_.back().bytes || nowMs < samples_.back().ms))
        samples_.clear();
    samples_.push_back({nowMs, bytes});
    // Keep one sample at or beyond the window's start so the span covers it.
    while (samples_.size() > 2 && nowMs - samples_[1].ms >= windowMs_) samples_.pop_front();
}

std::optional<uint64_t> SpeedMeter::BytesPerSecond() const {
    if (samples_.size() < 2) return std::nullopt;
    const Sample& first = samples_.front();
    const Sample& last = samples_.back();
    const uint64_t span = last.ms - first.ms;
    if (span < minimumSpanMs_) return std::nullopt;
    return (last.bytes - first.bytes) * 1000 / span;
}

ProgressText DescribeProgress(const Texts& texts, uint64_t done, std::optional<uint64_t> total,
                              std::optional<uint64_t> bytesPerSecond) {
    ProgressText text;
    const std::wstring doneText = FormatSize(texts, done);
    text.amount = total ? texts.Format(TextId::AmountOfTotal,
                                       {{L"done", doneText}, {L"total", FormatSize(texts, *total)}})
                        : texts.Format(TextId::AmountOnly, {{L"done", doneText}});
    if (!bytesPerSecond) return text;
    const std::wstring speed = FormatSpeed(texts, *bytesPerSecond);
    if (!total || *bytesPerSecond == 0 || done >= *total) {
        text.rate = speed;
        return text;
    }
    const uint64_t secondsLeft = (*total - done + *bytesPerSecond - 1) / *bytesPerSecond;
    text.rate = texts.Format(TextId::SpeedAndTimeLeft,
                             {{L"speed", speed}, {L"time", FormatDuration(texts, secondsLeft)}});
    return text;
}

}  // namespace rvdl
