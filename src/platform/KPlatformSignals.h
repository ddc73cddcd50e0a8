#pragma once
// Files that a process ended by a signal must not leave behind: the hidden new files of
// writes in progress (KPlatformReplaceFile), the files made new beside them. Their names are
// made ready beforehand, so the signal handler does nothing but check and remove them: a
// name removed still holds the file kept (its number, and its size and times once settled),
// never one another program put there since.

// Keeps a name for removal on an ending signal, for the regular file open as `fd` (-1: the
// file the name holds now, which the caller holds open); the slot to forget it by, -1 when it
// cannot be kept (too long, not a regular file, more than 65,000 at once, or no memory for
// it): such a file is then left as a killed process leaves it. With `mode` (not 0) the file is
// one kept without permissions: left (its name no longer holds it, or it has another name) it
// gets `mode` through `fd`, which must stay open until the name is forgotten.
int KPlatformKeepForSignals(const char* path, int fd = -1, unsigned mode = 0);
// Makes the folder `path` (as KPlatformMakeDirectory), kept for removal on an ending signal
// once the files kept are gone, while it is empty and still the folder made; `slot` is -1 when
// it cannot be kept. False, with errno set, when the folder is not made.
bool KPlatformMakeFolderForSignals(const char* path, int& slot);
// The kept file open as `fd` is written: from now on it is removed only while its size and
// times are as they are now, since its number may go to the next file once it is closed.
void KPlatformSettleForSignals(int slot, int fd);
// Forgets a kept name; nothing for -1.
void KPlatformForgetForSignals(int slot);

// From now on SIGINT, SIGTERM, SIGHUP and SIGPIPE remove the files kept and then end the process as
// the signal would have without a handler. A signal that was ignored stays ignored. For programs;
// the library itself leaves signals alone.
void KPlatformRemoveKeptFilesOnSignals();

// From now on a write past the process's file-size limit fails with an error (EFBIG), as one
// on a full disk does, instead of SIGXFSZ ending the process with its new file left behind.
// For programs, as above.
void KPlatformFailWritesPastFileSizeLimit();

// Holds SIGINT, SIGTERM, SIGHUP and SIGPIPE back from the calling thread for the life of a scope,
// so a file and the name kept for it come and go together.
class KPlatformSignalsHeld {
public:
    KPlatformSignalsHeld();
    ~KPlatformSignalsHeld();
    KPlatformSignalsHeld(const KPlatformSignalsHeld&) = delete;
    KPlatformSignalsHeld& operator=(const KPlatformSignalsHeld&) = delete;

private:
    unsigned char mSaved[256];  // the thread's signal mask before
    bool mHeld = false;
};
