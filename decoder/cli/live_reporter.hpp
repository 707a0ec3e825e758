#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "decoder/diag/live_status.hpp"

namespace qarel::cli {

struct LiveTargets {
    std::FILE* status = nullptr;    // JSON lines; null: none
    std::FILE* progress = nullptr;  // a terminal redrawn in place; null: none
};

// Writes the status stream and the progress line every interval from a thread of its own,
// from the totals the run last published, so lines keep coming while the run waits for
// input and a slow reader of the status stream never holds up the decode.
class LiveReporter {
public:
    LiveReporter(LiveTargets targets, double interval_s, diag::LiveRate rate, diag::LiveWarningInputs warning_inputs);
    ~LiveReporter();
    LiveReporter(const LiveReporter&) = delete;
    LiveReporter& operator=(const LiveReporter&) = delete;

    // The run's totals now (their elapsed time is set here) and the largest iteration count
    // since the last call. Throws once a status line could not be written.
    void publish(const diag::LiveTotals& totals, std::uint64_t recent_largest_iterations);

    // Stops the thread and writes the final status line and progress line from these totals.
    void finish(const diag::LiveTotals& totals, std::uint64_t recent_largest_iterations);

private:
    using Clock = std::chrono::steady_clock;

    void run();
    void stop();
    void report(diag::LiveTotals totals, std::uint64_t interval_peak, bool final);
    void draw_progress(const diag::LiveTotals& totals, const diag::LiveTotals& interval,
                       const std::vector<std::string>& warnings, bool final);
    void throw_if_failed() const;

    LiveTargets targets_;
    Clock::duration interval_;
    diag::LiveRate rate_;
    diag::LiveWarningInputs warning_inputs_;
    Clock::time_point started_ = Clock::now();

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    diag::LiveTotals latest_;
    std::uint64_t interval_peak_ = 0;
    bool write_failed_ = false;

    // Used by whichever thread reports: the reporting thread, then the caller of finish().
    diag::LiveTotals reported_;
    std::set<std::string> warned_;
    std::size_t progress_width_ = 0;

    std::thread thread_;
};

}  // namespace qarel::cli
