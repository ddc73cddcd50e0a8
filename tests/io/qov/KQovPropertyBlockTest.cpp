#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "fieldfile/FieldFileTestUtil.h"
#include "foundation/KLocale.h"
#include "foundation/KStringList.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "scene/KDataType.h"
#include "scene/KObject.h"
#include "scene/KQovPropertyTable.h"
#include "scene/KTypedProperty.h"

namespace {

using qovtest::TempFolder;

// No class of the library holds a string list; the block carries it all the same.
class StringListProperty : public KTypedProperty<KStringList, KProperty::eSTRINGLIST> {
public:
    using KTypedProperty::KTypedProperty;
};

// Every value rendered as text, by the property's own stored kind.
std::string ValueText(KProperty* p) {
    double n[4] = {};
    const int count = KQovGetPropertyNumbers(p, n);
    std::string text;
    for (int i = 0; i < count; ++i) text += KFormatC("%.17g;", n[i]);
    if (p->GetStorageCode() == KProperty::eTIME) {
        KTime t;
        p->GetValue(&t);
        text += std::to_string(t.Get());
    } else if (p->GetStorageCode() == KProperty::eSTRING) {
        KString s;
        p->GetValue(&s);
        text += s.Buffer();
    } else if (p->GetStorageCode() == KProperty::eSTRINGLIST) {
        KStringList list;
        p->GetValue(&list);
        for (int i = 0; i < list.GetCount(); ++i) text += std::string(list.GetAt(i)) + "|";
    }
    return text;
}

struct Row {
    const char* name;
    int typeCode;
    const char* dataType;
    double numbers[4];
    const char* text;
};

// Every type code that carries a value; "Lcl Translation" as in the block's usual form.
const Row kRows[] = {
    {"Int", KProperty::eINT, nullptr, {-2147483647.0 - 1}, nullptr},
    {"Bool", KProperty::eBOOL, nullptr, {1}, nullptr},
    {"Float", KProperty::eFLOAT, nullptr, {0.5}, nullptr},
    {"Double", KProperty::eDOUBLE, nullptr, {0.1}, nullptr},
    {"Enum", KProperty::eENUM, "Enum", {3}, nullptr},
    {"Time", KProperty::eTIME, nullptr, {}, nullptr},
    {"Text", KProperty::eSTRING, nullptr, {}, "Model::a \"b\", c"},
    {"List", KProperty::eSTRINGLIST, nullptr, {}, nullptr},
    {"V4", KProperty::eVECTOR4D, nullptr, {1, -2, 3e300, 4}, nullptr},
    {"Lcl Translation", KProperty::eVECTOR3D, "Lcl Translation", {1.25, -0.0, 1e-9}, nullptr},
    {"Color", KProperty::eCOLORRGB, "Color", {0.2, 0.4, 0.6}, nullptr},
    {"RGBA", KProperty::eCOLORRGBA, "ColorAndAlpha", {0.1, 0.2, 0.3, 0.4}, nullptr},
};

// An object keeping embedded properties, as the property sets do.
struct TestObject : KObject {
    std::vector<std::unique_ptr<KQovEmbeddedProperty>> members;
};

// Properties of every row (at their defaults, or set to the rows' values), plus kinds the
// block leaves out; with values also user-defined properties with their ranges.
std::unique_ptr<TestObject> MakeObject(bool withValues) {
    auto object = std::make_unique<TestObject>();
    for (const Row& row : kRows) {
        KDataType* type = row.dataType ? KDataType::FindByName(row.dataType) : nullptr;
        KProperty* p = object->CreateProperty(row.name, row.typeCode, type, true, false);
        if (!p && row.typeCode == KProperty::eSTRINGLIST) {
            p = new StringListProperty(object.get(), row.name);
        } else if (!p) {
            // Float and Vector4D: table-made properties of their own storage.
            object->members.push_back(std::make_unique<KQovEmbeddedProperty>(row.typeCode));
            p = object->members.back().get();
            p->Init(row.name, object.get());
            object->AddProperty(p);
        }
        p->SetUserFlag(8, true);
        if (!withValues) continue;
        KQovSetPropertyNumbers(p, row.numbers, 4);
        if (row.text) p->SetString(row.text);
    }
    object->CreateProperty("Action", KProperty::eACTION, nullptr, false, false);
    object->CreateProperty("Object", KProperty::eOBJECT, nullptr, false, false);
    if (!withValues) return object;
    KTime time(-123456789012345ll);
    object->FindProperty("Time")->SetValue(&time);
    KStringList items;
    for (const char* item : {"one", "", "Texture::t", "x,y"}) items.Add(item);
    object->FindProperty("List")->SetValue(&items);

    const struct {
        const char* name;
        const char* type;
        double value[3];
        double min, max;
    } users[] = {{"U Real", "Real", {2.5}, -10, 10},
                 {"U Int", "Integer", {42}, 0, 50},
                 {"U Bool", "Bool", {1}, 0, 1},
                 {"U Color", "Color", {0.1, 0.2, 0.3}, 0, 1},
                 {"U Vector", "Vector", {-1, 0, 1}, -5, 5},
                 {"U Number", "Number", {7}, 1, 9},
                 {"U Text", "KString", {}, 3, 4}};
    for (const auto& u : users) {
        KDataType* type = KDataType::FindByName(u.type);
        const int code = type ? KProperty::TypeCodeFromDataType(type) : KProperty::eSTRING;
        KProperty* p = object->CreateProperty(u.name, code, type, u.min < 0, true);
        KQovSetPropertyNumbers(p, u.value, 3);
        p->SetString("note");
        p->SetMinMax(u.min, u.max);
        p->SetUserFlag(u.min < 0 ? 8 : 0, true);
    }
    return object;
}

std::string WriteBlock(const std::string& name, bool binary, KObject& object) {
    KQovPropertyFieldFile* file = KQovPropertyFieldFile::Create();
    EXPECT_TRUE(file->KQovFieldFile::Create(name.c_str(), binary, false, nullptr));
    EXPECT_TRUE(file->FieldWritePropertyBlock(&object));
    EXPECT_TRUE(file->FieldFileClose());
    delete file;
    return qovtest::ReadAll(name);
}

// Reads the first block of a file into `object`; the result of the read.
bool ReadBlock(const std::string& name, KObject& object, std::vector<KProperty*>* list = nullptr) {
    std::unique_ptr<KQovPropertyFieldFile> file(KQovPropertyFieldFile::Create());
    EXPECT_TRUE(file->Open(name.c_str(), false, true, nullptr)) << file->GetLastErrorString();
    std::vector<KProperty*> own;
    std::vector<KProperty*>& properties = list ? *list : own;
    for (int i = 0; i < object.GetPropertyCount(); ++i) properties.push_back(object.GetProperty(i));
    bool ok = file->FieldReadPropertyBlock(properties, &object);
    // A field without its block is the field file's "File is corrupted".
    EXPECT_EQ(file->GetLastErrorID(), ok ? -1 : int(KQovFieldFile::eFileCorrupted));
    return ok;
}

class PropertyBlock : public ::testing::TestWithParam<bool> {};  // binary or ASCII

TEST_P(PropertyBlock, EveryTypeAndUserPropertiesRoundTrip) {
    TempFolder tmp;
    const std::string name = tmp / "block.qov";
    auto source = MakeObject(true);
    const std::string bytes = WriteBlock(name, GetParam(), *source);
    // Connections and actions stay out of the block.
    EXPECT_EQ(bytes.find("Action"), std::string::npos);
    EXPECT_EQ(bytes.find("Object"), std::string::npos);

    auto target = MakeObject(false);
    std::vector<KProperty*> list;
    ASSERT_TRUE(ReadBlock(name, *target, &list));
    ASSERT_EQ(target->GetPropertyCount(), source->GetPropertyCount());
    EXPECT_EQ(list.size(), size_t(target->GetPropertyCount()));
    EXPECT_EQ(target->GetUserPropertyCount(), 7);
    for (int i = 0; i < source->GetPropertyCount(); ++i) {
        KProperty* a = source->GetProperty(i);
        KProperty* b = target->GetProperty(i);
        SCOPED_TRACE(a->GetName());
        EXPECT_STREQ(b->GetName(), a->GetName());
        EXPECT_EQ(b->GetTypeCode(), a->GetTypeCode());
        EXPECT_EQ(ValueText(b), ValueText(a));
        EXPECT_EQ(b->GetAttributes(), a->GetAttributes());
        EXPECT_EQ(b->GetUserFlags(), a->GetUserFlags());
        EXPECT_EQ(b->GetDataType(), a->GetDataType());
        EXPECT_EQ(b->GetMin(), a->GetMin());
        EXPECT_EQ(b->GetMax(), a->GetMax());
    }
}

INSTANTIATE_TEST_SUITE_P(Encodings, PropertyBlock, ::testing::Values(false, true));

TEST(PropertyBlockAscii, RecordLayout) {
    TempFolder tmp;
    const std::string name = tmp / "block.qov";
    KObject object;
    object.CreateProperty("Lcl Translation", KProperty::eVECTOR3D,
                          KDataType::FindByName("Lcl Translation"), true, false);
    KProperty* user = object.CreateProperty("Weight", KProperty::eDOUBLE, nullptr, false, true);
    user->SetMinMax(-1, 2);
    const std::string text = WriteBlock(name, false, object);
    EXPECT_NE(text.find("Properties60:  {\n"
                        "    Property: \"Lcl Translation\", \"Lcl Translation\", \"A\",0,0,0,0\n"
                        "    Property: \"Weight\", \"Number\", \"U\",0,0,-1,2\n}"),
              std::string::npos)
        << text;
}

// Hand-written blocks: bad records are skipped (the ones after them still read), numbers
// convert, a missing block is no error and a field without its block is refused.
TEST(PropertyBlockAscii, BadRecordsAreSkippedAndNumbersConvert) {
    struct Case {
        const char* record;
        const char* property;  // looked at afterwards
        const char* expected;  // its value text, or null when it must not exist
        const char* head = "Properties60:  {";
        bool result = true;
    };
    const Case cases[] = {
        {"Property: \"Double\", \"double\", \"\", 0", "Double", "0;"},
        {"Property: \"Double\", \"double\", \"\", 0, \"abc\"", "Double", "0;"},
        {"Property: \"Double\", \"double\", \"\", \"x\", 5", "Double", "0;"},
        {"Property: \"\", \"double\", \"U\", 0, 5, 0, 9", "Double", "0;"},
        {"Property: \"Color\", \"Color\", \"A\", 0, 1, 1", "Color", "0;0;0;"},
        {"Property: \"Int\", \"int\", \"\", 0, 2.75", "Int", "2;"},
        {"Property: \"Int\", \"int\", \"\", 0, 1e20", "Int", "2147483647;"},
        {"Property: \"Double\", \"int\", \"\", 0, 7", "Double", "7;"},
        {"Property: \"Bool\", \"bool\", \"\", 0, 3", "Bool", "1;"},
        {"Property: \"Time\", \"KTime\", \"\", 0, \"soon\"", "Time", "0"},
        {"Property: \"Nope\", \"double\", \"A\", 0, 1", "Nope", nullptr},
        {"Property: \"X\", \"Gibberish\", \"U\", 0, 1, 0, 1", "X", nullptr},
        {"Property: \"Y\", \"Number\", \"U\", 0, 1", "Y", nullptr},
        {"Property: \"Z\", \"Number\", \"U\", 0, 1, \"lo\", 2", "Z", nullptr},
        {"Property: \"W\", \"Number\", \"U\", 8, 1.5, 0, 2", "W", "1.5;"},
        {"Property: \"O\", \"object\", \"U\", 0, 1, 0, 2", "O", nullptr},
        {"Property: \"Double\", \"double\", \"\", 0, 4, 5, 6", "Double", "4;"},
        {"Property: {\n    }", "Double", "0;"},
        {"", "Text", "none", "Other:  {"},
        {"", "Text", "none", "Properties60: 5\nOther:  {", false},
    };
    TempFolder tmp;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.record);
        const std::string name = tmp / "bad.qov";
        qovtest::WriteAll(name,
                          std::string("; QOV 6.0.0 project file\n") + c.head + "\n    " + c.record +
                              "\n    Property: \"Text\", \"KString\", \"\", 0, \"after\"\n}\n");
        auto object = MakeObject(false);
        object->FindProperty("Text")->SetString("none");
        const int before = object->GetPropertyCount();
        std::vector<KProperty*> list;
        EXPECT_EQ(ReadBlock(name, *object, &list), c.result);
        KProperty* p = object->FindProperty(c.property);
        if (!c.expected) {
            EXPECT_EQ(p, nullptr);
            EXPECT_EQ(object->GetPropertyCount(), before);
        } else {
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(ValueText(p), c.expected);
        }
        if (std::string(c.property) != "Text") {
            EXPECT_EQ(ValueText(object->FindProperty("Text")), "after");
        }
    }
}

