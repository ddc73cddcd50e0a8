#include "formats/motion/c3d/KMotionFileC3d.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "formats/motion/c3d/KC3dLabels.h"
#include "foundation/KLocale.h"

namespace {

constexpr int kMaximumFrames = 32767;
// Points are written in millimetres; the scene's lengths are centimetres.
constexpr double kCentimetresPerUnit = 0.1;
// The integer scale of every file whose points it holds.
constexpr float kDefaultIntegerScale = 0.1449f;
// Readers take an integer scale below this one only.
constexpr float kLargestIntegerScale = 1000.0f;

// The step, as WritePoint computes it, of a coordinate in a 16-bit integer at `scale`.
double Steps(double centimetres, float scale) {
    return std::round(centimetres * (1.0 / (double(scale) * kCentimetresPerUnit)));
}

// The integer scale that holds every seen coordinate up to `largest` cm: the usual one when it
// does, else the smallest that does; 0 when none that a reader takes does. A largest that is
// no file number keeps the usual scale: the point itself is refused as such.
float IntegerScale(double largest) {
    if (!KIsFileNumber(largest) || Steps(largest, kDefaultIntegerScale) <= 32767.0)
        return kDefaultIntegerScale;
    float scale = float(largest / kCentimetresPerUnit / 32767.0);
    while (scale < kLargestIntegerScale && Steps(largest, scale) > 32767.0)
        scale = std::nextafter(scale, kLargestIntegerScale);
    return scale < kLargestIntegerScale ? scale : 0.0f;
}

// Bytes a record takes in the parameter section.
size_t RecordSize(const KC3dParameter& p) {
    size_t size = 4 + p.name.size() + 1 + p.description.size();
    if (p.IsGroup()) return size;
    const KC3dArray& a = *p.data;
    const auto& d = a.GetDimensions();
    const bool single = d.empty() || (d.size() == 1 && d[0] == 1);
    return size + 2 + (single ? 0 : d.size()) + a.GetElementCount() * a.GetElementSize();
}

std::unique_ptr<KC3dParameter> Record(const char* name, std::unique_ptr<KC3dArray> data) {
    auto p = std::make_unique<KC3dParameter>();
    p->name = name;
    p->groupId = 1;
    p->data = std::move(data);
    return p;
}

// The lab axis a screen parameter names: 1, 2, 3 for X, Y, Z, negative with a "-"; 0 for none.
int ScreenAxis(const std::string& text) {
    size_t i = 0;
    int sign = 1;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) sign = text[i++] == '-' ? -1 : 1;
    if (i >= text.size()) return 0;
    const int c = std::toupper(static_cast<unsigned char>(text[i]));
    return c >= 'X' && c <= 'Z' ? (c - 'X' + 1) * sign : 0;
}

}  // namespace

KMotionFileC3d::~KMotionFileC3d() { Discard(); }

int KMotionFileC3d::Open(const char* path, const char* mode) {
    Close();
    auto stream = std::make_unique<KFileStream>();
    if (!stream->Open(path, mode)) return 1;
    mStream = std::move(stream);
    mLoaded = false;
    mSeekable = mode[0] != 'w' || mStream->CanSeek();
    if (mode[0] == 'w') BeginWrite(*mStream);
    return 0;
}

int KMotionFileC3d::Close() {
    if (!mStream) return 1;
    bool ok = !mStream->HasError();
    if (ok)
        ok = mStream->Commit();
    else
        mStream->Discard();  // a file that did not write whole never replaces the old one
    mStream.reset();
    return ok ? 0 : 1;
}

std::string KMotionFileC3d::GetLocation() const {
    if (!mStream) return std::string();
    const uint64_t at = Tell();
    return "byte " + std::to_string(at) + ", block " + std::to_string(at / kBlockSize + 1);
}

void KMotionFileC3d::Discard() {
    if (mStream) mStream->Discard();
    mStream.reset();
}

