#include <gtest/gtest.h>

#include "platform/com/module.h"
#include "platform/com/type_info.h"

namespace {

constexpr GUID kLib = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kIface = {0x11111112, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr ParamDesc kParams[] = {{"value", VT_I4, PARAMFLAG_FIN}, {"stat", VT_I4, PARAMFLAG_FOUT}};
constexpr FuncDesc kFuncs[] = {
    {1, "SetActive", "Activate or deactivate line", kParams},
    {38, "NextMessage", "Analyze Next Received Message", {}},
};
constexpr ConstDesc kConsts[] = {{"ltHSMS", 37}, {"ltNone", 41}};
constexpr TypeDesc kTypes[] = {
    {.kind = TKIND_DISPATCH, .name = "IThing", .doc = "IThing Interface", .guid = kIface,
     .flags = TYPEFLAG_FDUAL, .funcs = kFuncs},
    {.kind = TKIND_ENUM, .name = "enum_LINE", .doc = "", .guid = IID_NULL, .consts = kConsts},
};
constexpr TypeLibDesc kDesc = {"THINGLib", "Thing 1.0 Type Library", kLib, 1, 0, kTypes};

struct TypeLibTest : ::testing::Test {
    void SetUp() override {
        ASSERT_EQ(CreateStaticTypeLib(&kDesc, lib.out()), S_OK);
        ASSERT_EQ(lib->GetTypeInfoOfGuid(kIface, info.out()), S_OK);
    }
    ComPtr<ITypeLib> lib;
    ComPtr<ITypeInfo> info;
};

}  // namespace

TEST_F(TypeLibTest, NamesResolveWithoutRegardToCase) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"setactive"), const_cast<LPOLESTR>(u"STAT"),
                        const_cast<LPOLESTR>(u"Value")};
    DISPID ids[3];
    ASSERT_EQ(DispGetIDsOfNames(info.get(), names, 3, ids), S_OK);
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(ids[1], 1);  // parameter positions
    EXPECT_EQ(ids[2], 0);

    LPOLESTR next[] = {const_cast<LPOLESTR>(u"NextMessage")};
    ASSERT_EQ(info->GetIDsOfNames(next, 1, ids), S_OK);
    EXPECT_EQ(ids[0], 38);
}

TEST_F(TypeLibTest, UnknownNamesAreMarked) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"SetActive"), const_cast<LPOLESTR>(u"nope")};
    DISPID ids[2];
    EXPECT_EQ(info->GetIDsOfNames(names, 2, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
    LPOLESTR missing[] = {const_cast<LPOLESTR>(u"SetActiv")};
    EXPECT_EQ(info->GetIDsOfNames(missing, 1, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
    EXPECT_EQ(DispGetIDsOfNames(nullptr, missing, 1, ids), E_INVALIDARG);
}

TEST_F(TypeLibTest, DescriptionsAndDocumentation) {
    const FuncDesc* f = nullptr;
    ASSERT_EQ(info->GetFuncDesc(0, &f), S_OK);
    EXPECT_STREQ(f->name, "SetActive");
    ASSERT_EQ(f->params.size(), 2u);
    EXPECT_EQ(f->params[1].flags, PARAMFLAG_FOUT);
    EXPECT_EQ(info->GetFuncDesc(2, &f), TYPE_E_ELEMENTNOTFOUND);
    ASSERT_EQ(info->GetFuncDescOfId(38, &f), S_OK);
    EXPECT_STREQ(f->name, "NextMessage");
    EXPECT_EQ(info->GetFuncDescOfId(2, &f), DISP_E_MEMBERNOTFOUND);

    BstrHolder name, doc;
    ASSERT_EQ(info->GetDocumentation(1, name.out(), doc.out()), S_OK);
    EXPECT_EQ(name.bytes(), "SetActive");
    EXPECT_EQ(doc.bytes(), "Activate or deactivate line");
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, name.out(), nullptr), S_OK);
    EXPECT_EQ(name.bytes(), "IThing");
    ASSERT_EQ(lib->GetDocumentation(-1, nullptr, doc.out()), S_OK);
    EXPECT_EQ(doc.bytes(), "Thing 1.0 Type Library");
    EXPECT_EQ(lib->GetDocumentation(2, name.out(), doc.out()), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(TypeLibTest, TypesAreFoundByIndexGuidAndName) {
    EXPECT_EQ(lib->GetTypeInfoCount(), 2u);
    ComPtr<ITypeInfo> e;
    ASSERT_EQ(lib->FindTypeInfo("ENUM_line", e.out()), S_OK);
    const TypeDesc* d = nullptr;
    ASSERT_EQ(e->GetTypeDesc(&d), S_OK);
    EXPECT_EQ(d->kind, TKIND_ENUM);
    EXPECT_EQ(d->consts[1].value, 41);
    EXPECT_EQ(lib->GetTypeInfoOfGuid(IID_NULL, e.out()), TYPE_E_ELEMENTNOTFOUND);  // enums have no guid
    EXPECT_EQ(lib->GetTypeInfo(2, e.out()), TYPE_E_ELEMENTNOTFOUND);

    ComPtr<ITypeLib> owner;
    UINT index = 9;
    ASSERT_EQ(info->GetContainingTypeLib(owner.out(), &index), S_OK);
    EXPECT_EQ(owner.get(), lib.get());
    EXPECT_EQ(index, 0u);
}

TEST_F(TypeLibTest, LiveTypeInformationHoldsTheModule) {
    EXPECT_EQ(ModuleCanUnloadNow(), S_FALSE);
    lib.reset();  // the type info keeps its library alive
    const TypeDesc* d = nullptr;
    ASSERT_EQ(info->GetTypeDesc(&d), S_OK);
    EXPECT_STREQ(d->name, "IThing");
    info.reset();
    EXPECT_EQ(ModuleCanUnloadNow(), S_OK);
}
