#pragma once
// SIGTERM, SIGINT and SIGHUP as a request to quit: the signal handler only writes a byte into a
// pipe, and the Qt event loop reads it and quits, so the program leaves through its own quit path
// (whatever it does after its loop ends still runs) and exits with status 0.

namespace vt {

// Catches the three signals from now on. Call it first thing in main, before any thread starts;
// a signal caught before the event loop runs waits for it.
void catchQuitSignals();

// Once the application object exists: the first caught signal (also one caught before this call)
// quits the event loop; later ones change nothing, so a second signal cannot cut short what the
// program still does after its loop ended. Nothing happens unless catchQuitSignals() was called.
void quitEventLoopOnCaughtSignals();

} // namespace vt
