// Calls ITarvo methods by name along one of the two call paths: the method
// table, or late-bound through GetIDsOfNames and IDispatch::Invoke. Tests
// written against it check both paths with the same expectations. Every
// call is expected to answer S_OK.
#pragma once

#include <cstdint>
#include <string>

#include "driver/component/itarvo.h"

namespace tarvo::test {

enum class CallPath { table, dispatch };

class DriverCalls {
public:
    DriverCalls(ITarvo* driver, CallPath path) : driver_(driver), path_(path) {}

    void call(const std::string& name);                               // no parameters
    void set(const std::string& name, int32_t value);                 // one integer in
    int32_t get(const std::string& name);                             // one integer out
    void set_text(const std::string& name, const std::string& bytes); // one string in
    std::string get_text(const std::string& name);                    // one string out
    // An integer in and an integer out: SetActive, SetOutDeviceID,
    // GetPassvSelectedSession.
    int32_t exchange(const std::string& name, int32_t value);
    // GetElemGnrlPointer.
    std::string get_text_at(const std::string& name, int32_t index);

private:
    // dispatch path: Invoke `name` with `args` in Invoke's order (last first).
    void invoke(const std::string& name, VARIANT* args, UINT count);

    ITarvo* driver_;
    CallPath path_;
};

}  // namespace tarvo::test
