#include "VellumtideAU/Window/VellumtidePadKitController.h"

#include <QPointer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

double clampOrLower(double value, double lower, double upper) {
    if (std::isnan(value))
        return lower;
    return std::clamp(value, lower, upper);
}

} // namespace

VellumtidePadKitController::VellumtidePadKitController(
    std::shared_ptr<VellumtideAudioUnitReference> audioUnitReference,
    std::shared_ptr<vt::SettingsStore> settings, std::unique_ptr<RefreshTimer> unitCheckTimer,
    QObject* parent)
    : QObject(parent), reference(std::move(audioUnitReference)), settings(std::move(settings)),
      unitCheckTimer(unitCheckTimer ? std::move(unitCheckTimer) : makeQtRefreshTimer()),
      kit(storedKit(*this->settings)) {
    keepUnitPadsOrApply();
}

VellumtidePadKitController::~VellumtidePadKitController() {
    unitCheckTimer->stop();
}

VellumtidePadKitState VellumtidePadKitController::storedKit(const vt::SettingsStore& settings) {
    auto stored = settings.value(QString::fromLatin1(settingsKey));
    if (!stored)
        return VellumtidePadKitState::empty;
    QByteArray bytes = stored->toByteArray();
    try {
        return VellumtidePadKitState::fromJsonText(std::string_view(bytes.constData(), bytes.size()))
            .normalized();
    } catch (const std::exception&) {
        return VellumtidePadKitState::empty;
    }
}

void VellumtidePadKitController::setState(VellumtidePadKitState state) {
    kit = std::move(state);
    emit stateChanged();
}

void VellumtidePadKitController::setSelectedSlot(std::int64_t slot) {
    selected = slot;
    emit selectedSlotChanged();
}

void VellumtidePadKitController::persist() {
    std::string text;
    try {
        text = kit.normalized().toJsonText();
    } catch (const std::exception&) {
        return; // the previous stored kit stays
    }
    settings->setValue(QString::fromLatin1(settingsKey), QByteArray::fromStdString(text));
}

void VellumtidePadKitController::applyToUnit() {
    auto before = reference->kitStamp();
    reference->apply(kit);
    auto after = reference->kitStamp();
    // Exactly one installation in between is ours. After more (a restore crossed this one), the
    // next reconciliation takes whatever the unit ended up with.
    if (before && after && after->unit == before->unit && after->generation == before->generation + 1)
        seenUnitKit = after;
}

void VellumtidePadKitController::adopt(VellumtidePadKitState unitKit) {
    if (unitKit == kit)
        return;
    setState(std::move(unitKit));
    persist();
}

bool VellumtidePadKitController::reconcileWithUnit() {
    auto stamp = reference->kitStamp();
    if (!stamp || stamp == seenUnitKit)
        return false;
    if (stamp->generation == 0) { // a unit that has never had a kit
        applyToUnit();
        return false;
    }
    auto live = reference->currentState();
    if (!live)
        return false;
    seenUnitKit = stamp;
    adopt(live->normalized());
    return true;
}

void VellumtidePadKitController::reconcileOnShow() {
    if (!reconcileWithUnit())
        keepUnitPadsOrApply();
}

// A unit that holds other pads (the host restored its document before the window was built or
// shown) keeps them, and they become the window's; an empty or equal one gets the window's kit.
void VellumtidePadKitController::keepUnitPadsOrApply() {
    auto stamp = reference->kitStamp();
    auto live = reference->currentState();
    VellumtidePadKitState unitKit = live ? live->normalized() : VellumtidePadKitState::empty;
    if (unitKit == kit || unitKit.assignments.empty()) {
        applyToUnit();
        return;
    }
    seenUnitKit = stamp;
    adopt(std::move(unitKit));
}

void VellumtidePadKitController::startWatchingUnit() {
    QPointer<VellumtidePadKitController> self(this);
    unitCheckTimer->start(unitCheckInterval, [self] {
        if (self)
            self->reconcileWithUnit();
    });
}

void VellumtidePadKitController::stopWatchingUnit() {
    unitCheckTimer->stop();
}

bool VellumtidePadKitController::isWatchingUnit() const {
    return unitCheckTimer->isActive();
}

