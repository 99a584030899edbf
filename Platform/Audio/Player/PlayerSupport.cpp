#include "Platform/Audio/Player/PlayerSupport.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <pulse/sample.h>

namespace vt::player {
namespace {
// Longest preview decoded into memory: 30 minutes at 192 kHz.
constexpr size_t maximumFrames = size_t(192000) * 60 * 30;
constexpr const char* unplayableFormatText = "The audio file has a format that cannot be played.";
} // namespace

AudioData decodeForPlayback(const std::filesystem::path& file) {
    AudioData data;
    try {
        data = readAudioFile(file, maximumFrames);
    } catch (const std::exception& failure) {
        throw AudioPlayerError(failure.what());
    }
    checkPlayable(data.sampleRate, data.channels);
    return data;
}

void checkPlayable(double sampleRate, const std::vector<std::vector<float>>& channels) {
    if (channels.empty() || channels.size() > PA_CHANNELS_MAX || !(sampleRate >= 1) ||
        sampleRate > PA_RATE_MAX)
        throw AudioPlayerError(unplayableFormatText);
    for (const auto& channel : channels)
        if (channel.size() != channels.front().size())
            throw AudioPlayerError(unplayableFormatText);
}

void Handlers::setFinish(AudioPlayer::FinishHandler handler) {
    std::lock_guard lock(mutex);
    finish = std::move(handler);
}

void Handlers::setError(AudioPlayer::ErrorHandler handler) {
    std::lock_guard lock(mutex);
    error = std::move(handler);
}

void Handlers::deliverFinish(bool successfully) {
    deliver(&Handlers::finish, successfully);
}

void Handlers::deliverError(std::string description) {
    deliver(&Handlers::error, std::move(description));
}

template <typename Handler, typename... Arguments>
void Handlers::deliver(Handler Handlers::*member, Arguments... arguments) {
    auto* app = QCoreApplication::instance();
    if (!app)
        return;
    std::weak_ptr<Handlers> weak = weak_from_this();
    const std::uint64_t queuedIn = generation.load();
    QMetaObject::invokeMethod(
        app,
        [weak, queuedIn, member, ... arguments = std::move(arguments)] {
            auto strong = weak.lock();
            if (!strong || strong->generation.load() != queuedIn)
                return;
            Handler handler;
            {
                std::lock_guard lock(strong->mutex);
                handler = (*strong).*member;
            }
            if (handler)
                handler(arguments...);
        },
        Qt::QueuedConnection);
}

} // namespace vt::player
