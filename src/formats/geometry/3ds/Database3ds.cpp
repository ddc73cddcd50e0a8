#include "formats/geometry/3ds/Database3ds.h"

#include "formats/geometry/3ds/Keyframe3ds.h"

namespace {

bool IsTopTag(uint32_t tag) {
    return tag == 0x4D4D || tag == 0xC23D || tag == 0x3DAA;
}

// Scans the sub-chunks of a chunk whose header is read. Every child must hold a whole
// header and end within its parent, and nesting is capped, so the scan always moves
// forward, never reads into a sibling and ends at the parent's end.
void ScanChildren(Context3ds& ctx, Chunk3ds* parent, bool xdata, int depth) {
    if (depth > kMaxChunkDepth3ds) {
        PushError3ds(ctx, ERR_INVALID_CHUNK);
        PushError3ds(ctx, ERR_READING_DATABASE);
        return;
    }
    int slot = parent->fileSlot;
    uint64_t start = uint64_t(parent->position) + 6;
    uint64_t end = uint64_t(parent->position) + parent->length;
    SetCurrentFileByIndex3ds(ctx, slot);
    CurrentFileSeek3ds(ctx, uint32_t(start));
    ChunkReader3ds reader(ctx, start, end);
    SkipToFirstChild3ds(reader, parent->tag);
    if (ctx.ErrorPending()) return PushError3ds(ctx, ERR_READING_DATABASE);
    Chunk3ds** link = &parent->child;
    while (*link) link = &(*link)->next;
    for (uint64_t at = reader.Position(); at < end;) {
        uint32_t tag = 0, length = 0;
        if (end - at < 6) {
            ctx.NoteChunk(parent->tag, at);
            PushError3ds(ctx, ERR_INVALID_CHUNK);
        } else {
            SetCurrentFileByIndex3ds(ctx, slot);
            CurrentFileSeek3ds(ctx, uint32_t(at));
            ctx.NoteChunk(parent->tag, at);
            ReadHeader3ds(ctx, &tag, &length);
            ctx.NoteChunk(tag, at);
            // Only entries belong in an XDATA section; anything else ends it, whatever
            // its length field holds.
            if (!ctx.ErrorPending() && xdata && (tag < 0x8002 || tag > 0x800F)) return;
            if (!ctx.ErrorPending() && (length < 6 || at + length > end))
                PushError3ds(ctx, ERR_INVALID_CHUNK);
        }
        if (ctx.ErrorPending()) return PushError3ds(ctx, ERR_READING_DATABASE);
        Chunk3ds* chunk = nullptr;
        InitChunkAs3ds(ctx, &chunk, tag);
        if (!chunk) return PushError3ds(ctx, ERR_READING_DATABASE);
        chunk->length = length;
        chunk->position = uint32_t(at);
        chunk->fileSlot = uint8_t(slot);
        // Linked after the last one read: walking the siblings for each would make a
        // chunk of many children take quadratic time.
        *link = chunk;
        link = &chunk->next;
        ScanChildren(ctx, chunk, xdata || tag == 0x8001, depth + 1);
        if (ctx.ErrorPending()) return;
        at += length;
    }
}

Chunk3ds* MeshDataOrLibrary(Database3ds* database) {
    Chunk3ds* data = FindChunk3ds(database->topChunk, 0x3D3D);
    return data ? data : FindChunk3ds(database->topChunk, 0x3DAA);
}

// Index entries for the chain of chunks of a tag that starts with the first one
// found depth-first below `parent`; the name comes from `name`.
template <class NameOf>
void BuildIndex(Context3ds& ctx, Chunk3ds* parent, uint32_t tag,
                std::vector<ChunkListEntry3ds>& index, NameOf name) {
    index.clear();
    if (!parent) return;
    for (Chunk3ds* chunk = FindChunkBelow3ds(parent, tag); chunk;
         chunk = FindNextChunk3ds(chunk->next, tag)) {
        index.push_back({name(chunk), chunk});
        if (ctx.ErrorPending()) return;
    }
}

std::string ChunkText(Context3ds& ctx, Chunk3ds* chunk) {
    if (!chunk) return std::string();
    ReadChunkData3ds(ctx, chunk);
    if (auto* text = PayloadAs3ds<Text3ds<10>>(chunk)) return text->text;
    if (auto* text = PayloadAs3ds<Text3ds<16>>(chunk)) return text->text;
    if (auto* header = PayloadAs3ds<NodeHeader3ds>(chunk)) return header->name;
    return std::string();
}

bool IsNodeTag(uint32_t tag) {
    return tag >= 0xB001 && tag <= 0xB007;
}

// No tree, no index entries, every index marked for rebuilding.
void ClearDatabase(Database3ds* db) {
    DeleteChunkChain3ds(&db->topChunk);
    db->objList.clear(), db->matList.clear(), db->nodeList.clear();
    db->objCursor = db->nodeCursor = IndexCursor3ds();
    db->nodeNames.clear();
    db->nodeRanks.clear();
    db->nodeNamesMade = false;
    db->objNames = NameMap3ds();
    db->matNames = NameMap3ds();
    db->headerNames = NodeHeaderNames3ds();
    db->objListDirty = db->matListDirty = db->nodeListDirty = true;
}

// The name map of an index just rebuilt from the children of `parent`.
void MakeNameMap(const std::vector<ChunkListEntry3ds>& index, Chunk3ds* parent, NameMap3ds& map) {
    map.first.clear();
    for (const ChunkListEntry3ds& entry : index) map.first.emplace(entry.name, entry.chunk);
    map.valid = true;
    map.parent = parent;
    // A new child of the parent joins the chain when the chain runs along the parent's own
    // children (or there is none yet).
    map.extendable = index.empty();
    for (Chunk3ds* c = parent ? parent->child : nullptr; c && !map.extendable; c = c->next)
        map.extendable = c == index.front().chunk;
}

void NoteAdded(NameMap3ds& map, Chunk3ds* parent, const std::string& name, Chunk3ds* chunk) {
    if (map.valid && map.extendable && map.parent == parent)
        map.first.emplace(name, chunk);
    else
        map.valid = false;
}

}  // namespace

