// Connection points: how an object offers outgoing (event) interfaces and how
// a host advises a sink on one of them.
#pragma once

#include "platform/com/base_types.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/unknown.h"

struct IConnectionPoint;
struct IEnumConnections;       // not provided: EnumConnections answers E_NOTIMPL
struct IEnumConnectionPoints;  // not provided: EnumConnectionPoints answers E_NOTIMPL

// One connection: the advised sink and its cookie.
struct CONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
};

struct IConnectionPointContainer : IUnknown {
    virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) = 0;
    // The connection point for the outgoing interface `iid` (AddRef'd);
    // CONNECT_E_NOCONNECTION when the object has none for it.
    virtual HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) = 0;

protected:
    ~IConnectionPointContainer() = default;
};

struct IConnectionPoint : IUnknown {
    virtual HRESULT GetConnectionInterface(IID* iid) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
    // Keeps a reference to `sink` (queried for the outgoing interface;
    // CONNECT_E_CANNOTCONNECT if it does not answer it) and returns a non-zero
    // cookie that identifies the connection.
    virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
    // Drops the connection; CONNECT_E_NOCONNECTION for an unknown cookie.
    virtual HRESULT Unadvise(DWORD cookie) = 0;
    virtual HRESULT EnumConnections(IEnumConnections** connections) = 0;

protected:
    ~IConnectionPoint() = default;
};
