// The node, camera, light and marker sections of the QOV reader, and the pass that resolves
// the names recorded while objects are read.
//
// Names in files: the field file hands texts back exactly as written. A value that names a
// model may or may not carry its class prefix ("Model::Cube" or "Cube"), so every lookup that
// builds "Model::" + value, or searches children by name, first drops any prefix of the value
// (StripPrefix); every comparison with a full name first puts the expected prefix in front
// (KMakePrefixedName). Writers keep writing full names.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCamera.h"
#include "attributes/KQovCameraProperties.h"
#include "attributes/KQovCameraSwitcher.h"
#include "attributes/KQovGeometry.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovLimitsUtility.h"
#include "attributes/KQovMarker.h"
#include "attributes/KQovNull.h"
#include "attributes/KQovTexture.h"
#include "foundation/KColor.h"
#include "foundation/KLocale.h"
#include "foundation/KThreadScratch.h"
#include "io/KQovWrittenNames.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KDataType.h"
#include "scene/KProperty.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovScene.h"
#include "scene/KQovUserProperty.h"

KString KQovStripPrefix(const char* name) {
    const char* text = name ? name : "";
    const char* split = std::strstr(text, "::");
    return KString(split ? split + 2 : text);
}

int KQovIndexIn(const char* text, const char* const* names, int otherwise) {
    for (int i = 0; names[i]; ++i)
        if (std::strcmp(text, names[i]) == 0) return i;
    return otherwise;
}

int32_t KQovReaderQov::ReadInt(const char* name, int32_t defaultValue) {
    return mFile->FieldReadI(name, defaultValue);
}

double KQovReaderQov::ReadDouble(const char* name, double defaultValue) {
    return mFile->FieldReadD(name, defaultValue);
}

bool KQovReaderQov::ReadFlag(const char* name, int32_t defaultValue) {
    return mFile->FieldReadI(name, defaultValue) != 0;
}

bool KQovReaderQov::ReadDoubles(const char* name, double* out, int count) {
    if (!mFile->FieldReadBegin(name)) return false;
    mFile->FieldReadDn(out, count);
    mFile->FieldReadEnd();
    return true;
}

bool KQovReaderQov::OpenBlock(const char* name) {
    if (!mFile->FieldReadBegin(name)) return false;
    if (mFile->FieldReadBlockBegin()) return true;
    mFile->FieldReadEnd();
    return false;
}

void KQovReaderQov::CloseBlock() {
    mFile->FieldReadBlockEnd();
    mFile->FieldReadEnd();
}

// --- Node sections ---

void KQovReaderQov::ReadChildren(KQovNode* node) {
    if (!mFile->FieldReadBegin("Children")) return;
    for (;;) {
        const char* name = mFile->FieldReadC();
        if (!name[0]) break;
        node->AddChildName(name);
    }
    mFile->FieldReadEnd();
}

void KQovReaderQov::ReadVisibilityAndShading(KQovNode* node) {
    node->SetVisibility(true);
    if (mFile->FieldReadBegin("Hidden")) {
        if (KString(mFile->FieldReadC()).CompareNoCase("True") == 0) node->SetVisibility(false);
        mFile->FieldReadEnd();
    }
    node->SetShadingMode(0);
    if (mFile->FieldReadBegin("Shading")) {
        const char* modes = "WFYTU";
        const char letter = mFile->FieldReadCh();
        const char* at = letter ? std::strchr(modes, letter) : nullptr;
        if (at) node->SetShadingMode(int(at - modes) + 1);
        mFile->FieldReadEnd();
    }
}

void KQovReaderQov::ReadCulling(KQovNode* node) {
    static const char* const kModes[] = {"CullingOff", "CullingOnCCW", "CullingOnCW", nullptr};
    node->SetCullingMode(KQovIndexIn(mFile->FieldReadC("Culling", ""), kModes, 0));
}

void KQovReaderQov::ReadLimits(KQovNode* node) {
    if (!OpenBlock("Limits")) return;
    KQovLimitsUtility limits(&node->GetLimits());
    static const char kKinds[] = "TRS";
    const auto field = [](int kind, const char* rest) {
        return std::string(1, kKinds[kind]) + rest;
    };
    for (int kind = 0; kind < 3; ++kind)
        limits.SetAuto(kind, ReadFlag(field(kind, "Auto").c_str(), 1));
    for (int kind = 0; kind < 3; ++kind)
        limits.SetEnable(kind, ReadFlag(field(kind, "Enable").c_str(), 0));
    // Defaults, then minimums, then maximums; scaling's neutral value is 1.
    using Setter = void (KQovLimitsUtility::*)(int, const KVector4&);
    static const struct {
        const char* suffix;
        Setter set;
    } kVectors[] = {{"Default", &KQovLimitsUtility::SetDefault},
                    {"Min", &KQovLimitsUtility::SetMin},
                    {"Max", &KQovLimitsUtility::SetMax}};
    for (const auto& vector : kVectors) {
        for (int kind = 0; kind < 3; ++kind) {
            const double neutral = kind == KQovLimitsUtility::eScaling ? 1.0 : 0.0;
            double v[3];
            for (int axis = 0; axis < 3; ++axis)
                v[axis] = ReadDouble((field(kind, "") + char('X' + axis) + vector.suffix).c_str(),
                                     neutral);
            (limits.*vector.set)(kind, KVector4(v[0], v[1], v[2], 0.0));
        }
    }
    limits.SetRotationType(ReadInt("RType", 1));
    ReadInt("RClampType", 0);
    // Files this library wrote before named the axis fields without the "R".
    double axis[3];
    for (int i = 0; i < 3; ++i) {
        const std::string name = std::string(1, char('X' + i)) + "Axis";
        axis[i] = ReadDouble(("R" + name).c_str(), ReadDouble(name.c_str(), 0.0));
    }
    limits.SetRotationAxis(KVector4(axis[0], axis[1], axis[2], 0.0));
    limits.SetAxisLength(ReadDouble("AxisLen", 1.0));
    CloseBlock();
}