bool CheckDatabase3ds(Context3ds& ctx, const Database3ds* database, uint32_t tag1, uint32_t tag2,
                      uint32_t tag3) {
    if (!database) {
        PushError3ds(ctx, ERR_INVALID_ARG);
        return false;
    }
    if (!database->topChunk) {
        PushError3ds(ctx, ERR_INVALID_DATABASE);
        return false;
    }
    uint32_t tag = database->topChunk->tag;
    if (tag != tag1 && (tag2 == 0 || tag != tag2) && (tag3 == 0 || tag != tag3)) {
        PushError3ds(ctx, ERR_WRONG_DATABASE);
        return false;
    }
    return true;
}

void InitDatabase3ds(Context3ds& ctx, Database3ds** database) {
    if (!database) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (*database) return ClearDatabase(*database);
    *database = new (std::nothrow) Database3ds;
    if (!*database) PushError3ds(ctx, ERR_NO_MEM);
}

void ReleaseDatabase3ds(Context3ds&, Database3ds** database) {
    if (!database) return;
    delete *database;
    *database = nullptr;
}

DatabaseType3ds GetDatabaseType3ds(const Database3ds* database) {
    if (!database || !database->topChunk) return kUnknownDb3ds;
    switch (database->topChunk->tag) {
        case 0x4D4D:
            return kMeshFile3ds;
        case 0xC23D:
            return kProjectFile3ds;
        case 0x3DAA:
            return kMaterialFile3ds;
        default:
            return kUnknownDb3ds;
    }
}

void CreateNewDatabase3ds(Context3ds& ctx, Database3ds* database, DatabaseType3ds type) {
    if (!database) return PushError3ds(ctx, ERR_INVALID_ARG);
    ClearDatabase(database);
    uint32_t tag = type == kMeshFile3ds       ? 0x4D4D
                   : type == kProjectFile3ds  ? 0xC23D
                   : type == kMaterialFile3ds ? 0x3DAA
                                              : 0;
    InitChunkAs3ds(ctx, &database->topChunk, tag);
    if (ctx.ErrorPending()) return PushError3ds(ctx, ERR_CREATING_DATABASE);
    SetDatabaseVersion3ds(ctx, database, 2);
}

void ReadChunkTree3ds(Context3ds& ctx, Chunk3ds* chunk) {
    if (!chunk) return PushError3ds(ctx, ERR_INVALID_ARG);
    ScanChildren(ctx, chunk, false, 0);
}

void ReadXDataEntries3ds(Context3ds& ctx, Chunk3ds* chunk) {
    if (!chunk) return PushError3ds(ctx, ERR_INVALID_ARG);
    ScanChildren(ctx, chunk, true, 0);
}

