#pragma once
// A 3DS file in memory: the chunk tree of a 3DS file, project file or material
// library, with its name indexes. Loading reads chunk headers only; payloads come
// from the file when asked for.

#include <map>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "formats/geometry/3ds/Chunk3ds.h"

enum DatabaseType3ds {
    kUnknownDb3ds = 0,
    kMeshFile3ds = 1,
    kProjectFile3ds = 2,
    kMaterialFile3ds = 3
};

// Deepest chunk nesting a file may have; real files use fewer than ten levels.
constexpr int kMaxChunkDepth3ds = 64;

struct ChunkListEntry3ds {
    std::string name;
    Chunk3ds* chunk = nullptr;
};

// Where the last by-index lookup of one kind stopped in an index, so reading every object
// or node in turn takes linear time, not quadratic. Cleared when the index is rebuilt.
struct IndexCursor3ds {
    bool valid = false;
    uint32_t tag = 0;
    int kind = 0;
    size_t index = 0, position = 0;
};

// The first chunk of each name in an index's order, kept beside the index: a put of a new
// name extends it, so a long run of puts finds names without rebuilding the whole index.
struct NameMap3ds {
    bool valid = false;
    Chunk3ds* parent = nullptr;  // whose children it was made from; they may extend it
    bool extendable = false;     // the index's chain runs along those children
    std::unordered_map<std::string, Chunk3ds*> first;
};

// Key-frame nodes by tag, node-header name and instance name (object nodes only): the first
// in the key-frame chunk's order and how many there are, for the puts' search of a node to
// replace.
struct NodeHeaderNames3ds {
    using Key = std::tuple<uint32_t, std::string, std::string>;
    bool made = false;
    Chunk3ds* kfData = nullptr;  // the key-frame chunk it was made from
    struct Entry {
        Chunk3ds* first = nullptr;
        size_t count = 0;
    };
    std::map<Key, Entry> entries;
};

struct Database3ds {
    Chunk3ds* topChunk = nullptr;
    bool objListDirty = true, matListDirty = true, nodeListDirty = true;
    std::vector<ChunkListEntry3ds> objList, matList, nodeList;
    NameMap3ds objNames, matNames;
    NodeHeaderNames3ds headerNames;
    IndexCursor3ds objCursor, nodeCursor;
    // The key-frame nodes of each tag and header name in file order, made from the node index.
    std::map<std::pair<uint32_t, std::string>, std::vector<Chunk3ds*>> nodeNames;
    // Where each of them stands among those of its tag and name.
    std::unordered_map<const Chunk3ds*, size_t> nodeRanks;
    bool nodeNamesMade = false;
    Database3ds() = default;
    Database3ds(const Database3ds&) = delete;
    Database3ds& operator=(const Database3ds&) = delete;
    ~Database3ds() { DeleteChunkChain3ds(&topChunk); }
};

void InitDatabase3ds(Context3ds& ctx, Database3ds** database);
void ReleaseDatabase3ds(Context3ds& ctx, Database3ds** database);
void CreateNewDatabase3ds(Context3ds& ctx, Database3ds* database, DatabaseType3ds type);
void LoadDatabase3ds(Context3ds& ctx, File3ds* file, Database3ds* database);
void SaveDatabase3ds(Context3ds& ctx, File3ds* file, Database3ds* database);
DatabaseType3ds GetDatabaseType3ds(const Database3ds* database);
// ERR_INVALID_DATABASE without a top chunk, ERR_WRONG_DATABASE when its tag is none
// of the accepted ones (0 ends the list); true when the database may be used.
bool CheckDatabase3ds(Context3ds& ctx, const Database3ds* database, uint32_t tag1,
                      uint32_t tag2 = 0, uint32_t tag3 = 0);

// Chunk trees.
void ReadChunkTree3ds(Context3ds& ctx, Chunk3ds* chunk);
void ReadXDataEntries3ds(Context3ds& ctx, Chunk3ds* chunk);
void WriteChunkTree3ds(Context3ds& ctx, Chunk3ds* chunk, int outputSlot);

