#include <gtest/gtest.h>

#include "Test3ds.h"
#include "formats/geometry/3ds/Chunk3ds.h"
#include "formats/geometry/3ds/Keyframe3ds.h"

namespace {

Bytes3ds File(const Bytes3ds& body) {
    return Chunk(0x4D4D, body);
}

std::vector<uint32_t> ChildTags(Chunk3ds* parent) {
    std::vector<uint32_t> tags;
    for (Chunk3ds* c = parent->child; c; c = c->next) tags.push_back(c->tag);
    return tags;
}

// ---- malformed files: a clean error, no hang, no over-read ----

TEST(Chunk3dsScan, ZeroLengthChildIsInvalid) {
    Loaded3ds f(File(Chunk(0x3D3D, Chunk(0x0100, F32(1)) + Chunk(0x0100, {}, 0))));
    EXPECT_TRUE(f.HasError(ERR_INVALID_CHUNK));
    EXPECT_TRUE(f.HasError(ERR_CREATING_DATABASE));
}

TEST(Chunk3dsScan, ChildLongerThanParentIsInvalid) {
    Bytes3ds inner = Chunk(0x0100, F32(1), 40);
    Loaded3ds f(File(Chunk(0x3D3D, inner) + Chunk(0x0002, U32(3))));
    EXPECT_TRUE(f.HasError(ERR_INVALID_CHUNK));
}

TEST(Chunk3dsScan, HeaderCutByParentEndIsInvalid) {
    Loaded3ds f(File(Chunk(0x3D3D, Chunk(0x0100, F32(1)) + Bytes3ds{1, 2, 3})));
    EXPECT_TRUE(f.HasError(ERR_INVALID_CHUNK));
}

TEST(Chunk3dsScan, DeepNestingIsCapped) {
    Bytes3ds body = Chunk(0x0100, F32(1));
    for (int i = 0; i < 1000; ++i) body = Chunk(0x3D3D, body);
    Loaded3ds f(File(body));
    EXPECT_TRUE(f.HasError(ERR_INVALID_CHUNK));
    EXPECT_LE(f.ctx.ErrorCount(), 4);
}

TEST(Chunk3dsScan, NestingWithinTheCapLoads) {
    Bytes3ds body = Chunk(0x0100, F32(1));
    for (int i = 0; i < kMaxChunkDepth3ds - 1; ++i) body = Chunk(0x3D3D, body);
    Loaded3ds f(File(body));
    EXPECT_FALSE(f.ctx.ErrorPending());
}

TEST(Chunk3dsScan, TopChunkLongerThanFileIsInvalid) {
    Loaded3ds f(Chunk(0x4D4D, Chunk(0x0002, U32(3)), 5000));
    EXPECT_TRUE(f.HasError(ERR_INVALID_CHUNK));
}

TEST(Chunk3dsScan, UnknownTopChunkIsRefused) {
    Loaded3ds f(Chunk(0x1234, Chunk(0x0002, U32(3))));
    EXPECT_TRUE(f.HasError(ERR_WRONG_DATABASE));
    EXPECT_EQ(GetDatabaseType3ds(f.db), kUnknownDb3ds);
}

TEST(Chunk3dsScan, HugeKeyCountIsRefusedBeforeAllocating) {
    Bytes3ds track = Chunk(0xB020, U16(0) + U32(0) + U32(0) + U32(0xFFFFFFFFu) + U32(0) + U16(0) +
                                       F32(1) + F32(2) + F32(3));
    Bytes3ds node = Chunk(0xB002, Chunk(0xB010, Str("Box") + U16(0) + U16(0) + U16(0xFFFF)) +
                                      Chunk(0xB030, U16(0)) + track);
    Loaded3ds f(File(Chunk(0xB000, node)));
    ASSERT_FALSE(f.ctx.ErrorPending());
    Chunk3ds* chunk = FindChunk3ds(f.db->topChunk, 0xB020);
    ASSERT_NE(chunk, nullptr);
    EXPECT_EQ(ReadChunkDataAs3ds<Track3ds<Point3ds>>(f.ctx, chunk)->keys.size(), 0u);
    EXPECT_TRUE(f.HasError(ERR_INVALID_CHUNK));
}

TEST(Chunk3dsScan, ListCountsAreCheckedAgainstTheChunk) {
    for (uint16_t tag : {0x4110, 0x4111, 0x4140}) {
        Bytes3ds mesh = Chunk(0x4000, Str("m") + Chunk(0x4100, Chunk(tag, U16(0xFFFF) + U32(0))));
        Loaded3ds f(File(Chunk(0x3D3D, mesh)));
        ASSERT_FALSE(f.ctx.ErrorPending());
        ReadChunkData3ds(f.ctx, FindChunk3ds(f.db->topChunk, tag));
        EXPECT_TRUE(f.HasError(ERR_INVALID_CHUNK)) << tag;
    }
    // A face count that runs past the face chunk stops the scan itself.
    Bytes3ds mesh = Chunk(0x4000, Str("m") + Chunk(0x4100, Chunk(0x4120, U16(100) + U32(0))));
    Loaded3ds f(File(Chunk(0x3D3D, mesh)));
    EXPECT_TRUE(f.HasError(ERR_INVALID_CHUNK));
}

TEST(Chunk3dsScan, TextsAreBoundedByTheirSizeAndTheChunk) {
    // An object name without a terminator before its chunk's end.
    Bytes3ds name = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L'};
    Loaded3ds a(File(Chunk(0x3D3D, Chunk(0x4000, name))));
    EXPECT_TRUE(a.ctx.ErrorPending());
    EXPECT_TRUE(a.HasError(ERR_READING_DATABASE));
    // A morph key name that reaches the chunk's end without a terminator.
    Bytes3ds track = Chunk(
        0xB026, U16(0) + U32(0) + U32(0) + U32(1) + U32(0) + U16(0) + Bytes3ds{'a', 'b', 'c'});
    Loaded3ds b(File(Chunk(0xB000, Chunk(0xB002, track))));
    ASSERT_FALSE(b.ctx.ErrorPending());
    ReadChunkData3ds(b.ctx, FindChunk3ds(b.db->topChunk, 0xB026));
    EXPECT_TRUE(b.HasError(ERR_INVALID_CHUNK));
    // Within 13 bytes and the chunk's end it reads.
    Bytes3ds good =
        Chunk(0xB026, U16(0) + U32(0) + U32(0) + U32(1) + U32(4) + U16(0) + Str("Morph_Target"));
    Loaded3ds c(File(Chunk(0xB000, Chunk(0xB002, good))));
    auto* morph =
        ReadChunkDataAs3ds<Track3ds<MorphName3ds>>(c.ctx, FindChunk3ds(c.db->topChunk, 0xB026));
    ASSERT_NE(morph, nullptr);
    EXPECT_EQ(morph->values[0].name, "Morph_Target");
    EXPECT_EQ(morph->keys[0].time, 4u);
}

TEST(Chunk3dsScan, NamesLongerThanTheFormatsLimitStillRead) {
    // Other programs write object, node, material and map names longer than 10 or 16
    // characters; they read whole and the file saves unchanged.
    Bytes3ds mesh =
        Chunk(0x4000, Str("A_Long_Object_Name") +
                          Chunk(0x4100, Chunk(0x4110, U16(1) + F32(1) + F32(2) + F32(3))));
    Bytes3ds material =
        Chunk(0xAFFF, Chunk(0xA000, Str("A_Rather_Long_Material")) +
                          Chunk(0xA200, Chunk(0xA300, Str("textures/bricks_diffuse.png"))));
    Bytes3ds node =
        Chunk(0xB002, Chunk(0xB030, U16(0)) +
                          Chunk(0xB010, Str("A_Long_Object_Name") + U16(0) + U16(0) + U16(0xFFFF)) +
                          Chunk(0xB011, Str("instance_name_01")));
    Bytes3ds bytes =
        File(Chunk(0x0002, U32(3)) + Chunk(0x3D3D, Chunk(0x3D3E, U32(3)) + material + mesh) +
             Chunk(0xB000, Chunk(0xB00A, U16(5) + Str("") + U32(30)) + node));
    Loaded3ds f(bytes);
    ASSERT_FALSE(f.ctx.ErrorPending()) << f.ctx.ErrorAt(0).message;
    Chunk3ds* object = nullptr;
    FindNamedObject3ds(f.ctx, f.db, "A_Long_Object_Name", &object);
    EXPECT_NE(object, nullptr);
    Chunk3ds* entry = nullptr;
    FindMaterial3ds(f.ctx, f.db, "A_Rather_Long_Material", &entry);
    EXPECT_NE(entry, nullptr);
    EXPECT_NE(FindNodeByName3ds(f.ctx, f.db, "A_Long_Object_Name.instance_name_01", 0xB002),
              nullptr);
    auto* map = ReadChunkDataAs3ds<Text3ds<16>>(f.ctx, FindChunk3ds(f.db->topChunk, 0xA300));
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->text, "textures/bricks_diffuse.png");
    EXPECT_FALSE(f.ctx.ErrorPending()) << f.ctx.ErrorAt(0).message;
    EXPECT_EQ(f.Save(), bytes);
    EXPECT_FALSE(f.ctx.ErrorPending()) << f.ctx.ErrorAt(0).message;
}

