#include "platform/com/guid.h"

#include <gtest/gtest.h>

#include "platform/com/bstr.h"

namespace {
constexpr GUID kSample = {0x01234567, 0x89AB, 0xCDEF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
}

TEST(Guid, TextRoundTrip) {
    OLECHAR buffer[39];
    ASSERT_EQ(StringFromGUID2(kSample, buffer, 39), 39);
    EXPECT_EQ(BytesFromOleString(buffer), "{01234567-89AB-CDEF-FEDC-BA9876543210}");
    GUID back{};
    ASSERT_EQ(CLSIDFromString(buffer, &back), S_OK);
    EXPECT_TRUE(IsEqualGUID(back, kSample));

    EXPECT_EQ(GuidToString(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
    GUID parsed{};
    ASSERT_TRUE(GuidFromString("{b196b286-bab4-101a-b69c-00aa00341d07}", &parsed));  // lower case too
    EXPECT_EQ(parsed, IID_IConnectionPoint);
}

TEST(Guid, RejectsMalformedText) {
    GUID g = kSample;
    for (const char16_t* bad : {u"", u"01234567-89AB-CDEF-FEDC-BA9876543210",
                                u"{01234567-89AB-CDEF-FEDC-BA9876543210", u"{01234567-89AB-CDEF-FEDCBA9876543210}",
                                u"{0123456-789AB-CDEF-FEDC-BA9876543210}", u"{01234567-89AB-CDEF-FEDC-BA987654321G}",
                                u"{01234567-89AB-CDEF-FEDC-BA9876543210}x", u"{01234567+89AB-CDEF-FEDC-BA9876543210}"}) {
        EXPECT_EQ(CLSIDFromString(bad, &g), CO_E_CLASSSTRING) << BytesFromOleString(bad);
    }
    EXPECT_EQ(g, kSample);  // untouched on failure
    EXPECT_EQ(CLSIDFromString(nullptr, &g), E_POINTER);
    EXPECT_FALSE(GuidFromString("{01234567-89AB-CDEF-FEDC-BA98765432}", &g));
}

TEST(Guid, StringFromGuid2NeedsRoomForTheWholeText) {
    OLECHAR small[38];
    EXPECT_EQ(StringFromGUID2(kSample, small, 38), 0);
}

TEST(Guid, Comparison) {
    GUID other = kSample;
    other.Data4[7] ^= 1;
    EXPECT_FALSE(IsEqualGUID(kSample, other));
    EXPECT_FALSE(IID_IUnknown == IID_IClassFactory);
    EXPECT_TRUE(IID_NULL == CLSID_NULL);
}
