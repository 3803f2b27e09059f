#include "driver/component/class_factory.h"

#include "driver/component/quill1.h"

namespace tarvo {

namespace {
// Static lifetime: its references and LockServer count in the module.
ClassFactory g_factory(&CQuill1::Create);
}  // namespace

IClassFactory& quill1_class_factory() { return g_factory; }

}  // namespace tarvo
