#pragma once
// The keys of a binary file's long curves decoded by a thread of their own while the read is
// still on the sections before them (the mesh of a scene, say), the last list first.
// KFCurveRetrieve takes a curve's keys over when it reaches them, else decodes them itself as
// usual: a list the thread has not begun yet, one of another layout or with a key out of
// order, or one whose count or version the read finds otherwise. Either way the curve ends up
// the same.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "animation/KFCurve.h"
#include "fieldfile/KQovFieldFile.h"
#include "platform/KPlatformSystem.h"

class KFCurveKeysAhead : public KQovFieldReadAhead {
public:
    KFCurveKeysAhead();
    // Stops the thread; keys no curve took are freed.
    ~KFCurveKeysAhead() override;

    // Lists from this many keys on are decoded ahead. For tests and fuzzing; the old value.
    static int SetFrom(int keys);
    // With `wait`, a read waits for the thread to reach each list rather than decoding one
    // it has not begun itself: what it takes is then known. For tests; the old value.
    static bool SetWaitForThread(bool wait);
    // Lists curves took over in this process (for tests and diagnostics).
    static long GetTakenTotal();

    // Adds the key lists of the channels inside `block` of `file`'s tree (a take's) and of the
    // blocks inside it. Binary files in this host's byte order only; the others add nothing.
    void Add(KQovFieldFile& file, int32_t block);
    // Starts the thread on what was added; nothing when nothing was.
    void Start();
    // Joins the thread once it has ended, nothing while it runs: a process forked later (from
    // a progress report of the read, say) inherits no thread left unjoined.
    void JoinIfDone();
    size_t GetListCount() const { return mJobs.size(); }

    // The ahead work of `file`, null without any.
    static KFCurveKeysAhead* Of(KQovFieldFile& file) {
        return dynamic_cast<KFCurveKeysAhead*>(file.GetReadAhead());
    }
    // For KFCurveRetrieve, on the "Key" field of a curve of `n` keys in layout `version`,
    // its cursor at the first value: the keys decoded ahead moved into `curve`, which must
    // have none, and the field's cursor moved over what they took. Sleeps while the thread is
    // on that list; false, with nothing changed, when it was not decoded ahead as asked.
    bool Take(KQovFieldFile& file, int version, int n, KFCurve& curve);

private:
    enum State { kWaiting, kDecoding, kDecoded, kFailed, kTaken };
    struct Job {
        const uint8_t* bytes = nullptr;  // the list's stored bytes: its identity
        size_t size = 0;
        uint32_t values = 0;
        int version = 0;
        int n = 0;
        bool mapped = false;  // the bytes are a mapping of the file
        uint32_t taken = 0;   // values and bytes the keys took
        size_t takenBytes = 0;
        KFCurveKeyBlocks<KFCurveKey> keys;
        std::atomic<int> state{kWaiting};
    };
    void Run();
    static bool Decode(Job& job);

    std::vector<std::unique_ptr<Job>> mJobs;  // in file order
    std::atomic<bool> mStop{false};
    std::atomic<bool> mRunDone{false};  // Run has returned
    KPlatformWaitPoint mDone;  // woken as each list is done with
    KPlatformThread mThread;
};
