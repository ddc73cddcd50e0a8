#include "formats/geometry/3ds/Motion3ds.h"

#include <new>

namespace {

template <class V>
void SizeTrack(Context3ds& ctx, Track3ds<V>& track, uint32_t count, const V& value = V()) {
    if (count == 0) return;
    try {
        track.keys.assign(count, KeyHeader3ds());
        track.values.assign(count, value);
    } catch (const std::bad_alloc&) {
        track = Track3ds<V>();
        PushError3ds(ctx, ERR_NO_MEM);
    }
}

const Point3ds kOnes{1, 1, 1};

// Reads a node's header and parent name into the record's node part.
void ReadNodePart(Context3ds& ctx, Chunk3ds* node, NodePart3ds& part) {
    Chunk3ds* header = FindNextChunk3ds(node->child, 0xB010);
    NodeHeader3ds value;
    if (ReadValue3ds(ctx, header, value)) {
        part.name = value.name;
        part.flags1 = value.flags1;
        part.flags2 = value.flags2;
    }
    part.parent = header ? GetParentName3ds(ctx, header) : std::string();
}

template <class V>
void ReadTrack(Context3ds& ctx, Chunk3ds* node, uint32_t tag, Track3ds<V>& track) {
    track = Track3ds<V>();
    ReadValue3ds(ctx, FindChunk3ds(node, tag), track);
}

void ReadTarget(Context3ds& ctx, Chunk3ds* target, TargetPart3ds& part, Track3ds<Point3ds>& track) {
    if (!target) return;
    HeldChunk3ds copy;
    CopyChunk3ds(ctx, target, copy.Slot());
    if (!copy.get()) return;
    NodePart3ds node;
    ReadNodePart(ctx, copy.get(), node);
    part = {node.parent, node.flags1, node.flags2};
    ReadTrack(ctx, copy.get(), 0xB020, track);
}

// Reads a node from a copy of it, so file-backed payloads go with the copy.
template <class M, class Fill>
void ReadMotion(Context3ds& ctx, Chunk3ds* node, M** motion, Fill fill) {
    if (!node || !motion) return PushError3ds(ctx, ERR_INVALID_ARG);
    InitRecord3ds(ctx, motion);
    HeldChunk3ds copy;
    CopyChunk3ds(ctx, node, copy.Slot());
    if (!copy.get()) return;
    ReadNodePart(ctx, copy.get(), **motion);
    fill(copy.get(), **motion);
}

bool CheckNames(Context3ds& ctx, std::initializer_list<const std::string*> names) {
    for (const std::string* name : names) {
        if (name->size() > 10 || name->find('\0') != std::string::npos) {
            PushError3ds(ctx, ERR_STRING_TOO_LONG);
            return false;
        }
    }
    return true;
}

// Argument, database and name tests of a motion put into a 3DS or project file.
bool CanPut(Context3ds& ctx, Database3ds* database, const NodePart3ds* motion) {
    if (!database || !motion) {
        PushError3ds(ctx, ERR_INVALID_ARG);
        return false;
    }
    return CheckDatabase3ds(ctx, database, 0x4D4D, 0xC23D) && CheckNames(ctx, {&motion->name});
}

template <class V>
void PutTrack(Context3ds& ctx, Chunk3ds* node, uint32_t tag, const Track3ds<V>& track) {
    if (!track.keys.empty() && !ctx.ErrorPending()) AddTrack3ds(ctx, tag, track, node);
}

// Empties an old node of the same tag, name and instance name (keeping its XDATA) and adds
// the new one.
Chunk3ds* PutNode(Context3ds& ctx, Database3ds* database, uint32_t tag, const NodePart3ds& part,
                  Chunk3ds** xdata, const std::string& instance = std::string()) {
    Chunk3ds* kfData = nullptr;
    FindOrAddKfData3ds(ctx, database->topChunk, &kfData);
    if (ctx.ErrorPending()) return nullptr;
    CopyXDataSection3ds(ctx, database, tag, part.name, xdata, instance);
    database->nodeListDirty = true;
    if (ctx.ErrorPending()) return nullptr;
    Chunk3ds* node = AddEmptyChunk3ds(ctx, tag, kfData);
    if (!node) return nullptr;
    AddNodeIdChunk3ds(ctx, node);
    if (!ctx.ErrorPending())
        AddNodeHeader3ds(ctx, part.name, part.flags1, part.flags2, part.parent, node);
    if (ctx.ErrorPending()) {
        DirtyNodeIndex3ds(database);
        return nullptr;
    }
    NoteNodeAdded3ds(database, kfData, tag, part.name, instance, node);
    return node;
}

// The old node's XDATA goes to the new node; without one the holder frees it.
void Attach(Context3ds& ctx, Chunk3ds* node, HeldChunk3ds& xdata) {
    if (node && xdata.get()) AddChildLast3ds(ctx, node, xdata.Release());
}

// A camera's or spotlight's target node, written first, when its track has keys.
void PutTarget(Context3ds& ctx, Database3ds* database, bool camera, const NodePart3ds& part,
               const TargetPart3ds& target, const Track3ds<Point3ds>& track) {
    HeldChunk3ds xdata;
    CopyXDataSection3ds(ctx, database, camera ? 0xB004 : 0xB006, part.name, xdata.Slot());
    if (track.keys.empty() || ctx.ErrorPending()) return;
    Chunk3ds* kfData = nullptr;
    FindOrAddKfData3ds(ctx, database->topChunk, &kfData);
    Chunk3ds* node = ctx.ErrorPending()
                         ? nullptr
                         : AddTargetNode3ds(ctx, kfData, camera, part.name, target.flags1,
                                            target.flags2, target.parent, track);
    if (node && !ctx.ErrorPending())
        NoteNodeAdded3ds(database, kfData, camera ? 0xB004 : 0xB006, part.name, "", node);
    else
        DirtyNodeIndex3ds(database);
    Attach(ctx, node, xdata);
}

}  // namespace

