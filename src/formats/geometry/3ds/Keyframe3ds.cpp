#include "formats/geometry/3ds/Keyframe3ds.h"

#include <map>
#include <unordered_map>
#include <utility>

namespace {

// Node tags in the order the parent conversion searches them.
const uint32_t kNodeTags[] = {0xB004, 0xB002, 0xB003, 0xB005, 0xB006, 0xB007};

bool IsKeyframeNodeTag(uint32_t tag) {
    for (uint32_t t : kNodeTags)
        if (t == tag) return true;
    return false;
}

bool IsTargetTag(uint32_t tag) {
    return tag == 0xB004 || tag == 0xB006;
}

struct NodeIdEntry3ds {
    int id = -1;
    uint32_t tag = 0;
    std::string name, instance;
    int parent = -1;
    Chunk3ds* node = nullptr;
};

NodeHeader3ds* HeaderOf(Context3ds& ctx, Chunk3ds* node, Chunk3ds** headerChunk = nullptr) {
    Chunk3ds* header = FindNextChunk3ds(node->child, 0xB010);
    if (headerChunk) *headerChunk = header;
    return header ? ReadChunkDataAs3ds<NodeHeader3ds>(ctx, header) : nullptr;
}

std::string InstanceOf(Context3ds& ctx, Chunk3ds* node) {
    if (node->tag != 0xB002) return std::string();
    Chunk3ds* instance = FindChunk3ds(node, 0xB011);
    auto* text = instance ? ReadChunkDataAs3ds<Text3ds<10>>(ctx, instance) : nullptr;
    return text ? text->text : std::string();
}

void AddNodeIdEntry(Context3ds& ctx, Chunk3ds* node, std::vector<NodeIdEntry3ds>& list) {
    NodeHeader3ds* header = HeaderOf(ctx, node);
    if (!header) return;
    NodeIdEntry3ds entry;
    entry.id = GetNodeId3ds(ctx, node);
    entry.tag = node->tag;
    entry.name = header->name;
    entry.parent = header->parent;
    entry.instance = InstanceOf(ctx, node);
    entry.node = node;
    list.push_back(entry);
}

// The first entry of each name and instance name, so a file of many nodes converts
// in n log n steps rather than n squared.
using NodeNames3ds = std::map<std::pair<std::string, std::string>, const NodeIdEntry3ds*>;

// "name" matches an entry without an instance name; "name.instance" one with it. Names hold
// dots too: split at the first dot, else the whole text, else at each later dot.
const NodeIdEntry3ds* FindNodeIdEntry(const NodeNames3ds& names, const std::string& text) {
    const size_t first = text.find('.');
    auto find = [&](size_t dot) -> const NodeIdEntry3ds* {
        auto key = dot == std::string::npos
                       ? std::make_pair(text, std::string())
                       : std::make_pair(text.substr(0, dot), text.substr(dot + 1));
        auto found = names.find(key);
        return found == names.end() ? nullptr : found->second;
    };
    if (first == std::string::npos) return find(first);
    const NodeIdEntry3ds* entry = find(first);
    if (!entry) entry = find(std::string::npos);
    for (size_t dot = text.find('.', first + 1); !entry && dot != std::string::npos;
         dot = text.find('.', dot + 1))
        entry = find(dot);
    return entry;
}

void SetNodeId(Context3ds& ctx, Chunk3ds* node, int id) {
    Chunk3ds* idChunk = FindChunk3ds(node, 0xB030);
    if (uint16_t* value = idChunk ? ReadChunkDataAs3ds<uint16_t>(ctx, idChunk) : nullptr)
        *value = uint16_t(id);
}

}  // namespace

void InitKfSets3ds(Context3ds& ctx, KfSets3ds** sets) {
    InitRecord3ds(ctx, sets);
}
void ReleaseKfSets3ds(KfSets3ds** sets) {
    ReleaseRecord3ds(sets);
}

void PutKfSets3ds(Context3ds& ctx, Database3ds* database, const KfSets3ds* sets) {
    if (!sets) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!CheckDatabase3ds(ctx, database, 0x4D4D, 0xC23D)) return;
    Chunk3ds* kfData = nullptr;
    FindOrAddKfData3ds(ctx, database->topChunk, &kfData);
    if (ctx.ErrorPending()) return;
    KfHeader3ds* record = FindOrAddKfHeader3ds(ctx, kfData);
    if (!record) return;
    record->length = sets->anim;
    Chunk3ds* current = nullptr;
    ReplaceOrAddChild3ds(ctx, kfData, 0xB009, &current);
    if (ctx.ErrorPending()) return;
    *NewChunkData3ds<uint32_t>(current) = sets->current;
    Chunk3ds* segment = FindNextChunk3ds(kfData->child, 0xB008);
    if (sets->segmentUsed) {
        ReplaceOrAddChild3ds(ctx, kfData, 0xB008, &segment);
        if (ctx.ErrorPending()) return;
        Segment3ds* value = NewChunkData3ds<Segment3ds>(segment);
        value->start = sets->segmentStart;
        value->end = sets->segmentEnd;
    } else if (segment) {
        ReleaseChunk3ds(segment);  // an emptied chunk is not written
    }
}