bool KMotionFileC3d::GetInfo(KMarkerFileInfo& info) {
    if (!mStream) return false;
    if (!mLoaded && !(mLoaded = Load(*mStream))) return false;
    // A recording of analog channels alone has frames but no markers.
    if (!ReadHeader() || (Header().pointCount == 0 && Header().analogPerFrame == 0)) return false;
    const KC3dHeader& h = Header();
    // A last frame below the first is damage, not a negative count.
    if (h.lastFrame < h.firstFrame || !(h.frameRate > 0)) return false;
    info.markerCount = h.pointCount;
    // Frames count from 1, as in a TRC file: the first frame numbered 1 plays at time 0.
    info.firstFrame = double(h.firstFrame) - 1.0;
    info.start.SetSecondDouble((double(h.firstFrame) - 1.0) / double(h.frameRate));
    info.frameCount = h.lastFrame - h.firstFrame + 1;
    info.frameRate = h.frameRate;
    info.scale = 1.0;
    info.note.clear();
    if (!(h.headerRate == h.frameRate))
        info.note = "The header's frame rate " + KDecimalText(h.headerRate) +
                    " is no recorded rate: the file is read at " + KDecimalText(h.frameRate) +
                    " frames a second.\n";
    return SeekBlock(int64_t(h.parameterBlock) - 1);
}

void KMotionFileC3d::SetScreenAxes(int right, int up) {
    mAxis[0] = -1, mAxis[1] = 3, mAxis[2] = 2;  // "+X" and "+Z": (x, y, z) to (-x, z, y)
    const int a = std::abs(right) - 1, b = std::abs(up) - 1;
    if (right == 0 || up == 0 || a == b) return;  // one axis named twice: the defaults
    // The axis shown to the right lands where the default's +X does (scene -X), the one shown
    // up where its +Z does (scene +Y), and their cross product on scene -Z: a turn, never a
    // mirror, whichever axes the file names.
    const int c = 3 - a - b;
    const int sa = right > 0 ? 1 : -1, sb = up > 0 ? 1 : -1;
    const int sc = sa * sb * ((b - a + 3) % 3 == 1 ? 1 : -1);
    mAxis[a] = -sa;
    mAxis[b] = 2 * sb;
    mAxis[c] = -3 * sc;
}

bool KMotionFileC3d::GetMarkerNames(std::vector<std::string>& names, bool keepPrefixes) {
    mUnitScale = 0.1;
    mPointGroup = 1;
    mKeepPrefixes = false;
    int screen[2] = {1, 3};  // X_SCREEN, Y_SCREEN
    mPointScale = Header().scaleFactor;
    std::vector<std::string> labels(names.size());
    // Units by group: other groups (ANALYSIS, FORCE_PLATFORM) hold units of their own values;
    // the POINT group's alone are the points' length unit.
    std::map<int, std::string> units;
    uint8_t head[4];
    for (uint8_t& b : head) ReadByte(b);
    while (auto record = ReadParameterRecord()) {
        const std::string& name = record->name;
        if (record->IsGroup()) {
            if (name == "POINT") mPointGroup = std::abs(int(record->groupId));
            continue;
        }
        if (!record->data || record->data->GetElementCount() == 0) continue;
        const bool text = record->data->GetType() == kC3dTypeChar;
        if (record->groupId == mPointGroup && KC3dTakeListParameter(*record, "LABELS", int8_t(mPointGroup), labels))
            continue;
        if (name == "SCALE" && record->groupId == mPointGroup && !text) {
            // Where the header and the POINT group disagree, the group's scale is the one
            // writers keep up to date; an unusable value leaves the header's.
            const float scale = float(record->data->GetNumber(0));
            if (scale < 0 || (scale > 0.001f && scale < 1000.0f)) mPointScale = scale;
        } else if (name == "UNITS" && text) {
            units.emplace(int(record->groupId), record->data->GetRow(0));
        } else if ((name == "X_SCREEN" || name == "Y_SCREEN") && text) {
            const int axis = ScreenAxis(record->data->GetRow(0));
            if (axis != 0) screen[name[0] == 'X' ? 0 : 1] = axis;
        } else if (name == "USES_PREFIXES" && keepPrefixes) {
            mKeepPrefixes = true;
        }
    }
    SetScreenAxes(screen[0], screen[1]);
    // The POINT group may follow its parameters: its units are chosen once all are read.
    const auto pointUnits = units.find(mPointGroup);
    if (pointUnits != units.end()) {
        const std::string& u = pointUnits->second;
        const int c = u.empty() ? 0 : std::tolower(static_cast<unsigned char>(u[0]));
        if (c == 'c')
            mUnitScale *= 10;
        else if (c == 'f')
            mUnitScale *= 304.8;
        else if (c == 'i')
            mUnitScale *= 25.4;
        else if (c == 'm')
            mUnitScale *=
                u.size() > 1 && std::tolower(static_cast<unsigned char>(u[1])) == 'm' ? 1 : 1000;
    }
    for (size_t k = 0; k < names.size(); ++k) {
        std::string n = labels[k];
        if (n.empty()) {
            char number[16];
            std::snprintf(number, sizeof number, "%04d", int(k));
            n = number;
        }
        const size_t colon = n.find(':');
        if (!mKeepPrefixes && colon != std::string::npos) n = n.substr(colon + 1);
        for (char& c : n)
            if (c == ':') c = '_';
        names[k] = n;
    }
    SeekBlock(int64_t(Header().dataBlock) - 1);
    return true;
}

