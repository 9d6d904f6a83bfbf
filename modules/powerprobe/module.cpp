// _powerprobe: the optical power meter module over the PM100D driver.
#include "bind.hpp"
#include "PM100D_calls.hpp"

BIND_DRIVER(PM100D_init)  // instrbind.driver_library: the file bound for it

namespace {

// The status check: any status of the driver's instrument-error block means
// the meter has an error to read; every error ends the process.
void check(ViSession session, ViStatus status) {
    static constexpr bind::CheckPolicy policy{PM100D_errorQuery, PM100D_errorMessage, PM100D_close,
                                              (ViStatus)0xBFFC0700, (ViStatus)0xBFFC0CFF, 0};
    bind::check_status(policy, session, status);
}

using Q = bind::Queries<check>;

// A session closed by the script is no longer owed a close at the end.
ViStatus close_session(ViSession s) { return bind::session_closed(PM100D_close, s, bind::call(PM100D_close, s)); }

// (message, code): the message first.
std::tuple<bind::Text<256>, ViInt32> error_query(ViSession s) {
    bind::Text<256> message;
    ViInt32 code = 0;
    check(s, bind::call(PM100D_errorQuery, s, &code, message.data()));
    return std::make_tuple(message, code);
}

// (data, count read): the data always ends inside its buffer.
std::tuple<bind::Bytes, ViUInt32> read_raw(ViSession s, ViUInt32 count) {
    bind::Bytes data = bind::Bytes::for_count(count);
    ViUInt32 read = 0;
    check(s, bind::call(PM100D_readRaw, s, data.data(), count, &read));
    return std::make_tuple(std::move(data), bind::clamp<ViUInt32>(read, 0, count));
}

}  // namespace

