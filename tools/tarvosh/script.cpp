#include "tools/tarvosh/script.h"

#include <limits>

namespace tarvosh {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_name_start(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool is_name_char(char c) { return is_name_start(c) || is_digit(c); }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Source text echoed in a message: printable ASCII as it is, any other byte
// as \xHH, so that a message stays one printable line.
std::string echo(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F) {
            out += ch;
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

struct Token {
    enum class Kind { name, integer, string };
    Kind kind;
    std::string text;       // name, or the integer's digits
    std::int32_t integer = 0;
    std::string bytes;
};

// Splits the line into tokens; stops at a '#' outside a string.
bool tokenize(std::string_view line, std::vector<Token>* tokens, std::string* error) {
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && is_space(line[i])) ++i;
        if (i >= line.size() || line[i] == '#') return true;
        std::size_t start = i;
        Token token{};
        char c = line[i];
        if (c == '"') {
            token.kind = Token::Kind::string;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char ch = line[i++];
                if (ch == '"') {
                    closed = true;
                    break;
                }
                if (ch != '\\') {
                    token.bytes += ch;
                    continue;
                }
                if (i >= line.size()) break;
                char e = line[i++];
                switch (e) {
                    case '\\': token.bytes += '\\'; break;
                    case '"': token.bytes += '"'; break;
                    case 'n': token.bytes += '\n'; break;
                    case 't': token.bytes += '\t'; break;
                    case 'r': token.bytes += '\r'; break;
                    case 'x': {
                        int hi = i < line.size() ? hex_value(line[i]) : -1;
                        int lo = i + 1 < line.size() ? hex_value(line[i + 1]) : -1;
                        if (hi < 0 || lo < 0) {
                            *error = "\\x needs two hex digits";
                            return false;
                        }
                        token.bytes += static_cast<char>(hi * 16 + lo);
                        i += 2;
                        break;
                    }
                    default: {
                        unsigned char u = static_cast<unsigned char>(e);
                        *error = "unknown escape \\" +
                                 (u >= 0x20 && u < 0x7F ? std::string(1, e) : Quote(std::string(1, e)));
                        return false;
                    }
                }
            }
            if (!closed) {
                *error = "unterminated string";
                return false;
            }
        } else if (is_digit(c) || ((c == '-' || c == '+') && i + 1 < line.size() && is_digit(line[i + 1]))) {
            token.kind = Token::Kind::integer;
            bool negative = c == '-';
            if (c == '-' || c == '+') ++i;
            long long value = 0;
            bool too_big = false;
            while (i < line.size() && is_digit(line[i])) {
                value = value * 10 + (line[i++] - '0');
                if (value > 2147483648LL) {  // keep counting digits, but stop growing
                    too_big = true;
                    value = 2147483648LL;
                }
            }
            if (negative) value = -value;
            token.text = std::string(line.substr(start, i - start));
            if (too_big || value > std::numeric_limits<std::int32_t>::max()) {
                *error = "integer out of range: " + token.text;
                return false;
            }
            token.integer = static_cast<std::int32_t>(value);
        } else if (is_name_start(c)) {
            token.kind = Token::Kind::name;
            while (i < line.size() && is_name_char(line[i])) ++i;
            token.text = std::string(line.substr(start, i - start));
        } else {
            *error = "unexpected character " + Quote(std::string(1, c));
            return false;
        }
        if (i < line.size() && !is_space(line[i]) && line[i] != '#') {
            *error = "unexpected character " + Quote(std::string(1, line[i])) + " after " +
                     echo(line.substr(start, i - start));
            return false;
        }
        tokens->push_back(std::move(token));
    }
}

}  // namespace

bool ParseLine(std::string_view line, Statement* statement, std::string* error) {
    *statement = Statement{};
    std::vector<Token> tokens;
    if (!tokenize(line, &tokens, error)) return false;
    if (tokens.empty()) return true;
    const Token& head = tokens[0];
    if (head.kind != Token::Kind::name) {
        *error = "a line starts with a method name, wait or sleep";
        return false;
    }
    if (head.text == "sleep") {
        if (tokens.size() != 2 || tokens[1].kind != Token::Kind::integer || tokens[1].integer < 0) {
            *error = "usage: sleep MS";
            return false;
        }
        statement->kind = Statement::Kind::sleep;
        statement->milliseconds = tokens[1].integer;
        return true;
    }
    if (head.text == "wait") {
        bool shape = (tokens.size() == 3 || tokens.size() == 4) && tokens[1].kind == Token::Kind::name;
        for (std::size_t k = 2; shape && k < tokens.size(); ++k) shape = tokens[k].kind == Token::Kind::integer;
        if (!shape || tokens.back().integer < 0) {
            *error = "usage: wait EVENT [CODE] TIMEOUT_MS";
            return false;
        }
        statement->kind = Statement::Kind::wait;
        statement->name = tokens[1].text;
        if (tokens.size() == 4) statement->code = tokens[2].integer;
        statement->milliseconds = tokens.back().integer;
        return true;
    }
    statement->kind = Statement::Kind::call;
    statement->name = head.text;
    for (std::size_t k = 1; k < tokens.size(); ++k) {
        const Token& t = tokens[k];
        Argument a;
        if (t.kind == Token::Kind::integer) {
            a.kind = Argument::Kind::integer;
            a.integer = t.integer;
        } else if (t.kind == Token::Kind::string) {
            a.kind = Argument::Kind::string;
            a.bytes = t.bytes;
        } else {
            *error = "argument " + std::to_string(k) + " is neither an integer nor a string: " + t.text;
            return false;
        }
        statement->arguments.push_back(std::move(a));
    }
    return true;
}

std::string Quote(std::string_view bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (char ch : bytes) {
        unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default:
                if (c >= 0x20 && c < 0x7F) {
                    out += static_cast<char>(c);
                } else {
                    out += "\\x";
                    out += kHex[c >> 4];
                    out += kHex[c & 0xF];
                }
        }
    }
    out += '"';
    return out;
}

}  // namespace tarvosh
