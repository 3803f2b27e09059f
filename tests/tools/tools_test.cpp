// The registration tool and the scriptable host, run as programs against the
// runtime's test component.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "platform/com/registry.h"
#include "tests/platform/com/temp_registry.h"
#include "tests/tools/run_program.h"

namespace {

struct ToolsTest : ::testing::Test {
    ProgramResult regsvr(std::vector<std::string> args) {
        args.insert(args.begin(), TARVO_REGSVR);
        return run_program(args, "", reg.dir());
    }
    ProgramResult tarvosh(const std::string& script, std::vector<std::string> args = {"--progid", "Tarvo.TestCalc"}) {
        args.insert(args.begin(), TARVOSH);
        return run_program(args, script, reg.dir());
    }
    void Register() { ASSERT_EQ(regsvr({"/s", TARVO_TEST_COMPONENT}).status, 0); }

    TempRegistry reg;
};

}  // namespace

TEST_F(ToolsTest, RegsvrRegistersAndUnregisters) {
    ProgramResult r = regsvr({TARVO_TEST_COMPONENT});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("DllRegisterServer in \""), std::string::npos);
    EXPECT_NE(r.out.find("\" succeeded."), std::string::npos);
    std::string clsid;
    EXPECT_EQ(RegStoreGetValue("HKCR\\Tarvo.TestCalc\\CLSID", "", &clsid), S_OK);

    r = regsvr({"/u", "/s", TARVO_TEST_COMPONENT});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");  // silent
    EXPECT_FALSE(RegStoreKeyExists("HKCR\\Tarvo.TestCalc"));
    EXPECT_FALSE(RegStoreKeyExists("HKCR\\CLSID\\" + clsid));
}

TEST_F(ToolsTest, RegsvrReportsWhatWentWrong) {
    EXPECT_EQ(regsvr({}).status, 1);
    EXPECT_EQ(regsvr({"/x", TARVO_TEST_COMPONENT}).status, 1);
    ProgramResult r = regsvr({reg.dir() + "/missing.so"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("missing.so"), std::string::npos);

    Dl_info info{};
    ASSERT_TRUE(dladdr(reinterpret_cast<void*>(static_cast<double (*)(double)>(&std::cos)), &info));
    r = regsvr({info.dli_fname});  // a library that is no component
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find("DllRegisterServer was not found"), std::string::npos);

    setenv("TARVO_REGISTRY", "/proc/cannot/write/here", 1);  // the component's writes fail
    r = regsvr({TARVO_TEST_COMPONENT});
    EXPECT_EQ(r.status, 5);
    EXPECT_NE(r.err.find("failed: 0x80040201"), std::string::npos) << r.err;
}

TEST_F(ToolsTest, TarvoshRunsCallsPrintsOutValuesAndEvents) {
    Register();
    ProgramResult r = tarvosh(
        "# a comment, then calls\n"
        "Add 2 40\n"
        "echo \"a\\x00\\xFFb\\n\"\n"
        "\n"
        "Raise 2 104 0\n"
        "wait OnSecsNotify 104 2000\n"
        "Raise 3 1 30\n"
        "wait onsecswritten 1 5000\n"
        "Raise 1 0 0\n"
        "wait OnSecsRead 2000\n"
        "sleep 1\n"
        "GetObjects\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Add 42\n"
              "Echo \"a\\x00\\xFFb\\n\" 5\n"
              "event OnSecsNotify 104\n"
              "Raise\n"
              "wait ok\n"
              "Raise\n"
              "event OnSecsWritten 1\n"
              "wait ok\n"
              "event OnSecsRead\n"
              "Raise\n"
              "wait ok\n"
              "GetObjects 1\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(ToolsTest, TarvoshWaitsConsumeEventsAndTimeOut) {
    Register();
    ProgramResult r = tarvosh(
        "Raise 2 5 0\n"
        "Raise 2 6 0\n"
        "Raise 2 5 0\n"
        "wait OnSecsNotify 5 100\n"
        "wait OnSecsNotify 5 100\n"
        "wait OnSecsNotify 5 20\n"  // both 5s consumed
        "wait OnSecsNotify 100\n"   // any code: the 6
        "wait OnSecsRead 20\n"
        "Add 1 1\n");               // runs on after a timeout
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out,
              "event OnSecsNotify 5\nRaise\nevent OnSecsNotify 6\nRaise\nevent OnSecsNotify 5\nRaise\n"
              "wait ok\nwait ok\nwait timeout\nwait ok\nwait timeout\nAdd 2\n");
}

TEST_F(ToolsTest, TarvoshScriptErrorsNameTheLine) {
    Register();
    ProgramResult r = tarvosh("Add 1 2\nNope 1\nAdd 3 4\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "Add 3\n");  // stops at the bad line
    EXPECT_EQ(r.err, "tarvosh: line 2: unknown method \"Nope\"\n");

    EXPECT_EQ(tarvosh("Add 1\n").err, "tarvosh: line 1: Add takes 2 arguments, 1 given\n");
    EXPECT_EQ(tarvosh("\nAdd \"x\" 1\n").err, "tarvosh: line 2: argument 1 of Add (a) must be an integer\n");
    EXPECT_EQ(tarvosh("Add \"12\" 1\n").out, "Add 13\n");  // a string that holds a number will do
    EXPECT_EQ(tarvosh("wait OnFoo 10\n").err,
              "tarvosh: line 1: unknown event \"OnFoo\" (events: OnSecsRead, OnSecsNotify, OnSecsWritten)\n");
    EXPECT_EQ(tarvosh("wait OnSecsRead 1 10\n").err,
              "tarvosh: line 1: OnSecsRead has no argument to match a code against\n");
    EXPECT_EQ(tarvosh("Raise 9 0 0\n").err, "tarvosh: line 1: Raise failed: 0x80070057\n");

    // A script file is checked whole before the object is created.
    std::string path = reg.dir() + "/bad.tsh";
    std::ofstream(path) << "Add 1 2\n# fine\nEcho \"open\n";
    r = tarvosh("", {"--progid", "Tarvo.TestCalc", path});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tarvosh: line 3: unterminated string\n");
}

TEST_F(ToolsTest, TarvoshRunsAScriptFile) {
    Register();
    std::string path = reg.dir() + "/ok.tsh";
    std::ofstream(path) << "Add -1 -2\r\nEcho \"\"\n";
    ProgramResult r = tarvosh("ignored", {"--progid=Tarvo.TestCalc", path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Add -3\nEcho \"\" 0\n");
}

TEST_F(ToolsTest, TarvoshNeedsARegisteredComponent) {
    ProgramResult r = tarvosh("Add 1 2\n");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("program id \"Tarvo.TestCalc\" is not registered"), std::string::npos) << r.err;
    r = tarvosh("", {});  // the driver's own program id by default
    EXPECT_NE(r.err.find("\"TARVOSrv1.Quill1\""), std::string::npos) << r.err;
    EXPECT_EQ(tarvosh("", {"--bogus"}).status, 2);
}