void KQovReaderQov::ReadLookAt(KQovNode* node) {
    if (mFile->FieldReadBegin("LookAtModel")) {
        mLookAtNames.Add(mFile->FieldReadC(), node);
        mFile->FieldReadEnd();
    }
    double v[3] = {0.0, 0.0, 0.0};
    const double zero[3] = {0.0, 0.0, 0.0};
    mFile->FieldReadDn("PostTargetRotation", v, zero, 3);
    node->SetPostTargetRotation(v[0], v[1], v[2], 0.0);
    mFile->FieldReadDn("UpTargetRotation", v, zero, 3);
    node->SetUpTargetRotation(v[0], v[1], v[2], 0.0);
    if (mFile->FieldReadBegin("UpVectorModel")) {
        mUpVectorNames.Add(mFile->FieldReadC(), node);
        mFile->FieldReadEnd();
    }
}

void KQovReaderQov::ReadPivots(KQovNode* node) {
    if (!OpenBlock("Pivots")) return;
    static const char* const kSets[] = {"Package", "File"};
    using Setter = void (KQovNode::*)(int, double, double, double, double);
    static const struct {
        const char* name;
        Setter set;
    } kVectors[] = {{"TranslationOffset", &KQovNode::SetRotationOffset},
                    {"RotationPivot", &KQovNode::SetRotationPivot},
                    {"PreRotation", &KQovNode::SetPreRotation},
                    {"PostRotation", &KQovNode::SetPostRotation},
                    {"ScalingPivot", &KQovNode::SetScalingPivot}};
    for (int set = 0; set < 2; ++set) {
        if (!OpenBlock(kSets[set])) continue;
        // The file stores the negation of the state.
        if (mFile->FieldReadBegin("PivotEnabled")) {
            node->SetPivotState(set, mFile->FieldReadI() == 0 ? 1 : 0);
            mFile->FieldReadEnd();
        }
        for (const auto& vector : kVectors) {
            double v[3];
            if (ReadDoubles(vector.name, v, 3)) (node->*vector.set)(set, v[0], v[1], v[2], 1.0);
        }
        CloseBlock();
    }
    CloseBlock();
}

KQovNameTerms KQovReaderQov::UserPropertyNameTerms() {
    KQovNameTerms terms;
    terms.format = "version-5 QOV";
    terms.foldCase = true;
    terms.splitters = "";
    terms.controls = false;
    terms.empty = "";
    return terms;
}

namespace {

// A user property's channel as the file may name it: the writer stores the channel under the
// property's own name, which for a property named without its type suffix is not the name
// the reader gives it ("Weight" against "Weight (Real)"). The holder, named as written,
// catches that channel, which would otherwise be skipped as matching nothing.
struct WrittenUserChannel {
    KFCurveNode* channel;
    KFCurveNode* holder;
};

std::vector<WrittenUserChannel> HoldWrittenUserChannels(KQovNode* node, KFCurveNode* root) {
    std::vector<WrittenUserChannel> held;
    for (int i = 0; i < node->GetUserPropertyCount(); ++i) {
        KQovUserProperty* user = node->GetUserProperty(i);
        const int type = user->GetType();
        // Vectors keep their names on read; other types have no channel.
        if (type == KQovUserProperty::eVector || type == KQovUserProperty::eUnidentified ||
            !user->GetFlag(KQovUserProperty::eFlagUserProperty))
            continue;
        const std::string name = user->GetName().Buffer();
        const std::string suffix = std::string(" (") + KQovUserProperty::GetTypeName(type) + ")";
        if (name.size() <= suffix.size() ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string written = name.substr(0, name.size() - suffix.size());
        KFCurveNode* channel = root->Get(root->FindIndexByName(name));
        if (!channel || root->FindIndexByName(written) >= 0) continue;
        auto* holder = new KFCurveNode(written.c_str(), written.c_str(), nullptr);
        // Components are read only into children already there.
        for (int c = 0; channel->GetCount() == 3 && c < 3; ++c)
            holder->Add(
                new KFCurveNode(channel->Get(c)->GetName(), channel->Get(c)->GetName(), nullptr));
        root->Add(holder);
        held.push_back({channel, holder});
    }
    return held;
}

// Each curve a holder caught, with the channel's node of its component (the channel itself
// for a holder without components).
template <class Give>
void ForEachHeldCurve(KFCurveNode* holder, KFCurveNode* channel, Give give) {
    const bool components = holder->GetCount() > 0;
    for (int c = 0; c < (components ? holder->GetCount() : 1); ++c) {
        KFCurveNode* from = components ? holder->Get(c) : holder;
        KFCurveNode* to =
            components ? channel->Get(channel->FindIndexByName(from->GetName())) : channel;
        if (from && from->GetCurve() && to) give(*from->GetCurve(), *to);
    }
}

// What a holder caught goes into the property's own channel; the holder goes.
void TakeWrittenUserChannels(KFCurveNode* root, const std::vector<WrittenUserChannel>& held) {
    // Last first: each holder is then the root's last child, found and removed at once.
    for (auto it = held.rbegin(); it != held.rend(); ++it) {
        ForEachHeldCurve(it->holder, it->channel, [](const KFCurve& from, KFCurveNode& to) {
            if (!to.GetCurve()) to.SetCurve(KFCurve::Create());
            to.GetCurve()->CopyFrom(from);
        });
        root->DeleteChild(it->holder);
    }
}

// A holder's curve: its colour stays NaN unless the file gives one.
KFCurve* UncolouredCurve() {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    return KFCurve::Create(0.0, nan, nan, nan);
}

bool ColourRead(const KFCurve& curve) {
    return !std::isnan(curve.GetColor()[0]);
}

// The channels of the properties a version-6 property block made are made when the properties
// are wrapped, after the read, carrying the properties' values. Meanwhile holders of their names
// catch the file's channels, whose keys and colour the made channels then take.
std::vector<KFCurveNode*> HoldPropertyChannels(KQovNode* node, KFCurveNode* root) {
    std::vector<KFCurveNode*> holders;
    KQovPropertyHandler* set = node->GetPropertyHandler();
    for (int i = 0; set && i < set->GetPropertyCount(); ++i) {
        const KProperty* property = set->GetProperty(i);
        const char* name = property && property->TestFlag(KProperty::eAnimatable)
                               ? node->GetChannelName(property)
                               : nullptr;
        if (!name || root->FindIndexByName(name) >= 0) continue;
        auto holder = std::make_unique<KFCurveNode>(name, name, nullptr);
        // Components are read only into children already there.
        if (KQovTakeNodeContainer::GetChannelComponentCount(property) == 3)
            for (int c = 0; c < 3; ++c) {
                const char* component = KQovTakeNodeContainer::GetComponentName(c);
                holder->Add(new KFCurveNode(component, component, nullptr));
                holder->Get(c)->SetCurve(UncolouredCurve());
            }
        else
            holder->SetCurve(UncolouredCurve());
        root->Add(holder.get());
        holders.push_back(holder.release());
    }
    return holders;
}

// A holder's keys, with its extrapolation, and the colour the file gave; the default value stays
// the curve's own.
void CopyKeys(const KFCurve& from, KFCurve& to) {
    float color[3];
    std::copy(to.GetColor(), to.GetColor() + 3, color);
    if (ColourRead(from)) std::copy(from.GetColor(), from.GetColor() + 3, color);
    if (from.KeyGetCount() == 0) {
        to.SetColor(color);
        return;
    }
    const float value = to.GetValue();
    to.CopyFrom(from);
    to.SuspendChangeNotification();
    to.SetValue(value);
    to.DiscardPendingChanges();
    to.ResumeChangeNotification();
    to.SetColor(color);
}

// Whether a holder caught keys or a colour.
bool CaughtAny(const KFCurveNode* node) {
    const KFCurve* curve = node->GetCurve();
    if (curve && (curve->KeyGetCount() > 0 || ColourRead(*curve))) return true;
    for (int i = 0; i < node->GetCount(); ++i)
        if (CaughtAny(node->Get(i))) return true;
    return false;
}

bool SameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof(float)) == 0;
}

