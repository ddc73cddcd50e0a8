#pragma once
// What the optical marker reader and writer need from a marker file: a header, a name list
// and one frame of (x, y, z, occlusion) records after another. Occlusion 1 means unseen.

#include <string>
#include <vector>

#include "foundation/KTime.h"
#include "foundation/KVector4.h"

using KMarkerFrame = std::vector<KVector4>;

struct KMarkerFileInfo {
    int markerCount = 0;
    KTime start;
    // The frames before the first, counted from 0 at time 0: the start at the file's rate.
    double firstFrame = 0.0;
    int frameCount = 0;
    double frameRate = 0.0;
    double scale = 1.0;
    // The largest magnitude of a seen coordinate (cm), for a file that scales to its data
    // (ScalesToData); infinite when one is no file number.
    double largest = 0.0;
    // A header value the file holds that was not taken as given, said as a warning line.
    std::string note;
};

class KMarkerFileInterface {
public:
    virtual ~KMarkerFileInterface() = default;

    // 0 when open, non-zero on failure.
    virtual int Open(const char* path, const char* mode) = 0;
    // 0 when the stream closed, 1 when it failed or none was open.
    virtual int Close() = 0;
    // Closes a file being written without putting it in place: the old file stays.
    virtual void Discard() = 0;

    virtual bool GetInfo(KMarkerFileInfo& info) = 0;
    virtual bool GetMarkerNames(std::vector<std::string>& names, bool keepPrefixes) = 0;
    virtual bool ReadFrame(KMarkerFrame& frame, int markerCount, KTime& time, int& counter,
                           KTime period, bool zeroIsOccluded) = 0;
    virtual bool EndRead() { return true; }
    // The system's error number once a read of the file failed, 0 while none did.
    virtual int GetReadError() const { return 0; }
    // Where reading stands, for messages ("line 12", "byte 1024"); empty when unknown.
    virtual std::string GetLocation() const { return std::string(); }

    virtual bool WriteHeader(const KMarkerFileInfo& info) = 0;
    virtual bool WriteMarkerNames(const std::vector<std::string>& names) = 0;
    virtual bool WriteFrame(const KMarkerFrame& records, KTime time, int frameNumber) = 0;
    // Completes the file and checks that every byte reached the disk.
    virtual bool EndWrite() = 0;
    // True when WriteHeader wants KMarkerFileInfo::largest: the writer then looks over every
    // frame before it writes one.
    virtual bool ScalesToData() const { return false; }
    // Why the last write failed, when the file refused the data rather than the disk failing.
    virtual const char* GetWriteRefusal() const { return nullptr; }
    // True when a write failed on a number no reader takes back (KIsFileNumber).
    virtual bool IsNumberRefused() const = 0;
};
