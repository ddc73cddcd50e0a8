#pragma once
// Key-frame chunks of a 3DS database: nodes, node ids, parent names and tracks.
// In a file a node names its parent by node id; in memory by name (a 0x80F0 chunk
// below its node header), so nodes can be added and removed freely.

#include <string>
#include <unordered_map>
#include <vector>

#include "formats/geometry/3ds/Database3ds.h"

// Key-frame settings.
struct KfSets3ds {
    uint32_t anim = 30;
    uint32_t current = 0;
    bool segmentUsed = false;
    uint32_t segmentStart = 0, segmentEnd = 30;
};

void InitKfSets3ds(Context3ds& ctx, KfSets3ds** sets);
void ReleaseKfSets3ds(KfSets3ds** sets);
void PutKfSets3ds(Context3ds& ctx, Database3ds* database, const KfSets3ds* sets);
// Fills (allocating when the pointer holds none) the key-frame settings of a database: the
// header's length, the current frame, and the segment when there is one. A database
// without a key-frame header leaves the pointer as it is.
void GetKfSets3ds(Context3ds& ctx, Database3ds* database, KfSets3ds** sets);

// Node id from the node's 0xB030 chunk; -1 when it has none.
int GetNodeId3ds(Context3ds& ctx, Chunk3ds* node);
void ParentIdsToNames3ds(Context3ds& ctx, Database3ds* database);
// Each key-frame node's parent node, by the id its header names (as ParentIdsToNames3ds
// reads it); nodes without one are not in it. Nodes of one name are told apart here.
std::unordered_map<const Chunk3ds*, const Chunk3ds*> GetParentNodes3ds(Context3ds& ctx,
                                                                       Database3ds* database);
void ParentNamesToIds3ds(Context3ds& ctx, Database3ds* database);
// The key-frame header below the key-frame data, added (revision 5, no name, length 30)
// when missing; the caller changes it.
KfHeader3ds* FindOrAddKfHeader3ds(Context3ds& ctx, Chunk3ds* kfData);
void FindOrAddKfData3ds(Context3ds& ctx, Chunk3ds* top, Chunk3ds** kfData);
void AddNodeIdChunk3ds(Context3ds& ctx, Chunk3ds* node);
void AddNodeHeader3ds(Context3ds& ctx, const std::string& name, uint16_t flags1, uint16_t flags2,
                      const std::string& parentName, Chunk3ds* node);
void AddParentName3ds(Context3ds& ctx, Chunk3ds* chunk, const std::string& text);
// Text of the first 0x80F0 chunk below a chunk; empty when there is none.
std::string GetParentName3ds(Context3ds& ctx, Chunk3ds* chunk);

// Adds a track child of a tag whose keys and values are copies of the given ones.
template <class V>
Chunk3ds* AddTrack3ds(Context3ds& ctx, uint32_t tag, const Track3ds<V>& track, Chunk3ds* node) {
    HeldChunk3ds chunk;
    Track3ds<V>* record = InitChunkAndData3ds<Track3ds<V>>(ctx, chunk.Slot(), tag);
    if (!record) return nullptr;
    record->flags = track.flags;
    record->keys = track.keys;
    record->values = track.values;
    record->values.resize(record->keys.size());
    return AdoptChild3ds(ctx, node, chunk);
}
void AddPosTrack3ds(Context3ds& ctx, const Track3ds<Point3ds>& track, Chunk3ds* node);
void AddColorTrack3ds(Context3ds& ctx, const Track3ds<Point3ds>& track, Chunk3ds* node);
void AddRollTrack3ds(Context3ds& ctx, const Track3ds<float>& track, Chunk3ds* node);
// Adds a target node (0xB004 for a camera, 0xB006 for a light) below the key-frame data.
Chunk3ds* AddTargetNode3ds(Context3ds& ctx, Chunk3ds* kfData, bool cameraTarget,
                           const std::string& name, uint16_t flags1, uint16_t flags2,
                           const std::string& parentName, const Track3ds<Point3ds>& track);

// The first key-frame node of a tag whose node header holds the name and, for an object
// node, whose instance name is `instance` (dummies share the name "$$$DUMMY" and differ by
// it); null when none.
Chunk3ds* FindNodeChunkByName3ds(Context3ds& ctx, Database3ds* database, const std::string& name,
                                 uint32_t tag, const std::string& instance = std::string());
size_t CountNodesOfTag3ds(Context3ds& ctx, Database3ds* database, uint32_t tag);
void GetNodeNameList3ds(Context3ds& ctx, Database3ds* database, uint32_t tag,
                        std::vector<std::string>& names);
// Copies the XDATA section (0x8000) of the node of a tag, name (and instance name) into
// `xdata` and empties the old node in place; nothing when there is no such node.
void CopyXDataSection3ds(Context3ds& ctx, Database3ds* database, uint32_t tag,
                         const std::string& name, Chunk3ds** xdata,
                         const std::string& instance = std::string());
