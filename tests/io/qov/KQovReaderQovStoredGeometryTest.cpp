// Geometry of a binary file decoded straight from its stored bytes gives what values converted
// one at a time give: lists whose values change type at the first, a middle or the last value
// read as the text file the binary file was written from.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "GeometryTestUtil.h"
#include "fieldfile/KQovFieldReader.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovWriterQov6.h"

namespace {

bool WriteBinary(KQovScene* scene, const std::string& name) {
    KStreamOptionsQov options;
    for (int i = 0; i < KStreamOptionsQov::eSwitchCount; ++i) options.SetSwitch(i, true);
    KQovWriterQov6 writer(scene->GetObjectManager(), nullptr);
    writer.SetFileMode(KQovWriterQov6::eBinary);
    if (!writer.FileCreate(name.c_str())) return false;
    const bool ok = writer.Write(scene, &options);
    return writer.FileClose() && ok;
}

int PayloadSize(char type) {
    return type == 'I' || type == 'F' ? 4 : type == 'D' || type == 'L' ? 8 : -1;
}

// The `index`th value of the `occurrence`th record `name` retyped in place, keeping its size:
// a double as the same whole number 'L', an integer as the same float 'F'. False when the
// record or value is not there or cannot be retyped.
bool Retype(std::string& bytes, const std::string& name, int occurrence, int index) {
    const std::string head = std::string(1, char(name.size())) + name;
    size_t found = bytes.find(head);
    for (int o = 0; o < occurrence && found != std::string::npos; ++o)
        found = bytes.find(head, found + 1);
    if (found == std::string::npos || found < 12) return false;
    uint32_t count;
    std::memcpy(&count, &bytes[found - 12 + 4], 4);
    if (index < 0 || uint32_t(index) >= count) return false;
    size_t at = found + head.size();
    for (int i = 0; i < index; ++i) {
        const int size = PayloadSize(bytes[at]);
        if (size < 0) return false;
        at += 1 + size_t(size);
    }
    if (bytes[at] == 'D') {
        double d;
        std::memcpy(&d, &bytes[at + 1], 8);
        if (d != std::floor(d)) return false;
        const int64_t whole = int64_t(d);
        bytes[at] = 'L';
        std::memcpy(&bytes[at + 1], &whole, 8);
        return true;
    }
    if (bytes[at] == 'I') {
        int32_t v;
        std::memcpy(&v, &bytes[at + 1], 4);
        const float f = float(v);
        bytes[at] = 'F';
        std::memcpy(&bytes[at + 1], &f, 4);
        return true;
    }
    return false;
}

// Control points decoded beside the polygons from this many on (the reader's own default when
// 0); every read of the tests below goes both ways.
int gAsideFrom = 0;

std::string QuadOf(const std::string& file) {
    const int old = gAsideFrom ? KQovReaderQov::SetVerticesAsideFrom(gAsideFrom) : 0;
    struct Restore {
        int old;
        ~Restore() {
            if (old) KQovReaderQov::SetVerticesAsideFrom(old);
        }
    } restore{old};
    Read read(file);
    EXPECT_TRUE(read.ok) << file;
    const std::string error = read.reader.GetFieldFile()->GetLastErrorString();
    EXPECT_EQ(error.find("invalid data"), std::string::npos) << error;
    return geotest::Geometry(read.manager.FindNode("Quad"));
}

}  // namespace

