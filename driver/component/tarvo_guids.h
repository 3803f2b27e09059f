// The fixed identifiers of the driver component: its class, its type library,
// the ITarvo interface and the _ITarvoEvents event interface. Hosts and the
// registration store refer to them; they never change.
#pragma once

#include "platform/com/guid.h"

namespace tarvo {

// {5D556300-52D9-44AE-9A00-2652763B461B}
inline constexpr CLSID CLSID_Quill1 = {
    0x5D556300, 0x52D9, 0x44AE, {0x9A, 0x00, 0x26, 0x52, 0x76, 0x3B, 0x46, 0x1B}};
// {FA19ACC9-B1BD-4FC7-BC0E-126FF7AE278A}
inline constexpr GUID LIBID_TARVOSRV1Lib = {
    0xFA19ACC9, 0xB1BD, 0x4FC7, {0xBC, 0x0E, 0x12, 0x6F, 0xF7, 0xAE, 0x27, 0x8A}};
// {81A32E35-4ABA-4695-AFCA-3A665601054D}
inline constexpr IID IID_ITarvo = {
    0x81A32E35, 0x4ABA, 0x4695, {0xAF, 0xCA, 0x3A, 0x66, 0x56, 0x01, 0x05, 0x4D}};
// {B0CE7A2A-48CE-49F1-B79C-267CBE279828}
inline constexpr IID DIID__ITarvoEvents = {
    0xB0CE7A2A, 0x48CE, 0x49F1, {0xB7, 0x9C, 0x26, 0x7C, 0xBE, 0x27, 0x98, 0x28}};

// Program identifiers and the class's name in the registration store.
inline constexpr const char* kProgIdVersioned = "TARVOSrv1.Quill1.1";
inline constexpr const char* kProgId = "TARVOSrv1.Quill1";
inline constexpr const char* kClassName = "Quill1 Class";

}  // namespace tarvo
