// The driver component's type library TARVOSRV1Lib 1.0: ITarvo with every
// method's dispatch id, name, parameters and documentation string,
// _ITarvoEvents, the four enumerations and the class "Tarvo Class". Hosts read
// it through ITypeLib / ITypeInfo; the driver object's IDispatch works from
// the same tables.
#pragma once

#include <span>

#include "platform/com/type_info.h"

namespace tarvo {

const TypeLibDesc& tarvo_typelib_desc();
// ITarvo's methods in dispatch-id order (dispatch id = index + 1).
std::span<const FuncDesc> itarvo_funcs();
// The method with dispatch id `id`, or null.
const FuncDesc* itarvo_func(DISPID id);

// A new reference to the library, and to ITarvo's type information in it.
HRESULT create_tarvo_typelib(ITypeLib** lib);
HRESULT create_itarvo_typeinfo(ITypeInfo** info);

}  // namespace tarvo
