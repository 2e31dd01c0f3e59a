#pragma once
// Holding the phone's idle timer off while a firmware transfer runs, so the screen does not
// lock half-way. `idleTimerStop` saves the current setting and disables the idle timer;
// `idleTimerRestore` puts the saved setting back. The pair is not nested: a second stop
// before the restore saves the already disabled setting.
//
// Both may be called from any thread and return at once; the setting itself is the
// platform's (platform/foundation/IdleTimer.h), which passes it on to the main queue. The
// original waits for the main thread here; nothing is waited for instead, so a transfer
// started from a thread the main queue waits on cannot deadlock.

namespace kestra {

void idleTimerStop();
void idleTimerRestore();

}  // namespace kestra