TEST(Chunk3dsScan, XDataSectionEndsAtANonEntryWhateverItsLength) {
    // The bytes after the entries are not chunks: a tag outside the entries ends the
    // section, its length field is not looked at.
    Bytes3ds section = Chunk(0x8001, Chunk(0x8002, Str("app")) + U16(0x1234) + U32(0xFFFFFF));
    Loaded3ds f(File(Chunk(0x8000, section) + Chunk(0x0002, U32(3))));
    ASSERT_FALSE(f.ctx.ErrorPending()) << f.ctx.ErrorAt(0).message;
    EXPECT_EQ(ChildTags(FindChunk3ds(f.db->topChunk, 0x8001)), (std::vector<uint32_t>{0x8002}));
    EXPECT_NE(FindChunk3ds(f.db->topChunk, 0x0002), nullptr);
}

// ---- payload forms ----

TEST(Chunk3dsPayload, SmoothingCountComesFromTheLength) {
    Bytes3ds faces = Chunk(0x4120, U16(0) + Chunk(0x4150, U32(1) + U32(2) + U32(3) + U16(7)));
    Loaded3ds f(File(Chunk(0x3D3D, Chunk(0x4000, Str("m") + Chunk(0x4100, faces)))));
    auto* smooth = ReadChunkDataAs3ds<Smoothing3ds>(f.ctx, FindChunk3ds(f.db->topChunk, 0x4150));
    ASSERT_NE(smooth, nullptr);
    EXPECT_EQ(smooth->masks, (std::vector<uint32_t>{1, 2, 3}));
}

