// The Windows integer names the component interfaces are written in. Sizes are
// those of Windows, not of the Linux C types: LONG and ULONG are 32 bits.
#pragma once

#include <cstdint>

// The functions a host program calls. The shared runtime library
// (libtarvo-com.so) exports exactly these; every copy linked statically into
// a component keeps them hidden, like the rest of the runtime.
#if defined(TARVO_COM_SHARED_BUILD)
#define TARVO_COM_API __attribute__((visibility("default")))
#else
#define TARVO_COM_API
#endif

using BYTE = std::uint8_t;
using CHAR = char;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using WORD = std::uint16_t;
using INT = std::int32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using FLOAT = float;
using DOUBLE = double;
using BOOL = std::int32_t;  // TRUE / FALSE
using LCID = DWORD;         // locale id; accepted and ignored
using SCODE = std::int32_t;

// Wide characters of the interfaces: 16-bit, as on Windows (not wchar_t).
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
