// Version-5 model sections: one node's "Model" block with its content, limits, animated
// channel lists, user properties and default-take channels, and the camera "Switcher".

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCamera.h"
#include "attributes/KQovCameraSwitcher.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovLimitsUtility.h"
#include "attributes/KQovMarker.h"
#include "foundation/KNameNumbers.h"
#include "foundation/KQuotedText.h"
#include "foundation/KThreadScratch.h"
#include "io/KQovWrittenNames.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovReaderQov.h"
#include "io/qov/KQovWriterQov5.h"
#include "io/qov/KQovWriterQovSections.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovNodeWalk.h"
#include "scene/KQovPropertyTable.h"
#include "scene/KQovScene.h"
#include "scene/KQovUserProperty.h"

namespace {

const char* const kTypeSuffixes[] = {"Bool", "Real", "Color", "Integer", "Vector"};

// Internal and display names of the animatable channels, by channel name.
struct AnimatedChannel {
    const char* channel;
    const char* internal;
    const char* display;
};
const AnimatedChannel kLightChannels[] = {{"Color", "mLightColor", "Color"},
                                          {"Intensity", "mIntensity", "Intensity"},
                                          {"Cone angle", "mConeAngle", "Cone angle"},
                                          {"Fog", "mFog", "Fog"}};
const AnimatedChannel kCameraChannels[] = {
    {"Roll", "mRollProperty", "Roll"},
    {"FieldOfView", "mApertureProperty", "FieldOfView"},
    {"FieldOfViewX", "mFieldOfViewXProperty", "FieldOfViewX"},
    {"FieldOfViewY", "mFieldOfViewYProperty", "FieldOfViewY"},
    {"OpticalCenterX", "mOpticalCenterXProperty", "OpticalCenterX"},
    {"OpticalCenterY", "mOpticalCenterYProperty", "OpticalCenterY"},
    {"TurnTable", "mTurnTableProperty", "TurnTable"},
    {"BackgroundColor (Color)", "mBackColorProperty", "BackgroundColor"}};

// User properties whose names are alike letter case aside share one channel, with each other
// or with a channel of the node's own, which each wrote its value into in turn: the channel gets
// back the value of the property it is named after (the twins are written under names of their
// own).
// The property's value written into its channel.
void GiveBack(KProperty* property, KFCurveNode* channel) {
    double values[4] = {0.0, 0.0, 0.0, 1.0};
    const int n = KQovTakeNodeContainer::ReadChannelValues(
        property, KQovTakeNodeContainer::GetChannelComponentCount(property), values);
    if (n > 0) KQovTakeNodeContainer::WriteChannelValues(channel, values, n);
}

void GiveTwinChannelsTheirOwn(KQovNode* node, KFCurveNode* root, bool version5) {
    // Records still to be made wrap the node's own rows, and are not made here.
    if (node->AreRecordsDeferred()) return;
    std::vector<std::pair<std::string, KQovUserProperty*>> users;  // each with its folded name
    for (int i = 0; i < node->GetUserPropertyCount(); ++i) {
        KQovUserProperty* user = node->GetUserProperty(i);
        if (!user->GetFlag(KQovUserProperty::eFlagUserProperty) || !user->GetProperty()) continue;
        users.emplace_back(KNameNumbers::Folded(user->GetName().Buffer()), user);
    }
    if (users.empty()) return;
    std::unordered_map<std::string, int> count;
    for (const auto& user : users) ++count[user.first];
    // A channel of the node's own that a user property's name matches, which each wrote its
    // value into, gets the node's value back, in either layout.
    KQovPropertyHandler* set = node->GetPropertyHandler();
    for (int i = 0; set && i < root->GetCount(); ++i) {
        KFCurveNode* channel = root->Get(i);
        const std::string key = KNameNumbers::Folded(channel ? channel->GetName() : "");
        KProperty* own = count.count(key) ? set->FindProperty(channel->GetName()) : nullptr;
        if (own && !own->TestFlag(KProperty::eUserProperty)) GiveBack(own, channel);
    }
    // Version 6 keeps each twin's value in its own property record, which the reader takes.
    if (users.size() < 2 || !version5) return;
    for (const auto& [key, user] : users) {
        const KString name = user->GetName();
        KFCurveNode* channel = count[key] > 1 ? root->FindChildByName(name.Buffer()) : nullptr;
        if (channel && std::strcmp(channel->GetName(), name.Buffer()) == 0)
            GiveBack(user->GetProperty(), channel);
    }
}

}  // namespace