// Name indexes.
void FindNamedObject3ds(Context3ds& ctx, Database3ds* database, const char* name, Chunk3ds** chunk);
void FindMaterial3ds(Context3ds& ctx, Database3ds* database, const char* name, Chunk3ds** chunk);
Chunk3ds* GetMaterialChunkByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index);
Chunk3ds* FindNodeByName3ds(Context3ds& ctx, Database3ds* database, const char* name, uint32_t tag);
Chunk3ds* FindNodeByIndex3ds(Context3ds& ctx, Database3ds* database, size_t index, uint32_t tag);
void DirtyNamedObjectIndex3ds(Database3ds* database);
void DirtyMaterialIndex3ds(Database3ds* database);
void DirtyNodeIndex3ds(Database3ds* database);
void UpdateNamedObjectIndex3ds(Context3ds& ctx, Database3ds* database);
void UpdateMaterialIndex3ds(Context3ds& ctx, Database3ds* database);
void UpdateNodeIndex3ds(Context3ds& ctx, Database3ds* database);
// A put added `chunk`, named `name` (which no object or material had), below `parent`: the
// ordered index is rebuilt when next asked for, the name lookup goes on from where it stands.
void NoteNamedObjectAdded3ds(Database3ds* database, Chunk3ds* parent, const std::string& name,
                             Chunk3ds* chunk);
void NoteMaterialAdded3ds(Database3ds* database, Chunk3ds* parent, const std::string& name,
                          Chunk3ds* chunk);
// A put emptied the first node of a tag, header name and instance name, or added one below
// `kfData`.
void NoteNodeEmptied3ds(Database3ds* database, uint32_t tag, const std::string& name,
                        const std::string& instance);
void NoteNodeAdded3ds(Database3ds* database, Chunk3ds* kfData, uint32_t tag,
                      const std::string& name, const std::string& instance, Chunk3ds* node);

// The entry of an index that is the `index`-th (from 0) accepted by `accepts`, null when
// there are fewer; goes on from the cursor when the same kind of lookup stopped before it.
template <class Accepts>
const ChunkListEntry3ds* FindNthEntry3ds(const std::vector<ChunkListEntry3ds>& list,
                                         IndexCursor3ds& cursor, uint32_t tag, int kind,
                                         size_t index, Accepts accepts) {
    size_t n = 0, at = 0;
    if (cursor.valid && cursor.tag == tag && cursor.kind == kind && cursor.index <= index &&
        cursor.position < list.size()) {
        n = cursor.index;
        at = cursor.position;
    }
    for (; at < list.size(); ++at) {
        if (!accepts(list[at])) continue;
        if (n == index) {
            cursor = {true, tag, kind, index, at};
            return &list[at];
        }
        ++n;
    }
    return nullptr;
}
// The entry of the `index`-th key-frame node of a tag in the node index.
const ChunkListEntry3ds* FindNodeEntryByIndex3ds(Context3ds& ctx, Database3ds* database,
                                                 size_t index, uint32_t tag);
// The key-frame nodes of a tag whose node header holds the name, in file order, by the node
// index; null for none. `rank`, when given, receives where `node` stands among them (0 when
// it is not one of them).
const std::vector<Chunk3ds*>* FindNodesNamed3ds(Context3ds& ctx, Database3ds* database,
                                                const std::string& name, uint32_t tag,
                                                const Chunk3ds* node = nullptr,
                                                size_t* rank = nullptr);

// Version chunks: code 0-3 (release 3 is code 2).
void SetDatabaseVersion3ds(Context3ds& ctx, Database3ds* database, int code);

// Finds the object of a name (a named object or material) and empties it in place,
// keeping a copy of its XDATA chunk (0x8000); else adds a new chunk of the tag in order.
Chunk3ds* ReplaceNamedChunk3ds(Context3ds& ctx, Chunk3ds* parent, Chunk3ds* existing, uint32_t tag,
                               Chunk3ds** xdata);
// The mesh-data chunk below the top chunk, added in order when missing.
Chunk3ds* FindOrAddMeshData3ds(Context3ds& ctx, Database3ds* database);
