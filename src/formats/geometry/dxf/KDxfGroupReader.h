#pragma once
// Groups of an ASCII drawing file: a line with an integer code, then a value line. The
// value is the whole line without the blanks around it (layer and block names hold blanks);
// GetWholeValue keeps those blanks too. Positions are byte offsets into the text, so that a
// reader can step back to a group or come back to a section it passed.

#include <cstddef>
#include <string_view>

#include "foundation/KTextLineReader.h"

class KDxfGroupReader {
public:
    // The text is not copied and must outlive the reads.
    void SetText(std::string_view text);

    // The next group; false at the end of the text, or when a code line is not an integer
    // (then IsCorrupt is true), or once ToDouble met a bad number (HasBadNumber).
    bool ReadGroup(int& code, std::string_view& value);
    // The value line of the group read last as it stands: names that differ only in blanks
    // around them ("Door" and "Door ") name two layers or blocks.
    std::string_view GetWholeValue() const { return mWhole; }
    // A value without the blanks around it.
    static std::string_view Trimmed(std::string_view value);
    bool IsCorrupt() const { return mCorrupt; }
    bool HasBadNumber() const { return mBadNumber; }

    // Offset of the code line of the group read last.
    size_t GetGroupStart() const { return mGroupStart; }
    // Offset of the next group.
    size_t Tell() const { return mNext; }
    // Reads go on from an offset that Tell or GetGroupStart gave.
    void Seek(size_t offset);
    // Line number of the value line read last, counted from the start of the text.
    int GetLineNumber() const { return mLineNumber; }

    // True for the binary form of the format, which this reader does not read.
    static bool IsBinary(std::string_view text);

    // The first word of a value as a number; `value` unchanged when it holds none. NaN, an
    // infinity or a number beyond kMaxFileNumber leaves it unchanged too and is a bad number:
    // the reading stops there (HasBadNumber stays true until SetText).
    void ToDouble(std::string_view text, double& value);
    static void ToInt(std::string_view text, int& value);

private:
    bool ReadLine(std::string_view& line);

    std::string_view mText;
    std::string_view mWhole;
    KTextLineReader mLines;
    size_t mGroupStart = 0;
    size_t mNext = 0;
    int mLineNumber = 0;
    bool mCorrupt = false;
    bool mBadNumber = false;
};
