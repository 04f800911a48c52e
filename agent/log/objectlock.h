// The process-wide object lock: any address can be locked; a second locker of
// the same address waits (sleeping ever longer) until it is unlocked. Not
// re-entrant. Serialises log lines, vectors and the store's shared objects.
#pragma once

// Creates the process-wide mutex that guards the list of locked addresses,
// unless one exists: a mutex in use is never replaced. True when there is one
// afterwards; *created (when given) tells whether this call made it, so that
// whoever made it is the one to close it. False when it cannot be created.
bool InitMutex(bool* created = nullptr);
// Closes that mutex; afterwards locking is ineffective (a no-op).
void CloseMutex();

void LockObject(const void* address);
void UnlockObject(const void* address);
