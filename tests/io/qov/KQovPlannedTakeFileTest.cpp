// A model read back from a file this library wrote keeps its "Default" take unmade (and its
// rows unbuilt) when the file's channels hold just what the node would make; anything more
// makes the node read as it always did. Either way the scene and the bytes written again are
// those of a read that made every take at once.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "KQovWriterQov5TestUtil.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "common/SceneDump.h"
#include "common/TempTestFolder.h"
#include "io/KQovImporter.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

struct Built {
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
};

// Plain nulls, a moved one ("Probe"), a hidden nested one, and one moved by a value a curve
// cannot hold exactly.
void Build(Built& built) {
    KQovObjectManager& m = built.manager;
    KQovNode* root = built.scene->GetRootNode();
    auto node = [&](const char* name, KQovNode* parent) {
        KQovNode* n = m.CreateNode(name);
        parent->AddChild(n);
        n->SetNodeAttribute(m.CreateNull());
        return n;
    };
    for (const char* name : {"Plain0", "Plain1", "Plain2"}) node(name, root);
    KQovNode* probe = node("Probe", root);
    probe->SetLocalTranslation(1.0, 2.0, 3.0);
    probe->SetLocalRotation(0.0, 45.0, 0.0);
    node("Hidden", probe)->SetVisibility(false);
    node("Fraction", root)->SetLocalTranslation(0.1, 0.0, 0.0);
}

void WriteText(const std::string& name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
}

bool Read(Built& built, const std::string& name) {
    KQovImporter importer(&built.manager);
    return importer.Initialize(name.c_str()) && importer.Import(built.scene, nullptr);
}

KQovNode* Find(Built& built, const char* name) {
    return built.scene->GetRootNode()->FindChild(name, true);
}

bool Unmade(KQovNode* node) {
    return node->IsDefaultTakeDeferred() && node->GetNodeProperties()->IsTableWaiting();
}

// Channel names, layer types and curve defaults, which the shared dump leaves out in part.
void Layers(KFCurveNode* channel, std::ostringstream& out) {
    out << channel->GetName() << ':' << channel->GetLayerType() << ':'
        << (channel->GetCurve() ? channel->GetCurve()->GetValue() : -99.0f) << ' ';
    for (int i = 0; i < channel->GetCount(); ++i) Layers(channel->Get(i), out);
}

// Every node with its "Default" take made (and so its rows built), its takes and records.
std::string MadeDump(Built& built) {
    std::ostringstream out;
    for (const char* name : {"Plain0", "Plain1", "Plain2", "Probe", "Hidden", "Fraction"}) {
        KQovNode* node = Find(built, name);
        if (!node) continue;
        KQovTakeNode* take = node->GetDefaultTakeNode();
        out << SceneDump::Object(*node) << node->GetPropertyLinkCount() << '\n';
        if (take) Layers(take->GetRoot(), out);
        out << '\n';
    }
    return out.str();
}

// The model record of `name` in a version-6 text file.
size_t ModelAt(const std::string& text, const char* name) {
    return text.find(std::string("Model: \"Model::") + name + "\", \"Null\" {");
}

// Replaces the first `from` after the model's record start by `to`; false when not there.
bool EditModel(std::string& text, const char* name, const std::string& from,
               const std::string& to) {
    const size_t model = ModelAt(text, name);
    if (model == std::string::npos) return false;
    const size_t at = text.find(from, model);
    const size_t next = text.find("Model: \"Model::", model + 1);
    if (at == std::string::npos || (next != std::string::npos && at > next)) return false;
    text.replace(at, from.size(), to);
    return true;
}

// A field every read skips, put in every model's "Visibility" channel: such channels are not
// what a node makes, so every node reads through its made take, as before.
std::string Inert(std::string text) {
    const std::string mark = "Channel: \"Visibility\" {\n";
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1))
        text.insert(at + mark.size(), "            Inert: 1\n");
    return text;
}

// The text file of the built scene, written by a scene whose nodes never made their takes.
std::string SourceText(const TempTestFolder& tmp) {
    Built built;
    Build(built);
    const std::string name = tmp / "source.qov";
    v5test::ExportStable(built.scene, name, 1);
    return v5test::ReadText(name);
}

