// Taking a message for element-wise analysis, the selection of one element
// by its pointer, and the element table record.
#include "driver/component/streams_logger.h"
#include "driver/messages/element_decoder.h"
#include "driver/messages/element_table.h"
#include "driver/messages/log_mask.h"
#include "driver/messages/secsii.h"

namespace tarvo {

int secsii::NextMessage() {
    MessageRecord record;
    uint64_t take_number = 0;
    std::vector<ParsedElement> discarded;
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
    // The previous message's elements are freed here, outside the lock; a
    // modest allocation is kept for the next message.
    std::vector<ParsedElement> elements;
    if (discarded.capacity() <= 4096) elements = std::move(discarded);
    elements.clear();
    discarded = std::vector<ParsedElement>();

    // Decoded without the lock: the worker may append to the inbox meanwhile.
    size_t pos = 0;
    bool too_deep = false;
    const int result = decode_elements(record.body, pos, "0", 0, elements, too_deep);
    if (too_deep)
        log(lmMsgGeneral, "ERROR: Received message %s is nested deeper than %d levels; deeper items are not listed",
            message_name(record).c_str(), kMaxNestingDepth);
    if (log_table) table = element_table(elements);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Another thread may have taken a newer message in the meantime; its
        // elements then stand and these are dropped.
        if (takes_ == take_number) elements_.swap(elements);
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
    for (const ParsedElement& e : elements_) {
        if (e.pointer == pointer) {
            sel_value_ = e.value;
            sel_type_ = e.type;
            sel_quantity_ = e.quantity;
            break;
        }
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
    return elements_[static_cast<size_t>(n)].pointer;
}

}  // namespace tarvo
