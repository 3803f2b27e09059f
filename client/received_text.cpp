#include "client/received_text.h"

#include <algorithm>
#include <cstdio>

#include "client/notify_text.h"
#include "platform/com/bstr.h"

namespace tarvo::client {

namespace {

// A driver text as bytes (one per character); "" when the call failed.
std::string take_bytes(HRESULT hr, BSTR text) {
    if (FAILED(hr) || !text) return {};
    std::string bytes = BytesFromBstr(text);
    SysFreeString(text);
    return bytes;
}

std::string text_call(ITarvo* d, HRESULT (ITarvo::*method)(BSTR*)) {
    BSTR text = nullptr;
    const HRESULT hr = (d->*method)(&text);
    return take_bytes(hr, text);
}

void header_of(ITarvo* d, ReceivedMessage& m) {
    d->GetInFunctionID(&m.function);
    d->GetInStreamID(&m.stream);
    d->GetInWBit(&m.w);
}

// Text that stops growing at its limit.
class BoundedText {
public:
    explicit BoundedText(size_t limit) : limit_(limit) {}
    void add(const std::string& part) {
        if (text_.size() >= limit_) return;
        text_.append(part, 0, limit_ - text_.size());
    }
    bool full() const { return text_.size() >= limit_; }
    std::string take(const std::string& left_out) {
        if (!left_out.empty()) text_ += "\n" + left_out;
        return std::move(text_);
    }

private:
    size_t limit_;
    std::string text_;
};

std::string left_out(size_t shown, size_t total, const char* what) {
    if (shown >= total) return {};
    char line[128];
    std::snprintf(line, sizeof line, "[%zu of %zu %s not shown]", total - shown, total, what);
    return line;
}

std::string bytes_view(const std::string& name, const std::string& body, size_t limit) {
    BoundedText text(limit);
    text.add(name);
    size_t i = 0;
    for (; i < body.size() && !text.full(); ++i) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X ", static_cast<unsigned char>(body[i]));
        text.add(i % 10 == 0 ? std::string("\n") + hex : std::string(hex));
    }
    return text.take(left_out(i, body.size(), "bytes"));
}

std::string elements_view(ITarvo* d, const std::string& name, size_t limit) {
    BoundedText text(limit);
    text.add(name + "\ntype\tquant\tpointer\t\tvalue\n");
    INT count = 0;
    d->GetElemGnrlQuan(&count);
    INT i = 0;
    for (; i < count && !text.full(); ++i) {
        BSTR p = nullptr;
        const HRESULT hr = d->GetElemGnrlPointer(i, &p);
        const std::string pointer = take_bytes(hr, p);
        BSTR b = BstrFromBytes(pointer);
        d->SetElemPointer(b);
        SysFreeString(b);
        INT quantity = 0;
        enum_SECS_ELEM_TYPE type = etSecsInv;
        // Binary shows "_": its value is not even asked for.
        std::string value = "_";
        d->GetElemType(&type);
        if (type != etSecsB) value = text_call(d, &ITarvo::GetElemValue);
        d->GetElemQuantity(&quantity);
        text.add("'" + ElemTypeName(type) + "'\t'" + std::to_string(quantity) + "'\t'" + pointer + "'\t\t'" +
                 value + "'\n");
    }
    return text.take(left_out(static_cast<size_t>(i), static_cast<size_t>(count < 0 ? 0 : count), "elements"));
}

}  // namespace

std::string received_name(int stream, int function, long w) {
    char text[32];
    std::snprintf(text, sizeof text, w == 1 ? "S%dF%dW" : "S%dF%d", stream, function);
    return text;
}

ReceivedMessage take_received(ITarvo* d, std::optional<ReceivedWindow::View> view, size_t limit) {
    ReceivedMessage m;
    if (!view) {
        d->NextMessage();
        header_of(d, m);
        return m;
    }
    m.full = true;
    switch (*view) {
    case ReceivedWindow::View::sml: {
        const std::string sml = text_call(d, &ITarvo::NextMessageSML);
        header_of(d, m);
        BoundedText text(limit);
        text.add(sml);
        m.text = text.take(left_out(std::min(sml.size(), limit), sml.size(), "characters"));
        break;
    }
    case ReceivedWindow::View::bytes: {
        const std::string body = text_call(d, &ITarvo::NextMessageByte);
        header_of(d, m);
        m.text = bytes_view(received_name(m.stream, m.function, m.w), body, limit);
        break;
    }
    case ReceivedWindow::View::elements:
        d->NextMessage();
        header_of(d, m);
        m.text = elements_view(d, received_name(m.stream, m.function, m.w), limit);
        break;
    }
    return m;
}

}  // namespace tarvo::client