// The fields a keyless channel may hold.
bool PlainChannelField(const char* name) {
    for (const char* known : {"Channel", "Default", "Color", "KeyVer", "KeyCount", "LayerType"})
        if (std::strcmp(name, known) == 0) return true;
    return false;
}

bool ScanChannelBlock(KQovFieldFile& file, KFCurveNode* expected);

// Whether the channels of the open level are `expected`'s children, one for one and in order
// (a block is entered only where a read would enter it).
bool ScanChildChannels(KQovFieldFile& file, KFCurveNode* expected) {
    bool same = file.FieldReadGetOccurrenceCount("Channel") == expected->GetCount();
    for (int i = 0; same && i < expected->GetCount(); ++i) {
        KFCurveNode* child = expected->Get(i);
        if (!child || !file.FieldReadBegin("Channel")) return false;
        same =
            file.FieldReadGetRemain() > 0 && std::strcmp(file.FieldReadC(), child->GetName()) == 0;
        if (same && file.FieldReadBlockBegin()) {
            same = ScanChannelBlock(file, child);
            file.FieldReadBlockEnd();
        } else {
            same = false;
        }
        file.FieldReadEnd();
    }
    return same;
}

// Inside a channel's block: only what a keyless channel holds, with the default and colour of
// `expected`'s curve, then its children. The block is walked from its start (a read may have
// gone through it) and rewound for the read that may follow.
bool ScanChannelBlock(KQovFieldFile& file, KFCurveNode* expected) {
    file.FieldReadRewind();
    bool same = true;
    for (int i = 0; same && i < file.FieldReadGetNameCount(); ++i) {
        const char* name = file.FieldReadGetName(i);
        same = name && PlainChannelField(name);
    }
    const KFCurve* curve = expected->GetCurve();
    if (same && file.FieldReadBegin("Default")) {
        same = curve && file.FieldReadGetRemain() == 1 &&
               SameBits(float(file.FieldReadD()), curve->GetValue());
        file.FieldReadEnd();
    } else if (same) {
        same = !curve;
    }
    same = same && file.FieldReadI("KeyCount", 0) == 0;
    if (same && file.FieldReadBegin("Color")) {
        same = curve && file.FieldReadGetRemain() == 3;
        for (int c = 0; c < 3 && same; ++c)
            same = SameBits(float(file.FieldReadD()), curve->GetColor()[c]);
        file.FieldReadEnd();
    }
    same = same && ScanChildChannels(file, expected);
    file.FieldReadRewind();
    return same;
}

// Whether two channel trees hold the same but for layer types (`read`'s are listed in tree
// order): names, data types, layers, keyless curves alike.
bool SameChannels(KFCurveNode* a, KFCurveNode* b, std::vector<int8_t>& read) {
    if (!a || !b || a->GetCount() != b->GetCount() || a->GetLayerType() < INT8_MIN ||
        a->GetLayerType() > INT8_MAX || a->GetLayerId() != b->GetLayerId() || a->GetNextLayer() ||
        b->GetNextLayer() || a->GetTimeWarp() || b->GetTimeWarp() ||
        a->GetDataType() != b->GetDataType() || std::strcmp(a->GetName(), b->GetName()) != 0 ||
        std::strcmp(a->GetSecondName(), b->GetSecondName()) != 0)
        return false;
    const KFCurve* x = a->GetCurve();
    const KFCurve* y = b->GetCurve();
    if (!x != !y) return false;
    if (x && (x->KeyGetCount() != 0 || y->KeyGetCount() != 0 ||
              !SameBits(x->GetValue(), y->GetValue()) ||
              std::memcmp(x->GetColor(), y->GetColor(), 3 * sizeof(float)) != 0 ||
              x->GetTag() != y->GetTag() || x->GetPreExtrapolation() != y->GetPreExtrapolation() ||
              x->GetPostExtrapolation() != y->GetPostExtrapolation() ||
              x->GetPreExtrapolationCount() != y->GetPreExtrapolationCount() ||
              x->GetPostExtrapolationCount() != y->GetPostExtrapolationCount()))
        return false;
    read.push_back(int8_t(a->GetLayerType()));
    for (int i = 0; i < a->GetCount(); ++i)
        if (!SameChannels(a->Get(i), b->Get(i), read)) return false;
    return true;
}

}  // namespace

