#pragma once
// AAC-in-MP4 (.m4a) files for tests, made with FFmpeg's native AAC encoder. Kept apart from the
// other fixtures so that a program using only those links none of FFmpeg's libraries.

#include "Tests/Support/Audio/AudioFixtures.h"

namespace vt::test {

// Writes an .m4a file at 160 kbit/s (creating its folder).
void writeM4a(const std::filesystem::path& path, int sampleRate, const Channels& channels);

} // namespace vt::test
