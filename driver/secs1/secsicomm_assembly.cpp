// SECS-I message assembly: outgoing messages split into blocks and queued,
// the end of each send, the checks on every received block (duplicate,
// expected, extra), incoming messages collected block by block, and the T3
// (reply) and T4 (next block) timers.
#include <algorithm>

#include "driver/log/log_mask.h"
#include "driver/log/notify_code.h"
#include "driver/secs1/secsicomm.h"

namespace tarvo {

namespace {

void put16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>((value >> 8) & 0xFF);
    at[1] = static_cast<uint8_t>(value & 0xFF);
}

std::string block_name(const S_BLOCK& block) {
    return message_name(block.raw[2] & 0x7F, block.raw[3], (block.raw[2] & 0x80) != 0);
}

bool same_system_bytes(const S_BLOCK& a, const S_BLOCK& b) {
    return std::equal(a.raw.begin() + 6, a.raw.begin() + 10, b.raw.begin() + 6);
}

// Header bytes 0 to 3 and 6 to 9: the same message, whatever the block.
bool same_message(const S_BLOCK& a, const S_BLOCK& b) {
    return std::equal(a.raw.begin(), a.raw.begin() + 4, b.raw.begin()) && same_system_bytes(a, b);
}

}  // namespace

// ---- outgoing ---------------------------------------------------------------------

int secsicomm::queue_message(const MessageRecord& record) {
    const size_t data = S_BLOCK::kMaxData;
    const size_t size = record.body.size();
    const size_t count = size == 0 ? 1 : (size + data - 1) / data;
    const std::string name = message_name(record);
    if (count > kMaxBlocks) {
        // The block number has 15 bits: refused like a text that cannot be planned.
        msg.log(lmMsgNameSend | lmMsgGeneral,
                "ERROR: message not planned, %s is %zu bytes long, more than the %zu blocks a message takes",
                name.c_str(), size, kMaxBlocks);
        raise_notify(nSecsErrorListIncorrect);
        raise_written(0);
        return -1;
    }
    OutboxEntry entry;
    entry.name = name;
    entry.blocks.resize(count);
    uint8_t header[S_BLOCK::kHeaderSize];
    put16(header, static_cast<uint32_t>(record.device_id & 0x7FFF) | (record.r_bit ? 0x8000u : 0u));
    put16(header + 2, static_cast<uint32_t>(((record.stream & 0x7F) << 8) | (record.function & 0xFF)) |
                          (record.w_bit ? 0x8000u : 0u));
    put16(header + 6, static_cast<uint32_t>(record.source_id & 0xFFFF));
    put16(header + 8, static_cast<uint32_t>(record.transaction_id & 0xFFFF));
    size_t offset = 0;
    for (size_t i = 0; i < count; ++i) {
        S_BLOCK& block = entry.blocks[i];
        const size_t remaining = size - offset;
        const bool last = remaining <= data;
        const size_t chunk = last ? remaining : data;
        std::copy(header, header + S_BLOCK::kHeaderSize, block.raw.begin());
        put16(block.raw.data() + 4, static_cast<uint32_t>(i + 1) | (last ? 0x8000u : 0u));
        std::copy(record.body.begin() + static_cast<std::ptrdiff_t>(offset),
                  record.body.begin() + static_cast<std::ptrdiff_t>(offset + chunk),
                  block.raw.begin() + S_BLOCK::kHeaderSize);
        block.seal(static_cast<uint8_t>(S_BLOCK::kHeaderSize + chunk));
        block.compile();
        offset += chunk;
    }
    msg.log(lmMsgNameSend | lmMsgGeneral, "Planning message. Name: '%s'", name.c_str());
    {
        std::lock_guard<std::mutex> lock(mu_);
        entry.id = ++last_entry_id_;
        outbox_.push_back(std::move(entry));
    }
    wake();
    return 0;
}