TEST(PropertyBlockBinary, TextWhereANumberBelongsIsSkipped) {
    using qovtest::Rec;
    TempFolder tmp;
    const std::string name = tmp / "b.qov";
    std::string bytes = qovtest::BinaryStart(6000);
    qovtest::Encode(bytes,
                    Rec("Properties60")
                        .Child(Rec("Property").S("Double").S("double").S("").I(0).S("1.5"))
                        .Child(Rec("Property").S("Int").S("int").S("").I(0).D(-3.9)),
                    0);
    qovtest::WriteAll(name, bytes + qovtest::NullRecord());
    auto object = MakeObject(false);
    EXPECT_TRUE(ReadBlock(name, *object));
    EXPECT_EQ(ValueText(object->FindProperty("Double")), "0;");
    EXPECT_EQ(ValueText(object->FindProperty("Int")), "-3;");
}

// A record goes to the first property of its name in the list; one it creates takes the
// later records of that name; lists far larger than the lookup table starts with.
TEST(PropertyBlockBinary, RecordsFindTheFirstPropertyOfTheirName) {
    using qovtest::Rec;
    struct Case {
        int builtIn;    // "P<i>" doubles in the object, each listed twice (a copy from another)
        int created;    // user-defined records for properties the object lacks, each twice
        bool reversed;  // records in the opposite order of the list
    };
    const Case cases[] = {
        {1, 0, false}, {3, 2, true}, {40, 0, true}, {7, 60, false}, {200, 200, true}};
    TempFolder tmp;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.builtIn * 1000 + c.created);
        KObject object, other;
        std::vector<KProperty*> list{nullptr};
        for (int i = 0; i < c.builtIn; ++i) {
            const std::string name = "P" + std::to_string(i);
            list.push_back(
                object.CreateProperty(name.c_str(), KProperty::eDOUBLE, nullptr, false, false));
            list.push_back(
                other.CreateProperty(name.c_str(), KProperty::eDOUBLE, nullptr, false, false));
        }
        Rec block("Properties60");
        std::vector<Rec> records;
        for (int i = 0; i < c.builtIn; ++i)
            records.push_back(
                Rec("Property").S("P" + std::to_string(i)).S("double").S("").I(0).D(i + 0.5));
        for (int round = 0; round < 2; ++round)
            for (int i = 0; i < c.created; ++i)
                records.push_back(Rec("Property")
                                      .S("U" + std::to_string(i))
                                      .S("Number")
                                      .S("U")
                                      .I(0)
                                      .D(round * 100 + i)
                                      .D(-1e9)
                                      .D(1e9));
        if (c.reversed) std::reverse(records.begin(), records.end());
        for (Rec& r : records) block.Child(r);
        std::string bytes = qovtest::BinaryStart(6000);
        qovtest::Encode(bytes, block, 0);
        const std::string name = tmp / "first.qov";
        qovtest::WriteAll(name, bytes + qovtest::NullRecord());

        std::unique_ptr<KQovPropertyFieldFile> file(KQovPropertyFieldFile::Create());
        ASSERT_TRUE(file->Open(name.c_str(), false, true, nullptr));
        ASSERT_TRUE(file->FieldReadPropertyBlock(list, &object));
        EXPECT_EQ(object.GetPropertyCount(), c.builtIn + c.created);
        EXPECT_EQ(list.size(), size_t(1 + 2 * c.builtIn + c.created));
        for (int i = 0; i < c.builtIn; ++i) {
            const std::string p = "P" + std::to_string(i);
            EXPECT_EQ(ValueText(object.FindProperty(p.c_str())), KFormatC("%.17g;", i + 0.5));
            EXPECT_EQ(ValueText(other.FindProperty(p.c_str())), "0;");
        }
        // The later record of a created name is the one that stays, whatever the order.
        for (int i = 0; i < c.created; ++i) {
            const std::string u = "U" + std::to_string(i);
            const double last = c.reversed ? i : 100 + i;
            EXPECT_EQ(ValueText(object.FindProperty(u.c_str())), KFormatC("%.17g;", last));
        }
    }
}

}  // namespace
