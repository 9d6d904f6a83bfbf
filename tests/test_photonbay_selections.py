"""_photonbay: one selection code for every mainframe setter that takes one.

0 takes the value given, 1 the minimum, 2 the default, 3 the maximum, as the
family's four-value query reports them.  The plain setters (session, slot,
value) take their range's ends and refuse what lies beyond, as parameter 3.
"""
import unittest

from support import sim, SimTestCase, PARAM
import _photonbay as pb

MAINFRAME = 'GPIB0::20::INSTR'
TLS, ATT, FLS = 0, 3, 5
VALUE, MIN, DEF, MAX = 0, 1, 2, 3
FAR = 1e9  # outside every range: refused as a value given, ignored otherwise


def att(name, *more):
    """An attenuator quantity: set_ATT_<name>(s, slot, sel, value, *more), its query (min, max, def, cur)."""
    def setter(s, sel, v):
        return getattr(pb, 'set_ATT_' + name)(s, ATT, sel, v, *more)

    def query(s):
        mn, mx, df, cur = getattr(pb, 'get_ATT_%s_Q' % name)(s, ATT)
        return mn, df, mx, cur
    return setter, query, 3, 4


def att_power():
    def query(s):
        mn, mx, df, cur = pb.get_ATT_power_Q(s, ATT)[2:]
        return mn, df, mx, cur
    return lambda s, sel, v: pb.set_ATT_power(s, ATT, 0, 0, sel, v), query, 5, 6


def fls_modulation():
    def query(s):
        mn, mx, df, cur = pb.get_FLS_modulationSettings_Q(s, FLS, 1)[2:]
        return mn, df, mx, cur
    return lambda s, sel, v: pb.set_FLS_modulation(s, FLS, 1, 1, sel, v), query, 5, 6


# name: ((setter, query giving (min, default, max, current), selection's
# parameter, value's parameter), a value given inside the range)
NAN = float('nan')
FAMILIES = [
    ('set_ATT_attenuation', att('attenuation', 1), 12.5),          # waiting for the filter
    ('set_ATT_attenuationOffset', att('attenuationOffset'), 2.5),
    ('set_ATT_attenuatorSpeed', att('attenuatorSpeed'), 0.5),
    ('set_ATT_wavelength', att('wavelength'), 1310e-9),
    ('set_ATT_powerReference', att('powerReference'), -20.0),
    ('set_ATT_powerOffset', att('powerOffset'), 1.5),
    ('set_ATT_power', att_power(), -30.0),
    ('set_FLS_modulation', fls_modulation(), 5000.0),
    ('set_TLS_wavelength', (lambda s, sel, v: pb.set_TLS_wavelength(s, TLS, sel, v),
                            lambda s: pb.get_TLS_wavelength_Q(s, TLS), 3, 4), 1560e-9),
    ('set_TLS_power', (lambda s, sel, v: pb.set_TLS_power(s, TLS, 0, sel, v),
                       lambda s: pb.get_TLS_power_Q(s, TLS)[1:], 4, 5), -3.0),
]


class Selections(SimTestCase):
    def setUp(self):
        SimTestCase.setUp(self)
        self.s = pb.init(MAINFRAME, 0, 0)

    def assertNear(self, got, want, msg):
        self.assertAlmostEqual(got, want, delta=1e-9 * max(1.0, abs(want)), msg=msg)

    def test_every_family_selects_value_min_default_max(self):
        s = self.s
        for name, (setter, query, sel_param, value_param), given in FAMILIES:
            mn, df, mx, _ = query(s)
            self.assertTrue(mn < given < mx and given != df, name)
            self.assertEqual(setter(s, VALUE, given), 0, name)
            self.assertNear(query(s)[3], given, name)
            for sel, want in [(MIN, mn), (DEF, df), (MAX, mx)]:
                self.assertEqual(setter(s, VALUE, given), 0, name)        # away from the one selected
                self.assertEqual(setter(s, sel, FAR), 0, (name, sel))     # the value is not looked at
                self.assertNear(query(s)[3], want, (name, sel))
            # A value given out of range, or an unknown selection, is refused
            # with the parameter's status and changes nothing.
            self.assertEqual(setter(s, VALUE, given), 0, name)
            self.assertEqual(setter(s, VALUE, FAR), PARAM + value_param, name)
            for sel in (-1, 4):
                self.assertEqual(setter(s, sel, given), PARAM + sel_param, (name, sel))
            self.assertNear(query(s)[3], given, name)
            self.assertEqual(query(s)[:3], (mn, df, mx), name)

    def test_range_ends_are_values_and_nan_is_refused(self):
        s = self.s
        for name, (setter, query, sel_param, value_param), given in FAMILIES:
            mn, df, mx, _ = query(s)
            for end in (mn, mx):
                self.assertEqual(setter(s, VALUE, end), 0, (name, end))
                self.assertNear(query(s)[3], end, (name, end))
            self.assertEqual(setter(s, VALUE, given), 0, name)
            self.assertEqual(setter(s, VALUE, NAN), PARAM + value_param, name)
            self.assertNear(query(s)[3], given, name)


RLM = 4
# setter, query, slot, lowest and highest value taken
PLAIN = [
    ('set_ATT_avTime', 'get_ATT_avTime_Q', ATT, 1e-3, 10.0),
    ('set_ATT_triggerConfig', 'get_ATT_triggerConfig_Q', ATT, 0, 3),
    ('set_TLS_laserRiseTime', 'get_TLS_laserRiseTime', TLS, 0.0, 10.0),
    ('set_TLS_frequencyOffset', 'get_TLS_frequencyOffset_Q', TLS, -1e12, 1e12),
    ('TLS_configureBNC', 'get_TLS_BNC_config_Q', TLS, 0, 3),
    ('set_RLM_averagingTime', 'get_RLM_averagingTime_Q', RLM, 1e-4, 10.0),
    ('set_FLS_laserSource', 'get_FLS_laserSource_Q', FLS, 0, 2),
]


class PlainSetters(SimTestCase):
    def test_ends_taken_beyond_and_nan_refused_as_parameter_3(self):
        s = pb.init(MAINFRAME, 0, 0)
        for setter, query, slot, lo, hi in PLAIN:
            put, get = getattr(pb, setter), getattr(pb, query)
            for end in (lo, hi):
                self.assertEqual(put(s, slot, end), 0, (setter, end))
                self.assertEqual(get(s, slot), end, (setter, end))
            real = isinstance(lo, float)
            step = 1e-9 * max(abs(lo), abs(hi), 1.0) if real else 1
            beyond = [lo - step, hi + step] + ([NAN] if real else [])
            for bad in beyond:
                self.assertEqual(put(s, slot, bad), PARAM + 3, (setter, bad))
                self.assertEqual(get(s, slot), hi, (setter, bad))


if __name__ == '__main__':
    unittest.main()
