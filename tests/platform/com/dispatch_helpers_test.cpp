#include <gtest/gtest.h>

#include "platform/com/dispatch.h"

namespace {

// Arguments of f(LONG a, BSTR b, LONG* out_n, BSTR* out_s) as Invoke receives them.
struct Args {
    LONG n = 5;
    BSTR s = nullptr;
    VARIANT v[4];
    DISPPARAMS params{v, nullptr, 4, 0};

    Args() {
        for (VARIANT& x : v) VariantInit(&x);
        v[3].vt = VT_I4;
        v[3].lVal = 11;  // a: first argument, last in the array
        v[2].vt = VT_BSTR;
        v[2].bstrVal = BstrFromBytes("hello");
        v[1].vt = VT_BYREF | VT_I4;
        v[1].plVal = &n;
        v[0].vt = VT_BYREF | VT_BSTR;
        v[0].pbstrVal = &s;
    }
    ~Args() {
        VariantClear(&v[2]);
        SysFreeString(s);
    }
};

}  // namespace

TEST(DispatchHelpers, GetParamCountsPositionsFromTheEnd) {
    Args args;
    VariantHolder a, b;
    ASSERT_EQ(DispGetParam(&args.params, 0, VT_I4, a.get(), nullptr), S_OK);
    EXPECT_EQ(a->lVal, 11);
    ASSERT_EQ(DispGetParam(&args.params, 1, VT_BSTR, b.get(), nullptr), S_OK);
    EXPECT_EQ(BytesFromBstr(b->bstrVal), "hello");
    EXPECT_NE(b->bstrVal, args.v[2].bstrVal);  // a copy the caller owns
    ASSERT_EQ(DispGetParam(&args.params, 2, VT_I4, a.get(), nullptr), S_OK);  // read through BYREF
    EXPECT_EQ(a->lVal, 5);
    EXPECT_EQ(DispGetParam(&args.params, 4, VT_I4, a.get(), nullptr), DISP_E_PARAMNOTFOUND);
    UINT err = 99;
    EXPECT_EQ(DispGetParam(&args.params, 1, VT_I4, a.get(), &err), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(err, 2u);  // index in rgvarg
}

TEST(DispatchHelpers, NamedArgumentsAreFoundByTheirId) {
    VARIANT v[2];
    VariantInit(&v[0]);
    VariantInit(&v[1]);
    v[0].vt = VT_I4;
    v[0].lVal = 7;  // named: parameter 1
    v[1].vt = VT_I4;
    v[1].lVal = 3;  // positional: parameter 0
    DISPID named[] = {1};
    DISPPARAMS params{v, named, 2, 1};
    VariantHolder out;
    ASSERT_EQ(DispGetParam(&params, 1, VT_I4, out.get(), nullptr), S_OK);
    EXPECT_EQ(out->lVal, 7);
    ASSERT_EQ(DispGetParam(&params, 0, VT_I4, out.get(), nullptr), S_OK);
    EXPECT_EQ(out->lVal, 3);
    EXPECT_EQ(DispGetParam(&params, 2, VT_I4, out.get(), nullptr), DISP_E_PARAMNOTFOUND);
}

TEST(DispatchHelpers, OutParametersAreWrittenThroughTheirPointers) {
    Args args;
    ASSERT_EQ(DispSetOutLong(&args.params, 2, 42, nullptr), S_OK);
    EXPECT_EQ(args.n, 42);
    BstrHolder value(std::string("x\0y", 3));
    ASSERT_EQ(DispSetOutBstr(&args.params, 3, value.get(), nullptr), S_OK);
    EXPECT_EQ(BytesFromBstr(args.s), std::string("x\0y", 3));
    EXPECT_NE(args.s, value.get());
    // A second store replaces (and frees) the first string.
    ASSERT_EQ(DispSetOutBstr(&args.params, 3, nullptr, nullptr), S_OK);
    EXPECT_EQ(SysStringLen(args.s), 0u);
    // Numbers convert to the target's type.
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_I4;
    text.lVal = -3;
    ASSERT_EQ(DispSetOutParam(&args.params, 3, text, nullptr), S_OK);
    EXPECT_EQ(BytesFromBstr(args.s), "-3");
}

TEST(DispatchHelpers, OutParameterMustBeByref) {
    Args args;
    UINT err = 0;
    EXPECT_EQ(DispSetOutLong(&args.params, 0, 1, &err), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(err, 3u);
    EXPECT_EQ(args.v[3].lVal, 11);
    EXPECT_EQ(DispSetOutLong(&args.params, 9, 1, nullptr), DISP_E_PARAMNOTFOUND);
}

TEST(DispatchHelpers, ExceptionInfoIsFilled) {
    EXCEPINFO info;
    DispFillException(&info, "src", "went wrong", E_FAIL);
    EXPECT_EQ(BytesFromBstr(info.bstrSource), "src");
    EXPECT_EQ(BytesFromBstr(info.bstrDescription), "went wrong");
    EXPECT_EQ(info.scode, E_FAIL);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    DispFillException(nullptr, "a", "b", 0);
}
