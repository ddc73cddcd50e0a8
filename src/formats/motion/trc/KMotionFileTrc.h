#pragma once
// The tab-separated marker trajectory file: three header lines, a names line, an axis line,
// then one line per frame with a frame number, a time and x, y, z per marker. Tabs alone
// separate, so names may hold blanks; an empty field is a coordinate not seen.

#include <string>
#include <vector>

#include "formats/motion/optical/KMarkerTextFile.h"
#include "io/KQovWrittenNames.h"

class KMotionFileTrc : public KMarkerTextFile {
public:
    KMotionFileTrc();

    // The marker count is the header's NumMarkers, lowered to the names the names line
    // holds when it holds fewer: names are never looked for past that line.
    bool GetInfo(KMarkerFileInfo& info) override;
    // A label is its field up to a tab or line break, each blank in it read as '_'; one
    // that is empty or holds "Unnamed" is named by its place ("*Unnamed_3").
    bool GetMarkerNames(std::vector<std::string>& names, bool keepPrefixes) override;
    // The labels as GetMarkerNames and the marker reader take them (letter case aside, 1,023
    // bytes), for a writer.
    static KQovNameTerms LabelTerms();
    // "*Unnamed_<index + 1>" for a label GetMarkerNames names by its place; else empty.
    static std::string NameByPlace(const std::string& label, size_t index);
    // One record per x, y, z triple on the line, whatever the marker count.
    bool ReadFrame(KMarkerFrame& frame, int markerCount, KTime& time, int& counter, KTime period,
                   bool zeroIsOccluded) override;

    // Positions come in centimetres and are written in millimetres.
    bool WriteHeader(const KMarkerFileInfo& info) override;
    bool WriteMarkerNames(const std::vector<std::string>& names) override;
    bool WriteFrame(const KMarkerFrame& records, KTime time, int frameNumber) override;

private:
    // The next tab-separated field of the current line, as written or without its
    // surrounding blanks.
    bool RawField(std::string& out);
    bool Field(std::string& out);
    bool FieldIs(const char* word);
    bool ReadHeaderLines(KMarkerFileInfo& info);

    std::vector<std::string> mNames;
    bool mNamesRead = false;
    // The header's OrigDataStartFrame: the Frame# of the first frame written.
    int mStartFrame = 1;
};
