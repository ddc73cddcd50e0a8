// After a read every property of a node is wrapped by exactly one record of the node, whether
// the node made it or the reader did, and the file's own user properties keep their values.

#include <gtest/gtest.h>

#include <string>

#include "common/TempTestFolder.h"
#include "io/KQovExporter.h"
#include "io/KQovImporter.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovScene.h"
#include "scene/KQovUserProperty.h"

namespace {

void ExpectOneRecordEach(KQovNode* node, int& records) {
    SCOPED_TRACE(node->GetName());
    KQovPropertyHandler* handler = node->GetPropertyHandler();
    ASSERT_NE(handler, nullptr);
    for (int i = 0; i < handler->GetPropertyCount(); ++i) {
        const KProperty* property = handler->GetProperty(i);
        int wrapping = 0;
        for (int r = 0; r < node->GetUserPropertyCount(); ++r)
            wrapping += node->GetUserProperty(r)->Wraps(property);
        EXPECT_EQ(wrapping, 1) << property->GetName();
    }
    EXPECT_EQ(node->GetUserPropertyCount(), handler->GetPropertyCount());
    records += node->GetUserPropertyCount();
    for (int i = 0; i < node->GetChildCount(); ++i) ExpectOneRecordEach(node->GetChild(i), records);
}

TEST(KQovReaderUserRecords, EveryPropertyWrappedOnce) {
    for (int id : {0, 1, 4}) {  // binary, version-6 text, version-5 text
        SCOPED_TRACE(id);
        TempTestFolder tmp;
        const std::string name = tmp / "records.qov";
        {
            KQovObjectManager m;
            KQovScene* scene = m.CreateScene();
            for (const char* child : {"A", "B"}) {
                KQovNode* node = m.CreateNode(child);
                scene->GetRootNode()->AddChild(node);
                KQovUserProperty* up = m.CreateUserProperty("Weight", "Real", "");
                up->SetFlag(KQovUserProperty::eFlagAnimatable, true);
                up->SetFlag(KQovUserProperty::eFlagUserProperty, true);
                node->AddUserProperty(up);
                up->SetValue(child[0] == 'A' ? 0.25 : 0.5);
            }
            KQovExporter exporter(&m);
            ASSERT_TRUE(exporter.Initialize(name.c_str()));
            exporter.SetFileFormat(id);
            ASSERT_TRUE(exporter.Export(scene, nullptr));
        }
        KQovObjectManager m;
        KQovScene* scene = m.CreateScene();
        KQovImporter importer(&m);
        ASSERT_TRUE(importer.Initialize(name.c_str()));
        ASSERT_TRUE(importer.Import(scene, nullptr));
        int records = 0;
        ExpectOneRecordEach(scene->GetRootNode(), records);
        EXPECT_LE(records, m.GetUserPropertyCount());
        for (const char* child : {"A", "B"}) {
            KQovNode* node = m.FindNode(child);
            ASSERT_NE(node, nullptr);
            KQovUserProperty* up = node->FindUserProperty("Weight");
            ASSERT_NE(up, nullptr);
            double value = 0;
            up->GetValue(value);
            EXPECT_EQ(value, child[0] == 'A' ? 0.25 : 0.5);
        }
    }
}

}  // namespace