void KQovReaderQov::KeepHeldKeys(KFCurveNode* root, const std::vector<KFCurveNode*>& holders) {
    mHeldKeys.clear();
    for (KFCurveNode* holder : holders) {
        root->Remove(root->FindIndexByName(holder->GetName()));
        std::unique_ptr<KFCurveNode> owned(holder);
        if (CaughtAny(holder)) mHeldKeys.push_back(std::move(owned));
    }
}

bool KQovReaderQov::KeepsPlannedTake(KQovNode* node) {
    if (!mPlannedTakes) mPlannedTakes = std::make_unique<KQovDefaultTakeSketch>();
    KQovTakeNode* planned = node->SketchPlannedTake(*mPlannedTakes);
    KFCurveNode* expected = planned ? planned->GetRoot() : nullptr;
    if (!expected) return false;
    KQovFieldFile& file = *mFile.get();
    bool same = ScanChildChannels(file, expected);
    if (same) {
        // Read as the made take would be, into a copy of it: what a read changes besides
        // the values (layer types, names found by type) shows there.
        KQovTakeNode read(*planned);
        file.FieldReadBegin("Channel", 0);  // the first channel next
        while (KFCurveNode::Retrieve(file, read.GetRoot(), true, false, true)) {
        }
        // The layer types a read sets go with the node, for the take made later.
        struct Layers {
            std::vector<int8_t> types;
        };
        std::vector<int8_t>& layers = KThreadScratch<Layers>().types;
        layers.clear();
        same = SameChannels(read.GetRoot(), expected, layers) && node->KeepReadChannels(layers);
        // The same walk again rewinds every block the read entered.
        file.FieldReadBegin("Channel", 0);
        ScanChildChannels(file, expected);
    }
    // A read that follows starts at the first channel; kept, they count as read.
    if (!same) file.FieldReadBegin("Channel", 0);
    return same;
}

void KQovReaderQov::ReadDefaultChannels(KQovNode* node) {
    // Without a channel to read, the default take is not even looked at (nor made).
    if (mFile->FieldReadGetOccurrenceCount("Channel") <= 0) return;
    // Channels that give just what the node would make keep its take unmade, its rows unbuilt:
    // files this library wrote hold them for every model.
    if (!mFile->IsVersion5Layout() && node->IsDefaultTakeDeferred() && KeepsPlannedTake(node))
        return;
    KQovTakeNode* take = node->GetDefaultTakeNode();
    KFCurveNode* root = take ? take->GetRoot() : nullptr;
    if (!root) return;
    const std::vector<WrittenUserChannel> held = mFile->IsVersion5Layout()
                                                     ? HoldWrittenUserChannels(node, root)
                                                     : std::vector<WrittenUserChannel>();
    const std::vector<KFCurveNode*> holders =
        mFile->IsVersion5Layout() ? std::vector<KFCurveNode*>() : HoldPropertyChannels(node, root);
    const auto route = RouteOfShapes(node, take);
    while (KFCurveNode::Retrieve(*mFile.get(), root, false, false, true, route)) {
    }
    TakeWrittenUserChannels(root, held);
    KeepHeldKeys(root, holders);
}

void KQovReaderQov::GiveHeldKeys(KQovNode* node) {
    // Without keys held the take is not even looked at (an unmade one stays so).
    if (mHeldKeys.empty()) return;
    KQovTakeNode* take = node->GetDefaultTakeNode();
    KFCurveNode* root = take ? take->GetRoot() : nullptr;
    for (const std::unique_ptr<KFCurveNode>& holder : mHeldKeys) {
        KFCurveNode* channel = root ? root->Get(root->FindIndexByName(holder->GetName())) : nullptr;
        if (!channel) continue;
        ForEachHeldCurve(holder.get(), channel, [](const KFCurve& from, KFCurveNode& to) {
            if (to.GetCurve()) CopyKeys(from, *to.GetCurve());
        });
    }
    mHeldKeys.clear();
}

// A block that holds the property's own record gives the property as it was: name, type,
// flags, value and range. Blocks without one read as they always did. The record makes a
// property of its own (a name taken already gets a number), looked up in no list, so that
// each block costs the same however many came before.
bool KQovReaderQov::ReadUserPropertyRecord(KQovObject* object) {
    KQovPropertyHandler* set = object->GetPropertyHandler();
    if (!set || mFile->FieldReadGetOccurrenceCount("Properties60") == 0) return false;
    std::vector<KProperty*> made;
    mFile->FieldReadPropertyBlock(made, set);
    for (KProperty* property : made)
        object->AddUserProperty(mManager->CreateUserPropertyFromProperty(property));
    return !made.empty();
}

