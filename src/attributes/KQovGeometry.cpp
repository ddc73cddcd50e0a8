#include "attributes/KQovGeometry.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "foundation/KLocale.h"
#include "foundation/KNameNumbers.h"
#include "scene/KDataType.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovObjectManager.h"

namespace {

const char* const kGeometryErrors[] = {
    "Parameter out of range.", "Parameter is NULL.",          "Material not found.",
    "Material already added.", "Texture not found.",          "Texture already added.",
    "Shape already added.",    "Shape name is invalid.",      "Shape name is already used.",
    "No shape curve found.",   "Object of another object manager.",
};

const float kShapeColors[20][3] = {
    {1, 0, 0},       {0, 1, 0},          {0, 0, 1},          {1, 1, 0},         {0, 1, 1},
    {1, 0, 1},       {0.47f, 0, 0},      {0.3f, 0.61f, 0},   {0.51f, 0.75f, 1}, {1, 0.49f, 0},
    {0.57f, 0, 1},   {1, 0.78f, 1},      {0, 0.35f, 0},      {1, 0.98f, 0.61f}, {0.65f, 0.49f, 0.31f},
    {0.8f, 0.8f, 0.8f}, {0.78f, 1, 0.61f}, {1, 0.86f, 0.73f}, {0.37f, 0, 0.37f}, {0.65f, 0.65f, 0},
};

const char kShapeSuffix[] = " (Shape)";

// "Shape 01", "Shape 02" ... for index 0, 1 ...
KString NumberedShapeName(int index) {
    KString name("Shape ");
    if (index + 1 < 10) name += '0';
    name += index + 1;
    return name;
}

// Shorter lists are walked: an index would cost more than it saves.
constexpr size_t kIndexedShapes = 16;

void NoteRenamed(KString& warnings, const char* name, const KString& given) {
    warnings += name && *name ? "The shape \"" : "A shape without a name";
    if (name && *name) {
        warnings += name;
        warnings += "\"";
    }
    warnings += " is named \"";
    warnings += given;
    warnings += "\": its animation channel would not be its own\n";
}

KFCurveNode* ChildNamed(KQovTakeNode* takeNode, const char* name) {
    if (!takeNode || !name) return nullptr;
    KFCurveNode* root = takeNode->GetRoot();
    return root ? root->FindChildByName(name) : nullptr;
}

}  // namespace

bool KQovGeometryBase::InitControlPoints(int count) {
    mPoints.Clear();
    return mPoints.SetCount(count < 0 ? 0 : count);
}

KArrayVector4* KQovGeometryBase::GetNormals() const {
    KQovLayer* layer = GetLayer(0);
    KQovLayerElement* normals = layer ? layer->GetNormals() : nullptr;
    return normals ? &normals->GetDirectArray() : nullptr;
}

void KQovGeometryBase::InitNormals(int count) {
    if (KVector4* at = InitNormalsUninitialised(count))
        std::fill(at, at + GetNormals()->GetCount(), KVector4());
}

KVector4* KQovGeometryBase::InitNormalsUninitialised(int count) {
    KQovLayerElement& normals = GetLayer0().MakeNormals();
    const bool byVertex = count >= 1 && count != GetControlPointsCount();
    normals.SetMappingMode(byVertex ? KQovLayer::eByPolygonVertex : KQovLayer::eByControlPoint);
    normals.SetReferenceMode(KQovLayer::eDirect);
    normals.GetDirectArray().Clear();
    return normals.GetDirectArray().AppendUninitialised(byVertex ? count : GetControlPointsCount());
}

void KQovGeometryBase::SetControlPointAt(const KVector4& point, const KVector4& normal, int index) {
    KArrayVector4* normals = GetNormals();
    if (!normals || index < 0) return;
    if (mPoints.GetCount() <= index && !mPoints.SetCount(index + 1)) return;
    if (normals->GetCount() <= index && !normals->SetCount(index + 1)) return;
    mPoints.SetAt(index, point);
    normals->SetAt(index, normal);
}

KQovLink* KQovNewLink(KQovObjectManager* manager) {
    return manager ? manager->CreateLink() : new KQovLink();
}