void GetKfSets3ds(Context3ds& ctx, Database3ds* database, KfSets3ds** sets) {
    if (!sets) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!CheckDatabase3ds(ctx, database, 0x4D4D, 0xC23D)) return;
    Chunk3ds* kfData = FindNextChunk3ds(database->topChunk->child, 0xB000);
    KfHeader3ds header;
    if (!kfData || !ReadChildValue3ds(ctx, kfData->child, 0xB00A, header)) return;
    InitKfSets3ds(ctx, sets);
    KfSets3ds* s = *sets;
    s->anim = header.length;
    ReadChildValue3ds(ctx, kfData->child, 0xB009, s->current);
    Segment3ds segment;
    s->segmentUsed = ReadChildValue3ds(ctx, kfData->child, 0xB008, segment);
    if (s->segmentUsed) {
        s->segmentStart = segment.start;
        s->segmentEnd = segment.end;
    }
}

KfHeader3ds* FindOrAddKfHeader3ds(Context3ds& ctx, Chunk3ds* kfData) {
    Chunk3ds* header = FindNextChunk3ds(kfData->child, 0xB00A);
    KfHeader3ds* record = header ? ReadChunkDataAs3ds<KfHeader3ds>(ctx, header) : nullptr;
    if (ctx.ErrorPending()) return nullptr;
    if (!record) {
        ReplaceOrAddChild3ds(ctx, kfData, 0xB00A, &header);
        if (ctx.ErrorPending()) return nullptr;
        record = NewChunkData3ds<KfHeader3ds>(header);
        record->revision = 5;
        record->length = 30;
    }
    header->fileSlot = kNoSlot3ds;  // to be changed: the file no longer holds it
    return record;
}

int GetNodeId3ds(Context3ds& ctx, Chunk3ds* node) {
    Chunk3ds* idChunk = FindChunk3ds(node, 0xB030);
    uint16_t* id = idChunk ? ReadChunkDataAs3ds<uint16_t>(ctx, idChunk) : nullptr;
    return id ? int(int16_t(*id)) : -1;
}

namespace {

// The key-frame nodes, numbered in file order when any lacks an id, and the entry of each
// one's parent (the first node of its id), null for none.
bool ListParents(Context3ds& ctx, Database3ds* database, std::vector<NodeIdEntry3ds>& list,
                 std::vector<const NodeIdEntry3ds*>& parents) {
    if (!database) {
        PushError3ds(ctx, ERR_INVALID_ARG);
        return false;
    }
    Chunk3ds* kfData = FindChunk3ds(database->topChunk, 0xB000);
    if (!kfData) return false;
    for (Chunk3ds* node = kfData->child; node; node = node->next) {
        if (IsKeyframeNodeTag(node->tag)) AddNodeIdEntry(ctx, node, list);
        if (ctx.ErrorPending()) return false;
    }
    bool unnumbered = false;
    for (const NodeIdEntry3ds& entry : list) unnumbered |= entry.id == -1;
    if (unnumbered) {
        for (size_t i = 0; i < list.size(); ++i) list[i].id = int(i);
    }
    std::unordered_map<int, const NodeIdEntry3ds*> byId;  // the first entry of each id
    for (const NodeIdEntry3ds& entry : list) byId.emplace(entry.id, &entry);
    for (const NodeIdEntry3ds& entry : list) {
        auto found = entry.parent == -1 ? byId.end() : byId.find(entry.parent);
        parents.push_back(found == byId.end() ? nullptr : found->second);
    }
    return true;
}

}  // namespace