void LoadDatabase3ds(Context3ds& ctx, File3ds* file, Database3ds* database) {
    if (!file || !database) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (file->mode != kFileRead3ds) return;
    ClearDatabase(database);
    InitChunk3ds(ctx, &database->topChunk);
    if (ctx.ErrorPending()) return PushError3ds(ctx, ERR_CREATING_DATABASE);
    Chunk3ds* top = database->topChunk;
    top->fileSlot = file->slot;
    uint64_t size = GetFileSize3ds(ctx, file->slot);
    SetCurrentFile3ds(ctx, file);
    CurrentFileSeek3ds(ctx, 0);
    ctx.NoteChunk(0, 0);
    ReadHeader3ds(ctx, &top->tag, &top->length);
    ctx.NoteChunk(top->tag, 0);
    if (ctx.ErrorPending()) return PushError3ds(ctx, ERR_CREATING_DATABASE);
    // A file that is none of the three kinds is refused rather than read as nothing.
    if (!IsTopTag(top->tag)) {
        PushError3ds(ctx, ERR_WRONG_DATABASE);
        return PushError3ds(ctx, ERR_CREATING_DATABASE);
    }
    if (top->length < 6 || top->length > size) {
        PushError3ds(ctx, ERR_INVALID_CHUNK);
        return PushError3ds(ctx, ERR_CREATING_DATABASE);
    }
    ReadChunkTree3ds(ctx, top);
    if (!ctx.ErrorPending()) ParentIdsToNames3ds(ctx, database);
    if (ctx.ErrorPending()) PushError3ds(ctx, ERR_CREATING_DATABASE);
}

namespace {

// The bytes of a chunk made in memory and of everything below it, each length as written;
// false when some chunk below still has its payload in a file (its bytes are then the file's
// business). Chunks of tag 0 and parent names are left out, as when written to the file.
bool SerializeInMemory(Context3ds& ctx, Chunk3ds* chunk, std::vector<uint8_t>& out,
                       std::vector<std::pair<Chunk3ds*, uint32_t>>& lengths) {
    if (chunk->tag == 0 || chunk->tag == 0x80F0) return true;
    if (chunk->fileSlot != kNoSlot3ds) return false;
    const size_t start = out.size();
    {
        ChunkWriter3ds writer(ctx, out);
        writer.Value(uint16_t(chunk->tag)), writer.Value(chunk->length);
        if (chunk->data) {
            chunk->data->Write(writer);
            writer.Rest(chunk->data->tail);
        }
    }
    if (ctx.ErrorPending()) return true;
    for (Chunk3ds* child = chunk->child; child; child = child->next) {
        if (!SerializeInMemory(ctx, child, out, lengths)) return false;
        if (ctx.ErrorPending()) return true;
    }
    const uint32_t length = uint32_t(out.size() - start);
    for (int i = 0; i < 4; ++i) out[start + 2 + size_t(i)] = uint8_t(length >> (8 * i));
    lengths.emplace_back(chunk, length);
    return true;
}

}  // namespace

void WriteChunkTree3ds(Context3ds& ctx, Chunk3ds* chunk, int outputSlot) {
    if (!chunk) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (chunk->tag == 0 || chunk->tag == 0x80F0) return;
    // A tree made in memory is laid out in memory and written at once: its lengths need no
    // seek back into the file, which would flush the stream once per chunk.
    if (chunk->fileSlot == kNoSlot3ds) {
        std::vector<uint8_t> bytes;
        std::vector<std::pair<Chunk3ds*, uint32_t>> lengths;
        if (SerializeInMemory(ctx, chunk, bytes, lengths)) {
            if (ctx.ErrorPending()) return;
            SetCurrentFileByIndex3ds(ctx, outputSlot);
            ChunkWriter3ds writer(ctx);
            writer.Bytes(bytes.data(), bytes.size());
            if (ctx.ErrorPending()) return;
            for (const auto& [written, length] : lengths) {
                written->outputSlot = uint8_t(outputSlot);
                written->length = length;
            }
            return;
        }
    }
    SetCurrentFileByIndex3ds(ctx, outputSlot);
    chunk->outputSlot = uint8_t(outputSlot);
    uint32_t start = CurrentFileTell3ds(ctx);
    ReadChunkData3ds(ctx, chunk);
    if (ctx.ErrorPending()) return;
    SetCurrentFileByIndex3ds(ctx, outputSlot);
    CurrentFileSeek3ds(ctx, start);
    WriteHeader3ds(ctx, chunk->tag, chunk->length);
    WriteChunkData3ds(ctx, chunk);
    for (Chunk3ds* child = chunk->child; child && !ctx.ErrorPending(); child = child->next)
        WriteChunkTree3ds(ctx, child, outputSlot);
    if (ctx.ErrorPending()) return;
    SetCurrentFileByIndex3ds(ctx, outputSlot);
    uint32_t end = CurrentFileTell3ds(ctx);
    if (end - start != chunk->length) {
        FinishHeader3ds(ctx, start, end);
        chunk->length = end - start;
    }
    DisposeChunkData3ds(ctx, chunk);
}