KQovShape* KQovNewShape(KQovObjectManager* manager) {
    return manager ? manager->CreateShape() : new KQovShape(nullptr);
}

// Asking the manager first keeps its lists free of dangling entries; what it does not list was
// made directly.
void KQovDisposeLink(KQovObjectManager* manager, KQovLink* link) {
    if (link && (!manager || !manager->DestroyLink(link))) delete link;
}

void KQovDisposeShape(KQovObjectManager* manager, KQovShape* shape) {
    if (shape && (!manager || !manager->DestroyShape(shape))) delete shape;
}

void KQovDisposeAttribute(KQovObjectManager* manager, KQovNodeAttribute* attribute) {
    if (attribute && (!manager || !manager->DestroyNodeAttribute(attribute))) delete attribute;
}

// Keys are the shapes' own name text: a shape leaves before its name goes, and a rename drops
// the index first.
struct KQovGeometry::ShapeNames {
    std::unordered_map<std::string_view, const KQovShape*, KFCurveNodeNameHash,
                       KFCurveNodeNameEqual>
        byName;
    // The numbers names given to shapes took, per name letter case aside: many shapes of one
    // name are numbered without trying every number again. Cleared when a shape leaves (its
    // number is free).
    KNameNumbers numbers;
};

KQovGeometry::ShapeNames* KQovGeometry::IndexedShapeNames() {
    if (mShapeNames || mShapes.size() < kIndexedShapes) return mShapeNames.get();
    try {
        auto index = std::make_unique<ShapeNames>();
        index->byName.reserve(mShapes.size());
        mShapes.ForEach([&index](const KQovShape* shape) {
            index->byName.emplace(shape->mHeldName.Buffer(), shape);
        });
        mShapeNames = std::move(index);
    } catch (const std::bad_alloc&) {
        return nullptr;  // walked instead
    }
    return mShapeNames.get();
}

KQovGeometry::KQovGeometry(KQovObjectManager* manager)
    : KQovGeometryBase(manager), mError(kGeometryErrors, 11) {}

KQovShape::~KQovShape() {
    if (mHolder) mHolder->ForgetShape(this);
}

KQovGeometry::~KQovGeometry() {
    // Channels a version-5 write set aside go back to their takes, to be removed with the others.
    if (GetNode()) RestoreShapeChannels();
    // Detach while the channels and the scene's uses can still be removed.
    if (KQovNode* node = GetNode()) node->SetNodeAttribute(nullptr);
    DestroyAllLinks();
    mShapeNames.reset();
    for (KQovShape* shape : mShapes.TakeAll()) {
        shape->mHolder = nullptr;
        KQovDisposeShape(GetObjectManager(), shape);
    }
}

void KQovGeometry::DestroyAllLinks() {
    for (KQovLink* link : mLinks.TakeAll()) {
        link->mHolder = nullptr;
        KQovDisposeLink(GetObjectManager(), link);
    }
}

void KQovGeometry::ForgetLink(const KQovLink* link) { mLinks.Remove(link); }

void KQovGeometry::ForgetShape(const KQovShape* shape) {
    // The index only while a version-5 write keeps names by it.
    const std::ptrdiff_t index = mSaved.empty() ? 0 : mShapes.IndexOf(shape);
    if (index < 0 || shape->mHolder != this) return;
    // While a version-5 write renames channels, the shape's are still found by its own name.
    const char* name =
        size_t(index) < mSaved.size() ? mSaved[size_t(index)].current.Buffer() : shape->mHeldName.Buffer();
    if (KQovNode* node = GetNode())
        for (int t = 0; t < node->GetTakeNodeCount(); ++t)
            if (!ForgetChannelSetAside(node->GetTakeNode(t), shape))
                RemoveChannelNamed(node->GetTakeNode(t), name);
    const_cast<KQovShape*>(shape)->ReleaseScene();
    if (mShapeNames) {
        const auto at = mShapeNames->byName.find(shape->mHeldName.Buffer());
        if (at != mShapeNames->byName.end() && at->second == shape) mShapeNames->byName.erase(at);
        mShapeNames->numbers.Clear();
    }
    mShapes.Remove(shape);
    if (size_t(index) < mSaved.size()) mSaved.erase(mSaved.begin() + index);
}

