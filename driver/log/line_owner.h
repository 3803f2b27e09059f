// What a line needs of the object that owns it: somewhere to raise its events.
// The driver object implements it; tests implement it to record events.
#pragma once

namespace tarvo {

class LineOwner {
public:
    virtual ~LineOwner() = default;
    // Each call runs synchronously on the thread that detected the event. The
    // caller holds no line lock, so the owner may call back into the line.
    virtual void OnSecsRead() = 0;
    virtual void OnSecsNotify(int code) = 0;
    virtual void OnSecsWritten(int success) = 0;
};

}  // namespace tarvo