bool KMotionFileC3d::ReadFrame(KMarkerFrame& frame, int markerCount, KTime& time, int& counter, KTime period,
                               bool) {
    const KC3dHeader& h = Header();
    frame.assign(size_t(markerCount), KVector4());
    for (int k = 0; k < markerCount; ++k) {
        KC3dPoint p;
        if (!ReadPoint(p, mPointScale, 0, mUnitScale)) return false;
        const double v[3] = {p.x, p.y, p.z};
        for (int a = 0; a < 3; ++a) {
            const int m = mAxis[a];
            frame[size_t(k)][std::abs(m) - 1] = m > 0 ? v[a] : -v[a];
        }
        frame[size_t(k)][3] = p.valid ? 0.0 : 1.0;
    }
    SkipBytes(size_t(h.analogPerFrame) * (mPointScale >= 0 ? 2 : 4));
    ++counter;
    time += period;
    return true;
}

double KC3dFrameNumberAt(double seconds, double rate) {
    return std::rint(seconds * rate) + 1.0;
}

bool KMotionFileC3d::WriteHeader(const KMarkerFileInfo& info) {
    // The header and the parameter section are finished by going back to them.
    if (!mSeekable) return Fail(eNotSeekable);
    if (info.frameCount > kMaximumFrames || info.markerCount > 0xFFFF) return false;
    KC3dHeader& h = Header();
    h = KC3dHeader();
    h.pointCount = uint16_t(info.markerCount);
    h.scaleFactor = info.scale < 0 ? -1.0f : IntegerScale(info.largest);
    if (h.scaleFactor == 0.0f) return Fail(eOutOfReach);
    h.frameRate = float(info.frameRate);
    // A start before frame 0 starts at 0.
    const double first =
        std::max(0.0, KC3dFrameNumberAt(info.start.GetSecondDouble(), info.frameRate));
    if (first + info.frameCount - 1 > 0xFFFF) return false;
    h.firstFrame = uint16_t(first);
    h.lastFrame = uint16_t(first + std::max(info.frameCount, 1) - 1);
    h.parameterBlock = 2;
    return KC3dFile::WriteHeader();
}