void KQovGeometry::SetNode(KQovNode* node) {
    if (!node) {
        ClearNode();
        return;
    }
    // A shape whose name the node's own channels use gets another before its channels are made.
    for (size_t i = 0; i < mShapes.size(); ++i) {
        if (!NodeChannelNamed(node, ShapeName(i).Buffer())) continue;
        const KString old = ShapeName(i);
        const KString given = FreeShapeName(old.Buffer(), node);
        mShapeNames.reset();
        ShapeName(i) = given;
        NoteRenamed(mShapeWarnings, old.Buffer(), given);
    }
    KQovGeometryBase::SetNode(node);
    KQovEntityContainer* scene = node->GetEntityContainer();
    for (int i = 0; i < GetShapeCount(); ++i) {
        mShapes[size_t(i)]->SetScene(scene);
        CreateShapeProperty(i);
    }
    SetScene(scene);
}

void KQovGeometry::ForgetEntityContainer(const KQovEntityContainer* scene) {
    KQovGeometryBase::ForgetEntityContainer(scene);
    mShapes.ForEach([scene](KQovShape* shape) { shape->ForgetEntityContainer(scene); });
}

void KQovGeometry::MoveToEntityContainer(KQovEntityContainer* scene) {
    mShapes.ForEach([scene](KQovShape* shape) { shape->SetScene(scene); });
    SetScene(scene);
}

void KQovGeometry::ClearNode() {
    ClearSavedShapeNames();  // channels set aside go back while the takes are there
    ReleaseScene();
    mShapes.ForEach([](KQovShape* shape) { shape->ReleaseScene(); });
    KQovGeometryBase::ClearNode();
}

void KQovGeometry::InitTakeNodeChannels(KQovTakeNode* takeNode) {
    for (int i = 0; i < GetShapeCount(); ++i) InitShapeChannel(takeNode, i);
}

void KQovGeometry::RemoveTakeNodeChannels(KQovTakeNode* takeNode) {
    // Last first: channels made in shape order then leave from the end of the root's list.
    for (int i = GetShapeCount(); i-- > 0;) RemoveShapeChannel(takeNode, i);
}

KQovLink* KQovGeometry::GetLink(int index) {
    if (index >= 0 && index < GetLinkCount()) return mLinks[size_t(index)];
    mError.SetError(eParameterOutOfRange);
    return nullptr;
}

int KQovGeometry::AddLink(KQovLink* link) {
    // Held twice, or here and by another manager, it would be destroyed twice.
    if (!link || link->mHolder) return -1;
    if (link->mManager && link->mManager != GetObjectManager()) return -1;
    mLinks.push_back(link);
    link->mHolder = this;
    return GetLinkCount() - 1;
}

std::vector<KQovLink*> KQovGeometry::RemoveAllLinks() {
    std::vector<KQovLink*> links = mLinks.TakeAll();
    for (KQovLink* link : links) link->mHolder = nullptr;
    return links;
}

bool KQovGeometry::ValidShape(int index) {
    if (index >= 0 && index < GetShapeCount()) return true;
    mError.SetError(eParameterOutOfRange);
    return false;
}

KQovShape* KQovGeometry::GetShape(int index) {
    return ValidShape(index) ? mShapes[size_t(index)] : nullptr;
}

const char* KQovGeometry::GetShapeName(int index) {
    return ValidShape(index) ? ShapeName(size_t(index)).Buffer() : nullptr;
}

int KQovGeometry::AddShape(KQovShape* shape, const char* name) {
    int error = -1;
    if (!shape) {
        error = eParameterIsNull;
    } else {
        if (shape->mHolder) error = eShapeAlreadyAdded;  // here or in another geometry
        // Another manager's would be destroyed twice, here and by that manager.
        KQovObjectManager* maker = shape->GetObjectManager();
        if (error < 0 && maker && maker != GetObjectManager()) error = eOtherManager;
        if (error < 0 && (!name || KString(name).Trim().IsEmpty())) error = eShapeNameInvalid;
        if (error < 0 && ShapeNameUsed(name, GetNode())) error = eShapeNameUsed;
    }
    if (error >= 0) {
        mError.SetError(error);
        return -1;
    }
    shape->mHeldName = name;
    mShapes.push_back(shape);
    shape->mHolder = this;
    if (mShapeNames) {
        try {
            mShapeNames->byName.emplace(shape->mHeldName.Buffer(), shape);
        } catch (const std::bad_alloc&) {
            mShapeNames.reset();  // made again by the next lookup
        }
    }
    const int index = GetShapeCount() - 1;
    if (KQovNode* node = GetNode()) {
        CreateShapeProperty(index);
        for (int t = 0; t < node->GetTakeNodeCount(); ++t) InitShapeChannel(node->GetTakeNode(t), index);
    }
    shape->SetScene(GetScene());
    return index;
}

