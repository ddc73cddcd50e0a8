#include "platform/KPlatformStdio.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/KPlatformFile.h"
#include "platform/KPlatformFileParts.h"

// One watch on an open file's writes. The system gives one descriptor per watched file, which
// all watches of that file share; every watch counts the writes seen after it was taken.
class KPlatformWriteWatch {
public:
    explicit KPlatformWriteWatch(int descriptor) : mDescriptor(descriptor) {}
    ~KPlatformWriteWatch();
    KPlatformWriteWatch(const KPlatformWriteWatch&) = delete;
    KPlatformWriteWatch& operator=(const KPlatformWriteWatch&) = delete;
    static std::shared_ptr<KPlatformWriteWatch> Take(int file);
    bool Written() const;

private:
    static void DrainLocked();
    static void ForkChild();
    int mDescriptor;  // -1: a watch of the parent of a forked process
    uint64_t mWrites = 0;
};

namespace {

// The process's one notification queue, opened at the first watch (-1 when the system has
// none) and kept for the life of the process; the watches alive, with their counts.
std::mutex gWatchMutex;
int gNotify = -2;
std::vector<KPlatformWriteWatch*> gWatches;

constexpr uint32_t kWrites = IN_MODIFY | IN_CLOSE_WRITE;

}  // namespace

// A forked child shares its parent's queue: events it read would be lost to the parent. The
// child opens a queue of its own at its next watch; the watches it inherits can no longer
// tell, and count as written (as a stamp without a watch does).
void KPlatformWriteWatch::ForkChild() {
    if (gNotify >= 0) close(gNotify);
    gNotify = -2;
    for (KPlatformWriteWatch* watch : gWatches) {
        watch->mDescriptor = -1;
        ++watch->mWrites;
    }
    gWatches.clear();
    gWatchMutex.unlock();
}

void KPlatformWriteWatch::DrainLocked() {
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t got = read(gNotify, buffer, sizeof buffer);
        if (got <= 0) return;
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= got;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            at += ssize_t(sizeof event + event.len);
            // Events lost to a full queue may have been writes to any file watched.
            const bool lost = (event.mask & IN_Q_OVERFLOW) != 0;
            for (KPlatformWriteWatch* watch : gWatches)
                if (lost || (watch->mDescriptor == event.wd && (event.mask & kWrites)))
                    ++watch->mWrites;
        }
    }
}

std::shared_ptr<KPlatformWriteWatch> KPlatformWriteWatch::Take(int file) {
    std::lock_guard<std::mutex> lock(gWatchMutex);
    // The queue held across a fork, so that the child finds it whole and can let it go.
    static const bool handled =
        pthread_atfork([] { gWatchMutex.lock(); }, [] { gWatchMutex.unlock(); }, &ForkChild) == 0;
    if (!handled) return nullptr;
    if (gNotify == -2) gNotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (gNotify < 0) return nullptr;
    // Events of the file queued before now belong to the watches before this one.
    DrainLocked();
    // The open file itself, even when its name is gone or names another file by now.
    char path[32] = "/proc/self/fd/";
    char digits[12];
    int count = 0;
    for (unsigned rest = unsigned(file); count == 0 || rest != 0; rest /= 10)
        digits[count++] = char('0' + rest % 10);
    size_t at = std::strlen(path);
    while (count > 0) path[at++] = digits[--count];
    path[at] = '\0';
    const int descriptor = inotify_add_watch(gNotify, path, kWrites);
    if (descriptor < 0) return nullptr;
    try {
        gWatches.reserve(gWatches.size() + 1);  // the push below cannot fail then
        auto watch = std::make_shared<KPlatformWriteWatch>(descriptor);
        gWatches.push_back(watch.get());
        return watch;
    } catch (const std::bad_alloc&) {
        // Without memory for a watch the stamp goes without one, as where the system has none.
        for (const KPlatformWriteWatch* other : gWatches)
            if (other->mDescriptor == descriptor) return nullptr;
        inotify_rm_watch(gNotify, descriptor);
        return nullptr;
    }
}

