// The store of the message layer: log mask and log helper, the inbox, the
// current message header and the prepared outgoing message.
#include <cstdarg>
#include <utility>

#include "driver/log/streams_logger.h"
#include "driver/log/log_mask.h"
#include "driver/messages/secsii.h"

namespace tarvo {

secsii::secsii() : log_mask_(kDefaultLogMask) {}

secsii::~secsii() = default;

void secsii::log(uint32_t bits, const char* format, ...) const {
    if (bits != 0 && !log_enabled(bits)) return;
    va_list args;
    va_start(args, format);
    process_log_v(true, format, args);
    va_end(args);
}

// ---- the inbox -----------------------------------------------------------

void secsii::add_received(const MessageRecord& record) {
    MessageRecord copy = record;  // copied before taking the lock
    std::lock_guard<std::mutex> lock(mutex_);
    inbox_.push_back(std::move(copy));
}

void secsii::add_received(MessageRecord&& record) {
    std::lock_guard<std::mutex> lock(mutex_);
    inbox_.push_back(std::move(record));
}

size_t secsii::inbox_count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return inbox_.size();
}

bool secsii::take(MessageRecord& record, uint64_t& take_number, ElementArray& discarded) {
    if (!pop_oldest(record)) return false;
    take_number = make_current(record, discarded);
    return true;
}

bool secsii::pop_oldest(MessageRecord& record) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (inbox_.empty()) return false;
    record = std::move(inbox_.front());
    inbox_.pop_front();
    return true;
}

void secsii::put_back(MessageRecord&& record) {
    std::lock_guard<std::mutex> lock(mutex_);
    inbox_.push_front(std::move(record));
}

uint64_t secsii::make_current(const MessageRecord& record, ElementArray& discarded) {
    std::lock_guard<std::mutex> lock(mutex_);
    current_.r_bit = record.r_bit;
    current_.w_bit = record.w_bit;
    current_.device_id = record.device_id;
    current_.function = record.function;
    current_.stream = record.stream;
    current_.source_id = record.source_id;
    current_.transaction_id = record.transaction_id;
    current_.connection = record.connection;
    std::swap(discarded, elements_);
    elements_.clear();
    return ++takes_;
}

// ---- the prepared message ----------------------------------------------------

void secsii::set_out_device_id(int32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    prepared_.device_id = id;
}

void secsii::set_out_rbit(int32_t rbit) {
    std::lock_guard<std::mutex> lock(mutex_);
    prepared_.r_bit = static_cast<uint8_t>(rbit);
}

void secsii::set_out_source_id(int32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    prepared_.source_id = id;
}

void secsii::set_out_transaction_id(int32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    prepared_.transaction_id = id;
}

MessageRecord secsii::prepared_copy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return prepared_;
}

// ---- the current message -------------------------------------------------------

int32_t secsii::GetInDeviceID() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_.device_id;
}

int32_t secsii::GetInStreamID() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_.stream;
}

int32_t secsii::GetInFunctionID() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_.function;
}

int32_t secsii::GetInWBit() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_.w_bit != 0 ? 1 : 0;
}

int32_t secsii::GetInSourceID() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_.source_id;
}

int32_t secsii::GetInTransactionID() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_.transaction_id;
}

int32_t secsii::GetInRBit() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_.r_bit != 0 ? 1 : 0;
}

}  // namespace tarvo
