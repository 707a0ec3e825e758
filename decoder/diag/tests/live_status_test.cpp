#include "decoder/diag/live_status.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace qarel::diag {
namespace {

// Before anything is decoded every rate is 0, never a division by zero, and the line is JSON.
TEST(LiveStatus, AnEmptyRunGivesZeroRatesAndValidJson) {
    const LiveTotals nothing;
    const LiveRate rate = dtmb_live_rate(1, 2256);
    const auto line = nlohmann::json::parse(format_status_line(nothing, nothing, rate, {}, false));
    for (const char* key : {"frame_error_rate", "codeword_error_rate", "average_ldpc_iterations", "preBER", "postBER",
                            "PER", "output_mbit_s", "realtime_factor"}) {
        EXPECT_EQ(line["totals"][key], 0.0) << key;
        EXPECT_EQ(line["interval"][key], 0.0) << key;
    }
    EXPECT_TRUE(line["warnings"].empty());
}

// DTMB's top rate: 1800 signal frames a second; a 32QAM FEC frame spans two of them.
TEST(LiveStatus, RealTimeIsDtmbsFrameRateForTheCode) {
    LiveTotals t;
    t.elapsed_s = 2.0;
    t.frames = 7200;
    t.output_bytes = 2 * 4062500;
    const auto single = nlohmann::json::parse(format_status_line(t, t, dtmb_live_rate(1, 2256), {}, true));
    EXPECT_DOUBLE_EQ(single["totals"]["realtime_factor"].get<double>(), 2.0);
    EXPECT_DOUBLE_EQ(single["totals"]["output_mbit_s"].get<double>(), 32.5);
    const auto paired = nlohmann::json::parse(format_status_line(t, t, dtmb_live_rate(2, 3760), {}, true));
    EXPECT_DOUBLE_EQ(paired["totals"]["realtime_factor"].get<double>(), 4.0);
}

TEST(LiveStatus, TheSyncByteWarningNeedsEvidenceAndAMajority) {
    const LiveWarningInputs matching{4445, 4445};
    LiveTotals t;
    t.trusted_packets = 7;
    t.trusted_packets_without_sync = 7;
    EXPECT_TRUE(live_warnings(t, matching).empty());  // too few packets to judge
    t.trusted_packets = 8;
    t.trusted_packets_without_sync = 4;
    EXPECT_TRUE(live_warnings(t, matching).empty());  // half is not most
    t.trusted_packets_without_sync = 5;
    EXPECT_EQ(live_warnings(t, matching), std::vector<std::string>{kNoSyncBytesWarning});
    EXPECT_EQ(live_warnings(LiveTotals{}, {1397, 4445}).size(), 1u);
}

TEST(LiveStatus, IntervalsAreTheDifferenceOfTotals) {
    LiveTotals before, now;
    before.elapsed_s = 1.0;
    before.frames = 10;
    before.output_bytes = 100;
    before.erased_llrs = 3;
    now.elapsed_s = 1.5;
    now.frames = 25;
    now.output_bytes = 400;
    now.erased_llrs = 3;
    const LiveTotals d = live_difference(now, before);
    EXPECT_DOUBLE_EQ(d.elapsed_s, 0.5);
    EXPECT_EQ(d.frames, 15u);
    EXPECT_EQ(d.output_bytes, 300u);
    EXPECT_EQ(d.erased_llrs, 0u);
}

}  // namespace
}  // namespace qarel::diag
