// SinkArray: the advised sinks of one connection point, in positions.
//
// Add puts a sink in the first free position (growing the array when none is
// free) and the cookie is that position + 1; Remove empties the position
// again. Snapshot hands out the sinks in position order, each with a
// reference taken under the lock, so an event can be delivered without the
// lock while others advise and unadvise. Sinks are always released outside
// the lock: a sink's Release may call back into its connection point.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "platform/com/dispatch.h"

class SinkArray {
public:
    SinkArray() = default;
    ~SinkArray();  // releases the sinks still held

    SinkArray(const SinkArray&) = delete;
    SinkArray& operator=(const SinkArray&) = delete;

    // Takes over the caller's reference to `sink` and answers its cookie.
    // After Close() the sink is released at once and the answer is 0.
    DWORD Add(IDispatch* sink);
    // Empties the position `cookie` names and releases its sink; false when
    // the cookie names no sink.
    bool Remove(DWORD cookie);

    // The sinks in position order, each AddRef'd: the caller releases them.
    std::vector<IDispatch*> Snapshot();
    std::size_t Count();

    // Releases every sink; later Adds are still taken.
    void Clear();
    // Releases every sink and refuses later Adds.
    void Close();

private:
    void release_all(bool close);

    std::mutex mutex_;
    std::vector<IDispatch*> sinks_;  // one reference each; null = free position
    bool closed_ = false;
};
