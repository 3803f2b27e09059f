// The catalogue reader on small files written by the tests, the catalogue we
// ship (it loads without complaint and every body plans), and the text tables.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "client/msg_info.h"
#include "client/notify_text.h"
#include "driver/messages/secsii.h"
#include "tests/client/qt_app.h"

namespace tarvo::client_test {
namespace {

using client::MsgInfo;

// A folder with the two catalogue files (a file is left out when null).
class Folder {
public:
    Folder(const char* sml, const char* text) {
        char name[] = "/tmp/tarvo-catalogue-XXXXXX";
        path_ = ::mkdtemp(name);
        if (sml) std::ofstream(path_ + "/Secs_e.sml", std::ios::binary) << sml;
        if (text) std::ofstream(path_ + "/SEMI_II.txt", std::ios::binary) << text;
    }
    ~Folder() {
        std::remove((path_ + "/Secs_e.sml").c_str());
        std::remove((path_ + "/SEMI_II.txt").c_str());
        ::rmdir(path_.c_str());
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

struct Loaded {
    std::vector<client::MsgEntry> entries;
    std::vector<std::string> boxes;
};

Loaded load(const char* sml, const char* text) {
    Folder f(sml, text);
    RecordedBoxes boxes;
    MsgInfo info({f.path()});
    Loaded l;
    for (size_t i = 0; i < info.size(); ++i) l.entries.push_back(info.entry(i));
    l.boxes = boxes.shown;
    return l;
}

struct SmlRow {
    const char* name;
    const char* sml;
    // Each expected entry as "name|S|F|W|body".
    std::vector<std::string> entries;
    std::vector<std::string> boxes;
};

std::string describe(const client::MsgEntry& e) {
    return e.name + "|" + std::to_string(e.stream) + "|" + std::to_string(e.function) + "|" +
           (e.reply_expected ? "W" : "-") + "|" + e.body;
}

const std::string kLong200(200, 'x');

TEST(Catalogue, TheSmlFileRowByRow) {
    const std::string long_line = "/* L */\nS1F3\n" + kLong200 + "\n<L>.\n";
    const SmlRow rows[] = {
        {"no body", "/* Are you there */\nS1F1 W.\n", {"Are you there|1|1|W|"}, {}},
        {"header forms",
         "S1F13W.\nS1F13 W.\nS10F1.\nS1F\n<L>.\nS2F1234 w.\n",
         {"|1|13|W|", "|1|13|W|", "|10|1|-|", "|1|0|-|<L>", "|2|123|W|"},
         {}},
        {"names carry over", "/* A */\nS1F1.\nS1F2.\n/* B */\nS1F3.\n", {"A|1|1|-|", "A|1|2|-|", "B|1|3|-|"}, {}},
        {"body lines, a blank one dropped, CR LF as one line end",
         "/* N */\r\nS1F2\r\n<L\r\n\r\n  <A 'x'>\r\n>.\r\n",
         {"N|1|2|-|<L\n  <A 'x'>\n>"},
         {}},
        {"a name inside a body stops reading", "S1F1.\nS1F2\n<L\n/* X */\n>.\nS1F3.\n", {"|1|1|-|"},
         {"MsgInfo::FillFileSML: Messages name while body. string 4"}},
        {"a header inside a body stops reading", "S1F2\n<L\nS2F1.\n", {},
         {"MsgInfo::FillFileSML: New messages while body. string 3"}},
        {"a file ending inside a body loses that entry", "S1F1.\nS1F2\n<L\n", {"|1|1|-|"}, {}},
        {"a last line without a line end loses its last character", "S1F2\n<L>..", {"|1|2|-|<L>"}, {}},
        {"a body line of 200 characters comes in two pieces", long_line.c_str(),
         {"L|1|3|-|" + kLong200.substr(0, 126) + "\n" + kLong200.substr(127) + "\n<L>"},
         {}},
    };
    for (const SmlRow& row : rows) {
        SCOPED_TRACE(row.name);
        const Loaded l = load(row.sml, "");
        std::vector<std::string> got;
        for (const auto& e : l.entries) got.push_back(describe(e));
        EXPECT_EQ(got, row.entries);
        EXPECT_EQ(l.boxes, row.boxes);
    }
}

struct TextRow {
    const char* name;
    const char* text;
    // description / structure / exceptions of the first two entries, joined by "|".
    std::vector<std::string> sections;
    std::vector<std::string> boxes;
};

TEST(Catalogue, TheDescriptionFileRowByRow) {
    const char* sml = "S1F1 W.\nS2F1.\nS10F1.\n";
    auto sections = [](const client::MsgEntry& e) {
        std::string s;
        for (const auto* list : {&e.description, &e.structure, &e.exceptions}) {
            for (const std::string& l : *list) s += l + ";";
            s += "|";
        }
        return s;
    };
    const TextRow rows[] = {
        {"all sections with continuation lines",
         "intro\nS1,F1 Are you there\nDescription: d1\nd2\nStructure: s1\nExceptions: e1\ne2\nS10,F1\nStructure: t\n",
         {"d1;d2;|s1;|e1;e2;|", "|||", "|t;||"},
         {}},
        {"structure straight after the header, a repeated header adds to the entry",
         "S1,F1\nStructure: a\nS1,F1\nException: b\n",
         {"|a;|b;|", "|||", "|||"},
         {}},
        {"keywords without text are ordinary lines", "S1,F1\nDescription: x\nDescription:\nStructure: \n",
         {"x;Description:;Structure: ;|||", "|||", "|||"},
         {}},
        {"a second description stops reading", "S1,F1\nDescription: a\nDescription: b\nS2,F1\nDescription: c\n",
         {"a;|||", "|||", "|||"},
         {"MsgInfo::FillFileSECSII: Description with out new message. string 3"}},
        {"description after structure", "S1,F1\nStructure: a\nDescription: b\n", {"|a;||", "|||", "|||"},
         {"MsgInfo::FillFileSECSII: Description with out new message. string 3"}},
        {"structure after an exception", "S1,F1\nException: a\nStructure: b\n", {"||a;|", "|||", "|||"},
         {"MsgInfo::FillFileSECSII: Structure with out new message. string 3"}},
        {"an exception before any message", "Exception: a\n", {"|||", "|||", "|||"},
         {"MsgInfo::FillFileSECSII: Exception with out new message. string 1"}},
        {"the scan never goes back", "S2,F1\nDescription: a\nS1,F1\nDescription: b\n", {"|||", "a;|||", "|||"},
         {"MsgInfo::FillFileSECSII: Unknown message 1. string 3"}},
        {"a two-digit stream nobody has", "S11,F1\n", {"|||", "|||", "|||"},
         {"MsgInfo::FillFileSECSII: Unknown message 2. string 1"}},
    };
    for (const TextRow& row : rows) {
        SCOPED_TRACE(row.name);
        const Loaded l = load(sml, row.text);
        ASSERT_EQ(l.entries.size(), 3u);
        std::vector<std::string> got;
        for (const auto& e : l.entries) got.push_back(sections(e));
        EXPECT_EQ(got, row.sections);
        EXPECT_EQ(l.boxes, row.boxes);
    }
}

TEST(Catalogue, MissingFilesAreReportedAndTheClientWorksOn) {
    Loaded l = load(nullptr, "S1,F1\n");
    EXPECT_TRUE(l.entries.empty());
    EXPECT_EQ(l.boxes, (std::vector<std::string>{"TarvoClient: Cannot open file Secs_e.sml",
                                                 "MsgInfo::FillFileSECSII: Unknown message 1. string 1"}));
    l = load("S1F1.\n", nullptr);
    EXPECT_EQ(l.entries.size(), 1u);
    EXPECT_EQ(l.boxes, std::vector<std::string>{"TarvoClient: Cannot open file SEMI_II.txt"});
}

// The catalogue we ship loads without a message box, describes every
// message, and every message as the client composes it plans.
TEST(Catalogue, OurCatalogueLoadsCompleteAndEveryBodyPlans) {
    RecordedBoxes boxes;
    MsgInfo info({TARVO_CATALOGUE_DIR});
    EXPECT_TRUE(boxes.shown.empty());
    ASSERT_GE(info.size(), 50u);
    secsii planner;
    for (size_t i = 0; i < info.size(); ++i) {
        const client::MsgEntry& e = info.entry(i);
        SCOPED_TRACE(e.name);
        EXPECT_FALSE(e.name.empty());
        EXPECT_FALSE(e.description.empty());
        EXPECT_FALSE(e.structure.empty());
        const std::string text = "S" + std::to_string(e.stream) + "F" + std::to_string(e.function) +
                                 (e.reply_expected ? "W" : "") + e.body;
        EXPECT_TRUE(planner.SetList(text)) << text;
        EXPECT_EQ(planner.prepared_copy().stream, e.stream);
        EXPECT_EQ(planner.prepared_copy().function, e.function);
        EXPECT_EQ(planner.prepared_copy().w_bit != 0, e.reply_expected);
    }
    EXPECT_EQ(info.stream_name(17), "Equipment Control and Diagnostics");
    EXPECT_EQ(info.stream_name(19), "");
}

TEST(TextTables, NotificationTextsAndElementTypeNames) {
    const std::pair<int, const char*> notes[] = {
        {2, "Length byte is not correct "}, {18, "Duplicate Block received "}, {12, "T3 timeout - Reply timeout"},
        {104, "HSMS ALTERNATING: starting ACTIVE mode"}, {13, "Unknown notification number 13"},
        {105, "Unknown notification number 105"}, {50, "Unknown notification number 50"}};
    for (const auto& [code, text] : notes) EXPECT_EQ(client::NotifyText(code), text) << code;
    const std::pair<int, const char*> types[] = {{0, "Invalid"}, {2, "Binary"}, {3, "Boolean"}, {6, "Int (64)"},
                                                 {11, "Float 32"}, {15, "UInt 32"}, {16, "Unknown type"},
                                                 {-1, "Unknown type"}};
    for (const auto& [type, text] : types) EXPECT_EQ(client::ElemTypeName(type), text) << type;
}

}  // namespace
}  // namespace tarvo::client_test