void ParentIdsToNames3ds(Context3ds& ctx, Database3ds* database) {
    std::vector<NodeIdEntry3ds> list;
    std::vector<const NodeIdEntry3ds*> parents;
    if (!ListParents(ctx, database, list, parents)) return;
    for (uint32_t tag : kNodeTags) {
        for (size_t i = 0; i < list.size(); ++i) {
            const NodeIdEntry3ds& entry = list[i];
            const NodeIdEntry3ds* parent = parents[i];
            if (entry.tag != tag || !parent) continue;
            std::string text = parent->name;
            if (!parent->instance.empty()) text += "." + parent->instance;
            Chunk3ds* header = FindNextChunk3ds(entry.node->child, 0xB010);
            Chunk3ds* nameChunk = FindNextChunk3ds(header->child, 0x80F0);
            if (nameChunk)
                NewChunkData3ds<Text3ds<0>>(nameChunk)->text = text;
            else
                AddParentName3ds(ctx, header, text);
            if (ctx.ErrorPending()) return;
        }
    }
}

std::unordered_map<const Chunk3ds*, const Chunk3ds*> GetParentNodes3ds(Context3ds& ctx,
                                                                       Database3ds* database) {
    std::vector<NodeIdEntry3ds> list;
    std::vector<const NodeIdEntry3ds*> parents;
    std::unordered_map<const Chunk3ds*, const Chunk3ds*> found;
    if (!ListParents(ctx, database, list, parents)) return found;
    for (size_t i = 0; i < list.size(); ++i)
        if (parents[i]) found.emplace(list[i].node, parents[i]->node);
    return found;
}

void ParentNamesToIds3ds(Context3ds& ctx, Database3ds* database) {
    if (!database) return PushError3ds(ctx, ERR_INVALID_ARG);
    Chunk3ds* kfData = FindChunk3ds(database->topChunk, 0xB000);
    if (!kfData) return;
    std::vector<NodeIdEntry3ds> list;
    int n = 0;
    for (Chunk3ds* node = kfData->child; node; node = node->next) {
        if (node->tag == 0xB001) {
            SetNodeId(ctx, node, -1);
        } else if (IsKeyframeNodeTag(node->tag)) {
            SetNodeId(ctx, node, n);
            AddNodeIdEntry(ctx, node, list);
            ++n;
        }
        if (ctx.ErrorPending()) return;
    }
    // A camera or spotlight shares its name with its target node: a child named by it hangs
    // on the camera or light, as the reader links it.
    NodeNames3ds names;
    for (bool targets : {false, true})
        for (const NodeIdEntry3ds& entry : list)
            if (IsTargetTag(entry.tag) == targets)
                names.emplace(std::make_pair(entry.name, entry.instance), &entry);
    for (Chunk3ds* node = kfData->child; node; node = node->next) {
        if (!IsKeyframeNodeTag(node->tag)) continue;
        Chunk3ds* headerChunk = nullptr;
        NodeHeader3ds* header = HeaderOf(ctx, node, &headerChunk);
        if (ctx.ErrorPending()) return;
        if (!header) continue;
        Chunk3ds* nameChunk = FindNextChunk3ds(headerChunk->child, 0x80F0);
        auto* text = PayloadAs3ds<Text3ds<0>>(nameChunk);
        const NodeIdEntry3ds* parent = text ? FindNodeIdEntry(names, text->text) : nullptr;
        header->parent = int16_t(parent ? parent->id : -1);
    }
}

void FindOrAddKfData3ds(Context3ds& ctx, Chunk3ds* top, Chunk3ds** kfData) {
    if (!top || !kfData) return PushError3ds(ctx, ERR_INVALID_ARG);
    *kfData = FindNextChunk3ds(top->child, 0xB000);
    if (!*kfData) *kfData = AddEmptyChunk3ds(ctx, 0xB000, top);
}

void AddNodeIdChunk3ds(Context3ds& ctx, Chunk3ds* node) {
    AddValueChunk3ds<uint16_t>(ctx, node, 0xB030, 0xFFFF);
}

void AddNodeHeader3ds(Context3ds& ctx, const std::string& name, uint16_t flags1, uint16_t flags2,
                      const std::string& parentName, Chunk3ds* node) {
    HeldChunk3ds held;
    NodeHeader3ds* header = InitChunkAndData3ds<NodeHeader3ds>(ctx, held.Slot(), 0xB010);
    if (!header) return;
    header->name = name;
    header->flags1 = flags1;
    header->flags2 = flags2;
    header->parent = -1;
    Chunk3ds* chunk = AdoptChild3ds(ctx, node, held);
    if (chunk && !parentName.empty() && !ctx.ErrorPending())
        AddParentName3ds(ctx, chunk, parentName);
}

