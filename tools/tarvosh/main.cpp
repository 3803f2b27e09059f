// tarvosh: drives a component by program id from a script of calls.
//
//   tarvosh [--progid ID] [SCRIPT | -]
//   tarvosh [--progid ID] --methods          the component's methods
//   tarvosh [--progid ID] --reference FILE   its interface reference (Markdown)
//   tarvosh [--progid ID] --typelib FILE     its type library as IDL text
//
// Reads the script from the file, or from standard input (one line at a time,
// so it can be typed). A script file is checked whole before anything runs.
// Exit status: 0 every line ran and no wait timed out; 1 a wait timed out;
// 2 a script error (the message names the line); 3 the object could not be
// created.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/com.h"
#include "tools/tarvosh/console.h"
#include "tools/tarvosh/event_log.h"
#include "tools/tarvosh/host.h"
#include "tools/tarvosh/reference.h"
#include "tools/tarvosh/script.h"

namespace {

constexpr const char* kDefaultProgId = "TARVOSrv1.Quill1";

int usage() {
    std::cout << "usage: tarvosh [--progid ID] [SCRIPT | -]\n"
           "       tarvosh [--progid ID] --methods | --reference FILE | --typelib FILE\n"
           "Creates the component ID (default " << kDefaultProgId << ") and runs the script's lines:\n"
           "  MethodName arg ...            integers, or \"strings\" with \\\\ \\\" \\n \\t \\r \\xHH;\n"
           "                                out-parameters are not written, their values are printed\n"
           "  wait EVENT [CODE] TIMEOUT_MS  wait for an event not consumed by an earlier wait\n"
           "  sleep MS\n"
           "  # comment\n"
           "Exit status: 0 done, 1 a wait timed out, 2 script error, 3 the object could not be created.\n";
    return 0;
}

struct Line {
    int number;
    tarvosh::Statement statement;
};

class Runner {
public:
    Runner(tarvosh::Console& console, tarvosh::EventLog& log, tarvosh::Host& host)
        : console_(console), log_(log), host_(host) {}

    // Runs one statement; false on a script error (already reported).
    bool Run(const Line& line) {
        std::string error;
        const tarvosh::Statement& s = line.statement;
        switch (s.kind) {
            case tarvosh::Statement::Kind::empty:
                return true;
            case tarvosh::Statement::Kind::sleep:
                std::this_thread::sleep_for(std::chrono::milliseconds(s.milliseconds));
                return true;
            case tarvosh::Statement::Kind::wait: {
                std::string event;
                if (!host_.CheckEvent(s, &event, &error)) break;
                bool ok = log_.Wait(event, s.code, std::chrono::milliseconds(s.milliseconds));
                console_.line(ok ? "wait ok" : "wait timeout");
                if (!ok) timed_out_ = true;
                return true;
            }
            case tarvosh::Statement::Kind::call:
                if (host_.Call(s, &error)) return true;
                break;
        }
        console_.error("line " + std::to_string(line.number) + ": " + error);
        return false;
    }

    bool timed_out() const { return timed_out_; }

private:
    tarvosh::Console& console_;
    tarvosh::EventLog& log_;
    tarvosh::Host& host_;
    bool timed_out_ = false;
};

bool read_line(std::istream& in, std::string* text) {
    if (!std::getline(in, *text)) return false;
    if (!text->empty() && text->back() == '\r') text->pop_back();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string progid = kDefaultProgId;
    std::string script, reference, typelib;
    bool methods = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return usage();
        if (arg == "--progid" && i + 1 < argc) {
            progid = argv[++i];
        } else if (arg.rfind("--progid=", 0) == 0) {
            progid = arg.substr(9);
        } else if (arg == "--methods") {
            methods = true;
        } else if (arg == "--reference" && i + 1 < argc) {
            reference = argv[++i];
        } else if (arg == "--typelib" && i + 1 < argc) {
            typelib = argv[++i];
        } else if (script.empty() && (arg == "-" || arg[0] != '-')) {
            script = arg;
        } else {
            std::cerr << "tarvosh: " << (arg[0] == '-' ? "unknown option or missing value '" : "unexpected argument '")
                      << arg << "' (see --help)\n";
            return 2;
        }
    }

    if (methods || !reference.empty() || !typelib.empty()) {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        const int status = methods             ? tarvosh::PrintMethods(progid)
                           : !reference.empty() ? tarvosh::WriteReference(progid, reference)
                                                : tarvosh::WriteTypeLibrary(progid, typelib);
        CoUninitialize();
        return status;
    }

    tarvosh::Console console;
    std::ifstream file;
    std::vector<Line> lines;  // a whole script file, checked before running
    bool from_file = !script.empty() && script != "-";
    if (from_file) {
        file.open(script);
        if (!file) {
            console.error("cannot open " + script + ": " + std::strerror(errno));
            return 2;
        }
        std::string text, error;
        for (int number = 1; read_line(file, &text); ++number) {
            Line line{number, {}};
            if (!tarvosh::ParseLine(text, &line.statement, &error)) {
                console.error("line " + std::to_string(number) + ": " + error);
                return 2;
            }
            lines.push_back(std::move(line));
        }
    }

    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int status = 0;
    {
        tarvosh::EventLog log(console);
        tarvosh::Host host(console, log);
        std::string error;
        if (!host.Start(progid, &error)) {
            console.error(error);
            status = 3;
        } else {
            Runner runner(console, log, host);
            bool ok = true;
            if (from_file) {
                for (const Line& line : lines)
                    if (!(ok = runner.Run(line))) break;
            } else {
                std::string text;
                for (int number = 1; ok && read_line(std::cin, &text); ++number) {
                    Line line{number, {}};
                    if (!tarvosh::ParseLine(text, &line.statement, &error)) {
                        console.error("line " + std::to_string(number) + ": " + error);
                        ok = false;
                    } else {
                        ok = runner.Run(line);
                    }
                }
            }
            status = !ok ? 2 : runner.timed_out() ? 1 : 0;
        }
        host.Stop();
    }
    CoUninitialize();
    return status;
}
