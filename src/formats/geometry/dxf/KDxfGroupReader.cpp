#include "formats/geometry/dxf/KDxfGroupReader.h"

#include <cstring>

#include "foundation/KLocale.h"

namespace {

std::string_view FirstWord(std::string_view line) {
    size_t b = 0;
    while (b < line.size() && KIsSpace(line[b])) ++b;
    size_t e = b;
    while (e < line.size() && !KIsSpace(line[e])) ++e;
    return line.substr(b, e - b);
}

}  // namespace

std::string_view KDxfGroupReader::Trimmed(std::string_view line) {
    size_t b = 0, e = line.size();
    while (b < e && KIsSpace(line[b])) ++b;
    while (e > b && KIsSpace(line[e - 1])) --e;
    return line.substr(b, e - b);
}

void KDxfGroupReader::SetText(std::string_view text) {
    mText = text;
    mLines.SetText(text);
    mGroupStart = mNext = 0;
    mWhole = std::string_view();
    mCorrupt = mBadNumber = false;
}

void KDxfGroupReader::Seek(size_t offset) {
    if (offset > mText.size()) offset = mText.size();
    mLines.SetText(mText.substr(offset));
    mNext = offset;
}

bool KDxfGroupReader::ReadLine(std::string_view& line) {
    if (!mLines.ReadLine(line)) return false;
    ++mLineNumber;
    // The line is a view into the text: what follows it is one line break (or nothing).
    size_t end = static_cast<size_t>(line.data() - mText.data()) + line.size();
    if (end < mText.size() && mText[end] == '\r') ++end;
    if (end < mText.size() && mText[end] == '\n') ++end;
    mNext = end;
    return true;
}

bool KDxfGroupReader::ReadGroup(int& code, std::string_view& value) {
    if (mBadNumber) return false;
    const size_t start = mNext;
    std::string_view line;
    if (!ReadLine(line)) return false;
    int number;
    if (!KParseInteger(line, number)) {
        mCorrupt = true;
        return false;
    }
    if (!ReadLine(line)) return false;
    code = number;
    mGroupStart = start;
    mWhole = line;
    value = Trimmed(line);
    return true;
}

bool KDxfGroupReader::IsBinary(std::string_view text) {
    // The binary form opens with a sentinel line closed by CR LF, SUB and NUL.
    const std::string_view head = text.substr(0, 32);
    return head.find('\0') != std::string_view::npos || head.find('\x1a') != std::string_view::npos;
}

void KDxfGroupReader::ToDouble(std::string_view text, double& value) {
    const std::string_view word = FirstWord(text);
    double v;
    if (KScanFileNumber(word, v) > 0) {
        value = v;
        return;
    }
    // Text that is no number at all keeps the value; NaN, an infinity or a number beyond
    // kMaxFileNumber stops the reading.
    if (KParseDouble(word, v) && !KIsFileNumber(v)) mBadNumber = true;
}

void KDxfGroupReader::ToInt(std::string_view text, int& value) {
    int v;
    if (KScanInteger(FirstWord(text), v) > 0) value = v;
}