TEST(Chunk3dsPayload, UnknownTagsHoldTheirBytes) {
    Loaded3ds f(File(Chunk(0x7777, {}) + Chunk(0x7778, U32(0xDEADBEEF))));
    ASSERT_FALSE(f.ctx.ErrorPending());
    Chunk3ds* empty = FindChunk3ds(f.db->topChunk, 0x7777);
    EXPECT_EQ(ReadChunkData3ds(f.ctx, empty), nullptr);
    auto* raw = ReadChunkDataAs3ds<Raw3ds>(f.ctx, FindChunk3ds(f.db->topChunk, 0x7778));
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->bytes, (Bytes3ds{0xEF, 0xBE, 0xAD, 0xDE}));
}

TEST(Chunk3dsPayload, ViewChunksKeepTheirFileOrder) {
    Bytes3ds view = Chunk(0x3010, F32(5) + F32(1) + F32(2) + F32(3));
    Bytes3ds camera = Chunk(0x3070, F32(1) + F32(2) + F32(3) + F32(4) + F32(7) + F32(8) + F32(9));
    Bytes3ds bytes = File(Chunk(0x3D3D, Chunk(0x3000, view + camera)));
    Loaded3ds f(bytes);
    auto* v = ReadChunkDataAs3ds<View3ds>(f.ctx, FindChunk3ds(f.db->topChunk, 0x3010));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->width, 5.0f);
    EXPECT_EQ(v->target.z, 3.0f);
    auto* c = ReadChunkDataAs3ds<ViewCamera3ds>(f.ctx, FindChunk3ds(f.db->topChunk, 0x3070));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->v[3], 4.0f);
    EXPECT_EQ(c->target.x, 7.0f);
}

