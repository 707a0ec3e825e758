// Any bytes as an alist file: the reader and the graph checks either build a valid graph or
// end with one of their own messages.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>

#include "decoder/ldpc/alist.hpp"
#include "decoder/ldpc/hard_h_graph.hpp"

namespace {

bool starts_with(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qarel::ldpc;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    try {
        const AlistRows alist = parse_alist_rows(in, "fuzz.alist");
        const LdpcGraph graph = build_ldpc_graph(alist.rows, alist.variable_count);
        validate_ldpc_graph(graph);
        if (graph.variable_count != alist.variable_count || graph.check_count() != alist.rows.row_count()) std::abort();
        if (alist.variable_count == fec_profile_for_rate(3).variable_count()) {
            const LdpcGraph hard_h = build_hard_h_graph(alist, fec_profile_for_rate(3));
            validate_ldpc_graph(hard_h);
        }
    } catch (const std::runtime_error& error) {
        const std::string message = error.what();
        if (!starts_with(message, "failed to read alist header: ") &&
            !starts_with(message, "failed to read complete alist: ") && message != "alist check variable is out of range" &&
            message != "no clean Appendix-B rows for this profile")
            std::abort();
    } catch (const std::invalid_argument& error) {
        if (std::string(error.what()) != "LDPC graph must have variables") std::abort();
    }
    return 0;
}