void KQovReaderQov::ReadUserProperties(KQovObject* object) {
    ForEachBlock(mFile.get(), "UserProperty", [&] {
        if (ReadUserPropertyRecord(object)) return;
        KString name = mFile->FieldReadC("Name", "UserProp");
        const KString type = mFile->FieldReadC("Type", "");
        const KString label = mFile->FieldReadC("Label", "");
        if (type.CompareNoCase("Vector") != 0) name = name + " (" + type + ")";
        KQovUserProperty* user =
            mManager->CreateUserProperty(name.Buffer(), type.Buffer(), label.Buffer());
        if (user) {
            user->SetFlag(2, true);
            user->SetFlag(1, true);
            object->AddUserProperty(user);
            double v[3] = {0.0, 0.0, 0.0};
            switch (user->GetType()) {
                case KQovUserProperty::eBool:
                    user->SetValue(ReadInt("Value", 0) != 0);
                    break;
                case KQovUserProperty::eReal:
                    user->SetValue(ReadDouble("Value", 0.0));
                    break;
                case KQovUserProperty::eInteger:
                    user->SetValue(int(ReadInt("Value", 0)));
                    break;
                case KQovUserProperty::eColor:
                case KQovUserProperty::eVector:
                    if (ReadDoubles("Value", v, 3)) user->SetValue(v[0], v[1], v[2]);
                    break;
                default:
                    break;
            }
            user->SetMin(ReadDouble("Min", -std::numeric_limits<double>::infinity()));
            user->SetMax(ReadDouble("Max", std::numeric_limits<double>::infinity()));
        }
    });
}

void KQovReaderQov::ReadPropertyBlock(KQovObject* object) {
    // What a node lists after its own rows: its attribute's properties.
    std::vector<KProperty*> others;
    if (auto* node = dynamic_cast<KQovNode*>(object))
        if (KQovNodeAttribute* attribute = node->GetNodeAttribute())
            attribute->CollectProperties(others);
    mFile->FieldReadPropertyBlock(
        [object](std::vector<KProperty*>& properties) { object->CollectProperties(properties); },
        object->GetPropertyHandler(), others);
    // The names the new properties' channels take are theirs before any channel of the file is
    // given to its owner: a shape that gives one up gets the file's channels of its name.
    auto* node = dynamic_cast<KQovNode*>(object);
    if (KQovGeometry* geometry = node ? node->GetGeometry() : nullptr;
        geometry && geometry->GetShapeCount() > 0) {
        node->ClaimChannelNames(UnwrappedProperties(node));
        KeepRenamedShapes(node);
    }
    if (auto* container = dynamic_cast<KQovTakeNodeContainer*>(object)) {
        container->KQovTakeNodeContainer::AfterPropertiesRead();
        if (dynamic_cast<KQovNode*>(object)) container->AfterPropertiesRead();
    }
}

namespace {

// Puts `pointer` into an open-addressed table (a power of two long, with room); false when
// it is there already.
bool PutPointer(std::vector<const KProperty*>& slots, const KProperty* pointer) {
    const size_t mask = slots.size() - 1;
    size_t at =
        size_t((uint64_t(reinterpret_cast<uintptr_t>(pointer)) >> 4) * 0x9E3779B97F4A7C15ull >>
               32) &
        mask;
    for (; slots[at]; at = (at + 1) & mask)
        if (slots[at] == pointer) return false;
    slots[at] = pointer;
    return true;
}

}  // namespace

int KQovReaderQov::WrapUserProperties(KQovObject* object) {
    KQovPropertyHandler* handler = object->GetPropertyHandler();
    if (!handler) return 0;
    // Rows not built yet have their records made with them: none would be fresh.
    if (handler->IsTableWaiting() && object->AreRecordsDeferred())
        return handler->GetTableRowCount();
    const std::vector<KProperty*> fresh = UnwrappedProperties(object);
    // The new records share one allocation.
    KQovObjectManager::RecordBatch batch(mManager, fresh.size());
    for (KProperty* property : fresh)
        object->AddUserProperty(mManager->CreateUserPropertyFromProperty(property));
    return handler->GetPropertyCount();
}

std::vector<KProperty*> KQovReaderQov::UnwrappedProperties(KQovObject* object) {
    KQovPropertyHandler* handler = object->GetPropertyHandler();
    if (!handler || (handler->IsTableWaiting() && object->AreRecordsDeferred())) return {};
    // What is wrapped already, looked up by property rather than by a pass over the records
    // per property. A record whose property is gone wraps no live one. The table is open
    // addressed, at most half full, and kept between objects; a property the set lists twice
    // gets one record, at its first place.
    size_t size = 16;
    while (size < 2 * size_t(std::max(0, object->GetUserPropertyCount()) +
                             std::max(0, handler->GetPropertyCount())))
        size *= 2;
    mWrappedSlots.assign(size, nullptr);
    const auto insert = [this](const KProperty* property) {
        return PutPointer(mWrappedSlots, property);
    };
    for (int i = 0; i < object->GetUserPropertyCount(); ++i)
        if (const KProperty* property = object->GetUserProperty(i)->GetProperty()) insert(property);
    std::vector<KProperty*> fresh;
    for (int i = 0; i < handler->GetPropertyCount(); ++i) {
        KProperty* property = handler->GetProperty(i);
        if (property && !insert(property)) continue;
        fresh.push_back(property);
    }
    return fresh;
}

namespace {

// The defaults of a channel's first three children; a child without a curve gives `none`.
bool ChildDefaults(const KFCurveNode* channel, double none, double v[3]) {
    if (!channel || channel->GetCount() != 3) return false;
    for (int i = 0; i < 3; ++i) {
        const KFCurveNode* child = channel->Get(i);
        v[i] = child && child->GetCurve() ? double(child->GetCurve()->GetValue()) : none;
    }
    return true;
}

}  // namespace

void KQovReaderQov::SetUserPropertiesFromTake(KQovNode* node) {
    KQovTakeNode* take = node->GetCurrentTakeNode();
    KFCurveNode* root = take ? take->GetRoot() : nullptr;
    if (!root) return;
    // Older files keep a user property's value as the default of its channel.
    for (int i = 0; i < node->GetUserPropertyCount(); ++i) {
        KQovUserProperty* user = node->GetUserProperty(i);
        // Its own channel, under the root: not a deeper one of the same name ("X" of "T").
        const KFCurveNode* channel = root->FindChildByName(user->GetName().Buffer());
        double v[3];
        if (!channel) continue;
        if (ChildDefaults(channel, 0.0, v))
            user->SetValue(v[0], v[1], v[2]);
        else if (channel->GetCount() != 3 && channel->GetCurve())
            user->SetValue(double(channel->GetCurve()->GetValue()));
    }
    static const struct {
        const char* property;
        const char* channel;
        double none;
    } kTransforms[] = {{"Lcl Translation", "Transform/T", 0.0},
                       {"Lcl Rotation", "Transform/R", 0.0},
                       {"Lcl Scaling", "Transform/S", 1.0}};
    KQovPropertyHandler* set = node->GetPropertyHandler();
    for (const auto& transform : kTransforms) {
        KQovUserProperty* user = node->FindUserProperty(transform.property);
        double v[3];
        if (set && set->FindProperty(transform.property) && user &&
            ChildDefaults(root->Find(transform.channel), transform.none, v))
            user->SetValue(v[0], v[1], v[2]);
    }
}

