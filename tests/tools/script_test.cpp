#include "tools/tarvosh/script.h"

#include <gtest/gtest.h>

using tarvosh::Argument;
using tarvosh::ParseLine;
using tarvosh::Quote;
using tarvosh::Statement;

namespace {

Statement parse(const std::string& line) {
    Statement s;
    std::string error;
    EXPECT_TRUE(ParseLine(line, &s, &error)) << line << ": " << error;
    return s;
}

std::string parse_error(const std::string& line) {
    Statement s;
    std::string error;
    EXPECT_FALSE(ParseLine(line, &s, &error)) << line;
    return error;
}

}  // namespace

TEST(Script, CallsWithIntegersAndStrings) {
    Statement s = parse("  SendMessage \"S1F1 W\" -5 +7 0\t2147483647 -2147483648  ");
    EXPECT_EQ(s.kind, Statement::Kind::call);
    EXPECT_EQ(s.name, "SendMessage");
    ASSERT_EQ(s.arguments.size(), 6u);
    EXPECT_EQ(s.arguments[0].kind, Argument::Kind::string);
    EXPECT_EQ(s.arguments[0].bytes, "S1F1 W");
    EXPECT_EQ(s.arguments[1].integer, -5);
    EXPECT_EQ(s.arguments[2].integer, 7);
    EXPECT_EQ(s.arguments[4].integer, 2147483647);
    EXPECT_EQ(s.arguments[5].integer, -2147483647 - 1);
    EXPECT_EQ(parse("NextMessage").arguments.size(), 0u);
}

TEST(Script, EscapesCarryBytes) {
    Statement s = parse(R"(SetHost "a\\b\"c\n\t\r\x00\xfF\x41")");
    ASSERT_EQ(s.arguments.size(), 1u);
    EXPECT_EQ(s.arguments[0].bytes, std::string("a\\b\"c\n\t\r\0\xFF" "A", 11));
    EXPECT_EQ(parse(R"(X "")").arguments[0].bytes, "");
    EXPECT_EQ(parse(R"(X "# not a comment")").arguments[0].bytes, "# not a comment");
}

TEST(Script, QuoteUsesTheSameEscapesAndRoundTrips) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    std::string quoted = Quote(all);
    for (char c : quoted) EXPECT_TRUE(c >= 0x20 && c < 0x7F);  // one printable line
    Statement s = parse("X " + quoted);
    EXPECT_EQ(s.arguments[0].bytes, all);
    EXPECT_EQ(Quote(std::string("<A \"x\">\n\x01\xFF", 10)), R"("<A \"x\">\n\x01\xFF")");
}

TEST(Script, CommentsAndBlankLines) {
    EXPECT_EQ(parse("").kind, Statement::Kind::empty);
    EXPECT_EQ(parse("   \t").kind, Statement::Kind::empty);
    EXPECT_EQ(parse("# SetActive 1").kind, Statement::Kind::empty);
    Statement s = parse("SetT3 45000 # reply timeout");
    EXPECT_EQ(s.arguments.size(), 1u);
    EXPECT_EQ(parse("GetActive#x").name, "GetActive");
}

TEST(Script, WaitAndSleep) {
    Statement w = parse("wait OnSecsNotify 104 2000");
    EXPECT_EQ(w.kind, Statement::Kind::wait);
    EXPECT_EQ(w.name, "OnSecsNotify");
    ASSERT_TRUE(w.code.has_value());
    EXPECT_EQ(*w.code, 104);
    EXPECT_EQ(w.milliseconds, 2000);
    Statement r = parse("wait OnSecsRead 500");
    EXPECT_FALSE(r.code.has_value());
    EXPECT_EQ(r.milliseconds, 500);
    Statement z = parse("sleep 0");
    EXPECT_EQ(z.kind, Statement::Kind::sleep);
    EXPECT_EQ(z.milliseconds, 0);
}

TEST(Script, ErrorsSayWhatIsWrong) {
    EXPECT_EQ(parse_error(R"(SetHost "abc)"), "unterminated string");
    EXPECT_EQ(parse_error(R"(SetHost "abc\)"), "unterminated string");
    EXPECT_EQ(parse_error(R"(SetHost "\q")"), "unknown escape \\q");
    EXPECT_EQ(parse_error(R"(SetHost "\x4")"), "\\x needs two hex digits");
    EXPECT_EQ(parse_error(R"(SetHost "\xG0")"), "\\x needs two hex digits");
    EXPECT_EQ(parse_error("SetT3 2147483648"), "integer out of range: 2147483648");
    EXPECT_EQ(parse_error("SetT3 -2147483649"), "integer out of range: -2147483649");
    EXPECT_EQ(parse_error("SetT3 99999999999999999999999"), "integer out of range: 99999999999999999999999");
    EXPECT_EQ(parse_error("SetT3 12ab"), "unexpected character \"a\" after 12");
    EXPECT_EQ(parse_error(R"(SetHost "a"b)"), "unexpected character \"b\" after \"a\"");
    EXPECT_EQ(parse_error("SetT3 1.5"), "unexpected character \".\" after 1");
    EXPECT_EQ(parse_error("SetT3 $"), "unexpected character \"$\"");
    EXPECT_EQ(parse_error("42 SetT3"), "a line starts with a method name, wait or sleep");
    EXPECT_EQ(parse_error("SetT3 value"), "argument 1 is neither an integer nor a string: value");
    EXPECT_EQ(parse_error("sleep"), "usage: sleep MS");
    EXPECT_EQ(parse_error("sleep -1"), "usage: sleep MS");
    EXPECT_EQ(parse_error("sleep \"1\""), "usage: sleep MS");
    EXPECT_EQ(parse_error("wait OnSecsRead"), "usage: wait EVENT [CODE] TIMEOUT_MS");
    EXPECT_EQ(parse_error("wait 5 100"), "usage: wait EVENT [CODE] TIMEOUT_MS");
    EXPECT_EQ(parse_error("wait OnSecsNotify 1 2 3"), "usage: wait EVENT [CODE] TIMEOUT_MS");
    EXPECT_EQ(parse_error("wait OnSecsRead -5"), "usage: wait EVENT [CODE] TIMEOUT_MS");
}

TEST(Script, ErrorsEchoOnlyPrintableText) {
    EXPECT_EQ(parse_error(std::string("SetHost \"a\x01\xE9\t\"b", 15)),
              "unexpected character \"b\" after \"a\\x01\\xE9\\x09\"");
    EXPECT_EQ(parse_error(std::string("SetHost \"\0\"\x80", 12)), "unexpected character \"\\x80\" after \"\\x00\"");
    EXPECT_EQ(parse_error("SetHost \"\\\xFF\""), "unknown escape \\\"\\xFF\"");
    EXPECT_EQ(parse_error("SetHost \"\\\x7F\""), "unknown escape \\\"\\x7F\"");
}