bool KQovWriterAnimatedInTakes(KQovTakeNodeContainer* object, const char* channel) {
    const char* none = nullptr;
    if (object->HasAnimation(channel, none, none)) return true;
    for (const char* component : {"X", "Y", "Z"})
        if (object->HasAnimation(channel, component, none)) return true;
    return false;
}

KString KQovWriterQov5::StripTypeSuffix(const KString& name) {
    const std::string text = name.Buffer();
    for (const char* type : kTypeSuffixes) {
        const std::string suffix = std::string(" (") + type + ")";
        if (text.size() >= suffix.size() &&
            text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0)
            return KString(text.substr(0, text.size() - suffix.size()).c_str());
    }
    return name;
}

bool KQovWriterQov5::IsZeroRotation(double x, double y, double z) {
    const double tolerance = 1e-6;
    if (std::fabs(x) <= tolerance && std::fabs(y) <= tolerance && std::fabs(z) <= tolerance)
        return true;
    auto near180 = [tolerance](double v) {
        return std::fabs(std::fabs(std::fmod(v, 360.0)) - 180.0) <= tolerance;
    };
    return near180(x) && near180(y) && near180(z);
}

void KQovWriterQov5::WriteModel(KQovNode* node) {
    KQovWriteBlockBegin(mFile, "Model", node->GetName());
    WriteModelContent(node, false);
    WriteDefaultChannels(node);
    if (node->GetChildCount() > 0) {
        mFile->FieldWriteBegin("Children");
        for (int i = 0; i < node->GetChildCount(); ++i)
            mFile->FieldWriteC(node->GetChild(i)->GetName());
        mFile->FieldWriteEnd();
    }
    KQovWriteBlockEnd(mFile);
}

void KQovWriterQov5::WriteModelContent(KQovNode* node, bool producer) {
    KQovFieldFile* f = mFile;
    // The version-6 layout keeps limits, pivots and user properties in the property block.
    const bool old = mFile->IsVersion5Layout();
    if (old) KQovWriteIntField(f, "Version", 194);
    KQovWriteMultiLayerAndTake(f, node);
    if (producer) {
        // Producer cameras are always written hidden and in wire frame; the nodes keep theirs.
        f->FieldWriteC("Hidden", "True");
        f->FieldWriteBegin("Shading");
        f->FieldWriteCh('W');
        f->FieldWriteEnd();
    } else {
        KQovWriteVisibilityAndShading(f, node);
    }
    const int culling = node->GetCullingMode();
    f->FieldWriteC("Culling", culling == KQovNode::eCullingOnCCW  ? "CullingOnCCW"
                              : culling == KQovNode::eCullingOnCW ? "CullingOnCW"
                                                                  : "CullingOff");
    if (old) WriteLimits(node);
    if (!producer) {
        if (KQovNode* target = node->GetLookAtTarget()) {
            f->FieldWriteC("LookAtModel", WrittenName(target));
            for (const auto& rotation :
                 {std::make_pair("PostTargetRotation", node->GetPostTargetRotation()),
                  std::make_pair("UpTargetRotation", node->GetUpTargetRotation())}) {
                const KVector4& v = rotation.second;
                if (IsZeroRotation(v[0], v[1], v[2])) continue;
                f->FieldWriteBegin(rotation.first);
                for (int i = 0; i < 3; ++i) f->FieldWriteD(v[i]);
                f->FieldWriteEnd();
            }
        }
        if (KQovNode* up = node->GetUpVectorTarget())
            f->FieldWriteC("UpVectorModel", WrittenName(up));
    }
    if (old) {
        const UserNames userNames = UserPropertyNames(node);
        std::vector<RenamedUser> renamed;
        for (size_t i = 0; i < userNames.size(); ++i) {
            KQovUserProperty* user = node->GetUserProperty(int(i));
            if (!userNames[i] || !user->GetProperty() || *userNames[i] == user->GetName()) continue;
            renamed.push_back({user, user->GetProperty()->GetName(), *userNames[i]});
        }
        if (!renamed.empty()) mRenamedUsers[node] = std::move(renamed);
        WriteAnimatedLists(node, userNames);
        WriteUserProperties(node, userNames);
    } else {
        WritePivotsAsProperties(node);
    }
    if (producer)
        WriteCameraSection(node, node->GetCamera(), true);
    else
        WriteNodeAttribute(node);
}