// --- Attribute sections ---

void KQovReaderQov::ReadNullProperties(KQovNull* null) {
    if (!OpenBlock("Properties")) return;
    if (mFile->FieldReadBegin("Size")) {
        null->SetSize(mFile->FieldReadD());
        mFile->FieldReadEnd();
    }
    CloseBlock();
}

void KQovReaderQov::ReadMarkerProperties(KQovMarker* marker) {
    KColor color = marker->GetColor();
    double v[3];
    if (OpenBlock("Properties")) {
        marker->SetLook(ReadInt("Look", marker->GetLook()));
        marker->SetSize(ReadDouble("Size", marker->GetSize()));
        if (ReadDoubles("Color", v, 3)) color = KColor(v[0], v[1], v[2]);
        if (ReadDoubles("IKPivot", v, 3)) marker->SetIKPivot(KVector4(v[0], v[1], v[2], 0.0));
        marker->SetShowLabel(ReadInt("ShowLabel", marker->GetShowLabel() ? 1 : 0) != 0);
        CloseBlock();
    } else {
        // Older files keep the colour as the defaults of the "Color" channel.
        const int count = mFile->FieldReadGetOccurrenceCount("Channel");
        for (int i = 0; i < count; ++i) {
            if (!mFile->FieldReadBegin("Channel", i)) break;
            if (std::strcmp(mFile->FieldReadC(), "Color") != 0 || !mFile->FieldReadBlockBegin()) {
                mFile->FieldReadEnd();
                continue;
            }
            double rgb[3] = {color.mRed, color.mGreen, color.mBlue};
            const int inner = mFile->FieldReadGetOccurrenceCount("Channel");
            for (int j = 0; j < inner; ++j) {
                if (!mFile->FieldReadBegin("Channel", j)) break;
                const char* axis = mFile->FieldReadC();
                const int at =
                    axis[0] && !axis[1] && axis[0] >= 'X' && axis[0] <= 'Z' ? axis[0] - 'X' : -1;
                if (at >= 0 && mFile->FieldReadBlockBegin()) {
                    rgb[at] = ReadDouble("Default", rgb[at]);
                    mFile->FieldReadBlockEnd();
                }
                mFile->FieldReadEnd();
            }
            color = KColor(rgb[0], rgb[1], rgb[2]);
            CloseBlock();
            break;
        }
    }
    marker->SetColor(color.mRed, color.mGreen, color.mBlue, 1.0);
    if (marker->GetType() != KQovMarker::eIKEffector) return;
    marker->SetDefaultIKReachTranslation(ReadDouble("IKReachTranslation", 0.0));
    marker->SetDefaultIKReachRotation(ReadDouble("IKReachRotation", 0.0));
    // The reach values also live as properties of the effector's node, typed by their names.
    KQovNode* node = marker->GetNode();
    KQovPropertyHandler* set = node ? node->GetPropertyHandler() : nullptr;
    const struct {
        const char* name;
        double value;
    } reaches[] = {{"IK Reach Translation", marker->GetDefaultIKReachTranslation()},
                   {"IK Reach Rotation", marker->GetDefaultIKReachRotation()}};
    for (const auto& reach : reaches) {
        if (!set || set->FindProperty(reach.name)) continue;
        KProperty* property = set->CreateProperty(reach.name, KProperty::eDOUBLE,
                                                  KDataType::FindByName(reach.name), true, false);
        if (!property) continue;
        property->SetUserFlag(8, true);
        // Its value goes into the channel when a user property comes to wrap it.
        property->SetDouble(reach.value);
    }
}