TEST(KQovPlannedTakeFile, ChannelsAsMadeKeepTheTakeUnmade) {
    const struct {
        int id;
        const char* what;
    } kIds[] = {{0, "binary 6"}, {1, "text 6"}};
    TempTestFolder tmp;
    const std::string source = SourceText(tmp);
    WriteText(tmp / "text.qov", source);
    WriteText(tmp / "inert.qov", Inert(source));
    ASSERT_NE(Inert(source), source);
    for (const auto& c : kIds) {
        SCOPED_TRACE(c.what);
        // The file as that writer gives it, from a scene read from the text.
        std::string file = tmp / "text.qov";
        if (c.id == 0) {
            Built text;
            ASSERT_TRUE(Read(text, tmp / "text.qov"));
            file = tmp / "binary.qov";
            v5test::ExportStable(text.scene, file, 0);
        }
        Built kept, reference;
        ASSERT_TRUE(Read(kept, file));
        ASSERT_TRUE(Read(reference, tmp / "inert.qov"));
        for (const char* name : {"Plain0", "Plain1", "Plain2", "Probe", "Hidden"}) {
            // Rows given values other than numbers are built by the property block itself.
            EXPECT_TRUE(name[0] == 'P' && name[1] == 'l'
                            ? Unmade(Find(kept, name))
                            : Find(kept, name)->IsDefaultTakeDeferred())
                << name;
            EXPECT_FALSE(Find(reference, name)->IsDefaultTakeDeferred()) << name;
        }
        // 0.1 is not what its curve holds: a made take would have changed the property (to
        // what the binary file, written after such a read, then holds).
        EXPECT_EQ(Find(kept, "Fraction")->IsDefaultTakeDeferred(), c.id == 0);

        // Written again, in every writer, before and after the takes are made: the same bytes
        // as from the scene read with every take made.
        for (int id : {0, 1, 3, 4}) {
            SCOPED_TRACE(id);
            const std::string expected = v5test::ExportStable(reference.scene, tmp / "ref.qov", id);
            ASSERT_GT(expected.size(), 1000u);
            EXPECT_EQ(v5test::ExportStable(kept.scene, tmp / "kept.qov", id), expected);
        }
        EXPECT_TRUE(Unmade(Find(kept, "Plain0")));
        EXPECT_EQ(MadeDump(kept), MadeDump(reference));
        for (int id : {0, 1, 3, 4}) {
            SCOPED_TRACE(id);
            EXPECT_EQ(v5test::ExportStable(kept.scene, tmp / "kept.qov", id),
                      v5test::ExportStable(reference.scene, tmp / "ref.qov", id));
        }
    }
}

TEST(KQovPlannedTakeFile, ChannelsBeyondThePlanReadAsBefore) {
    const std::string transformX = "Channel: \"X\" {\n                    Default: 1\n";
    const struct {
        const char* what;
        const char* from;
        std::string to;
    } kEdits[] = {
        {"a key", "Default: 1\n",
         "Default: 1\n                    KeyVer: 4004\n                    KeyCount: 1\n"
         "                    Key: 0,1,U,a\n"},
        {"another default", "Default: 1\n", "Default: 5\n"},
        {"another default in the last channel", "Channel: \"Visibility\" {\n            Default: 1",
         "Channel: \"Visibility\" {\n            Default: 0.5"},
        {"an extra channel", "Channel: \"Visibility\" {",
         "Channel: \"Extra\" {\n            Default: 2\n        }\n        Channel: \"Visibility\" "
         "{"},
        {"a missing channel",
         "        Channel: \"Visibility\" {\n            Default: 1\n            Color: 0.75,0,0\n"
         "        }\n",
         ""},
        {"a channel of another name", "Channel: \"Visibility\" {", "Channel: \"Shown\" {"},
        {"a missing component", "Channel: \"Z\" {", "Channel: \"W\" {"},
        {"another colour", "Color: 1,0,0", "Color: 0.5,0,0"},
        {"a colour short of a value", "Color: 1,0,0", "Color: 1,0"},
        {"a quaternion layer", "Channel: \"R\" {", "Channel: \"R\" {\n LayerType: 4"},
        {"a layer id", "Default: 1\n", "Default: 1\n                    LayerID: 1\n"},
        {"a user name", "Default: 1\n", "Default: 1\n                    UserName: \"Across\"\n"},
        {"a channel given twice", "Channel: \"Transform\" {",
         "Channel: \"Visibility\" {\n            Default: 1\n        }\n"
         "        Channel: \"Transform\" {"},
    };
    TempTestFolder tmp;
    const std::string source = SourceText(tmp);
    ASSERT_NE(source.find(transformX), std::string::npos);
    for (const auto& e : kEdits) {
        SCOPED_TRACE(e.what);
        std::string text = source;
        // The probe's translation X is 1; the edit lands in the probe's own record.
        ASSERT_TRUE(EditModel(text, "Probe", e.from, e.to));
        WriteText(tmp / "edited.qov", text);
        WriteText(tmp / "inert.qov", Inert(text));
        Built edited, reference;
        ASSERT_TRUE(Read(edited, tmp / "edited.qov"));
        ASSERT_TRUE(Read(reference, tmp / "inert.qov"));
        EXPECT_FALSE(Find(edited, "Probe")->IsDefaultTakeDeferred());
        // The others are none the worse for it.
        EXPECT_TRUE(Unmade(Find(edited, "Plain1")));
        EXPECT_TRUE(Find(edited, "Hidden")->IsDefaultTakeDeferred());
        EXPECT_EQ(MadeDump(edited), MadeDump(reference));
        for (int id : {0, 1}) {
            SCOPED_TRACE(id);
            EXPECT_EQ(v5test::ExportStable(edited.scene, tmp / "a.qov", id),
                      v5test::ExportStable(reference.scene, tmp / "b.qov", id));
        }
    }
}

}  // namespace
