#pragma once
// Small stand-ins for the scene objects of later layers: an animatable object
// whose property set is built from a table, and a node attribute that records
// what the node asks of it.

#include <string>
#include <vector>

#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovTakeNodeContainer.h"

namespace scene_test {

inline const char* const kModeLabels[] = {"Off", "On", nullptr};

inline const KQovPropertyDescriptor* TestRows() {
    static const KQovPropertyDescriptor rows[] = {
        [] {
            KQovPropertyDescriptor d{"Intensity", KProperty::eDOUBLE, "Intensity"};
            d.animatable = true;
            d.defaultValue[0] = 100.0;
            return d;
        }(),
        [] {
            KQovPropertyDescriptor d{"Color", KProperty::eCOLORRGB, "Color"};
            d.animatable = true;
            d.defaultValue[0] = 0.5;
            return d;
        }(),
        [] {
            KQovPropertyDescriptor d{"Tint", KProperty::eCOLORRGBA, "ColorAndAlpha"};
            d.animatable = true;
            return d;
        }(),
        [] {
            KQovPropertyDescriptor d{"Frame", KProperty::eDOUBLE, "Matrix"};
            d.animatable = true;  // sixteen components: no channel
            return d;
        }(),
        [] {
            KQovPropertyDescriptor d{"Start", KProperty::eTIME, "Time"};
            d.animatable = true;  // no components: one curve
            return d;
        }(),
        [] {
            KQovPropertyDescriptor d{"Mode", KProperty::eENUM};
            d.enumLabels = kModeLabels;
            d.userFlags = 16;
            return d;
        }(),
        [] {
            KQovPropertyDescriptor d{"Weight", 0, "Weight"};
            d.form = KQovPropertyDescriptor::eCreated;
            d.animatable = true;
            d.defaultValue[0] = 0.25;
            return d;
        }(),
    };
    return rows;
}
constexpr int kTestRowCount = 7;

class TestSet : public KQovPropertyHandler {
public:
    explicit TestSet(KQovObject* owner) : KQovPropertyHandler(owner) {
        CreateTableProperties(TestRows(), kTestRowCount);
    }
};

// An animatable object of type 3 whose channels are those of its animatable properties.
class TestObject : public KQovTakeNodeContainer {
public:
    explicit TestObject(KQovObjectManager* manager = nullptr, const char* name = "Material::M")
        : KQovTakeNodeContainer(manager, name, &error), set(new TestSet(this)) {
        AddDefaultTakeNode();
    }
    ~TestObject() override { set->Destroy(); }
    int GetObjectType() const override { return eMaterial; }
    KQovPropertyHandler* GetPropertyHandler() const override { return set; }
    void InitTakeNodeChannels(KQovTakeNode* takeNode) override { InitAnimatableChannels(set, takeNode); }

    static constexpr const char* kErrors[1] = {"Take node error"};
    KError error{kErrors, 1};
    TestSet* set;
};

// Adds a channel "<name>" to every take it is given, and records the calls.
class TestAttribute : public KQovNodeAttribute {
public:
    TestAttribute(int type, int markerKind = 0, const char* channel = "Extra")
        : KQovNodeAttribute(nullptr), type(type), kind(markerKind), channel(channel) {}
    int GetAttributeType() const override { return type; }
    int GetMarkerKind() const override { return kind; }
    KString GetTypeName() const override { return KString("Test"); }
    void InitTakeNodeChannels(KQovTakeNode* takeNode) override {
        calls.push_back(std::string("init ") + takeNode->GetName());
        takeNode->GetRoot()->FindOrCreateChild(channel, true);
    }
    void RemoveTakeNodeChannels(KQovTakeNode* takeNode) override {
        calls.push_back(std::string("remove ") + takeNode->GetName());
        KFCurveNode* root = takeNode->GetRoot();
        const int at = root->FindIndexByName(channel);
        if (at >= 0) root->DeleteChild(root->Get(at));
    }

    int type;
    int kind;
    const char* channel;
    std::vector<std::string> calls;
};

}  // namespace scene_test
