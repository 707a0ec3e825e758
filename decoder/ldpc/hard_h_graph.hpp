#pragma once

#include <cstdint>
#include <string>

#include "decoder/ldpc/alist.hpp"
#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/ldpc/ldpc_graph.hpp"

namespace qarel::ldpc {

// The graph of the check rows that avoid the erased parity variables, re-indexed to the
// transmitted bits, so its syndrome can be taken on hard decisions of the input alone.
LdpcGraph build_hard_h_graph(const AlistRows& alist, const FecProfile& profile);

// Reads the alist, checks its size against the rate's profile and builds the hard-H graph.
LdpcGraph load_hard_h_graph(const std::string& alist_path, std::uint64_t rate);

}  // namespace qarel::ldpc
