// Hand-built headers and records, and written files read back both through KC3dFile and
// through a short reader of the layout written here.
#include "formats/motion/c3d/KC3dFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "common/TempTestFolder.h"
#include "formats/motion/c3d/C3dTestUtil.h"
#include "formats/motion/c3d/KC3dLabels.h"
#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"

namespace {

// Floats of each processor form, encoded here from the layout: DEC is the IEEE value times
// four with its 16-bit halves swapped.
const int* FloatOrder(int processor) {
    static const int dec[4] = {2, 3, 0, 1}, mips[4] = {3, 2, 1, 0}, intel[4] = {0, 1, 2, 3};
    return processor == eC3dDec ? dec : processor == eC3dMips ? mips : intel;
}

void PutFloat(std::vector<uint8_t>& out, size_t at, float v, int processor) {
    uint8_t b[4];
    float scaled = processor == eC3dDec ? v * 4.0f : v;
    std::memcpy(b, &scaled, 4);
    for (int i = 0; i < 4; ++i) out[at + i] = b[FloatOrder(processor)[i]];
}

float GetFloat(const std::vector<uint8_t>& in, size_t at, int processor) {
    uint8_t b[4];
    for (int i = 0; i < 4; ++i) b[i] = in[at + FloatOrder(processor)[i]];
    float v;
    std::memcpy(&v, b, 4);
    return processor == eC3dDec ? v / 4.0f : v;
}

void PutWord(std::vector<uint8_t>& out, size_t at, uint16_t v, int processor) {
    out[at + (processor == eC3dMips ? 1 : 0)] = v & 0xFF;
    out[at + (processor == eC3dMips ? 0 : 1)] = v >> 8;
}

int GetWord(const std::vector<uint8_t>& in, size_t at, int processor) {
    return processor == eC3dMips ? in[at] << 8 | in[at + 1] : in[at] | in[at + 1] << 8;
}

// Header block and a parameter section at `parameterBlock`, records appended by the caller.
std::vector<uint8_t> MakeFile(int processor, float scale, float rate, int parameterBlock = 2) {
    std::vector<uint8_t> f(512 * parameterBlock, 0);
    f[0] = static_cast<uint8_t>(parameterBlock);
    f[1] = 0x50;
    PutWord(f, 2, 300, processor);
    PutWord(f, 8, 9, processor);
    PutFloat(f, 12, scale, processor);
    PutFloat(f, 20, rate, processor);
    size_t s = f.size() - 512;
    f[s] = 1, f[s + 1] = 0x50, f[s + 2] = 1, f[s + 3] = static_cast<uint8_t>(83 + processor);
    f.resize(s + 4);
    return f;
}

TEST(C3dFile, HeaderValuesAndReplacements) {
    struct Case {
        int processor;
        float scale, rate, wantScale, wantRate;
    } const cases[] = {
        {eC3dIntel, 0.0005f, 50, 0.1449f, 50},  {eC3dIntel, -0.0005f, 50, -0.0005f, 50},
        {eC3dDec, 2.0f, 0, 2.0f, 30},           {eC3dMips, -1.0f, 2000, -1.0f, 2000},
        {eC3dMips, 0.5f, 60, 0.5f, 60},         {eC3dDec, 0.0f, 120, 0.1449f, 120},
        // Analog and EMG systems record at 1000 Hz and far above; only rates no system
        // records (below zero, not a number, beyond a million) are replaced.
        {eC3dIntel, -1.0f, 1000, -1.0f, 1000},  {eC3dDec, -1.0f, 10000, -1.0f, 10000},
        {eC3dIntel, -1.0f, 1.0e6f, -1.0f, 1.0e6f}, {eC3dIntel, -1.0f, 2.0e6f, -1.0f, 30},
        {eC3dIntel, -1.0f, -250, -1.0f, 30},    {eC3dMips, -1.0f, std::nanf(""), -1.0f, 30},
        {eC3dIntel, -1.0f, INFINITY, -1.0f, 30},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = MakeFile(c.processor, c.scale, c.rate);
        bytes.resize(1024);
        KC3dFile file;
        file.Load(bytes.data(), bytes.size());
        ASSERT_TRUE(file.ReadHeader()) << c.processor;
        EXPECT_EQ(file.GetFileProcessorType(), c.processor);
        EXPECT_EQ(file.Header().pointCount, 300);
        EXPECT_EQ(file.Header().lastFrame, 9);
        EXPECT_FLOAT_EQ(file.Header().scaleFactor, c.wantScale) << c.processor << " " << c.scale;
        EXPECT_FLOAT_EQ(file.Header().frameRate, c.wantRate) << c.processor << " " << c.rate;
    }
}

TEST(C3dFile, ProcessorTakenFromTheParameterSection) {
    // Section in block 3 says MIPS; byte 515 (block 2) says Intel and must not count.
    std::vector<uint8_t> bytes = MakeFile(eC3dMips, -1.0f, 50, 3);
    bytes[515] = 84;
    bytes.resize(1536);
    KC3dFile file;
    file.Load(bytes.data(), bytes.size());
    ASSERT_TRUE(file.ReadHeader());
    EXPECT_EQ(file.GetFileProcessorType(), eC3dMips);
    EXPECT_EQ(file.Header().pointCount, 300);

    bytes[1] = 0x40;  // no key in word 1
    KC3dFile refused;
    refused.Load(bytes.data(), bytes.size());
    EXPECT_FALSE(refused.ReadHeader());
    EXPECT_EQ(refused.GetError().GetErrorCode(), KC3dFile::eHeaderInvalid);
}

TEST(C3dFile, ParameterRecords) {
    struct Case {
        const char* what;
        int processor;
        std::vector<uint8_t> record;  // one record, then "NEXT" follows
        const char* name;
        bool locked;
        int elements;  // -1: no data
        double first;
        const char* description;
    } const cases[] = {
        {"locked", eC3dIntel, {0xFB, 1, 'A', 'B', 'C', 'D', 'E', 8, 0, 2, 0, 7, 0, 1, 'd'}, "ABCDE", true, 1, 7, "d"},
        {"mips word", eC3dMips, {1, 1, 'W', 0, 7, 2, 0, 0x01, 0x02, 0}, "W", false, 1, 258, ""},
        {"dec zero", eC3dDec, {1, 1, 'F', 9, 0, 4, 0, 0, 0, 0, 0, 0}, "F", false, 1, 0, ""},
        {"dec 1.5", eC3dDec, {1, 1, 'F', 9, 0, 4, 0, 0xC0, 0x40, 0, 0, 0}, "F", false, 1, 1.5, ""},
        {"offset 0", eC3dIntel, {1, 1, 'Z', 0, 0}, "Z", false, -1, 0, ""},
        {"data too long", eC3dIntel, {1, 1, 'L', 6, 0, 4, 1, 10, 0}, "L", false, -1, 0, ""},
        {"dimension product", eC3dIntel, {1, 1, 'P', 13, 0, 4, 8, 255, 255, 255, 255, 255, 255, 255, 255, 0},
         "P", false, -1, 0, ""},
        {"unknown type", eC3dIntel, {1, 1, 'U', 6, 0, 3, 0, 1, 2}, "U", false, -1, 0, ""},
        {"group", eC3dIntel, {2, 0xFE, 'G', 'R', 5, 0, 2, 'h', 'i'}, "GR", false, -1, 0, "hi"},
        {"long name", eC3dIntel, {40, 1}, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", false, -1, 0, ""},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = MakeFile(c.processor, -1, 50);
        std::vector<uint8_t> record = c.record;
        if (record.size() == 2) {  // the long name: 40 letters, offset 3, description length 0
            for (int i = 0; i < 40; ++i) record.push_back("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789ABCD"[i]);
            record.insert(record.end(), {3, 0, 0});
        }
        bytes.insert(bytes.end(), record.begin(), record.end());
        bytes.insert(bytes.end(), {4, 1, 'N', 'E', 'X', 'T', 2, 0, 0, 0});
        KC3dFile file;
        file.Load(bytes.data(), bytes.size());
        ASSERT_TRUE(file.ReadHeader());
        file.SeekBlock(1);
        file.SkipBytes(4);
        auto p = file.ReadParameterRecord();
        ASSERT_TRUE(p) << c.what;
        EXPECT_EQ(p->name, c.name) << c.what;
        EXPECT_EQ(p->locked, c.locked) << c.what;
        EXPECT_EQ(p->description, c.description) << c.what;
        if (c.elements < 0) {
            EXPECT_FALSE(p->data) << c.what;
        } else {
            ASSERT_TRUE(p->data) << c.what;
            EXPECT_EQ(p->data->GetElementCount(), size_t(c.elements)) << c.what;
            EXPECT_EQ(p->data->GetNumber(0), c.first) << c.what;
        }
        auto next = file.ReadParameterRecord();
        ASSERT_TRUE(next) << c.what;
        EXPECT_EQ(next->name, "NEXT") << c.what;
        EXPECT_FALSE(file.ReadParameterRecord()) << c.what;
    }
}

// The points and labels of a written file, read straight from its layout.
struct LayoutContent {
    int processor = 0, parameterBlocks = 0;
    std::vector<std::string> labels;
    std::vector<std::vector<KC3dPoint>> frames;
};

LayoutContent ReadLayout(const std::vector<uint8_t>& b) {
    LayoutContent out;
    size_t section = (b[0] - 1) * 512u;
    int proc = out.processor = b[section + 3] - 83;
    out.parameterBlocks = b[section + 2];
    int points = GetWord(b, 2, proc), first = GetWord(b, 6, proc), last = GetWord(b, 8, proc);
    float scale = GetFloat(b, 12, proc);
    size_t data = (GetWord(b, 16, proc) - 1) * 512u;
    for (size_t pos = section + 4; b[pos] != 0 && b[pos + 1] != 0;) {
        size_t nameLength = std::abs(int8_t(b[pos]));
        std::string name(b.begin() + pos + 2, b.begin() + pos + 2 + nameLength);
        size_t field = pos + 2 + nameLength;
        if (int8_t(b[pos + 1]) > 0 && name.compare(0, 6, "LABELS") == 0) {
            size_t width = b[field + 4], rows = b[field + 5], part = name.size() > 6 ? std::stoi(name.substr(6)) - 1 : 0;
            for (size_t r = 0; r < rows; ++r) {
                std::string row(b.begin() + field + 6 + r * width, b.begin() + field + 6 + (r + 1) * width);
                row.erase(row.find_last_not_of(' ') + 1);
                out.labels.resize(std::max(out.labels.size(), part * 255 + r + 1));
                out.labels[part * 255 + r] = row;
            }
        }
        pos = field + GetWord(b, field, proc);
    }
    for (int f = first; f <= last; ++f) {
        std::vector<KC3dPoint> frame(points);
        for (KC3dPoint& p : frame) {
            if (scale < 0) {
                p.x = GetFloat(b, data, proc), p.y = GetFloat(b, data + 4, proc), p.z = GetFloat(b, data + 8, proc);
                p.valid = GetFloat(b, data + 12, proc) >= 0;
                data += 16;
            } else {
                p.x = int16_t(GetWord(b, data, proc)) * scale, p.y = int16_t(GetWord(b, data + 2, proc)) * scale;
                p.z = int16_t(GetWord(b, data + 4, proc)) * scale;
                p.valid = !(GetWord(b, data + 6, proc) & 0x8000);
                data += 8;
            }
        }
        out.frames.push_back(frame);
    }
    return out;
}

// A POINT group with its labels and the frames; the file's error text, empty on success.
std::string WriteSample(const std::string& path, int processor, float scale, const std::vector<std::string>& names,
                        const std::vector<std::vector<KC3dPoint>>& frames, const char* mode = "w+b") {
    KFileStream stream;
    KC3dFile file;
    if (!stream.Open(path.c_str(), mode)) return "cannot open";
    file.SetFileProcessorType(processor);
    KC3dHeader& h = file.Header();
    h.pointCount = uint16_t(names.size());
    h.firstFrame = 1;
    h.lastFrame = uint16_t(frames.size());
    h.scaleFactor = scale;
    h.frameRate = 100.0f;
    file.BeginWrite(stream);
    bool ok = file.WriteHeader() && file.BeginParameters();
    KC3dParameter group;
    group.name = "POINT";
    group.groupId = -1;
    group.description = "3-D point parameters";
    KC3dParameter used;
    used.name = "USED";
    used.groupId = 1;
    used.data = KC3dArray::Int16(int16_t(names.size()));
    ok = ok && file.WriteParameterRecord(group) && file.WriteParameterRecord(used);
    for (auto& labels : KC3dMakeListParameters("LABELS", names, 1)) ok = ok && file.WriteParameterRecord(*labels);
    uint16_t dataBlock = 0;
    ok = ok && file.EndParameters(dataBlock) && file.PatchWord(file.mDataWordPatch, dataBlock);
    for (const auto& frame : frames)
        for (const KC3dPoint& p : frame) ok = ok && file.WritePoint(p, scale, 1.0);
    ok = file.EndWrite() && ok;
    if (ok && !stream.Commit()) return "not put in place";
    return ok ? std::string() : file.GetError().GetErrorText();
}

std::vector<uint8_t> FileBytes(const std::string& path) {
    KFileStream stream;
    std::vector<uint8_t> bytes(1 << 20);
    stream.Open(path.c_str(), "rb");
    bytes.resize(stream.Read(bytes.data(), uint32_t(bytes.size())));
    return bytes;
}

TEST(C3dFile, RoundTripInEveryProcessorForm) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) names.push_back("SUBJECT_WITH_A_LONG_NAME:M" + std::to_string(i));
    names[7] = std::string(300, 'Q');  // cut to 254
    std::vector<std::vector<KC3dPoint>> frames(3, std::vector<KC3dPoint>(names.size()));
    for (size_t f = 0; f < frames.size(); ++f)
        for (size_t p = 0; p < names.size(); ++p) {
            KC3dPoint& pt = frames[f][p];
            pt.x = 10.0 * p - 1500.25, pt.y = -3.5 * f + 0.125 * p, pt.z = 1000.0 - p;
            pt.valid = (p + f) % 7 != 0;
        }
    for (int processor : {eC3dIntel, eC3dDec, eC3dMips})
        for (float scale : {-1.0f, 0.1f}) {
            const std::string path = folder.path() + "/rt" + std::to_string(processor) + ".c3d";
            ASSERT_EQ(WriteSample(path, processor, scale, names, frames), "");
            C3dContent back;
            std::string error;
            ASSERT_TRUE(ReadC3d(path, back, error)) << error;
            LayoutContent layout = ReadLayout(FileBytes(path));
            EXPECT_EQ(back.processor, processor);
            EXPECT_EQ(layout.processor, processor);
            EXPECT_GT(back.parameterBlocks, 8);
            EXPECT_EQ(back.parameterBlocks, back.header.dataBlock - back.header.parameterBlock);
            ASSERT_EQ(back.labels.size(), names.size());
            EXPECT_EQ(back.labels[7], std::string(254, 'Q'));
            EXPECT_EQ(back.labels[299], names[299]);
            EXPECT_EQ(layout.labels, back.labels);
            ASSERT_EQ(back.frames.size(), frames.size());
            ASSERT_EQ(layout.frames.size(), frames.size());
            double tolerance = scale < 0 ? 1e-3 : scale * 0.5001;  // integers are rounded
            for (size_t f = 0; f < frames.size(); ++f)
                for (size_t p = 0; p < names.size(); ++p)
                    for (const KC3dPoint* got : {&back.frames[f][p], &layout.frames[f][p]}) {
                        const KC3dPoint& want = frames[f][p];
                        ASSERT_EQ(got->valid, want.valid) << processor << " " << scale << " " << f << " " << p;
                        ASSERT_NEAR(got->x, want.x, tolerance) << processor << " " << scale << " " << f << " " << p;
                        ASSERT_NEAR(got->y, want.y, tolerance) << processor << " " << scale << " " << f << " " << p;
                        ASSERT_NEAR(got->z, want.z, tolerance) << processor << " " << scale << " " << f << " " << p;
                    }
        }
}

