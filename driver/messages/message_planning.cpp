// Planning outgoing messages from SML text into the prepared message.
#include "driver/log/streams_logger.h"
#include "driver/log/log_mask.h"
#include "driver/messages/secsii.h"
#include "driver/messages/sml_planner.h"
#include "driver/messages/sml_tokens.h"

namespace tarvo {

bool secsii::SetList(const std::string& text) { return plan(text, false, nullptr); }

bool secsii::prepare_reply(const std::string& text) { return plan(text, true, nullptr); }

bool secsii::SetList(const std::string& text, MessageRecord& planned) { return plan(text, false, &planned); }

bool secsii::prepare_reply(const std::string& text, MessageRecord& planned) {
    return plan(text, true, &planned);
}

std::string secsii::last_error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_error_;
}

bool secsii::plan(const std::string& text, bool reply, MessageRecord* planned) {
    if (log_enabled(lmFullMsgSend)) process_log_text(true, "Planning message. Full: '" + text + "'");

    sml::Planner planner(text.data(), text.size());
    sml::PlannedMessage message;
    const bool ok = planner.plan(message);

    std::lock_guard<std::mutex> lock(mutex_);
    if (!ok) {
        last_error_ = planner.error();
        return false;
    }
    last_error_.clear();
    if (reply) {
        prepared_.r_bit = current_.r_bit == 0 ? 1 : 0;
        prepared_.device_id = current_.device_id;
        prepared_.source_id = current_.source_id;
        prepared_.transaction_id = current_.transaction_id;
        prepared_.connection = current_.connection;
    } else {
        prepared_.connection = 0;
    }
    prepared_.stream = message.stream;
    prepared_.function = message.function;
    prepared_.w_bit = message.w_bit;
    prepared_.body = std::move(message.body);
    if (planned) *planned = prepared_;
    return true;
}

std::string secsii::encode_item(const std::string& text, size_t& pos, bool& ok) const {
    sml::Planner planner(text.data(), text.size());
    std::string bytes;
    ok = planner.encode(pos, bytes);
    if (!ok) bytes.clear();
    return bytes;
}

int secsii::func_atobool(const std::string& token) { return sml::atobool(token.data(), token.size()); }

uint8_t secsii::func_atobyte(const std::string& token) { return sml::atobyte(token.data(), token.size()); }

}  // namespace tarvo
