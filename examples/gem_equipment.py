#!/usr/bin/env python3
"""A GEM equipment in Python: runs the configuration FILE, answers the host's
START (it needs LOT) and STOP, and raises OverTemp (alarm 5001) while a lot
runs: set on START, cleared on STOP.

    TARVO_REGISTRY=... PYTHONPATH=build/plain/python \\
        python3 examples/gem_equipment.py FILE [SECONDS]

FILE declares the commands START and STOP and the alarm 5001 with its events
(see tests/python/test_gem.py for one). Prints a line for each command.
"""
import sys
import time

import tarvo
import tarvo.gem

HCACK_DONE, HCACK_BAD_PARAMETER = 0, 3
CPACK_BAD_VALUE = 2
OVER_TEMP = 5001


def main():
    if len(sys.argv) < 2 or sys.argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if len(sys.argv) > 1 else 2
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
    running = {"lot": None}
    equipment = None

    def remote_command(rcmd, parameters):
        # On the equipment's thread; calls back into it run at once.
        print("command", rcmd, parameters, flush=True)
        if rcmd == "START":
            lot = parameters.get("LOT", "")
            if not lot:
                return HCACK_BAD_PARAMETER, {"LOT": CPACK_BAD_VALUE}
            running["lot"] = lot
            equipment.alarm_set(OVER_TEMP)
        elif rcmd == "STOP" and running["lot"]:
            running["lot"] = None
            equipment.alarm_clear(OVER_TEMP)
        return HCACK_DONE

    def read_variable(vid):
        return None  # the values the configuration and set() give

    equipment = tarvo.gem.Equipment(sys.argv[1], remote_command=remote_command, read_variable=read_variable)
    try:
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            time.sleep(0.05)
    finally:
        equipment.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
