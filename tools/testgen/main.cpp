// qarel_dtmb_testgen: makes test material for the decoder.
//   code    writes a DTMB-shaped quasi-cyclic LDPC code as an alist file;
//   stream  encodes a transport stream with a code and writes the channel's float32 LLRs.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "decoder/ldpc/alist.hpp"
#include "tools/testgen/dtmb_standard.hpp"
#include "tools/testgen/channel.hpp"
#include "tools/testgen/ldpc_encoder.hpp"
#include "tools/testgen/qc_code.hpp"
#include "tools/testgen/transmitter.hpp"
#include "tools/testgen/transport_stream.hpp"

namespace {

constexpr const char* kUsage =
    "usage: qarel_dtmb_testgen code --rate 1|2|3 [--seed N] [--message-column-weight N] [--out PATH]\n"
    "       qarel_dtmb_testgen stream --rate 1|2|3 --alist PATH [--ts PATH | --packets N | --frames N] [--pad]\n"
    "           [--codewords-per-frame N | --qam 16qam|32qam|64qam] [--qam32-phase 0|1]\n"
    "           [--channel noiseless|bpsk|qam] [--esn0-db X] [--llr-magnitude X] [--seed N]\n"
    "           [--impair erase|corrupt:all|plane=P|branches=A-B|bits=A-B[:FRAMES[:SLOTS]]]...\n"
    "           [--ts-out PATH] [--out PATH]\n";

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::uint64_t parse_count(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || *end != '\0') throw UsageError(option + " needs a whole number: " + text);
    return value;
}

double parse_real(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0') throw UsageError(option + " needs a number: " + text);
    return value;
}

// Walks "--option value" pairs and flags, calling `handle(option, value)` for each pair.
template <typename Handle>
void for_each_option(const std::vector<std::string>& args, const std::vector<std::string>& flags, Handle handle) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (std::find(flags.begin(), flags.end(), option) != flags.end()) {
            handle(option, std::string());
            continue;
        }
        if (i + 1 >= args.size()) throw UsageError(option + " needs a value");
        handle(option, args[++i]);
    }
}

// Writes to a file, or to standard output for "-"; every write and the close are checked.
class OutputFile {
public:
    explicit OutputFile(const std::string& path) : path_(path) {
        if (path_ == "-") return;
        file_.open(path_, std::ios::binary);
        if (!file_) throw std::runtime_error("failed to open output: " + path_);
    }
    std::ostream& stream() { return path_ == "-" ? std::cout : file_; }
    void write(const void* data, std::size_t size) {
        stream().write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!stream()) throw std::runtime_error("failed to write: " + path_);
    }
    void close() {
        if (path_ == "-") std::cout.flush();
        else file_.close();
        if (!stream()) throw std::runtime_error("failed to write: " + path_);
    }

private:
    std::string path_;
    std::ofstream file_;
};

void write_llrs(OutputFile& out, const std::vector<float>& llrs) {
    if constexpr (std::endian::native == std::endian::little) {
        out.write(llrs.data(), llrs.size() * sizeof(float));
    } else {
        std::vector<std::uint8_t> bytes;
        for (const float llr : llrs) {
            const auto bits = std::bit_cast<std::uint32_t>(llr);
            for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<std::uint8_t>(bits >> (8 * b)));
        }
        out.write(bytes.data(), bytes.size());
    }
}

