#include "platform/com/bstr.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

using Prefix = std::uint32_t;  // byte length of the characters

static_assert(sizeof(Prefix) == 4, "the length prefix of bstr.h");
constexpr std::size_t kMaxLength = kMaxBstrLength;

Prefix* prefix_of(BSTR text) {
    return reinterpret_cast<Prefix*>(reinterpret_cast<char*>(text) - sizeof(Prefix));
}

BSTR allocate(std::size_t length) {
    if (length > kMaxLength) return nullptr;
    void* block = std::malloc(sizeof(Prefix) + (length + 1) * sizeof(OLECHAR));
    if (!block) return nullptr;
    *static_cast<Prefix*>(block) = static_cast<Prefix>(length * sizeof(OLECHAR));
    BSTR text = reinterpret_cast<BSTR>(static_cast<char*>(block) + sizeof(Prefix));
    text[length] = 0;
    return text;
}

std::size_t ole_length(LPCOLESTR text) {
    std::size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

}  // namespace

BSTR SysAllocString(LPCOLESTR text) {
    std::size_t length = ole_length(text);
    BSTR result = allocate(length);
    if (result && length) std::memcpy(result, text, length * sizeof(OLECHAR));
    return result;
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    BSTR result = allocate(length);
    if (!result) return nullptr;
    if (text)
        std::memcpy(result, text, std::size_t{length} * sizeof(OLECHAR));
    else
        std::memset(result, 0, std::size_t{length} * sizeof(OLECHAR));
    return result;
}

void SysFreeString(BSTR text) {
    if (text) std::free(prefix_of(text));
}

UINT SysStringLen(BSTR text) {
    return text ? *prefix_of(text) / sizeof(OLECHAR) : 0;
}

UINT SysStringByteLen(BSTR text) {
    return text ? *prefix_of(text) : 0;
}

BOOL SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length) {
    if (!target) return FALSE;
    BSTR fresh = SysAllocStringLen(text, length);
    if (!fresh) return FALSE;
    SysFreeString(*target);
    *target = fresh;
    return TRUE;
}

BSTR BstrFromBytes(std::string_view bytes) {
    BSTR result = allocate(bytes.size());
    if (!result) return nullptr;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        result[i] = static_cast<OLECHAR>(static_cast<unsigned char>(bytes[i]));
    return result;
}

namespace {

std::string narrow(const OLECHAR* text, std::size_t length) {
    std::string out(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        out[i] = text[i] <= 0xFF ? static_cast<char>(static_cast<unsigned char>(text[i])) : '?';
    return out;
}

}  // namespace

std::string BytesFromBstr(BSTR text) {
    return text ? narrow(text, SysStringLen(text)) : std::string();
}

std::string BytesFromOleString(LPCOLESTR text) {
    return narrow(text, ole_length(text));
}

std::u16string OleStringFromBytes(std::string_view bytes) {
    std::u16string out(bytes.size(), u'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]));
    return out;
}