KPlatformWriteWatch::~KPlatformWriteWatch() {
    std::lock_guard<std::mutex> lock(gWatchMutex);
    const auto self = std::find(gWatches.begin(), gWatches.end(), this);
    if (self != gWatches.end()) gWatches.erase(self);
    if (mDescriptor < 0) return;  // its queue is the parent's
    for (const KPlatformWriteWatch* other : gWatches)
        if (other->mDescriptor == mDescriptor) return;
    inotify_rm_watch(gNotify, mDescriptor);
}

bool KPlatformWriteWatch::Written() const {
    std::lock_guard<std::mutex> lock(gWatchMutex);
    DrainLocked();
    return mWrites != 0;
}

bool KPlatformFileStamp::StillMatches(const KPlatformFileStamp& now) const {
    if (now.size != size || now.modifiedSeconds != modifiedSeconds ||
        now.modifiedNanoseconds != modifiedNanoseconds)
        return false;
    if (now.links == links)
        return now.changedSeconds == changedSeconds && now.changedNanoseconds == changedNanoseconds;
    // A link made or removed changes the record's time as well: only a write tells.
    return !watch || !watch->Written();
}

void KPlatformHoldClosedStandardStreams() {
    for (int stream = 0; stream <= 2; ++stream) {
        if (fcntl(stream, F_GETFD) >= 0 || errno != EBADF) continue;
        const int held = open("/dev/null", stream == 0 ? O_WRONLY : O_RDONLY);
        // The lowest free number is the closed stream's own.
        if (held >= 0 && held != stream) close(held);
    }
}

int KPlatformCloseStandardOutput() {
    errno = 0;
    // A write that failed before is tried again, and tells why it fails.
    int error = std::fflush(stdout) != 0 ? errno : 0;
    if (error == 0 && std::ferror(stdout)) error = errno != 0 ? errno : EIO;
    errno = 0;
    if (std::fclose(stdout) != 0 && error == 0) error = errno != 0 ? errno : EIO;
    return error;
}

size_t KPlatformReadStream(FILE* file, void* buffer, size_t count, int& error) {
    size_t got = 0;
    error = 0;
    if (count > 0 && KPlatformFileParts::Injected(KPlatformFileCall::eRead)) {
        error = errno;
        return 0;
    }
    for (;;) {
        errno = 0;
        got += std::fread(static_cast<char*>(buffer) + got, 1, count - got, file);
        if (got == count || !std::ferror(file)) return got;
        if (errno != EINTR && errno != EAGAIN) break;
        std::clearerr(file);
    }
    error = errno ? errno : EIO;
    return got;
}

int KPlatformTruncate(FILE* file, int64_t size) {
    if (!file || size < 0) return -1;
    if (std::fflush(file) != 0) return -1;
    return ftruncate(fileno(file), static_cast<off_t>(size)) == 0 ? 0 : -1;
}

bool KPlatformIsDirectoryStream(FILE* file) {
    struct stat st;
    return file && fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode);
}

bool KPlatformIsSpecialStream(FILE* file) {
    struct stat st;
    return file && fstat(fileno(file), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

bool KPlatformIsSeekableStream(FILE* file) {
    return file && lseek(fileno(file), 0, SEEK_CUR) >= 0;
}

bool KPlatformGetDescriptorStamp(int descriptor, KPlatformFileStamp& stamp) {
    if (descriptor < 0) return false;
    // Taken before the figures: a write is in them or seen by the watch.
    std::shared_ptr<KPlatformWriteWatch> watch = KPlatformWriteWatch::Take(descriptor);
    struct stat st;
    if (fstat(descriptor, &st) != 0) return false;
    stamp.size = int64_t(st.st_size);
    stamp.modifiedSeconds = int64_t(st.st_mtim.tv_sec);
    stamp.modifiedNanoseconds = long(st.st_mtim.tv_nsec);
    stamp.changedSeconds = int64_t(st.st_ctim.tv_sec);
    stamp.changedNanoseconds = long(st.st_ctim.tv_nsec);
    stamp.links = uint64_t(st.st_nlink);
    stamp.watch = std::move(watch);
    return true;
}

bool KPlatformGetFileStamp(FILE* file, KPlatformFileStamp& stamp) {
    return file && KPlatformGetDescriptorStamp(fileno(file), stamp);
}
