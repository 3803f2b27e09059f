#include "platform/com/variant.h"

#include <gtest/gtest.h>

#include "tests/platform/com/recording_sink.h"

namespace {

VARIANT make_i4(LONG v) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_I4;
    x.lVal = v;
    return x;
}

VARIANT make_bstr(const std::string& bytes) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_BSTR;
    x.bstrVal = BstrFromBytes(bytes);
    return x;
}

}  // namespace

TEST(Variant, CopyIsDeepAndClearFrees) {
    VARIANT a = make_bstr(std::string("a\0b", 3));
    VARIANT b;
    VariantInit(&b);
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_NE(a.bstrVal, b.bstrVal);
    EXPECT_EQ(BytesFromBstr(b.bstrVal), std::string("a\0b", 3));
    EXPECT_EQ(VariantClear(&a), S_OK);
    EXPECT_EQ(a.vt, VT_EMPTY);
    EXPECT_EQ(BytesFromBstr(b.bstrVal), std::string("a\0b", 3));  // still ours
    // Copying over a variant that holds a string frees the old string (ASan checks).
    VARIANT c = make_i4(7);
    ASSERT_EQ(VariantCopy(&b, &c), S_OK);
    EXPECT_EQ(b.vt, VT_I4);
    EXPECT_EQ(b.lVal, 7);
    EXPECT_EQ(VariantCopy(&b, &b), S_OK);  // self copy keeps the value
    EXPECT_EQ(b.lVal, 7);
}

TEST(Variant, InterfacesAreCountedByCopyAndClear) {
    RecordingSink sink;
    VARIANT a;
    VariantInit(&a);
    a.vt = VT_DISPATCH;
    a.pdispVal = &sink;
    sink.AddRef();
    VARIANT b;
    VariantInit(&b);
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_EQ(sink.refs, 2u);
    VariantClear(&a);
    VariantClear(&b);
    EXPECT_EQ(sink.refs, 0u);
}

TEST(Variant, ByrefCopiesThePointerAndCopyIndTheValue) {
    BSTR target = BstrFromBytes("pointed");
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BYREF | VT_BSTR;
    ref.pbstrVal = &target;
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &ref), S_OK);
    EXPECT_EQ(copy.pbstrVal, &target);
    VariantClear(&copy);  // does not free what it points at
    ASSERT_EQ(VariantCopyInd(&copy, &ref), S_OK);
    EXPECT_EQ(copy.vt, VT_BSTR);
    EXPECT_NE(copy.bstrVal, target);
    EXPECT_EQ(BytesFromBstr(copy.bstrVal), "pointed");
    VariantClear(&copy);
    SysFreeString(target);
}

TEST(Variant, UnknownTypesAreRefused) {
    VARIANT v;
    VariantInit(&v);
    v.vt = 0x7F;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    VARIANT d;
    VariantInit(&d);
    EXPECT_EQ(VariantCopy(&d, &v), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantChangeType(&d, &v, 0, VT_I4), DISP_E_BADVARTYPE);
}

TEST(Variant, ChangeTypeBetweenIntegersAndStrings) {
    VariantHolder out;
    VARIANT s = make_bstr("  -42 ");
    ASSERT_EQ(VariantChangeType(out.get(), &s, 0, VT_I4), S_OK);
    EXPECT_EQ(out->lVal, -42);
    ASSERT_EQ(VariantChangeType(out.get(), &s, 0, VT_I2), S_OK);
    EXPECT_EQ(out->iVal, -42);
    EXPECT_EQ(VariantChangeType(out.get(), &s, 0, VT_UI1), DISP_E_OVERFLOW);
    VariantClear(&s);

    for (const char* bad : {"", "12x", "0x10", "1 2", "+", "--1"}) {
        VARIANT b = make_bstr(bad);
        EXPECT_EQ(VariantChangeType(out.get(), &b, 0, VT_I4), DISP_E_TYPEMISMATCH) << bad;
        VariantClear(&b);
    }
    VARIANT big = make_bstr("2147483648");
    EXPECT_EQ(VariantChangeType(out.get(), &big, 0, VT_I4), DISP_E_OVERFLOW);
    VariantClear(&big);
    VARIANT huge = make_bstr("99999999999999999999999");
    EXPECT_EQ(VariantChangeType(out.get(), &huge, 0, VT_INT), DISP_E_OVERFLOW);
    VariantClear(&huge);

    VARIANT n = make_i4(-2147483647 - 1);
    ASSERT_EQ(VariantChangeType(out.get(), &n, 0, VT_BSTR), S_OK);
    EXPECT_EQ(BytesFromBstr(out->bstrVal), "-2147483648");
    EXPECT_EQ(VariantChangeType(out.get(), &n, 0, VT_I2), DISP_E_OVERFLOW);
    ASSERT_EQ(VariantChangeType(out.get(), &n, 0, VT_BOOL), S_OK);
    EXPECT_EQ(out->boolVal, VARIANT_TRUE);
}

TEST(Variant, ChangeTypeRoundsDoublesHalfToEven) {
    VariantHolder out;
    VARIANT d;
    VariantInit(&d);
    d.vt = VT_R8;
    d.dblVal = 2.5;
    ASSERT_EQ(VariantChangeType(out.get(), &d, 0, VT_I4), S_OK);
    EXPECT_EQ(out->lVal, 2);
    d.dblVal = -3.5;
    ASSERT_EQ(VariantChangeType(out.get(), &d, 0, VT_I4), S_OK);
    EXPECT_EQ(out->lVal, -4);
    d.dblVal = 1e300;
    EXPECT_EQ(VariantChangeType(out.get(), &d, 0, VT_I4), DISP_E_OVERFLOW);
    VARIANT s = make_bstr("1.25e2");
    ASSERT_EQ(VariantChangeType(out.get(), &s, 0, VT_R8), S_OK);
    EXPECT_DOUBLE_EQ(out->dblVal, 125.0);
    VariantClear(&s);
}

TEST(Variant, ChangeTypeReadsThroughByrefAndInPlace) {
    LONG stored = 300;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BYREF | VT_I4;
    ref.plVal = &stored;
    VariantHolder out;
    ASSERT_EQ(VariantChangeType(out.get(), &ref, 0, VT_BSTR), S_OK);
    EXPECT_EQ(BytesFromBstr(out->bstrVal), "300");

    VARIANT s = make_bstr("17");
    ASSERT_EQ(VariantChangeType(&s, &s, 0, VT_I4), S_OK);  // frees the string itself
    EXPECT_EQ(s.vt, VT_I4);
    EXPECT_EQ(s.lVal, 17);

    VARIANT e;
    VariantInit(&e);
    ASSERT_EQ(VariantChangeType(out.get(), &e, 0, VT_I4), S_OK);
    EXPECT_EQ(out->lVal, 0);
}
