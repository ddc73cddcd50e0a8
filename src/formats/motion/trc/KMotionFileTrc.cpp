#include "formats/motion/trc/KMotionFileTrc.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string_view>

#include "formats/motion/KUniqueNameTable.h"
#include "foundation/KLocale.h"

namespace {

constexpr int kAxisCount = 3;
constexpr const char* kSeparators = "\t\r\n";
constexpr char kBlankReadAs = '_';
// The fewest bytes a marker takes in the axis line: "X\tY\tZ\t".
constexpr int64_t kMinimumMarkerBytes = 6;

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// One frame line: frame number, time, then x, y, z per marker, each field after one white
// space character. An empty field, or the line ending inside a triple, is a coordinate not
// seen; anything else that is not a number fails the line rather than dropping its rest.
bool ParseRow(std::string_view row, KMarkerFrame& frame, int& number, double& seconds) {
    size_t p = KScanInteger(row, number);
    if (p == 0) return false;
    if (p < row.size() && !KIsSpace(row[p++])) return false;
    const size_t used = KScanFileNumber(row.substr(p), seconds);
    if (used == 0) return false;
    p += used;
    if (p < row.size() && !KIsSpace(row[p++])) return false;
    while (p < row.size()) {
        KVector4 record(0.0, 0.0, 0.0, 0.0);
        for (int a = 0; a < kAxisCount; ++a) {
            if (a > 0 && p < row.size() && !KIsSpace(row[p++])) return false;
            if (p >= row.size() || KIsSpace(row[p])) {
                record[3] = 1.0;
                continue;
            }
            double value = 0.0;
            const size_t n = KScanFileNumber(row.substr(p), value);
            if (n == 0) return false;
            record[a] = value;
            p += n;
        }
        frame.push_back(record);
        if (p < row.size() && !KIsSpace(row[p++])) return false;
    }
    return true;
}

// The names of a names line ("Frame#", "Time", then a name over each marker's three
// columns). Where every name stands over its marker's X column, an empty one there is a marker
// without a name (""); names laid out otherwise are taken in their order, and blank-only fields
// are padding.
std::vector<std::string> NamesOfLine(const std::string& line) {
    std::vector<std::string> fields;
    for (size_t at = 0;;) {
        const size_t end = line.find_first_of(kSeparators, at);
        fields.push_back(line.substr(at, end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    std::vector<std::string> names;
    size_t last = 0;  // one past the last marker column that holds a name
    bool onColumns = true;
    for (size_t i = 2; i < fields.size(); ++i) {
        if (Trimmed(fields[i]).empty()) continue;
        names.push_back(fields[i]);
        onColumns = onColumns && (i - 2) % kAxisCount == 0;
        last = i + 1;
    }
    if (!onColumns) return names;
    names.clear();
    for (size_t i = 2; i < last; i += kAxisCount)
        names.push_back(Trimmed(fields[i]).empty() ? std::string() : fields[i]);
    return names;
}

// A name the names line cannot carry as one field would shift every name after it.
std::string WritableName(const std::string& name) {
    std::string out = name;
    for (char& c : out)
        if (c == '\t' || c == '\r' || c == '\n') c = '_';
    return Trimmed(out).empty() ? std::string("Unnamed") : out;
}

}  // namespace

KMotionFileTrc::KMotionFileTrc() : KMarkerTextFile("TRC", kSeparators) {}

bool KMotionFileTrc::RawField(std::string& out) {
    // Sized to this field alone: a names line may hold thousands of them.
    const size_t length = std::min<size_t>(std::strcspn(GetPosition(), kSeparators), INT_MAX - 1);
    std::string buffer(length + 1, '\0');
    if (!ReadToken(&buffer[0], int(length))) return false;
    out = buffer.c_str();
    return true;
}

bool KMotionFileTrc::Field(std::string& out) {
    if (!RawField(out)) return false;
    out = Trimmed(out);
    return true;
}

bool KMotionFileTrc::FieldIs(const char* word) {
    std::string field;
    return Field(field) && KStrCaseCmp(field.c_str(), word) == 0;
}

bool KMotionFileTrc::ReadHeaderLines(KMarkerFileInfo& info) {
    std::string field;
    int type = 0;
    if (!FieldIs("PathFileType") || !Field(field) || !KParseInteger(field, type) ||
        (type != 3 && type != 4) || !FieldIs("(X/Y/Z)") || !Field(field) || !ReadLine())
        return false;
    static const char* const kColumns[] = {"DataRate",           "CameraRate",   "NumFrames",
                                           "NumMarkers",         "Units",        "OrigDataRate",
                                           "OrigDataStartFrame", "OrigNumFrames"};
    const int columns = type == 4 ? 8 : 5;
    for (int i = 0; i < columns; ++i)
        if (!FieldIs(kColumns[i])) return false;
    if (!ReadLine()) return false;

    auto number = [&](double& value) { return Field(field) && KParseDecimal(field, value); };
    auto integer = [&](int& value) { return Field(field) && KParseInteger(field, value); };
    double rate = 0.0, unused = 0.0;
    int frames = 0, markers = 0, startFrame = 1, unusedCount = 0;
    if (!number(rate) || !(rate > 0.0) || !number(unused) || !integer(frames) || frames < 0 ||
        !integer(markers) || markers < 0 || !Field(field))
        return false;
    if (KStrCaseCmp(field.c_str(), "m") == 0)
        info.scale = 100.0;
    else if (KStrCaseCmp(field.c_str(), "cm") == 0)
        info.scale = 1.0;
    else if (KStrCaseCmp(field.c_str(), "mm") == 0)
        info.scale = 0.1;
    else
        return false;
    if (type == 4 && !(number(unused) && integer(startFrame) && integer(unusedCount))) return false;
    info.markerCount = markers;
    info.frameCount = frames;
    info.frameRate = rate;
    info.start = KTime();
    info.firstFrame = type == 4 ? double(startFrame) - 1.0 : 0.0;
    if (type == 4) info.start.SetSecondDouble((double(startFrame) - 1.0) / rate);
    return true;
}

bool KMotionFileTrc::GetInfo(KMarkerFileInfo& info) {
    mNames.clear();
    mNamesRead = false;
    if (!Rewind() || !ReadHeaderLines(info)) return false;
    if (ReadLine() && FieldIs("Frame#") && FieldIs("Time")) {
        mNames = NamesOfLine(SkipSeparators(GetLine()));
        mNamesRead = true;
        // Some files claim more markers than they name; the names line is what they hold.
        if (int64_t(mNames.size()) < info.markerCount) info.markerCount = int(mNames.size());
    } else if (int64_t(info.markerCount) * kMinimumMarkerBytes > GetFileSize() + 1) {
        // Without a names line the header's count stands alone: a count the file cannot
        // hold is refused before anything is sized by it.
        return false;
    }
    return true;
}

bool KMotionFileTrc::GetMarkerNames(std::vector<std::string>& names, bool) {
    if (!mNamesRead || names.size() > mNames.size()) return false;
    for (size_t k = 0; k < names.size(); ++k) {
        std::string name = NameByPlace(mNames[k], k);
        if (name.empty()) {
            name = mNames[k];
            for (char& c : name)
                if (c == ' ') c = kBlankReadAs;
        }
        names[k] = name;
    }
    // The axis line: X, Y, Z per marker, all on that one line.
    if (!ReadLine()) return false;
    static const char kAxes[] = "xyz";
    std::string field;
    for (size_t i = 0; i < names.size() * kAxisCount; ++i)
        if (!Field(field) || field.empty() || KToLower(field[0]) != kAxes[i % kAxisCount])
            return false;
    return true;
}

std::string KMotionFileTrc::NameByPlace(const std::string& label, size_t index) {
    if (label.find_first_not_of(' ') != std::string::npos &&
        label.find("Unnamed") == std::string::npos)
        return std::string();
    return "*Unnamed_" + std::to_string(index + 1);
}

KQovNameTerms KMotionFileTrc::LabelTerms() {
    KQovNameTerms terms;
    terms.format = "TRC";
    terms.splitters = " \t\r\n";
    terms.splitReason =
        "the TRC reader reads a blank in a label as '_' and ends one at a tab or "
        "line break";
    terms.foldCase = true;
    terms.maxLength = KUniqueNameTable::kMaxNameLength;
    terms.byPlace = NameByPlace;
    terms.byPlaceReason =
        "the TRC reader names a label that is blank or holds \"Unnamed\" by its "
        "place";
    return terms;
}

bool KMotionFileTrc::ReadFrame(KMarkerFrame& frame, int, KTime& time, int& counter, KTime, bool) {
    if (!ReadLine()) return false;
    int number = 0;
    double seconds = 0.0;
    if (!ParseRow(GetPosition(), frame, number, seconds)) return false;
    time.SetSecondDouble(seconds);
    counter = number;
    return true;
}

namespace {

// Two decimals, as rates are written everywhere, while they hold the rate to 0.5% (every rate
// of 1 Hz and more); a slower one gets the digits it needs, so that "0.00" is never written.
std::string RateText(double rate) {
    const std::string two = KFormatC("%.2f", rate);
    double back = 0.0;
    if (KParseDecimal(two, back) && std::fabs(back - rate) <= 0.005 * rate) return two;
    return KShortestText(rate);
}

}  // namespace

bool KMotionFileTrc::WriteHeader(const KMarkerFileInfo& info) {
    const double startFrame = std::rint(info.start.GetSecondDouble() * info.frameRate + 1.0);
    // A start frame that no "%d" can hold is refused rather than written wrong.
    if (!(std::fabs(startFrame) + std::max(info.frameCount, 0) <= double(INT_MAX))) return false;
    mStartFrame = int(startFrame);
    if (!KIsFileNumber(info.frameRate)) return FailNumber();
    const std::string rate = RateText(info.frameRate);
    return Put("PathFileType\t4\t(X/Y/Z)\tVarnoke\t\n") &&
           Put("DataRate\tCameraRate\tNumFrames\tNumMarkers\tUnits\t"
               "OrigDataRate\tOrigDataStartFrame\tOrigNumFrames\t\n") &&
           Put("%s\t%s\t%d\t%d\tmm\t%s\t%d\t%d\t\n", rate.c_str(), rate.c_str(), info.frameCount,
               info.markerCount, rate.c_str(), int(startFrame), info.frameCount);
}

bool KMotionFileTrc::WriteMarkerNames(const std::vector<std::string>& names) {
    std::string line = "Frame#\tTime\t";
    for (const std::string& name : names) line += WritableName(name) + "\t\t\t";
    std::string axes = "\t\t";
    for (size_t k = 1; k <= names.size(); ++k) axes += KFormatC("X%zu\tY%zu\tZ%zu\t", k, k, k);
    return Put("%s\n", line.c_str()) && Put("%s\n", axes.c_str()) && Put("\n");
}

bool KMotionFileTrc::WriteFrame(const KMarkerFrame& records, KTime time, int frameNumber) {
    // Rows are numbered as the header counts them, from OrigDataStartFrame on.
    std::string line = KFormatC("%d\t%.3f", mStartFrame + frameNumber - 1, time.GetSecondDouble());
    for (const KVector4& r : records) {
        if (r[3] > 0.5) {
            line += "\t\t\t";
            continue;
        }
        const double mm[3] = {r[0] * 10.0, r[1] * 10.0, r[2] * 10.0};
        if (!KIsFileNumber(mm[0]) || !KIsFileNumber(mm[1]) || !KIsFileNumber(mm[2]))
            return FailNumber();
        line += KFormatC("\t%.5f\t%.5f\t%.5f", mm[0], mm[1], mm[2]);
    }
    return Put("%s \n", line.c_str());
}
