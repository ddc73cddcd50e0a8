// The version-6 writer: the objects it lists, the "Definitions" that announce them, the
// "Objects" section, the scene settings kept in "Version5" and the "Connections".

#include "io/qov/KQovWriterQov6.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "attributes/KQovCamera.h"
#include "attributes/KQovCameraSwitcher.h"
#include "attributes/KQovGeometry.h"
#include "attributes/KQovLink.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovPatch.h"
#include "foundation/KLocale.h"
#include "foundation/KNameNumbers.h"
#include "foundation/KQuotedText.h"
#include "io/KQovIOHooks.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovReaderQov.h"
#include "io/qov/KQovWriterQovSections.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovGenericNode.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeAttribute.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovNodeWalk.h"
#include "scene/KQovPose.h"
#include "scene/KQovScene.h"
#include "scene/KQovSceneInfo.h"

namespace {

// The reader reads the objects type by type in this order: models before constraints.
const char* const kObjectTypes[] = {"Model",          "Material", "Texture",     "Video",
                                    "Deformer",       "Pose",     "GenericNode", "Constraint",
                                    "ControlSetPlug", "SceneInfo"};

const char* const kSceneRoot = "Model::Scene";
// Renamed nodes named one by one in the warnings; more are counted.
constexpr int kNamesWarnedOne = 10;

// The sub-type of a model: its attribute's kind as the file names it.
std::string ModelSubType(KQovNode* node) {
    KQovNodeAttribute* attribute = node->GetNodeAttribute();
    if (!attribute) return "Null";
    switch (attribute->GetAttributeType()) {
        case KQovNodeAttribute::eMesh:
            return "Mesh";
        case KQovNodeAttribute::eNurb:
            return "Nurb";
        case KQovNodeAttribute::eCameraSwitcher:
            return "CameraSwitcher";
        case KQovNodeAttribute::eOpticalReference:
            return "Optical";
        default: {
            const KString name = attribute->GetTypeName();
            return name.IsEmpty() ? "Null" : name.Buffer();
        }
    }
}

}  // namespace

KQovWriterQov6::KQovWriterQov6(KQovObjectManager* manager, KQovIO* owner)
    : KQovWriterQov5(manager, owner) {}

bool KQovWriterQov6::WriteSections(KQovScene* scene) {
    const KStreamOptionsQov& o = *mOptions;
    bool failed = false;
    auto section = [&](bool on, const std::function<void()>& write) {
        RunSection(failed, on, write);
    };
    BuildAnimatedMaps(scene);
    CollectObjects(scene);
    OrderTakesAsNodes();
    mModelCount = 0;
    for (const Object& object : mObjects) mModelCount += std::strcmp(object.type, "Model") == 0;
    section(true, [&] { WriteDefinitions(); });
    section(true, [&] {
        Report("Storing models", 0.0f);
        mCounter = 0;
        mTotal = int(mObjects.size());
        WriteObjects();
        KQovIOHooks::GetInstance().StepDone();
    });
    section(o.passwordFlag != 0 && !o.password.IsEmpty() && mFile->IsBinary(),
            [&] { mFile->FieldWritePassword(o.password.Buffer()); });
    section(o.GetSwitch(KStreamOptionsQov::eGobos), [&] { WriteGoboManager(scene); });
    section(o.GetSwitch(KStreamOptionsQov::eGlobalSettings), [&] { WriteVersion5Block(scene); });
    section(true, [&] { WriteConnections(); });
    section(o.GetSwitch(KStreamOptionsQov::eAnimation), [&] { WriteTakes(scene); });
    FreeAnimatedMaps();
    mObjects.clear();
    mConnections.clear();
    mShading.clear();
    mWrittenNames.clear();
    mFirstWrittenAs.clear();
    return !failed;
}