// ---- records ----

void InitObjectMotion3ds(Context3ds& ctx, ObjectMotion3ds** motion, uint32_t pos, uint32_t rot,
                         uint32_t scale, uint32_t morph, uint32_t hide) {
    if (!motion) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!*motion) *motion = new ObjectMotion3ds;
    ObjectMotion3ds& m = **motion;
    SizeTrack(ctx, m.pos, pos);
    SizeTrack(ctx, m.rot, rot, Rotation3ds{0, 0, 0, 1});
    SizeTrack(ctx, m.scale, scale, kOnes);
    SizeTrack(ctx, m.morph, morph);
    SizeTrack(ctx, m.hide, hide);
}

void InitCameraMotion3ds(Context3ds& ctx, CameraMotion3ds** motion, uint32_t pos, uint32_t fov,
                         uint32_t roll, uint32_t target) {
    if (!motion) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!*motion) *motion = new CameraMotion3ds;
    CameraMotion3ds& m = **motion;
    SizeTrack(ctx, m.pos, pos);
    SizeTrack(ctx, m.fov, fov);
    SizeTrack(ctx, m.roll, roll);
    SizeTrack(ctx, m.targetPos, target);
}

void InitOmnilightMotion3ds(Context3ds& ctx, OmnilightMotion3ds** motion, uint32_t pos,
                            uint32_t color) {
    if (!motion) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!*motion) *motion = new OmnilightMotion3ds;
    SizeTrack(ctx, (*motion)->pos, pos);
    SizeTrack(ctx, (*motion)->color, color, kOnes);
}

