#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "decoder/ldpc/ldpc_graph.hpp"

namespace qarel::ldpc {

// The parts of an alist file the decoder uses: the variable count and each check row's
// 0-based variable indices, in file order.
struct AlistRows {
    std::uint64_t variable_count = 0;
    CheckRows rows;
};

// Reads an alist file; throws std::runtime_error with the reader's messages.
AlistRows read_alist_rows(const std::string& path);

// Same as read_alist_rows over an already open stream; path only names the file in messages.
AlistRows parse_alist_rows(std::istream& in, const std::string& path);

// The full parity-check graph of an alist file.
LdpcGraph load_alist_graph(const std::string& path);

}  // namespace qarel::ldpc