void KQovWriterQov6::OrderTakesAsNodes() {
    // The reader adds takes to the nodes in file order: the file lists them as the nodes do.
    std::unordered_map<std::string, size_t> rankOf;  // by a take's first place among the nodes
    for (const Object& object : mObjects) {
        if (std::strcmp(object.type, "Model") != 0 || !object.node) continue;
        for (int t = 0; t < object.node->GetTakeNodeCount(); ++t)
            rankOf.emplace(object.node->GetTakeNodeName(t), rankOf.size());
    }
    // Takes no node has go last, in their own order.
    std::vector<std::pair<size_t, size_t>> ranked(mTakes.size());
    for (size_t i = 0; i < mTakes.size(); ++i) {
        const auto found = rankOf.find(SceneTakeName(mTakes[i]));
        ranked[i] = {found == rankOf.end() ? rankOf.size() : found->second, i};
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<size_t> index(ranked.size());
    for (size_t i = 0; i < ranked.size(); ++i) index[i] = ranked[i].second;
    std::vector<KQovTakeInfo> takes;
    std::vector<bool> existed;
    for (size_t i : index) {
        takes.push_back(mTakes[i]);
        existed.push_back(mTakeExisted[i]);
    }
    mTakes.swap(takes);
    mTakeExisted.swap(existed);
}

void KQovWriterQov6::CollectObjects(KQovScene* scene) {
    mObjects.clear();
    mConnections.clear();
    mShading.clear();
    // Most nodes give one object and one connection: room for them at once, so that the lists
    // of a wide scene never hold two copies while they grow.
    if (const KQovEntityContainer* nodes = scene->GetEntityContainer()) {
        const size_t count = size_t(std::max(nodes->GetNodeCount(), 0)) + 16;
        mObjects.reserve(count);
        mConnections.reserve(count);
    }
    KQovNode* root = scene->GetRootNode();
    const std::vector<KQovNode*> models = KQovListDescendants(root);
    MakeModelNamesUnique(scene, models);
    CollectModels(models);
    // Surfaces connect their materials and textures as meshes do (CollectModels takes meshes),
    // right after the connection that puts the surface in the scene: the reader lists the
    // scene's materials and textures in the order of their first connections.
    PlaceSurfaceShading();
    CollectShading(scene);
    CollectVideos(scene);
    // The producer cameras and the switcher are models of their own, under no parent.
    KQovGlobalCameraSettings& cameras = scene->GetGlobalCameraSettings();
    for (int p = 0; p < KQovGlobalCameraSettings::eProducerCount; ++p) {
        KQovNode* node = cameras.GetProducerNode(p);
        if (!node || !node->GetCamera()) continue;
        mObjects.push_back(
            {"Model",
             KMakePrefixedName("Model::", KQovGlobalCameraSettings::GetProducerName(p)).Buffer(),
             "Camera", [this, node] { WriteModelObject(node, true); }});
    }
    if (KQovNode* switcher = scene->GetCameraSwitcherNode())
        if (switcher->GetCameraSwitcher())
            mObjects.push_back({"Model", switcher->GetName(), "CameraSwitcher",
                                [this, switcher] { WriteModelObject(switcher, false); }});
    if (mOptions->GetSwitch(KStreamOptionsQov::eCharacters))
        for (int i = 0; i < scene->GetPoseCount(); ++i)
            if (KQovPose* pose = scene->GetPose(i))
                mObjects.push_back({"Pose", pose->GetName(),
                                    pose->IsBindPose() ? "BindPose" : "RestPose",
                                    [this, pose] { WritePoseContent(pose); }, nullptr, pose});
    if (mOptions->GetSwitch(KStreamOptionsQov::eCharacters)) CollectCharacters(scene);
    if (const KQovSceneInfo* info = scene->GetSceneInfo())
        mObjects.push_back({"SceneInfo", "SceneInfo::GlobalInfo", "UserData",
                            [this, info] { KQovWriteSceneInfoContent(mFile, *info); }});
    KQovEntityContainer* entity = scene->GetEntityContainer();
    for (int i = 0; entity && i < entity->GetGenericNodeCount(); ++i)
        if (KQovGenericNode* node = entity->GetGenericNode(i))
            mObjects.push_back({"GenericNode", node->GetName(), "",
                                [this, node] { WriteGenericNode(node); }, nullptr, node});
    NameOtherObjectsApart();
}

void KQovWriterQov6::NameOtherObjectsApart() {
    // The reader finds each by its whole name (a material, a texture, a character by its
    // connections, a generic node by its take): each kind is named apart among its own.
    static const std::pair<const char*, const char*> kKinds[] = {
        {"Material", "Material"},
        {"Texture", "Texture"},
        {"Constraint", "Character"},
        {"ControlSetPlug", "Control-set plug"},
        {"Pose", "Pose"},
        {"GenericNode", "Generic node"}};
    bool renamed = false;
    for (const auto& [type, kind] : kKinds) {
        std::vector<const KQovObject*> objects;
        for (const Object& object : mObjects)
            if (object.named && std::strcmp(object.type, type) == 0)
                objects.push_back(object.named);
        const size_t before = mWrittenNames.size();
        if (objects.size() > 1) NameObjectsApart(objects, kind);
        renamed = renamed || mWrittenNames.size() != before;
    }
    if (!renamed) return;
    for (Object& object : mObjects)
        if (object.named) object.name = WrittenName(object.named);
    for (Connection& connection : mConnections) {
        if (connection.sourceObject) connection.source = WrittenName(connection.sourceObject);
        if (connection.destinationObject)
            connection.destination = WrittenName(connection.destinationObject);
    }
}

void KQovWriterQov6::PlaceSurfaceShading() {
    // Each surface's shading goes right after the first connection from the surface. The
    // model connections keep their order, so the first one is found by name once, and the
    // shading is put in place once at the end; should a shading connection come from a
    // surface's name, the list is searched as it stands from there on.
    const size_t models = mConnections.size();
    std::unordered_map<std::string, size_t> firstFrom;
    std::unordered_set<std::string> shadingSources;
    std::vector<std::vector<std::vector<Connection>>> after;  // blocks after each model connection
    bool searched = false;
    for (size_t i = 0, count = mObjects.size(); i < count; ++i) {
        KQovNode* node = mObjects[i].node;
        if (!node || !(node->GetNurb() || node->GetPatch())) continue;
        if (!searched && after.empty()) {
            after.resize(models);
            for (size_t c = models; c-- > 0;) firstFrom[mConnections[c].source] = c;
        }
        const auto first = mConnections.size();
        CollectNodeShading(node);
        const std::string name = WrittenName(node);
        if (!searched && shadingSources.count(name) == 0) {
            const auto placed = firstFrom.find(name);
            if (placed != firstFrom.end()) {
                for (size_t c = first; c < mConnections.size(); ++c)
                    shadingSources.insert(mConnections[c].source);
                after[placed->second].emplace_back(mConnections.begin() + long(first),
                                                   mConnections.end());
                mConnections.resize(first);
                continue;
            }
        }
        if (!searched) {
            // Placed as they are now, then searched.
            std::vector<Connection> fresh(mConnections.begin() + long(first), mConnections.end());
            mConnections.resize(first);
            PlaceShadingBlocks(after, models);
            after.clear();
            mConnections.insert(mConnections.end(), fresh.begin(), fresh.end());
            searched = true;
        }
        const auto placed = std::find_if(mConnections.begin(), mConnections.end(),
                                         [&name](const Connection& c) { return c.source == name; });
        if (placed != mConnections.end())
            std::rotate(placed + 1, mConnections.begin() + long(first), mConnections.end());
    }
    if (!searched && !after.empty()) PlaceShadingBlocks(after, models);
}

void KQovWriterQov6::PlaceShadingBlocks(std::vector<std::vector<std::vector<Connection>>>& after,
                                        size_t models) {
    // The blocks after one connection lie newest first: each went in right after it.
    std::vector<Connection> placed;
    placed.reserve(mConnections.size());
    for (size_t c = 0; c < mConnections.size(); ++c) {
        placed.push_back(std::move(mConnections[c]));
        if (c >= models) continue;
        for (auto block = after[c].rbegin(); block != after[c].rend(); ++block)
            for (Connection& connection : *block) placed.push_back(std::move(connection));
    }
    mConnections.swap(placed);
}

void KQovWriterQov6::MakeModelNamesUnique(KQovScene* scene, const std::vector<KQovNode*>& models) {
    mWrittenNames.clear();
    mFirstWrittenAs.clear();
    // Names the file gives objects of its own: the root, the producer cameras and the switcher
    // (whose take the reader finds by that name).
    const KQovNode* switcher = scene->GetCameraSwitcherNode();
    std::vector<std::string> own{kSceneRoot};
    for (int p = 0; p < KQovGlobalCameraSettings::eProducerCount; ++p)
        own.push_back(
            KMakePrefixedName("Model::", KQovGlobalCameraSettings::GetProducerName(p)).Buffer());
    own.push_back(KMakePrefixedName("Model::", "Camera Switcher").Buffer());
    if (switcher) own.push_back(switcher->GetName());
    std::vector<const KQovObject*> objects(models.begin(), models.end());
    std::unordered_set<std::string_view> given;
    int renamed = 0;
    if (!NameApart(objects, own, switcher, "Node", given, renamed)) return;
    // A skeleton reader's end node is named after its joint: it follows its joint's new name,
    // or it would read back as a joint of its own.
    std::vector<std::pair<const KQovNode*, std::string>> ends;
    for (const KQovNode* node : models) {
        const auto joint = mWrittenNames.find(node);
        const KQovNode* end = node->GetChildCount() == 1 ? node->GetChild(0) : nullptr;
        if (joint == mWrittenNames.end() || !end || end->GetChildCount() != 0 ||
            mWrittenNames.count(end) || end->GetName() != std::string(node->GetName()) + "_End" ||
            given.count(joint->second + "_End"))
            continue;
        ends.emplace_back(end, joint->second + "_End");
    }
    for (auto& [end, made] : ends) {
        const std::string_view stored = mWrittenNames.emplace(end, std::move(made)).first->second;
        given.insert(stored);
        if (++renamed > kNamesWarnedOne) continue;
        mStatus += KFormatC("Node \"%s\" written as \"%s\": its joint was renamed\n",
                            KQovMessageText(KQovStripPrefix(end->GetName()).Buffer()).c_str(),
                            KQovMessageText(KQovStripPrefix(stored.data()).Buffer()).c_str())
                       .c_str();
    }
    if (renamed > kNamesWarnedOne)
        mStatus += KFormatC("%d more node%s written under names made unique\n",
                            renamed - kNamesWarnedOne, renamed - kNamesWarnedOne == 1 ? "" : "s")
                       .c_str();
}

bool KQovWriterQov6::NameApart(const std::vector<const KQovObject*>& objects,
                               const std::vector<std::string>& own, const KQovObject* except,
                               const char* kind, std::unordered_set<std::string_view>& given,
                               int& renamed) {
    auto isOwn = [&own, except](const KQovObject* object) {
        return object != except &&
               std::find(own.begin(), own.end(), object->GetName()) != own.end();
    };
    // Every name the file holds already; most scenes have no clash and stop here.
    std::unordered_set<std::string_view> taken;
    taken.reserve(objects.size() + own.size());
    bool clash = false;
    for (const KQovObject* object : objects)
        clash |= !taken.insert(object->GetName()).second || isOwn(object);
    if (!clash) return false;
    // Names that need no change are set aside before any is numbered: the first object of
    // each keeps it, and no number takes a name a later object has.
    KNameNumbers numbers;
    for (const KQovObject* object : objects)
        if (object != except && !isOwn(object)) numbers.SetAside(object->GetName());
    given.insert(own.begin(), own.end());
    const auto held = [&given, &numbers](const std::string& name) {
        return given.count(name) != 0 || numbers.IsAside(name);
    };
    std::string lower = kind;
    for (char& c : lower) c = KToLower(c);
    for (const KQovObject* object : objects) {
        const std::string_view name = object->GetName();
        const bool ownName = isOwn(object);
        if (object == except) continue;
        if (!ownName && numbers.ClaimAside(std::string(name))) {
            given.insert(name);
            continue;
        }
        const std::string stem(name);
        std::string made;
        const uint64_t n = numbers.Find(stem, 1, [&](uint64_t k) {
            made = stem + "_" + std::to_string(k);
            return !held(made);
        });
        const std::string_view stored =
            mWrittenNames.emplace(object, std::move(made)).first->second;
        numbers.Take(stem, n);
        // Poses name nodes by text: one naming "Scene" names the first node so named.
        if (ownName) mFirstWrittenAs.emplace(std::string(name), std::string(stored));
        given.insert(stored);
        if (++renamed > kNamesWarnedOne) continue;
        const std::string reason = name == kSceneRoot ? "the file's root has that name"
                                   : ownName          ? "the file's own camera has that name"
                                                      : "an earlier " + lower + " has that name";
        mStatus += KFormatC("%s \"%s\" written as \"%s\": %s\n", kind,
                            KQovMessageText(KQovStripPrefix(object->GetName()).Buffer()).c_str(),
                            KQovMessageText(KQovStripPrefix(stored.data()).Buffer()).c_str(),
                            reason.c_str())
                       .c_str();
    }
    return true;
}

void KQovWriterQov6::NameObjectsApart(const std::vector<const KQovObject*>& objects,
                                      const char* kind) {
    std::unordered_set<std::string_view> given;
    int renamed = 0;
    NameApart(objects, {}, nullptr, kind, given, renamed);
    if (renamed <= kNamesWarnedOne) return;
    std::string lower = kind;
    for (char& c : lower) c = KToLower(c);
    mStatus += KFormatC("%d more %s%s written under names made unique\n", renamed - kNamesWarnedOne,
                        lower.c_str(), renamed - kNamesWarnedOne == 1 ? "" : "s")
                   .c_str();
}

std::string KQovWriterQov6::WrittenBareName(const KQovNode* node) const {
    std::string bare = node->GetNameWithoutPrefix().Buffer();
    const char* written = WrittenName(node);
    const size_t length = std::strlen(node->GetName());
    if (written == node->GetName()) return bare;
    // A made name is the node's own with a number behind it, or an end node's after its
    // joint's (both under the node's class prefix).
    if (std::strncmp(written, node->GetName(), length) == 0) return bare + (written + length);
    return written + (length - bare.size());
}

void KQovWriterQov6::CollectModels(const std::vector<KQovNode*>& models) {
    // Parents before children, on a list: a chain of models must not recurse.
    for (KQovNode* node : models) {
        const char* name = WrittenName(node);
        mObjects.push_back({"Model", name, ModelSubType(node),
                            [this, node] { WriteModelObject(node, false); }, node});
        KQovNode* parent = node->GetParent();
        mConnections.push_back(
            {"OO", name, parent && parent->GetParent() ? WrittenName(parent) : kSceneRoot, ""});
        if (KQovNode* target = node->GetLookAtTarget())
            mConnections.push_back({"OP", WrittenName(target), name, "LookAtProperty"});
        if (KQovNode* target = node->GetUpVectorTarget())
            mConnections.push_back({"OP", WrittenName(target), name, "UpVectorProperty"});
        if (node->GetMesh()) CollectNodeShading(node);
        if (node->GetGeometry() && mOptions->GetSwitch(KStreamOptionsQov::eDeformers))
            CollectDeformers(node);
    }
}

void KQovWriterQov6::CollectDeformers(KQovNode* node) {
    KQovGeometry* geometry = node->GetGeometry();
    if (geometry->GetLinkCount() == 0) return;
    // As the scene's conversion names them, without making them in the caller's scene.
    const std::string skin = "Deformer::Skin " + WrittenBareName(node);
    mObjects.push_back({"Deformer", skin, "Skin", [this] {
                            KQovWriteIntField(mFile, "Version", 100);
                            KQovWriteIntField(mFile, "MultiLayer", 0);
                        }});
    mConnections.push_back({"OO", skin, WrittenName(node), ""});
    for (int i = 0; i < geometry->GetLinkCount(); ++i) {
        KQovLink* link = geometry->GetLink(i);
        KQovNode* linked = link ? link->GetLink() : nullptr;
        if (!linked) continue;
        const std::string base = "SubDeformer::Cluster " + WrittenBareName(linked);
        std::string name = base;
        for (int n = 1; std::any_of(mObjects.begin(), mObjects.end(),
                                    [&name](const Object& o) { return o.name == name; });
             ++n)
            name = base + " " + std::to_string(n);
        mObjects.push_back({"Deformer", name, "Cluster", [this, link] {
                                KQovWriteIntField(mFile, "Version", 100);
                                KQovWriteIntField(mFile, "MultiLayer", 0);
                                WriteClusterFields(link);
                            }});
        mConnections.push_back({"OO", name, skin, ""});
        mConnections.push_back({"OO", WrittenName(linked), name, ""});
        if (KQovNode* associate = link->GetAssociateModel())
            mConnections.push_back({"OP", WrittenName(associate), name, "SrcModelReference"});
    }
}

void KQovWriterQov6::WriteDefinitions() {
    KQovWriteBlockBegin(mFile, "Definitions");
    KQovWriteIntField(mFile, "Version", 100);
    KQovWriteIntField(mFile, "Count", int32_t(mObjects.size()));
    for (const char* type : kObjectTypes) {
        int count = 0;
        for (const Object& object : mObjects) count += std::strcmp(type, object.type) == 0 ? 1 : 0;
        if (count == 0) continue;
        KQovWriteBlockBegin(mFile, "ObjectType", type);
        KQovWriteIntField(mFile, "Count", count);
        KQovWriteBlockEnd(mFile);
    }
    KQovWriteBlockEnd(mFile);
}

void KQovWriterQov6::WriteObjects() {
    KQovWriteBlockBegin(mFile, "Objects");
    for (const char* type : kObjectTypes) {
        for (const Object& object : mObjects) {
            if (std::strcmp(type, object.type) != 0) continue;
            if (Failed()) break;
            Progress();
            mFile->FieldWriteBegin(object.type);
            mFile->FieldWriteC(object.name.c_str());
            mFile->FieldWriteC(object.subType.c_str());
            mFile->FieldWriteBlockBegin();
            object.write();
            KQovWriteBlockEnd(mFile);
        }
    }
    KQovWriteBlockEnd(mFile);
}

void KQovWriterQov6::WriteModelObject(KQovNode* node, bool producer) {
    WriteModelContent(node, producer);
    WriteDefaultChannels(node);
}

void KQovWriterQov6::WriteGenericNode(KQovGenericNode* node) {
    KQovWriteIntField(mFile, "Version", 100);
    mFile->FieldWritePropertyBlock(node->GetPropertyHandler());
}

void KQovWriterQov6::WriteVersion5Block(KQovScene* scene) {
    KQovWriteBlockBegin(mFile, "Version5");
    KQovWriteAmbientAndFog(mFile, scene);
    KQovWriteShadowPlanes(mFile, scene);
    KQovWriteBlockBegin(mFile, "Settings");
    KQovWriteTimeFields(mFile, scene);
    KQovWriteBlockEnd(mFile);
    KQovWriteRendererSetting(mFile, scene);
    KQovWriteBlockEnd(mFile);
}

void KQovWriterQov6::WriteConnections() {
    KQovWriteBlockBegin(mFile, "Connections");
    for (const Connection& c : mConnections) {
        mFile->FieldWriteBegin("Connect");
        mFile->FieldWriteC(c.kind);
        mFile->FieldWriteC(c.source.c_str());
        mFile->FieldWriteC(c.destination.c_str());
        if (!c.property.empty()) mFile->FieldWriteC(c.property.c_str());
        mFile->FieldWriteEnd();
    }
    KQovWriteBlockEnd(mFile);
}
