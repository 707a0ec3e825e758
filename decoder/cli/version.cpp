#include "decoder/cli/version.hpp"

#include <stdexcept>

#include "decoder/ldpc/codeword_decoder.hpp"

namespace qarel::cli {

std::string decoder_version_text() {
    std::string text = std::string("qarel_ldpc_bch_decode ") + QAREL_VERSION + "\nbuild: " + QAREL_BUILD_TYPE +
                       "\nldpc kernels:";
    for (const ldpc::LdpcKernel kernel : ldpc::available_ldpc_kernels()) text += ' ' + std::string(ldpc::ldpc_kernel_name(kernel));
    text += "\nldpc kernel in use: ";
    try {
        text += std::string(ldpc::ldpc_kernel_name(ldpc::selected_ldpc_kernel()));
    } catch (const std::runtime_error& error) {
        text += std::string("none (") + error.what() + ")";
    }
    return text + '\n';
}

}  // namespace qarel::cli
