// Names, labels and texts that properties and channels make only when they differ from the
// common case read and write as when every one was stored.
#include <gtest/gtest.h>

#include <array>
#include <iterator>
#include <memory>
#include <string>

#include "animation/KFCurveNode.h"
#include "foundation/KStringList.h"
#include "scene/KDataType.h"
#include "scene/KObject.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"
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

TEST(KPropertyStorage, SharedEnumLabelsReadAsAList) {
    KObject* owner = new KObject;
    ObjectGuard guard{owner};
    static const char* const kLabels[] = {"A", "A", "B", nullptr};
    auto* p = new KPropertyInt(owner, "E");
    EXPECT_EQ(p->GetEnumList(false), nullptr);
    p->SetEnumLabels(kLabels);
    const struct {
        int value;
        const char* name;  // null: none
    } kNames[] = {{-1, nullptr}, {0, "A"}, {1, "A"}, {2, "B"}, {3, nullptr}};
    for (int pass = 0; pass < 2; ++pass) {  // read in place, then from the list made
        for (const auto& n : kNames) {
            if (n.name)
                EXPECT_STREQ(p->GetEnumName(n.value), n.name) << pass << " " << n.value;
            else
                EXPECT_EQ(p->GetEnumName(n.value), nullptr) << pass << " " << n.value;
        }
        KStringList* list = p->GetEnumList(false);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->GetCount(), 3);
    }
    p->GetEnumList(false)->Add("C");  // the list is the property's own
    EXPECT_STREQ(p->GetEnumName(3), "C");
    EXPECT_EQ(kLabels[3], nullptr);
    // Labels given twice follow one another.
    auto* twice = new KPropertyInt(owner, "T");
    twice->SetEnumLabels(kLabels);
    twice->SetEnumLabels(kLabels);
    EXPECT_EQ(twice->GetEnumList(false)->GetCount(), 6);
    EXPECT_STREQ(twice->GetEnumName(5), "B");
}

TEST(KPropertyStorage, RangeTagAndEnumSourceDefaults) {
    KObject* owner = new KObject;
    ObjectGuard guard{owner};
    auto* p = new KPropertyDouble(owner, "P");
    EXPECT_EQ(p->GetMin(), 0.0);
    EXPECT_EQ(p->GetMax(), 100.0);
    EXPECT_EQ(p->GetCreatorTag(), 0);
    EXPECT_TRUE(p->SetMinMax(0.0, 100.0));  // unchanged
    EXPECT_TRUE(p->SetMax(5.0));
    EXPECT_EQ(p->GetMin(), 0.0);
    EXPECT_EQ(p->GetMax(), 5.0);
    EXPECT_TRUE(p->SetMinMax(-1.0, 1.0));
    EXPECT_EQ(p->GetMin(), -1.0);
    EXPECT_EQ(p->GetMax(), 1.0);
    p->SetCreatorTag(7);
    EXPECT_EQ(p->GetCreatorTag(), 7);
    p->SetEnumSource([](int v) { return v == 1 ? "one" : static_cast<const char*>(nullptr); });
    EXPECT_STREQ(p->GetEnumName(1), "one");
    EXPECT_EQ(p->GetEnumName(0), nullptr);
    p->SetEnumSource(nullptr);
    EXPECT_EQ(p->GetEnumName(1), nullptr);
}

TEST(KPropertyStorage, NodeEnumRowsKeepTheirLabels) {
    KQovNodeProperties* set = new KQovNodeProperties(nullptr);
    ObjectGuard guard{set};
    const struct {
        int row;
        int count;
        int value;
        const char* name;
    } kRows[] = {{KQovNodeProperties::eRotationOrder, 7, 6, "Spheric XYZ"},
                 {KQovNodeProperties::eInheritType, 3, 1, "RrSs"},
                 {KQovNodeProperties::eInheritType, 3, 2, "Rrs"}};
    for (const auto& r : kRows) {
        KProperty* p = set->GetTableProperty(r.row);
        ASSERT_NE(p, nullptr);
        EXPECT_STREQ(p->GetEnumName(r.value), r.name);
        ASSERT_NE(p->GetEnumList(false), nullptr);
        EXPECT_EQ(p->GetEnumList(false)->GetCount(), r.count);
        EXPECT_STREQ(p->GetEnumName(r.value), r.name);
    }
}

}  // namespace

