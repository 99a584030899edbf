#include "VellumtideBridge/Sources/Audio/BridgeSampleAnalyzer.h"

#include "Platform/Async/Background.h"
#include "Platform/Audio/AudioFile.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numeric>
#include <optional>

const std::array<const char*, 12> BridgeSampleAnalyzer::noteNames = {"C",  "C#", "D",  "D#", "E",  "F",
                                                                     "F#", "G",  "G#", "A",  "A#", "B"};
// Krumhansl–Kessler probe-tone profiles, tonic first.
const std::array<double, 12> BridgeSampleAnalyzer::majorProfile = {6.35, 2.23, 3.48, 2.33, 4.38, 4.09,
                                                                   2.52, 5.19, 2.39, 3.66, 2.29, 2.88};
const std::array<double, 12> BridgeSampleAnalyzer::minorProfile = {6.33, 2.68, 3.52, 5.38, 2.60, 3.53,
                                                                   2.54, 4.75, 3.98, 2.69, 3.34, 3.17};

namespace {

constexpr double analysedSeconds = 90;
constexpr double targetRate = 12000;

double squareSum(const float* x, std::size_t count) {
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += static_cast<double>(x[i]) * static_cast<double>(x[i]);
    return sum;
}

// Normalised autocorrelation of a frame at lag, in double; 0 when either part is silent.
double lagCorrelation(const std::vector<float>& y, std::size_t lag) {
    const std::size_t count = y.size() - lag;
    double product = 0, early = 0, late = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double a = y[i], b = y[i + lag];
        product += a * b;
        early += a * a;
        late += b * b;
    }
    if (early == 0 || late == 0)
        return 0;
    return product / std::sqrt(early * late);
}

struct PitchedFrame {
    double frequency;
    double confidence;
};

// The period of one frame from its autocorrelation. The largest correlation often sits at a
// multiple of the period (every whole number of periods correlates almost perfectly), so the
// first peak whose correlation comes within 0.03 of the largest is taken, and its lag refined
// between its neighbours by a parabola.
std::optional<PitchedFrame> framePitch(const std::vector<float>& y, double rate, std::size_t minimumLag,
                                       std::size_t upperLag) {
    std::vector<double> r(upperLag + 2, 0.0);
    for (std::size_t lag = minimumLag; lag <= upperLag; ++lag)
        r[lag] = lagCorrelation(y, lag);
    std::size_t bestLag = 0;
    double best = 0;
    for (std::size_t lag = minimumLag; lag <= upperLag; ++lag) {
        if (r[lag] > best) {
            best = r[lag];
            bestLag = lag;
        }
    }
    if (bestLag < 1)
        return std::nullopt;
    std::size_t chosen = bestLag;
    for (std::size_t lag = minimumLag + 1; lag < upperLag && lag < bestLag; ++lag) {
        if (r[lag] > r[lag - 1] && r[lag] >= r[lag + 1] && r[lag] >= best - 0.03) {
            chosen = lag;
            break;
        }
    }
    // The gates and the confidence are those of the best correlation.
    if (!(best > 0.38))
        return std::nullopt;
    const double confidence = std::min(best, 0.99);
    if (confidence < 0.48)
        return std::nullopt;
    double refined = static_cast<double>(chosen);
    if (chosen > minimumLag && chosen < upperLag) {
        const double before = r[chosen - 1], peak = r[chosen], after = r[chosen + 1];
        const double curvature = before - 2 * peak + after;
        if (curvature < 0)
            refined += std::clamp(0.5 * (before - after) / curvature, -0.5, 0.5);
    }
    return PitchedFrame{rate / refined, confidence};
}