TEST(Chunk3dsPayload, KeyHeaderHoldsOnlyTheFlaggedFloats) {
    Bytes3ds track = Chunk(0xB024, U16(0) + U32(0) + U32(0) + U32(1) + U32(9) + U16(5) + F32(0.5f) +
                                       F32(0.25f) + F32(30));
    Loaded3ds f(File(Chunk(0xB000, Chunk(0xB003, track))));
    auto* roll = ReadChunkDataAs3ds<Track3ds<float>>(f.ctx, FindChunk3ds(f.db->topChunk, 0xB024));
    ASSERT_NE(roll, nullptr);
    ASSERT_EQ(roll->keys.size(), 1u);
    EXPECT_EQ(roll->keys[0].tension, 0.5f);
    EXPECT_EQ(roll->keys[0].continuity, 0.0f);
    EXPECT_EQ(roll->keys[0].bias, 0.25f);
    EXPECT_EQ(roll->values[0], 30.0f);
}

TEST(Chunk3dsPayload, FixedTextFieldConsumesItsWidth) {
    Bytes3ds field = {'T', 'o', 'p', 0, 0, 0, 0, 0, 0, 0, 0};
    Bytes3ds body;
    for (int i = 0; i < 7; ++i) body = body + U16(uint16_t(i));
    body = body + F32(1) + F32(2) + F32(3) + F32(4) + F32(5) + F32(6) + field;
    Loaded3ds f(File(Chunk(0x7001, Bytes3ds(14, 0) + Chunk(0x7012, body))));
    auto* vp = ReadChunkDataAs3ds<Viewport3ds>(f.ctx, FindChunk3ds(f.db->topChunk, 0x7012));
    ASSERT_NE(vp, nullptr);
    EXPECT_EQ(vp->name.text, "Top");
    EXPECT_EQ(vp->vertical, 6.0f);
    EXPECT_FALSE(f.ctx.ErrorPending());
}

TEST(Chunk3dsPayload, ReadingTwiceKeepsTheRecord) {
    Loaded3ds f(File(Chunk(0x0002, U32(3))));
    Chunk3ds* version = FindChunk3ds(f.db->topChunk, 0x0002);
    ChunkData3ds* first = ReadChunkData3ds(f.ctx, version);
    EXPECT_EQ(ReadChunkData3ds(f.ctx, version), first);
    // A copy takes a file-backed payload over; the source reads it again.
    Chunk3ds* copy = nullptr;
    CopyChunk3ds(f.ctx, version, &copy);
    EXPECT_EQ(copy->data.get(), first);
    EXPECT_EQ(version->data, nullptr);
    EXPECT_EQ(*ReadChunkDataAs3ds<uint32_t>(f.ctx, version), 3u);
    DeleteChunkChain3ds(&copy);
    EXPECT_EQ(copy, nullptr);
}