TEST(C3dFile, IntegerPointsOutOfRangeAreClampedAndInvalid) {
    TempTestFolder folder;
    const std::string path = folder.path() + "/clamp.c3d";
    const double nan = std::nan("");
    std::vector<std::vector<KC3dPoint>> frames(1, std::vector<KC3dPoint>(3));
    frames[0][0].x = 1e6, frames[0][1].y = -1e6, frames[0][2].z = nan;
    ASSERT_EQ(WriteSample(path, eC3dMips, 0.1f, {"A", "B", "C"}, frames), "");
    LayoutContent layout = ReadLayout(FileBytes(path));
    ASSERT_EQ(layout.frames.size(), 1u);
    EXPECT_NEAR(layout.frames[0][0].x, 32767 * 0.1, 1e-3);
    EXPECT_NEAR(layout.frames[0][1].y, -32768 * 0.1, 1e-3);
    EXPECT_EQ(layout.frames[0][2].z, 0.0);
    for (const KC3dPoint& p : layout.frames[0]) EXPECT_FALSE(p.valid);
}

// Float points no reader takes back (NaN, infinities, beyond 2^100) are never written; read,
// a seen one fails its frame and an unseen one's coordinates read as 0.
TEST(C3dFile, FloatPointsAreFileNumbers) {
    TempTestFolder folder;
    const std::string path = folder.path() + "/numbers.c3d";
    std::vector<std::vector<KC3dPoint>> frames(1, std::vector<KC3dPoint>(2));
    for (double bad : {std::nan(""), -HUGE_VAL, 1.3e30}) {
        frames[0][0].x = bad;
        EXPECT_EQ(WriteSample(path, eC3dIntel, -1.0f, {"A", "B"}, frames), kFileNumberError) << bad;
    }
    frames[0][0].x = kMaxFileNumber;  // the largest written
    frames[0][1].x = 2.5;
    frames[0][1].valid = false;
    ASSERT_EQ(WriteSample(path, eC3dIntel, -1.0f, {"A", "B"}, frames), "");
    const std::vector<uint8_t> good = FileBytes(path);
    const size_t data = (GetWord(good, 16, eC3dIntel) - 1) * 512u;
    ASSERT_EQ(GetFloat(good, data, eC3dIntel), float(kMaxFileNumber));
    for (float bad : {std::nanf(""), HUGE_VALF, 1e35f}) {
        for (size_t point : {0u, 1u}) {
            SCOPED_TRACE(std::to_string(bad) + " in point " + std::to_string(point));
            std::vector<uint8_t> bytes = good;
            PutFloat(bytes, data + 16 * point + 4, bad, eC3dIntel);
            {
                KFileStream out;
                ASSERT_TRUE(out.Open(path.c_str(), "wb"));
                ASSERT_EQ(out.Write(bytes.data(), uint32_t(bytes.size())), bytes.size());
                ASSERT_TRUE(out.Commit());
            }
            C3dContent back;
            std::string error;
            const bool read = ReadC3d(path, back, error);
            EXPECT_EQ(read, point == 1) << error;
            if (read) {
                EXPECT_EQ(back.frames[0][1].y, 0.0);
            }
        }
    }
}

TEST(C3dFile, WriteFailureIsReported) {
    TempTestFolder folder;
    const std::string path = folder.path() + "/readonly.c3d";
    {
        KFileStream create;
        ASSERT_TRUE(create.Open(path.c_str(), "wb") && create.Commit());
    }
    EXPECT_EQ(WriteSample(path, eC3dDec, -1.0f, {"A"}, {}, "rb"), "Could not write the file");
}

}  // namespace