// The onset curve of a signal: the rise of the RMS level from each whole frame to the next,
// scaled to a peak of 1. Empty when there are fewer than 17 frames, no rise, or too little energy.
std::vector<double> onsetCurve(const std::vector<float>& samples, std::size_t frame) {
    std::vector<double> energy;
    for (std::size_t start = 0; start + frame <= samples.size(); start += frame)
        energy.push_back(std::sqrt(squareSum(samples.data() + start, frame) / static_cast<double>(frame)));
    if (energy.size() < 17)
        return {};
    std::vector<double> onset(energy.size(), 0.0);
    for (std::size_t i = 1; i < energy.size(); ++i)
        onset[i] = std::max(energy[i] - energy[i - 1], 0.0);
    const double peak = *std::max_element(onset.begin(), onset.end());
    if (!(peak > 0.00001))
        return {};
    double power = 0;
    for (double& value : onset) {
        value /= peak;
        power += value * value;
    }
    if (!(power > 0.04))
        return {};
    return onset;
}

// Normalised correlations of an onset curve with itself at whole lags, each computed once.
class OnsetCorrelations {
public:
    explicit OnsetCorrelations(const std::vector<double>& onset)
        : onset(onset), scores(onset.size() / 2), scored(onset.size() / 2, false) {}

    // Lags from 2 up to, not including, half the curve's length can be scored.
    bool isScorable(std::size_t lag) const { return lag >= 2 && lag < scores.size(); }

    // The correlation at lag, or nothing when either part of the curve is silent.
    std::optional<double> at(std::size_t lag) {
        if (!isScorable(lag))
            return std::nullopt;
        if (!scored[lag]) {
            scores[lag] = compute(lag);
            scored[lag] = true;
        }
        return scores[lag];
    }

    // How strongly the curve repeats after about lag frames: a period between two whole lags
    // splits its correlation between them, so the better neighbour is added.
    double periodicity(std::size_t lag) {
        const double neighbour = std::max({at(lag - 1).value_or(0.0), at(lag + 1).value_or(0.0), 0.0});
        return at(lag).value_or(0.0) + neighbour;
    }

private:
    std::optional<double> compute(std::size_t lag) const {
        double product = 0, late = 0, early = 0;
        for (std::size_t i = lag; i < onset.size(); ++i) {
            product += onset[i] * onset[i - lag];
            late += onset[i] * onset[i];
            early += onset[i - lag] * onset[i - lag];
        }
        if (late == 0 || early == 0)
            return std::nullopt;
        return product / std::sqrt(late * early);
    }

    const std::vector<double>& onset;
    std::vector<std::optional<double>> scores;
    std::vector<bool> scored;
};

struct TempoSearch {
    std::size_t bestLag;
    double best;
    double second;
    std::vector<std::size_t> candidateLags;
};

// The lag of every whole tempo from 60 to 190 BPM. Neighbouring tempi often round to the same
// lag; each lag is scored once, slowest first, so the second best is a different lag and equal
// scores keep the slower tempo.
std::optional<TempoSearch> searchTempo(OnsetCorrelations& correlations, double frameSeconds) {
    std::optional<TempoSearch> search;
    std::vector<std::size_t> lags;
    for (int bpm = 60; bpm <= 190; ++bpm) {
        const auto lag = static_cast<std::size_t>(std::round((60.0 / bpm) / frameSeconds));
        if (!correlations.isScorable(lag) || std::find(lags.begin(), lags.end(), lag) != lags.end())
            continue;
        lags.push_back(lag);
        const std::optional<double> c = correlations.at(lag);
        if (!c)
            continue;
        if (!search) {
            search = TempoSearch{lag, *c, 0.0, {}};
        } else if (*c > search->best) {
            search->second = search->best;
            search->best = *c;
            search->bestLag = lag;
        } else if (*c > search->second) {
            search->second = *c;
        }
    }
    if (search)
        search->candidateLags = std::move(lags);
    return search;
}

