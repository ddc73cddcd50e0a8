// Channel trees in a QOV field file: one "Channel" field per node, its block holding the
// user name, time-warp id, curve, children, layer id and type, and the next layer.

#include <cstring>
#include <string>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KFCurveSceneTypes.h"
#include "animation/KFCurveSettings.h"
#include "animation/KFCurveStorage.h"
#include "fieldfile/KQovFieldFile.h"

namespace {

const char* ShortName(const KFCurveNode* node) {
    const KDataType* type = node->GetDataType();
    if (type) {
        if (type == KFCurveLclTranslationType()) return "T";
        if (type == KFCurveLclRotationType()) return "R";
        if (type == KFCurveLclScalingType()) return "S";
    }
    return node->GetName();
}

// The name cut at "(" with at most two blanks before it: "Color (RGB)" gives "Color".
std::string CutAtParenthesis(const std::string& name) {
    size_t at = name.find('(');
    if (at == std::string::npos) return name;
    for (int blanks = 0; blanks < 2 && at > 0 && name[at - 1] == ' '; ++blanks) --at;
    return name.substr(0, at);
}

void WriteIntField(KQovFieldFile& file, const char* name, int value) {
    file.FieldWriteBegin(name);
    file.FieldWriteI(value);
    file.FieldWriteEnd();
}

bool Contains(const char* name, const char* part) {
    return std::strstr(name, part) != nullptr;
}

}  // namespace

void WriteTextField(KQovFieldFile& file, const char* name, const char* text) {
    file.FieldWriteBegin(name);
    file.FieldWriteC(text ? text : "");
    file.FieldWriteEnd();
}

void KFCurveNode::Store(KQovFieldFile& file, bool noLayers, bool shortNames, bool noUserName,
                        const char* fieldName, bool curveFlagA, bool curveFlagB) {
    file.FieldWriteBegin(fieldName);
    file.FieldWriteC(shortNames ? ShortName(this) : GetName());
    file.FieldWriteBlockBegin();
    if (!noUserName && std::strcmp(GetSecondName(), GetName()) != 0)
        WriteTextField(file, "UserName", GetSecondName());
    int warpId = 0;
    if (mTimeWarp && FindTimeWarpId(mTimeWarp, warpId)) WriteIntField(file, "TimeWarpID", warpId);
    if (mCurve) KFCurveStore(*mCurve, file, noLayers, curveFlagA, curveFlagB);
    for (KFCurveNode* child : Children())
        child->Store(file, noLayers, shortNames, noUserName, "Channel", curveFlagA, curveFlagB);
    if (mLayerId != 0) WriteIntField(file, "LayerID", mLayerId);
    if (mLayerType != 0) WriteIntField(file, "LayerType", mLayerType);
    if (mNextLayer && !noLayers)
        mNextLayer->Store(file, false, shortNames, noUserName, "LayerChannel", false, curveFlagB);
    file.FieldWriteBlockEnd();
    file.FieldWriteEnd();
}

KFCurveNode* KFCurveNode::Retrieve(KQovFieldFile& file, KFCurveNode* parent, bool curveFlagA,
                                   bool create, bool curveFlagB,
                                   const std::function<KFCurveNode*(const std::string&)>& route) {
    // Channels that match nothing are skipped in a loop: a file may hold any number of them.
    while (file.FieldReadBegin("Channel")) {
        std::string name = file.FieldReadGetRemain() > 0 ? file.FieldReadC() : "";
        KFCurveNode* node = nullptr;
        if (parent) {
            if (route) node = route(name);
            if (!node && route && name.find('(') != std::string::npos)
                node = route(CutAtParenthesis(name));
            if (!node && name == "R")
                node = parent->FindChildOfType(KFCurveLclRotationType());
            else if (!node && name == "S")
                node = parent->FindChildOfType(KFCurveLclScalingType());
            else if (!node && name == "T")
                node = parent->FindChildOfType(KFCurveLclTranslationType());
            if (!node) node = parent->Get(parent->FindIndexByName(name));
            if (!node && name.find('(') != std::string::npos)
                node = parent->Get(parent->FindIndexByName(CutAtParenthesis(name)));
            if (!node && parent->GetCurve()) {
                file.FieldReadEnd();
                curveFlagB = false;
                continue;
            }
        }
        if (!node) {
            if (!create) {
                file.FieldReadEnd();
                curveFlagB = false;
                continue;
            }
            node = new KFCurveNode(name.c_str(), name.c_str(), nullptr);
            if (parent) parent->Add(node);
        }
        node->RetrieveContent(file, curveFlagA, create, curveFlagB);
        file.FieldReadEnd();
        if (node->mLayerId >= 1 && parent) {
            KFCurveNode* base = parent->mBaseLayer;
            KFCurveNode* same = base->Get(base->FindIndexByName(node->GetName()));
            if (same && same != node) {
                node->mBaseLayer = same;
                node->ShareNameRecord(same->mNameRecord);
            }
        }
        return node;
    }
    return nullptr;
}

