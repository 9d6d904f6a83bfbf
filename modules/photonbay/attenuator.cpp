// Positions 59-106: optical attenuators.
#include <algorithm>

#include "photonbay.hpp"

namespace photonbay {
namespace {

// The offset table has the entries the instrument reports just before it is
// read (the most it holds if it does not say); asked in the read's own
// driver section.
long long offset_table_size(ViSession s, ViInt32 slot, ViReal64*, ViReal64*) {
    const ViUInt32 most_entries = 100;
    ViUInt32 size = 0, max_size = 0;
    if (hp816x_get_ATT_offsetTblSize_Q(s, slot, &size, &max_size) < 0) return most_entries;
    return size;
}

}  // namespace

void add_attenuator_functions(bind::Module& m) {
    m.def("set_ATT_attenuation", bind::pass<hp816x_set_ATT_attenuation>);
    m.def("get_ATT_attenuation_Q", Q::out<4, hp816x_get_ATT_attenuation_Q>);
    m.def("set_ATT_attenuationOffset", bind::pass<hp816x_set_ATT_attenuationOffset>);
    m.def("get_ATT_attenuationOffset_Q", Q::out<4, hp816x_get_ATT_attenuationOffset_Q>);
    m.def("set_ATT_attenuatorSpeed", bind::pass<hp816x_set_ATT_attenuatorSpeed>);
    m.def("get_ATT_attenuatorSpeed_Q", Q::out<4, hp816x_get_ATT_attenuatorSpeed_Q>);
    m.def("ATT_displayToOffset", bind::pass<hp816x_ATT_displayToOffset>);
    m.def("set_ATT_wavelength", bind::pass<hp816x_set_ATT_wavelength>);
    m.def("get_ATT_wavelength_Q", Q::out<4, hp816x_get_ATT_wavelength_Q>);
    m.def("set_ATT_powerUnit", bind::pass<hp816x_set_ATT_powerUnit>);
    m.def("get_ATT_powerUnit_Q", Q::out<1, hp816x_get_ATT_powerUnit_Q>);
    m.def("set_ATT_absPowerMode", bind::pass<hp816x_set_ATT_absPowerMode>);
    m.def("get_ATT_absPowerMode_Q", Q::out<1, hp816x_get_ATT_absPowerMode_Q>);
    m.def("set_ATT_power", bind::pass<hp816x_set_ATT_power>);
    m.def("get_ATT_power_Q", Q::out<6, hp816x_get_ATT_power_Q>);
    m.def("cp_ATT_refFromExtPM", bind::pass<hp816x_cp_ATT_refFromExtPM>);
    m.def("set_ATT_powerReference", bind::pass<hp816x_set_ATT_powerReference>);
    m.def("get_ATT_powerReference_Q", Q::out<4, hp816x_get_ATT_powerReference_Q>);
    m.def("set_ATT_shutterState", bind::pass<hp816x_set_ATT_shutterState>);
    m.def("get_ATT_shutterState_Q", Q::out<1, hp816x_get_ATT_shutterState_Q>);
    m.def("set_ATT_shutterAtPowerOn", bind::pass<hp816x_set_ATT_shutterAtPowerOn>);
    m.def("get_ATT_shutterStateAtPowerOn_Q", Q::out<1, hp816x_get_ATT_shutterStateAtPowerOn_Q>);
    // The text goes into the caller's own buffer; the result is the status number.
    m.def("get_ATT_operStatus",
          bind::around<hp816x_get_ATT_operStatus>([](ViSession s, ViInt32 slot, bind::Buffer<ViChar> text) {
        text.need(HP816X_ATT_OPER_STATUS_LEN, 3);
        ViInt32 status = 0;
        check(s, bind::call(hp816x_get_ATT_operStatus, s, slot, &status, text.get()));
        return status;
    }));
    m.def("read_ATT_outputPower", Q::out<1, hp816x_read_ATT_outputPower>);
    m.def("fetch_ATT_outputPower", Q::out<1, hp816x_fetch_ATT_outputPower>);
    m.def("set_ATT_wlOffsRefPowermeter", bind::pass<hp816x_set_ATT_wlOffsRefPowermeter>);
    m.def("get_ATT_wlOffsRefPowermeter_Q", Q::out<2, hp816x_get_ATT_wlOffsRefPowermeter_Q>);
    m.def("set_ATT_wavelengthOffsetState", bind::pass<hp816x_set_ATT_wavelengthOffsetState>);
    m.def("get_ATT_wavelengthOffsetState_Q", Q::out<1, hp816x_get_ATT_wavelengthOffsetState_Q>);
    m.def("set_ATT_wavelengthOffset", bind::pass<hp816x_set_ATT_wavelengthOffset>);
    m.def("get_ATT_wavelengthOffsetIndex_Q", Q::out<2, hp816x_get_ATT_wavelengthOffsetIndex_Q>);
    m.def("get_ATT_offsetFromWavelength_Q", Q::out<1, hp816x_get_ATT_offsetFromWavelength_Q>);
    m.def("delete_ATT_offsetTblEntries", bind::pass<hp816x_delete_ATT_offsetTblEntries>);
    m.def("get_ATT_offsetTable_Q", bind::guarded<hp816x_get_ATT_offsetTable_Q, bind::room<2, bind::sized_by<offset_table_size>>,
                                                 bind::room<3, bind::sized_by<offset_table_size>>>);
    m.def("get_ATT_offsetTblSize_Q", Q::out<2, hp816x_get_ATT_offsetTblSize_Q>);
    m.def("set_ATT_powerOffset", bind::pass<hp816x_set_ATT_powerOffset>);
    m.def("get_ATT_powerOffset_Q", Q::out<4, hp816x_get_ATT_powerOffset_Q>);
    m.def("set_ATT_pwrOffsRefPM", bind::pass<hp816x_set_ATT_pwrOffsRefPM>);
    m.def("set_ATT_offsByRefPM", bind::pass<hp816x_set_ATT_offsByRefPM>);
    m.def("set_ATT_controlLoopState", bind::pass<hp816x_set_ATT_controlLoopState>);
    m.def("get_ATT_controlLoopState_Q", Q::out<1, hp816x_get_ATT_controlLoopState_Q>);
    m.def("set_ATT_avTime", bind::pass<hp816x_set_ATT_avTime>);
    m.def("get_ATT_avTime_Q", Q::out<1, hp816x_get_ATT_avTime_Q>);
    m.def("set_ATT_triggerConfig", bind::pass<hp816x_set_ATT_triggerConfig>);
    m.def("get_ATT_triggerConfig_Q", Q::out<1, hp816x_get_ATT_triggerConfig_Q>);
    m.def("zero_ATT_powermeter", bind::pass<hp816x_zero_ATT_powermeter>);
    m.def("get_ATT_zeroResult_Q", Q::out<1, hp816x_get_ATT_zeroResult_Q>);
    m.def("zero_ATT_all", bind::pass<hp816x_zero_ATT_all>);
}

}  // namespace photonbay
