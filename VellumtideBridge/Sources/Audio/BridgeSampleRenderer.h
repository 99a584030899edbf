#pragma once
// Rendering a non-destructive edit of a sample into a self-contained 32-bit float WAV file
// (trim, optional denoise, optional normalise, linear fades), and automatic chop detection.
// Stateless: the work functions are synchronous (and need no Qt); render and detectChops run them
// on the normal-priority background pool and are awaited from the main thread (callers include
// <qcoro/qcorotask.h>).

#include "Platform/Audio/AudioFile.h"
#include "VellumtideBridge/Sources/Library/BridgeModels.h"

#include <cstdint>
#include <filesystem>
#include <qcoro/qcorofwd.h>
#include <stdexcept>
#include <vector>

struct BridgeSampleRenderer {
    BridgeSampleRenderer() = delete;

    // The renderer's own failures; what() is the user-facing description.
    class RenderError : public std::runtime_error {
    public:
        enum class Code { unsupportedLength = 0, unreadableAudio = 1 };
        explicit RenderError(Code code);
        Code code() const { return errorCode; }
        bool operator==(const RenderError& other) const { return errorCode == other.errorCode; }

    private:
        Code errorCode;
    };

    // The largest selection a buffer may hold, in frames.
    static constexpr std::int64_t maximumFrames = 4'294'967'295LL;

    // Renders edit (sanitised for the source's length) of inputPath into outputPath, replacing
    // what is there. The output holds a whole file or is left as it was. Throws RenderError,
    // vt::AudioFileError, vt::WavWriterError or std::filesystem::filesystem_error.
    static void renderSynchronously(const std::filesystem::path& inputPath,
                                    const std::filesystem::path& outputPath, const BridgeSampleEdit& edit);
    // The same render with the whole selection held in memory, as the denoise step needs it.
    static void renderHeldSynchronously(const std::filesystem::path& inputPath,
                                        const std::filesystem::path& outputPath,
                                        const BridgeSampleEdit& edit);
    static QCoro::Task<void> render(std::filesystem::path inputPath, std::filesystem::path outputPath,
                                    BridgeSampleEdit edit);

    // The gain stage, in place: linear fades of the given lengths in seconds, optional
    // normalisation to a peak of 0.98, and the clamp to −1…1.
    static void applyGain(vt::AudioData& buffer, double fadeIn, double fadeOut, bool normalize);

    // Chops of the file at its transients, from its first audible moment to its end; empty when
    // it yields none. Reads the file in blocks. Throws vt::AudioFileError or RenderError.
    static std::vector<BridgeSampleChop> detectChopsSynchronously(const std::filesystem::path& inputPath,
                                                                  double sensitivity);
    static QCoro::Task<std::vector<BridgeSampleChop>> detectChops(std::filesystem::path inputPath,
                                                                  double sensitivity);

    // Onsets picked on a level envelope (one value per hop, 0…1), made into chops that tile the
    // sample. Pure apart from the chops' new UUIDs.
    static std::vector<BridgeSampleChop> makeChops(const std::vector<float>& envelope, double duration,
                                                   double hopDuration, double sensitivity);
};
