// Taking a message for element-wise analysis, the selection of one element
// by its pointer, and the element table record.
#include "driver/log/streams_logger.h"
#include "driver/messages/element_table.h"
#include "driver/log/log_mask.h"
#include "driver/messages/secsii.h"

namespace tarvo {

int secsii::decode_item(const std::string& body, size_t& pos, const std::string& pointer, int depth,
                        std::vector<ParsedElement>& out) {
    ElementArray elements;
    bool too_deep = false;
    const int result = elements.decode(body, pos, pointer, depth, too_deep);
    out.reserve(out.size() + elements.size());
    for (size_t i = 0; i < elements.size(); ++i) {
        out.push_back(ParsedElement{elements.type(i), elements.quantity(i), elements.pointer(i), elements.value(i)});
    }
    return result;
}

int secsii::NextMessage() {
    MessageRecord record;
    uint64_t take_number = 0;
    ElementArray discarded;
    const bool log_table = log_enabled(lmFullMsgReceived);
    std::string table;

    if (!take(record, take_number, discarded)) {
        if (log_table) {
            std::lock_guard<std::mutex> lock(mutex_);
            table = element_table(elements_);
        }
        if (log_table) process_log_text(true, "Parsed message array is: " + table);
        return -1;
    }
    // The previous message's elements are freed here, outside the lock.
    discarded.clear();

    // Decoded without the lock: the worker may append to the inbox meanwhile.
    // The array keeps the body: values are made from it when asked for.
    ElementArray elements;
    size_t pos = 0;
    bool too_deep = false;
    const std::string name = message_name(record);
    const int result = elements.decode(std::move(record.body), pos, "0", 0, too_deep);
    if (too_deep)
        log(lmMsgGeneral, "ERROR: Received message %s is nested deeper than %d levels; deeper items are not listed",
            name.c_str(), kMaxNestingDepth);
    if (log_table) table = element_table(elements);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Another thread may have taken a newer message in the meantime; its
        // elements then stand and these are dropped.
        if (takes_ == take_number) std::swap(elements_, elements);
    }
    if (log_table) process_log_text(true, "Parsed message array is: " + table);
    return result;
}

void secsii::SetElemPointer(const std::string& pointer) {
    std::lock_guard<std::mutex> lock(mutex_);
    sel_pointer_ = pointer;
    sel_value_ = "no_such";
    sel_type_ = 0;
    sel_quantity_ = -1;
    const size_t i = elements_.find(pointer);
    if (i != ElementArray::npos) {
        sel_value_ = elements_.value(i);
        sel_type_ = elements_.type(i);
        sel_quantity_ = elements_.quantity(i);
    }
}

int32_t secsii::GetElemQuantity() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sel_quantity_;
}

int32_t secsii::GetElemType() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sel_type_;
}

std::string secsii::GetElemValue() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sel_value_;
}

int32_t secsii::GetElemGnrlQuan() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int32_t>(elements_.size());
}

std::string secsii::GetElemGnrlPointer(int n) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (n < 0 || static_cast<size_t>(n) >= elements_.size()) return std::string();
    return elements_.pointer(static_cast<size_t>(n));
}

}  // namespace tarvo