bool KQovWriterQov5::WriteWaitingPivotsAsProperties(KQovNode* node) {
    // A node whose rows are not built: the copy goes into the values the rows wait with, the
    // block is written from the table, and the values go back to what they were (no one hears
    // rows not built). Rows holding other than numbers are built and written as any.
    KQovNodeProperties* table = node->GetNodeProperties();
    if (!table || !table->IsTableWaiting()) return false;
    struct Saved {
        KQovPropertyHandler::WaitingValues values;
        std::vector<KProperty*> attribute;
    };
    Saved& saved = KThreadScratch<Saved>();
    KQovPropertyHandler::WaitingValues& values = saved.values;
    values = table->GetWaitingValues();
    const KQovNodeLimits limits = node->GetLimits();
    const KQovPivotSet pivots = *node->GetPivotSet(0);
    node->CopyPivotsToProperties();
    node->GetLimits() = limits;
    *node->GetPivotSet(0) = pivots;
    bool written = false;
    if (table->IsTableWaiting()) {
        std::vector<KProperty*>& attribute = saved.attribute;
        attribute.clear();
        if (KQovNodeAttribute* owned = node->GetNodeAttribute())
            owned->CollectProperties(attribute);
        written = mFile->FieldWriteWaitingPropertyBlock(*table, attribute);
    }
    table->SetWaitingValues(values);
    if (written) return true;
    table->GetPropertyCount();  // builds the rows
    return false;
}

