#include <gtest/gtest.h>

#include "scene/KQovObject.h"
#include "scene/KQovUserProperty.h"

namespace {

class TypedObject : public KQovObject {
public:
    TypedObject(int type, const char* name) : KQovObject(nullptr, name), type(type) {}
    int GetObjectType() const override { return type; }
    void AttachUserProperty(KQovUserProperty* up) override { attached.push_back(up); }
    int type;
    std::vector<KQovUserProperty*> attached;
};

TEST(KQovObject, MakePrefixedName) {
    struct Case {
        const char* prefix;
        const char* name;
        const char* expected;
    } cases[] = {
        {"Model::", "Cube", "Model::Cube"},
        {"Model::", "", "Model::Name"},
        {"Model::", "Model::", "Model::Name"},
        {"Model::", nullptr, "Model::Name"},
        {"Material::", "Texture::Wood", "Material::Wood"},
        {"Material::", "A::B::C", "Material::B::C"},
        {"", "Plain", "Plain"},
        {nullptr, "Model::Plain", "Plain"},
        {"Pose::", "::", "Pose::Name"},
        {"Video::", "a:b", "Video::a:b"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(KMakePrefixedName(c.prefix, c.name).Buffer(), c.expected)
            << (c.prefix ? c.prefix : "null") << " " << (c.name ? c.name : "null");
}

TEST(KQovObject, ClassPrefixes) {
    const char* expected[] = {"",         "Model::",      "Texture::",  "Material::", "Video::",
                              "Video::",  "Constraint::", "MarkerSet::", "Constraint::", "Pose::",
                              "",         "Pose::",       "ControlSetPlug::", ""};
    for (int type = 0; type < 14; ++type)
        EXPECT_STREQ(KQovObject::GetClassPrefix(type).Buffer(), expected[type]) << type;
    EXPECT_STREQ(KQovObject::GetClassPrefix(-1).Buffer(), "");
}

TEST(KQovObject, NamesWithAndWithoutPrefix) {
    struct Case {
        int type;
        const char* initial;     // given to SetInitialName
        const char* setName;     // then given to SetName, when not null
        const char* current;
        const char* withoutPrefix;
    } cases[] = {
        {1, "Model::Cube", nullptr, "Model::Cube", "Cube"},
        {1, "Cube", nullptr, "Cube", "Cube"},
        {1, "Scene::Cube", nullptr, "Scene::Cube", "Cube"},
        {1, "Model::ns::Cube", nullptr, "Model::ns::Cube", "ns::Cube"},
        {1, "Model::Cube", "", "Model::Name", "Name"},
        {1, "Model::Cube", "Model::", "Model::Name", "Name"},
        {3, "Material::M", "Texture::Wood", "Material::Wood", "Wood"},
        {10, "Skin", "Skin", "Skin", "Skin"},
        {10, "Skin", "Deformer::Skin", "Skin", "Skin"},
        {12, "ControlSetPlug::C", "D", "ControlSetPlug::D", "D"},
    };
    for (const Case& c : cases) {
        TypedObject object(c.type, "Start");
        object.SetInitialName(c.initial);
        if (c.setName) object.SetName(c.setName);
        EXPECT_STREQ(object.GetName(), c.current) << c.initial;
        EXPECT_STREQ(object.GetInitialName(), c.initial) << c.initial;
        EXPECT_STREQ(object.GetNameWithoutPrefix().Buffer(), c.withoutPrefix) << c.initial;
    }
    TypedObject renamed(1, "Model::A");
    KQovNamePair names = renamed.GetNamePair();
    names.currentName = "Model::B";
    renamed.SetNamePair(names);
    EXPECT_STREQ(renamed.GetName(), "Model::B");
    EXPECT_STREQ(renamed.GetInitialName(), "Model::A");
}

TEST(KQovObject, DeformerPrefix) {
    struct Case {
        const char* kind;
        const char* prefix;
    } cases[] = {{"Cluster", "SubDeformer::"}, {"CLUSTER", "SubDeformer::"},
                 {"cluster", "SubDeformer::"}, {"Skin", "Deformer::"},
                 {"Clusters", "Deformer::"},   {"", "Deformer::"},
                 {nullptr, "Deformer::"}};
    for (const Case& c : cases) EXPECT_STREQ(GetDeformerPrefix(c.kind), c.prefix);
}

TEST(KQovObject, UserPropertiesAttachOnce) {
    TypedObject object(1, "Model::A");
    KQovUserProperty first(nullptr, "First", "Real", "");
    KQovUserProperty second(nullptr, "Second", "Bool", "");
    object.AddUserProperty(&first);
    object.AddUserProperty(&first);
    object.AddUserProperty(nullptr);
    object.AddUserProperty(&second);
    EXPECT_EQ(object.attached, (std::vector<KQovUserProperty*>{&first, &second}));
    EXPECT_EQ(object.GetUserPropertyCount(), 2);
    EXPECT_EQ(object.GetUserProperty(1), &second);
    EXPECT_EQ(object.GetUserProperty(2), nullptr);
    EXPECT_EQ(object.GetUserProperty(-1), nullptr);
    EXPECT_EQ(object.FindUserProperty("Second"), &second);
    EXPECT_EQ(object.FindUserProperty("second"), nullptr);
    EXPECT_EQ(object.FindUserProperty(static_cast<const char*>(nullptr)), nullptr);
    EXPECT_EQ(object.FindUserProperty(static_cast<const KProperty*>(nullptr)), nullptr);
}

}  // namespace
