#include "Platform/Async/CancellationToken.h"

#include <map>
#include <mutex>
#include <vector>

namespace vt {

struct CancellationToken::State {
    std::mutex mutex;
    bool cancelled = false;
    Registration nextRegistration = 1;
    std::map<Registration, Callback> callbacks;
};

CancellationToken::CancellationToken() : state(std::make_shared<State>()) {}

void CancellationToken::cancel() const {
    std::map<Registration, Callback> toRun;
    {
        std::lock_guard lock(state->mutex);
        if (state->cancelled)
            return;
        state->cancelled = true;
        toRun.swap(state->callbacks);
    }
    for (auto& [registration, callback] : toRun)
        callback();
}

bool CancellationToken::isCancelled() const {
    std::lock_guard lock(state->mutex);
    return state->cancelled;
}

CancellationToken::Registration CancellationToken::onCancel(Callback callback) const {
    {
        std::lock_guard lock(state->mutex);
        if (!state->cancelled) {
            const Registration registration = state->nextRegistration++;
            state->callbacks.emplace(registration, std::move(callback));
            return registration;
        }
    }
    callback();
    return 0;
}

void CancellationToken::removeCallback(Registration registration) const {
    std::lock_guard lock(state->mutex);
    state->callbacks.erase(registration);
}

} // namespace vt
