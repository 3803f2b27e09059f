"""The tarvo module: late-bound calls with in and out parameters, events by
callback and by waiting, text one byte per character, and clear errors."""
import threading

import pytest

import tarvo


def test_an_exchange_answered_from_a_callback(pair):
    equipment, host = pair
    seen = []

    def answer():
        equipment.NextMessage()
        seen.append((equipment.GetInStreamID(), equipment.GetInFunctionID(), equipment.GetInWBit()))
        if equipment.GetInWBit():
            equipment.Reply("S1F2 <L <A 'PY-EQ'> <A '2.1'>>")  # back into the driver from its thread

    equipment.on("OnSecsRead", answer)
    host.SendMessage("S1F1 W")
    assert host.wait("OnSecsWritten", 1, timeout=5)
    assert host.wait("OnSecsRead", timeout=5)
    assert host.NextMessageSML() == "S1F2\n<L \n\t<A 'PY-EQ'>\n\t<A '2.1'>\n>\n"
    assert seen == [(1, 1, 1)]


def test_out_parameters_elements_and_bytes(pair):
    equipment, host = pair
    text = "".join(chr(c) for c in range(32, 256))  # every character above the controls
    equipment.SendMessage("S6F11 <L <A '%s'> <B 0x00 0xFF> <U4 7 4000000000>>" % text.replace("'", ""))
    assert host.wait("OnSecsRead", timeout=5)
    host.NextMessage()
    assert host.GetElemGnrlQuan() >= 4
    pointers = [host.GetElemGnrlPointer(i) for i in range(host.GetElemGnrlQuan())]
    assert pointers[:2] == ["0", "1"]
    host.SetElemPointer("1")
    assert host.GetElemValue() == text.replace("'", "")
    assert host.GetElemType() == 4
    equipment.SendMessage("S6F11 <B 0x00 0x01 0xFF>")
    assert host.wait("OnSecsRead", timeout=5)
    assert host.NextMessageByte() == b"\x21\x03\x00\x01\xff"
    # Several outs of one call come back as a tuple; one out as its value.
    assert isinstance(host.GetT3(), int)
    assert host.SetOutDeviceID(5) == 1


def test_waiting_takes_each_event_once_and_times_out(pair):
    equipment, host = pair
    for _ in range(3):
        host.SendMessage("S1F1")
    for _ in range(3):
        assert equipment.wait("OnSecsRead", timeout=5)
    assert not equipment.wait("OnSecsRead", timeout=0.2)
    assert not host.wait("OnSecsNotify", 12, timeout=0.1)


def test_errors_are_python_exceptions():
    d = tarvo.Dispatch("TARVOSrv1.Quill1")
    with pytest.raises(AttributeError, match="no method \"NoSuchMethod\""):
        d.NoSuchMethod()
    with pytest.raises(TypeError, match="argument 1 of SetT3"):
        d.SetT3("ten")
    with pytest.raises(TypeError, match="takes 1 argument, 0 given"):
        d.SetT3()
    with pytest.raises(ValueError, match="characters 0 to 255"):
        d.SetHost("\u20ac")
    with pytest.raises(ValueError, match="not registered"):
        tarvo.Dispatch("No.Such.Component")
    assert "SendMessage" in d.methods()
    d.close()
    with pytest.raises(RuntimeError, match="closed"):
        d.GetT3()


def test_a_failing_callback_is_reported_and_the_driver_goes_on(pair, capsys):
    equipment, host = pair

    def broken():
        raise ValueError("a mistake in the script")

    equipment.on("OnSecsRead", broken)
    host.SendMessage("S1F1")
    assert equipment.wait("OnSecsRead", timeout=5)
    host.SendMessage("S1F3")
    assert equipment.wait("OnSecsRead", timeout=5)


def test_deactivating_while_a_callback_wants_the_gil(pair):
    # The worker runs a callback that needs the GIL while this thread waits
    # in SetActive(0) for the worker: the call must not hold the GIL.
    equipment, host = pair
    entered = threading.Event()

    def slow():
        entered.set()
        sum(range(200000))

    equipment.on("OnSecsRead", slow)
    host.SendMessage("S1F1")
    entered.wait(5)
    assert equipment.SetActive(0) == 1
    assert equipment.GetActive() == 0


def test_the_example_equipment_answers_a_host(tmp_path):
    import os
    import subprocess
    import sys
    from conftest import free_port

    port = free_port()
    example = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "equipment.py")
    eq = subprocess.Popen([sys.executable, example, str(port), "20"], stdout=subprocess.PIPE, text=True)
    try:
        assert eq.stdout.readline().startswith("listening")
        host = tarvo.Dispatch("TARVOSrv1.Quill1")
        host.SetLineType(37)
        host.SetConnectionMode(2)
        host.SetHost("127.0.0.1")
        host.SetPort(port)
        assert host.SetActive(1) == 1
        for text, expect in (("S1F13 W <L>", "S1F14"), ("S1F1 W", "S1F2"),
                             ("S2F41 W <L <A 'START'> <L>>", "S2F42"), ("S7F19 W", "S7F0")):
            host.SendMessage(text)
            assert host.wait("OnSecsRead", timeout=5), text
            assert host.NextMessageSML().startswith(expect + "\n"), text
        host.NextMessage()
        host.close()
        assert eq.wait(timeout=10) == 0
        assert "host command 'START' answered with HCACK 0x00" in eq.stdout.read()
    finally:
        eq.kill()