BIND_MODULE(_powerprobe, m) {
    m.def("CheckError", check);
    m.def("init", Q::opener<PM100D_init>);
    m.def("close", bind::wraps<PM100D_close>(close_session));
    m.def("setTime", bind::pass<PM100D_setTime>);
    m.def("getTime", Q::out<6, PM100D_getTime>);
    m.def("setLineFrequency", bind::pass<PM100D_setLineFrequency>);
    m.def("getLineFrequency", Q::out<1, PM100D_getLineFrequency>);
    m.def("writeRegister", bind::pass<PM100D_writeRegister>);
    m.def("readRegister", Q::out<1, PM100D_readRegister>);
    m.def("setDispBrightness", bind::pass<PM100D_setDispBrightness>);
    m.def("getDispBrightness", Q::out<1, PM100D_getDispBrightness>);
    m.def("setDispContrast", bind::pass<PM100D_setDispContrast>);
    m.def("getDispContrast", Q::out<1, PM100D_getDispContrast>);
    m.def("getCalibrationMsg", Q::out<1, PM100D_getCalibrationMsg>);
    m.def("setAvgCnt", bind::pass<PM100D_setAvgCnt>);
    m.def("getAvgCnt", Q::out<1, PM100D_getAvgCnt>);
    m.def("setAttenuation", bind::pass<PM100D_setAttenuation>);
    m.def("getAttenuation", Q::out<1, PM100D_getAttenuation>);
    m.def("startDarkAdjust", bind::pass<PM100D_startDarkAdjust>);
    m.def("cancelDarkAdjust", bind::pass<PM100D_cancelDarkAdjust>);
    m.def("getDarkAdjustState", Q::out<1, PM100D_getDarkAdjustState>);
    m.def("getDarkOffset", Q::out<1, PM100D_getDarkOffset>);
    m.def("setBeamDia", bind::pass<PM100D_setBeamDia>);
    m.def("getBeamDia", Q::out<1, PM100D_getBeamDia>);
    m.def("setWavelength", bind::pass<PM100D_setWavelength>);
    m.def("getWavelength", Q::out<1, PM100D_getWavelength>);
    m.def("setPhotodiodeResponsivity", bind::pass<PM100D_setPhotodiodeResponsivity>);
    m.def("getPhotodiodeResponsivity", Q::out<1, PM100D_getPhotodiodeResponsivity>);
    m.def("setThermopileResponsivity", bind::pass<PM100D_setThermopileResponsivity>);
    m.def("getThermopileResponsivity", Q::out<1, PM100D_getThermopileResponsivity>);
    m.def("setPyrosensorResponsivity", bind::pass<PM100D_setPyrosensorResponsivity>);
    m.def("getPyrosensorResponsivity", Q::out<1, PM100D_getPyrosensorResponsivity>);
    m.def("setEnergyRange", bind::pass<PM100D_setEnergyRange>);
    m.def("getEnergyRange", Q::out<1, PM100D_getEnergyRange>);
    m.def("setEnergyRef", bind::pass<PM100D_setEnergyRef>);
    m.def("getEnergyRef", Q::out<1, PM100D_getEnergyRef>);
    m.def("setEnergyRefState", bind::pass<PM100D_setEnergyRefState>);
    m.def("getEnergyRefState", Q::out<1, PM100D_getEnergyRefState>);
    m.def("getFreqRange", Q::out<2, PM100D_getFreqRange>);
    m.def("setPowerAutoRange", bind::pass<PM100D_setPowerAutoRange>);
    m.def("getPowerAutoRange", Q::out<1, PM100D_getPowerAutorange>);
    m.def("setPowerRange", bind::pass<PM100D_setPowerRange>);
    m.def("getPowerRange", Q::out<1, PM100D_getPowerRange>);
    m.def("setPowerRef", bind::pass<PM100D_setPowerRef>);
    m.def("getPowerRef", Q::out<1, PM100D_getPowerRange>);  // the getPowerRange wrapper
    m.def("setPowerRefState", bind::pass<PM100D_setPowerRefState>);
    m.def("getPowerRefState", Q::out<1, PM100D_getPowerRefState>);
    m.def("setPowerUnit", bind::pass<PM100D_setPowerUnit>);
    m.def("getPowerUnit", Q::out<1, PM100D_getPowerUnit>);
    m.def("setPeakThreshold", bind::pass<PM100D_setPeakThreshold>);
    m.def("getPeakThreshold", Q::out<1, PM100D_getPeakThreshold>);
    m.def("setInputFilterState", bind::pass<PM100D_setInputFilterState>);
    m.def("getInputFilterState", Q::out<1, PM100D_getInputFilterState>);
    m.def("setAccelState", bind::pass<PM100D_setAccelState>);
    m.def("getAccelState", Q::out<1, PM100D_getAccelState>);
    m.def("setAccelMode", bind::pass<PM100D_setAccelMode>);
    m.def("getAccelMode", Q::out<1, PM100D_getAccelMode>);
    m.def("setAccelTau", bind::pass<PM100D_setAccelTau>);
    m.def("getAccelTau", Q::out<1, PM100D_getAccelTau>);
    m.def("setInputAdapterType", bind::pass<PM100D_setInputAdapterType>);
    m.def("getInputAdapterType", Q::out<1, PM100D_getInputAdapterType>);
    m.def("measPower", Q::out<1, PM100D_measPower>);
    m.def("measEnergy", Q::out<1, PM100D_measEnergy>);
    m.def("measFreq", Q::out<1, PM100D_measFreq>);
    m.def("measPowerDens", Q::out<1, PM100D_measPowerDens>);
    m.def("measEnergyDens", Q::out<1, PM100D_measEnergyDens>);
    m.def("getSensorInfo", Q::out<6, PM100D_getSensorInfo>);
    m.def("identificationQuery", Q::out<4, PM100D_identificationQuery>);
    m.def("reset", bind::pass<PM100D_reset>);
    m.def("selfTest", Q::out<1, PM100D_selfTest>);
    m.def("errorQueryMode", bind::pass<PM100D_errorQueryMode>);
    m.def("errorQuery", bind::wraps<PM100D_errorQuery>(error_query));
    m.def("errorMessage", Q::out<1, PM100D_errorMessage>);
    m.def("revisionQuery", Q::out<2, PM100D_revisionQuery>);
    m.def("writeRaw", bind::pass<PM100D_writeRaw>);
    m.def("readRaw", bind::around<PM100D_readRaw>(read_raw));
}
