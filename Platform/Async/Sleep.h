#pragma once
// A sleep on a scheduler that a cancellation token cuts short. It resumes on a later turn of the
// loop, never inside cancel() itself, so the canceller's code runs to its end first.

#include "Platform/Async/CancellationToken.h"
#include "Platform/Async/Scheduler.h"

#include <qcoro/qcorotask.h>

namespace vt {

// True when the whole delay elapsed; false when the token was (or becomes) cancelled first.
QCoro::Task<bool> sleepFor(Scheduler& scheduler, Nanoseconds delay,
                           CancellationToken token = CancellationToken());

// Suspends until the next loop turn of the scheduler (a zero-delay timer).
QCoro::Task<> nextTurn(Scheduler& scheduler);

} // namespace vt