void KQovWriterQov5::WritePivotsAsProperties(KQovNode* node) {
    // The pivots and limits travel in the property block; the caller's node keeps its own
    // values, and the pivots and limits their events may touch.
    struct Row {
        KQovEmbeddedProperty* member;
        std::array<double, 4> numbers;
    };
    struct Lists {
        std::vector<KProperty*> properties;
        std::vector<Row> rows;
    };
    Lists& lists = KThreadScratch<Lists>();
    std::vector<KProperty*>& properties = lists.properties;
    properties.clear();
    if (WriteWaitingPivotsAsProperties(node)) return;
    node->CollectProperties(properties);
    const KQovNodeLimits limits = node->GetLimits();
    const KQovPivotSet pivots = *node->GetPivotSet(0);
    // The copy sets only numbers of the node's table rows, without events: when it changes
    // none of them (a node read from a file mostly), nothing is to be put back.
    std::vector<Row>& rows = lists.rows;
    rows.clear();
    if (KQovNodeProperties* table = node->GetNodeProperties())
        for (int row = 0; row < table->GetTableRowCount(); ++row)
            if (KQovEmbeddedProperty* member = table->GetEmbedded(row)) {
                rows.push_back({member, {}});
                std::copy_n(member->GetNumbers(), 4, rows.back().numbers.begin());
            }
    node->CopyPivotsToProperties();
    const bool changed = std::any_of(rows.begin(), rows.end(), [](const Row& row) {
        return !std::equal(row.numbers.begin(), row.numbers.end(), row.member->GetNumbers());
    });
    if (!changed) {
        mFile->FieldWritePropertyBlock(properties);
        node->GetLimits() = limits;
        *node->GetPivotSet(0) = pivots;
        return;
    }
    // Back to the values before the copy, and the copy again with every value kept.
    std::vector<std::array<double, 4>> copied(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        std::copy_n(rows[i].member->GetNumbers(), 4, copied[i].begin());
        rows[i].member->SetNumbers(rows[i].numbers.data(), 4);
    }
    std::vector<std::array<double, 4>> saved(properties.size());
    std::vector<int> counts(properties.size());
    for (size_t i = 0; i < properties.size(); ++i)
        counts[i] = KQovGetPropertyNumbers(properties[i], saved[i].data());
    for (size_t i = 0; i < rows.size(); ++i) rows[i].member->SetNumbers(copied[i].data(), 4);
    mFile->FieldWritePropertyBlock(properties);
    for (size_t i = 0; i < properties.size(); ++i) {
        std::array<double, 4> now{};
        if (counts[i] > 0 && KQovGetPropertyNumbers(properties[i], now.data()) == counts[i] &&
            !std::equal(now.begin(), now.begin() + counts[i], saved[i].begin()))
            KQovSetPropertyNumbers(properties[i], saved[i].data(), counts[i]);
    }
    node->GetLimits() = limits;
    *node->GetPivotSet(0) = pivots;
}

void KQovWriterQov5::WriteLimits(KQovNode* node) {
    KQovFieldFile* f = mFile;
    KQovLimitsUtility limits(&node->GetLimits());
    auto writeInt = [f](const std::string& name, int value) {
        KQovWriteIntField(f, name.c_str(), value);
    };
    auto writeDouble = [f](const std::string& name, double value) {
        KQovWriteDoubleField(f, name.c_str(), value);
    };
    static const char kLetters[] = "TRS";
    KQovWriteBlockBegin(f, "Limits");
    bool automatic[3];
    for (int i = 0; i < 3; ++i) {
        automatic[i] = limits.GetAuto(i);
        writeInt(std::string(1, kLetters[i]) + "Auto", automatic[i] ? 1 : 0);
    }
    for (int i = 0; i < 3; ++i)
        if (!automatic[i])
            writeInt(std::string(1, kLetters[i]) + "Enable", limits.GetEnable(i) ? 1 : 0);
    // Defaults, minimums, maximums: each only when it is not the neutral value.
    using Getter = KVector4 (KQovLimitsUtility::*)(int) const;
    const struct {
        const char* suffix;
        Getter get;
        int kinds;  // scaling defaults are written too; the rotation default as well
    } kValues[] = {{"Default", &KQovLimitsUtility::GetDefault, 3},
                   {"Min", &KQovLimitsUtility::GetMin, 3},
                   {"Max", &KQovLimitsUtility::GetMax, 3}};
    for (const auto& value : kValues) {
        for (int i = 0; i < value.kinds; ++i) {
            if (automatic[i]) continue;
            const KVector4 v = (limits.*value.get)(i);
            const double neutral = i == KQovLimitsUtility::eScaling ? 1.0 : 0.0;
            for (int axis = 0; axis < 3; ++axis)
                if (v[axis] != neutral)
                    writeDouble(std::string(1, kLetters[i]) + char('X' + axis) + value.suffix,
                                v[axis]);
        }
    }
    if (!automatic[KQovLimitsUtility::eRotation]) {
        const int type = limits.GetRotationType() ? 1 : 0;
        if (type != 1) writeInt("RType", type);
        const KVector4 axis = limits.GetRotationAxis();
        for (int i = 0; i < 3; ++i)
            if (axis[i] != 0.0) writeDouble(std::string("R") + char('X' + i) + "Axis", axis[i]);
        if (limits.GetAxisLength() != 1.0) writeDouble("AxisLen", limits.GetAxisLength());
    }
    KQovWriteBlockEnd(f);
}