void SaveDatabase3ds(Context3ds& ctx, File3ds* file, Database3ds* database) {
    if (!file || !database) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!database->topChunk)
        PushError3ds(ctx, ERR_INVALID_DATABASE);
    else
        SetDatabaseVersion3ds(ctx, database, 2);
    if (file->mode == kFileWrite3ds && !ctx.ErrorPending()) {
        ParentNamesToIds3ds(ctx, database);
        if (!ctx.ErrorPending()) {
            SetCurrentFile3ds(ctx, file);
            CurrentFileSeek3ds(ctx, 0);
            database->topChunk->outputSlot = file->slot;
            WriteChunkTree3ds(ctx, database->topChunk, file->slot);
        }
        // A failed flush inside a seek drops its bytes without a word: the stream's error
        // flag is what tells.
        if (!ctx.ErrorPending()) {
            const bool flushed = fflush(file->stream) == 0;
            // Why it failed, for the message of the write.
            if (!flushed && file->stream == file->replace.GetFile())
                file->replace.NoteWriteError();
            if (!flushed || ferror(file->stream)) PushError3ds(ctx, ERR_WRITING_FILE);
        }
    }
    // Whatever failed, the file is not what the caller meant to write: an original it
    // displaced comes back when the files are closed.
    if (file->mode == kFileWrite3ds) MarkWriteFailed3ds(ctx, file, ctx.ErrorPending());
    if (ctx.ErrorPending()) PushError3ds(ctx, ERR_WRITING_DATABASE);
}

void SetDatabaseVersion3ds(Context3ds& ctx, Database3ds* database, int code) {
    if (!database || !database->topChunk) return PushError3ds(ctx, ERR_INVALID_DATA);
    if (code < 0 || code > 3) return PushError3ds(ctx, ERR_INVALID_ARG);
    Chunk3ds* top = database->topChunk;
    if (top->tag == 0x4D4D) {
        Chunk3ds* version = FindNextChunk3ds(top->child, 0x0002);
        if (!version || ReadChunkDataAs3ds<uint32_t>(ctx, version) == nullptr ||
            *PayloadAs3ds<uint32_t>(version) != uint32_t(code + 1)) {
            ReplaceOrAddChild3ds(ctx, top, 0x0002, &version);
            if (ctx.ErrorPending()) return;
            *NewChunkData3ds<uint32_t>(version) = uint32_t(code + 1);
        }
    }
    if (top->tag != 0x4D4D && top->tag != 0xC23D) return;
    Chunk3ds* meshData = FindOrAddMeshData3ds(ctx, database);
    if (ctx.ErrorPending()) return;
    Chunk3ds* meshVersion = FindNextChunk3ds(meshData->child, 0x3D3E);
    if (!meshVersion || ReadChunkDataAs3ds<uint32_t>(ctx, meshVersion) == nullptr ||
        *PayloadAs3ds<uint32_t>(meshVersion) != uint32_t(code + 1)) {
        ReplaceOrAddChild3ds(ctx, meshData, 0x3D3E, &meshVersion);
        if (ctx.ErrorPending()) return;
        *NewChunkData3ds<uint32_t>(meshVersion) = uint32_t(code + 1);
    }
    Chunk3ds* kfData = nullptr;
    FindOrAddKfData3ds(ctx, top, &kfData);
    if (ctx.ErrorPending()) return;
    static const uint16_t kRevisions[4] = {1, 2, 5, 6};
    if (KfHeader3ds* record = FindOrAddKfHeader3ds(ctx, kfData))
        record->revision = kRevisions[code];
}

