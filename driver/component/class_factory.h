// The class object of the driver object, handed out by DllGetClassObject.
#pragma once

#include "platform/com/class_factory.h"

namespace tarvo {

IClassFactory& quill1_class_factory();

}  // namespace tarvo
