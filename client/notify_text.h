// The texts the client shows for driver values: one per notification code
// and one per element type.
#pragma once

#include <string>

namespace tarvo::client {

std::string NotifyText(int code);
std::string ElemTypeName(int type);

}  // namespace tarvo::client
