"""tarvo.gem: an equipment from Python against a host driver object: items
as Python values, hooks on the equipment's thread, a failing hook reported
through sys.unraisablehook with E30's failure reply, and the example
equipment against a scripted host."""
import os
import subprocess
import sys
import textwrap
import time

import pytest

import tarvo
import tarvo.gem
from conftest import free_port

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "gem_equipment.py")


def write_config(tmp_path, port):
    path = tmp_path / "equipment.toml"
    path.write_text(textwrap.dedent("""\
        [equipment]
        mdln = "PY-GEM"
        softrev = "2.0"
        state_file = "equipment.state"

        [line]
        type = "hsms"
        mode = "passive"
        host = "127.0.0.1"
        port = %d
        t3 = 5000

        [[variable]]
        id = 1001
        name = "Live"
        format = "U4"

        [[variable]]
        id = 1002
        name = "Temp"
        format = "F4"
        value = 20.5

        [[constant]]
        id = 2001
        name = "MaxTemp"
        format = "U4"
        min = 0
        max = 500
        default = 250

        [[alarm]]
        id = 5001
        name = "OverTemp"
        text = "Over temperature"
        category = 2
        set_event = 4101
        clear_event = 4102

        [[event]]
        id = 4101
        name = "OverTempSet"

        [[event]]
        id = 4102
        name = "OverTempCleared"

        [[command]]
        name = "START"
        parameters = ["LOT"]

        [[command]]
        name = "STOP"
        """ % port))
    return str(path)


class Host:
    """A host driver object that answers S1F13 and acknowledges what wants it."""

    ACKS = {(1, 13): "S1F14 <L <B 0> <L>>", (5, 1): "S5F2 <B 0>", (6, 11): "S6F12 <B 0>", (10, 1): "S10F2 <B 0>"}

    def __init__(self, port):
        self.d = tarvo.Dispatch("TARVOSrv1.Quill1")
        self.seen = []
        self.d.SetLineType(37)
        self.d.SetConnectionMode(2)
        self.d.SetHost("127.0.0.1")
        self.d.SetPort(port)
        self.d.SetT3(5000)
        self.d.SetOutDeviceID(0)
        self.d.on("OnSecsRead", self._read)
        deadline = time.monotonic() + 5
        while self.d.SetActive(1) != 1 and time.monotonic() < deadline:
            time.sleep(0.1)

    def _read(self):
        text = self.d.NextMessageSML()
        name = text.split("\n", 1)[0]
        self.seen.append(text)
        s, f = name.rstrip("W")[1:].split("F")
        reply = self.ACKS.get((int(s), int(f)))
        if reply and name.endswith("W"):
            self.d.Reply(reply)

    def ask(self, sml):
        """Sends a W primary and gives the SML of its reply."""
        before = len(self.seen)
        stream = sml.split("F")[0][1:]
        self.d.SendMessage(sml)
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            for text in self.seen[before:]:
                if text.startswith("S%sF" % stream):
                    return text
            time.sleep(0.01)
        raise AssertionError("no reply to " + sml)

    def close(self):
        self.d.close()


def wait_until(test, seconds=5):
    deadline = time.monotonic() + seconds
    while not test() and time.monotonic() < deadline:
        time.sleep(0.02)
    return test()