KQovWriterQov5::UserNames KQovWriterQov5::UserPropertyNames(KQovNode* node) {
    UserNames names;
    // Records still to be made wrap the node's own rows: none is a user property.
    if (node->AreRecordsDeferred()) return names;
    std::vector<int> written;
    names.resize(size_t(std::max(0, node->GetUserPropertyCount())));
    for (int i = 0; i < node->GetUserPropertyCount(); ++i) {
        KQovUserProperty* user = node->GetUserProperty(i);
        if (!user->GetFlag(KQovUserProperty::eFlagUserProperty)) continue;
        names[size_t(i)] = user->GetName();
        written.push_back(i);
    }
    if (written.empty()) return names;
    KQovNameTerms terms = KQovReaderQov::UserPropertyNameTerms();
    const std::string object =
        "Node \"" + KQovMessageText(node->GetNameWithoutPrefix().Buffer()) + "\" user property";
    terms.object = object.c_str();
    KQovWrittenNames taken(terms);
    KQovPropertyHandler* set = node->GetPropertyHandler();
    for (int i = 0; set && i < set->GetPropertyCount(); ++i) {
        KProperty* own = set->GetProperty(i);
        if (own && own->IsAnimatable() && !own->TestFlag(KProperty::eUserProperty))
            taken.Reserve(own->GetName());
    }
    // The first of each name keeps it; its twins take numbers no property has.
    std::vector<bool> twin(names.size(), false);
    for (int i : written) {
        const std::string name = names[size_t(i)]->Buffer();
        twin[size_t(i)] = taken.IsTaken(name);
        if (!twin[size_t(i)]) taken.Reserve(name);
    }
    for (int i : written)
        if (twin[size_t(i)])
            names[size_t(i)] = KString(taken.Add(names[size_t(i)]->Buffer()).c_str());
    mStatus += taken.GetWarnings().c_str();
    return names;
}

void KQovWriterQov5::WriteAnimatedLists(KQovNode* node, const UserNames& userNames) {
    std::vector<std::pair<KString, KString>> names = {{"mTranslationProperty", "Lcl Translation"},
                                                      {"mRotationProperty", "Lcl Rotation"},
                                                      {"mScalingProperty", "Lcl Scaling"}};
    auto addWhenAnimated = [&](const char* channel, const char* internal, const char* display) {
        if (KQovWriterAnimatedInTakes(node, channel)) names.emplace_back(internal, display);
    };
    addWhenAnimated("Visibility", "mVisibilityProperty", "Visibility");
    if (node->GetLight())
        for (const auto& c : kLightChannels) addWhenAnimated(c.channel, c.internal, c.display);
    if (node->GetCameraSwitcher())
        addWhenAnimated("Camera Index", "mCameraIndexProperty", "Camera Index");
    if (node->GetCamera())
        for (const auto& c : kCameraChannels) addWhenAnimated(c.channel, c.internal, c.display);
    if (KQovMarker* marker = node->GetMarker()) {
        if (marker->GetType() == KQovMarker::eOptical)
            addWhenAnimated("Occlusion", "Occlusion", "Occlusion");
        if (marker->GetType() == KQovMarker::eIKEffector) {
            addWhenAnimated("IK Reach Translation", "IK Reach Translation", "IK Reach Translation");
            addWhenAnimated("IK Reach Rotation", "IK Reach Rotation", "IK Reach Rotation");
        }
    }
    for (const std::optional<KString>& user : userNames) {
        if (!user) continue;
        const KString name = StripTypeSuffix(*user);
        names.emplace_back(name, name);
    }
    for (int list = 0; list < 2; ++list) {
        mFile->FieldWriteBegin(list == 0 ? "AnimatedProperty" : "Animated");
        for (const auto& name : names)
            mFile->FieldWriteC((list == 0 ? name.first : name.second).Buffer());
        mFile->FieldWriteEnd();
    }
}

