"""What each registration reports it calls (fn.__self__.calls), against the
driver tables: the stubs, the function index and the tests take a function's
driver function, kind and parameter names from there."""
import json
import os
import sys
import unittest

import support
from functions import MODULES, OWN, functions, signatures

sys.path.insert(0, os.path.join(support.ROOT, 'tools'))
import drivertable  # noqa: E402
import modsrc  # noqa: E402

with open(os.path.join(support.BUILD, 'drivers', 'drivers.json')) as _f:
    TABLE = dict((fn['name'], fn) for fns in json.load(_f).values() for fn in fns)
DIRECTORY = dict((m, d) for m, d, _, _ in modsrc.MODULES)
KINDS = ('frame', 'pass-through', 'query', 'opener', 'wrapper')


class Calls(unittest.TestCase):

    def test_every_overload_names_a_driver_function_and_its_parameters(self):
        checked = 0
        for module, _, _, _ in MODULES:
            positional = modsrc.positional(module)
            own = modsrc.parameters(DIRECTORY[module])
            for name, fn in functions(module):
                calls = fn.__self__.calls
                self.assertEqual(len(calls), len(fn.__self__.signatures), name)
                for (driver, kind, names), (params, _) in zip(calls, signatures(fn)):
                    where = '%s.%s' % (module, name)
                    self.assertIn(kind, KINDS, where)
                    self.assertEqual(kind == 'frame', driver is None, where)
                    if names is None:  # named by position: the descriptions say what each is
                        self.assertEqual(len(positional.get(name, [])), len(params), where)
                    elif driver is None:
                        self.assertEqual(names, ', '.join(k for k, _ in own.get(name, [])), where)
                    else:  # the driver's first parameters, as Python names
                        table = drivertable.python_names([p['name'] for p in TABLE[driver]['params']])
                        self.assertEqual(names.split(', ') if params else [], table[:len(params)], where)
                    checked += 1
        self.assertEqual(checked, sum(n for _, _, _, n in MODULES))

    def test_each_registration_form_reports_its_kind(self):
        import _photonbay as pb
        import _smeter as sm
        for fn, driver, kind in (
                (pb.timeOut, 'hp816x_timeOut', 'pass-through'),                 # bind::pass
                (pb.getSlotInformation_Q, 'hp816x_getSlotInformation_Q', 'pass-through'),  # bind::guarded
                (pb.PWM_readValue, 'hp816x_PWM_readValue', 'query'),            # Q::out
                (pb.cmdString_Q, 'hp816x_cmdString_Q', 'query'),                # bind::sized_reply
                (pb.cmdInt32Arr_Q, 'hp816x_cmdInt32Arr_Q', 'query'),            # Q::first_element
                (pb.getHandle, 'hp816x_getHandle', 'opener'),                   # Q::opener
                (pb.PWM_internalTrigger, 'hp816x_set_PWM_internalTrigger', 'pass-through'),
                (pb.PWM_readAll, 'hp816x_PWM_readAll', 'wrapper'),              # bind::wraps
                (pb.executeLambdaScan, 'hp816x_executeLambdaScan', 'wrapper'),  # bind::around
                (pb.CheckError, None, 'frame')):
            self.assertEqual(fn.__self__.calls[0][:2], (driver, kind), fn.__name__)
        self.assertEqual(pb.executeLambdaScan.__self__.calls[0][2], None)
        self.assertEqual(pb.CheckError.__self__.calls[0][2], 'session, status')
        self.assertEqual(len(sm.ConfigureDO.__self__.calls), 2)  # an overload set: an entry each

    def test_only_the_frame_functions_call_no_driver_function(self):
        # a wrapper registered without bind::wraps or bind::around would be here
        self.assertEqual(sorted(OWN), [('_photonbay', 'CheckError'), ('_photonbay', 'foo'),
                                       ('_polshaper', 'CheckError'), ('_polshaper', 'foo'),
                                       ('_powerprobe', 'CheckError')])

    def test_python_names_of_driver_parameters(self):
        # keywords get a _, repeats a number; the first k names stay the names of the first k
        names = drivertable.python_names(['in', 'lambda', 'x', 'x', 'x2', 'x'])
        self.assertEqual(names, ['in_', 'lambda_', 'x', 'x2', 'x22', 'x3'])
        self.assertEqual(drivertable.python_names(['in', 'lambda', 'x', 'x']), names[:4])


if __name__ == '__main__':
    unittest.main()
