#pragma once
// The SIGBUS the system raises for a page of a file mapping at `at` that it cannot give (a
// failing disk, or a page past the file's end), raised on this thread as the system would.

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

inline bool RaisePageFault(const void* at) {
    siginfo_t info = {};
    info.si_signo = SIGBUS;
    info.si_code = BUS_ADRERR;
    info.si_addr = const_cast<void*>(at);
    // The handler runs before the call returns: the signal is this thread's own.
    return syscall(SYS_rt_tgsigqueueinfo, getpid(), syscall(SYS_gettid), SIGBUS, &info) == 0;
}
