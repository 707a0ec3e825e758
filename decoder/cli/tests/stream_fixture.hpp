#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "tools/testgen/channel.hpp"

namespace qarel::cli::test {

// How to make a test stream: a generated transport stream of `frames` FEC frames, encoded
// at `rate`, sent through `channel` and impaired by the generator's impairment texts.
struct StreamRecipe {
    std::uint64_t rate = 3;
    std::uint64_t frames = 3;
    std::uint64_t qam = 0;
    bool qam32_lead_in = false;
    testgen::ChannelSettings channel;
    std::vector<std::string> impairments;
};

StreamRecipe recipe_of(std::uint64_t rate, std::uint64_t frames, std::vector<std::string> impairments = {});

struct Stream {
    std::string ts;
    std::string llrs;
    std::uint64_t frame_bytes = 0;
};

// The transmit chain of the test-signal generator, in-process: a generated transport stream
// (or `ts` when given), encoded, sent through the channel and impaired.
Stream make_stream(const StreamRecipe& recipe, std::vector<std::uint8_t> ts = {});

struct Decoded {
    int status = -1;
    std::string output;
    std::string provenance;
    std::string err;
    std::map<std::string, std::string> summary;

    std::string value(const std::string& key) const;
};

// Runs the real decoder program on the stream with the generated code of `rate`, writing a
// provenance file, and reads back the output, the provenance and the summary.
Decoded decode(const Stream& stream, std::uint64_t rate, const std::vector<std::string>& extra);

// The key=value lines of a run's standard error.
std::map<std::string, std::string> summary_of(const std::string& err);

// The source bytes of the given 1-based frames, in the order given.
std::string frames_of(const Stream& stream, std::initializer_list<std::uint64_t> frames);

// Every summary line but the timings and the two settings that must not change the output.
std::string comparable_summary(const Decoded& d);

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more);

// Decodes the stream with `options` under every pairing of the worker counts and batch sizes
// and expects the same exit status, output, provenance and summary counts from each; returns
// the first run.
Decoded expect_independent_of_workers_and_batches(const Stream& stream, std::uint64_t rate,
                                                  const std::vector<std::string>& options,
                                                  const std::vector<std::string>& worker_counts,
                                                  const std::vector<std::string>& batch_sizes);

}  // namespace qarel::cli::test