void KFCurveNode::RetrieveContent(KQovFieldFile& file, bool curveFlagA, bool create,
                                  bool curveFlagB) {
    if (!file.FieldReadBlockBegin()) return;
    const char* userName = file.FieldReadC("UserName", "");
    if (userName && userName[0]) SetSecondName(userName);

    if (!mCurve) {
        KFCurve* curve = KFCurveRetrieveNew(file, curveFlagA, curveFlagB);
        if (curve && GetCount() > 0) {
            delete curve;  // a node with children carries no curve of its own from a file
        } else if (curve) {
            mCurve = curve;
            NotifyChange(KFCURVENODE_CHANGE_CURVE);
        }
    } else {
        KFCurveRetrieveInto(file, mCurve, curveFlagA, curveFlagB);
    }

    mLayerId = file.FieldReadI("LayerID", 0);
    SetLayerType(file.FieldReadI("LayerType", 0), nullptr);

    while (Retrieve(file, this, curveFlagA, create, curveFlagB)) {
    }

    if (file.FieldReadBegin("LayerChannel")) {
        KFCurveNode* layer = CreateCopy(this);
        SetNextLayer(layer, true);
        layer->mBaseLayer = mBaseLayer;
        layer->RetrieveContent(file, curveFlagA, true, false);
        file.FieldReadEnd();
    }

    int warpId = file.FieldReadI("TimeWarpID", 0);
    if (warpId != 0) {
        if (KFCurveNode* warp = FindTimeWarp(warpId)) {
            const char* name = GetName();
            bool axis = std::strcmp(name, "X") == 0 || std::strcmp(name, "Y") == 0 ||
                        std::strcmp(name, "Z") == 0;
            KFCurveNode* target = (mParent && mLayerId == 0 && axis) ? mParent : this;
            target->SetTimeWarp(warp);  // refused when it would make a loop
        }
    }
    file.FieldReadBlockEnd();

    // Layer types follow from what the channel is.
    const KDataType* type = GetDataType();
    const char* name = GetName();
    const bool rotation = (type && type == KFCurveLclRotationType()) || std::strcmp(name, "R") == 0;
    const bool translation = (type && type == KFCurveLclTranslationType()) ||
                             std::strcmp(name, "T") == 0 || Contains(name, "Translation");
    const bool scaling = (type && type == KFCurveLclScalingType()) || std::strcmp(name, "S") == 0 ||
                         Contains(name, "Scaling");
    if (rotation) {
        if (GetCount() == 3)
            SetLayerType(KFCURVENODE_LAYER_EULER_ROTATION, nullptr);
        else if (mLayerType == KFCURVENODE_LAYER_EULER_ROTATION)
            SetLayerType(KFCURVENODE_LAYER_PLAIN, nullptr);
    } else if (translation) {
        SetLayerType(KFCURVENODE_LAYER_TRANSLATION, nullptr);
    } else if (scaling) {
        SetLayerType(KFCURVENODE_LAYER_SCALING, nullptr);
    }
    if (file.GetBlockVersion(0) == 4000 && mLayerType != 0) {
        auto is = [&](const char* letter, const KDataType* t) {
            return std::strcmp(name, letter) == 0 && type && type == t;
        };
        if ((Contains(name, "R") && !is("R", KFCurveLclRotationType())) ||
            (Contains(name, "T") && !is("T", KFCurveLclTranslationType())) ||
            (Contains(name, "S") && !is("S", KFCurveLclScalingType())))
            SetLayerType(KFCURVENODE_LAYER_PLAIN, nullptr);
    }
}