// A beat every P frames correlates as well at 2P and 3P as at P, and a period that is not a whole
// number of frames correlates better at the multiple that lands nearer a whole lag, so the search
// often prefers half or a third of the true tempo. The faster tempo is taken when its lag (a third,
// else half, of the winning lag, rounded either way) repeats within 0.03 as strongly.
std::size_t fastestEquivalentLag(OnsetCorrelations& correlations, const TempoSearch& search) {
    const std::size_t lag = search.bestLag;
    const double required = correlations.periodicity(lag) - 0.03;
    for (const std::size_t divisor : {3u, 2u}) {
        std::optional<std::size_t> faster;
        for (const std::size_t candidate : {lag / divisor, (lag + divisor - 1) / divisor}) {
            const bool isTempo = std::find(search.candidateLags.begin(), search.candidateLags.end(),
                                           candidate) != search.candidateLags.end();
            if (isTempo && correlations.at(candidate) &&
                (!faster || *correlations.at(candidate) > *correlations.at(*faster)))
                faster = candidate;
        }
        if (faster && correlations.periodicity(*faster) >= required)
            return *faster;
    }
    return lag;
}

// The mean of all channels, channel by channel, over at most maximum frames.
std::vector<float> readMonoMix(vt::AudioFileReader& reader, std::size_t maximum) {
    const auto channels = static_cast<float>(std::max(reader.channelCount(), 1));
    std::vector<float> mono;
    if (const auto estimate = reader.estimatedFrameCount(); estimate && *estimate > 0)
        mono.reserve(std::min(static_cast<std::size_t>(*estimate), maximum));
    std::vector<std::vector<float>> block;
    while (mono.size() < maximum) {
        const std::size_t got = reader.read(block, std::min<std::size_t>(65536, maximum - mono.size()));
        if (got == 0)
            break;
        const std::size_t from = mono.size();
        mono.resize(from + got, 0.0f);
        for (const auto& channel : block) {
            for (std::size_t i = 0; i < got; ++i)
                mono[from + i] += channel[i] / channels;
        }
    }
    return mono;
}

int pitchClassOf(double frequency) {
    const double note = std::round(69 + 12 * std::log2(frequency / 440.0));
    const int pitch = static_cast<int>(std::fmod(note, 12.0));
    return pitch < 0 ? pitch + 12 : pitch;
}

} // namespace

BridgeSampleAnalyzer::MonoAudio BridgeSampleAnalyzer::loadMonoAudio(const std::filesystem::path& path,
                                                                    double maxDuration) {
    vt::AudioFileReader reader(path);
    MonoAudio audio;
    audio.sampleRate = std::max(reader.sampleRate(), 1.0);
    const double limit = std::floor(audio.sampleRate * maxDuration);
    if (!(limit >= 1))
        return audio;
    const auto maximum = static_cast<std::size_t>(std::min(limit, 4294967295.0));
    try {
        audio.samples = readMonoMix(reader, maximum);
    } catch (const std::bad_alloc&) {
        // A signal that cannot be held is analysed as empty, like a file without frames.
        audio.samples = {};
        return audio;
    }
    if (audio.samples.empty())
        return audio;
    const double total = std::accumulate(audio.samples.begin(), audio.samples.end(), 0.0);
    const auto mean = static_cast<float>(total / static_cast<double>(audio.samples.size()));
    if (std::fabs(mean) > 0.000001f) {
        for (float& sample : audio.samples)
            sample -= mean;
    }
    return audio;
}

BridgeSampleAnalyzer::MonoAudio BridgeSampleAnalyzer::decimate(MonoAudio audio) {
    const double factor = std::round(audio.sampleRate / targetRate);
    if (!(factor >= 2))
        return audio;
    const auto step = static_cast<std::size_t>(factor);
    const std::size_t count = audio.samples.size();
    std::vector<float> reduced;
    reduced.reserve(count / step + 1);
    for (std::size_t start = 0; start < count; start += step) {
        const std::size_t end = std::min(start + step, count);
        float sum = 0;
        for (std::size_t i = start; i < end; ++i)
            sum += audio.samples[i];
        reduced.push_back(sum / static_cast<float>(end - start));
    }
    audio.samples = std::move(reduced);
    audio.sampleRate /= factor;
    return audio;
}

