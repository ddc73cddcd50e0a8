#pragma once
// Readings of the motion files that use nothing of the library: the texts parsed here and the
// joints placed by forward kinematics on plain 3x3 matrices (column vectors), the marker
// files' numbers taken as they stand. They tell
// what a file holds whichever program wrote it.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace independent {

using Mat3 = std::array<std::array<double, 3>, 3>;
using Vec3 = std::array<double, 3>;

inline Mat3 Identity() {
    return {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
}

// On row pointers: the tests build unoptimised, where each std::array index is a call, and
// these run for every joint at every frame.
inline Mat3 Mul(const Mat3& a, const Mat3& b) {
    Mat3 r{};
    const double* rb[3] = {b[0].data(), b[1].data(), b[2].data()};
    for (int i = 0; i < 3; ++i) {
        const double* ra = a[size_t(i)].data();
        double* out = r[size_t(i)].data();
        for (int j = 0; j < 3; ++j)
            out[j] = ra[0] * rb[0][j] + ra[1] * rb[1][j] + ra[2] * rb[2][j];
    }
    return r;
}

inline Vec3 Apply(const Mat3& m, const Vec3& v) {
    Vec3 r{};
    const double* x = v.data();
    for (int i = 0; i < 3; ++i) {
        const double* row = m[size_t(i)].data();
        r[size_t(i)] = row[0] * x[0] + row[1] * x[1] + row[2] * x[2];
    }
    return r;
}

inline Vec3 Add(const Vec3& a, const Vec3& b) {
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}

inline Mat3 Transposed(const Mat3& m) {
    Mat3 t{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) t[i][j] = m[j][i];
    return t;
}

// A turn by `degrees` about axis 0, 1 or 2.
inline Mat3 Axis(int axis, double degrees) {
    const double a = degrees * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    Mat3 m = Identity();
    m[i][i] = c;
    m[i][j] = -s;
    m[j][i] = s;
    m[j][j] = c;
    return m;
}

inline std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

constexpr double kUnseen = std::numeric_limits<double>::quiet_NaN();

// What a file holds: named joints or markers, a position of each per frame (NaN coordinates
// for a marker not seen), the rate (0 when the file states none), the first frame's number.
struct Motion {
    std::vector<std::string> names;
    std::vector<std::vector<Vec3>> frames;
    double rate = 0.0;
    int firstFrame = 0;
    std::string error;  // why the file could not be read; empty when it was

    int Index(const std::string& name) const {
        auto it = std::find(names.begin(), names.end(), name);
        return it == names.end() ? -1 : int(it - names.begin());
    }
};

// Joints per frame: channels in listed order, the last listed turning first; an end site is
// named after its joint with "_End". `locals`, when given, gets each joint's local rotation
// per frame.
inline Motion ReadBvh(const std::string& path,
                      std::vector<std::vector<Mat3>>* locals = nullptr) {
    struct Joint {
        int parent;
        Vec3 offset;
        std::vector<std::string> channels;
    };
    Motion out;
    std::ifstream in(path);
    std::vector<Joint> joints;
    std::vector<int> open;
    std::string word;
    int frames = -1;
    while (in >> word) {
        if (word == "ROOT" || word == "JOINT" || word == "End") {
            const bool end = word == "End";
            in >> word;
            joints.push_back({open.empty() ? -1 : open.back(), {}, {}});
            out.names.push_back(end ? out.names.at(size_t(open.back())) + "_End" : word);
        } else if (word == "{") {
            open.push_back(int(joints.size()) - 1);
        } else if (word == "}") {
            if (!open.empty()) open.pop_back();
        } else if (word == "OFFSET") {
            for (double& v : joints.back().offset) in >> v;
        } else if (word == "CHANNELS") {
            int n = 0;
            in >> n;
            joints.back().channels.resize(size_t(std::max(n, 0)));
            for (auto& c : joints.back().channels) in >> c;
        } else if (word == "Frames:") {
            double period = 0.0;
            in >> frames >> word >> word >> period;
            out.rate = period > 0.0 ? 1.0 / period : 0.0;
            break;
        }
    }
    if (frames < 0 || joints.empty()) return out.error = "no motion", out;
    for (int f = 0; f < frames; ++f) {
        std::vector<Vec3> position(joints.size());
        std::vector<Mat3> rotation(joints.size());
        for (size_t j = 0; j < joints.size(); ++j) {
            Vec3 t = joints[j].offset;
            Mat3 r = Identity();
            for (const std::string& c : joints[j].channels) {
                double v = 0.0;
                if (!(in >> v)) return out.error = "frame " + std::to_string(f) + " cut", out;
                const int axis = std::toupper(static_cast<unsigned char>(c[0])) - 'X';
                if (c.find("position") != std::string::npos)
                    t[size_t(axis)] = v;
                else
                    r = Mul(r, Axis(axis, v));
            }
            if (locals) {
                locals->resize(size_t(frames));
                (*locals)[size_t(f)].push_back(r);
            }
            const int p = joints[j].parent;
            position[j] = p < 0 ? t : Add(position[size_t(p)], Apply(rotation[size_t(p)], t));
            rotation[j] = p < 0 ? r : Mul(rotation[size_t(p)], r);
        }
        out.frames.push_back(position);
    }
    return out;
}

// Segments per frame in centimetres: the base position then the frame's values, "ZYX" being
// Rz Ry Rx; leaf segments' ends along the bone length axis, named with "_End".
inline Motion ReadHtr(const std::string& path,
                      std::vector<std::vector<Mat3>>* turns = nullptr) {
    Motion out;
    std::ifstream in(path);
    std::string line, order = "ZYX";
    int boneAxis = 1;
    double length = 0.1, angle = 1.0, scale = 1.0;
    std::vector<std::string> names, parents;
    std::map<std::string, std::vector<double>> base;
    std::map<std::string, std::vector<std::vector<double>>> rows;
    std::string section, block;
    auto rotation = [&](const double* r) {
        Mat3 m = Identity();
        for (char c : order) m = Mul(m, Axis(c - 'X', r[c - 'X'] * angle));
        return m;
    };
    while (std::getline(in, line)) {
        std::istringstream s(line);
        std::string word;
        if (!(s >> word) || word[0] == '#') continue;
        if (word[0] == '[') {
            section = word;
            block = word.substr(1, word.size() > 2 ? word.size() - 2 : 0);
            continue;
        }
        std::vector<double> v;
        double x;
        if (section == "[Header]") {
            std::string value;
            s >> value;
            if (word == "EulerRotationOrder") order = value;
            if (word == "CalibrationUnits") length = value == "mm" ? 0.1 : value == "cm" ? 1 : 2.54;
            if (word == "RotationUnits" && Lower(value) == "radians") angle = 180.0 / M_PI;
            if (word == "ScaleFactor") scale = std::stod(value);
            if (word == "BoneLengthAxis") boneAxis = std::toupper(value[0]) - 'X';
            if (word == "DataFrameRate") out.rate = std::stod(value);
        } else if (section == "[SegmentNames&Hierarchy]") {
            names.push_back(word);
            parents.emplace_back();
            s >> parents.back();
        } else {
            while (s >> x) v.push_back(x);
            if (section == "[BasePosition]") {
                base[word] = v;
            } else if (v.size() >= 6) {
                rows[block].push_back({std::stod(word), v[0], v[1], v[2], v[3], v[4], v[5]});
            }
        }
    }
    std::vector<std::string> leaves;
    for (const std::string& name : names)
        if (std::find(parents.begin(), parents.end(), name) == parents.end())
            leaves.push_back(name);
    out.names = names;
    for (const std::string& leaf : leaves) out.names.push_back(leaf + "_End");
    const size_t count = names.empty() ? 0 : rows[names[0]].size();
    if (count == 0) return out.error = "no frames", out;
    out.firstFrame = int(rows[names[0]][0][0]);
    for (size_t f = 0; f < count; ++f) {
        std::map<std::string, std::pair<Vec3, Mat3>> global;
        std::vector<Vec3> positions;
        if (turns) turns->emplace_back();
        for (size_t i = 0; i < names.size(); ++i) {
            const auto& b = base[names[i]];
            if (b.size() < 7 || rows[names[i]].size() <= f) return out.error = "short table", out;
            const auto& k = rows[names[i]][f];
            const double factor = length / scale;
            Vec3 t{(b[0] + k[1]) * factor, (b[1] + k[2]) * factor, (b[2] + k[3]) * factor};
            Mat3 r = Mul(rotation(&b[3]), rotation(&k[4]));
            auto parent = global.find(parents[i]);
            if (parent != global.end()) {
                t = Add(parent->second.first, Apply(parent->second.second, t));
                r = Mul(parent->second.second, r);
            }
            global[names[i]] = {t, r};
            positions.push_back(t);
            if (turns) turns->back().push_back(r);
        }
        for (const std::string& leaf : leaves) {
            Vec3 bone{0, 0, 0};
            bone[size_t(boneAxis)] = base[leaf][6] * length / scale;
            positions.push_back(Add(global[leaf].first, Apply(global[leaf].second, bone)));
        }
        out.frames.push_back(positions);
    }
    return out;
}

// Bone starts (the root's: its position) and leaf ends ("_End") per frame in centimetres: a
// bone turns by C M C^-1 in its parent's turn, M turning X, then Y, then Z, and its own
// translation channels move its start along the rest pose's axes, turned with its parent; an
// axis word names
// the axes in the order they turn. `withoutChannels` gets the bones that have no channels.
inline Motion ReadAsfAmc(const std::string& asf, const std::string& amc,
                         std::vector<std::string>* withoutChannels = nullptr) {
    struct Bone {
        Vec3 dir{};
        double length = 0;
        Mat3 c = Identity();
        std::vector<std::string> dofs;
        std::string parent;
        bool leaf = true;
    };
    Motion out;
    std::map<std::string, Bone> bones;
    std::vector<std::string> order{"root"};
    double unit = 1.0;
    std::ifstream in(asf);
    if (!in) return out.error = "no skeleton file", out;
    std::string line, section, current;
    auto axis = [](const double a[3], const std::string& word) {
        Mat3 c = Identity();
        for (char l : Lower(word)) c = Mul(Axis(l - 'x', a[l - 'x']), c);
        return c;
    };
    while (std::getline(in, line)) {
        for (char& ch : line)
            if (ch == '(' || ch == ')' || ch == ',') ch = ' ';
        std::istringstream s(line);
        std::string w;
        if (!(s >> w) || w[0] == '#') continue;
        if (w[0] == ':') {
            section = w;
            continue;
        }
        if (section == ":units" && w == "length") s >> unit;
        if (section == ":root" && w == "order")
            while (s >> w) bones["root"].dofs.push_back(Lower(w));
        if (section == ":bonedata") {
            if (w == "name") {
                s >> current;
                order.push_back(current);
            }
            Bone& b = bones[current];
            if (w == "direction") {
                // A direction, whatever its length.
                s >> b.dir[0] >> b.dir[1] >> b.dir[2];
                const double n =
                    std::sqrt(b.dir[0] * b.dir[0] + b.dir[1] * b.dir[1] + b.dir[2] * b.dir[2]);
                if (n > 0)
                    for (double& d : b.dir) d /= n;
            }
            if (w == "length") s >> b.length;
            if (w == "axis") {
                double a[3];
                s >> a[0] >> a[1] >> a[2] >> w;
                b.c = axis(a, w);
            }
            if (w == "dof")
                while (s >> w) b.dofs.push_back(Lower(w));
        }
        if (section == ":hierarchy" && w != "begin" && w != "end") {
            bones[w].leaf = false;
            std::string child;
            while (s >> child) bones[child].parent = w;
        }
    }
    if (withoutChannels)
        for (const std::string& name : order)
            if (bones[name].dofs.empty()) withoutChannels->push_back(name);
    const double scale = 2.54 / unit;
    std::vector<std::map<std::string, std::vector<double>>> frames;
    std::ifstream motion(amc);
    if (!motion) return out.error = "no motion file", out;
    bool first = true;
    while (std::getline(motion, line)) {
        std::istringstream s(line);
        std::string w;
        if (!(s >> w) || w[0] == '#') continue;
        if (w == ":SAMPLES-PER-SECOND") s >> out.rate;
        if (w[0] == ':') continue;
        if (std::isdigit(static_cast<unsigned char>(w[0]))) {
            if (first) out.firstFrame = std::stoi(w);
            first = false;
            frames.emplace_back();
            continue;
        }
        double v;
        if (frames.empty()) continue;
        while (s >> v) frames.back()[w].push_back(v);
    }
    for (const std::string& name : order) {
        out.names.push_back(name);
        if (bones[name].leaf && bones[name].length > 0 && name != "root")
            out.names.push_back(name + "_End");
    }
    for (auto& frame : frames) {
        std::map<std::string, Vec3> start, end;
        std::map<std::string, Mat3> turn;
        std::map<std::string, Vec3> positions;
        for (const std::string& name : order) {
            const Bone& b = bones[name];
            double r[3] = {0, 0, 0};
            Vec3 t{0, 0, 0};
            const std::vector<double>& values = frame[name];
            for (size_t i = 0; i < b.dofs.size() && i < values.size(); ++i) {
                const double v = values[i];
                if (b.dofs[i][0] == 'r') r[b.dofs[i][1] - 'x'] = v;
                if (b.dofs[i][0] == 't') t[size_t(b.dofs[i][1] - 'x')] = v * scale;
            }
            const Mat3 m = Mul(Axis(2, r[2]), Mul(Axis(1, r[1]), Axis(0, r[0])));
            const Mat3 local = Mul(b.c, Mul(m, Transposed(b.c)));
            if (name == "root") {
                turn[name] = local;
                start[name] = end[name] = t;
            } else {
                turn[name] = Mul(turn[b.parent], local);
                // A bone's own translation moves its start, in the rest pose's axes.
                start[name] = Add(end[b.parent], Apply(turn[b.parent], t));
                const Vec3 d{b.dir[0] * b.length * scale, b.dir[1] * b.length * scale,
                             b.dir[2] * b.length * scale};
                end[name] = Add(start[name], Apply(turn[name], d));
            }
            positions[name] = start[name];
            if (b.leaf && b.length > 0 && name != "root") positions[name + "_End"] = end[name];
        }
        std::vector<Vec3> row;
        for (const std::string& name : out.names) row.push_back(positions[name]);
        out.frames.push_back(row);
    }
    return out;
}

inline std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    for (char c : line) {
        if (c == '\t') {
            fields.push_back(field);
            field.clear();
        } else if (c != '\r' && c != '\n') {
            field += c;
        }
    }
    fields.push_back(field);
    return fields;
}

