#include "Progress.h"

#include <gtest/gtest.h>

namespace rvdl {
namespace {

Texts German() {
    return Texts::Load([](const wchar_t* key) -> std::optional<std::wstring> {
        if (std::wstring(key) == L"DecimalSeparator") return L",";
        if (std::wstring(key) == L"Bytes") return L"Bytes";
        return std::nullopt;
    });
}

TEST(DownloadFormatSize, ShowsThreeSignificantDigitsCutNotRounded) {
    const std::pair<uint64_t, const wchar_t*> cases[] = {
        {0, L"0 bytes"},
        {999, L"999 bytes"},
        {1000, L"0.97 KB"},
        {1024, L"1.00 KB"},
        {1535, L"1.49 KB"},  // 1.499: cut, not 1.50
        {10 * 1024 + 1023, L"10.9 KB"},
        {999 * 1024, L"999 KB"},
        {1024 * 1024 - 1, L"0.99 MB"},
        {300000000, L"286 MB"},
        {3ULL << 30, L"3.00 GB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(FormatSize(Texts(), bytes), text) << bytes;
}

TEST(DownloadFormatSize, StopsAtGigabytesAndTakesTheLanguagesSeparator) {
    EXPECT_EQ(FormatSize(Texts(), 5ULL << 40), L"5120 GB");
    EXPECT_EQ(FormatSize(Texts(), UINT64_MAX), L"17179869183 GB");
    EXPECT_EQ(FormatSize(German(), 1536), L"1,50 KB");
    EXPECT_EQ(FormatSize(German(), 12), L"12 Bytes");
}

TEST(DownloadFormatDuration, RoundsUpAndCoarsensAsTimeGrows) {
    const std::pair<uint64_t, const wchar_t*> cases[] = {
        {0, L"1 s"},         {59, L"59 s"},     {60, L"1 min 0 s"},     {599, L"9 min 59 s"},
        {600, L"10 min"},    {601, L"11 min"},  {3599, L"1 h 0 min"},   {7261, L"2 h 2 min"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(FormatDuration(Texts(), seconds), text) << seconds;
}

TEST(DownloadPermille, IsUnknownWithoutTotalAndNeverPastTheEnd) {
    EXPECT_FALSE(Permille(10, std::nullopt));
    EXPECT_EQ(Permille(0, 0), 1000);
    EXPECT_EQ(Permille(0, 100), 0);
    EXPECT_EQ(Permille(1, 1000), 1);
    EXPECT_EQ(Permille(999, 1000), 999);
    EXPECT_EQ(Permille(50, 100), 500);
    EXPECT_EQ(Permille(150, 100), 1000);
    EXPECT_EQ(Permille(UINT64_MAX / 2, UINT64_MAX), 500);
}

TEST(DownloadSpeedMeter, SaysNothingUntilTheSamplesSpanLongEnough) {
    SpeedMeter meter(4000, 900);
    EXPECT_FALSE(meter.BytesPerSecond());
    meter.Add(0, 0);
    meter.Add(500, 500000);
    EXPECT_FALSE(meter.BytesPerSecond());
    meter.Add(1000, 1000000);
    EXPECT_EQ(meter.BytesPerSecond(), 1000000u);
}

TEST(DownloadSpeedMeter, FollowsAChangeOfPaceWithinTheWindow) {
    SpeedMeter meter(4000, 900);
    uint64_t bytes = 0;
    for (uint64_t ms = 0; ms <= 10000; ms += 100) {
        meter.Add(ms, bytes);
        bytes += ms < 5000 ? 100000 : 10000;  // 1 MB/s, then 100 KB/s
    }
    EXPECT_EQ(meter.BytesPerSecond(), 100000u);
}

TEST(DownloadSpeedMeter, StartsAfreshWhenTheCountGoesBack) {
    SpeedMeter meter(4000, 900);
    meter.Add(0, 0);
    meter.Add(1000, 5000000);
    meter.Add(1100, 0);  // the server sent the file again from its start
    EXPECT_FALSE(meter.BytesPerSecond());
    meter.Add(2100, 1000);
    EXPECT_EQ(meter.BytesPerSecond(), 1000u);
}

TEST(DownloadDescribeProgress, ShowsAmountSpeedAndTimeLeft) {
    const Texts texts;
    const ProgressText known = DescribeProgress(texts, 1048576, 3145728, 1048576);
    EXPECT_EQ(known.amount, L"1.00 MB of 3.00 MB");
    EXPECT_EQ(known.rate, L"1.00 MB/s \u2013 2 s left");

    const ProgressText unknown = DescribeProgress(texts, 2048, std::nullopt, 1024);
    EXPECT_EQ(unknown.amount, L"2.00 KB downloaded");
    EXPECT_EQ(unknown.rate, L"1.00 KB/s");

    EXPECT_EQ(DescribeProgress(texts, 10, 100, std::nullopt).rate, L"");
    EXPECT_EQ(DescribeProgress(texts, 10, 100, 0).rate, L"0 bytes/s");
}

}  // namespace
}  // namespace rvdl