std::optional<std::pair<double, double>> BridgeSampleAnalyzer::detectTempo(const std::vector<float>& samples,
                                                                           double rate) {
    const auto frame = static_cast<std::size_t>(std::max(std::floor(rate * 0.02), 96.0));
    if (frame * 8 > samples.size())
        return std::nullopt;
    std::vector<double> onset = onsetCurve(samples, frame);
    if (onset.empty())
        return std::nullopt;
    const double frameSeconds = static_cast<double>(frame) / rate;
    OnsetCorrelations correlations(onset);
    const std::optional<TempoSearch> search = searchTempo(correlations, frameSeconds);
    if (!search)
        return std::nullopt;
    const std::size_t lag = fastestEquivalentLag(correlations, *search);
    const double tempo =
        std::clamp(std::round(60.0 / (static_cast<double>(lag) * frameSeconds)), 60.0, 190.0);
    const auto peaks = std::count_if(onset.begin(), onset.end(), [](double v) { return v > 0.35; });
    const double density =
        static_cast<double>(peaks) / static_cast<double>(std::max<std::size_t>(onset.size(), 1)) * 8;
    const double densityFactor = std::clamp(density, 0.35, 1.0);
    const double best = search->best, second = search->second;
    const double confidence =
        std::min(std::max((0.78 * best + 0.75 * std::max(best - second, 0.0)) * densityFactor, 0.0), 0.99);
    if (confidence < 0.24)
        return std::nullopt;
    return std::make_pair(tempo, confidence);
}

BridgeSampleAnalyzer::TonalContent BridgeSampleAnalyzer::detectTonalContent(const std::vector<float>& samples,
                                                                            double rate) {
    const std::size_t count = samples.size();
    std::size_t frame = 0, hop = 0;
    if (count >= 1024) {
        const std::size_t base = std::min<std::size_t>(count, 4096);
        frame = base / 2;
        hop = base / 4;
    } else if (count >= 512) {
        frame = 512;
        hop = 256;
    } else {
        return {};
    }
    const double globalRms = std::sqrt(squareSum(samples.data(), count) / static_cast<double>(count));
    if (!(globalRms > 0.0004))
        return {};
    const double gate = std::max(0.18 * globalRms, 0.0006);
    const auto minimumLag = static_cast<std::size_t>(std::max(std::floor(rate / 1500), 2.0));
    const auto maximumLag = static_cast<std::size_t>(std::max(std::floor(rate / 55), 0.0));
    const std::size_t framesPerPass = (count - frame) / hop;
    const std::size_t stride = framesPerPass < 180 ? 1 : framesPerPass / 180;

    std::array<double, 12> chroma{};
    int voiced = 0;
    std::vector<float> y(frame);
    std::size_t number = 0;
    for (std::size_t start = 0; start + frame <= count; start += hop, ++number) {
        if (number % stride != 0)
            continue;
        const double rms = std::sqrt(squareSum(samples.data() + start, frame) / static_cast<double>(frame));
        if (!(rms > gate))
            continue;
        const std::size_t upperLag = std::min(maximumLag, frame / 2);
        if (!(minimumLag < upperLag))
            continue;
        float sum = 0;
        for (std::size_t i = 0; i < frame; ++i)
            sum += samples[start + i];
        const float mean = sum / static_cast<float>(frame);
        for (std::size_t i = 0; i < frame; ++i)
            y[i] = samples[start + i] - mean;
        if (!(squareSum(y.data(), frame) > 0.0000001))
            continue;
        const auto pitch = framePitch(y, rate, minimumLag, upperLag);
        if (!pitch)
            continue;
        chroma[static_cast<std::size_t>(pitchClassOf(pitch->frequency))] += rms * pitch->confidence;
        ++voiced;
    }
    const double total = std::accumulate(chroma.begin(), chroma.end(), 0.0);
    if (!(total > 0.0001) || voiced < 2)
        return {};

    std::array<int, 12> order{};
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return chroma[a] > chroma[b]; });
    const double top = chroma[order[0]];
    const double second = chroma[order[1]];
    const double margin = top > 0 ? 0.42 * std::max((top - second) / top, 0.0) : 0.0;
    const double rootConfidence = std::min(margin + 1.28 * top / total, 0.99);
    TonalContent content;
    if (rootConfidence >= 0.26)
        content.root = std::make_pair(std::string(noteNames[order[0]]), rootConfidence);
    const auto strong = std::count_if(chroma.begin(), chroma.end(), [&](double v) { return v > 0.2 * top; });
    if (voiced >= 6 && strong >= 3)
        content.key = detectKey(chroma);
    return content;
}

