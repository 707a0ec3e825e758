#include "decoder/cli/live_reporter.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace qarel::cli {

LiveReporter::LiveReporter(LiveTargets targets, double interval_s, diag::LiveRate rate,
                           diag::LiveWarningInputs warning_inputs)
    : targets_(targets),
      interval_(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(interval_s))),
      rate_(rate),
      warning_inputs_(warning_inputs) {
    thread_ = std::thread([this] { run(); });
}

LiveReporter::~LiveReporter() { stop(); }

void LiveReporter::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void LiveReporter::publish(const diag::LiveTotals& totals, std::uint64_t recent_largest_iterations) {
    std::lock_guard lock(mutex_);
    latest_ = totals;
    interval_peak_ = std::max(interval_peak_, recent_largest_iterations);
    if (write_failed_) throw std::runtime_error("failed to write status stream");
}

void LiveReporter::finish(const diag::LiveTotals& totals, std::uint64_t recent_largest_iterations) {
    stop();
    report(totals, std::max(interval_peak_, recent_largest_iterations), true);
    throw_if_failed();
}

void LiveReporter::throw_if_failed() const {
    if (write_failed_) throw std::runtime_error("failed to write status stream");
}

void LiveReporter::run() {
    std::unique_lock lock(mutex_);
    Clock::time_point due = started_ + interval_;
    while (!wake_.wait_until(lock, due, [this] { return stopping_; })) {
        const diag::LiveTotals totals = latest_;
        const std::uint64_t peak = std::exchange(interval_peak_, 0);
        lock.unlock();
        report(totals, peak, false);
        lock.lock();
        // A line that came late does not bunch the next ones up.
        due = std::max(due + interval_, Clock::now());
    }
}

void LiveReporter::report(diag::LiveTotals totals, std::uint64_t interval_peak, bool final) {
    totals.elapsed_s = std::chrono::duration<double>(Clock::now() - started_).count();
    diag::LiveTotals interval = diag::live_difference(totals, reported_);
    interval.largest_ldpc_iterations = interval_peak;
    reported_ = totals;
    const auto warnings = diag::live_warnings(totals, warning_inputs_);
    if (targets_.status != nullptr) {
        const std::string line = diag::format_status_line(totals, interval, rate_, warnings, final) + '\n';
        const bool written = std::fwrite(line.data(), 1, line.size(), targets_.status) == line.size() &&
                             std::fflush(targets_.status) == 0;
        if (!written) {
            std::lock_guard lock(mutex_);
            write_failed_ = true;
        }
    }
    if (targets_.progress != nullptr) draw_progress(totals, interval, warnings, final);
}

// Redraws the line in place; a new warning goes on a line of its own above it. The progress
// line is a courtesy on a terminal: failing to draw it is not an error of the run.
void LiveReporter::draw_progress(const diag::LiveTotals& totals, const diag::LiveTotals& interval,
                                 const std::vector<std::string>& warnings, bool final) {
    std::string text;
    for (const auto& warning : warnings) {
        if (!warned_.insert(warning).second) continue;
        text += '\r' + std::string(progress_width_, ' ') + "\rqarel_ldpc_bch_decode: warning: " + warning + '\n';
        progress_width_ = 0;
    }
    std::string line = diag::format_progress_line(totals, final ? totals : interval, rate_);
    const std::size_t width = line.size();
    if (width < progress_width_) line.append(progress_width_ - width, ' ');
    progress_width_ = width;
    text += '\r' + line;
    if (final) text += '\n';
    std::fputs(text.c_str(), targets_.progress);
    std::fflush(targets_.progress);
}

}  // namespace qarel::cli
