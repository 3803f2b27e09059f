// The allow file: which clients a listening port admits, row by row, and
// that a typo never opens a port to everyone.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <string>
#include <vector>

#include "platform/net/allow_list.h"

namespace tarvo::net {
namespace {

sockaddr_storage address(const char* text) {
    sockaddr_storage s{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&s);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&s);
    if (::inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
    } else {
        EXPECT_EQ(::inet_pton(AF_INET6, text, &v6->sin6_addr), 1) << text;
        v6->sin6_family = AF_INET6;
    }
    return s;
}

bool admits(const AllowList& list, const char* client) {
    const sockaddr_storage s = address(client);
    const socklen_t length = s.ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    return list.admits(reinterpret_cast<const sockaddr*>(&s), length);
}

struct Row {
    const char* name;
    const char* file;
    int port;
    std::vector<const char*> admitted, refused;
    size_t problems;
};

TEST(AllowList, WhoMayConnect) {
    const Row rows[] = {
        {"no file text: everyone", "", 5000, {"127.0.0.1", "10.1.2.3", "::1"}, {}, 0},
        {"only another port named: everyone", "6000 127.0.0.2\n", 5000, {"127.0.0.1"}, {}, 0},
        {"one address", "5000 127.0.0.2  # the tool\n", 5000, {"127.0.0.2"}, {"127.0.0.1", "::1"}, 0},
        {"a network and its edges", "5000 10.1.0.0/16\n", 5000, {"10.1.0.0", "10.1.255.255"}, {"10.2.0.0", "10.0.255.255"}, 0},
        {"odd prefix", "5000 192.168.1.128/25\n", 5000, {"192.168.1.200"}, {"192.168.1.127"}, 0},
        {"the union of a port's lines and '*' lines", "5000 127.0.0.2\n* 127.0.0.3\n6000 127.0.0.4\n", 5000,
         {"127.0.0.2", "127.0.0.3"}, {"127.0.0.4", "127.0.0.1"}, 0},
        {"'*' alone restricts every port", "* 127.0.0.3\n", 7000, {"127.0.0.3"}, {"127.0.0.1"}, 0},
        {"IPv6 and a mapped IPv4 client", "5000 ::1 fd00::/8 127.0.0.0/8\n", 5000,
         {"::1", "fd12::5", "::ffff:127.0.0.9"}, {"fe80::1", "::ffff:10.0.0.1"}, 0},
        {"a bad address: the line allows nobody", "5000 127.0.0.2 127.0.0.x\n", 5000, {}, {"127.0.0.2", "127.0.0.1"}, 1},
        {"a bad prefix", "5000 127.0.0.0/33\n", 5000, {}, {"127.0.0.1"}, 1},
        {"an unreadable port counts as '*' and allows nobody", "50O0 127.0.0.1\n", 6000, {}, {"127.0.0.1"}, 1},
        {"a port with no address", "5000\n", 5000, {}, {"127.0.0.1"}, 1},
        {"a typo elsewhere leaves the port's own rules", "5000 127.0.0.2\n6000 nobody\n", 5000, {"127.0.0.2"},
         {"127.0.0.1"}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> problems;
        const AllowList list = AllowList::parse(row.file, "allow", row.port, problems);
        for (const char* a : row.admitted) EXPECT_TRUE(admits(list, a)) << a;
        for (const char* r : row.refused) EXPECT_FALSE(admits(list, r)) << r;
        EXPECT_EQ(problems.size(), row.problems);
        for (const std::string& p : problems) EXPECT_EQ(p.rfind("allow:", 0), 0u) << p;
    }
}

TEST(AllowList, WhereTheFileIsAndTheTextOfAnAddress) {
    ::setenv("TARVO_ALLOW", "/tmp/x-allow", 1);
    EXPECT_EQ(AllowList::file_path(), "/tmp/x-allow");
    ::unsetenv("TARVO_ALLOW");
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(AllowList::file_path(), "/cfg/tarvo/allow");
    ::unsetenv("XDG_CONFIG_HOME");
    std::vector<std::string> problems;
    ::setenv("TARVO_ALLOW", "/nonexistent/allow", 1);
    EXPECT_FALSE(AllowList::load(5000, problems).restricted()) << "no file: everyone";
    ::unsetenv("TARVO_ALLOW");
    const sockaddr_storage s = address("::1");
    EXPECT_EQ(address_text(reinterpret_cast<const sockaddr*>(&s), sizeof(sockaddr_in6)), "::1");
}

}  // namespace
}  // namespace tarvo::net