bool KQovGeometry::ShapeNameUsed(const char* name, KQovNode* node, const KQovShape* self) {
    if (const ShapeNames* index = IndexedShapeNames()) {
        const auto at = index->byName.find(name);
        if (at != index->byName.end() && at->second != self) return true;
    } else {
        bool used = false;
        mShapes.ForEach([&](const KQovShape* s) {
            used = used || (s != self && KFCurveNodeNameEqual()(s->mHeldName.Buffer(), name));
        });
        if (used) return true;
    }
    return NodeChannelNamed(node, name);
}

// A property of the node that is no shape's, or a channel of its take nodes that no property of
// a shape of that very name makes.
bool KQovGeometry::NodeChannelNamed(KQovNode* node, const char* name) {
    KQovNodeProperties* set = node ? node->GetNodeProperties() : nullptr;
    if (!set) return false;
    const KProperty* property = set->FindProperty(name);
    const bool shapes = property && property->GetDataType() == KDataType::FindByName("Shape");
    if (property && !shapes) return true;
    for (int t = 0; t < node->GetTakeNodeCount(); ++t) {
        const KFCurveNode* channel = ChildNamed(node->GetTakeNode(t), name);
        if (channel && !(shapes && std::strcmp(channel->GetName(), name) == 0)) return true;
    }
    return false;
}

void KQovGeometry::SetShapeNameAside(const char* name) {
    if (!name || KString(name).Trim().IsEmpty() || ShapeNameUsed(name, GetNode())) return;
    // Without the memory the name is not set aside: names stay apart all the same.
    try {
        if (!mShapesAside) mShapesAside = std::make_unique<KNameNumbers>();
        mShapesAside->SetAside(KNameNumbers::Folded(name));
    } catch (const std::bad_alloc&) {
    }
}

void KQovGeometry::ForgetShapeNamesAside() {
    mShapesAside.reset();
}

KString KQovGeometry::FreeShapeName(const char* name, KQovNode* node) {
    KString base(name ? name : "");
    if (KString(base).Trim().IsEmpty()) base = "Shape";
    // A name set aside is the first shape's that gives it as it is.
    const auto aside = [this](const char* text) {
        return mShapesAside && mShapesAside->IsAside(KNameNumbers::Folded(text));
    };
    if (!ShapeNameUsed(base.Buffer(), node) && (base == (name ? name : "") || !aside(base.Buffer())))
        return base;
    KString candidate;
    const auto free = [&](uint64_t n) {
        candidate = base;
        candidate += " ";
        candidate += std::to_string(n).c_str();
        return !ShapeNameUsed(candidate.Buffer(), node) && !aside(candidate.Buffer());
    };
    // Without the index every search starts again from 1.
    ShapeNames* index = IndexedShapeNames();
    if (!index) {
        KNameNumbers::FirstFree(1, free);
        return candidate;
    }
    const std::string stem = KNameNumbers::Folded(base.Buffer());
    index->numbers.Take(stem, index->numbers.Find(stem, 1, free));
    return candidate;
}

int KQovGeometry::AddShapeRenaming(KQovShape* shape, const char* name) {
    const KString given = FreeShapeName(name);
    const std::string asideKey = mShapesAside ? KNameNumbers::Folded(given.Buffer()) : std::string();
    const int index = AddShape(shape, given.Buffer());
    if (index >= 0 && mShapesAside) mShapesAside->ClaimAside(asideKey);
    if (index >= 0 && given != (name ? name : "")) NoteRenamed(mShapeWarnings, name, given);
    return index;
}

