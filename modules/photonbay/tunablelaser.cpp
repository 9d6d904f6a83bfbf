// Positions 202-260: tunable laser sources.
#include "photonbay.hpp"

namespace photonbay {

void add_tunablelaser_functions(bind::Module& m) {
    m.def("set_TLS_parameters", bind::pass<hp816x_set_TLS_parameters>);
    m.def("get_TLS_parameters_Q", Q::out<6, hp816x_get_TLS_parameters_Q>);
    m.def("set_TLS_wavelength", bind::pass<hp816x_set_TLS_wavelength>);
    m.def("get_TLS_wavelength_Q", Q::out<4, hp816x_get_TLS_wavelength_Q>);
    m.def("set_TLS_power", bind::pass<hp816x_set_TLS_power>);
    m.def("get_TLS_power_Q", Q::out<5, hp816x_get_TLS_power_Q>);
    m.def("set_TLS_opticalOutput", bind::pass<hp816x_set_TLS_opticalOutput>);
    m.def("get_TLS_opticalOutput_Q", Q::out<1, hp816x_get_TLS_opticalOutput_Q>);
    m.def("get_TLS_powerMaxInRange_Q", Q::out<1, hp816x_get_TLS_powerMaxInRange_Q>);
    m.def("set_TLS_laserState", bind::pass<hp816x_set_TLS_laserState>);
    m.def("get_TLS_laserState_Q", Q::out<1, hp816x_get_TLS_laserState_Q>);
    m.def("set_TLS_laserRiseTime", bind::pass<hp816x_set_TLS_laserRiseTime>);
    m.def("get_TLS_laserRiseTime", Q::out<1, hp816x_get_TLS_laserRiseTime>);
    m.def("set_TLS_triggerConfiguration", bind::pass<hp816x_set_TLS_triggerConfiguration>);
    m.def("get_TLS_triggerConfiguration", Q::out<2, hp816x_get_TLS_triggerConfiguration>);
    m.def("set_TLS_attenuation", bind::pass<hp816x_set_TLS_attenuation>);
    m.def("get_TLS_attenuationSettings_Q", Q::out<3, hp816x_get_TLS_attenuationSettings_Q>);
    m.def("set_TLS_dark", bind::pass<hp816x_set_TLS_dark>);
    m.def("get_TLS_darkState_Q", Q::out<1, hp816x_get_TLS_darkState_Q>);
    m.def("get_TLS_temperatures", Q::out<3, hp816x_get_TLS_temperatures>);
    m.def("get_TLS_temperaturesEx", Q::out<3, hp816x_get_TLS_temperaturesEx>);
    m.def("set_TLS_autoCalibration", bind::pass<hp816x_set_TLS_autoCalibration>);
    m.def("get_TLS_autoCalState", Q::out<1, hp816x_get_TLS_autoCalState>);
    m.def("get_TLS_accClass", Q::out<1, hp816x_get_TLS_accClass>);
    m.def("TLS_zeroing", bind::pass<hp816x_TLS_zeroing>);
    m.def("TLS_zeroingAll", bind::pass<hp816x_TLS_zeroingAll>);
    m.def("TLS_zeroingEx", bind::pass<hp816x_TLS_zeroingEx>);
    m.def("displayToLambdaZero", bind::pass<hp816x_displayToLambdaZero>);
    m.def("get_TLS_lambdaZero_Q", Q::out<1, hp816x_get_TLS_lambdaZero_Q>);
    m.def("set_TLS_frequencyOffset", bind::pass<hp816x_set_TLS_frequencyOffset>);
    m.def("get_TLS_frequencyOffset_Q", Q::out<1, hp816x_get_TLS_frequencyOffset_Q>);
    m.def("TLS_configureBNC", bind::pass<hp816x_TLS_configureBNC>);
    m.def("get_TLS_BNC_config_Q", Q::out<1, hp816x_get_TLS_BNC_config_Q>);
    m.def("set_TLS_sweep", bind::pass<hp816x_set_TLS_sweep>);
    m.def("TLS_sweepControl", bind::pass<hp816x_TLS_sweepControl>);
    m.def("get_TLS_sweepState_Q", Q::out<1, hp816x_get_TLS_sweepState_Q>);
    m.def("TLS_sweepNextStep", bind::pass<hp816x_TLS_sweepNextStep>);
    m.def("TLS_sweepPreviousStep", bind::pass<hp816x_TLS_sweepPreviousStep>);
    m.def("TLS_sweepWait", bind::pass<hp816x_TLS_sweepWait>);
    m.def("set_TLS_modulation", bind::pass<hp816x_set_TLS_modulation>);
    m.def("get_TLS_modulationSettings_Q", Q::out<4, hp816x_get_TLS_modulationSettings_Q>);
    m.def("set_TLS_SBS_control", bind::pass<hp816x_set_TLS_SBS_control>);
    m.def("get_TLS_SBS_control_q", Q::out<2, hp816x_get_TLS_SBS_control_q>);
    m.def("set_TLS_ccLevel", bind::pass<hp816x_set_TLS_ccLevel>);
    m.def("get_TLS_ccLevel_Q", Q::out<1, hp816x_get_TLS_ccLevel_Q>);
    m.def("set_TLS_SBSLevel", bind::pass<hp816x_set_TLS_SBSLevel>);
    m.def("get_TLS_SBSLevel_Q", Q::out<1, hp816x_get_TLS_SBSLevel_Q>);
    m.def("set_TLS_lambdaLoggingState", bind::pass<hp816x_set_TLS_lambdaLoggingState>);
    m.def("set_TLS_lambdaLoggingStateEx", bind::pass<hp816x_set_TLS_lambdaLoggingStateEx>);
    m.def("get_TLS_lambdaLoggingState_Q", Q::out<1, hp816x_get_TLS_lambdaLoggingState_Q>);
    m.def("get_TLS_lambdaLoggingStateEx_Q", Q::out<1, hp816x_get_TLS_lambdaLoggingStateEx_Q>);
    m.def("get_TLS_wavelengthData_Q", bind::wraps<hp816x_get_TLS_wavelengthData_Q>([](ViSession s, ViInt32 n) {
        bind::RealVec w(n);
        check(s, bind::call(hp816x_get_TLS_wavelengthData_Q, s, n, w.data()));
        return w;
    }));
    // Python gives (slot, N); the driver takes the count first.
    m.def("get_TLS_wavelengthDataEx_Q",
          bind::around<hp816x_get_TLS_wavelengthDataEx_Q>([](ViSession s, ViInt32 slot, ViInt32 n) {
        bind::RealVec w(n);
        check(s, bind::call(hp816x_get_TLS_wavelengthDataEx_Q, s, n, slot, w.data()));
        return w;
    }));
    m.def("get_TLS_wavelengthPoints_Q", Q::out<1, hp816x_get_TLS_wavelengthPoints_Q>);
    m.def("get_TLS_wavelengthPointsEx_Q", Q::out<1, hp816x_get_TLS_wavelengthPointsEx_Q>);
    m.def("get_TLS_powerPoints_Q", Q::out<1, hp816x_get_TLS_powerPoints_Q>);
    m.def("get_TLS_powerData_Q", bind::wraps<hp816x_get_TLS_powerData_Q>([](ViSession s, ViInt32 slot, ViInt32 n) {
        bind::RealVec w(n), p(n);
        check(s, bind::call(hp816x_get_TLS_powerData_Q, s, slot, n, w.data(), p.data()));
        return std::make_tuple(std::move(w), std::move(p));
    }));
    m.def("enableHighSweepSpeed", bind::pass<hp816x_enableHighSweepSpeed>);
    m.def("returnEquidistantData", bind::pass<hp816x_returnEquidistantData>);
}

}  // namespace photonbay
