// The whole component runtime in one include.
#pragma once

#include "platform/com/base_types.h"
#include "platform/com/bstr.h"
#include "platform/com/class_factory.h"
#include "platform/com/connection_point.h"
#include "platform/com/connection_points.h"
#include "platform/com/dispatch.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/marshal.h"
#include "platform/com/module.h"
#include "platform/com/registry.h"
#include "platform/com/runtime.h"
#include "platform/com/type_info.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"