inline std::string Trimmed(std::string s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    return s.substr(i);
}

// Markers per row in the file's units; an empty field is a marker not seen. Only as many
// markers as the names line names.
inline Motion ReadTrc(const std::string& path) {
    Motion out;
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    if (lines.size() < 5) return out.error = "no header", out;
    const std::vector<std::string> keys = SplitTabs(lines[1]), values = SplitTabs(lines[2]);
    for (size_t i = 0; i < keys.size() && i < values.size(); ++i)
        if (Trimmed(keys[i]) == "DataRate") out.rate = std::stod(values[i]);
    const std::vector<std::string> header = SplitTabs(lines[3]);
    for (size_t i = 2; i < header.size(); ++i)
        if (!Trimmed(header[i]).empty()) out.names.push_back(Trimmed(header[i]));
    bool first = true;
    for (size_t l = 5; l < lines.size(); ++l) {
        const std::vector<std::string> fields = SplitTabs(lines[l]);
        if (fields.empty() || Trimmed(fields[0]).empty()) continue;
        if (first) out.firstFrame = std::stoi(fields[0]);
        first = false;
        std::vector<Vec3> row(out.names.size(), Vec3{kUnseen, kUnseen, kUnseen});
        for (size_t k = 0; k < out.names.size(); ++k) {
            Vec3 p;
            bool seen = true;
            for (size_t a = 0; a < 3; ++a) {
                const size_t i = 2 + 3 * k + a;
                const std::string field = i < fields.size() ? Trimmed(fields[i]) : "";
                if (field.empty()) {
                    seen = false;
                    break;
                }
                p[a] = std::stod(field);
            }
            if (seen) row[k] = p;
        }
        out.frames.push_back(row);
    }
    return out;
}

