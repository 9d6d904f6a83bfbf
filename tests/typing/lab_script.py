"""A lab script and its test as a user writes them, for the type checkers:
`mypy --strict` (and pyright) must accept it with the shipped stubs only.
tests/test_typing.py checks it; it is not run."""
from typing import List, Optional, Tuple

import _instrbus as bus
import _photonbay as pb
import _polshaper as pol
import _powerprobe as pm
import _smeter as smu
import instrbind
import instrsim as sim


def scan(session: pb.Session, points: int) -> List[Tuple[float, float]]:
    pb.set_TLS_wavelength(session, 0, 0, 1550e-9)
    low, high, default, now = pb.get_TLS_wavelength_Q(session, 0)
    wavelengths, power, *rest = pb.executeLambdaScan(session, points)
    total: float = sum(power) + low + high + default + now
    values = pb.ViReal64Vec()
    values.extend([total, float(len(rest))])
    return list(zip(wavelengths, power))


def bench() -> float:
    s = pb.init('GPIB0::20::INSTR', 1, 0)
    watts: float = pb.PWM_readValue(s, 1, 0)
    pb.close(s)
    pb.close(pb.Session(4097))                  # a session number from elsewhere, cast
    k = smu.init('GPIB0::24::INSTR', 1, 1)
    code, text = smu.GetError(k, 512)
    readings, count = smu.ReadMultiPoint(k, 0, 10)
    p = pm.init(b'USB0::0x3A5C::0x0207::P0012345::INSTR', 0, 0)
    data, n = pm.readRaw(p, 64)
    q = pol.init('GPIB0::9::INSTR', 0, 0)
    pol.setPolPos(q, 0, 45.0)
    rm = bus.OpenDefaultRM()
    found, many, first = bus.FindRsrc(rm, '?*INSTR')
    raw: bytes = bus.GetAttribute(rm, 0x3FFF0001) + data
    return watts + code + len(text) + sum(readings) + count + n + many + len(first) + len(raw) + found


def failure_report() -> str:
    instrbind.trace(True)
    try:
        pb.CheckError(pb.Session(4097), -1)
    except instrbind.DriverExit as e:
        where: Optional[str] = e.resource
        return '%s.%s %s %s %s' % (e.module, e.function, where, e.status, e.message)
    finally:
        instrbind.trace(False)
    return instrbind.__version__


class BenchTest(sim.SimulatorTestCase):
    def test_timeout_is_seen(self) -> None:
        sim.fail('hp816x_PWM_readValue', sim.TMO, times=2)
        with sim.recording() as rec:
            bench()
        self.assertEqual(rec.names()[0], 'hp816x_init')
        args = self.assertCalled('hp816x_init', 'GPIB0::20::INSTR', sim.ANY, 0, sim.PTR)
        self.assertIsNone(args[-1] if args[-1] is None else None)
        r = sim.run_python('print(1)')
        self.assertEqual((r.returncode, r.stdout, r.journal), (0, '1\n', []))
        self.assertEqual(sim.exit_code(sim.INSTR_ERROR), 7)
        self.assertIn('hp816x_close', sim.functions())
