// The registration store: a plain text file that plays the part of the
// Windows registry's classes root for component registration.
//
// One entry a line, sorted by key, readable and diffable:
//     HKCR\TARVOSrv1.Quill1 = Quill1 Class                  key's default value
//     HKCR\TARVOSrv1.Quill1\CLSID = {...}
//     HKCR\CLSID\{...}\InprocServer32 [ThreadingModel] = Apartment   named value
//     HKCR\CLSID\{...}\Programmable                         key without values
// Keys are backslash-separated names, compared without regard to case (as the
// registry does) and kept in the case first written; a name holds no '\',
// '[', ']', '=', control character, and does not start or end with a space.
// A value is the rest of the line after " = " (no line breaks).
//
// Place: $TARVO_REGISTRY if set, and then it is the only store. Otherwise
// changes go to the user's store, $XDG_CONFIG_HOME/tarvo/registry (else
// ~/.config/tarvo/registry), and each key is looked up first there, then in
// tarvo/registry under each folder of $XDG_CONFIG_DIRS (default /etc/xdg):
// a class registered for the user wins over the same class registered for
// the system. Each change is one locked read-modify-write:
// writers serialise on flock of "<file>.lock", and the new content is written
// to a temporary file that is renamed over the old, so a reader always sees a
// whole file. A missing file is an empty store.
#pragma once

#include "platform/com/base_types.h"

#include <string>
#include <vector>

#include "platform/com/hresult.h"

// The file changes go to (the environment is read on every call).
TARVO_COM_API std::string RegStorePath();
// The system stores, in the order they are searched (after the user's).
TARVO_COM_API std::vector<std::string> RegStoreSystemPaths();
// Every store a lookup reads, in order.
TARVO_COM_API std::vector<std::string> RegStoreSearchPaths();

// Sets the key's default value (creating the key and its parents).
TARVO_COM_API HRESULT RegStoreSetDefault(const std::string& key, const std::string& value);
// Sets a named value; an empty name is the default value.
TARVO_COM_API HRESULT RegStoreSetValue(const std::string& key, const std::string& name, const std::string& value);
// Creates the key (and its parents) without a value; S_OK when it exists.
TARVO_COM_API HRESULT RegStoreCreateKey(const std::string& key);
// Removes the key with all its values and subkeys; S_FALSE when it was not
// there. The roots and the shared parents ("HKCR", "HKCR\CLSID",
// "HKCR\TypeLib", "HKCR\Interface") are never removed: E_ACCESSDENIED.
TARVO_COM_API HRESULT RegStoreDeleteTree(const std::string& key);
// Reads a value (name "" = default). REGDB_E_KEYMISSING when the key does not
// exist, REGDB_E_INVALIDVALUE when it has no such value, REGDB_E_READREGDB when
// the file is unreadable or malformed.
TARVO_COM_API HRESULT RegStoreGetValue(const std::string& key, const std::string& name, std::string* value);
// True when the key exists (with or without values).
TARVO_COM_API bool RegStoreKeyExists(const std::string& key);
// Names of the direct subkeys of `key` (in stored case, sorted).
TARVO_COM_API std::vector<std::string> RegStoreSubkeys(const std::string& key);