// ---- tree operations ----

TEST(Chunk3dsTree, OrderedInsertion) {
    Context3ds ctx;
    Chunk3ds* meshData = nullptr;
    InitChunkAs3ds(ctx, &meshData, 0x3D3D);
    for (uint32_t tag : {0x4000u, 0x3D3Eu, 0xAFFFu, 0x0100u}) AddEmptyChunk3ds(ctx, tag, meshData);
    EXPECT_EQ(ChildTags(meshData), (std::vector<uint32_t>{0x3D3E, 0xAFFF, 0x0100, 0x4000}));
    Chunk3ds* kf = nullptr;
    InitChunkAs3ds(ctx, &kf, 0xB000);
    for (uint32_t tag : {0xB001u, 0xB002u, 0xB005u, 0xB00Au}) AddEmptyChunk3ds(ctx, tag, kf);
    EXPECT_EQ(ChildTags(kf), (std::vector<uint32_t>{0xB00A, 0xB002, 0xB001, 0xB005}));
    // Replacing empties the first of two and keeps its place.
    AddEmptyChunk3ds(ctx, 0x4000, meshData);
    Chunk3ds* replaced = nullptr;
    ReplaceOrAddChild3ds(ctx, meshData, 0x4000, &replaced);
    EXPECT_EQ(replaced, meshData->child->next->next->next);
    EXPECT_EQ(ChildTags(meshData), (std::vector<uint32_t>{0x3D3E, 0xAFFF, 0x0100, 0x4000, 0x4000}));
    DeleteChunkChain3ds(&meshData);
    DeleteChunkChain3ds(&kf);
    EXPECT_FALSE(ctx.ErrorPending());
}

// A long list filled in mixed order, with chunks emptied (their rank falls) and given their
// tag again on the way: the same order as a walk from the first child each time.
TEST(Chunk3dsTree, OrderedInsertionIntoLongLists) {
    Context3ds ctx;
    Chunk3ds* meshData = nullptr;
    InitChunkAs3ds(ctx, &meshData, 0x3D3D);
    std::vector<uint32_t> expected;  // tags by the plain walk
    auto add = [&](uint32_t tag) {
        AddEmptyChunk3ds(ctx, tag, meshData);
        size_t at = 0;
        while (at < expected.size() && GetChunkOrder3ds(expected[at]) >= GetChunkOrder3ds(tag))
            ++at;
        expected.insert(expected.begin() + long(at), tag);
    };
    const uint32_t tags[] = {0x4000, 0xAFFF, 0x4000, 0x0100, 0xAFFF, 0x2100, 0x4000, 0x1200};
    for (int i = 0; i < 400; ++i) {
        add(tags[(i * 7 + i / 5) % 8]);
        if (i % 97 == 50) {
            // Empty the 40th child, as a replaced object is; later ones come before it.
            Chunk3ds* c = meshData->child;
            for (int k = 0; k < 40; ++k) c = c->next;
            ReleaseChunk3ds(c);
            expected[40] = 0;
            if (i > 200) {
                c->tag = 0x4000;
                expected[40] = 0x4000;
            }
        }
    }
    EXPECT_EQ(ChildTags(meshData), expected);
    DeleteChunkChain3ds(&meshData);
    EXPECT_FALSE(ctx.ErrorPending());
}

