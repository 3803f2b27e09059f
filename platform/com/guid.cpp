#include "platform/com/guid.h"

#include <cstdio>

namespace {

int hex_value(unsigned c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

// `at(i)` yields the i-th character code of a text of exactly `size` characters.
template <class At>
bool parse(At at, std::size_t size, GUID* guid) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (size != 38 || at(0) != '{' || at(37) != '}') return false;
    for (std::size_t i : {9u, 14u, 19u, 24u})
        if (at(i) != '-') return false;
    std::size_t pos = 1;
    auto hex = [&](int digits, std::uint64_t* out) {
        std::uint64_t v = 0;
        for (int d = 0; d < digits; ++d, ++pos) {
            if (pos == 9 || pos == 14 || pos == 19 || pos == 24) ++pos;  // the dashes
            int h = hex_value(at(pos));
            if (h < 0) return false;
            v = (v << 4) | static_cast<unsigned>(h);
        }
        *out = v;
        return true;
    };
    std::uint64_t v = 0;
    GUID g{};
    if (!hex(8, &v)) return false;
    g.Data1 = static_cast<DWORD>(v);
    if (!hex(4, &v)) return false;
    g.Data2 = static_cast<WORD>(v);
    if (!hex(4, &v)) return false;
    g.Data3 = static_cast<WORD>(v);
    for (int i = 0; i < 8; ++i) {
        if (!hex(2, &v)) return false;
        g.Data4[i] = static_cast<BYTE>(v);
    }
    *guid = g;
    return true;
}

}  // namespace

std::string GuidToString(REFGUID g) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), static_cast<unsigned>(g.Data2),
                  static_cast<unsigned>(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                  g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buffer;
}

bool GuidFromString(const std::string& text, GUID* guid) {
    if (!guid) return false;
    return parse([&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(text[i])); },
                 text.size(), guid);
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
    if (!text || !clsid) return E_POINTER;
    std::size_t size = 0;
    while (text[size] && size <= 38) ++size;
    return parse([&](std::size_t i) { return static_cast<unsigned>(text[i]); }, size, clsid)
               ? S_OK
               : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
    HRESULT hr = CLSIDFromString(text, iid);
    return hr == CO_E_CLASSSTRING ? E_INVALIDARG : hr;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int max) {
    if (!buffer || max < 39) return 0;
    std::string text = GuidToString(guid);
    for (std::size_t i = 0; i < text.size(); ++i) buffer[i] = static_cast<OLECHAR>(text[i]);
    buffer[text.size()] = 0;
    return static_cast<int>(text.size() + 1);
}
