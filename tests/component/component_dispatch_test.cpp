// Late binding and self-description: the type library as registered, the
// registration entries, the exports, and how IDispatch::Invoke treats calls
// that do not fit a method.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include "driver/component/tarvo_guids.h"
#include "driver/line/line_type.h"
#include "platform/com/server_exports.h"
#include "tests/component/driver_env.h"

namespace tarvo::test {
namespace {

std::string key_value(const std::string& key, const std::string& name = "") {
    std::string value;
    if (FAILED(RegStoreGetValue(key, name, &value))) return "<missing>";
    return value;
}

DISPID id_of(ITarvo* driver, const char* name) {
    std::u16string wide = OleStringFromBytes(name);
    LPOLESTR names[] = {wide.data()};
    DISPID id = 0;
    EXPECT_EQ(driver->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << name;
    return id;
}

TEST(Registration, WritesTheClassProgramIdsAndTypeLibrary) {
    register_component();
    const std::string clsid = GuidToString(CLSID_Quill1);
    const std::string cls = "HKCR\\CLSID\\" + clsid;
    EXPECT_EQ(key_value("HKCR\\TARVOSrv1.Quill1.1"), "Quill1 Class");
    EXPECT_EQ(key_value("HKCR\\TARVOSrv1.Quill1.1\\CLSID"), clsid);
    EXPECT_EQ(key_value("HKCR\\TARVOSrv1.Quill1"), "Quill1 Class");
    EXPECT_EQ(key_value("HKCR\\TARVOSrv1.Quill1\\CLSID"), clsid);
    EXPECT_EQ(key_value("HKCR\\TARVOSrv1.Quill1\\CurVer"), "TARVOSrv1.Quill1.1");
    EXPECT_EQ(key_value(cls), "Quill1 Class");
    EXPECT_EQ(key_value(cls + "\\ProgID"), "TARVOSrv1.Quill1.1");
    EXPECT_EQ(key_value(cls + "\\VersionIndependentProgID"), "TARVOSrv1.Quill1");
    EXPECT_TRUE(RegStoreKeyExists(cls + "\\Programmable"));
    char real[4096];
    ASSERT_NE(realpath(component_path(), real), nullptr);
    EXPECT_EQ(key_value(cls + "\\InprocServer32"), real);
    EXPECT_EQ(key_value(cls + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(key_value(cls + "\\TypeLib"), GuidToString(LIBID_TARVOSRV1Lib));
    EXPECT_TRUE(RegStoreKeyExists("HKCR\\TypeLib\\" + GuidToString(LIBID_TARVOSRV1Lib)));
}

TEST(Registration, UnregisteringRemovesEverythingAndRegisteringAgainRestoresIt) {
    register_component();
    void* lib = dlopen(component_path(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr);
    auto reg = reinterpret_cast<DllRegisterServerFn>(dlsym(lib, "DllRegisterServer"));
    auto unreg = reinterpret_cast<DllUnregisterServerFn>(dlsym(lib, "DllUnregisterServer"));
    ASSERT_TRUE(reg && unreg);
    const std::string cls = "HKCR\\CLSID\\" + GuidToString(CLSID_Quill1);
    RegStoreCreateKey(cls + "\\Leftover");  // replaced whole, removed whole
    EXPECT_EQ(unreg(), S_OK);
    EXPECT_FALSE(RegStoreKeyExists(cls));
    EXPECT_FALSE(RegStoreKeyExists("HKCR\\TARVOSrv1.Quill1"));
    EXPECT_FALSE(RegStoreKeyExists("HKCR\\TARVOSrv1.Quill1.1"));
    EXPECT_FALSE(RegStoreKeyExists("HKCR\\TypeLib\\" + GuidToString(LIBID_TARVOSRV1Lib)));
    EXPECT_EQ(unreg(), S_OK);  // nothing left to remove is no error
    CLSID clsid{};
    EXPECT_NE(CLSIDFromProgID(OleStringFromBytes(kProgId).c_str(), &clsid), S_OK);
    EXPECT_EQ(reg(), S_OK);
    EXPECT_FALSE(RegStoreKeyExists(cls + "\\Leftover"));
    EXPECT_EQ(CLSIDFromProgID(OleStringFromBytes(kProgId).c_str(), &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Quill1));
    dlclose(lib);
}

TEST(Exports, OnlyTheDriverClassAndTheUnloadRule) {
    register_component();
    void* lib = dlopen(component_path(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr);
    auto get = reinterpret_cast<DllGetClassObjectFn>(dlsym(lib, "DllGetClassObject"));
    auto can_unload = reinterpret_cast<DllCanUnloadNowFn>(dlsym(lib, "DllCanUnloadNow"));
    ASSERT_TRUE(get && can_unload);
    EXPECT_EQ(dlsym(lib, "create_process_logger"), nullptr);  // nothing else is visible
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(get(LIBID_TARVOSRV1Lib, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(can_unload(), S_OK);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(get(CLSID_Quill1, IID_IClassFactory, factory.out_void()), S_OK);
    EXPECT_EQ(can_unload(), S_FALSE);
    ComPtr<ITarvo> driver;
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory.get()), IID_ITarvo,
                                      driver.out_void()),
              CLASS_E_NOAGGREGATION);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITarvo, driver.out_void()), S_OK);
    factory.reset();
    EXPECT_EQ(can_unload(), S_FALSE);
    ASSERT_EQ(driver->SetLineType(ltHSMS), S_OK);
    driver.reset();
    EXPECT_EQ(can_unload(), S_OK);  // the object, its worker and its line are gone
    dlclose(lib);
}

TEST(Identity, TheObjectAnswersItsInterfacesWithOneIdentity) {
    ComPtr<ITarvo> driver = create_driver();
    ComPtr<IUnknown> a, b;
    ASSERT_EQ(driver->QueryInterface(IID_IUnknown, a.out_void()), S_OK);
    ComPtr<IConnectionPointContainer> cpc;
    ASSERT_EQ(driver->QueryInterface(IID_IConnectionPointContainer, cpc.out_void()), S_OK);
    ASSERT_EQ(cpc->QueryInterface(IID_IUnknown, b.out_void()), S_OK);
    EXPECT_EQ(a.get(), b.get());
    ComPtr<IUnknown> marshal;
    EXPECT_EQ(driver->QueryInterface(IID_IMarshal, marshal.out_void()), S_OK);
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(driver->QueryInterface(IID_IDispatch, dispatch.out_void()), S_OK);
    ComPtr<IUnknown> none;
    EXPECT_EQ(driver->QueryInterface(IID_IClassFactory, none.out_void()), E_NOINTERFACE);
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(cpc->FindConnectionPoint(IID_IDispatch, point.out()), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(cpc->FindConnectionPoint(DIID__ITarvoEvents, point.out()), S_OK);
    IID iid{};
    EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_TRUE(IsEqualIID(iid, DIID__ITarvoEvents));
    ComPtr<IConnectionPointContainer> back;
    ASSERT_EQ(point->GetConnectionPointContainer(back.out()), S_OK);
    EXPECT_EQ(back.get(), cpc.get());
    EXPECT_EQ(point->Unadvise(42), CONNECT_E_NOCONNECTION);
}

TEST(TypeLibrary, DescribesEveryMethodAsRegistered) {
    register_component();
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadRegTypeLib(LIBID_TARVOSRV1Lib, 1, 0, LOCALE_USER_DEFAULT, lib.out()), S_OK);
    const TypeLibDesc* desc = nullptr;
    ASSERT_EQ(lib->GetLibDesc(&desc), S_OK);
    EXPECT_STREQ(desc->name, "TARVOSRV1Lib");
    EXPECT_STREQ(desc->doc, "TarvoSrv1 1.0 Type Library");
    for (const char* name : {"enum_SECS_NOTIFY", "enum_SECS_LINE_TYPE", "enum_SECS_ELEM_TYPE", "enum_HSMS_CONN_MODE"}) {
        ComPtr<ITypeInfo> e;
        EXPECT_EQ(lib->FindTypeInfo(name, e.out()), S_OK) << name;
    }
    ComPtr<ITypeInfo> cls;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_Quill1, cls.out()), S_OK);
    const TypeDesc* td = nullptr;
    ASSERT_EQ(cls->GetTypeDesc(&td), S_OK);
    EXPECT_STREQ(td->name, "Tarvo");
    EXPECT_STREQ(td->doc, "Tarvo Class");
    EXPECT_TRUE(IsEqualIID(td->default_interface, IID_ITarvo));
    EXPECT_TRUE(IsEqualIID(td->default_source, DIID__ITarvoEvents));

    ComPtr<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_ITarvo, info.out()), S_OK);
    ASSERT_EQ(info->GetTypeDesc(&td), S_OK);
    EXPECT_STREQ(td->doc, "ITarvo Interface for managing SECSI lines");
    EXPECT_TRUE(td->flags & TYPEFLAG_FDUAL);
    ASSERT_EQ(td->funcs.size(), 71u);
    for (size_t i = 0; i < td->funcs.size(); ++i) EXPECT_EQ(td->funcs[i].memid, static_cast<DISPID>(i + 1));
    const FuncDesc* f = nullptr;
    ASSERT_EQ(info->GetFuncDescOfId(3, &f), S_OK);
    EXPECT_STREQ(f->name, "SetLineType");
    EXPECT_STREQ(f->doc, "Set Type of Line: ltTCP or ltCOMM");
    EXPECT_STREQ(f->params[0].type_name, "enum_SECS_LINE_TYPE");
    ASSERT_EQ(info->GetFuncDescOfId(65, &f), S_OK);
    ASSERT_EQ(f->params.size(), 2u);
    EXPECT_STREQ(f->params[0].name, "client_num");
    EXPECT_EQ(f->params[0].flags, PARAMFLAG_FIN);
    EXPECT_STREQ(f->params[1].name, "sessionID");
    EXPECT_EQ(f->params[1].flags, PARAMFLAG_FOUT);
    ASSERT_EQ(info->GetFuncDescOfId(69, &f), S_OK);
    EXPECT_EQ(f->params[0].flags, PARAMFLAG_FIN);  // marked "in" though it receives the count
    EXPECT_EQ(f->params[0].vt, VT_BYREF | VT_INT);
    ASSERT_EQ(info->GetFuncDescOfId(57, &f), S_OK);
    EXPECT_STREQ(f->doc, "Put a string to driver's log file");