void DirtyNamedObjectIndex3ds(Database3ds* database) {
    if (!database) return;
    database->objListDirty = true;
    database->objNames.valid = false;
}
void DirtyMaterialIndex3ds(Database3ds* database) {
    if (!database) return;
    database->matListDirty = true;
    database->matNames.valid = false;
}
void DirtyNodeIndex3ds(Database3ds* database) {
    if (!database) return;
    database->nodeListDirty = true;
    database->headerNames.made = false;
}

void NoteNamedObjectAdded3ds(Database3ds* database, Chunk3ds* parent, const std::string& name,
                             Chunk3ds* chunk) {
    database->objListDirty = true;
    NoteAdded(database->objNames, parent, name, chunk);
}

void NoteMaterialAdded3ds(Database3ds* database, Chunk3ds* parent, const std::string& name,
                          Chunk3ds* chunk) {
    database->matListDirty = true;
    NoteAdded(database->matNames, parent, name, chunk);
}

void NoteNodeEmptied3ds(Database3ds* database, uint32_t tag, const std::string& name,
                        const std::string& instance) {
    NodeHeaderNames3ds& names = database->headerNames;
    const auto found = names.entries.find(NodeHeaderNames3ds::Key(tag, name, instance));
    // The next one of the name is not known without a walk: the map is made again.
    if (!names.made || found == names.entries.end() || found->second.count > 1)
        names.made = false;
    else
        names.entries.erase(found);
}

void NoteNodeAdded3ds(Database3ds* database, Chunk3ds* kfData, uint32_t tag,
                      const std::string& name, const std::string& instance, Chunk3ds* node) {
    database->nodeListDirty = true;
    NodeHeaderNames3ds& names = database->headerNames;
    if (!names.made || names.kfData != kfData) {
        names.made = false;
        return;
    }
    // The only node of its name is the first; with others its place among them would need a
    // walk.
    NodeHeaderNames3ds::Entry& entry = names.entries[NodeHeaderNames3ds::Key(tag, name, instance)];
    if (++entry.count == 1)
        entry.first = node;
    else
        names.made = false;
}

void UpdateNamedObjectIndex3ds(Context3ds& ctx, Database3ds* database) {
    if (!database) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!database->objListDirty) return;
    database->objListDirty = false;
    database->objCursor = IndexCursor3ds();
    Chunk3ds* parent = FindChunk3ds(database->topChunk, 0x3D3D);
    BuildIndex(ctx, parent, 0x4000, database->objList,
               [&](Chunk3ds* chunk) { return ChunkText(ctx, chunk); });
    MakeNameMap(database->objList, parent, database->objNames);
}

void UpdateMaterialIndex3ds(Context3ds& ctx, Database3ds* database) {
    if (!database) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!database->matListDirty) return;
    database->matListDirty = false;
    Chunk3ds* parent = MeshDataOrLibrary(database);
    BuildIndex(ctx, parent, 0xAFFF, database->matList,
               [&](Chunk3ds* chunk) { return ChunkText(ctx, FindChunk3ds(chunk, 0xA000)); });
    MakeNameMap(database->matList, parent, database->matNames);
}

void UpdateNodeIndex3ds(Context3ds& ctx, Database3ds* database) {
    if (!database) return PushError3ds(ctx, ERR_INVALID_ARG);
    if (!database->nodeListDirty) return;
    database->nodeList.clear();
    database->nodeCursor = IndexCursor3ds();
    database->nodeNames.clear();
    database->nodeRanks.clear();
    database->nodeNamesMade = false;
    Chunk3ds* kfData = FindChunk3ds(database->topChunk, 0xB000);
    if (!kfData) return;
    for (Chunk3ds* node = kfData->child; node; node = node->next) {
        if (!IsNodeTag(node->tag)) continue;
        std::string name = ChunkText(ctx, FindNextChunk3ds(node->child, 0xB010));
        Chunk3ds* instance = FindNextChunk3ds(node->child, 0xB011);
        if (node->tag == 0xB002 && instance) name += "." + ChunkText(ctx, instance);
        if (ctx.ErrorPending()) return;
        database->nodeList.push_back({name, node});
    }
    if (!database->nodeList.empty()) database->nodeListDirty = false;
}

void FindNamedObject3ds(Context3ds& ctx, Database3ds* database, const char* name,
                        Chunk3ds** chunk) {
    if (!database || !name || !chunk) return PushError3ds(ctx, ERR_INVALID_ARG);
    *chunk = nullptr;
    if (!database->objNames.valid) UpdateNamedObjectIndex3ds(ctx, database);
    const auto found = database->objNames.first.find(name);
    if (found != database->objNames.first.end()) *chunk = found->second;
}

