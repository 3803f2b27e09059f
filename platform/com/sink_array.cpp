#include "platform/com/sink_array.h"

SinkArray::~SinkArray() { release_all(false); }

DWORD SinkArray::Add(IDispatch* sink) {
    if (!sink) return 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!closed_) {
            std::size_t position = 0;
            while (position < sinks_.size() && sinks_[position]) ++position;
            if (position == sinks_.size()) sinks_.push_back(nullptr);
            sinks_[position] = sink;
            return static_cast<DWORD>(position + 1);
        }
    }
    sink->Release();
    return 0;
}

bool SinkArray::Remove(DWORD cookie) {
    IDispatch* gone = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (cookie == 0 || cookie > sinks_.size() || !sinks_[cookie - 1]) return false;
        gone = sinks_[cookie - 1];
        sinks_[cookie - 1] = nullptr;
    }
    gone->Release();
    return true;
}

std::vector<IDispatch*> SinkArray::Snapshot() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<IDispatch*> out;
    out.reserve(sinks_.size());
    for (IDispatch* s : sinks_) {
        if (!s) continue;
        s->AddRef();
        out.push_back(s);
    }
    return out;
}

std::size_t SinkArray::Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t n = 0;
    for (IDispatch* s : sinks_) n += s != nullptr;
    return n;
}

void SinkArray::Clear() { release_all(false); }

void SinkArray::Close() { release_all(true); }

void SinkArray::release_all(bool close) {
    std::vector<IDispatch*> gone;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (close) closed_ = true;
        gone.swap(sinks_);
    }
    for (IDispatch* s : gone)
        if (s) s->Release();
}
