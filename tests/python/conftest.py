"""The Python module's tests run against the built component, registered
into a registration store of their own (TARVO_REGISTRY), from a folder of
their own (the driver's log goes to the current folder)."""
import os
import socket
import subprocess
import tempfile

import pytest

_WORK = tempfile.mkdtemp(prefix="tarvo-python-")
os.environ["TARVO_REGISTRY"] = os.path.join(_WORK, "registry")
os.chdir(_WORK)
subprocess.run([os.environ["TARVO_REGSVR"], "/s", os.environ["TARVO_COMPONENT"]], check=True)

import tarvo  # noqa: E402  (after the store is set up)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.fixture
def pair():
    """An equipment (passive) and a host (active) over loopback HSMS, both open."""
    port = free_port()
    equipment = tarvo.Dispatch("TARVOSrv1.Quill1")
    host = tarvo.Dispatch("TARVOSrv1.Quill1")
    equipment.SetLineType(37)
    equipment.SetConnectionMode(1)
    equipment.SetPort(port)
    equipment.SetMaster(1)
    assert equipment.SetActive(1) == 1
    host.SetLineType(37)
    host.SetConnectionMode(2)
    host.SetHost("127.0.0.1")
    host.SetPort(port)
    assert host.SetActive(1) == 1
    assert equipment.wait("OnSecsNotify", 101, timeout=5)
    yield equipment, host
    host.close()
    equipment.close()
