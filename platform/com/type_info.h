// Type information: how a host learns each method's dispatch id, name,
// parameters (name, direction, type) and documentation string.
//
// A component describes its type library once, as static tables (the data
// model below), and hands it out through CreateStaticTypeLib. Hosts read it
// through ITypeLib / ITypeInfo, two small interfaces of our own (they keep the
// Windows names but not the Windows slots): every description they return
// points into the component's static tables and stays valid while the
// interface pointer is held.
#pragma once

#include <span>

#include "platform/com/base_types.h"
#include "platform/com/bstr.h"
#include "platform/com/dispatch.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"

enum TYPEKIND : int {
    TKIND_ENUM = 0,       // constants only
    TKIND_INTERFACE = 3,  // table-only interface
    TKIND_DISPATCH = 4,   // dispatch interface (dual when TYPEFLAG_FDUAL)
    TKIND_COCLASS = 5,    // a creatable class
};

// TypeDesc::flags
inline constexpr USHORT TYPEFLAG_FCANCREATE = 0x2;
inline constexpr USHORT TYPEFLAG_FDUAL = 0x40;

// ParamDesc::flags (Windows values)
inline constexpr USHORT PARAMFLAG_NONE = 0x0;
inline constexpr USHORT PARAMFLAG_FIN = 0x1;
inline constexpr USHORT PARAMFLAG_FOUT = 0x2;
inline constexpr USHORT PARAMFLAG_FRETVAL = 0x8;

struct ParamDesc {
    const char* name;
    // The automation type of the value: VT_I4, VT_INT, VT_BSTR, ... For an
    // out-parameter this is the type pointed at (VT_I4 for a LONG*); the
    // variant that carries it through Invoke is VT_BYREF | vt.
    VARTYPE vt;
    USHORT flags;                      // PARAMFLAG_FIN and/or PARAMFLAG_FOUT
    const char* type_name = nullptr;   // e.g. an enumeration's name; null for plain types
};

struct FuncDesc {
    DISPID memid;                       // dispatch id
    const char* name;
    const char* doc;                    // documentation string
    std::span<const ParamDesc> params;  // in declaration order
    WORD invkind = DISPATCH_METHOD;
};

struct ConstDesc {
    const char* name;
    LONG value;
    const char* doc = nullptr;  // what the value means, for references
};

struct TypeDesc {
    TYPEKIND kind;
    const char* name;
    const char* doc;
    GUID guid;                              // IID_NULL for an enumeration
    USHORT flags = 0;                       // TYPEFLAG_*
    std::span<const FuncDesc> funcs = {};   // TKIND_DISPATCH / TKIND_INTERFACE
    std::span<const ConstDesc> consts = {}; // TKIND_ENUM
    GUID default_interface = IID_NULL;      // TKIND_COCLASS: its [default] interface
    GUID default_source = IID_NULL;         // TKIND_COCLASS: its [default, source] events
};

struct TypeLibDesc {
    const char* name;
    const char* doc;  // help string
    GUID libid;
    WORD major;
    WORD minor;
    std::span<const TypeDesc> types;
};

struct ITypeLib;

struct ITypeInfo : IUnknown {
    // The whole description of this type (name, doc, guid, kind, functions).
    virtual HRESULT GetTypeDesc(const TypeDesc** desc) = 0;
    // Function `index` (0-based); TYPE_E_ELEMENTNOTFOUND past the end.
    virtual HRESULT GetFuncDesc(UINT index, const FuncDesc** desc) = 0;
    // The function with dispatch id `memid`; DISP_E_MEMBERNOTFOUND if none.
    virtual HRESULT GetFuncDescOfId(MEMBERID memid, const FuncDesc** desc) = 0;
    // names[0] = function name -> its dispatch id; names[1..] = parameter
    // names -> their 0-based positions. Case-insensitive (as OLE compares);
    // DISP_E_UNKNOWNNAME with MEMBERID_NIL in each unknown slot.
    virtual HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) = 0;
    // Name and documentation string of function `memid`, or of the type itself
    // for MEMBERID_NIL. Either out pointer may be null. New BSTRs.
    virtual HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc) = 0;
    // The library that holds this type (AddRef'd) and the type's index in it.
    virtual HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) = 0;

protected:
    ~ITypeInfo() = default;
};

struct ITypeLib : IUnknown {
    virtual UINT GetTypeInfoCount() = 0;
    virtual HRESULT GetTypeInfo(UINT index, ITypeInfo** info) = 0;  // TYPE_E_ELEMENTNOTFOUND past the end
    virtual HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) = 0;  // TYPE_E_ELEMENTNOTFOUND
    // Type info by name (case-insensitive); TYPE_E_ELEMENTNOTFOUND.
    virtual HRESULT FindTypeInfo(const char* name, ITypeInfo** info) = 0;
    virtual HRESULT GetLibDesc(const TypeLibDesc** desc) = 0;
    // Name and doc of type `index`, or of the library for index -1.
    virtual HRESULT GetDocumentation(INT index, BSTR* name, BSTR* doc) = 0;

protected:
    ~ITypeLib() = default;
};

// Wraps a static description (which must outlive every reference) in a
// reference-counted ITypeLib. Each live ITypeLib / ITypeInfo holds a module
// lock (module.h), so the component is not unloaded under a host that still
// reads its type information.
TARVO_COM_API HRESULT CreateStaticTypeLib(const TypeLibDesc* desc, ITypeLib** lib);

// Records the library in the registration store:
//   HKCR\TypeLib\{libid}\<major>.<minor>             = doc
//   HKCR\TypeLib\{libid}\<major>.<minor>\0\linux     = path
//   HKCR\TypeLib\{libid}\<major>.<minor>\FLAGS       = 0
// `path` is the component file that exports DllGetTypeLib.
TARVO_COM_API HRESULT RegisterTypeLib(ITypeLib* lib, const char* path);
// Removes that version's key tree, and the library's key when no version remains.
TARVO_COM_API HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor);
// Loads the component file registered for the library (any minor version >=
// `minor` with the same major) and asks its DllGetTypeLib.
// TYPE_E_LIBNOTREGISTERED when not registered, TYPE_E_CANTLOADLIBRARY when the
// file does not load or lacks the export.
TARVO_COM_API HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib);
// The same from a component file path.
TARVO_COM_API HRESULT LoadTypeLib(const char* path, ITypeLib** lib);