void KQovReaderQov::ReadCamera(KQovCamera* camera) {
    // Inside a model block the model's own "Version" comes first and the camera's after it.
    int version = 0;
    const int versions = mFile->FieldReadGetOccurrenceCount("Version");
    if (versions > 0 && mFile->FieldReadBegin("Version", versions - 1)) {
        version = mFile->FieldReadI();
        mFile->FieldReadEnd();
    }
    const bool old = mFile->IsVersion5Layout();
    double v[4];
    if (ReadDoubles("Position", v, 3)) {
        camera->SetPosition(KVector4(v[0], v[1], v[2], 1.0));
        mCameraPositions[camera] = {v[0], v[1], v[2]};
    }
    if (ReadDoubles("Up", v, 3)) camera->SetUpVector(KVector4(v[0], v[1], v[2], 1.0));
    if (ReadDoubles("LookAt", v, 3)) camera->SetLookAt(KVector4(v[0], v[1], v[2], 1.0));
    if (old) {
        camera->SetDefaultRoll(ReadDouble("Roll", 0.0));
        camera->SetProjectionType(ReadInt("Type", 0));
        // Before section version 117 the aspect was written as integers.
        const double height = version >= 117 ? ReadDouble("AspectH", 0.0) : ReadInt("AspectH", 0);
        const double width = version >= 117 ? ReadDouble("AspectW", 0.0) : ReadInt("AspectW", 0);
        camera->SetResolution(ReadInt("AspectType", 0), width, height);
        camera->SetPixelAspectRatio(ReadDouble("PixelRatio", 1.0));
        static const char* const kFormats[] = {"",        "D1 NTSC", "NTSC",        "PAL",
                                               "D1 PAL",  "HD",      "640x480",     "320x200",
                                               "320x240", "128x128", "Full Screen", nullptr};
        const char* format = mFile->FieldReadC("FormatName", "");
        camera->SetCameraFormat(format[0] ? KQovIndexIn(format, kFormats, 0) : 0);
        camera->SetLockMode(ReadFlag("CameraLock", 0));

        camera->SetApertureMode(ReadInt("ApertureMode", 0));
        if (ReadDoubles("CameraAperture", v, 2)) {
            camera->SetFilmWidth(v[0]);
            camera->SetFilmHeight(v[1]);
        }
        camera->SetFilmSqueezeRatio(ReadDouble("SqueezeRatio", 0.0));
        // The film formats by the labels of the camera's own enum (0 "Custom" is no match).
        const KString film = mFile->FieldReadC("ApertureFormat", "");
        KProperty* labels =
            camera->GetCameraProperties()->GetTableProperty(KQovCameraProperties::eFilmFormatIndex);
        int filmFormat = film.IsEmpty() ? 4 : 0;
        for (int i = 1; filmFormat == 0 && labels && labels->GetEnumName(i); ++i)
            if (film == labels->GetEnumName(i)) filmFormat = i;
        camera->SetFilmFormat(filmFormat);
        camera->SetNearPlane(ReadDouble("NearPlane", 10.0));
        camera->SetFarPlane(ReadDouble("FarPlane", 4000.0));
        if (version < 210)
            camera->SetFocalLengthFromFieldOfView(ReadDouble("Aperture", 0.0));
        else
            camera->SetFocalLength(ReadDouble("FocalLength", 35.0));
        using Setter = void (KQovCamera::*)(double);
        static const struct {
            const char* name;
            Setter set;
        } kDefaults[] = {{"FieldOfViewXProperty", &KQovCamera::SetDefaultFieldOfViewX},
                         {"FieldOfViewYProperty", &KQovCamera::SetDefaultFieldOfViewY},
                         {"OpticalCenterXProperty", &KQovCamera::SetDefaultOpticalCenterX},
                         {"OpticalCenterYProperty", &KQovCamera::SetDefaultOpticalCenterY},
                         {"TurnTable", &KQovCamera::SetDefaultTurnTable}};
        for (const auto& d : kDefaults)
            if (ReadDoubles(d.name, v, 1)) (camera->*d.set)(v[0]);

        if (version < 200) {
            for (const char* field : {"BackgroundTexture", "VideoClipTexture"}) {
                if (!mFile->FieldReadBegin(field)) continue;
                const char* name = mFile->FieldReadC();
                camera->SetBackgroundTextureName(name);
                if (name[0]) mBackgroundNames.Add(name, camera);
                mFile->FieldReadEnd();
            }
        } else {
            camera->SetBackgroundMediaName(mFile->FieldReadC("Media", ""));
        }
        camera->SetViewFrustumBackPlaneMode(ReadInt("ViewFrustumPlane", 2));
        camera->SetBackgroundMode(ReadInt("BackgroundMode", 0));
        camera->SetForegroundTransparent(ReadFlag("ForegroundTransparent", 1));
        camera->SetBackgroundAlphaTreshold(ReadDouble("BackgroundTreshold", 0.5));
        camera->SetBackgroundPlacementOptions(ReadInt("DisplayMode", 6));
        camera->SetBackPlaneDistance(ReadDouble("ViewFrustumPlaneDistance", 100.0));
        camera->SetBackPlaneDistanceMode(ReadInt("ViewFrustumPlaneDistanceMode", 0));
        camera->SetViewCameraToLookAt(ReadFlag("ViewLookAt", 1));
        camera->SetViewFrustumNearFarPlane(ReadFlag("ViewFrustum", 0));
        camera->SetShowGrid(ReadFlag("ShowGrid", 1));
        camera->SetShowAzimut(ReadFlag("ShowAzimut", 1));
        camera->SetShowName(ReadFlag("ShowName", 1));
        camera->SetShowTimeCode(ReadFlag("ShowTimeCode", 0));
        camera->SetDisplaySafeArea(ReadFlag("DisplaySafeArea", 0));
        camera->SetSafeAreaDisplayStyle(ReadInt("SafeAreaStyle", 1));
        camera->SetDisplaySafeAreaOnRender(ReadFlag("DisplaySafeAreaOnRender", 0));
    }
    camera->SetShowInfoOnMoving(ReadFlag("ShowInfoOnMoving", 1));
    camera->SetShowAudio(ReadFlag("ShowAudio", 0));
    if (old) {
        if (!ReadDoubles("BackGroundColor", v, 4)) v[0] = v[1] = v[2] = 0.0;
        camera->SetBackgroundColor(v[0], v[1], v[2]);
    }
    if (ReadDoubles("AudioColor", v, 4))
        camera->SetAudioColor(KColor(v[0], v[1], v[2], v[3]));
    else
        camera->SetAudioColor(KColor(0.0, 1.0, 0.0, 1.0));
    if (!old) return;
    camera->SetUseFrameColor(ReadFlag("UseFrameColor", 0));
    if (ReadDoubles("FrameColor", v, 4))
        camera->SetFrameColor(KColor(v[0], v[1], v[2], v[3]));
    else
        camera->SetFrameColor(KColor(0.3, 0.3, 0.3, 1.0));
    if (!OpenBlock("CameraAndLens")) return;
    if (mFile->FieldReadBegin("DepthOfField")) {
        camera->SetUseDepthOfField(mFile->FieldReadI() != 0);
        camera->SetFocusSource(mFile->FieldReadI());
        camera->SetFocusAngle(mFile->FieldReadD());
        camera->SetFocusDistance(mFile->FieldReadD());
        mFile->FieldReadEnd();
    }
    if (mFile->FieldReadBegin("Antialiasing")) {
        camera->SetUseAntialiasing(mFile->FieldReadI() != 0);
        camera->SetAntialiasingMethod(mFile->FieldReadI());
        camera->SetAntialiasingIntensity(mFile->FieldReadD());
        mFile->FieldReadEnd();
    }
    if (mFile->FieldReadBegin("OverSampling")) {
        camera->SetFrameSamplingCount(mFile->FieldReadI());
        camera->SetFrameSamplingType(mFile->FieldReadI());
        camera->SetUseAccumulationBuffer(mFile->FieldReadI() != 0);
        mFile->FieldReadEnd();
    }
    camera->SetUseOverSamplingTime(ReadInt("UseOverSamplingTime", 1));
    CloseBlock();
}

