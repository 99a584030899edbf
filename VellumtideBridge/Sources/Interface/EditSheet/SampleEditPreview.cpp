#include "VellumtideBridge/Sources/Interface/EditSheet/SampleEditPreview.h"

#include "Platform/Async/Sleep.h"
#include "Platform/Async/Spawn.h"
#include "Platform/Core/AtomicFile.h"
#include "VellumtideBridge/Sources/Controller/ScopeExit.h"

#include <QPointer>
#include <algorithm>
#include <cmath>

namespace {
constexpr const char* unreadableSampleText = "The sample audio could not be read.";
constexpr const char* unplayableText = "The edit preview could not be played.";
} // namespace

SampleEditPreview::SampleEditPreview(BridgeViewModel& model, SampleItem sample, QObject* parent)
    : QObject(parent), model(model), sample(std::move(sample)) {}

SampleEditPreview::~SampleEditPreview() {
    blockSignals(true);
    stopEditPreview(true);
}

std::filesystem::path SampleEditPreview::previewFolder(const vt::Paths& paths) {
    return paths.temp / "VellumtideBridge" / "EditPreviews";
}

std::filesystem::path SampleEditPreview::temporaryPreviewURL() const {
    const std::filesystem::path folder = previewFolder(model.dependencies().paths);
    std::filesystem::create_directories(folder);
    return folder / (sample.id.string() + "-" + vt::Uuid::random().string() + ".wav");
}

void SampleEditPreview::fail(const std::string& description) {
    model.setErrorMessage(description);
}

QCoro::Task<> SampleEditPreview::playEditPreview(BridgeSampleEdit workingEdit) {
    stopEditPreview(true);
    model.stopPreview();
    rendering = true;
    emit changed();
    QPointer<SampleEditPreview> self(this);
    ScopeExit done([self] {
        if (!self)
            return;
        self->rendering = false;
        emit self->changed();
    });

    // The edit as it stands now; later changes of the working edit do not reach this preview.
    const BridgeSampleEdit edit = workingEdit.sanitized(sample.duration);
    std::filesystem::path source = model.rawSampleURL(sample);
    if (edit.isActive(sample.duration)) {
        std::filesystem::path output;
        try {
            output = temporaryPreviewURL();
        } catch (const std::exception& error) {
            fail(error.what());
            co_return;
        }
        std::optional<std::string> failure;
        try {
            if (source.empty())
                throw std::runtime_error(unreadableSampleText);
            co_await model.dependencies().audio.render(source, output, edit);
        } catch (const std::exception& error) {
            failure = error.what();
        } catch (...) {
            failure = unreadableSampleText;
        }
        if (!self) {
            // The sheet closed while rendering: nothing will play or delete this file.
            vt::removeRegularFile(output);
            co_return;
        }
        if (failure) {
            fail(*failure);
            co_return;
        }
        previewFile = output;
        source = output;
    }

    std::unique_ptr<vt::AudioPlayer> opened;
    try {
        if (source.empty())
            throw vt::AudioPlayerError(unreadableSampleText);
        opened = model.dependencies().audioPlayers->open(source);
    } catch (const std::exception& error) {
        fail(error.what());
        co_return;
    }
    // The player's own notices end the preview: its time reads 0 again once it has ended, so the
    // played time cannot tell the end.
    opened->setFinishHandler([self](bool) {
        if (self)
            self->stopEditPreview(true);
    });
    opened->setErrorHandler([self](const std::string& description) {
        if (!self)
            return;
        self->stopEditPreview(true);
        self->fail(description);
    });
    opened->prepareToPlay();
    if (!opened->play()) {
        fail(unplayableText);
        co_return;
    }
    player = std::move(opened);
    const double reported = player->duration();
    duration = reported > 0.001 ? reported : 0.001;
    time = 0;
    progress = 0;
    playing = true;
    startEditPreviewLoop();
}

void SampleEditPreview::stopEditPreview(bool removeFile) {
    if (loopTask) {
        loopTask->cancel();
        loopTask.reset();
    }
    if (player) {
        player->setFinishHandler(nullptr);
        player->setErrorHandler(nullptr);
        player->stop();
        player.reset();
    }
    playing = false;
    time = 0;
    duration = 0;
    progress = 0;
    if (removeFile && previewFile) {
        vt::removeRegularFile(*previewFile);
        previewFile.reset();
    }
    emit changed();
}

void SampleEditPreview::startEditPreviewLoop() {
    if (loopTask)
        loopTask->cancel();
    const vt::CancellationToken token;
    loopTask = token;
    QPointer<SampleEditPreview> self(this);
    vt::spawn([self, token]() -> QCoro::Task<> {
        if (self)
            co_await self->runEditPreviewLoop(token);
    });
}

QCoro::Task<> SampleEditPreview::runEditPreviewLoop(vt::CancellationToken token) {
    QPointer<SampleEditPreview> self(this);
    const std::shared_ptr<vt::Scheduler> scheduler = model.dependencies().scheduler;
    while (self && !token.isCancelled()) {
        if (!player) {
            stopEditPreview(false);
            co_return;
        }
        updateProgress();
        co_await vt::sleepFor(*scheduler, progressInterval, token);
    }
}

// Between the player's end and its notice the time reads 0: the last shown time stays.
void SampleEditPreview::updateProgress() {
    if (!player->isPlaying())
        return;
    const double reported = player->duration();
    const double length = reported > 0.001 ? reported : 0.001;
    const double current = player->currentTime();
    time = std::isnan(current) ? 0.0 : std::clamp(current, 0.0, length);
    duration = length;
    progress = std::clamp(time / length, 0.0, 1.0);
    emit changed();
}