KString KQovGeometry::TakeShapeWarnings() {
    KString taken = mShapeWarnings;
    mShapeWarnings = "";
    return taken;
}

void KQovGeometry::CreateShapeProperty(int index) {
    KQovNodeProperties* set = GetNode() ? GetNode()->GetNodeProperties() : nullptr;
    const char* name = ShapeName(size_t(index)).Buffer();
    if (!set || set->FindProperty(name)) return;
    KDataType* type = KDataType::FindByName("Shape");
    KProperty* property =
        set->CreateProperty(name, KProperty::TypeCodeFromDataType(type), type, true, false);
    if (!property) return;
    property->SetUserFlag(8, true);
    property->SetDouble(0.0);
}

void KQovGeometry::InitShapeChannel(KQovTakeNode* takeNode, int index) {
    if (!takeNode || !ValidShape(index) || ShapeName(size_t(index)).IsEmpty()) return;
    KFCurveNode* channel =
        takeNode->GetRoot()->FindOrCreateChild(ShapeName(size_t(index)).Buffer(), true);
    if (channel && channel->GetCurve()) channel->GetCurve()->SetColor(kShapeColors[index % 20]);
}

void KQovGeometry::RemoveShapeChannel(KQovTakeNode* takeNode, int index) {
    if (!takeNode || !ValidShape(index)) return;
    RemoveChannelNamed(takeNode, ShapeName(size_t(index)).Buffer());
}

void KQovGeometry::RemoveChannelNamed(KQovTakeNode* takeNode, const char* name) {
    if (KFCurveNode* root = takeNode && name ? takeNode->GetRoot() : nullptr)
        root->DeleteChildByName(name);
}

KFCurve* KQovGeometry::GetShapeChannel(KQovTakeNode* takeNode, int index) {
    if (!ValidShape(index)) return nullptr;
    // The root's own child: a path or a deeper channel of the name ("X") is not the shape's.
    KFCurveNode* channel = ChildNamed(takeNode, ShapeName(size_t(index)).Buffer());
    if (!channel || !channel->GetCurve()) {
        mError.SetError(eNoShapeCurve);
        return nullptr;
    }
    return channel->GetCurve();
}

double KQovGeometry::GetDefaultShapeChannelValue(int index) {
    if (!GetNode()) return 0.0;
    KFCurve* curve = GetShapeChannel(GetNode()->GetDefaultTakeNode(), index);
    return curve ? double(curve->GetValue()) : 0.0;
}

void KQovGeometry::ApplyPivot() {
    const KAffineMatrix& m = mPivot;
    KArrayVector4& points = GetControlPoints();
    for (int i = 0; i < points.GetCount(); ++i) {
        KVector4& p = points.GetArray()[i];
        const double x = p[0], y = p[1], z = p[2];
        for (int c = 0; c < 3; ++c) p[c] = x * m[0][c] + y * m[1][c] + z * m[2][c] + m[3][c];
    }
    // Normals turn with the rotation only: the axes are normalised, so scaling drops out.
    KAffineMatrix r;
    r.SetR(m.GetR());
    if (KArrayVector4* normals = GetNormals()) {
        for (int i = 0; i < normals->GetCount(); ++i) {
            KVector4& n = normals->GetArray()[i];
            const double x = n[0], y = n[1], z = n[2];
            for (int c = 0; c < 3; ++c) n[c] = x * r[0][c] + y * r[1][c] + z * r[2][c];
        }
    }
}

void KQovGeometry::RemoveAllShapes() {
    KQovNode* node = GetNode();
    for (int i = GetShapeCount(); i-- > 0;) {
        for (int t = 0; node && t < node->GetTakeNodeCount(); ++t)
            RemoveShapeChannel(node->GetTakeNode(t), i);
        mShapes[size_t(i)]->ReleaseScene();
    }
    mShapeNames.reset();
    for (KQovShape* shape : mShapes.TakeAll()) {
        shape->mHolder = nullptr;
        KQovDisposeShape(GetObjectManager(), shape);
    }
}