void FindMaterial3ds(Context3ds& ctx, Database3ds* database, const char* name, Chunk3ds** chunk) {
    if (!name || !chunk) return PushError3ds(ctx, ERR_INVALID_ARG);
    *chunk = nullptr;
    if (!CheckDatabase3ds(ctx, database, 0x3DAA, 0x4D4D, 0xC23D)) return;
    if (!database->matNames.valid) UpdateMaterialIndex3ds(ctx, database);
    const auto found = database->matNames.first.find(name);
    if (found != database->matNames.first.end()) *chunk = found->second;
}

Chunk3ds* GetMaterialChunkByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index) {
    if (!CheckDatabase3ds(ctx, database, 0x3DAA, 0x4D4D, 0xC23D)) return nullptr;
    UpdateMaterialIndex3ds(ctx, database);
    return index < database->matList.size() ? database->matList[index].chunk : nullptr;
}

Chunk3ds* FindNodeByName3ds(Context3ds& ctx, Database3ds* database, const char* name,
                            uint32_t tag) {
    if (!database || !name) {
        PushError3ds(ctx, ERR_INVALID_ARG);
        return nullptr;
    }
    UpdateNodeIndex3ds(ctx, database);
    for (const ChunkListEntry3ds& entry : database->nodeList)
        if (entry.chunk->tag == tag && entry.name == name) return entry.chunk;
    return nullptr;
}

const ChunkListEntry3ds* FindNodeEntryByIndex3ds(Context3ds& ctx, Database3ds* database,
                                                 size_t index, uint32_t tag) {
    if (!database) {
        PushError3ds(ctx, ERR_INVALID_ARG);
        return nullptr;
    }
    UpdateNodeIndex3ds(ctx, database);
    return FindNthEntry3ds(
        database->nodeList, database->nodeCursor, tag, 0, index,
        [tag](const ChunkListEntry3ds& entry) { return entry.chunk->tag == tag; });
}

Chunk3ds* FindNodeByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index, uint32_t tag) {
    const ChunkListEntry3ds* entry = FindNodeEntryByIndex3ds(ctx, database, index, tag);
    return entry ? entry->chunk : nullptr;
}

const std::vector<Chunk3ds*>* FindNodesNamed3ds(Context3ds& ctx, Database3ds* database,
                                                const std::string& name, uint32_t tag,
                                                const Chunk3ds* node, size_t* rank) {
    if (!database) {
        PushError3ds(ctx, ERR_INVALID_ARG);
        return nullptr;
    }
    UpdateNodeIndex3ds(ctx, database);
    if (!database->nodeNamesMade) {
        database->nodeNamesMade = true;
        // Object nodes are indexed with their instance names; the others by the header's.
        for (const ChunkListEntry3ds& entry : database->nodeList) {
            if (entry.chunk->tag != 0xB002 && FindNextChunk3ds(entry.chunk->child, 0xB010)) {
                auto& nodes = database->nodeNames[std::make_pair(entry.chunk->tag, entry.name)];
                database->nodeRanks[entry.chunk] = nodes.size();
                nodes.push_back(entry.chunk);
            }
        }
    }
    if (rank) {
        const auto at = database->nodeRanks.find(node);
        *rank = at == database->nodeRanks.end() ? 0 : at->second;
    }
    auto found = database->nodeNames.find(std::make_pair(tag, name));
    return found == database->nodeNames.end() ? nullptr : &found->second;
}

Chunk3ds* FindOrAddMeshData3ds(Context3ds& ctx, Database3ds* database) {
    Chunk3ds* meshData = FindChunk3ds(database->topChunk, 0x3D3D);
    if (!meshData) meshData = AddEmptyChunk3ds(ctx, 0x3D3D, database->topChunk);
    return meshData;
}

Chunk3ds* ReplaceNamedChunk3ds(Context3ds& ctx, Chunk3ds* parent, Chunk3ds* existing, uint32_t tag,
                               Chunk3ds** xdata) {
    *xdata = nullptr;
    if (existing) {
        if (Chunk3ds* old = FindChunk3ds(existing, 0x8000)) CopyChunk3ds(ctx, old, xdata);
        ReleaseChunk3ds(existing);
        existing->tag = tag;
        return existing;
    }
    return AddEmptyChunk3ds(ctx, tag, parent);
}