void KQovWriterQov5::WriteUserProperties(KQovObject* object, const UserNames& userNames) {
    // None when the records are still to be made: counting them would make them.
    for (int i = 0; size_t(i) < userNames.size() && i < object->GetUserPropertyCount(); ++i) {
        KQovUserProperty* user = object->GetUserProperty(i);
        if (!userNames[size_t(i)]) continue;
        const KString& name = *userNames[size_t(i)];
        KString label;
        user->GetLabel(label, false);
        KQovWriteBlockBegin(mFile, "UserProperty");
        mFile->FieldWriteC("Name", StripTypeSuffix(name).Buffer());
        mFile->FieldWriteC("Type", KQovUserProperty::GetTypeName(user->GetType()));
        mFile->FieldWriteC("Label", label.Buffer());
        WriteUserPropertyValue(user);
        if (user->GetMin() > -std::numeric_limits<double>::infinity()) {
            mFile->FieldWriteBegin("Min");
            mFile->FieldWriteD(user->GetMin());
            mFile->FieldWriteEnd();
        }
        if (user->GetMax() < std::numeric_limits<double>::infinity()) {
            mFile->FieldWriteBegin("Max");
            mFile->FieldWriteD(user->GetMax());
            mFile->FieldWriteEnd();
        }
        // The fields above give the name a suffix on reading, the property its flags and
        // leave out other types; the property's own record keeps it as it is.
        if (KProperty* property = user->GetProperty())
            mFile->FieldWritePropertyBlock(property, name.Buffer());
        KQovWriteBlockEnd(mFile);
    }
}

void KQovWriterQov5::WriteUserPropertyValue(const KQovUserProperty* user) {
    switch (user->GetType()) {
        case KQovUserProperty::eBool:
        case KQovUserProperty::eInteger: {
            int value = 0;
            user->GetValue(value);
            KQovWriteIntField(mFile, "Value", value);
            break;
        }
        case KQovUserProperty::eReal: {
            double value = 0.0;
            user->GetValue(value);
            mFile->FieldWriteBegin("Value");
            mFile->FieldWriteD(value);
            mFile->FieldWriteEnd();
            break;
        }
        case KQovUserProperty::eColor:
        case KQovUserProperty::eVector: {
            double v[3] = {0.0, 0.0, 0.0};
            user->GetVector(v[0], v[1], v[2]);
            mFile->FieldWriteBegin("Value");
            for (double d : v) mFile->FieldWriteD(d);
            mFile->FieldWriteEnd();
            break;
        }
        default:
            break;
    }
}