    ComPtr<ITypeInfo> events;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(DIID__ITarvoEvents, events.out()), S_OK);
    ASSERT_EQ(events->GetTypeDesc(&td), S_OK);
    EXPECT_STREQ(td->doc, "_ITarvoEvents Interface");
    ASSERT_EQ(td->funcs.size(), 3u);
    EXPECT_STREQ(td->funcs[1].name, "OnSecsNotify");
    EXPECT_STREQ(td->funcs[1].params[0].name, "sNotify");
}

TEST(Dispatch, NamesResolveWithoutRegardToCase) {
    ComPtr<ITarvo> driver = create_driver();
    UINT count = 0;
    EXPECT_EQ(driver->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(driver->GetTypeInfo(1, 0, info.out()), DISP_E_BADINDEX);
    ASSERT_EQ(driver->GetTypeInfo(0, 0, info.out()), S_OK);
    EXPECT_EQ(id_of(driver.get(), "gett5"), 14);
    EXPECT_EQ(id_of(driver.get(), "NEXTMESSAGEBYTE"), 71);
    std::u16string wide = OleStringFromBytes("NoSuchMethod");
    LPOLESTR names[] = {wide.data()};
    DISPID id = 0;
    EXPECT_EQ(driver->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
}

TEST(Dispatch, CallsThatDoNotFitAMethodAreRefusedBeforeAnythingRuns) {
    ComPtr<ITarvo> driver = create_driver();
    ASSERT_EQ(driver->SetLineType(ltHSMS), S_OK);
    UINT arg_err = 99;
    VARIANT args[2];
    DISPPARAMS params{args, nullptr, 1, 0};

    EXPECT_EQ(driver->Invoke(72, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, &arg_err),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(driver->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, &arg_err),
              DISP_E_MEMBERNOTFOUND);
    params.cArgs = 0;  // SetT5 wants one argument
    EXPECT_EQ(driver->Invoke(13, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, &arg_err),
              DISP_E_BADPARAMCOUNT);
    params.cArgs = 1;
    args[0].vt = VT_I4;  // GetT5 wants a reference to write to
    args[0].lVal = 0;
    EXPECT_EQ(driver->Invoke(14, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, &arg_err),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(arg_err, 0u);
    BstrHolder text("not a number");
    args[0].vt = VT_BSTR;
    args[0].bstrVal = text.get();
    EXPECT_EQ(driver->Invoke(13, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, &arg_err),
              DISP_E_TYPEMISMATCH);
    BstrHolder number(" 1234 ");
    args[0].bstrVal = number.get();  // converts
    EXPECT_EQ(driver->Invoke(13, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, &arg_err), S_OK);
    INT t5 = 0;
    ASSERT_EQ(driver->GetT5(&t5), S_OK);
    EXPECT_EQ(t5, 1234);
    DISPID named = 0;
    params.rgdispidNamedArgs = &named;
    params.cNamedArgs = 1;
    EXPECT_EQ(driver->Invoke(13, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, &arg_err),
              DISP_E_NONAMEDARGS);
    params.cNamedArgs = 0;
    EXPECT_EQ(driver->Invoke(13, IID_IDispatch, 0, DISPATCH_METHOD, &params, nullptr, nullptr, &arg_err),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(driver->Invoke(13, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, &arg_err),
              DISP_E_MEMBERNOTFOUND);
}

TEST(Dispatch, OutStringsReplaceWhatTheReferenceHeld) {
    ComPtr<ITarvo> driver = create_driver();
    ASSERT_EQ(driver->SetLineType(ltHSMS), S_OK);
    BSTR held = BstrFromBytes("old text");  // freed by Invoke when it stores the new one
    VARIANT arg;
    arg.vt = VT_BYREF | VT_BSTR;
    arg.pbstrVal = &held;
    DISPPARAMS params{&arg, nullptr, 1, 0};
    ASSERT_EQ(driver->Invoke(30, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(take_text(held), "127.0.0.1");
}

TEST(Dispatch, GetElemGnrlQuanAnswersThroughItsReference) {
    ComPtr<ITarvo> driver = create_driver();
    ASSERT_EQ(driver->SetLineType(ltHSMS), S_OK);
    VARIANT arg;
    arg.vt = VT_I4;  // a plain value: accepted, but nothing comes back
    arg.lVal = 5;
    DISPPARAMS params{&arg, nullptr, 1, 0};
    VariantHolder result;
    ASSERT_EQ(driver->Invoke(69, IID_NULL, 0, DISPATCH_METHOD, &params, result.get(), nullptr, nullptr), S_OK);
    EXPECT_EQ(result->vt, VT_EMPTY);
    LONG count = 5;
    arg.vt = VT_BYREF | VT_I4;
    arg.plVal = &count;
    ASSERT_EQ(driver->Invoke(69, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace tarvo::test
