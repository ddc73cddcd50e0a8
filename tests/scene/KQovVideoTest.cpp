#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovVideo.h"
#include "scene/SceneObjectDoubles.h"

namespace {

// What the clip told textures and lights, by receiver.
std::map<const void*, std::vector<std::string>> gTold;

struct HookScope {
    HookScope() {
        gTold.clear();
        KQovMediaHooks hooks;
        hooks.setTextureFileName = [](KQovObject* t, const char* n) {
            gTold[t].push_back(std::string("file ") + n);
            return true;
        };
        hooks.setTextureRelativeFileName = [](KQovObject* t, const char* n) {
            gTold[t].push_back(std::string("relative ") + n);
            return true;
        };
        hooks.setTextureMediaName = [](KQovObject* t, const char* n) {
            gTold[t].push_back(std::string("media ") + n);
        };
        hooks.setLightGoboFileName = [](KQovNodeAttribute* l, const char* n) {
            gTold[l].push_back(std::string("gobo ") + n);
            return true;
        };
        KQovVideo::SetMediaHooks(hooks);
    }
    ~HookScope() { KQovVideo::SetMediaHooks(KQovMediaHooks()); }
};

class TextureDouble : public scene_test::TestObject {
public:
    TextureDouble() : TestObject(nullptr, "Texture::T") {}
    int GetObjectType() const override { return eTexture; }
};

using Told = std::vector<std::string>;

TEST(KQovVideo, ConnectedTexturesAndGoboAreToldOnce) {
    HookScope hooks;
    KQovVideo video(nullptr, "Video::Clip");
    ASSERT_TRUE(video.SetFileName("a.png"));
    ASSERT_TRUE(video.SetRelativeFileName("r/a.png"));
    TextureDouble texture, other;
    ASSERT_TRUE(texture.set->ConnectSrc(video.GetProperties()));
    EXPECT_EQ(gTold[&texture], (Told{"file a.png", "relative r/a.png", "media Video::Clip"}));

    KQovNode lit(nullptr, "Model::Lamp");
    scene_test::TestAttribute light(KQovNodeAttribute::eLight);
    lit.SetNodeAttribute(&light);
    ASSERT_TRUE(lit.GetNodeProperties()->ConnectSrc(video.GetProperties()));
    EXPECT_EQ(gTold[&light], (Told{"gobo a.png"}));

    // Renames reach connected textures only, once per change.
    gTold.clear();
    EXPECT_TRUE(video.SetFileName("b.png"));
    EXPECT_TRUE(video.SetFileName("b.png"));
    EXPECT_TRUE(video.SetRelativeFileName("r/b.png"));
    EXPECT_TRUE(video.SetRelativeFileName("r/b.png"));
    EXPECT_EQ(gTold[&texture], (Told{"file b.png", "relative r/b.png"}));
    EXPECT_TRUE(gTold[&other].empty());
    EXPECT_TRUE(gTold[&light].empty());
    lit.SetNodeAttribute(nullptr);
}

TEST(KQovVideo, EmptyNamesAreRefusedAndPathIsCopied) {
    KQovVideo video(nullptr, "Video::Clip");
    for (const char* bad : {static_cast<const char*>(nullptr), ""}) {
        EXPECT_FALSE(video.SetFileName(bad));
        EXPECT_FALSE(video.SetRelativeFileName(bad));
    }
    EXPECT_STREQ(video.GetFileName(), "");
    EXPECT_STREQ(video.GetRelativeFileName(), "");
    // The clip keeps its own copy; a longer then a shorter text both fit.
    std::string text = "clips/long-name.avi";
    video.GetProperties()->SetPath(text.c_str());
    text.assign(text.size(), 'x');
    EXPECT_STREQ(video.GetFileName(), "clips/long-name.avi");
    video.GetProperties()->SetPath("s.avi");
    EXPECT_STREQ(video.GetFileName(), "s.avi");
}

TEST(KQovVideo, DefaultsAndTypeNames) {
    KQovVideo video(nullptr, "Video::Clip");
    KQovVideoProperties* p = video.GetProperties();
    EXPECT_EQ(p->GetPlaySpeed(), 1.0);
    EXPECT_TRUE(video.GetOriginalFormat());
    EXPECT_FALSE(video.GetUseMipMap());
    EXPECT_STREQ(video.GetOriginalFileName(), "");
    EXPECT_EQ(video.GetTypeName(), "Clip");
    EXPECT_EQ(video.GetTypeNames().GetCount(), 1);
    EXPECT_EQ(video.GetTakeNodeCount(), 1);
    const char* names[] = {"FrameRate", "LastFrame", "Width", "Height", "Path",
                           "StartFrame", "StopFrame", "PlaySpeed", "Offset", "InterlaceMode",
                           "FreeRunning", "Loop", "AccessMode"};
    ASSERT_EQ(p->GetPropertyCount(), KQovVideoProperties::eRowCount);
    for (int i = 0; i < p->GetPropertyCount(); ++i) EXPECT_STREQ(p->GetProperty(i)->GetName(), names[i]);
    p->SetStopFrame(40);
    p->SetLoop(true);
    p->SetOffset(KTime(7));
    EXPECT_EQ(p->GetStopFrame(), 40);
    EXPECT_TRUE(p->GetLoop());
    EXPECT_EQ(p->GetOffset(), KTime(7));
}

TEST(KQovVideo, CrossedEnumNamesAreBounded) {
    KQovVideo video(nullptr, "Video::Clip");
    KProperty* interlace = video.GetProperties()->GetProperty(KQovVideoProperties::eInterlaceMode);
    KProperty* access = video.GetProperties()->GetProperty(KQovVideoProperties::eAccessMode);
    struct Row {
        KProperty* property;
        int value;
        const char* name;
    };
    const Row rows[] = {
        {interlace, -1, nullptr}, {interlace, 0, "Disk"}, {interlace, 1, "Memory"},
        {interlace, 2, "Disk Async"}, {interlace, 3, nullptr}, {access, -1, nullptr},
        {access, 1, "Fields"}, {access, 7, "Full Frame Odd/Even"}, {access, 8, nullptr},
        {access, 1 << 30, nullptr},
    };
    for (const Row& r : rows) {
        const char* name = r.property->GetEnumName(r.value);
        if (r.name)
            EXPECT_STREQ(name, r.name) << r.value;
        else
            EXPECT_EQ(name, nullptr) << r.value;
    }
}

}  // namespace