def test_items_hooks_and_calls(tmp_path):
    port = free_port()
    live = {1001: tarvo.gem.Item("U1", 7)}
    changed = []
    commands = []

    def remote_command(rcmd, parameters):
        commands.append((rcmd, parameters))
        return (3, {"LOT": 2}) if parameters.get("LOT") == "BAD" else 0

    eq = tarvo.gem.Equipment(write_config(tmp_path, port), read_variable=lambda vid: live.get(vid),
                             constant_changed=lambda ecid, value: changed.append((ecid, value)),
                             remote_command=remote_command)
    host = Host(port)
    try:
        assert wait_until(lambda: eq.comm_state == "COMMUNICATING")
        assert eq.control_state == "ONLINE_REMOTE"
        assert "<U1  7>" in host.ask("S1F3 W <L <U4 1001>>")
        for value, shown in [([1, "a", b"\x00"], "<U4  1>"), (2.5, "<F8  2.500000e+00>"), (True, "<Bool 1 >"),
                             ("Don't", "<A 'Don' 0x27 't'>"), (b"\x01\x02", "<B  0x01 0x02>")]:
            live[1001] = value
            assert shown in host.ask("S1F3 W <L <U4 1001>>"), value
        assert "<B  0x00>" in host.ask("S2F15 W <L <L <U4 2001> <U2 300>>>")
        assert wait_until(lambda: changed == [(2001, 300)])
        assert "<B  0x00>" in host.ask("S2F41 W <L <A 'START'> <L <L <A 'LOT'> <A 'L-1'>>>>")
        assert "<B  0x03>" in host.ask("S2F41 W <L <A 'START'> <L <L <A 'LOT'> <A 'BAD'>>>>")
        assert commands[0] == ("START", {"LOT": "L-1"})
        eq.set(1002, 31.25)
        assert "<F4  31.250000>" in host.ask("S1F3 W <L <U4 1002>>")
        eq.alarm_set(5001)
        assert wait_until(lambda: any(t.startswith("S5F1W") and "0x82" in t for t in host.seen))
        eq.alarm_clear(5001)
        with pytest.raises(ValueError, match="already clear"):
            eq.alarm_clear(5001)
        with pytest.raises(ValueError):
            eq.set(2001, 501)
        eq.control("local")
        assert eq.control_state == "ONLINE_LOCAL"
    finally:
        host.close()
        eq.close()


def test_a_failing_hook_is_unraisable_and_gets_the_failure_reply(tmp_path, monkeypatch):
    port = free_port()
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", lambda u: reported.append(u.exc_value))

    def remote_command(rcmd, parameters):
        raise RuntimeError("the hook broke")

    def program_stored(ppid, body):
        raise RuntimeError("no room")

    eq = tarvo.gem.Equipment(write_config(tmp_path, port), remote_command=remote_command,
                             program_stored=program_stored)
    host = Host(port)
    try:
        assert wait_until(lambda: eq.comm_state == "COMMUNICATING")
        assert "<B  0x02>" in host.ask("S2F41 W <L <A 'STOP'> <L>>")          # HCACK 2
        assert "<B  0x01>" in host.ask("S7F3 W <L <A 'P1'> <B 0x01>>")       # ACKC7 1
        assert [str(e) for e in reported] == ["the hook broke", "no room"]
        assert not (tmp_path / "programs" / "P1").exists()
    finally:
        host.close()
        eq.close()


def test_a_bad_configuration_names_its_line(tmp_path):
    path = tmp_path / "bad.toml"
    path.write_text("[equipment]\nmodel = 1\n")
    with pytest.raises(ValueError, match=r"bad.toml:2: equipment.model: unknown key"):
        tarvo.gem.Equipment(str(path))


def test_the_example_answers_start_and_stop_and_raises_its_alarm(tmp_path):
    port = free_port()
    config = write_config(tmp_path, port)
    example = subprocess.Popen([sys.executable, EXAMPLE, config, "20"], stdout=subprocess.PIPE, text=True,
                               env=dict(os.environ))
    host = None
    try:
        time.sleep(0.3)
        host = Host(port)
        assert wait_until(lambda: any(t.startswith("S1F13W") for t in host.seen))
        assert "<B  0x03>" in host.ask("S2F41 W <L <A 'START'> <L>>")
        assert "<B  0x00>" in host.ask("S2F41 W <L <A 'START'> <L <L <A 'LOT'> <A 'L-9'>>>>")
        assert wait_until(lambda: any(t.startswith("S5F1W") and "0x82" in t for t in host.seen))
        assert "<B  0x00>" in host.ask("S2F41 W <L <A 'STOP'> <L>>")
        assert wait_until(lambda: any(t.startswith("S5F1W") and "0x02" in t for t in host.seen))
    finally:
        if host:
            host.close()
        example.terminate()
        out, _ = example.communicate(timeout=10)
    assert "command START {'LOT': 'L-9'}" in out
