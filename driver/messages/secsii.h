// The SECS-II message layer of one line: plans outgoing messages from SML
// text, keeps the inbox of received messages and the prepared outgoing
// message, decodes received bodies into an addressable element array and
// renders received messages as SML text or raw bytes.
//
// Thread safety: every member function may be called from any thread; the
// object guards its own state. Received messages are appended by the line's
// worker thread while the caller takes them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "driver/log/line_owner.h"
#include "driver/messages/element_array.h"
#include "driver/messages/message_record.h"

namespace tarvo {

struct ParsedElement {
    int32_t type = 0;        // enum_SECS_ELEM_TYPE
    int32_t quantity = 0;
    std::string pointer;     // "0", "2", "1/3", "2[0]"
    std::string value;       // raw bytes for B, A and J
};

class secsii {
public:
    secsii();
    virtual ~secsii();

    secsii(const secsii&) = delete;
    secsii& operator=(const secsii&) = delete;

    // ---- log mask and owner --------------------------------------------
    int32_t log_mask() const { return log_mask_.load(std::memory_order_relaxed); }
    void set_log_mask(int32_t mask) { log_mask_.store(mask, std::memory_order_relaxed); }
    // True when the mask shares a bit with `bits`.
    bool log_enabled(uint32_t bits) const { return (static_cast<uint32_t>(log_mask()) & bits) != 0; }
    // Writes a record to stream 0 of the process logger when the mask shares a
    // bit with `bits`; `bits` == 0 writes it whatever the mask.
    void log(uint32_t bits, const char* format, ...) const __attribute__((format(printf, 3, 4)));

    void set_owner(LineOwner* owner) { owner_.store(owner, std::memory_order_release); }
    LineOwner* owner() const { return owner_.load(std::memory_order_acquire); }

    // ---- planning (SML text -> prepared message) ------------------------
    // Plans a message into the prepared message. Returns false, and leaves
    // the prepared message unchanged, for a text that cannot be encoded.
    bool SetList(const std::string& text);
    // Plans a reply to the current message (the one taken last).
    bool prepare_reply(const std::string& text);
    // As the two above, and on success also returns the prepared message as
    // it was planned (one step, so no other planning can slip in between).
    bool SetList(const std::string& text, MessageRecord& planned);
    bool prepare_reply(const std::string& text, MessageRecord& planned);
    // Why the last SetList/prepare_reply refused its text ("" after success).
    std::string last_error() const;
    // Encodes one item; `pos` is just after its "<" on entry and just after
    // its ">" on return. Sets `ok` to false if the item cannot be encoded
    // (the result is then empty and `pos` where the reading stopped).
    std::string encode_item(const std::string& text, size_t& pos, bool& ok) const;
    static int func_atobool(const std::string& token);
    static uint8_t func_atobyte(const std::string& token);

    // ---- the prepared message --------------------------------------------
    void set_out_device_id(int32_t id);
    void set_out_rbit(int32_t rbit);
    void set_out_source_id(int32_t id);
    void set_out_transaction_id(int32_t id);
    MessageRecord prepared_copy() const;

    // ---- the inbox ---------------------------------------------------------
    void add_received(const MessageRecord& record);
    void add_received(MessageRecord&& record);
    size_t inbox_count() const;

    // ---- decoding and element access ---------------------------------------
    int NextMessage();  // 0 taken and well formed, -1 empty inbox or bad root header
    // Lists nested deeper than this are listed without their content (the
    // pointer texts would otherwise cost memory quadratic in the depth).
    static constexpr int kMaxNestingDepth = ElementArray::kMaxNestingDepth;
    // Decodes the item at `pos` of `body`, appending to `out` each element
    // with its pointer and value texts made.
    static int decode_item(const std::string& body, size_t& pos, const std::string& pointer,
                           int depth, std::vector<ParsedElement>& out);
    void SetElemPointer(const std::string& pointer);
    int32_t GetElemQuantity() const;
    int32_t GetElemType() const;
    std::string GetElemValue() const;
    int32_t GetElemGnrlQuan() const;
    std::string GetElemGnrlPointer(int n) const;

    // ---- rendering ---------------------------------------------------------
    std::string NextMessageSML();
    // Takes the oldest message as SML text and hands the text to `deliver`
    // (which makes the caller's copy). A message whose text would exceed
    // `max_length` characters, or that `deliver` refuses, or whose rendering
    // runs out of memory (std::bad_alloc propagates) stays first in the
    // inbox: a message is never lost because taking it failed.
    enum class SmlTake { taken, empty, too_long, refused };
    template <class Deliver>
    SmlTake NextMessageSML(size_t max_length, Deliver&& deliver);
    std::string NextMessageByte();
    static std::string render_sml(const std::string& body);
    // The length of render_sml(body), without making the text.
    static size_t sml_length(const std::string& body);

    // ---- the current message (header of the message taken last) ------------
    int32_t GetInDeviceID() const;
    int32_t GetInStreamID() const;
    int32_t GetInFunctionID() const;
    int32_t GetInWBit() const;
    int32_t GetInSourceID() const;
    int32_t GetInTransactionID() const;
    int32_t GetInRBit() const;

private:
    // Takes the oldest message: its header becomes the current message and
    // the element array is emptied (the old elements are handed back in
    // `discarded` so they are freed outside the lock). False when empty.
    bool take(MessageRecord& record, uint64_t& take_number, ElementArray& discarded);
    // The two halves of take, for a take that may still be undone: the
    // oldest message leaves the inbox, and goes back first if need be.
    bool pop_oldest(MessageRecord& record);
    void put_back(MessageRecord&& record);
    uint64_t make_current(const MessageRecord& record, ElementArray& discarded);
    // The SML text of a taken message (its name line first); false when it
    // would exceed `max_length` characters.
    static bool sml_text(const MessageRecord& record, size_t max_length, std::string& text);
    void log_sml(const std::string& text) const;
    bool plan(const std::string& text, bool reply, MessageRecord* planned);

    std::atomic<int32_t> log_mask_;
    std::atomic<LineOwner*> owner_{nullptr};
    mutable std::mutex mutex_;             // guards every member below
    std::deque<MessageRecord> inbox_;
    MessageRecord current_;                // header fields only; body unused
    uint64_t takes_ = 0;                   // messages taken so far
    ElementArray elements_;
    std::string sel_pointer_;
    std::string sel_value_ = "no_such";
    int32_t sel_type_ = 0;
    int32_t sel_quantity_ = 0;
    MessageRecord prepared_;
    std::string last_error_;
};

template <class Deliver>
secsii::SmlTake secsii::NextMessageSML(size_t max_length, Deliver&& deliver) {
    MessageRecord record;
    if (!pop_oldest(record)) {
        const std::string none = "no more messages";
        log_sml(none);
        return deliver(none) ? SmlTake::empty : SmlTake::refused;
    }
    std::string text;
    bool fits;
    try {
        fits = sml_text(record, max_length, text);
    } catch (...) {
        put_back(std::move(record));
        throw;
    }
    if (!fits || !deliver(text)) {
        put_back(std::move(record));
        return fits ? SmlTake::refused : SmlTake::too_long;
    }
    ElementArray discarded;
    make_current(record, discarded);
    log_sml(text);
    return SmlTake::taken;
}

}  // namespace tarvo
