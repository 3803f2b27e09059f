#!/usr/bin/env python3
"""Event reports per second from Python: a tarvo.gem.Equipment whose
trigger() runs in a loop, each S6F11 carrying 2 reports of 5 variables, and
a host driver object in the same process that acknowledges each from its
Python callback, over loopback HSMS with log mask 0.
Reports acknowledged reports per second (counted at the host).

    PYTHONPATH=build/plain/python python3 bench/python/gem_event_reports.py [SECONDS]
"""
import os
import socket
import sys
import tempfile
import threading
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


CONFIG = """
[line]
type = "hsms"
mode = "passive"
host = "127.0.0.1"
port = %d
t3 = 10000
log_mask = 0
%s
[[event]]
id = 4001
name = "Done"
"""


def run(seconds):
    import tarvo
    import tarvo.gem

    port = free_port()
    variables = "".join('\n[[variable]]\nid = %d\nname = "V%d"\nkind = "dv"\nformat = "U4"\nvalue = %d\n' % (3000 + i, i, i)
                        for i in range(10))
    folder = tempfile.mkdtemp(prefix="tarvo-gem-bench-")
    path = os.path.join(folder, "equipment.toml")
    with open(path, "w") as f:
        f.write(CONFIG % (port, variables))
    eq = tarvo.gem.Equipment(path)
    host = tarvo.Dispatch("TARVOSrv1.Quill1")
    acked = [0]
    done = threading.Condition()

    def on_read():
        host.NextMessage()
        s, f = host.GetInStreamID(), host.GetInFunctionID()
        if (s, f) == (1, 13):
            host.Reply("S1F14 <L <B 0> <L>>")
        elif (s, f) == (6, 11):
            host.Reply("S6F12 <B 0>")
            with done:
                acked[0] += 1
                done.notify_all()
        elif f % 2 == 0:
            with done:
                done.notify_all()

    host.on("OnSecsRead", on_read)
    host.SetLineType(37)
    host.SetLogAdjust(0)
    host.SetConnectionMode(2)
    host.SetHost("127.0.0.1")
    host.SetPort(port)
    host.SetOutDeviceID(0)
    assert host.SetActive(1) == 1
    deadline = time.monotonic() + 5
    while eq.comm_state != "COMMUNICATING" and time.monotonic() < deadline:
        time.sleep(0.01)
    host.SendMessage("S2F33 W <L <U4 1> <L <L <U4 1> <L <U4 3000> <U4 3001> <U4 3002> <U4 3003> <U4 3004>>> "
                     "<L <U4 2> <L <U4 3005> <U4 3006> <U4 3007> <U4 3008> <U4 3009>>>>>")
    host.SendMessage("S2F35 W <L <U4 1> <L <L <U4 4001> <L <U4 1> <U4 2>>>>>")
    time.sleep(0.5)
    start = time.perf_counter()
    triggered = 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        eq.trigger(4001)
        triggered += 1
    with done:
        done.wait_for(lambda: acked[0] >= triggered, timeout=10)
    elapsed = time.perf_counter() - start
    print("triggered %d, acknowledged %d in %.2f s: %.0f acknowledged reports/s"
          % (triggered, acked[0], elapsed, acked[0] / elapsed))
    host.close()
    eq.close()


def main():
    if len(sys.argv) > 1 and sys.argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0
    try:
        seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 3.0
    except ValueError:
        print("gem_event_reports.py: SECONDS must be a number, not '%s' (see --help)" % sys.argv[1], file=sys.stderr)
        return 2
    run(seconds)
    return 0


if __name__ == "__main__":
    sys.exit(main())