void KQovWriterQov5::WriteDefaultChannels(KQovNode* node) {
    // A node that never made its take: the take as it would be made, without making it.
    if (!mTakeSketch) mTakeSketch = std::make_unique<KQovDefaultTakeSketch>();
    if (KQovTakeNode* sketch = node->SketchDefaultTake(*mTakeSketch)) {
        SketchBytes& last = mSketchBytes;
        const bool version5 = mFile->IsVersion5Layout();
        if (last.valid && last.generation == mTakeSketch->GetGeneration() &&
            last.version5 == version5 &&
            mFile->FieldWriteRecords(last.bytes.data(), last.bytes.size(), last.origin))
            return;
        const int64_t mark = mFile->FieldWriteMark();
        KFCurveNode* root = sketch->GetRoot();
        for (int i = 0; root && i < root->GetCount(); ++i)
            if (KFCurveNode* channel = root->Get(i)) StoreChannel(channel);
        size_t size = 0;
        const uint8_t* bytes = mFile->FieldWriteCopySince(mark, size);
        last.valid = bytes != nullptr;
        last.generation = mTakeSketch->GetGeneration();
        last.version5 = version5;
        last.origin = mark;
        last.bytes.assign(bytes, bytes + size);
        return;
    }
    // Borrowed: a node that had not made its take yet goes back to not having it.
    struct Loan {
        KQovNode* node;
        ~Loan() { node->ReturnDefaultTakeNode(); }
    } loan{node};
    KQovTakeNode* take = node->LendDefaultTakeNode();
    KFCurveNode* root = take ? take->GetRoot() : nullptr;
    if (!root) return;
    // The layout keeps property values (a translation set on the node) only as the defaults
    // of these channels: they are written from the properties, and the scene's curves get
    // their own defaults back afterwards, quietly, so no linked property moves.
    std::vector<std::pair<KFCurve*, float>> saved;
    std::function<void(KFCurveNode*)> collect = [&](KFCurveNode* channel) {
        if (KFCurve* curve = channel->GetCurve()) saved.emplace_back(curve, curve->GetValue());
        for (int i = 0; i < channel->GetCount(); ++i)
            if (KFCurveNode* child = channel->Get(i)) collect(child);
    };
    collect(root);
    node->WritePropertyDefaults();
    GiveTwinChannelsTheirOwn(node, root, mFile->IsVersion5Layout());
    for (int i = 0; i < root->GetCount(); ++i)
        if (KFCurveNode* channel = root->Get(i)) StoreChannel(channel);
    StoreRenamedUserChannels(node, root, true);
    for (const auto& [curve, value] : saved) {
        curve->SuspendChangeNotification();
        curve->SetValue(value);
        curve->DiscardPendingChanges();
        curve->ResumeChangeNotification();
    }
}

void KQovWriterQov5::StoreRenamedUserChannels(const KQovObject* object, KFCurveNode* root,
                                              bool values) {
    const auto found = root ? mRenamedUsers.find(object) : mRenamedUsers.end();
    if (found == mRenamedUsers.end()) return;
    // The first channel of each exact name, made once: a walk per property is quadratic.
    std::unordered_map<std::string_view, KFCurveNode*> byName;
    byName.reserve(size_t(std::max(0, root->GetCount())));
    for (int i = 0; i < root->GetCount(); ++i)
        if (KFCurveNode* c = root->Get(i)) byName.emplace(c->GetName(), c);
    for (const RenamedUser& renamed : found->second) {
        // The channel of the property's own name, else the one found for it letter case aside.
        const auto at = byName.find(renamed.channel.Buffer());
        KFCurveNode* shared = at != byName.end() ? at->second : nullptr;
        if (!shared) shared = root->FindChildByName(renamed.channel.Buffer());
        if (!shared) continue;
        std::unique_ptr<KFCurveNode> copy(
            KFCurveNode::Create(renamed.written.Buffer(), shared->GetDataType()));
        for (int i = 0; i < shared->GetCount(); ++i)
            if (KFCurveNode* child = shared->Get(i)) copy->Add(child->Clone(false));
        copy->CopyFrom(shared, false);
        if (values) GiveBack(renamed.user->GetProperty(), copy.get());
        StoreChannel(copy.get());
    }
}

void KQovWriterQov5::StoreChannel(KFCurveNode* channel) {
    // Version-6 files name the channels short and without user names.
    const bool old = mFile->IsVersion5Layout();
    channel->Store(*mFile, false, !old, !old, "Channel", true, old);
}

void KQovWriterQov5::WriteSwitcher(KQovScene* scene) {
    std::vector<KQovNode*> cameras;
    for (KQovNode* node : KQovListNodes(scene->GetRootNode()))
        if (node->GetCamera()) cameras.push_back(node);
    KQovNode* switcher = scene->GetCameraSwitcherNode();
    if (cameras.empty() || !switcher) return;
    KQovWriteBlockBegin(mFile, "Switcher");
    WriteModelContent(switcher, false);
    mFile->FieldWriteBegin("CameraIndexName");
    for (KQovNode* camera : cameras) mFile->FieldWriteC(camera->GetName());
    mFile->FieldWriteEnd();
    KQovWriteBlockEnd(mFile);
}
