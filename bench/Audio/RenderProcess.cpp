// Our edit render as a process of its own, the way the peer's command runs: the desktop program's
// renderer, and nothing else, rendering one edit of a file into another (the file flushed and
// renamed into place as the program leaves it). With --start-only it starts and ends.

#include "VellumtideBridge/Sources/Audio/BridgeSampleRenderer.h"
#include "bench/Audio/RenderEdits.h"

#include <cstdio>
#include <cstring>
#include <exception>

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--start-only") == 0)
        return 0;
    const bool trim = argc == 4 && std::strcmp(argv[1], "--trimmed") == 0;
    if (!trim && !(argc == 4 && std::strcmp(argv[1], "--denoised") == 0)) {
        std::fprintf(stderr, "usage: %s --trimmed|--denoised INPUT OUTPUT | --start-only\n", argv[0]);
        return 2;
    }
    try {
        BridgeSampleRenderer::renderSynchronously(argv[2], argv[3], trim ? trimEdit() : denoiseEdit());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