void KQovReaderQov::ReadLight(KQovLight* light) {
    if (ReadInt("LightTypeVersion", 0) > 201) {
        double rgb[3];
        if (ReadDoubles("Color", rgb, 3)) light->SetDefaultColor(rgb[0], rgb[1], rgb[2]);
        light->SetDefaultIntensity(ReadDouble("Intensity", 0.0));
        light->SetDefaultConeAngle(ReadDouble("ConeAngle", 0.0));
        light->SetDefaultFog(ReadDouble("Fog", 0.0));
    }
    light->SetLightType(ReadInt("LightType", 0));
    light->SetCastLightOnObject(ReadFlag("CastLight", 1));
}

void KQovReaderQov::ReadCameraSwitcher(KQovCameraSwitcher* switcher) {
    switcher->SetDefaultCameraIndex(ReadInt("CameraId", 0));
    switcher->ClearCameraNames();
    if (!mFile->FieldReadBegin("CameraIndexName")) return;
    while (mFile->FieldReadGetRemain() > 0) switcher->AddCameraName(mFile->FieldReadC());
    mFile->FieldReadEnd();
}

void KQovReaderQov::ReadSwitcherSection(KQovScene* scene) {
    if (!OpenBlock("Switcher")) return;
    KQovNode* node = scene->GetCameraSwitcherNode();
    if (KQovCameraSwitcher* switcher = node ? node->GetCameraSwitcher() : nullptr)
        ReadCameraSwitcher(switcher);
    CloseBlock();
}

// --- Resolution after all objects are read ---

KQovNode* KQovReaderQov::FindModel(const char* name) const {
    const KString full = KMakePrefixedName("Model::", KQovStripPrefix(name).Buffer());
    int index = -1;
    void* first = mNodes.Find(full.Buffer(), &index);
    // Names are found without regard to case, but a model of exactly the name is the one it
    // names when another's differs from it in case alone ("hips" under "Hips").
    const char* key = nullptr;
    for (int i = index; first && i < mNodes.GetCount(); ++i) {
        void* node = mNodes.GetAt(i, &key);
        if (KStrCaseCmp(key, full.Buffer()) != 0) break;
        if (std::strcmp(key, full.Buffer()) == 0) return static_cast<KQovNode*>(node);
    }
    return static_cast<KQovNode*>(first);
}

void KQovReaderQov::ConnectChildrenByName(KQovNode* root) {
    // In file order, so nodes without a parent come under the root in the order written.
    for (KQovNode* node : mNodesInFileOrder) {
        // The node refuses a child that would close a cycle; the read goes on.
        for (int c = 0; c < node->GetChildNameCount(); ++c)
            if (KQovNode* child = FindModel(node->GetChildName(c))) node->AddChild(child);
    }
    for (KQovNode* node : mNodesInFileOrder)
        if (root && node != root && !node->GetParent()) root->AddChild(node);
}

void KQovReaderQov::AddNodesUnder(KQovNode* root, FirstByName<KQovNode>& nodes) {
    // FindChild's walk: the descendants in pre-order.
    std::vector<KQovNode*> pending;
    for (int i = root ? root->GetChildCount() : 0; i-- > 0;)
        if (KQovNode* child = root->GetChild(i)) pending.push_back(child);
    while (!pending.empty()) {
        KQovNode* node = pending.back();
        pending.pop_back();
        nodes.Add(node);
        for (int i = node->GetChildCount(); i-- > 0;)
            if (KQovNode* child = node->GetChild(i)) pending.push_back(child);
    }
}

void KQovReaderQov::ResolveTargets(KQovNode* root, KStringMap& names, bool upVector) {
    if (!root || names.GetCount() == 0) return;
    FirstByName<KQovNode> nodes;
    AddNodesUnder(root, nodes);
    for (int i = 0; i < names.GetCount(); ++i) {
        const char* name = nullptr;
        auto* node = static_cast<KQovNode*>(names.GetAt(i, &name));
        KQovNode* target = nodes.Find("Model::" + std::string(KQovStripPrefix(name).Buffer()));
        if (!target) continue;
        if (upVector)
            node->SetUpVectorTarget(target);
        else
            node->SetLookAtTarget(target);
    }
}

void KQovReaderQov::ResolveBackgroundTextures(KQovScene* scene) {
    KQovEntityContainer* entity = scene->GetEntityContainer();
    for (int i = 0; i < mBackgroundNames.GetCount(); ++i) {
        const char* name = nullptr;
        auto* camera = static_cast<KQovCamera*>(mBackgroundNames.GetAt(i, &name));
        const KString full = KMakePrefixedName("Texture::", name);
        for (int t = 0; t < entity->GetTextureCount(); ++t) {
            KQovObject* texture = entity->GetTexture(t);
            if (texture && full == texture->GetName()) camera->ConnectBackgroundTexture(texture);
        }
    }
}

bool KQovReaderQov::FinishOldLayoutNodes(KQovNode* root) {
    if (!mFile->IsVersion5Layout()) return true;
    ConnectChildrenByName(root);
    ResolveTargets(root, mLookAtNames, false);
    ResolveTargets(root, mUpVectorNames, true);
    for (const auto& [node, object] : mModelOnlyConnections) {
        KQovPropertyHandler* set = node->GetPropertyHandler();
        if (set && !set->IsConnectedSrc(object->GetPropertyHandler()))
            set->ConnectSrc(object->GetPropertyHandler());
    }
    mModelOnlyConnections.clear();
    return true;
}