// Points per frame in the file's units (integers times the scale); a point whose residual
// word is negative is not seen. Analog samples are passed over.
inline Motion ReadC3d(const std::string& path) {
    Motion out;
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() < 512) return out.error = "shorter than a header", out;
    auto u8 = [&](size_t at) { return at < bytes.size() ? uint8_t(bytes[at]) : uint8_t(0); };
    const size_t parameters = (size_t(u8(0)) - 1) * 512;
    if (u8(1) != 0x50 || parameters + 4 > bytes.size()) return out.error = "not a C3D file", out;
    // 84 Intel: little-endian IEEE; 85 DEC: little-endian 16-bit words, floats with their
    // two words the other way round and four times the value; 86 MIPS: big-endian IEEE.
    const int processor = u8(parameters + 3);
    if (processor < 84 || processor > 86) return out.error = "unknown processor kind", out;
    const bool big = processor == 86;
    auto i16 = [&](size_t at) {
        return int16_t(big ? uint16_t(u8(at) << 8 | u8(at + 1))
                           : uint16_t(u8(at) | u8(at + 1) << 8));
    };
    auto f32 = [&](size_t at) {
        uint32_t v;
        if (big)
            v = uint32_t(u8(at)) << 24 | uint32_t(u8(at + 1)) << 16 | uint32_t(u8(at + 2)) << 8 |
                uint32_t(u8(at + 3));
        else if (processor == 85)
            v = uint32_t(u8(at + 1)) << 24 | uint32_t(u8(at)) << 16 | uint32_t(u8(at + 3)) << 8 |
                uint32_t(u8(at + 2));
        else
            v = uint32_t(u8(at)) | uint32_t(u8(at + 1)) << 8 | uint32_t(u8(at + 2)) << 16 |
                uint32_t(u8(at + 3)) << 24;
        float f;
        std::memcpy(&f, &v, 4);
        return processor == 85 ? double(f) / 4.0 : double(f);
    };
    int points = i16(2), analog = i16(4);
    const int first = i16(6), last = i16(8);
    double scale = f32(12);
    int dataStart = i16(16);
    out.rate = f32(20);
    out.firstFrame = first;
    std::vector<std::string> labels;
    // Parameter records: each one's offset word leads to the next.
    std::map<int, std::string> groups;
    size_t at = parameters + 4;
    while (at + 2 < bytes.size()) {
        const int nameLength = std::abs(int(int8_t(u8(at))));
        const int id = int8_t(u8(at + 1));
        if (nameLength == 0) break;
        const std::string name = bytes.substr(at + 2, size_t(nameLength));
        const size_t offsetAt = at + 2 + size_t(nameLength);
        const int offset = uint16_t(i16(offsetAt));
        if (id < 0) {
            groups[-id] = name;
        } else if (groups[id] == "POINT") {
            const int type = int8_t(u8(offsetAt + 2));
            const int dims = u8(offsetAt + 3);
            std::vector<int> d;
            for (int k = 0; k < dims; ++k) d.push_back(u8(offsetAt + 4 + size_t(k)));
            const size_t data = offsetAt + 4 + size_t(dims);
            if (name == "LABELS" && type == -1 && dims == 2)
                for (int k = 0; k < d[1]; ++k)
                    labels.push_back(Trimmed(bytes.substr(data + size_t(k * d[0]), size_t(d[0]))));
            if (name == "SCALE" && type == 4) scale = f32(data);
            if (name == "USED" && type == 2) points = i16(data);
            if (name == "DATA_START" && type == 2) dataStart = i16(data);
            if (name == "RATE" && type == 4) out.rate = f32(data);
        }
        if (offset == 0) break;
        at = offsetAt + size_t(offset);
    }
    labels.resize(size_t(std::max(points, 0)));
    out.names = labels;
    const bool real = scale < 0.0;
    const size_t word = real ? 4 : 2;
    size_t data = (size_t(dataStart) - 1) * 512;
    for (int f = first; f <= last; ++f) {
        std::vector<Vec3> row;
        for (int p = 0; p < points; ++p, data += 4 * word) {
            if (data + 4 * word > bytes.size()) return out.error = "data cut short", out;
            double v[4];
            for (size_t k = 0; k < 4; ++k)
                v[k] = real ? f32(data + k * word) : double(i16(data + k * word)) * scale;
            const bool seen = real ? int16_t(v[3]) >= 0 : i16(data + 3 * word) >= 0;
            row.push_back(seen ? Vec3{v[0], v[1], v[2]} : Vec3{kUnseen, kUnseen, kUnseen});
        }
        data += size_t(analog) * word;
        out.frames.push_back(row);
    }
    return out;
}

}  // namespace independent
