#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "scene/KProperty.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovUserProperty.h"

namespace {

// A host manager that makes its own records: every call must still reach it.
class CountingManager : public KQovObjectManager {
public:
    int calls = 0;
    bool own = false;

protected:
    KQovUserProperty* ConstructUserPropertyFromProperty(KProperty* property) override {
        ++calls;
        if (own) return property ? new KQovUserProperty(this, property) : nullptr;
        return KQovObjectManager::ConstructUserPropertyFromProperty(property);
    }
};

std::vector<std::string> Names(const KQovNode* node) {
    std::vector<std::string> names;
    for (int i = 0; i < node->GetUserPropertyCount(); ++i)
        names.push_back(node->GetUserProperty(i)->GetName().Buffer());
    return names;
}

// A node's records are made in one block, and read as records made one at a time do.
TEST(KQovUserPropertyBlock, NodeRecordsShareABlockAndReadAsSingleOnes) {
    for (bool own : {false, true}) {
        SCOPED_TRACE(own);
        CountingManager manager;
        manager.own = own;
        KQovNode* node = manager.CreateNode("Block");
        const int count = node->GetUserPropertyCount();
        ASSERT_GT(count, 10);
        EXPECT_EQ(manager.calls, count);
        EXPECT_EQ(manager.GetUserPropertyCount(), count);
        std::set<KQovUserProperty::Block*> blocks;
        for (int i = 0; i < count; ++i) {
            KQovUserProperty* record = node->GetUserProperty(i);
            blocks.insert(record->GetBlock());
            EXPECT_EQ(record->GetManager(), &manager);
            EXPECT_FALSE(record->HasDescription());
            ASSERT_NE(record->GetProperty(), nullptr);
            EXPECT_TRUE(record->Wraps(record->GetProperty()));
            EXPECT_EQ(record->GetOwner(),
                      static_cast<KQovUserPropertyOwner*>(node->GetPropertyHandler()));
            // The first match in creation order, as before.
            EXPECT_EQ(node->FindUserProperty(record->GetProperty()), record);
        }
        ASSERT_EQ(blocks.size(), 1u);
        EXPECT_EQ(*blocks.begin() == nullptr, own);
        // Another node gets a block of its own, with the same records in the same order.
        KQovNode* other = manager.CreateNode("Other");
        EXPECT_EQ(Names(other), Names(node));
        if (!own) {
            EXPECT_NE(other->GetUserProperty(0)->GetBlock(), *blocks.begin());
        }
    }
}

// Records of a block go one at a time, in any order, through every path; the block goes with
// the last of them (the leak checker sees one left behind) and a second destroy is refused.
TEST(KQovUserPropertyBlock, RecordsGoInAnyOrder) {
    enum Order { eForward, eBackward, eMiddleThenNode, eOutlivesNode };
    for (Order order : {eForward, eBackward, eMiddleThenNode, eOutlivesNode}) {
        SCOPED_TRACE(int(order));
        KQovObjectManager manager;
        KQovNode* node = manager.CreateNode("Going");
        std::vector<KQovUserProperty*> records;
        for (int i = 0; i < node->GetUserPropertyCount(); ++i)
            records.push_back(node->GetUserProperty(i));
        const int count = int(records.size());
        switch (order) {
            case eForward:
            case eBackward:
                for (int i = 0; i < count; ++i) {
                    KQovUserProperty* record =
                        records[size_t(order == eForward ? i : count - 1 - i)];
                    ASSERT_TRUE(manager.DestroyUserProperty(record));
                    EXPECT_EQ(manager.GetUserPropertyCount(), count - 1 - i);
                }
                EXPECT_FALSE(manager.DestroyUserProperty(records[0]));
                EXPECT_EQ(manager.GetError().GetErrorCode(), KQovObjectManager::eObjectNotFound);
                ASSERT_TRUE(manager.DestroyNode(node, false));
                break;
            case eMiddleThenNode:
                ASSERT_TRUE(manager.DestroyUserProperty(records[size_t(count / 2)]));
                ASSERT_TRUE(manager.DestroyNode(node, false));
                EXPECT_FALSE(manager.DestroyUserProperty(records[size_t(count / 2)]));
                break;
            case eOutlivesNode: {
                // A record handed to another owner stays, and keeps its block.
                KQovUserProperty* kept = records[3];
                kept->SetOwner(nullptr);
                ASSERT_TRUE(manager.DestroyNode(node, false));
                ASSERT_EQ(manager.GetUserPropertyCount(), 1);
                EXPECT_EQ(kept->GetManager(), &manager);
                EXPECT_EQ(kept->GetProperty(), nullptr);
                EXPECT_TRUE(kept->GetName().IsEmpty());
                EXPECT_TRUE(manager.DestroyUserProperty(kept));
                break;
            }
        }
        EXPECT_EQ(manager.GetUserPropertyCount(), 0);
    }
}

TEST(KQovUserPropertyBlock, BlockBoundaries) {
    KQovObjectManager manager;
    KQovNode* node = manager.CreateNode("Source");
    KProperty* property = node->GetUserProperty(0)->GetProperty();
    EXPECT_EQ(KQovUserProperty::CreateBlock(&manager, 0), nullptr);
    EXPECT_EQ(KQovUserProperty::CreateInBlock(nullptr, property), nullptr);
    KQovUserProperty::ReleaseBlock(nullptr);
    // An unused block goes with its creator's reference.
    KQovUserProperty::ReleaseBlock(KQovUserProperty::CreateBlock(&manager, 8));

    KQovUserProperty::Block* block = KQovUserProperty::CreateBlock(&manager, 2);
    ASSERT_NE(block, nullptr);
    KQovUserProperty* first = KQovUserProperty::CreateInBlock(block, property);
    KQovUserProperty* second = KQovUserProperty::CreateInBlock(block, nullptr);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(KQovUserProperty::CreateInBlock(block, property), nullptr);  // full
    EXPECT_EQ(first->GetBlock(), block);
    EXPECT_TRUE(first->Wraps(property));
    EXPECT_EQ(second->GetProperty(), nullptr);
    // The records keep the block after the creator lets go, until the last is disposed of.
    KQovUserProperty::ReleaseBlock(block);
    KQovUserProperty::Dispose(second);
    EXPECT_TRUE(first->Wraps(property));
    EXPECT_EQ(first->GetManager(), &manager);
    KQovUserProperty::Dispose(first);
    KQovUserProperty::Dispose(nullptr);
}

// Batches nest: the innermost gets the records, the outer one resumes once it ends; records
// made without a batch, and described ones, stand alone.
TEST(KQovUserPropertyBlock, BatchesNest) {
    KQovObjectManager manager;
    KQovNode* node = manager.CreateNode("Source");
    KProperty* a = node->GetUserProperty(0)->GetProperty();
    KProperty* b = node->GetUserProperty(1)->GetProperty();
    KQovUserProperty* alone = manager.CreateUserPropertyFromProperty(a);
    KQovUserProperty* described = manager.CreateUserProperty("Weight", "Real", "Weight");
    EXPECT_EQ(alone->GetBlock(), nullptr);
    EXPECT_EQ(alone->GetManager(), &manager);
    EXPECT_EQ(described->GetBlock(), nullptr);
    EXPECT_EQ(described->GetManager(), &manager);
    EXPECT_TRUE(described->HasDescription());
    {
        KQovObjectManager::RecordBatch outer(&manager, 2);
        KQovUserProperty* o1 = manager.CreateUserPropertyFromProperty(a);
        KQovUserProperty* i1 = nullptr;
        {
            KQovObjectManager::RecordBatch inner(&manager, 1);
            i1 = manager.CreateUserPropertyFromProperty(a);
            KQovUserProperty* spill = manager.CreateUserPropertyFromProperty(b);  // inner is full
            EXPECT_EQ(spill->GetBlock(), nullptr);
            EXPECT_TRUE(spill->Wraps(b));
        }
        // The outer block is no longer last in the manager's list: a record put there would
        // be found before ones made earlier.
        KQovUserProperty* o2 = manager.CreateUserPropertyFromProperty(b);
        ASSERT_NE(o1->GetBlock(), nullptr);
        EXPECT_EQ(o2->GetBlock(), nullptr);
        EXPECT_NE(i1->GetBlock(), o1->GetBlock());
        EXPECT_EQ(manager.FindUserProperty(b->GetName()), node->GetUserProperty(1));
        EXPECT_EQ(manager.GetUserPropertyCount(), node->GetUserPropertyCount() + 6);
        EXPECT_EQ(manager.CreateUserPropertyFromProperty(nullptr), nullptr);
        EXPECT_TRUE(manager.DestroyUserProperty(o2));
        EXPECT_TRUE(manager.DestroyUserProperty(i1));
        EXPECT_TRUE(o1->Wraps(a));
    }
    KQovObjectManager::RecordBatch none(nullptr, 4);
    // The rest goes with the manager; the leak checker sees what would not.
}

// The manager's list against a plain model in creation order, through a long random run of
// nodes made and destroyed, records destroyed one by one and records made alone: the count
// and the first record of a name must agree at every step.
TEST(KQovUserPropertyBlock, ListAgreesWithAModelInCreationOrder) {
    KQovObjectManager manager;
    std::vector<KQovUserProperty*> model;  // live records, in the order they were made
    std::vector<KQovNode*> nodes;
    std::mt19937 random(38);
    const char* names[] = {"Lcl Translation", "Visibility", "Show", "Weight"};
    auto forget = [&model](KQovUserProperty* record) {
        model.erase(std::find(model.begin(), model.end(), record));
    };
    for (int step = 0; step < 400; ++step) {
        SCOPED_TRACE(step);
        const unsigned op = random() % 8;
        if (op < 3 || nodes.empty()) {
            KQovNode* node = manager.CreateNode("N");
            nodes.push_back(node);
            for (int i = 0; i < node->GetUserPropertyCount(); ++i)
                model.push_back(node->GetUserProperty(i));
        } else if (op < 5) {
            const size_t at = random() % nodes.size();
            KQovNode* node = nodes[at];
            nodes.erase(nodes.begin() + ptrdiff_t(at));
            // Its own records go with it, but not those already destroyed or described.
            for (int i = 0; i < node->GetUserPropertyCount(); ++i) {
                KQovUserProperty* record = node->GetUserProperty(i);
                if (std::count(model.begin(), model.end(), record) && !record->HasDescription())
                    forget(record);
            }
            ASSERT_TRUE(manager.DestroyNode(node, false));
        } else if (op < 7 && !model.empty()) {
            KQovUserProperty* record = model[random() % model.size()];
            forget(record);
            ASSERT_TRUE(manager.DestroyUserProperty(record));
            EXPECT_FALSE(manager.DestroyUserProperty(record));
        } else {
            KQovNode* node = nodes[random() % nodes.size()];
            KQovUserProperty* record = manager.CreateUserPropertyFromProperty(
                node->GetPropertyHandler()->FindProperty(names[random() % 3]));
            ASSERT_NE(record, nullptr);
            model.push_back(record);
        }
        ASSERT_EQ(manager.GetUserPropertyCount(), int(model.size()));
        for (const char* name : names) {
            auto first = std::find_if(model.begin(), model.end(),
                                      [name](KQovUserProperty* u) { return u->GetName() == name; });
            EXPECT_EQ(manager.FindUserProperty(name), first == model.end() ? nullptr : *first);
        }
    }
    manager.DestroyAll();
    EXPECT_EQ(manager.GetUserPropertyCount(), 0);
    EXPECT_EQ(manager.FindUserProperty("Visibility"), nullptr);
}

}  // namespace
