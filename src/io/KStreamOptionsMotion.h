#pragma once
// Options of the motion-capture formats: the start time, the frame count and the frame rate
// (a time mode, or a rate of its own), 18 integer settings that are -1 until set, and a
// stream object that carries a skeleton from one file to the next (the ASF skeleton that
// the AMC file needs).

#include "foundation/KTime.h"
#include "io/KStreamOptions.h"

class KStreamOptionsMotion : public KStreamOptions {
    KQOV_CLASS(KStreamOptionsMotion)
public:
    static constexpr int kSettingCount = 18;
    // A rate given with time mode 0 picks the mode whose rate lies this close.
    static constexpr double kRateMatch = 0.001;
    // The fastest rate motion files are read and written at: a frame still lasts tens of
    // thousands of ticks, so a rate written through its period comes back.
    static constexpr double kFastestRate = 1e6;
    // How far six digits and whole ticks may move a written rate; a rate read this close past
    // the fastest is the fastest.
    static constexpr double kRateSlack = 1e-4;

    KStreamOptionsMotion();
    ~KStreamOptionsMotion() override;
    static KStreamOptionsMotion* Create() { return new KStreamOptionsMotion; }

    // Start 0, no frames, the global time mode, every setting -1, the stream object let go.
    void Reset() override;

    void SetStartTime(const KTime& time) { mStartTime = time; }
    KTime GetStartTime() const { return mStartTime; }
    // A negative count becomes 0.
    void SetFrameCount(int count) { mFrameCount = count < 0 ? 0 : count; }
    int GetFrameCount() const { return mFrameCount; }

    // A time mode (1 to 13) sets that mode and its rate. Mode 0 with a rate picks the mode of
    // that rate, or keeps the rate with mode 0 when no mode has it; mode 0 with no usable
    // rate (0, negative or not finite), and an unknown mode, give the global mode.
    void SetFrameRate(int timeMode, double rate);
    double GetFrameRate() const { return mFrameRate; }
    int GetTimeMode() const { return mTimeMode; }
    // One frame: of the time mode, or 1 / rate seconds.
    KTime GetFramePeriod() const;

    // Settings 0 to 17; out of range: ignored, and -1.
    void SetSetting(int index, int value);
    int GetSetting(int index) const;

    // The stream object, null when none or when it is gone. An owned object is destroyed
    // when it is replaced, on Reset and with the options.
    KObject* GetStream() const;
    bool IsStreamOwned() const { return mStreamOwned; }
    void SetStream(KObject* object, bool owned);

private:
    void ReleaseStream();

    KTime mStartTime;
    int mFrameCount = 0;
    int mTimeMode = KTime::GetGlobalTimeMode();
    double mFrameRate = 0.0;
    int mSettings[kSettingCount];
    KWeakRef mStream;
    bool mStreamOwned = false;
};