void secsicomm::send_end(bool success, uint64_t entry_id) {
    LineEvents ev;
    {
        std::unique_lock<std::mutex> lock(mu_);
        if (outbox_.empty()) return;
        if (!success) {
            // Every queued message ends here, each with its own outcome.
            std::deque<OutboxEntry> taken;
            taken.swap(outbox_);
            lock.unlock();
            msg.log(lmMsgNameSend | lmMsgGeneral, "Messages were not sent. Clearing Outbox");
            for (size_t i = 0; i < taken.size(); ++i) add_written(ev, 0);
            raise_events(*this, ev);
            return;
        }
        OutboxEntry& entry = outbox_.front();
        if (entry.id != entry_id) return;  // it left the outbox while its block was out
        if (++entry.next < entry.blocks.size()) return;
        add_written(ev, 1);
        msg.log(lmMsgNameSend | lmMsgGeneral, "Message was sent. Name: '%s'", block_name(entry.blocks[0]).c_str());
        if (entry.blocks[0].w_bit) expect_block(entry.blocks[0], T3.load(), true, ev);
        outbox_.pop_front();
    }
    raise_events(*this, ev);
}

// ---- incoming ---------------------------------------------------------------------

void secsicomm::accept_block(const S_BLOCK& block) {
    LineEvents ev;
    std::optional<Blocks> complete;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (last_accepted_ && last_accepted_->is_duplicate(block)) {
            msg.log(lmMsgGeneral | lmPortDetailed, "ERROR: Received block duplication");
            add_notify(ev, nSecsErrorBlockDuplication);
        } else {
            complete = take_block(block, ev);
            last_accepted_ = block;
        }
    }
    if (complete) deliver_message(*complete, ev);
    raise_events(*this, ev);
}

std::optional<secsicomm::Blocks> secsicomm::take_block(const S_BLOCK& block, LineEvents& ev) {
    const int index = find_message_i(block);
    const auto message = index < 0 ? in_progress_.end() : std::next(in_progress_.begin(), index);
    // The next block of a message in progress joins it. Checked first: a
    // message numbered from 0 goes on with block 1.
    if (message != in_progress_.end() && message->back().block_number + 1 == block.block_number) {
        const auto entry = expected_entry(block, false);
        if (entry != expected_.end()) consume(entry);
        return block_add(message, block, ev);
    }
    if (block.is_first()) {
        if (message != in_progress_.end()) {
            // The peer gave the message up and sends it again: nothing of the
            // old part is delivered, and its continuation is no longer awaited.
            msg.log(lmTimeout | lmMsgGeneral, "ERROR: incomplete message discarded. Name: '%s'",
                    block_name(message->front()).c_str());
            const auto entry = expected_entry(message->back(), false);
            if (entry != expected_.end()) consume(entry);
            in_progress_.erase(message);
            return block_add(in_progress_.end(), block, ev);
        }
        if (block.is_primary()) return block_add(in_progress_.end(), block, ev);  // a new message from the peer
        const auto reply = expected_entry(block, true);
        if (reply != expected_.end()) {
            consume(reply);
            return block_add(in_progress_.end(), block, ev);
        }
    }
    if (block.is_primary()) {
        msg.log(lmPortGeneral | lmPortDetailed, "ERROR: extra block received");
    } else {
        // A reply nobody waits for: never asked for, too late, or a block
        // that continues no reply in progress.
        msg.log(lmMsgGeneral, "ERROR: Received extra block");
    }
    add_notify(ev, nSecsErrorExtraBlock);
    return std::nullopt;
}

std::list<secsicomm::Expected>::iterator secsicomm::expected_entry(const S_BLOCK& block, bool reply) {
    return std::find_if(expected_.begin(), expected_.end(), [&](const Expected& e) {
        if (e.reply != reply) return false;
        if (reply) {
            // Only a secondary answers: a primary of the peer's that happens
            // to carry our system bytes is a message of its own.
            return !block.is_primary() && block.device_id == e.block.device_id &&
                   block.stream() == e.block.stream() && same_system_bytes(block, e.block);
        }
        return same_message(block, e.block);
    });
}

