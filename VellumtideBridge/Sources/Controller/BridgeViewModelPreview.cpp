// The preview player: one sample or one chop at a time, a 40 ms progress timer, and the file
// resolvers the views use.

#include "Platform/Async/Spawn.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <QPointer>
#include <algorithm>
#include <cmath>

namespace {
constexpr auto previewTick = std::chrono::milliseconds(40);

bool fileExists(const std::filesystem::path& file) {
    std::error_code error;
    return !file.empty() && std::filesystem::exists(file, error);
}
} // namespace

struct BridgeViewModel::PreviewTarget {
    std::optional<vt::Uuid> sampleID;
    std::optional<vt::Uuid> chopID;
    double fallbackDuration = 0;
    std::string title;
    const char* unplayableText = "";
};

std::filesystem::path BridgeViewModel::sampleURL(const SampleItem& sample) const {
    if (sample.edit.isActive(sample.duration) && cache->hasEditedSample(sample))
        return cache->editedSampleURL(sample);
    // A sample whose file name is not one safe path component has no local file.
    return cache->sampleURL(sample).value_or(std::filesystem::path());
}

std::filesystem::path BridgeViewModel::rawSampleURL(const SampleItem& sample) const {
    const SampleItem* owner = librarySample(sample.id);
    return cache->sampleURL(owner ? *owner : sample).value_or(std::filesystem::path());
}

std::filesystem::path BridgeViewModel::chopURL(const SampleItem& sample, const BridgeSampleChop& chop) const {
    return cache->chopSampleURL(sample, chop);
}

void BridgeViewModel::togglePreview(const SampleItem& sample) {
    if (playingSampleID_ == sample.id)
        stopPreview(true);
    else
        playPreview(sample);
}

void BridgeViewModel::toggleChopPreview(const SampleItem& sample, const BridgeSampleChop& chop) {
    if (playingChopID_ == chop.id)
        stopPreview(true);
    else
        playChopPreview(sample, chop);
}

void BridgeViewModel::togglePreviewLooping() {
    setIsPreviewLooping(!isPreviewLooping_);
}

void BridgeViewModel::playPreview(const SampleItem& sample) {
    stopPreview(false);
    std::filesystem::path file = sampleURL(sample);
    if (!fileExists(file)) {
        setStatusMessage("Preview unavailable");
        setErrorMessage("The audio file is not in the cache yet. Sync the iPhone again, then preview it.");
        return;
    }
    startPlayer(file, PreviewTarget{sample.id, std::nullopt, sample.duration, sample.title,
                                    "The sample could not be played."});
}

void BridgeViewModel::playChopPreview(const SampleItem& sample, const BridgeSampleChop& chop) {
    stopPreview(false);
    std::filesystem::path file = chopURL(sample, chop);
    if (!fileExists(file)) {
        setStatusMessage("Chop preview unavailable");
        setErrorMessage("That chop file is missing. Run Auto Chop again, then preview it.");
        return;
    }
    startPlayer(file, PreviewTarget{std::nullopt, chop.id, std::max(0.0, chop.duration()),
                                    chop.displayTitle(), "The chop could not be played."});
}

void BridgeViewModel::startPlayer(const std::filesystem::path& file, const PreviewTarget& target) {
    std::unique_ptr<vt::AudioPlayer> player;
    try {
        player = deps.audioPlayers->open(file);
    } catch (const std::exception& error) {
        reportFailure("Preview failed", error.what());
        return;
    }
    const std::uint64_t generation = previewGeneration;
    QPointer<BridgeViewModel> self(this);
    player->setFinishHandler([self, generation](bool) {
        if (self)
            self->audioPlayerDidFinishPlaying(generation);
    });
    player->setErrorHandler([self, generation](const std::string& description) {
        if (self)
            self->audioPlayerDecodeErrorDidOccur(generation, description);
    });
    double level = std::isnan(previewLevel_) ? 0.0 : std::clamp(previewLevel_, 0.0, 1.0);
    player->setVolume(static_cast<float>(level));
    player->setNumberOfLoops(isPreviewLooping_ ? -1 : 0);
    player->prepareToPlay();
    if (!player->play()) {
        player->setFinishHandler(nullptr);
        player->setErrorHandler(nullptr);
        reportFailure("Preview failed", target.unplayableText);
        return;
    }
    double reported = player->duration();
    previewPlayer = std::move(player);
    setPlayingSampleID(target.sampleID);
    setPlayingChopID(target.chopID);
    setPreviewCurrentTime(0);
    setPreviewDuration(reported > 0 ? reported : target.fallbackDuration);
    setPreviewProgress(0);
    setStatusMessage("Previewing " + target.title);
    startPreviewTimer();
}

void BridgeViewModel::stopPreview(bool resetStatus) {
    cancelPreviewTimer();
    ++previewGeneration;
    if (previewPlayer) {
        previewPlayer->setFinishHandler(nullptr);
        previewPlayer->setErrorHandler(nullptr);
        previewPlayer->stop();
        previewPlayer.reset();
    }
    setPlayingSampleID(std::nullopt);
    setPlayingChopID(std::nullopt);
    setPreviewCurrentTime(0);
    setPreviewDuration(0);
    setPreviewProgress(0);
    if (!resetStatus || isSyncing_)
        return;
    if (isWatchModeEnabled_)
        setStatusMessage(watchIdleStatus());
    else
        setStatusMessage(devices_.empty() ? "Searching for Vellumtide" : "Ready");
}

void BridgeViewModel::cancelPreviewTimer() {
    if (previewTimer) {
        deps.scheduler->cancel(*previewTimer);
        previewTimer.reset();
    }
}

void BridgeViewModel::startPreviewTimer() {
    cancelPreviewTimer();
    schedulePreviewTick();
}

// A repeating timer: each tick schedules the next, then hops onto the main loop to update.
void BridgeViewModel::schedulePreviewTick() {
    QPointer<BridgeViewModel> self(this);
    previewTimer = deps.scheduler->schedule(previewTick, [self] {
        if (!self)
            return;
        self->schedulePreviewTick();
        vt::spawn([self]() -> QCoro::Task<> {
            if (self)
                self->updatePreviewProgress();
            co_return;
        });
    });
}

void BridgeViewModel::updatePreviewProgress() {
    if (!previewPlayer || (!playingSampleID_ && !playingChopID_)) {
        stopPreview(false);
        return;
    }
    double duration = previewPlayer->duration();
    if (!(duration > 0.001))
        duration = 0.001;
    double time = std::min(previewPlayer->currentTime(), duration);
    setPreviewCurrentTime(time);
    setPreviewDuration(duration);
    double progress = time / duration;
    setPreviewProgress(std::isnan(progress) ? 0.0 : std::clamp(progress, 0.0, 1.0));
    if (!previewPlayer->isPlaying() && (time >= duration - 0.04 || time <= 0.02))
        stopPreview(true);
}

void BridgeViewModel::audioPlayerDidFinishPlaying(std::uint64_t generation) {
    if (previewPlayer && generation == previewGeneration)
        stopPreview(true);
}

void BridgeViewModel::audioPlayerDecodeErrorDidOccur(std::uint64_t generation,
                                                     const std::string& description) {
    if (previewPlayer && generation == previewGeneration)
        stopPreview(true);
    setErrorMessage(description);
}
