// Names, labels and texts that properties and channels make only when they differ from the
// common case read and write as when every one was stored.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "animation/KFCurveNode.h"
#include "scene/KObject.h"
#include "scene/KQovPropertyTable.h"
#include "scene/KTypedProperty.h"

namespace {

struct ObjectGuard {
    KObject* object;
    ~ObjectGuard() { object->Destroy(); }
};

TEST(KPropertyStorage, LabelsSetClearedAndReplaced) {
    KObject* owner = new KObject;
    ObjectGuard guard{owner};
    auto* p = new KPropertyDouble(owner, "P");
    const struct {
        const char* set;
        const char* read;  // null: no label
    } kSteps[] = {{"Label", "Label"}, {"", nullptr}, {"Again", "Again"}, {nullptr, nullptr}};
    EXPECT_EQ(p->GetLabel(), nullptr);
    for (size_t i = 0; i < std::size(kSteps); ++i) {
        p->SetLabel(kSteps[i].set);
        if (kSteps[i].read)
            EXPECT_STREQ(p->GetLabel(), kSteps[i].read) << i;
        else
            EXPECT_EQ(p->GetLabel(), nullptr) << i;
    }
    const std::string longLabel(70, 'x');  // past the inline buffer of a text
    p->SetLabel(longLabel.c_str());
    EXPECT_EQ(p->GetLabel(), longLabel);
}

TEST(KPropertyStorage, NamesKeptByAddressUntilRenamed) {
    KObject* owner = new KObject;
    ObjectGuard guard{owner};
    static const char kRowName[] = "RowName";
    KQovEmbeddedProperty embedded(KProperty::eDOUBLE);
    embedded.Init(kRowName, owner);
    owner->AddProperty(&embedded);
    EXPECT_EQ(embedded.GetName(), kRowName);  // the table's text itself
    EXPECT_FALSE(embedded.TestFlag(KProperty::eOwnedName));
    EXPECT_EQ(owner->FindProperty("RowName"), &embedded);
    {
        std::string transient = "Re\"named";
        ASSERT_TRUE(embedded.SetName(transient.c_str(), false));
        transient.assign(40, '?');  // the property keeps its own copy
    }
    EXPECT_STREQ(embedded.GetName(), "Renamed");
    EXPECT_TRUE(embedded.TestFlag(KProperty::eOwnedName));
    EXPECT_EQ(owner->FindProperty("Renamed"), &embedded);
    EXPECT_EQ(owner->FindProperty("RowName"), nullptr);
    embedded.Init(nullptr, nullptr);  // binding again drops the owned text
    EXPECT_STREQ(embedded.GetName(), "");
    EXPECT_FALSE(embedded.TestFlag(KProperty::eOwnedName));
    owner->ForgetProperty(&embedded);
}

TEST(KPropertyStorage, EmbeddedTextsThroughEveryPath) {
    KObject* owner = new KObject;
    ObjectGuard guard{owner};
    KQovEmbeddedProperty text(KProperty::eSTRING);
    text.Init("Text", owner);
    owner->AddProperty(&text);
    const std::string longText(100, 't');
    const struct {
        const char* set;
        bool throughValue;  // SetValue with its events, else SetText
        const char* read;
    } kSteps[] = {
        {nullptr, false, ""},        {"abc", false, "abc"},   {"", false, ""},
        {"def", true, "def"},        {"", true, ""},          {longText.c_str(), true, longText.c_str()},
        {"ghi", false, "ghi"},       {nullptr, false, ""},
    };
    for (const auto& step : kSteps) {
        if (step.throughValue) {
            const KString value(step.set);
            text.SetValue(&value);
        } else {
            text.SetText(step.set);
        }
        EXPECT_STREQ(text.GetText().Buffer(), step.read);
        KString out("stale");
        text.GetValue(&out);
        EXPECT_STREQ(out.Buffer(), step.read);
    }
    // A text row read through its own buffer keeps the text.
    EXPECT_TRUE(text.SetString("jkl"));
    text.SetValue(&text.GetText());
    EXPECT_STREQ(text.GetText().Buffer(), "jkl");
    owner->ForgetProperty(&text);
}

TEST(KPropertyStorage, ChannelSecondNames) {
    std::unique_ptr<KFCurveNode> node(KFCurveNode::Create("Channel"));
    const struct {
        const char* set;
        const char* read;
    } kSteps[] = {{"Other", "Other"}, {"Channel", "Channel"}, {nullptr, ""}, {"", ""},
                  {"Channel", "Channel"}};
    EXPECT_STREQ(node->GetSecondName(), "Channel");
    for (const auto& step : kSteps) {
        node->SetSecondName(step.set);
        EXPECT_STREQ(node->GetSecondName(), step.read);
        EXPECT_STREQ(node->GetName(), "Channel");
    }
    // A copy shares the record, second name included.
    node->SetSecondName("Shared");
    std::unique_ptr<KFCurveNode> copy(KFCurveNode::CreateCopy(node.get()));
    EXPECT_EQ(copy->GetNameRecord(), node->GetNameRecord());
    EXPECT_STREQ(copy->GetSecondName(), "Shared");
}

}  // namespace