void secsicomm::consume(std::list<Expected>::iterator entry) {
    timers_.kill(entry->timer);
    expected_.erase(entry);
}

std::optional<secsicomm::Blocks> secsicomm::block_add(std::list<Blocks>::iterator message, const S_BLOCK& block,
                                                       LineEvents& ev) {
    if (message == in_progress_.end()) message = in_progress_.insert(in_progress_.end(), Blocks{});
    message->push_back(block);
    if (block.is_last()) {
        Blocks done = std::move(*message);
        in_progress_.erase(message);
        return done;
    }
    expect_block(block, T4.load(), false, ev);
    return std::nullopt;
}

int secsicomm::find_message_i(const S_BLOCK& block) const {
    int index = 0;
    for (const Blocks& message : in_progress_) {
        if (same_message(message.front(), block)) return index;
        ++index;
    }
    return -1;
}

void secsicomm::expect_block(const S_BLOCK& block, int32_t timeout, bool reply, LineEvents& ev) {
    Expected entry;
    entry.block = block;
    entry.reply = reply;
    entry.block.block_number = reply ? 1 : block.block_number + 1;
    entry.timer = set_ibtimer(timeout, ev);
    expected_.push_back(entry);
}

timers::TimerId secsicomm::set_ibtimer(int32_t timeout, LineEvents& ev) {
    timers::TimerId id = 0;
    timers_.set(id, timeout, 0, msg, ev);
    return id;
}

void secsicomm::deliver_message(const Blocks& message, LineEvents& ev) {
    const S_BLOCK& first = message.front();
    MessageRecord record;
    record.r_bit = first.r_bit;
    record.w_bit = first.w_bit;
    record.device_id = first.device_id;
    record.stream = first.stream();
    record.function = first.function();
    record.source_id = first.source_id;
    record.transaction_id = first.transaction_id;
    size_t size = 0;
    for (const S_BLOCK& block : message) size += static_cast<size_t>(block.data_length());
    record.body.reserve(size);
    for (const S_BLOCK& block : message) {
        record.body.append(reinterpret_cast<const char*>(block.raw.data()) + S_BLOCK::kHeaderSize,
                           static_cast<size_t>(block.data_length()));
    }
    const std::string name = message_name(record);
    msg.add_received(std::move(record));
    msg.log(lmMsgNameReceived | lmMsgGeneral, "Received message. Name: '%s'", name.c_str());
    add_read(ev);
}

void secsicomm::funcTimeProc(timers::TimerId id) {
    LineEvents ev;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (timers_.closed()) return;
        auto it = std::find_if(expected_.begin(), expected_.end(), [id](const Expected& e) { return e.timer == id; });
        if (it == expected_.end()) return;  // matched meanwhile
        LineTimers::fired(it->timer);
        const std::string name = block_name(it->block);
        if (it->reply) {
            add_notify(ev, nSecsErrorT3);
            msg.log(lmTimeout, "ERROR: T3 timeout - waiting for reply to '%s'", name.c_str());
        } else {
            add_notify(ev, nSecsErrorT4);
            msg.log(lmTimeout, "ERROR: T4 timeout - waiting continuation of '%s'", name.c_str());
            // Its further blocks are no longer expected, so it can never
            // complete: it goes, rather than holding memory for good.
            auto message = std::find_if(in_progress_.begin(), in_progress_.end(),
                                        [&](const Blocks& m) { return same_message(m.front(), it->block); });
            if (message != in_progress_.end()) {
                msg.log(lmTimeout | lmMsgGeneral, "ERROR: incomplete message discarded. Name: '%s'", name.c_str());
                in_progress_.erase(message);
            }
        }
        expected_.erase(it);
    }
    mailbox_.put(ev);
    wake();
}

}  // namespace tarvo