void KQovGeometry::Copy(const KQovGeometry& source) {
    if (&source == this || CopyRefused(source)) return;
    CopyLayers(source);
    DestroyAllLinks();
    source.mLinks.ForEach([this](const KQovLink* link) {
        if (KQovLink* copy = KQovNewLink(GetObjectManager())) {
            copy->Copy(*link);
            mLinks.push_back(copy);
            copy->mHolder = this;
        }
    });
    RemoveAllShapes();
    for (size_t i = 0; i < source.mShapes.size(); ++i) {
        KQovShape* shape = KQovNewShape(GetObjectManager());
        if (!shape) continue;
        shape->CopyLayers(*source.mShapes[i]);
        if (AddShapeRenaming(shape, source.ShapeName(i).Buffer()) < 0)
            KQovDisposeShape(GetObjectManager(), shape);
    }
    mPivot = source.mPivot;
}

bool KQovGeometry::CopyRefused(const KQovGeometry& source) {
    if (!source.GetObjectManager() || source.GetObjectManager() == GetObjectManager()) return false;
    mError.SetError(eOtherManager);
    return true;
}

void KQovGeometry::YieldChannelName(const char* name) {
    KQovNode* node = GetNode();
    KQovNodeProperties* set = node ? node->GetNodeProperties() : nullptr;
    if (!set || !name) return;
    const KDataType* shapeType = KDataType::FindByName("Shape");
    const KQovShape* found = nullptr;
    if (const ShapeNames* index = IndexedShapeNames()) {
        const auto at = index->byName.find(name);
        if (at != index->byName.end()) found = at->second;
    } else {
        mShapes.ForEach([&](const KQovShape* shape) {
            if (!found && KFCurveNodeNameEqual()(shape->mHeldName.Buffer(), name)) found = shape;
        });
    }
    const std::ptrdiff_t at = found ? mShapes.IndexOf(found) : -1;
    if (at >= 0) {
        const size_t i = size_t(at);
        const KString old = ShapeName(i);
        const KString given = FreeShapeName(old.Buffer(), node);
        // The shape's own property, by its exact name: the user's may differ in case only.
        double weight = 0.0;
        for (int p = 0; p < set->GetPropertyCount(); ++p) {
            KProperty* property = set->GetProperty(p);
            if (!property || property->GetDataType() != shapeType || old != property->GetName())
                continue;
            weight = property->GetDouble();
            set->DestroyProperty(p);
            break;
        }
        mShapeNames.reset();
        ShapeName(i) = given;
        CreateShapeProperty(int(i));
        if (KProperty* property = set->FindProperty(given.Buffer())) property->SetDouble(weight);
        for (int t = 0; t < node->GetTakeNodeCount(); ++t)
            RenameChannel(node->GetTakeNode(t), old.Buffer(), given.Buffer());
        NoteRenamed(mShapeWarnings, old.Buffer(), given);
    }
}

void KQovGeometry::ClearSavedShapeNames() {
    RestoreShapeChannels();
    mSaved.clear();
}

void KQovGeometry::RenameChannel(KQovTakeNode* takeNode, const char* from, const char* to) {
    KFCurveNode* root = takeNode ? takeNode->GetRoot() : nullptr;
    KFCurveNode* child = root ? ChildNamed(takeNode, from) : nullptr;
    if (!child) return;
    // Copied, not moved, the copy made before the channel goes: a refused allocation leaves the
    // old channel whole.
    std::unique_ptr<KFCurveNode> renamed(KFCurveNode::Create(to, child->GetDataType()));
    renamed->CopyFrom(child, false);
    root->Reserve(root->GetCount() + 1);
    root->DeleteChild(child);
    root->Add(renamed.release());
}

