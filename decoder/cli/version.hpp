#pragma once

#include <string>

namespace qarel::cli {

// What --version prints: the version, the build type, and the LDPC kernels this processor
// can run with the one a run would use.
std::string decoder_version_text();

}  // namespace qarel::cli