bool KMotionFileC3d::WriteMarkerNames(const std::vector<std::string>& names) {
    KC3dHeader& h = Header();
    std::vector<std::unique_ptr<KC3dParameter>> records;
    auto group = std::make_unique<KC3dParameter>();
    group->name = "POINT";
    group->groupId = -1;
    records.push_back(std::move(group));
    records.push_back(Record("USED", KC3dArray::Int16(int16_t(h.pointCount))));
    records.push_back(Record("FRAMES", KC3dArray::Int16(int16_t(h.lastFrame - h.firstFrame + 1))));
    records.push_back(Record("DATA_START", KC3dArray::Int16(0)));
    records.push_back(Record("SCALE", KC3dArray::Float(h.scaleFactor)));
    records.push_back(Record("RATE", KC3dArray::Float(h.frameRate)));
    records.push_back(Record("X_SCREEN", KC3dArray::Text("+X")));
    records.push_back(Record("Y_SCREEN", KC3dArray::Text("+Z")));
    records.push_back(Record("UNITS", KC3dArray::Text("mm  ")));
    for (auto& p : KC3dMakeListParameters("LABELS", names, 1)) records.push_back(std::move(p));
    std::vector<std::string> blanks(names.size(), std::string(32, ' '));
    for (auto& p : KC3dMakeListParameters("DESCRIPTIONS", blanks, 1)) records.push_back(std::move(p));
    // DATA_START is known before it is written: the section's size decides it.
    size_t size = 4;
    for (const auto& p : records) size += RecordSize(*p);
    // The section header counts its blocks in one byte: refused before a record is written.
    const int64_t blocks = RoundUp(int64_t(size), kBlockSize) / int64_t(kBlockSize);
    if (blocks > 255) {
        GetError().SetErrorWithText(
            eSectionFull,
            KFormatC("The parameter section of a C3D file holds at most 255 blocks of 512 bytes, "
                     "and the names of these %zu markers take %lld: write fewer markers.",
                     names.size(), static_cast<long long>(blocks))
                .c_str());
        return false;
    }
    const int64_t dataBlock = RoundUp(int64_t(kBlockSize + size), kBlockSize) / int64_t(kBlockSize) + 1;
    if (dataBlock > 0x7FFF) return false;
    h.dataBlock = uint16_t(dataBlock);
    records[3]->data->SetInt16(0, int16_t(dataBlock));
    if (!BeginParameters()) return false;
    for (const auto& p : records)
        if (!WriteParameterRecord(*p)) return false;
    uint16_t written = 0;
    return EndParameters(written) && written == h.dataBlock;
}

bool KMotionFileC3d::WriteFrame(const KMarkerFrame& records, KTime, int) {
    const float scale = Header().scaleFactor;
    for (const KVector4& r : records) {
        KC3dPoint p;
        p.x = -r[0];
        p.y = r[2];
        p.z = r[1];
        p.valid = r[3] <= 0.5;
        // A seen point is never clamped into an unseen one.
        if (scale >= 0 && p.valid)
            for (double v : {p.x, p.y, p.z}) {
                if (!KIsFileNumber(v / kCentimetresPerUnit)) return Fail(eNumberInvalid);
                if (std::fabs(Steps(v, scale)) > 32767.0) return Fail(eOutOfReach);
            }
        if (!WritePoint(p, scale, kCentimetresPerUnit)) return false;
    }
    return true;
}

const char* KMotionFileC3d::GetWriteRefusal() const {
    const int code = GetError().GetErrorCode();
    return code == eOutOfReach || code == eNotSeekable || code == eSectionFull
               ? GetError().GetErrorText()
               : nullptr;
}

bool KMotionFileC3d::EndWrite() {
    const bool ok = PatchWord(mParameterWordPatch, 0x5002) && PatchWord(mDataWordPatch, Header().dataBlock);
    return KC3dFile::EndWrite() && ok;
}

bool KMotionFileC3d::FindTimeCode(int values[4]) {
    const uint64_t position = Tell();
    bool found = false;
    if (SeekBlock(int64_t(Header().parameterBlock) - 1)) {
        uint8_t head[4];
        for (uint8_t& b : head) ReadByte(b);
        while (auto record = ReadParameterRecord()) {
            if (record->name != "TIMECODES" || !record->data || record->data->GetElementCount() < 4 ||
                record->data->GetElementSize() != 2)
                continue;
            for (int i = 0; i < 4; ++i) values[i] = int(record->data->GetNumber(size_t(i)));
            found = true;
            break;
        }
    }
    // The read position is where it was: the data section for the frames to come.
    SeekBlock(int64_t(position / kBlockSize));
    SkipBytes(size_t(position % kBlockSize));
    return found;
}
