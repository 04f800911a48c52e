// The process-wide object lock: any address can be locked; a second locker of
// the same address waits (sleeping ever longer) until it is unlocked. Not
// re-entrant. Serialises log lines, vectors and the store's shared objects.
#pragma once

// Creates the process-wide mutex that guards the list of locked addresses.
// Returns false when the mutex cannot be created.
bool InitMutex();
// Closes that mutex; afterwards locking is ineffective (a no-op).
void CloseMutex();

void LockObject(const void* address);
void UnlockObject(const void* address);