void InitSpotlightMotion3ds(Context3ds& ctx, SpotlightMotion3ds** motion, uint32_t pos,
                            uint32_t color, uint32_t hotspot, uint32_t falloff, uint32_t roll,
                            uint32_t target) {
    if (!motion) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!*motion) *motion = new SpotlightMotion3ds;
    SpotlightMotion3ds& m = **motion;
    SizeTrack(ctx, m.pos, pos);
    SizeTrack(ctx, m.color, color);  // only omni colour keys start white
    SizeTrack(ctx, m.hotspot, hotspot);
    SizeTrack(ctx, m.falloff, falloff);
    SizeTrack(ctx, m.roll, roll);
    SizeTrack(ctx, m.targetPos, target);
}

void ReleaseObjectMotion3ds(ObjectMotion3ds** motion) {
    ReleaseRecord3ds(motion);
}
void ReleaseCameraMotion3ds(CameraMotion3ds** motion) {
    ReleaseRecord3ds(motion);
}
void ReleaseOmnilightMotion3ds(OmnilightMotion3ds** motion) {
    ReleaseRecord3ds(motion);
}
void ReleaseSpotlightMotion3ds(SpotlightMotion3ds** motion) {
    ReleaseRecord3ds(motion);
}

// ---- counting and selecting ----

size_t GetObjectNodeCount3ds(Context3ds& ctx, Database3ds* database) {
    return CountNodesOfTag3ds(ctx, database, 0xB002);
}
size_t GetCameraNodeCount3ds(Context3ds& ctx, Database3ds* database) {
    return CountNodesOfTag3ds(ctx, database, 0xB003);
}
size_t GetOmnilightNodeCount3ds(Context3ds& ctx, Database3ds* database) {
    return CountNodesOfTag3ds(ctx, database, 0xB005);
}

void GetObjectMotionByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index,
                               ObjectMotion3ds** motion) {
    if (!database || !motion) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!CheckDatabase3ds(ctx, database, 0x4D4D, 0xC23D)) return;
    if (Chunk3ds* node = FindNodeByIndex3ds(ctx, database, index, 0xB002))
        GetObjectMotion3ds(ctx, node, motion);
}

namespace {

// The n-th node of a tag and its target node: the target of its name of the same rank
// among nodes of that name (lights and cameras may share a name), else the first.
bool FindNodeByListIndex(Context3ds& ctx, Database3ds* database, size_t index, uint32_t tag,
                         uint32_t targetTag, Chunk3ds** node, Chunk3ds** target) {
    if (!CheckDatabase3ds(ctx, database, 0x4D4D, 0xC23D)) return false;
    const ChunkListEntry3ds* entry = FindNodeEntryByIndex3ds(ctx, database, index, tag);
    if (!entry) return false;
    const std::string name = entry->name;
    size_t rank = 0;
    const std::vector<Chunk3ds*>* nodes =
        FindNodesNamed3ds(ctx, database, name, tag, entry->chunk, &rank);
    if (!nodes) return false;
    // A node without a header of its own reads as the first of its name.
    if (rank >= nodes->size() || (*nodes)[rank] != entry->chunk) rank = 0;
    *node = (*nodes)[rank];
    if (targetTag) {
        const std::vector<Chunk3ds*>* targets = FindNodesNamed3ds(ctx, database, name, targetTag);
        if (targets) *target = (*targets)[rank < targets->size() ? rank : 0];
    }
    return !ctx.ErrorPending();
}

}  // namespace

void GetCameraMotionByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index,
                               CameraMotion3ds** motion) {
    if (!database || !motion) return PushError3ds(ctx, ERR_INVALID_ARG);
    Chunk3ds *node = nullptr, *target = nullptr;
    if (FindNodeByListIndex(ctx, database, index, 0xB003, 0xB004, &node, &target))
        GetCameraMotion3ds(ctx, node, target, motion);
}

void GetOmnilightMotionByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index,
                                  OmnilightMotion3ds** motion) {
    if (!database || !motion) return PushError3ds(ctx, ERR_INVALID_ARG);
    Chunk3ds *node = nullptr, *target = nullptr;
    if (FindNodeByListIndex(ctx, database, index, 0xB005, 0, &node, &target))
        GetOmnilightMotion3ds(ctx, node, motion);
}

void GetSpotlightMotionByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index,
                                  SpotlightMotion3ds** motion) {
    if (!database || !motion) return PushError3ds(ctx, ERR_INVALID_ARG);
    Chunk3ds *node = nullptr, *target = nullptr;
    if (FindNodeByListIndex(ctx, database, index, 0xB007, 0xB006, &node, &target))
        GetSpotlightMotion3ds(ctx, node, target, motion);
}

Chunk3ds* FindTargetNodeByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index,
                                   uint32_t tag) {
    Chunk3ds *node = nullptr, *target = nullptr;
    if (!database || (tag != 0xB003 && tag != 0xB007)) {
        PushError3ds(ctx, ERR_INVALID_ARG);
        return nullptr;
    }
    FindNodeByListIndex(ctx, database, index, tag, tag == 0xB003 ? 0xB004 : 0xB006, &node, &target);
    return target;
}

// ---- reading ----

void GetObjectMotion3ds(Context3ds& ctx, Chunk3ds* node, ObjectMotion3ds** motion) {
    if (node && node->tag != 0xB002) return PushError3ds(ctx, ERR_WRONG_OBJECT);
    ReadMotion(ctx, node, motion, [&](Chunk3ds* copy, ObjectMotion3ds& m) {
        Text3ds<10> instance;
        if (ReadValue3ds(ctx, FindChunk3ds(copy, 0xB011), instance)) m.instance = instance.text;
        ReadValue3ds(ctx, FindChunk3ds(copy, 0xB013), m.pivot);
        BoundBox3ds box;
        if (ReadValue3ds(ctx, FindChunk3ds(copy, 0xB014), box)) {
            m.boundMin = box.min;
            m.boundMax = box.max;
        }
        ReadValue3ds(ctx, FindChunk3ds(copy, 0xB015), m.morphSmooth);
        ReadTrack(ctx, copy, 0xB020, m.pos);
        ReadTrack(ctx, copy, 0xB021, m.rot);
        ReadTrack(ctx, copy, 0xB022, m.scale);
        ReadTrack(ctx, copy, 0xB026, m.morph);
        ReadTrack(ctx, copy, 0xB029, m.hide);
    });
}

void GetCameraMotion3ds(Context3ds& ctx, Chunk3ds* node, Chunk3ds* target,
                        CameraMotion3ds** motion) {
    ReadMotion(ctx, node, motion, [&](Chunk3ds* copy, CameraMotion3ds& m) {
        ReadTrack(ctx, copy, 0xB020, m.pos);
        ReadTrack(ctx, copy, 0xB023, m.fov);
        ReadTrack(ctx, copy, 0xB024, m.roll);
        ReadTarget(ctx, target, m.target, m.targetPos);
    });
}

void GetOmnilightMotion3ds(Context3ds& ctx, Chunk3ds* node, OmnilightMotion3ds** motion) {
    ReadMotion(ctx, node, motion, [&](Chunk3ds* copy, OmnilightMotion3ds& m) {
        ReadTrack(ctx, copy, 0xB020, m.pos);
        ReadTrack(ctx, copy, 0xB025, m.color);
    });
}

void GetSpotlightMotion3ds(Context3ds& ctx, Chunk3ds* node, Chunk3ds* target,
                           SpotlightMotion3ds** motion) {
    ReadMotion(ctx, node, motion, [&](Chunk3ds* copy, SpotlightMotion3ds& m) {
        ReadTrack(ctx, copy, 0xB020, m.pos);
        ReadTrack(ctx, copy, 0xB025, m.color);
        ReadTrack(ctx, copy, 0xB027, m.hotspot);
        ReadTrack(ctx, copy, 0xB028, m.falloff);
        ReadTrack(ctx, copy, 0xB024, m.roll);
        ReadTarget(ctx, target, m.target, m.targetPos);
    });
}