TEST(Chunk3dsTree, EmptiedAndParentNameChunksAreNotWritten) {
    Bytes3ds bytes =
        File(Chunk(0x0002, U32(3)) + Chunk(0x3D3D, Chunk(0x3D3E, U32(3)) + Chunk(0x0100, F32(1))) +
             Chunk(0xB000, Chunk(0xB00A, U16(5) + Str("") + U32(30))));
    Loaded3ds f(bytes);
    ASSERT_FALSE(f.ctx.ErrorPending());
    EXPECT_EQ(f.Save(), bytes);  // right lengths: written as they are
    ReleaseChunk3ds(FindChunk3ds(f.db->topChunk, 0x0100));
    AddParentName3ds(f.ctx, FindChunk3ds(f.db->topChunk, 0x3D3E), "nothing");
    Bytes3ds expected = File(Chunk(0x0002, U32(3)) + Chunk(0x3D3D, Chunk(0x3D3E, U32(3))) +
                             Chunk(0xB000, Chunk(0xB00A, U16(5) + Str("") + U32(30))));
    EXPECT_EQ(f.Save(), expected);  // lengths patched in place
    EXPECT_FALSE(f.ctx.ErrorPending());
}

TEST(Chunk3dsTree, XDataSectionKeepsOnlyEntries) {
    Bytes3ds good = Chunk(0x8001, Chunk(0x8002, Str("app")) + Chunk(0x8004, U32(1)));
    Bytes3ds bad = Chunk(0x8001, Chunk(0x0100, F32(1)) + Chunk(0x8002, Str("lost")));
    Loaded3ds f(File(Chunk(0x8000, good + bad) + Chunk(0x0002, U32(3))));
    ASSERT_FALSE(f.ctx.ErrorPending());
    Chunk3ds* section = FindChunk3ds(f.db->topChunk, 0x8000);
    EXPECT_EQ(ChildTags(section->child), (std::vector<uint32_t>{0x8002, 0x8004}));
    EXPECT_EQ(section->child->next->child, nullptr);
    EXPECT_NE(FindChunk3ds(f.db->topChunk, 0x0002), nullptr);
}

TEST(Chunk3dsTree, ParentIdsBecomeNamesAndBackAgain) {
    auto node = [](uint16_t tag, uint16_t id, const char* name, uint16_t parent,
                   const char* instance) {
        Bytes3ds body =
            Chunk(0xB030, U16(id)) + Chunk(0xB010, Str(name) + U16(0) + U16(0) + U16(parent));
        if (instance) body = body + Chunk(0xB011, Str(instance));
        return Chunk(tag, body);
    };
    Bytes3ds kf = Chunk(0xB00A, U16(5) + Str("") + U32(30)) +
                  node(0xB002, 7, "Box01", 0xFFFF, "inst") +
                  node(0xB002, 3, "Box02", 0xFFFF, nullptr) + node(0xB002, 9, "Child", 7, nullptr);
    Loaded3ds f(
        File(Chunk(0x0002, U32(3)) + Chunk(0x3D3D, Chunk(0x3D3E, U32(3))) + Chunk(0xB000, kf)));
    ASSERT_FALSE(f.ctx.ErrorPending());
    Chunk3ds* child = FindNodeByName3ds(f.ctx, f.db, "Child", 0xB002);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(GetParentName3ds(f.ctx, child), "Box01.inst");
    EXPECT_EQ(FindNodeByName3ds(f.ctx, f.db, "Box01", 0xB002), nullptr);
    EXPECT_NE(FindNodeByName3ds(f.ctx, f.db, "Box01.inst", 0xB002), nullptr);
    EXPECT_EQ(FindNodeByName3ds(f.ctx, f.db, "box02", 0xB002), nullptr);
    EXPECT_EQ(FindNodeByIndex3ds(f.ctx, f.db, 2, 0xB002), child);
    // Saving numbers the nodes in file order and the parent follows.
    Bytes3ds saved = f.Save();
    Loaded3ds g(saved);
    Chunk3ds* again = FindNodeByName3ds(g.ctx, g.db, "Child", 0xB002);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetNodeId3ds(g.ctx, again), 2);
    auto* header = ReadChunkDataAs3ds<NodeHeader3ds>(g.ctx, FindChunk3ds(again, 0xB010));
    EXPECT_EQ(header->parent, 0);
    EXPECT_EQ(GetParentName3ds(g.ctx, again), "Box01.inst");
}

}  // namespace