void VellumtidePadKitController::load(const VellumtidePluginSample& sample) {
    reconcileWithUnit();
    if (!sample.isAvailable)
        return;
    VellumtidePadAssignment assignment(vt::Uuid::random(), selected, sample.title,
                                       VellumtidePadAssignment::SourceKind::sample, sample.id, std::nullopt,
                                       sample.audioURL.string(), sample.duration, sample.peaks);
    carryPadTuning(assignment);
    setAssignment(std::move(assignment), true);
}

void VellumtidePadKitController::load(const VellumtidePluginChop& chop,
                                      const VellumtidePluginSample& sample) {
    reconcileWithUnit();
    if (!chop.isAvailable)
        return;
    VellumtidePadAssignment assignment(vt::Uuid::random(), selected, chopPadTitle(chop, sample),
                                       VellumtidePadAssignment::SourceKind::chop, chop.id, sample.id,
                                       chop.audioURL.string(), chop.duration, chopPeaks(chop, sample));
    carryPadTuning(assignment);
    setAssignment(std::move(assignment), true);
}

void VellumtidePadKitController::carryPadTuning(VellumtidePadAssignment& assignment) const {
    if (auto current = kit.assignment(selected)) {
        assignment.volume = current->volume;
        assignment.pitchSemitones = current->pitchSemitones;
    }
}

void VellumtidePadKitController::setAssignment(std::optional<VellumtidePadAssignment> assignment,
                                               bool advance) {
    reconcileWithUnit();
    setState(kit.replacing(selected, std::move(assignment)));
    persist();
    applyToUnit();
    if (advance)
        setSelectedSlot((selected + 1) % VellumtidePadKitState::slotCount);
}

void VellumtidePadKitController::setVolume(double volume, std::int64_t slot) {
    reconcileWithUnit();
    auto assignment = kit.assignment(slot);
    if (!assignment)
        return;
    assignment->volume = static_cast<float>(clampOrLower(volume, 0.0, 1.5));
    storeTunedAssignment(std::move(*assignment));
}

void VellumtidePadKitController::setPitch(double pitchSemitones, std::int64_t slot) {
    reconcileWithUnit();
    auto assignment = kit.assignment(slot);
    if (!assignment)
        return;
    assignment->pitchSemitones = clampOrLower(pitchSemitones, -24.0, 24.0);
    storeTunedAssignment(std::move(*assignment));
}

// The tuned assignment goes back onto its own pad. (Storing it on the selected pad instead
// would copy it over another pad's sound whenever the two differ.)
void VellumtidePadKitController::storeTunedAssignment(VellumtidePadAssignment assignment) {
    std::int64_t slot = assignment.slot;
    setState(kit.replacing(slot, std::move(assignment)));
    persist();
    applyToUnit();
}

std::string VellumtidePadKitController::chopPadTitle(const VellumtidePluginChop& chop,
                                                     const VellumtidePluginSample& sample) {
    char number[32];
    if (chop.index == std::numeric_limits<std::int64_t>::max())
        std::snprintf(number, sizeof number, "%llu", static_cast<unsigned long long>(chop.index) + 1);
    else
        std::snprintf(number, sizeof number, "%02lld", static_cast<long long>(chop.index + 1));
    return sample.title + " " + number;
}

std::vector<float> VellumtidePadKitController::chopPeaks(const VellumtidePluginChop& chop,
                                                         const VellumtidePluginSample& sample) {
    const std::vector<float>& peaks = sample.peaks;
    const std::size_t n = peaks.size();
    const double duration = sample.originalDuration;
    if (n == 0 || !(duration > 0))
        return peaks;
    double start = chop.startTime / duration;
    start = std::isnan(start) ? 0.0 : std::clamp(start, 0.0, 1.0);
    double end = chop.endTime / duration;
    end = std::isnan(end) ? start + 0.0001 : std::max(end, start + 0.0001);
    end = std::min(end, 1.0);
    const std::size_t count = n < 54 ? 18 : (n < 192 ? n / 3 : 64);
    const double span = static_cast<double>(std::max<std::size_t>(n - 1, 1));
    std::vector<float> result;
    result.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        double position = (start + (end - start) * double(i) / double(count - 1)) * span;
        double floor = std::clamp(std::floor(position), 0.0, double(n - 1));
        auto k = static_cast<std::size_t>(floor);
        std::size_t k2 = std::min(k + 1, n - 1);
        auto fraction = static_cast<float>(position - double(k));
        result.push_back(peaks[k] + (peaks[k2] - peaks[k]) * fraction);
    }
    return result;
}