// ---- writing ----

void PutObjectMotion3ds(Context3ds& ctx, Database3ds* database, const ObjectMotion3ds* motion) {
    if (!CanPut(ctx, database, motion)) return;
    const ObjectMotion3ds& m = *motion;
    if (!CheckNames(ctx, {&m.instance})) return;
    for (const MorphName3ds& morph : m.morph.values)
        if (morph.name.size() > 12) return PushError3ds(ctx, ERR_STRING_TOO_LONG);
    HeldChunk3ds xdata;
    Chunk3ds* node = PutNode(ctx, database, 0xB002, m, xdata.Slot(), m.instance);
    if (node && !m.instance.empty()) AddValueChunk3ds(ctx, node, 0xB011, Text3ds<10>{m.instance});
    if (node && m.name == "$$$DUMMY")
        AddValueChunk3ds(ctx, node, 0xB014, BoundBox3ds{m.boundMin, m.boundMax});
    if (node && (m.flags2 & 1)) AddValueChunk3ds(ctx, node, 0xB015, m.morphSmooth);
    if (node) AddValueChunk3ds(ctx, node, 0xB013, m.pivot);
    if (node) {
        PutTrack(ctx, node, 0xB020, m.pos);
        PutTrack(ctx, node, 0xB021, m.rot);
        PutTrack(ctx, node, 0xB022, m.scale);
        PutTrack(ctx, node, 0xB026, m.morph);
        PutTrack(ctx, node, 0xB029, m.hide);
    }
    Attach(ctx, node, xdata);
}

void PutCameraMotion3ds(Context3ds& ctx, Database3ds* database, const CameraMotion3ds* motion) {
    if (!database || !motion) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!database->topChunk || database->topChunk->tag != 0x4D4D)
        return PushError3ds(ctx, ERR_INVALID_DATA);
    const CameraMotion3ds& m = *motion;
    if (!CheckNames(ctx, {&m.name})) return;
    PutTarget(ctx, database, true, m, m.target, m.targetPos);
    HeldChunk3ds xdata;
    Chunk3ds* node = ctx.ErrorPending() ? nullptr : PutNode(ctx, database, 0xB003, m, xdata.Slot());
    if (node) {
        PutTrack(ctx, node, 0xB020, m.pos);
        PutTrack(ctx, node, 0xB023, m.fov);
        PutTrack(ctx, node, 0xB024, m.roll);
    }
    Attach(ctx, node, xdata);
}

void PutOmnilightMotion3ds(Context3ds& ctx, Database3ds* database,
                           const OmnilightMotion3ds* motion) {
    if (!CanPut(ctx, database, motion)) return;
    const OmnilightMotion3ds& m = *motion;
    HeldChunk3ds xdata;
    Chunk3ds* node = PutNode(ctx, database, 0xB005, m, xdata.Slot());
    if (node) {
        PutTrack(ctx, node, 0xB020, m.pos);
        PutTrack(ctx, node, 0xB025, m.color);
    }
    Attach(ctx, node, xdata);
}

void PutSpotlightMotion3ds(Context3ds& ctx, Database3ds* database,
                           const SpotlightMotion3ds* motion) {
    if (!CanPut(ctx, database, motion)) return;
    const SpotlightMotion3ds& m = *motion;
    PutTarget(ctx, database, false, m, m.target, m.targetPos);
    HeldChunk3ds xdata;
    Chunk3ds* node = ctx.ErrorPending() ? nullptr : PutNode(ctx, database, 0xB007, m, xdata.Slot());
    if (node) {
        PutTrack(ctx, node, 0xB020, m.pos);
        PutTrack(ctx, node, 0xB025, m.color);
        PutTrack(ctx, node, 0xB027, m.hotspot);
        PutTrack(ctx, node, 0xB028, m.falloff);
        PutTrack(ctx, node, 0xB024, m.roll);
    }
    Attach(ctx, node, xdata);
}
