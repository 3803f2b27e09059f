#!/usr/bin/env python3
"""Round trips per second from Python: a host and an equipment object in one
process over loopback HSMS, log mask 0, the host sending S1F1W and waiting
for each S1F2, which the equipment sends from its Python callback. With the
path of the C++ many_pairs benchmark it also runs that (one pair, mask 0)
and prints the ratio.

    PYTHONPATH=build/plain/python python3 bench/python/round_trips.py [SECONDS] [MANY_PAIRS]
"""
import re
import socket
import statistics
import subprocess
import sys
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run(seconds):
    import tarvo  # only for a run: --help works without the module

    port = free_port()
    eq = tarvo.Dispatch("TARVOSrv1.Quill1")
    host = tarvo.Dispatch("TARVOSrv1.Quill1")
    for d, mode in ((eq, 1), (host, 2)):
        d.SetLineType(37)
        d.SetLogAdjust(0)
        d.SetConnectionMode(mode)
        d.SetHost("127.0.0.1")
        d.SetPort(port)

    def answer():
        eq.NextMessage()
        eq.Reply("S1F2 <L <A 'PY-EQ'> <A '1.0'>>")

    eq.on("OnSecsRead", answer)
    assert eq.SetActive(1) == 1 and host.SetActive(1) == 1
    times = []
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        t0 = time.perf_counter()
        host.SendMessage("S1F1 W")
        if not host.wait("OnSecsRead", timeout=5):
            raise SystemExit("no reply")
        host.NextMessage()
        times.append(time.perf_counter() - t0)
    host.close()
    eq.close()
    return len(times) / seconds, statistics.median(times) * 1000


def fail(what):
    print("round_trips.py: %s (see --help)" % what, file=sys.stderr)
    sys.exit(2)


def main():
    if any(a in ("-h", "--help") for a in sys.argv[1:]):
        print(__doc__.strip())
        return
    if len(sys.argv) > 3:
        fail("unexpected argument '%s'" % sys.argv[3])
    seconds = 3.0
    if len(sys.argv) > 1:
        try:
            seconds = float(sys.argv[1])
        except ValueError:
            seconds = -1.0
        if not 1.0 <= seconds <= 86400.0:
            fail("SECONDS must be a number from 1 to 86400, not '%s'" % sys.argv[1])
    rate, median = run(seconds)
    print("Python: %.0f round trips/s, median %.3f ms" % (rate, median))
    if len(sys.argv) > 2:
        out = subprocess.run([sys.argv[2], "--idle-seconds", "0", "--run-seconds", str(int(seconds)), "1"],
                             capture_output=True, text=True, check=True).stdout
        cpp = float(re.search(r"mask 0\s+RT/s total (\d+)", out).group(1))
        print("C++ (many_pairs, 1 pair, mask 0): %.0f round trips/s; Python / C++ = %.0f %%" % (cpp, 100 * rate / cpp))


if __name__ == "__main__":
    main()
