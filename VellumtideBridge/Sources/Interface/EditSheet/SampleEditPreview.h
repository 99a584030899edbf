#pragma once
// The edit sheet's preview: renders the working edit with the program's renderer into a
// temporary WAV file outside the library (or takes the raw file for an edit that changes
// nothing), plays it once through the sheet's own player, reports the played time every 40 ms,
// and deletes the temporary file when the player reports its end or a failure, or the preview
// is stopped.

#include "Platform/Async/CancellationToken.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <QObject>
#include <filesystem>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

class SampleEditPreview : public QObject {
    Q_OBJECT

public:
    SampleEditPreview(BridgeViewModel& model, SampleItem sample, QObject* parent = nullptr);
    // Stops a running preview and deletes its file.
    ~SampleEditPreview() override;

    // Plays the edit (sanitised for the sample's duration as it stands now). Failures go to the
    // controller's errorMessage.
    QCoro::Task<> playEditPreview(BridgeSampleEdit edit);
    void stopEditPreview(bool removeFile);

    bool isPreviewRendering() const { return rendering; }
    bool isPreviewPlaying() const { return playing; }
    double editPreviewTime() const { return time; }
    double editPreviewDuration() const { return duration; }
    double editPreviewProgress() const { return progress; }
    const std::optional<std::filesystem::path>& editPreviewURL() const { return previewFile; }

    // "VellumtideBridge/EditPreviews" in the user's temporary folder.
    static std::filesystem::path previewFolder(const vt::Paths& paths);
    // A new file in the preview folder (created when missing), named after the sample and a new
    // UUID. Throws std::filesystem::filesystem_error.
    std::filesystem::path temporaryPreviewURL() const;

    static constexpr std::chrono::milliseconds progressInterval{40};

signals:
    // Any of the values above changed.
    void changed();

private:
    void fail(const std::string& description);
    void startEditPreviewLoop();
    QCoro::Task<> runEditPreviewLoop(vt::CancellationToken token);
    void updateProgress();

    BridgeViewModel& model;
    SampleItem sample;
    bool rendering = false;
    bool playing = false;
    double time = 0;
    double duration = 0;
    double progress = 0;
    std::unique_ptr<vt::AudioPlayer> player;
    std::optional<vt::CancellationToken> loopTask;
    std::optional<std::filesystem::path> previewFile;
};
