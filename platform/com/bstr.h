// BSTR: a length-prefixed string of 16-bit characters. The 32-bit byte length
// sits just before the first character and a zero character follows the last,
// so a BSTR is also a zero-terminated OLECHAR string; it may hold zero
// characters inside. A null BSTR is a valid empty string.
//
// Text crosses the component interfaces byte for character: byte value =
// character code 0..255. BstrFromBytes/BytesFromBstr do that conversion; they
// never consult the C locale.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/com/base_types.h"

using BSTR = OLECHAR*;

// The most characters a BSTR holds: their byte length and the allocation
// (32-bit length prefix, characters, terminating zero) fit the 32-bit prefix.
constexpr std::size_t kMaxBstrLength = (0xFFFFFFFFu - 4) / sizeof(OLECHAR) - 1;

// New BSTR copying the zero-terminated `text`; null `text` gives an empty
// BSTR (not null). Null when memory is exhausted.
TARVO_COM_API BSTR SysAllocString(LPCOLESTR text);
// New BSTR of `length` characters copied from `text` (may hold zeros), or left
// zero-filled when `text` is null. Null when memory is exhausted or the length
// is too large to be represented.
TARVO_COM_API BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// Frees a BSTR from SysAlloc*; null is allowed.
TARVO_COM_API void SysFreeString(BSTR text);
// Characters in the BSTR (from its prefix, not by scanning); 0 for null.
TARVO_COM_API UINT SysStringLen(BSTR text);
TARVO_COM_API UINT SysStringByteLen(BSTR text);
// Replaces *target with a copy of `length` characters of `text` (frees the old
// one). FALSE when memory is exhausted; *target is then unchanged.
TARVO_COM_API BOOL SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length);

// Byte string -> BSTR, one character per byte (zero bytes kept).
TARVO_COM_API BSTR BstrFromBytes(std::string_view bytes);
// BSTR -> byte string over its full length, one byte per character (zero
// characters kept); a character above 255 becomes '?'. Null gives "".
TARVO_COM_API std::string BytesFromBstr(BSTR text);
// The same for a zero-terminated OLECHAR string that is no BSTR (names).
TARVO_COM_API std::string BytesFromOleString(LPCOLESTR text);
// A zero-terminated OLECHAR string of the bytes, for building name arrays.
TARVO_COM_API std::u16string OleStringFromBytes(std::string_view bytes);

// Owns one BSTR; frees it on destruction. For hosts and tests.
class BstrHolder {
public:
    BstrHolder() = default;
    explicit BstrHolder(BSTR adopted) : text_(adopted) {}
    explicit BstrHolder(std::string_view bytes) : text_(BstrFromBytes(bytes)) {}
    ~BstrHolder() { SysFreeString(text_); }
    BstrHolder(const BstrHolder&) = delete;
    BstrHolder& operator=(const BstrHolder&) = delete;

    BSTR get() const { return text_; }
    BSTR* out() { reset(); return &text_; }  // for out-parameters
    BSTR release() { BSTR t = text_; text_ = nullptr; return t; }
    void reset(BSTR adopted = nullptr) { SysFreeString(text_); text_ = adopted; }
    std::string bytes() const { return BytesFromBstr(text_); }

private:
    BSTR text_ = nullptr;
};
