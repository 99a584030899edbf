#pragma once
// How the favourites filter capsule of both windows looks at a moment of its pulse: its
// outline's opacity and its glow's opacity and radius. Off, it rests; on, it breathes from a calm
// look (pulse 0) to a bright one (pulse 1) and back.

struct VellumtideFavoritesFilterLook {
    double strokeOpacity;
    double glowOpacity;
    double glowRadius;

    static VellumtideFavoritesFilterLook at(bool isOn, double pulse) {
        if (!isOn)
            return {0.22, 0, 0};
        auto mix = [pulse](double calm, double bright) { return calm + (bright - calm) * pulse; };
        return {mix(0.18, 0.58), mix(0.18, 0.52), mix(7, 15)};
    }
};