std::vector<std::uint8_t> read_transport_stream(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("failed to open transport stream: " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int run_code(const std::vector<std::string>& args) {
    qarel::testgen::QcCodeOptions options;
    options.rate = 0;
    std::string out_path = "-";
    for_each_option(args, {}, [&](const std::string& option, const std::string& value) {
        if (option == "--rate") options.rate = parse_count(option, value);
        else if (option == "--seed") options.seed = parse_count(option, value);
        else if (option == "--message-column-weight") options.message_column_weight = parse_count(option, value);
        else if (option == "--out") out_path = value;
        else throw UsageError("unknown option: " + option);
    });
    if (options.rate == 0) throw UsageError("--rate is required");

    const auto base = qarel::testgen::generate_dtmb_like_code(options);
    OutputFile out(out_path);
    qarel::testgen::write_alist(out.stream(), qarel::testgen::expand_base_matrix(base), base.variable_count());
    out.close();
    return 0;
}

struct StreamOptions {
    std::uint64_t rate = 0;
    std::string alist;
    std::string ts_path;
    std::uint64_t packets = 0;
    std::uint64_t frames = 0;
    bool pad = false;
    std::uint64_t codewords_per_frame = 3;
    std::uint64_t qam = 0;
    std::uint64_t qam32_phase = 0;
    qarel::testgen::ChannelSettings channel;
    std::vector<qarel::testgen::Impairment> impairments;
    std::string ts_out;
    std::string out = "-";
};

StreamOptions parse_stream_options(const std::vector<std::string>& args) {
    StreamOptions o;
    std::string channel = "noiseless";
    for_each_option(args, {"--pad"}, [&](const std::string& option, const std::string& value) {
        if (option == "--rate") o.rate = parse_count(option, value);
        else if (option == "--alist") o.alist = value;
        else if (option == "--ts") o.ts_path = value;
        else if (option == "--packets") o.packets = parse_count(option, value);
        else if (option == "--frames") o.frames = parse_count(option, value);
        else if (option == "--pad") o.pad = true;
        else if (option == "--codewords-per-frame") o.codewords_per_frame = parse_count(option, value);
        else if (option == "--qam") {
            if (value != "16qam" && value != "32qam" && value != "64qam")
                throw UsageError("--qam must be 16qam, 32qam or 64qam");
            o.qam = parse_count(option, value.substr(0, 2));
        } else if (option == "--qam32-phase") o.qam32_phase = parse_count(option, value);
        else if (option == "--channel") channel = value;
        else if (option == "--esn0-db") o.channel.esn0_db = parse_real(option, value);
        else if (option == "--llr-magnitude") o.channel.llr_magnitude = static_cast<float>(parse_real(option, value));
        else if (option == "--seed") o.channel.seed = parse_count(option, value);
        else if (option == "--impair") o.impairments.push_back(qarel::testgen::parse_impairment(value));
        else if (option == "--ts-out") o.ts_out = value;
        else if (option == "--out") o.out = value;
        else throw UsageError("unknown option: " + option);
    });
    if (o.rate == 0 || o.alist.empty()) throw UsageError("--rate and --alist are required");
    if (int(!o.ts_path.empty()) + int(o.packets != 0) + int(o.frames != 0) > 1)
        throw UsageError("give only one of --ts, --packets and --frames");
    if (o.ts_path.empty() && o.packets == 0 && o.frames == 0) o.frames = 4;
    if (o.qam32_phase > 1 || (o.qam32_phase == 1 && o.qam != 32))
        throw UsageError("--qam32-phase must be 0 or 1, and 1 needs --qam 32qam");
    if (!(o.channel.llr_magnitude > 0.0f) || !std::isfinite(o.channel.llr_magnitude))
        throw UsageError("--llr-magnitude must be positive and finite");
    if (!std::isfinite(o.channel.esn0_db)) throw UsageError("--esn0-db must be finite");
    if (channel == "noiseless") o.channel.kind = qarel::testgen::ChannelKind::noiseless;
    else if (channel == "bpsk") o.channel.kind = qarel::testgen::ChannelKind::bpsk;
    else if (channel == "qam") o.channel.kind = qarel::testgen::ChannelKind::qam;
    else throw UsageError("--channel must be noiseless, bpsk or qam");
    if (o.channel.kind == qarel::testgen::ChannelKind::qam && o.qam == 0)
        throw UsageError("--channel qam needs --qam");
    o.channel.qam = o.qam;
    return o;
}

// The source stream, padded with null packets to whole frames when asked.
std::vector<std::uint8_t> source_stream(const StreamOptions& o, const qarel::testgen::FrameLayout& layout) {
    const std::uint64_t frame_bytes = layout.transport_bytes_per_frame();
    std::vector<std::uint8_t> ts;
    if (!o.ts_path.empty()) ts = read_transport_stream(o.ts_path);
    else ts = qarel::testgen::generate_transport_stream(
             o.frames != 0 ? o.frames * (frame_bytes / qarel::testgen::kTsPacketBytes) : o.packets, o.channel.seed);
    if (ts.size() % qarel::testgen::kTsPacketBytes != 0)
        throw std::runtime_error("transport stream length is not a whole number of 188-byte packets");
    if (ts.size() % frame_bytes != 0) {
        if (!o.pad)
            throw std::runtime_error("transport stream does not fill whole FEC frames of " +
                                     std::to_string(frame_bytes) + " bytes (use --pad to add null packets)");
        qarel::testgen::append_null_packets(ts, (frame_bytes - ts.size() % frame_bytes) / qarel::testgen::kTsPacketBytes);
    }
    return ts;
}

int run_stream(const std::vector<std::string>& args) {
    const StreamOptions o = parse_stream_options(args);
    const qarel::testgen::DtmbCode& code = qarel::testgen::dtmb_code(o.rate);
    const qarel::ldpc::LdpcGraph graph = qarel::ldpc::load_alist_graph(o.alist);
    if (graph.variable_count != code.full_length())
        throw std::runtime_error("alist variable count does not match the FEC rate");
    const qarel::testgen::LdpcEncoder encoder(graph, code.parity_bits());
    const auto layout = qarel::testgen::frame_layout(o.rate, o.qam, o.codewords_per_frame);
    const std::vector<std::uint8_t> ts = source_stream(o, layout);
    const std::uint64_t frame_bytes = layout.transport_bytes_per_frame();

    qarel::testgen::Channel channel(o.channel);
    OutputFile out(o.out);
    std::uint64_t flipped = 0;
    std::uint64_t lead_in_llrs = 0;
    if (o.qam32_phase == 1) {
        // The second signal frame of a group whose first half was not received.
        std::vector<std::uint8_t> nulls;
        qarel::testgen::append_null_packets(nulls, frame_bytes / qarel::testgen::kTsPacketBytes);
        const auto bits = qarel::testgen::encode_frame(nulls, layout, encoder);
        const auto llrs = channel.transmit(bits);
        const std::vector<float> half(llrs.begin() + llrs.size() / 2, llrs.end());
        flipped += qarel::testgen::count_flipped_bits(std::span(bits).subspan(bits.size() / 2), half);
        lead_in_llrs = half.size();
        write_llrs(out, half);
    }
    const std::uint64_t frames = ts.size() / frame_bytes;
    for (std::uint64_t f = 0; f < frames; ++f) {
        const auto bits = qarel::testgen::encode_frame(std::span(ts).subspan(f * frame_bytes, frame_bytes), layout, encoder);
        auto llrs = channel.transmit(bits);
        qarel::testgen::apply_impairments(llrs, f + 1, qarel::testgen::DtmbCode::kTransmitted, o.impairments);
        flipped += qarel::testgen::count_flipped_bits(bits, llrs);
        write_llrs(out, llrs);
    }
    out.close();
    if (!o.ts_out.empty()) {
        OutputFile ts_out(o.ts_out);
        ts_out.write(ts.data(), ts.size());
        ts_out.close();
    }
    std::cerr << "frames=" << frames << "\ncodewords=" << frames * layout.codewords_per_frame
              << "\ntransport_bytes=" << ts.size() << "\nlead_in_llrs=" << lead_in_llrs
              << "\nllrs=" << lead_in_llrs + frames * layout.transmitted_bits_per_frame()
              << "\nflipped_bits=" << flipped << '\n';
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    try {
        if (args.size() == 1 && args[0] == "--version") {
            std::cout << "qarel_dtmb_testgen " QAREL_VERSION "\nbuild: " QAREL_BUILD_TYPE "\n" << std::flush;
            return std::cout ? 0 : 1;
        }
        if (args.empty() || args[0] == "-h" || args[0] == "--help") {
            std::cerr << kUsage;
            return args.empty() ? 2 : 0;
        }
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (args[0] == "code") return run_code(rest);
        if (args[0] == "stream") return run_stream(rest);
        throw UsageError("unknown command: " + args[0]);
    } catch (const UsageError& error) {
        std::cerr << "qarel_dtmb_testgen: " << error.what() << '\n' << kUsage;
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "qarel_dtmb_testgen: " << error.what() << '\n';
        return 1;
    }
}
