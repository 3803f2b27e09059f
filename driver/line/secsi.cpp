#include "driver/line/secsi.h"

#include <utility>

#include "driver/log/notify_code.h"
#include "driver/log/log_mask.h"

namespace tarvo {

namespace {

// A refused text is quoted in its record up to this many bytes, so that a
// runaway caller cannot flood the log with one record.
constexpr int kQuotedTextLimit = 1024;

}  // namespace

secsi::secsi() = default;

secsi::~secsi() = default;

int secsi::GetPassvSelectedSession(int /*client*/) { return 0; }

int secsi::GetPassvSelectedQuan() { return 0; }

void secsi::SetCQuill1(LineOwner* owner) { msg.set_owner(owner); }

int secsi::SendMessage(const std::string& text) {
    MessageRecord record;
    bool planned;
    {
        std::lock_guard<std::mutex> lock(plan_mutex_);
        planned = msg.SetList(text);
        if (planned) record = msg.prepared_copy();
    }
    if (!planned) {
        // The prepared message still holds the previous one: send nothing.
        report_unplanned(text);
        return -1;
    }
    queue_message(record);
    return 0;
}

int secsi::Reply(const std::string& text) {
    MessageRecord record;
    bool planned;
    {
        std::lock_guard<std::mutex> lock(plan_mutex_);
        planned = msg.prepare_reply(text);
        if (planned) record = msg.prepared_copy();
        // Whether or not it was planned, the next SendMessage must carry the
        // line's own identifiers again, not those of the message replied to.
        restore_out_ids_locked();
    }
    if (!planned) {
        report_unplanned(text);
        return -1;
    }
    queue_message(record);
    return 0;
}

void secsi::report_unplanned(const std::string& text) {
    const bool cut = text.size() > static_cast<size_t>(kQuotedTextLimit);
    const int shown = cut ? kQuotedTextLimit : static_cast<int>(text.size());
    msg.log(lmMsgNameSend | lmMsgGeneral, "ERROR: message not planned, SML text cannot be encoded: '%.*s%s'",
            shown, text.data(), cut ? "..." : "");
    raise_notify(nSecsErrorListIncorrect);
    raise_written(0);
}

void secsi::restore_out_ids() {
    std::lock_guard<std::mutex> lock(plan_mutex_);
    restore_out_ids_locked();
}

void secsi::restore_out_ids_locked() {
    msg.set_out_device_id(out_device_id.load());
    msg.set_out_rbit(master.load() ? 1 : 0);
    msg.set_out_source_id(out_source_id.load());
    msg.set_out_transaction_id(out_transaction_id.load());
}

void secsi::set_master(bool value) {
    std::lock_guard<std::mutex> lock(plan_mutex_);
    master.store(value);
    msg.set_out_rbit(value ? 1 : 0);
}

void secsi::set_out_source_id(int32_t id) {
    std::lock_guard<std::mutex> lock(plan_mutex_);
    out_source_id.store(id);
    msg.set_out_source_id(id);
}

void secsi::set_out_transaction_id(int32_t id) {
    std::lock_guard<std::mutex> lock(plan_mutex_);
    out_transaction_id.store(id);
    msg.set_out_transaction_id(id);
}

bool secsi::set_out_device_id(int32_t id) {
    {
        std::lock_guard<std::mutex> lock(plan_mutex_);
        out_device_id.store(id);
    }
    // The line type's own choice (an HSMS line picks the client to send to)
    // runs without the planning mutex: it takes the line's own locks.
    const bool accepted = SetOutDeviceID(id);
    {
        // From the field, not from `id`: a concurrent setter may have stored
        // a newer value, and the pair must end up equal.
        std::lock_guard<std::mutex> lock(plan_mutex_);
        msg.set_out_device_id(out_device_id.load());
    }
    return accepted;
}

std::string secsi::host() const {
    std::lock_guard<std::mutex> lock(host_mutex_);
    return host_;
}

void secsi::set_host(const std::string& host) {
    std::lock_guard<std::mutex> lock(host_mutex_);
    host_ = host;
}

std::string secsi::host_in_use() const {
    std::lock_guard<std::mutex> lock(host_mutex_);
    return host_in_use_;
}

void secsi::set_host_in_use(const std::string& host) {
    std::lock_guard<std::mutex> lock(host_mutex_);
    host_in_use_ = host;
}

void secsi::raise_read() {
    if (LineOwner* owner = msg.owner()) owner->OnSecsRead();
}

void secsi::raise_notify(int code) {
    if (LineOwner* owner = msg.owner()) owner->OnSecsNotify(code);
}

void secsi::raise_written(int success) {
    if (LineOwner* owner = msg.owner()) owner->OnSecsWritten(success);
}

}  // namespace tarvo