double BridgeSampleAnalyzer::correlation(const std::array<double, 12>& chroma,
                                         const std::array<double, 12>& profile, int root) {
    const double chromaMean = std::accumulate(chroma.begin(), chroma.end(), 0.0) / 12;
    const double profileMean = std::accumulate(profile.begin(), profile.end(), 0.0) / 12;
    double product = 0, chromaSquares = 0, profileSquares = 0;
    for (int i = 0; i < 12; ++i) {
        const double c = chroma[static_cast<std::size_t>(i)] - chromaMean;
        const double p = profile[static_cast<std::size_t>(((i - root) % 12 + 12) % 12)] - profileMean;
        product += c * p;
        chromaSquares += c * c;
        profileSquares += p * p;
    }
    if (chromaSquares == 0 || profileSquares == 0)
        return 0;
    return product / std::sqrt(chromaSquares * profileSquares);
}

BridgeSampleAnalyzer::Estimate BridgeSampleAnalyzer::detectKey(const std::array<double, 12>& chroma) {
    if (!(std::accumulate(chroma.begin(), chroma.end(), 0.0) > 0))
        return std::nullopt;
    std::vector<std::pair<std::string, double>> candidates;
    for (int root = 0; root < 12; ++root) {
        candidates.emplace_back(std::string(noteNames[root]) + " major",
                                correlation(chroma, majorProfile, root));
        candidates.emplace_back(std::string(noteNames[root]) + " minor",
                                correlation(chroma, minorProfile, root));
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    const double confidence =
        std::min(std::max((candidates[0].second - candidates[1].second) * 2.8, 0.0), 0.99);
    if (confidence < 0.28)
        return std::nullopt;
    return std::make_pair(candidates[0].first, confidence);
}

BridgeSampleAnalysis BridgeSampleAnalyzer::analyzeSynchronously(const std::filesystem::path& path,
                                                                const vt::WallClock& clock) {
    MonoAudio audio = loadMonoAudio(path, analysedSeconds);
    BridgeSampleAnalysis analysis;
    if (audio.samples.size() <= 128) {
        analysis.analyzedAt = clock.now();
        return analysis;
    }
    audio = decimate(std::move(audio));
    analysis.analyzedAt = clock.now();
    const double count = static_cast<double>(audio.samples.size());
    const double seconds = audio.sampleRate > 1 ? count / audio.sampleRate : count;
    if (seconds >= 2.5) {
        if (const auto tempo = detectTempo(audio.samples, audio.sampleRate)) {
            analysis.bpm = tempo->first;
            analysis.bpmConfidence = tempo->second;
        }
    }
    if (seconds >= 0.18) {
        const TonalContent tonal = detectTonalContent(audio.samples, audio.sampleRate);
        if (tonal.root) {
            analysis.rootNote = tonal.root->first;
            analysis.rootConfidence = tonal.root->second;
        }
        if (tonal.key) {
            analysis.musicalKey = tonal.key->first;
            analysis.keyConfidence = tonal.key->second;
        }
    }
    return analysis;
}

QCoro::Task<BridgeSampleAnalysis> BridgeSampleAnalyzer::analyze(std::filesystem::path path) {
    // Not a coroutine: the work's closure must not be built inside a co_await expression.
    return vt::runInBackground(vt::utilityPool(), [path = std::move(path)] {
        static const vt::SystemWallClock clock;
        return analyzeSynchronously(path, clock);
    });
}
