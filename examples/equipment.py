#!/usr/bin/env python3
"""An equipment in Python: a passive HSMS line that answers S1F1W (are you
there), S1F13W (establish communications) and S2F41W (host command) until
the host leaves or the time is up.

    TARVO_REGISTRY=... PYTHONPATH=build/plain/python python3 examples/equipment.py [PORT] [SECONDS]
"""
import sys
import time

import tarvo

MODEL, REVISION = "PY-EQ", "1.0"
ANSWERS = {
    (1, 1): "S1F2 <L <A '%s'> <A '%s'>>" % (MODEL, REVISION),
    (1, 13): "S1F14 <L <B 0x00> <L <A '%s'> <A '%s'>>>" % (MODEL, REVISION),
}


def main():
    port = int(sys.argv[1]) if len(sys.argv) > 1 else 5000
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
    with tarvo.Dispatch("TARVOSrv1.Quill1") as eq:
        eq.SetLineType(37)          # HSMS
        eq.SetConnectionMode(1)     # passive: the host connects
        eq.SetPort(port)
        eq.SetMaster(1)             # the equipment side

        def on_read():
            # Runs on the driver's thread for every received message.
            eq.NextMessage()
            stream, function, wait = eq.GetInStreamID(), eq.GetInFunctionID(), eq.GetInWBit()
            print("received S%dF%d%s" % (stream, function, "W" if wait else ""), flush=True)
            if not wait:
                return
            if (stream, function) == (2, 41):
                eq.SetElemPointer("1")
                command = eq.GetElemValue()
                ack = "0x00" if command in ("START", "STOP") else "0x01"
                eq.Reply("S2F42 <L <B %s> <L>>" % ack)
                print("  host command %r answered with HCACK %s" % (command, ack), flush=True)
            elif (stream, function) in ANSWERS:
                eq.Reply(ANSWERS[(stream, function)])
            else:
                eq.Reply("S%dF0" % stream)  # abort the transaction

        eq.on("OnSecsRead", on_read)
        if eq.SetActive(1) != 1:
            sys.exit("port %d could not be opened" % port)
        print("listening on port %d" % port, flush=True)
        if not eq.wait("OnSecsNotify", 101, timeout=seconds):
            sys.exit("no host connected")
        print("a host connected", flush=True)
        end = time.monotonic() + seconds
        while time.monotonic() < end and not eq.wait("OnSecsNotify", 102, timeout=0.5):
            pass
        print("done", flush=True)
        eq.SetActive(0)


if __name__ == "__main__":
    main()