namespace {

using D = KQovPropertyDescriptor;

D Embedded(const char* name, int type, double value) {
    D d{name, type};
    d.defaultValue[0] = value;
    return d;
}
D List(const char* name) {
    D d{name, KProperty::eOBJECT};
    d.form = D::eObjectList;
    return d;
}
D Created(const char* name) {
    D d{name, KProperty::eDOUBLE};
    d.form = D::eCreated;
    return d;
}

const D kFirst[] = {Embedded("A", KProperty::eDOUBLE, 1.0), List("L1"), Created("C"),
                    Embedded("B", KProperty::eBOOL, 1.0), List("L2")};
const D kSecond[] = {Embedded("E", KProperty::eINT, 5.0), Created("F")};
const D kListsOnly[] = {List("M")};

// Two tables and one without embedded rows, on one set.
class TwoTables : public KQovPropertyHandler {
public:
    TwoTables() : KQovPropertyHandler(nullptr) {
        CreateTableProperties(kFirst, 5);
        CreateTableProperties(kSecond, 2);
        CreateTableProperties(kListsOnly, 1);
        CreateTableProperties(kSecond, 0);
    }
};

}  // namespace

TEST(KPropertyStorage, RowsOfSeveralTablesListedInOrderAndReleased) {
    TwoTables* set = new TwoTables;
    ObjectGuard guard{set};
    const char* const kOrder[] = {"A", "L1", "C", "B", "L2", "E", "F", "M"};
    ASSERT_EQ(set->GetTableRowCount(), 8);
    ASSERT_EQ(set->GetPropertyCount(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_STREQ(set->GetProperty(i)->GetName(), kOrder[i]) << i;
        EXPECT_EQ(set->GetTableProperty(i), set->GetProperty(i)) << i;
    }
    EXPECT_EQ(set->GetEmbedded(0)->GetNumbers()[0], 1.0);
    EXPECT_EQ(set->GetEmbedded(5)->GetNumbers()[0], 5.0);
    EXPECT_EQ(set->GetEmbedded(1), nullptr);  // an object list
    EXPECT_EQ(set->GetEmbedded(2), nullptr);  // a created row
    EXPECT_EQ(set->FindProperty("B")->GetInt(), 1);
    // An embedded row taken off the list stays the set's to release.
    set->DestroyProperty(set->IndexOfProperty(set->GetTableProperty(3)));
    EXPECT_EQ(set->FindProperty("B"), nullptr);
    EXPECT_EQ(set->GetPropertyCount(), 7);
}

TEST(KPropertyStorage, ObjectNamesCurrentAndInitial) {
    KObject* object = new KObject;
    ObjectGuard guard{object};
    enum Op { eName, eCurrentName, eSpace, eCurrentSpace };
    const struct {
        Op op;
        const char* text;
        const char *name, *initial, *space, *initialSpace;
    } kSteps[] = {
        {eName, "A", "A", "A", "", ""},           {eCurrentName, "B", "B", "A", "", ""},
        {eCurrentName, "C", "C", "A", "", ""},    {eName, "D", "D", "D", "", ""},
        {eCurrentSpace, "S", "D", "D", "S", ""},  {eSpace, "T", "D", "D", "T", "T"},
        {eCurrentName, "E", "E", "D", "T", "T"},  {eCurrentName, "E", "E", "D", "T", "T"},
        {eName, "E", "E", "D", "T", "T"},  // the same name changes nothing
        {eName, "F", "F", "F", "T", "T"},
    };
    EXPECT_STREQ(object->GetInitialName(), "");
    EXPECT_STREQ(object->GetNameSpace(), "");
    for (const auto& step : kSteps) {
        SCOPED_TRACE(step.text);
        const std::string fullBefore = object->GetFullName().Buffer();
        switch (step.op) {
            case eName: object->SetName(step.text); break;
            case eCurrentName: object->SetCurrentName(step.text); break;
            case eSpace: object->SetNameSpace(step.text); break;
            case eCurrentSpace: object->SetCurrentNameSpace(step.text); break;
        }
        EXPECT_STREQ(object->GetName(), step.name);
        EXPECT_STREQ(object->GetInitialName(), step.initial);
        EXPECT_STREQ(object->GetNameSpace(), step.space);
        EXPECT_STREQ(object->GetInitialNameSpace(), step.initialSpace);
        const std::string full = object->GetFullName().Buffer();
        EXPECT_NE(full.find(step.name), std::string::npos) << full;
        EXPECT_NE(full.find(step.space), std::string::npos) << full;
        if (fullBefore.find(step.name) == std::string::npos) {
            EXPECT_NE(full, fullBefore);
        }
    }
}

TEST(KPropertyStorage, SecondPivotSetReadsAsResetWhenFirstAskedFor) {
    using Field = KVector4 KQovPivotSet::*;
    const Field kVectors[] = {&KQovPivotSet::rotationOffset,   &KQovPivotSet::rotationPivot,
                              &KQovPivotSet::preRotation,      &KQovPivotSet::postRotation,
                              &KQovPivotSet::scalingOffset,    &KQovPivotSet::scalingPivot,
                              &KQovPivotSet::geometricScaling, &KQovPivotSet::geometricTranslation};
    const KQovPivotSet reset;
    for (bool resetFirst : {false, true}) {
        SCOPED_TRACE(resetFirst);
        KQovNode node(nullptr, "Model::N");
        if (resetFirst) node.ResetTransformProperties();  // before set 1 was ever made
        KQovPivotSet* set = node.GetPivotSet(1);
        ASSERT_NE(set, nullptr);
        for (Field f : kVectors)
            for (int i = 0; i < 4; ++i) EXPECT_EQ((set->*f)[i], (reset.*f)[i]);
        EXPECT_EQ(set->pivotState, 1);
        EXPECT_EQ(set->rotationOrder, 0);
        node.SetRotationPivot(1, 1.0, 2.0, 3.0);
        node.SetPivotState(1, 0);
        node.SetRotationOrder(1, 4);
        EXPECT_EQ(node.GetPivotSet(1), set);  // the same set from then on
        EXPECT_EQ((*node.GetRotationPivot(1))[1], 2.0);
        node.ResetTransformProperties();
        EXPECT_EQ(node.GetPivotState(1), 1);
        EXPECT_EQ(node.GetRotationOrder(1), 0);
        EXPECT_EQ((*node.GetRotationPivot(1))[1], 0.0);
        EXPECT_EQ(node.GetPivotSet(2), nullptr);
        EXPECT_EQ(node.GetPivotSet(-1), nullptr);
    }
}

namespace {

// A data type that is not one of the process-wide ones.
class LocalType : public KDataType {
public:
    LocalType() : KDataType("LocalStorageTestType", 8, 1, nullptr) {}
};

}  // namespace

// Process-wide types are kept by their index, others with the extras: either way the type set
// is the type read, through changes from one kind to the other, and with the other extras.
TEST(KPropertyStorage, DataTypesOfEveryKindReadBackAsSet) {
    KObject* owner = new KObject;
    ObjectGuard guard{owner};
    auto* p = new KPropertyDouble(owner, "P");
    LocalType local;
    ASSERT_GT(KDataType::GetTypeCount(), 40);
    KDataType* first = KDataType::GetTypeAt(0);
    KDataType* last = KDataType::GetTypeAt(KDataType::GetTypeCount() - 1);
    KDataType* number = KDataType::FindByName("Number");
    KDataType* lcl = KDataType::FindByName("Lcl Translation");
    EXPECT_EQ(local.GetTypeIndex(), -1);
    EXPECT_EQ(last->GetTypeIndex(), KDataType::GetTypeCount() - 1);
    const struct {
        KDataType* set;
        KDataType* read;  // a double property without a type reads "Number"
    } kSteps[] = {{first, first},    {&local, &local}, {last, last}, {nullptr, number},
                  {&local, &local},  {nullptr, number}, {lcl, lcl}};
    for (size_t i = 0; i < std::size(kSteps); ++i) {
        p->SetDataType(kSteps[i].set);
        EXPECT_EQ(p->GetDataType(), kSteps[i].read) << i;
        // The extras hold other fields too: they keep theirs.
        p->SetMinMax(double(i), 100.0 + double(i));
        p->SetLabel(i % 2 ? "odd" : nullptr);
        EXPECT_EQ(p->GetDataType(), kSteps[i].read) << i;
        EXPECT_EQ(p->GetMin(), double(i));
        EXPECT_EQ(p->GetMax(), 100.0 + double(i));
    }
    // A property made with a type of each kind.
    auto* q = new KPropertyDouble(owner, "Q", &local);
    auto* r = new KPropertyDouble(owner, "R", last);
    EXPECT_EQ(q->GetDataType(), &local);
    EXPECT_EQ(r->GetDataType(), last);
    p->SetDataType(nullptr);  // no pointer to the local type left behind
}

// The owned name is freed by what the property knows, not by a flag a caller may change.
TEST(KPropertyStorage, OwnedNameFreedWhateverTheFlagSays) {
    KObject* owner = new KObject;
    ObjectGuard guard{owner};
    auto* p = new KPropertyInt(owner, "Start");
    const struct {
        const char* rename;  // null: bind to static text instead
        bool flag;           // the flag a caller then sets
        const char* read;
    } kSteps[] = {{"A", false, "A"}, {"B", true, "B"}, {nullptr, true, "Static"},
                  {"C", false, "C"}, {nullptr, false, "Static"}, {"D", true, "D"}};
    for (const auto& step : kSteps) {
        if (step.rename)
            ASSERT_TRUE(p->SetName(step.rename, false));
        else
            p->KProperty::Init("Static", owner);
        p->SetFlag(KProperty::eOwnedName, step.flag);
        EXPECT_STREQ(p->GetName(), step.read);
        EXPECT_EQ(owner->FindProperty(step.read), p);
    }
}

// Accessors bound and unbound: a property without them keeps its value in the cache and
// no longer calls the old ones.
TEST(KPropertyStorage, AccessorsBoundAndDropped) {
    KObject* owner = new KObject;
    ObjectGuard guard{owner};
    KPropertyDouble p;
    double outside = 2.5;
    int calls = 0;
    p.Init("Bound", owner, [&] { ++calls; return outside; },
           [&](const double& v) { ++calls; outside = v; });
    owner->AddProperty(&p);
    EXPECT_EQ(p.Get(), 2.5);
    p.Set(4.0);
    EXPECT_EQ(outside, 4.0);
    EXPECT_EQ(calls, 2);
    p.Init("Bound", owner, {}, {});
    p.Set(7.0);
    EXPECT_EQ(p.Get(), 7.0);
    EXPECT_EQ(outside, 4.0);
    EXPECT_EQ(calls, 2);
    p.Init("Bound", owner, [&] { return -1.0; }, {});  // a getter alone
    EXPECT_EQ(p.Get(), -1.0);
    p.Set(3.0);  // no setter: the cache takes it, the getter wins on reading
    EXPECT_EQ(p.Get(), -1.0);
    owner->ForgetProperty(&p);
}

// Text and time rows keep theirs with the extras, beside a label and a range.
TEST(KPropertyStorage, EmbeddedTimesAndTextsBesideOtherExtras) {
    KObject* owner = new KObject;
    ObjectGuard guard{owner};
    KQovEmbeddedProperty time(KProperty::eTIME);
    time.Init("Time", owner);
    KQovEmbeddedProperty number(KProperty::eDOUBLE);
    number.Init("Number", owner);
    EXPECT_EQ(time.GetTime().Get(), 0);
    EXPECT_EQ(time.GetStorageCode(), KProperty::eTIME);
    EXPECT_EQ(number.GetStorageCode(), KProperty::eDOUBLE);
    const struct {
        int64_t ticks;
        const char* label;
        const char* text;
    } kSteps[] = {{5, nullptr, nullptr}, {0, "L", nullptr}, {-7, "L", "t"},
                  {1LL << 40, nullptr, "u"}, {0, nullptr, nullptr}};
    for (const auto& step : kSteps) {
        const KTime value(step.ticks);
        time.SetValue(&value);
        time.SetLabel(step.label);
        time.SetText(step.text);
        time.SetMin(double(step.ticks));
        KTime out(99);
        time.GetValue(&out);
        EXPECT_EQ(out.Get(), step.ticks);
        EXPECT_EQ(time.GetTime().Get(), step.ticks);
        EXPECT_STREQ(time.GetText().Buffer(), step.text ? step.text : "");
        if (step.label)
            EXPECT_STREQ(time.GetLabel(), step.label);
        else
            EXPECT_EQ(time.GetLabel(), nullptr);
        EXPECT_EQ(time.GetMin(), double(step.ticks));
    }
    // A number row's value never touches them.
    const double v = 3.5;
    number.SetValue(&v);
    EXPECT_EQ(number.GetTime().Get(), 0);
    EXPECT_STREQ(number.GetText().Buffer(), "");
    EXPECT_EQ(number.GetNumbers()[0], 3.5);
    EXPECT_EQ(number.GetStorageCode(), KProperty::eDOUBLE);
}

// Each table row gives back its own descriptor and property; a created row destroyed reads as
// gone while the others stay.
TEST(KPropertyStorage, RowsFindTheirTablesAndOutliveCreatedRows) {
    TwoTables* set = new TwoTables;
    ObjectGuard guard{set};
    const KQovPropertyDescriptor* const kRows[] = {&kFirst[0], &kFirst[1], &kFirst[2],
                                                   &kFirst[3], &kFirst[4], &kSecond[0],
                                                   &kSecond[1], &kListsOnly[0]};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(set->GetTableRow(i), kRows[i]) << i;
    for (int i : {-1, 8, 1000}) {
        EXPECT_EQ(set->GetTableRow(i), nullptr) << i;
        EXPECT_EQ(set->GetTableProperty(i), nullptr) << i;
        EXPECT_EQ(set->GetEmbedded(i), nullptr) << i;
    }
    KProperty* created = set->GetTableProperty(2);
    ASSERT_NE(created, nullptr);
    set->DestroyProperty(set->IndexOfProperty(created));
    EXPECT_EQ(set->GetTableProperty(2), nullptr);
    EXPECT_EQ(set->GetTableProperty(6)->GetName(), std::string("F"));
    EXPECT_EQ(set->GetTableProperty(7)->GetName(), std::string("M"));
    EXPECT_EQ(set->GetEmbedded(3)->GetNumbers()[0], 1.0);
    set->GetEmbedded(5)->SetNumbers(std::array<double, 1>{9.0}.data(), 1);
    set->ResetTableDefaults();
    EXPECT_EQ(set->GetEmbedded(5)->GetNumbers()[0], 5.0);
}
