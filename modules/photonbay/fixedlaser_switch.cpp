// Positions 142-159: fixed laser sources and optical switches.
#include "photonbay.hpp"

namespace photonbay {

void add_fixedlaser_switch_functions(bind::Module& m) {
    m.def("set_FLS_parameters", bind::pass<hp816x_set_FLS_parameters>);
    m.def("get_FLS_parameters_Q", Q::out<8, hp816x_get_FLS_parameters_Q>);
    m.def("set_FLS_modulation", bind::pass<hp816x_set_FLS_modulation>);
    m.def("get_FLS_modulationSettings_Q", Q::out<6, hp816x_get_FLS_modulationSettings_Q>);
    m.def("set_FLS_triggerState", bind::pass<hp816x_set_FLS_triggerState>);
    m.def("get_FLS_triggerState_Q", Q::out<1, hp816x_get_FLS_triggerState_Q>);
    m.def("set_FLS_laserSource", bind::pass<hp816x_set_FLS_laserSource>);
    m.def("get_FLS_laserSource_Q", Q::out<1, hp816x_get_FLS_laserSource_Q>);
    m.def("get_FLS_wavelength_Q", Q::out<2, hp816x_get_FLS_wavelength_Q>);
    m.def("set_FLS_attenuation", bind::pass<hp816x_set_FLS_attenuation>);
    m.def("get_FLS_attenuation_Q", Q::out<2, hp816x_get_FLS_attenuation_Q>);
    m.def("get_FLS_power", Q::out<1, hp816x_get_FLS_power>);
    m.def("set_FLS_laserState", bind::pass<hp816x_set_FLS_laserState>);
    m.def("get_FLS_laserState_Q", Q::out<1, hp816x_get_FLS_laserState_Q>);
    m.def("get_SWT_type", Q::out<2, hp816x_get_SWT_type>);  // (type, text)
    m.def("set_SWT_route", bind::pass<hp816x_set_SWT_route>);
    m.def("get_SWT_route", Q::out<1, hp816x_get_SWT_route>);
    m.def("get_SWT_routeTable", Q::out<1, hp816x_get_SWT_routeTable>);
}

}  // namespace photonbay
