#include <iostream>
#include <string_view>

// The pipe buffer's copy engine is not part of this build yet; the program states its
// command line and refuses to run rather than pretending to copy.
int main(int argc, char** argv) {
    const std::string_view name = argc > 0 ? argv[0] : "qarel_pipe_buffer";
    std::cerr << "usage: " << name << " [--buffer-bytes N] [--chunk-bytes N] [--prefill-bytes N]"
              << " [--diagnostics-out path|-] [input|-] [output|-]\n";
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "-h" || argument == "--help") return 0;
    }
    return 2;
}
