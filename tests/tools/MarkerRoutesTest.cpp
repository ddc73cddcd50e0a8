// Every marker capture through qovtool convert by every route: into each marker format
// directly, and through a binary and an ASCII QOV file. Each result is parsed here, without
// the library, and compared with the source file parsed the same way: frame count, rate,
// start frame, names, whether each marker was seen, and every sample at every frame, to the
// printed precision of the formats on the way. The captures are made here (C3D files with an
// ANALYSIS group's units, 1000, 250 and 200 Hz, repeated labels, a first frame above 1; a TRC
// and an AOA file) and taken from the test data.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ConversionTestUtil.h"
#include "IndependentReaders.h"
#include "QovtoolProcess.h"
#include "attributes/KQovMarker.h"
#include "common/TempTestFolder.h"
#include "formats/motion/KQovMotionTextIO.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovTakeInfo.h"

using namespace independent;

namespace {

using qovtoolprocess::Exists;
using qovtoolprocess::RunTool;
using qovtoolprocess::Tool;

std::string Extension(const std::string& path) {
    return Lower(path.substr(path.rfind('.') + 1));
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// ---- Writing the captures ----

struct Capture {
    std::vector<std::string> labels;
    std::vector<std::vector<Vec3>> frames;  // millimetres; kUnseen coordinates: not seen
    float rate = 100.0f;
    int firstFrame = 1;
    float scale = -1.0f;  // negative: float samples; else 16-bit integers times it
    bool analysisUnits = false;
    int analogPerFrame = 0;  // analog samples after each frame's points
};

// Positions on a 1/8 mm grid (exact in both sample forms), each marker on its own path.
Capture Make(int markers, int frames, float rate, int firstFrame) {
    Capture c;
    c.rate = rate;
    c.firstFrame = firstFrame;
    for (int k = 0; k < markers; ++k) c.labels.push_back("M" + std::string(1, char('A' + k)));
    for (int f = 0; f < frames; ++f) {
        c.frames.emplace_back();
        for (int k = 0; k < markers; ++k)
            c.frames.back().push_back(
                {std::round(8 * (100.0 * k + 37.5 * std::sin(0.3 * f + k))) / 8,
                 std::round(8 * (900.0 + 11.0 * f - 3.0 * k)) / 8,
                 std::round(8 * (-250.0 + 7.0 * k * f)) / 8 - 0.125});
    }
    return c;
}

struct Bytes {
    std::string b;
    void U8(int v) { b += char(v & 0xFF); }
    void U16(int v) { U8(v), U8(v >> 8); }
    void F32(float v) {
        uint32_t u;
        std::memcpy(&u, &v, 4);
        U16(int(u & 0xFFFF)), U16(int(u >> 16));
    }
    void PadTo(size_t size) { b.resize(std::max(b.size(), size), '\0'); }
    // C3D parameter records: a group, and a parameter of a group with its dimensions.
    void Group(int id, const std::string& name) {
        U8(int(name.size())), U8(-id), b += name, U16(3), U8(0);
    }
    void Parameter(int id, const std::string& name, int type, const std::vector<int>& dims,
                   const std::string& data) {
        U8(int(name.size())), U8(id), b += name;
        U16(int(2 + 2 + dims.size() + data.size() + 1));
        U8(type), U8(int(dims.size()));
        for (int d : dims) U8(d);
        b += data, U8(0);
    }
};

// An Intel C3D file: header, a POINT group (with an ANALYSIS group whose UNITS are "m/s"
// after it when asked), then the samples.
void WriteC3d(const std::string& path, const Capture& c) {
    const int points = int(c.labels.size()), frames = int(c.frames.size());
    Bytes p;  // the parameter section
    p.U8(1), p.U8(0x50), p.U8(0), p.U8(84);
    auto group = [&](int id, const std::string& name) { p.Group(id, name); };
    auto parameter = [&](int id, const std::string& name, int type, std::vector<int> dims,
                         const std::string& data) { p.Parameter(id, name, type, dims, data); };
    auto word = [](int v) {
        Bytes b;
        b.U16(v);
        return b.b;
    };
    auto real = [](float v) {
        Bytes b;
        b.F32(v);
        return b.b;
    };
    size_t longest = 1;
    for (const std::string& l : c.labels) longest = std::max(longest, l.size());
    std::string labels;
    for (const std::string& l : c.labels) labels += l + std::string(longest - l.size(), ' ');
    const int dataBlock = 12;
    group(1, "POINT");
    parameter(1, "USED", 2, {}, word(points));
    parameter(1, "SCALE", 4, {}, real(c.scale));
    parameter(1, "RATE", 4, {}, real(c.rate));
    parameter(1, "DATA_START", 2, {}, word(dataBlock));
    parameter(1, "FRAMES", 2, {}, word(frames));
    parameter(1, "UNITS", -1, {2}, "mm");
    parameter(1, "LABELS", -1, {int(longest), points}, labels);
    if (c.analysisUnits) {
        group(2, "ANALYSIS");
        parameter(2, "UNITS", -1, {3, 1}, "m/s");
    }
    p.U8(0), p.U8(0);
    Bytes f;
    f.U8(2), f.U8(0x50), f.U16(points), f.U16(c.analogPerFrame), f.U16(c.firstFrame);
    f.U16(c.firstFrame + frames - 1), f.U16(0), f.F32(c.scale), f.U16(dataBlock), f.U16(0);
    f.F32(c.rate);
    f.PadTo(512);
    p.b[2] = char((p.b.size() + 511) / 512);
    f.b += p.b;
    f.PadTo(size_t(dataBlock - 1) * 512);
    for (const auto& frame : c.frames) {
        for (const Vec3& v : frame) {
            const bool seen = !std::isnan(v[0]);
            for (double x : v)
                c.scale < 0 ? f.F32(seen ? float(x) : 0.0f) : f.U16(seen ? int(x / c.scale) : 0);
            c.scale < 0 ? f.F32(seen ? 0.0f : -1.0f) : f.U16(seen ? 0 : -1);
        }
        for (int a = 0; a < c.analogPerFrame; ++a) c.scale < 0 ? f.F32(0.25f * a) : f.U16(a);
    }
    std::ofstream(path, std::ios::binary) << f.b;
}

// A TRC file of type 4 in millimetres; an unseen sample is three empty fields.
void WriteTrc(const std::string& path, const Capture& c, int startFrame) {
    std::ofstream out(path);
    out << "PathFileType\t4\t(X/Y/Z)\tcapture.trc\n"
        << "DataRate\tCameraRate\tNumFrames\tNumMarkers\tUnits\tOrigDataRate\t"
           "OrigDataStartFrame\tOrigNumFrames\n"
        << c.rate << "\t" << c.rate << "\t" << c.frames.size() << "\t" << c.labels.size()
        << "\tmm\t" << c.rate << "\t" << startFrame << "\t" << c.frames.size() << "\n"
        << "Frame#\tTime";
    for (const std::string& l : c.labels) out << "\t" << l << "\t\t";
    out << "\n\t";
    for (size_t k = 1; k <= c.labels.size(); ++k) out << "\tX" << k << "\tY" << k << "\tZ" << k;
    out << "\n\n";
    char number[64];
    for (size_t f = 0; f < c.frames.size(); ++f) {
        std::snprintf(number, sizeof number, "%d\t%.5f", int(startFrame + f), f / c.rate);
        out << number;
        for (const Vec3& v : c.frames[f]) {
            if (std::isnan(v[0])) {
                out << "\t\t\t";
                continue;
            }
            std::snprintf(number, sizeof number, "\t%.5f\t%.5f\t%.5f", v[0], v[1], v[2]);
            out << number;
        }
        out << "\n";
    }
}

// An AOA file: positions in scene units (centimetres), no names, every sample seen.
void WriteAoa(const std::string& path, const Capture& c) {
    std::ofstream out(path);
    out << "frames = " << c.frames.size() << " markers = " << c.labels.size() << " Hz = " << c.rate
        << "\n";
    char line[128];
    for (const auto& frame : c.frames)
        for (const Vec3& v : frame) {
            std::snprintf(line, sizeof line, "%.4f %.4f %.4f\n", v[0] / 10, v[1] / 10, v[2] / 10);
            out << line;
        }
}

// ---- Reading every marker format without the library ----

// What a marker file holds, in scene units (centimetres, scene axes); NaN: not seen.
struct Markers {
    std::vector<std::string> names;  // empty when the format names none
    std::vector<std::vector<Vec3>> frames;
    double rate = 0.0;
    int startFrame = 1;  // the number of the frame that plays at time 0 is 1
    int firstRow = 0;    // TRC: the Frame# of the first row
    bool hasStart = false;
    bool hasSeen = false;  // the format says which samples were not seen
    std::string error;
};

Vec3 Scaled(const Vec3& v, double s) {
    return {v[0] * s, v[1] * s, v[2] * s};
}

// The lab axes a C3D file shows to the right and up (POINT:X_SCREEN and Y_SCREEN; "+X" and
// "+Z" when missing, unreadable or naming one axis twice).
std::array<Vec3, 2> C3dScreen(const std::string& bytes) {
    std::array<Vec3, 2> screen{Vec3{1, 0, 0}, Vec3{0, 0, 1}}, named = screen;
    auto u8 = [&](size_t at) { return at < bytes.size() ? uint8_t(bytes[at]) : uint8_t(0); };
    size_t at = (size_t(u8(0)) - 1) * 512 + 4;
    const bool big = u8(at - 1) == 86;
    while (at + 4 < bytes.size()) {
        const int length = std::abs(int(int8_t(u8(at))));
        if (length == 0 || u8(at + 1) == 0) break;
        const std::string name = bytes.substr(at + 2, size_t(length));
        const size_t field = at + 2 + size_t(length);
        const int offset = big ? u8(field) << 8 | u8(field + 1) : u8(field) | u8(field + 1) << 8;
        const int entry = name == "X_SCREEN" ? 0 : name == "Y_SCREEN" ? 1 : -1;
        if (entry >= 0 && int8_t(u8(at + 1)) > 0 && int8_t(u8(field + 2)) == -1) {
            size_t i = field + 4 + u8(field + 3);
            double sign = 1;
            if (u8(i) == '-' || u8(i) == '+') sign = u8(i++) == '-' ? -1 : 1;
            const int axis = std::toupper(u8(i)) - 'X';
            if (axis >= 0 && axis <= 2) {
                named[size_t(entry)] = Vec3{};
                named[size_t(entry)][size_t(axis)] = sign;
            }
        }
        if (offset == 0) break;
        at = field + size_t(offset);
    }
    const Vec3 &a = named[0], &b = named[1];
    const double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    return dot == 0 ? named : screen;
}

Markers ReadC3dMarkers(const std::string& path) {
    Markers out;
    const Motion m = ReadC3d(path);
    if (!m.error.empty()) return out.error = m.error, out;
    std::ifstream in(path, std::ios::binary);
    const std::array<Vec3, 2> screen =
        C3dScreen(std::string((std::istreambuf_iterator<char>(in)), {}));
    // Scene axes: the screen's right is -X, its up +Y and right x up -Z, whatever lab axes
    // the file shows there (with "+X" and "+Z": the file's (x, y, z) as (-x, z, y)).
    const Vec3 &a = screen[0], &b = screen[1];
    const Vec3 c{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    auto dot = [](const Vec3& p, const Vec3& q) { return p[0] * q[0] + p[1] * q[1] + p[2] * q[2]; };
    out.names = m.names;
    out.rate = m.rate;
    out.startFrame = m.firstFrame;
    out.hasStart = out.hasSeen = true;
    for (const auto& frame : m.frames) {
        out.frames.emplace_back();
        for (const Vec3& v : frame) {
            // Millimetres.
            out.frames.back().push_back(Vec3{-dot(v, a) * 0.1, dot(v, b) * 0.1, -dot(v, c) * 0.1});
        }
    }
    return out;
}

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

Markers ReadTrcMarkers(const std::string& path) {
    Markers out;
    const Motion m = ReadTrc(path);
    const std::vector<std::string> lines = Lines(path);
    if (!m.error.empty() || lines.size() < 3) return out.error = "no TRC header", out;
    const std::vector<std::string> type = SplitTabs(lines[0]), values = SplitTabs(lines[2]);
    const std::string units = values.size() > 4 ? Trimmed(values[4]) : "";
    const double scale = units == "mm" ? 0.1 : units == "cm" ? 1.0 : units == "m" ? 100.0 : 0.0;
    if (scale == 0.0) return out.error = "units " + units, out;
    // Type 3 has no start; type 4 names its first frame.
    if (type.size() > 1 && Trimmed(type[1]) == "4" && values.size() > 6)
        out.startFrame = std::stoi(values[6]);
    out.names = m.names;
    out.rate = m.rate;
    out.firstRow = m.firstFrame;
    out.hasStart = out.hasSeen = true;
    for (const auto& frame : m.frames) {
        out.frames.emplace_back();
        for (const Vec3& v : frame) out.frames.back().push_back(Scaled(v, scale));
    }
    return out;
}

Markers ReadAoaMarkers(const std::string& path) {
    Markers out;
    std::ifstream in(path);
    std::string word;
    int frames = 0, markers = 0;
    in >> word >> word >> frames >> word >> word >> markers >> word >> word >> out.rate;
    if (!in || frames < 0 || markers < 0) return out.error = "no AOA header", out;
    for (int f = 0; f < frames; ++f) {
        out.frames.emplace_back();
        for (int k = 0; k < markers; ++k) {
            Vec3 v;
            in >> v[0] >> v[1] >> v[2];
            out.frames.back().push_back(v);
        }
    }
    if (!in) out.error = "AOA samples cut short";
    return out;
}

// One line per marker and frame: "frame id P x y z Q ... s us", frames numbered from 0 at
// time 0.
Markers ReadBrdMarkers(const std::string& path) {
    Markers out;
    int first = -1, last = -1;
    double firstTime = 0, lastTime = 0;
    for (const std::string& line : Lines(path)) {
        std::istringstream s(line);
        int frame, id;
        std::string p, q;
        Vec3 v;
        double r[4], seconds, micro;
        if (!(s >> frame >> id >> p >> v[0] >> v[1] >> v[2] >> q >> r[0] >> r[1] >> r[2] >> r[3] >>
              seconds >> micro))
            continue;
        if (frame < 0 || id < 0) return out.error = "negative frame or id", out;
        if (out.frames.size() <= size_t(frame)) out.frames.resize(size_t(frame) + 1);
        auto& row = out.frames[size_t(frame)];
        if (row.size() <= size_t(id)) row.resize(size_t(id) + 1, Vec3{kUnseen, kUnseen, kUnseen});
        row[size_t(id)] = v;
        const double time = seconds + micro * 1e-6;
        if (first < 0 || frame < first) first = frame, firstTime = time;
        if (frame > last) last = frame, lastTime = time;
    }
    if (first < 0) return out.error = "no frames", out;
    out.frames.erase(out.frames.begin(), out.frames.begin() + first);
    out.rate =
        last > first && lastTime > firstTime ? (last - first) / (lastTime - firstTime) : 30.0;
    // Frame n plays at n / rate: the one at time 0 is frame 0.
    out.startFrame = first + 1;
    out.hasStart = true;
    return out;
}

// A row per frame: the time, then per marker translation, rotation and scaling.
Markers ReadMovMarkers(const std::string& path, double& firstTime, double& largestTime) {
    Markers out;
    std::vector<double> times;
    for (const std::string& line : Lines(path)) {
        std::istringstream s(line);
        std::vector<double> row;
        for (double v; s >> v;) row.push_back(v);
        if (row.empty()) continue;
        if ((row.size() - 1) % 9 != 0)
            return out.error = "row of " + std::to_string(row.size()), out;
        times.push_back(row[0]);
        out.frames.emplace_back();
        for (size_t c = 1; c + 8 < row.size(); c += 9)
            out.frames.back().push_back({row[c], row[c + 1], row[c + 2]});
    }
    if (times.empty()) return out.error = "no rows", out;
    // The reader's estimate: the mean of the neighbouring rates over the first ten rows.
    double rate = 0.0;
    for (size_t i = 1; i < std::min<size_t>(times.size(), 10); ++i)
        if (times[i] > times[0])
            rate = rate <= 0.0 ? 1.0 / (times[i] - times[0])
                               : (1.0 / (times[i] - times[i - 1]) + rate) * 0.5;
    out.rate = rate > 0.0 ? rate : 30.0;
    firstTime = times[0];
    largestTime = 0.0;
    for (double t : times) largestTime = std::max(largestTime, std::fabs(t));
    out.startFrame = int(std::lround(times[0] * out.rate)) + 1;
    out.hasStart = true;
    return out;
}

// Blocks of one segment each: name, frame count, frame time, then inches per frame.
Markers ReadVpmMarkers(const std::string& path) {
    Markers out;
    const std::vector<std::string> lines = Lines(path);
    for (size_t l = 0; l + 4 < lines.size();) {
        std::istringstream name(lines[l]), count(lines[l + 1]), period(lines[l + 2]);
        std::string word, segment;
        int frames = 0;
        double frameTime = 0;
        name >> word >> segment;
        count >> word >> frames;
        period >> word >> word >> frameTime;
        if (word != "Time:" || frames < 0 || frameTime <= 0) return out.error = "bad block", out;
        out.names.push_back(segment);
        out.rate = 1.0 / frameTime;
        out.frames.resize(std::max(out.frames.size(), size_t(frames)));
        for (int f = 0; f < frames; ++f) {
            std::istringstream s(lines.at(l + 5 + size_t(f)));
            Vec3 v;
            s >> v[0] >> v[1] >> v[2];
            out.frames[size_t(f)].push_back(Scaled(v, 2.54));
        }
        l += 5 + size_t(frames);
    }
    return out;
}

// A marker format as qovtool writes it: its reading and the precision of its numbers.
struct Format {
    const char* extension;
    double absolute;  // centimetres a printed sample may be off
    double relative;  // and the share of its size
    double rateRelative;
    double rateAbsolute;
    bool names;  // holds the marker names as the scene has them
};

const Format kFormats[] = {
    // "%.5f" mm; "%.2f" rate.
    {"trc", 5e-7, 0.0, 0.0, 0.005, true},
    // IEEE floats.
    {"c3d", 0.0, 1.2e-7, 1.2e-7, 0.0, true},
    // "%g": six significant digits.
    {"aoa", 0.0, 5e-6, 5e-6, 0.0, false},
    {"mcd", 0.0, 5e-6, 5e-6, 0.0, false},
    {"brd", 0.0, 5e-6, 0.0, 0.0, false},  // the rate: see Compare
    {"mov", 0.0, 5e-6, 0.0, 0.0, false},  // the rate: see Compare
    {"vpm", 0.0, 5e-6, 5e-6, 0.0, false},
};

Markers ReadMarkers(const std::string& path, double* movTimes = nullptr) {
    const std::string e = Extension(path);
    if (e == "c3d") return ReadC3dMarkers(path);
    if (e == "trc") return ReadTrcMarkers(path);
    if (e == "aoa" || e == "mcd") return ReadAoaMarkers(path);
    if (e == "brd") return ReadBrdMarkers(path);
    if (e == "vpm") return ReadVpmMarkers(path);
    if (e == "mov") {
        double first = 0, largest = 0;
        Markers m = ReadMovMarkers(path, first, largest);
        if (movTimes) *movTimes = largest;
        return m;
    }
    Markers none;
    none.error = "no reading of " + e;
    return none;
}

bool Unseen(const Vec3& v) {
    return std::isnan(v[0]);
}

// The names a reader gives repeated labels: the second and later get " 1", " 2", ....
std::vector<std::string> Unique(const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const std::string& name : names) {
        int before = 0;
        for (size_t i = 0; i < out.size(); ++i) before += Lower(names[i]) == Lower(name);
        out.push_back(before ? name + " " + std::to_string(before) : name);
    }
    return out;
}

// `got` (a file written as `format`) holds what `source` holds, each number to the printed
// precision of both.
void Compare(const Markers& source, const Format& format, const Markers& got, double movTimes) {
    ASSERT_EQ(got.error, "");
    ASSERT_EQ(got.frames.size(), source.frames.size()) << "frame count";
    double rateTolerance =
        format.rateAbsolute + format.rateRelative * source.rate + source.rate * 2e-7;
    // MOV keeps no rate: the reader estimates it from times printed to six digits.
    if (std::string(format.extension) == "mov")
        rateTolerance = 2.0 * 5e-6 * movTimes * source.rate * source.rate * 1.01 + 1e-9;
    // BRD keeps none either: its sample times are whole seconds and "%g" microseconds.
    if (std::string(format.extension) == "brd" && source.frames.size() > 1)
        rateTolerance = source.rate * source.rate * 1e-6 / double(source.frames.size() - 1) * 1.01;
    // Neither holds a rate for a single frame: there is no time between frames.
    const bool timed =
        std::string(format.extension) == "brd" || std::string(format.extension) == "mov";
    if (!timed || source.frames.size() > 1) {
        EXPECT_NEAR(got.rate, source.rate, rateTolerance) << "rate";
    }
    if (got.hasStart) {
        EXPECT_EQ(got.startFrame, source.startFrame) << "start frame";
    }
    if (std::string(format.extension) == "trc") {
        EXPECT_EQ(got.firstRow, got.startFrame) << "Frame# of the first row";
    }
    // Markers beyond the names a file gives (a TRC row longer than its names line) are named
    // by the reader; the named ones keep their names.
    if (format.names && !source.names.empty()) {
        std::vector<std::string> names = Unique(source.names);
        // TRC holds a blank of a label as '_', as its reader reads it back.
        if (std::string(format.extension) == "trc")
            for (std::string& name : names) std::replace(name.begin(), name.end(), ' ', '_');
        ASSERT_GE(got.names.size(), names.size());
        EXPECT_EQ(
            std::vector<std::string>(got.names.begin(), got.names.begin() + long(names.size())),
            names);
    }
    size_t compared = 0, seenMismatches = 0;
    double worst = 0.0;
    std::string where;
    for (size_t f = 0; f < source.frames.size(); ++f) {
        ASSERT_GE(got.frames[f].size(), source.frames[f].size()) << "frame " << f;
        for (size_t k = 0; k < source.frames[f].size(); ++k) {
            const Vec3 &a = source.frames[f][k], &b = got.frames[f][k];
            if (got.hasSeen && Unseen(a) != Unseen(b)) ++seenMismatches;
            if (Unseen(a) || Unseen(b)) continue;
            for (size_t i = 0; i < 3; ++i) {
                // The scene keeps single-precision keys.
                const double allowed =
                    format.absolute + (format.relative + 3e-7) * std::fabs(a[i]) + 1e-9;
                const double off = std::fabs(a[i] - b[i]) / allowed;
                if (off > worst)
                    worst = off,
                    where = "marker " + std::to_string(k) + " frame " + std::to_string(f);
            }
            ++compared;
        }
    }
    EXPECT_GT(compared, 0u);
    EXPECT_EQ(seenMismatches, 0u);
    EXPECT_LE(worst, 1.0) << "times the allowed difference, at " << where << " of " << compared;
}

// The source through every marker format, directly and through binary and ASCII QOV.
void AllRoutes(const TempTestFolder& folder, const std::string& source, size_t& routes) {
    const Markers expected = ReadMarkers(source);
    ASSERT_EQ(expected.error, "");
    ASSERT_FALSE(expected.frames.empty());
    std::string output;
    const std::string binary = folder / "through.qov", ascii = folder / "through-ascii.qov";
    ASSERT_EQ(RunTool({"convert", source, binary}, output), 0) << output;
    ASSERT_EQ(RunTool({"convert", source, ascii, "--ascii"}, output), 0) << output;
    for (const Format& format : kFormats) {
        for (const std::string& from : {source, binary, ascii}) {
            const std::string to = folder / ("out." + std::string(format.extension));
            SCOPED_TRACE(from + " -> " + to);
            ASSERT_EQ(RunTool({"convert", from, to}, output), 0) << output;
            double movTimes = 0.0;
            const Markers got = ReadMarkers(to, &movTimes);
            Compare(expected, format, got, movTimes);
            ++routes;
        }
    }
}

struct Made {
    const char* name;
    Capture capture;
};

std::vector<Made> Captures() {
    std::vector<Made> made;
    // Gait-lab units: the ANALYSIS group's "m/s" says nothing of the points' millimetres.
    Capture units = Make(3, 6, 120.0f, 1);
    units.analysisUnits = true;
    units.frames[2][1] = Vec3{kUnseen, kUnseen, kUnseen};
    made.push_back({"analysis-units.c3d", units});
    // An EMG system's rate, integer samples.
    Capture emg = Make(2, 12, 1000.0f, 1);
    emg.scale = 0.125f;
    made.push_back({"emg-1000hz.c3d", emg});
    // A rate no time mode has, from frame 725, unseen samples at the start and in the middle.
    Capture gait = Make(4, 20, 250.0f, 725);
    gait.frames[0][3] = gait.frames[7][0] = gait.frames[8][0] = Vec3{kUnseen, kUnseen, kUnseen};
    made.push_back({"gait-250hz.c3d", gait});
    // Two frames of a 200 Hz capture.
    made.push_back({"two-frames-200hz.c3d", Make(2, 2, 200.0f, 1)});
    // A clinical file's repeated labels.
    Capture repeated = Make(6, 4, 100.0f, 10);
    repeated.labels = {"LASI", "RASI", "LASI", "LPSI", "rasi", "LASI"};
    made.push_back({"repeated-labels.c3d", repeated});
    return made;
}

TEST(MarkerRoutes, CapturesMadeHereComeBackByEveryRoute) {
    ASSERT_TRUE(Exists(Tool())) << "qovtool is not built: " << Tool();
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    size_t routes = 0;
    for (const Made& m : Captures()) {
        SCOPED_TRACE(m.name);
        WriteC3d(folder / m.name, m.capture);
        AllRoutes(folder, folder / m.name, routes);
    }
    // A TRC capture from frame 41 with a marker unseen in two frames; an AOA capture.
    Capture walk = Make(3, 8, 60.0f, 1);
    walk.frames[3][2] = walk.frames[4][2] = Vec3{kUnseen, kUnseen, kUnseen};
    WriteTrc(folder / "walk.trc", walk, 41);
    AllRoutes(folder, folder / "walk.trc", routes);
    WriteAoa(folder / "wand.aoa", Make(2, 5, 250.0f, 1));
    AllRoutes(folder, folder / "wand.aoa", routes);
    // Rates that divide 30: through QOV at their own rate, no frames made up between.
    const struct {
        float rate;
        int start;
    } slow[] = {{10.0f, 1}, {15.0f, 7}, {5.0f, 1}, {1.0f, 101}};
    for (const auto& s : slow) {
        const std::string name = "slow-" + std::to_string(int(s.rate)) + "hz.trc";
        SCOPED_TRACE(name);
        WriteTrc(folder / name, Make(2, 4, s.rate, 1), s.start);
        AllRoutes(folder, folder / name, routes);
    }
    EXPECT_EQ(routes, 11u * 7u * 3u);
}

// A TRC file's first `frames` rows, its frame counts saying so.
std::string TrcFirstFrames(const std::string& path, int frames, const std::string& out) {
    std::ofstream copy(out, std::ios::binary);
    int rows = 0;
    const std::vector<std::string> lines = Lines(path);
    for (size_t l = 0; l < lines.size() && rows < frames; ++l) {
        std::string line = lines[l];
        if (l == 2) {
            const bool cr = !line.empty() && line.back() == '\r';
            std::vector<std::string> fields = SplitTabs(Trimmed(line));
            fields.at(2) = fields.at(7) = std::to_string(frames);
            line.clear();
            for (const std::string& field : fields) line += (line.empty() ? "" : "\t") + field;
            if (cr) line += '\r';
        } else if (l >= 5 && !SplitTabs(line).empty() && !Trimmed(SplitTabs(line)[0]).empty()) {
            ++rows;
        }
        copy << line << "\n";
    }
    return out;
}

// A little-endian C3D file (Intel or DEC) cut to its first `frames` frames: the header's last
// frame and POINT:FRAMES say so, and the samples after them stay in the file unread.
std::string C3dFirstFrames(const std::string& path, int frames, const std::string& out) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    auto word = [&](size_t at, int value) {
        bytes.at(at) = char(value & 0xFF), bytes.at(at + 1) = char(value >> 8 & 0xFF);
    };
    auto u8 = [&](size_t at) { return uint8_t(bytes.at(at)); };
    word(8, (u8(6) | u8(7) << 8) + frames - 1);
    std::map<int, std::string> groups;
    for (size_t at = (size_t(u8(0)) - 1) * 512 + 4;;) {
        const int length = std::abs(int(int8_t(u8(at)))), id = int8_t(u8(at + 1));
        if (length == 0) break;
        const std::string name = bytes.substr(at + 2, size_t(length));
        const size_t field = at + 2 + size_t(length);
        if (id < 0) groups[-id] = name;
        if (id > 0 && groups[id] == "POINT" && name == "FRAMES" && int8_t(u8(field + 2)) == 2)
            word(field + 4 + u8(field + 3), frames);
        const int offset = u8(field) | u8(field + 1) << 8;
        if (offset == 0) break;
        at = field + size_t(offset);
    }
    std::ofstream(out, std::ios::binary) << bytes;
    return out;
}

// The real marker files of the test data by every route. Of the long captures, the first frames
// go through the 21 routes: 120 of 450, and of Gait.trc 180 of 487 (its markers are first seen
// from frame 150 on). Each is taken whole through its own format and QOV by
// RealFileConversionTest.
TEST(MarkerRoutes, RealFilesComeBackByEveryRoute) {
    ASSERT_TRUE(Exists(Tool())) << "qovtool is not built: " << Tool();
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    size_t routes = 0;
    struct Row {
        const char* name;
        int frames;  // the first frames taken; 0: all
    };
    for (const Row& row :
         // One file of each processor kind and sample form is enough: the others are the
         // same captures.
         {Row{"trc/Gait.trc", 180}, {"trc/test_file_01.trc", 0}, {"trc/test_file_05.trc", 0},
          {"c3d/MyCube.c3d", 0}, {"c3d/badParameterOffset.c3d", 0},
          {"c3d/sample01-Eb015pi.c3d", 120}, {"c3d/sample01-Eb015vr.c3d", 120},
          {"c3d/sample02-sgi_int.c3d", 0}}) {
        SCOPED_TRACE(row.name);
        std::string path = std::string(QOV_TESTDATA_DIR) + "/" + row.name;
        ASSERT_TRUE(Exists(path)) << "test data missing: " << path;
        if (row.frames > 0) {
            const std::string first = folder / ("first." + Extension(path));
            path = Extension(path) == "trc" ? TrcFirstFrames(path, row.frames, first)
                                            : C3dFirstFrames(path, row.frames, first);
            const Markers taken = ReadMarkers(path);
            ASSERT_EQ(taken.frames.size(), size_t(row.frames));
            size_t unseen = 0;
            for (const auto& frame : taken.frames)
                unseen += size_t(std::count_if(frame.begin(), frame.end(), Unseen));
            EXPECT_GT(unseen, 0u) << "the frames taken show no unseen marker";
            EXPECT_LT(unseen, taken.frames.size() * taken.frames[0].size())
                << "the frames taken show no marker seen";
        }
        AllRoutes(folder, path, routes);
    }
    EXPECT_EQ(routes, 8u * 7u * 3u);
}

// What the tool says of repeated labels and of a file it cannot read: the renamed points, and
// a refusal's reason once.
TEST(MarkerRoutes, RenamingsAndRefusalsAreToldOnce) {
    ASSERT_TRUE(Exists(Tool())) << "qovtool is not built: " << Tool();
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string repeated = folder / "repeated.c3d";
    Capture c = Make(4, 3, 100.0f, 1);
    c.labels = {"LASI", "RASI", "LASI", "LASI"};
    WriteC3d(repeated, c);
    std::string output;
    ASSERT_EQ(RunTool({"convert", repeated, folder / "out.trc"}, output), 0) << output;
    // One line each, with the reason.
    EXPECT_EQ(Count(output, "Warning: Label \"LASI\" read as \"LASI 1\": an earlier label has "
                            "that name\n"),
              1u)
        << output;
    EXPECT_EQ(Count(output, "Warning: Label \"LASI\" read as \"LASI 2\": an earlier label has "
                            "that name\n"),
              1u)
        << output;
    // `info` reads as convert does, and says so too.
    ASSERT_EQ(RunTool({"info", repeated}, output), 0) << output;
    EXPECT_NE(output.find("marker: 4"), std::string::npos) << output;
    EXPECT_NE(output.find("\"LASI\" read as \"LASI 2\""), std::string::npos) << output;

    // Samples cut short: the reader's reason, once, for both commands.
    std::ifstream in(repeated, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    bytes.resize(bytes.size() - 20);
    const std::string cut = folder / "cut.c3d";
    std::ofstream(cut, std::ios::binary) << bytes;
    for (const char* command : {"convert", "info"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> arguments{command, cut};
        if (std::string(command) == "convert") arguments.push_back(folder / "cut.trc");
        EXPECT_EQ(RunTool(arguments, output), 1) << output;
        EXPECT_EQ(Count(output, "frame 3 cannot be read"), 1u) << output;
        EXPECT_EQ(Count(output, "File is corrupted"), 1u) << output;
    }
    // Names that clash where no renaming applies (two VPM segments of one name): the clash is
    // the reason, told once, and the file is not called corrupted.
    const std::string vpm = folder / "twice.vpm";
    {
        std::ofstream out(vpm);
        for (int i = 0; i < 2; ++i)
            out << "Segment:\tball\nFrames:\t1\nFrame Time:\t0.04\n"
                   "XTRAN\tYTRAN\tZTRAN\tXROT\tYROT\tZROT\tXSCALE\tYSCALE\tZSCALE\n"
                   "INCHES\tINCHES\tINCHES\tDEGREES\tDEGREES\tDEGREES\tPERCENT\tPERCENT\tPERCENT\n"
                   "1\t2\t3\t0\t0\t0\t100\t100\t100\n";
    }
    for (const char* command : {"convert", "info"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> arguments{command, vpm};
        if (std::string(command) == "convert") arguments.push_back(folder / "twice.trc");
        EXPECT_EQ(RunTool(arguments, output), 1) << output;
        EXPECT_EQ(Count(output, "Duplicate names found in twice.vpm:"), 1u) << output;
        EXPECT_NE(output.find("ball"), std::string::npos) << output;
        EXPECT_EQ(Count(output, "File is corrupted"), 0u) << output;
    }
}

// A capture of no points (analog channels only, which are not read) converts to nothing, by
// any route, and says why; `info` still shows its frames and rate.
TEST(MarkerRoutes, ACaptureWithoutPointsIsNotConverted) {
    ASSERT_TRUE(Exists(Tool())) << "qovtool is not built: " << Tool();
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    Capture c = Make(0, 138, 1000.0f, 1);
    c.analysisUnits = true;
    c.analogPerFrame = 4;
    const std::string emg = folder / "emg.c3d";
    WriteC3d(emg, c);
    const std::string why = "No marker read: the file holds no points (analog channels are not read)";
    std::string output;
    for (const char* extension : {"c3d", "qov", "trc"}) {
        SCOPED_TRACE(extension);
        const std::string out = folder / (std::string("out.") + extension);
        std::ofstream(out) << "old";
        EXPECT_EQ(RunTool({"convert", emg, out}, output), 1) << output;
        EXPECT_NE(output.find(why), std::string::npos) << output;
        EXPECT_NE(output.find("nothing was read from this file; nothing written"),
                  std::string::npos)
            << output;
        std::ifstream kept(out);
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), {}), "old");
    }
    ASSERT_EQ(RunTool({"info", emg}, output), 0) << output;
    EXPECT_NE(output.find(why), std::string::npos) << output;
    EXPECT_NE(output.find("frame rate: 1000 fps"), std::string::npos) << output;
    EXPECT_NE(output.find(", 138 frames (current)"), std::string::npos) << output;
}

// The points' unit is the POINT group's UNITS, wherever the group's record stands: here after
// its parameters, with an ANALYSIS group numbered 1 (the number POINT has by default) whose
// UNITS are "m/s".
TEST(MarkerRoutes, OnlyThePointGroupsUnitsScaleThePoints) {
    ASSERT_TRUE(Exists(Tool())) << "qovtool is not built: " << Tool();
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    Bytes p;
    p.U8(1), p.U8(0x50), p.U8(1), p.U8(84);
    auto record = [&](int id, const std::string& name, int type, std::vector<int> dims,
                      const std::string& data) { p.Parameter(id, name, type, dims, data); };
    Bytes one, scale;
    one.U16(1);
    scale.F32(-1.0f);
    p.Group(1, "ANALYSIS");
    record(1, "UNITS", -1, {3, 1}, "m/s");
    record(2, "USED", 2, {}, one.b);
    record(2, "SCALE", 4, {}, scale.b);
    record(2, "UNITS", -1, {1}, "m");
    p.Group(2, "POINT");
    p.U8(0), p.U8(0);
    Bytes f;
    f.U8(2), f.U8(0x50), f.U16(1), f.U16(0), f.U16(1), f.U16(1), f.U16(0), f.F32(-1.0f);
    f.U16(3), f.U16(0), f.F32(100.0f);
    f.PadTo(512);
    f.b += p.b;
    f.PadTo(1024);
    f.F32(0.5f), f.F32(1.25f), f.F32(-0.75f), f.F32(0.0f);
    std::ofstream(folder / "metres.c3d", std::ios::binary) << f.b;
    std::string output;
    ASSERT_EQ(RunTool({"convert", folder / "metres.c3d", folder / "metres.trc"}, output), 0)
        << output;
    const Motion trc = ReadTrc(folder / "metres.trc");
    ASSERT_EQ(trc.error, "");
    ASSERT_EQ(trc.frames.size(), 1u);
    ASSERT_EQ(trc.frames[0].size(), 1u);
    // Scene axes are (-x, z, y) of the file's; millimetres in the TRC file.
    EXPECT_DOUBLE_EQ(trc.frames[0][0][0], -500.0);
    EXPECT_DOUBLE_EQ(trc.frames[0][0][1], -750.0);
    EXPECT_DOUBLE_EQ(trc.frames[0][0][2], 1250.0);
}

// info on a capture kept in QOV gives the rate and frames a conversion writes, not the scene's
// time mode.
TEST(MarkerRoutes, InfoOfACaptureInQovGivesItsKeysRate) {
    ASSERT_TRUE(Exists(Tool())) << "qovtool is not built: " << Tool();
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    const struct {
        const char* name;
        Capture capture;
        const char* rate;
        const char* take;
    } cases[] = {
        {"gait", Make(2, 20, 250.0f, 725), "250", "2.896-2.972 s, 20 frames"},
        {"slow", Make(2, 4, 10.0f, 1), "10", "0-0.3 s, 4 frames"},
        {"odd", Make(1, 3, 33.0f, 1), "33", "0-0.061 s, 3 frames"},
        // Keys closer than a thousandth of the scene's frame: still the capture's own rate.
        {"fast", Make(1, 5, 30000.0f, 1), "30000", "0-0.000133 s, 5 frames"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string c3d = folder / (c.name + std::string(".c3d"));
        const std::string qov = folder / (c.name + std::string(".qov"));
        WriteC3d(c3d, c.capture);
        std::string output;
        ASSERT_EQ(RunTool({"convert", c3d, qov}, output), 0) << output;
        ASSERT_EQ(RunTool({"info", qov}, output), 0) << output;
        EXPECT_NE(output.find("frame rate: " + std::string(c.rate) + " fps\n"), std::string::npos)
            << output;
        EXPECT_NE(output.find("  " + std::string(c.name) + ": " + c.take), std::string::npos)
            << output;
    }
}

// The rate a writer samples a scene at: the scene's time mode, unless the keys lie on a grid of
// another step (a capture read back from QOV, whose time mode could not hold its rate).
TEST(MarkerRoutes, WriteRateFollowsTheKeysWhereTheTimeModeMissesThem) {
    struct Case {
        const char* what;
        double keyRate;  // keys every 1 / keyRate s
        double offGrid;  // seconds added to every other key
        int frames;
        int mode;     // the scene's
        double rate;  // the writer's
        int frameCount;
        int leftOut = -1;  // a key not set
        // Keys as a capture's reader makes them (automatic tangents), TCB keys, or keys of
        // tangents set by hand: the last two shape the motion between them.
        enum { eCapture, eTcb, eUser } shape = eCapture;
    } cases[] = {
        {"250 Hz keys in a 30 fps scene", 250.0, 0.0, 111, KTime::eFRAMES30, 250.0, 111},
        {"two 200 Hz keys", 200.0, 0.0, 2, KTime::eFRAMES30, 200.0, 2},
        {"keys every other frame of the mode", 30.0, 0.0, 10, KTime::eFRAMES60, 30.0, 10},
        {"10 Hz keys in a 30 fps scene", 10.0, 0.0, 40, KTime::eFRAMES30, 10.0, 40},
        {"1 Hz keys in a 24 fps scene", 1.0, 0.0, 4, KTime::eFRAMES24, 1.0, 4},
        // Keys set at a few moments, not samples: the mode's frames between them.
        {"two keys a second apart", 1.0, 0.0, 2, KTime::eFRAMES30, 30.0, 31},
        {"10 Hz keys with one left out", 10.0, 0.0, 5, KTime::eFRAMES30, 30.0, 13, 2},
        {"keys on the mode's frames", 100.0, 0.0, 10, KTime::eFRAMES100, 100.0, 10},
        {"60 Hz keys in a 30 fps scene", 60.0, 0.0, 10, KTime::eFRAMES30, 60.0, 10},
        // Keys a thousandth of the mode's frame apart and closer: still a capture's samples,
        // as far as the fastest rate a file holds (a rate read within its slack is that rate).
        {"30 kHz keys in a 30 fps scene", 30000.0, 0.0, 5, KTime::eFRAMES30, 30000.0, 5},
        // A frame of whole ticks is up to a tick off: the roundest rate that close.
        {"250 kHz keys", 250000.0, 0.0, 5, KTime::eFRAMES30, 250000.0, 5},
        {"1 MHz keys", 1e6, 0.0, 5, KTime::eFRAMES30, 1e6, 5},
        {"keys at 1000050 Hz", 1000050.0, 0.0, 5, KTime::eFRAMES30, 1e6, 5},
        {"keys closer than any file holds", 2e6, 0.0, 5, KTime::eFRAMES30, 30.0, 1},
        {"keys on no grid", 250.0, 0.0013, 12, KTime::eFRAMES30, 30.0, 2},
        {"one key", 250.0, 0.0, 1, KTime::eFRAMES30, 30.0, 1},
        // Keys at times that wrap past the longest time held: no overflow finding their grid.
        {"keys at the ends of time", 5e-9, 0.0, 4, KTime::eFRAMES30, 30.0, 1},
        // Key frames: the scene's own rate, its frames between the keys.
        {"TCB keys every second of a 30 fps scene", 1.0, 0.0, 11, KTime::eFRAMES30, 30.0, 301,
         -1, Case::eTcb},
        {"TCB keys every 5 frames of a 60 fps scene", 12.0, 0.0, 7, KTime::eFRAMES60, 60.0, 31,
         -1, Case::eTcb},
        {"TCB keys at 12 Hz in a 30 fps scene", 12.0, 0.0, 7, KTime::eFRAMES30, 30.0, 16, -1,
         Case::eTcb},
        // Key frames closer than the scene's frames: sampled at their grid, every key kept.
        {"keys of set tangents at 250 Hz in a 30 fps scene", 250.0, 0.0, 111, KTime::eFRAMES30,
         250.0, 111, -1, Case::eUser},
        {"TCB keys at 40 Hz in a 30 fps scene", 40.0, 0.0, 9, KTime::eFRAMES30, 40.0, 9, -1,
         Case::eTcb},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        conversiontest::TestScene t;
        KQovNode* node = t.manager.CreateNode("M1");
        KQovMarker* marker = t.manager.CreateMarker();
        marker->SetType(KQovMarker::eOptical);
        node->SetNodeAttribute(marker);
        t.scene->GetRootNode()->AddChild(node);
        node->AddTakeNode("Take");
        node->SetCurrentTakeNode("Take");
        KFCurve* curve = node->GetCurrentTakeNode()->GetTranslationX();
        ASSERT_NE(curve, nullptr);
        KTime start, time;
        start.SetSecondDouble(2.896);
        const int keys = c.frames - (c.leftOut >= 0);
        curve->PrepareKeys(keys);
        for (int f = 0, k = 0; f < c.frames; ++f) {
            if (f == c.leftOut) continue;
            KTime step;
            step.SetSecondDouble(f / c.keyRate + (f % 2 ? c.offGrid : 0.0));
            time = start + step;
            if (c.shape == Case::eTcb)
                curve->KeySetTCB(k++, time, float(f % 2));
            else if (c.shape == Case::eUser)
                curve->KeySet(k++, time, float(f % 2), KFCURVE_INTERPOLATION_CUBIC,
                              KFCURVE_TANGENT_USER, 0.0f, 0.0f);
            else
                KMotionSetKey(curve, k++, time, f);
        }
        curve->CommitKeys(keys);
        KQovTakeInfo take;
        take.name = "Take";
        take.localTimeSpan.Set(start, c.offGrid > 0 ? start + KTime(KTime::kOneSecond / 30) : time);
        take.referenceTimeSpan = take.localTimeSpan;
        t.scene->SetTakeInfo(take);
        t.scene->SetCurrentTake("Take");
        t.scene->GetGlobalTimeSettings().SetTimeMode(c.mode);
        KStreamOptionsMotion options;
        KQovFillWriteOptions(*t.scene, options);
        EXPECT_NEAR(options.GetFrameRate(), c.rate, 1e-6);
        EXPECT_EQ(options.GetFrameCount(), c.frameCount);
        EXPECT_EQ(options.GetStartTime(), start);
    }
}

}  // namespace