void KQovGeometry::SaveVersion5Names(std::vector<std::pair<KString, KString>>& given) {
    // The reader finds a channel by its name letter case aside, and a shape's channel name
    // drops the blanks at its end: a shape whose channel would be an earlier one's is written
    // under a name of its own.
    std::unordered_set<std::string> names, channels;  // folded
    for (size_t i = 0; i < mShapes.size(); ++i) names.insert(KNameNumbers::Folded(ShapeName(i).Buffer()));
    KNameNumbers numbers;
    for (size_t i = mSaved.size(); i < mShapes.size(); ++i) {
        SavedName saved{ShapeName(i), ShapeName(i), MakeShapeChannelName(ShapeName(i).Buffer()), {}};
        if (GetAttributeType() != eMesh) {
            saved.written = NumberedShapeName(int(i));
            saved.channel = MakeDefaultShapeChannelName(int(i));
        } else if (!channels.insert(KNameNumbers::Folded(saved.channel.Buffer())).second) {
            // Before any '(': the reader looks a channel it does not find up again cut there.
            std::string stem = saved.current.Buffer();
            stem = KString(stem.substr(0, stem.find('(')).c_str()).Trim(0).Buffer();
            if (stem.empty()) stem = "Shape";
            const std::string key = KNameNumbers::Folded(stem);
            std::string name;
            const uint64_t n = numbers.Find(key, 1, [&](uint64_t k) {
                name = stem + " " + std::to_string(k);
                return !names.count(KNameNumbers::Folded(name)) &&
                       !channels.count(
                           KNameNumbers::Folded(MakeShapeChannelName(name.c_str()).Buffer()));
            });
            numbers.Take(key, n);
            saved.written = name.c_str();
            saved.channel = MakeShapeChannelName(name.c_str());
            names.insert(KNameNumbers::Folded(name));
            channels.insert(KNameNumbers::Folded(saved.channel.Buffer()));
            given.emplace_back(saved.current, saved.written);
        }
        saved.held = saved.written;
        mSaved.push_back(saved);
    }
}

std::vector<std::pair<KString, KString>> KQovGeometry::RenameShapeChannelsForVersion5(
    KQovTakeNode* takeNode) {
    std::vector<std::pair<KString, KString>> given;
    if (!GetNode() || !takeNode) return given;
    // The names are saved on the first take node only: later ones already see the written name
    // and would save it in place of the real one.
    if (mSaved.size() < mShapes.size()) SaveVersion5Names(given);
    SetChannelsAside(takeNode);
    // Nothing allocates from here: a refused allocation above left the take and names as they
    // were.
    if (!mNamesWritten) {
        mShapeNames.reset();
        for (size_t i = 0; i < mShapes.size() && i < mSaved.size(); ++i)
            std::swap(ShapeName(i), mSaved[i].held);
        mNamesWritten = true;
    }
    return given;
}

void KQovGeometry::SetChannelsAside(KQovTakeNode* takeNode) {
    KFCurveNode* root = takeNode->GetRoot();
    if (!root) return;
    // Each channel by its place, found before any changes; one found again (its name, letter
    // case aside) is renamed the first time only.
    const int count = root->GetCount();
    std::vector<bool> renamed(size_t(count), false);
    ChannelsAside aside{takeNode, {}, {}, {}};
    aside.channels.reserve(mSaved.size());
    std::vector<std::unique_ptr<KFCurveNode>> copies;
    copies.reserve(mSaved.size());
    for (size_t i = 0; i < mShapes.size() && i < mSaved.size(); ++i) {
        const int at = root->FindIndexByName(mSaved[i].current.Buffer());
        if (at < 0 || renamed[size_t(at)]) continue;
        renamed[size_t(at)] = true;
        KFCurveNode* child = root->Get(at);
        copies.emplace_back(KFCurveNode::Create(mSaved[i].channel.Buffer(), child->GetDataType()));
        copies.back()->CopyFrom(child, false);
        aside.channels.push_back({mShapes[i], child, copies.back().get()});
    }
    // Copied, not moved: the copies are written, the channels themselves are given back. The
    // others keep their order, the copies follow them in shape order.
    std::vector<KFCurveNode*> written;
    written.reserve(size_t(count));
    for (int at = 0; at < count; ++at)
        if (!renamed[size_t(at)]) written.push_back(root->Get(at));
    for (const auto& copy : copies) written.push_back(copy.get());
    aside.written = written;
    mAside.reserve(mAside.size() + 1);
    // Nothing allocates from here.
    root->SwapChildren(written);
    for (auto& copy : copies) copy.release()->SetParent(root);
    aside.children = std::move(written);
    mAside.push_back(std::move(aside));
}