void AddParentName3ds(Context3ds& ctx, Chunk3ds* chunk, const std::string& text) {
    HeldChunk3ds nameChunk;
    Text3ds<0>* record = InitChunkAndData3ds<Text3ds<0>>(ctx, nameChunk.Slot(), 0x80F0);
    if (!record) return;
    record->text = text;
    AdoptChild3ds(ctx, chunk, nameChunk);
}

std::string GetParentName3ds(Context3ds&, Chunk3ds* chunk) {
    auto* text = PayloadAs3ds<Text3ds<0>>(FindChunk3ds(chunk, 0x80F0));
    return text ? text->text : std::string();
}

void AddPosTrack3ds(Context3ds& ctx, const Track3ds<Point3ds>& track, Chunk3ds* node) {
    AddTrack3ds(ctx, 0xB020, track, node);
}

void AddColorTrack3ds(Context3ds& ctx, const Track3ds<Point3ds>& track, Chunk3ds* node) {
    AddTrack3ds(ctx, 0xB025, track, node);
}

void AddRollTrack3ds(Context3ds& ctx, const Track3ds<float>& track, Chunk3ds* node) {
    AddTrack3ds(ctx, 0xB024, track, node);
}

Chunk3ds* AddTargetNode3ds(Context3ds& ctx, Chunk3ds* kfData, bool cameraTarget,
                           const std::string& name, uint16_t flags1, uint16_t flags2,
                           const std::string& parentName, const Track3ds<Point3ds>& track) {
    Chunk3ds* node = AddEmptyChunk3ds(ctx, cameraTarget ? 0xB004 : 0xB006, kfData);
    if (!node) return nullptr;
    AddNodeIdChunk3ds(ctx, node);
    if (!ctx.ErrorPending()) AddNodeHeader3ds(ctx, name, flags1, flags2, parentName, node);
    if (!ctx.ErrorPending()) AddPosTrack3ds(ctx, track, node);
    return node;
}

Chunk3ds* FindNodeChunkByName3ds(Context3ds& ctx, Database3ds* database, const std::string& name,
                                 uint32_t tag, const std::string& instance) {
    if (!database) {
        PushError3ds(ctx, ERR_INVALID_ARG);
        return nullptr;
    }
    NodeHeaderNames3ds& names = database->headerNames;
    if (!names.made) {
        names.entries.clear();
        names.kfData = FindChunk3ds(database->topChunk, 0xB000);
        for (Chunk3ds* node = names.kfData ? names.kfData->child : nullptr; node;
             node = node->next) {
            NodeHeader3ds* header = HeaderOf(ctx, node);
            if (ctx.ErrorPending()) return nullptr;
            if (!header) continue;
            const std::string instance = InstanceOf(ctx, node);
            if (ctx.ErrorPending()) return nullptr;
            NodeHeaderNames3ds::Entry& entry =
                names.entries[NodeHeaderNames3ds::Key(node->tag, header->name, instance)];
            if (entry.count++ == 0) entry.first = node;
        }
        names.made = true;
    }
    const auto found = names.entries.find(NodeHeaderNames3ds::Key(tag, name, instance));
    return found == names.entries.end() ? nullptr : found->second.first;
}

size_t CountNodesOfTag3ds(Context3ds& ctx, Database3ds* database, uint32_t tag) {
    if (!database) {
        PushError3ds(ctx, ERR_INVALID_ARG);
        return 0;
    }
    UpdateNodeIndex3ds(ctx, database);
    size_t count = 0;
    for (const ChunkListEntry3ds& entry : database->nodeList) count += entry.chunk->tag == tag;
    return count;
}

void GetNodeNameList3ds(Context3ds& ctx, Database3ds* database, uint32_t tag,
                        std::vector<std::string>& names) {
    names.clear();
    if (!database) return PushError3ds(ctx, ERR_INVALID_ARG);
    UpdateNodeIndex3ds(ctx, database);
    for (const ChunkListEntry3ds& entry : database->nodeList)
        if (entry.chunk->tag == tag) names.push_back(entry.name);
}

void CopyXDataSection3ds(Context3ds& ctx, Database3ds* database, uint32_t tag,
                         const std::string& name, Chunk3ds** xdata, const std::string& instance) {
    if (!xdata) return PushError3ds(ctx, ERR_INVALID_ARG);
    *xdata = nullptr;
    Chunk3ds* node = FindNodeChunkByName3ds(ctx, database, name, tag, instance);
    if (!node) return;
    if (Chunk3ds* old = FindChunk3ds(node, 0x8000)) CopyChunk3ds(ctx, old, xdata);
    ReleaseChunk3ds(node);
    database->nodeListDirty = true;
    NoteNodeEmptied3ds(database, tag, name, instance);
}