TEST(KQovReaderQovStoredGeometry, RetypedValuesReadAlike) {
    // The golden quad, the same with a polygon list long enough to pass the chunks values of
    // another type are converted in, and the quad with a shape and a skin's cluster.
    std::string longList = "PolygonVertexIndex: 0,1,-3";
    for (int i = 0; i < 3000; ++i) longList += ",2,3,-1";
    const struct {
        const char* what;
        const char* golden;
        const char* to;  // the golden polygon list (or weights) replaced by this, "" to keep it
        const char* record;
        int occurrence, index;
    } kCases[] = {
        {"none", "mesh6.qov", "", "Vertices", 0, -1},
        // Values other than 0, whose bits differ from the whole number's.
        {"first point", "mesh6.qov", "", "Vertices", 0, 3},
        {"a middle point", "mesh6.qov", "", "Vertices", 0, 7},
        {"last point", "mesh6.qov", "", "Vertices", 0, 10},
        {"first normal", "mesh6.qov", "", "Normals", 0, 2},
        {"last normal", "mesh6.qov", "", "Normals", 0, 11},
        {"first UV", "mesh6.qov", "", "UV", 0, 2},
        {"a middle UV", "mesh6.qov", "", "UV", 0, 5},
        {"last UV", "mesh6.qov", "", "UV", 0, 7},
        {"first polygon vertex", "mesh6.qov", "", "PolygonVertexIndex", 0, 1},
        {"a polygon end", "mesh6.qov", "", "PolygonVertexIndex", 0, 2},
        {"the last polygon end", "mesh6.qov", "", "PolygonVertexIndex", 0, 5},
        {"a polygon group", "mesh6.qov", "", "PolygonGroup", 0, 1},
        {"long list, first", "mesh6.qov", longList.c_str(), "PolygonVertexIndex", 0, 1},
        {"long list, middle", "mesh6.qov", longList.c_str(), "PolygonVertexIndex", 0, 1500},
        {"long list, last", "mesh6.qov", longList.c_str(), "PolygonVertexIndex", 0, 9002},
        {"skinned, none", "geo_scene6.qov", "", "Indexes", 0, -1},
        {"first indexes, first", "geo_scene6.qov", "", "Indexes", 0, 0},
        {"second indexes, last", "geo_scene6.qov", "", "Indexes", 1, 1},
        {"a weight", "geo_scene6.qov", "Weights: 2,3", "Weights", 0, 1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        qovtest::TempFolder tmp;
        const char* from = !*c.to ? ""
                           : std::string(c.record) == "Weights"
                               ? "Weights: 0.5,0.25,1"
                               : "PolygonVertexIndex: 0,1,-3,2,3,-1";
        std::string text = geotest::Variant(tmp, c.golden, from, c.to);
        if (std::string(c.golden) == "geo_scene6.qov") text = geotest::WithSkinOnQuad(tmp, text);
        const std::string expected = QuadOf(text);
        ASSERT_NE(expected, "no geometry\n");
        const std::string binary = tmp / "binary.qov";
        {
            Read read(text);
            ASSERT_TRUE(read.ok);
            // The golden file leaves the quad out of the hierarchy; the writer writes what
            // hangs under the root.
            KQovNode* quad = read.manager.FindNode("Quad");
            ASSERT_NE(quad, nullptr);
            if (!quad->GetParent()) {
                ASSERT_TRUE(read.scene->GetRootNode()->AddChild(quad));
            }
            ASSERT_TRUE(WriteBinary(read.scene, binary));
        }
        const std::string written = QuadOf(binary);
        // The skinned scene loses unconnected materials on the way: only the binary file's
        // own reading is compared there.
        if (std::string(c.golden) == "mesh6.qov") {
            EXPECT_EQ(written, expected);
        }
        if (c.index < 0) continue;
        std::string bytes = qovtest::ReadAll(binary);
        ASSERT_TRUE(Retype(bytes, c.record, c.occurrence, c.index));
        const std::string retyped = tmp / "retyped.qov";
        qovtest::WriteAll(retyped, bytes);
        EXPECT_EQ(QuadOf(retyped), written);
        // A retyped point stops the thread decoding the points; the read finishes them.
        gAsideFrom = 1;
        EXPECT_EQ(QuadOf(retyped), written);
        EXPECT_EQ(QuadOf(binary), written);
        gAsideFrom = 0;
    }
}

namespace {

// What a read of the file gives, its parts mapped or read into memory: whether it opened and
// read, the error, and every node with its geometry.
std::string SceneOf(const std::string& file, bool mapped) {
    const uint64_t old = KQovFieldReader::SetMappingFrom(mapped ? 1 : UINT64_MAX);
    KQovObjectManager manager;
    KQovReaderQov reader(&manager, nullptr);
    std::string s = reader.FileOpen(file.c_str()) ? "open\n" : "not open\n";
    std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
    if (options) {
        s += reader.Read(manager.CreateScene(), options.get()) ? "read\n" : "not read\n";
        KQovDestroySceneInfo(&manager, options->sceneInfo);
    }
    s += std::string("error ") + reader.GetFieldFile()->GetLastErrorString() + "\n";
    for (int i = 0; i < manager.GetNodeCount(); ++i)
        if (KQovNode* node = manager.GetNode(i)) s += geotest::Geometry(node);
    KQovFieldReader::SetMappingFrom(old);
    return s;
}

}  // namespace

// A scene read from a mapped file is the scene read into memory, for golden scenes of several
// kinds written as binary files, whole, cut short and with a byte changed.
TEST(KQovReaderQovStoredGeometry, MappedScenesReadAsBuffered) {
    const char* const kGoldens[] = {"mesh6.qov", "geo_scene6.qov", "takes_v6.qov", "nodes6.qov"};
    const struct {
        const char* what;
        double cutAt;   // share of the file kept, 1 for all
        double flipAt;  // where a byte is changed, -1 for none
    } kCopies[] = {{"whole", 1, -1},
                   {"cut in half", 0.5, -1},
                   {"header only", 0.01, -1},
                   {"a byte changed", 1, 0.6}};
    for (const char* golden : kGoldens) {
        qovtest::TempFolder tmp;
        const std::string binary = tmp / "binary.qov";
        {
            Read read(geotest::Variant(tmp, golden, "", ""));
            ASSERT_TRUE(read.ok) << golden;
            // The golden files leave nodes out of the hierarchy; the writer writes what hangs
            // under the root.
            KQovNode* root = read.scene->GetRootNode();
            for (int i = 0; i < read.manager.GetNodeCount(); ++i) {
                KQovNode* node = read.manager.GetNode(i);
                if (node && node != root && !node->GetParent()) root->AddChild(node);
            }
            ASSERT_TRUE(WriteBinary(read.scene, binary)) << golden;
        }
        const std::string whole = qovtest::ReadAll(binary);
        for (const auto& c : kCopies) {
            SCOPED_TRACE(std::string(golden) + ", " + c.what);
            std::string bytes = whole.substr(0, size_t(c.cutAt * double(whole.size())));
            if (c.flipAt >= 0) bytes[size_t(c.flipAt * double(bytes.size()))] ^= 0x21;
            const std::string copy = tmp / "copy.qov";
            qovtest::WriteAll(copy, bytes);
            const std::string mapped = SceneOf(copy, true);
            EXPECT_EQ(mapped, SceneOf(copy, false));
            const int old = KQovReaderQov::SetVerticesAsideFrom(1);
            EXPECT_EQ(SceneOf(copy, true), mapped);
            KQovReaderQov::SetVerticesAsideFrom(old);
            if (c.cutAt == 1 && c.flipAt < 0) {
                EXPECT_EQ(mapped.compare(0, 10, "open\nread\n"), 0) << mapped;
            }
        }
    }
}