void KQovGeometry::GiveBack(ChannelsAside& aside) {
    KFCurveNode* root = aside.take->GetRoot();
    bool same = root->GetCount() == int(aside.written.size());
    for (size_t i = 0; same && i < aside.written.size(); ++i)
        same = root->Get(int(i)) == aside.written[i];
    if (same) {
        root->SwapChildren(aside.children);
        for (const ChannelAside& channel : aside.channels) {
            channel.copy->SetParent(nullptr);  // listed no more
            delete channel.copy;
        }
        return;
    }
    // The write's callbacks added or removed channels: the list stays theirs, each copy still
    // listed gives its place to its shape's own channel, and one removed takes that with it.
    std::vector<KFCurveNode*>& listed = aside.written;
    listed.clear();
    root->SwapChildren(listed);
    std::sort(aside.channels.begin(), aside.channels.end(),
              [](const ChannelAside& a, const ChannelAside& b) { return a.copy < b.copy; });
    for (KFCurveNode*& child : listed) {
        const auto at =
            std::lower_bound(aside.channels.begin(), aside.channels.end(), child,
                             [](const ChannelAside& a, const KFCurveNode* c) { return a.copy < c; });
        if (at == aside.channels.end() || at->copy != child) continue;
        child->SetParent(nullptr);
        delete child;
        child = at->own;
        at->shape = nullptr;  // given back
    }
    listed.erase(std::remove(listed.begin(), listed.end(), nullptr), listed.end());
    for (ChannelAside& channel : aside.channels) {
        if (!channel.shape || !channel.own) continue;
        channel.own->SetParent(nullptr);
        delete channel.own;
    }
    root->SwapChildren(listed);
}

void KQovGeometry::RestoreShapeChannels() {
    for (auto aside = mAside.rbegin(); aside != mAside.rend(); ++aside) GiveBack(*aside);
    mAside.clear();
    if (mNamesWritten) {
        mShapeNames.reset();
        for (size_t i = 0; i < mShapes.size() && i < mSaved.size(); ++i)
            std::swap(ShapeName(i), mSaved[i].held);
        mNamesWritten = false;
    }
}

void KQovGeometry::ForgetTakeNode(KQovTakeNode* takeNode) {
    for (auto aside = mAside.begin(); aside != mAside.end(); ++aside) {
        if (aside->take != takeNode) continue;
        GiveBack(*aside);
        mAside.erase(aside);
        return;
    }
}

bool KQovGeometry::ForgetChannelSetAside(KQovTakeNode* takeNode, const KQovShape* shape) {
    for (ChannelsAside& aside : mAside) {
        if (aside.take != takeNode) continue;
        for (ChannelAside& channel : aside.channels) {
            if (channel.shape != shape || !channel.own) continue;
            auto& children = aside.children;
            const auto listed = std::find(children.begin(), children.end(), channel.own);
            if (listed != children.end()) children.erase(listed);
            channel.own->SetParent(nullptr);
            delete channel.own;
            channel.own = nullptr;
            break;
        }
        return true;
    }
    return false;
}

void KQovGeometry::ConvertShapeChannels(KQovTakeNode* takeNode) {
    if (!GetNode() || !takeNode || GetAttributeType() == eMesh) return;
    for (size_t i = 0; i < mShapes.size(); ++i) {
        KFCurveNode* old = ChildNamed(takeNode, MakeShapeChannelName(ShapeName(i).Buffer()).Buffer());
        if (!old) old = ChildNamed(takeNode, MakeDefaultShapeChannelName(int(i)).Buffer());
        if (!old) return;
        KFCurveNode* current = ChildNamed(takeNode, ShapeName(i).Buffer());
        if (!current || current == old) continue;
        current->CopyFrom(old, true);
        takeNode->GetRoot()->DeleteChild(old);
    }
}

KString KQovGeometry::MakeShapeChannelName(const char* name) {
    KString result = KString(name ? name : "").Trim(0);
    const int suffix = int(sizeof(kShapeSuffix)) - 1;
    if (result.GetLen() < suffix || result.Right(suffix) != kShapeSuffix) result += kShapeSuffix;
    return result;
}

KString KQovGeometry::MakeDefaultShapeChannelName(int index) {
    if (index < 0) return KString("");
    KString name = NumberedShapeName(index);
    name += kShapeSuffix;
    return name;
}
