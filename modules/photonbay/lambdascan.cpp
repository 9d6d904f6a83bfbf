// Positions 261-284: lambda scans and wavelength response tables.
//
// The array functions take the element count N last; it sizes each working
// array and is never passed on (the driver writes what the prepared scan or
// the table holds, so N must cover that).
#include "photonbay.hpp"

namespace photonbay {
namespace {

using bind::RealVec;

std::tuple<RealVec, RealVec, RealVec, RealVec, RealVec, RealVec, RealVec, RealVec, RealVec>
execute_scan(ViSession s, ViUInt32 n) {
    RealVec wl(n), p1(n), p2(n), p3(n), p4(n), p5(n), p6(n), p7(n), p8(n);
    check(s, hp816x_executeLambdaScan(s, wl.data(), p1.data(), p2.data(), p3.data(), p4.data(), p5.data(),
                                      p6.data(), p7.data(), p8.data()));
    return std::make_tuple(std::move(wl), std::move(p1), std::move(p2), std::move(p3), std::move(p4),
                           std::move(p5), std::move(p6), std::move(p7), std::move(p8));
}

std::tuple<RealVec> execute_mf_scan(ViSession s, ViUInt32 n) {
    RealVec wl(n);
    check(s, hp816x_executeMfLambdaScan(s, wl.data()));
    return std::make_tuple(std::move(wl));
}

std::tuple<RealVec, RealVec> scan_result(ViSession s, ViInt32 channel, ViUInt16 clip, ViReal64 limit, ViUInt32 n) {
    RealVec power(n), lambda(n);
    check(s, hp816x_getLambdaScanResult(s, channel, clip, limit, power.data(), lambda.data()));
    return std::make_tuple(std::move(power), std::move(lambda));
}

std::tuple<RealVec, RealVec> response_table(ViSession s, ViInt32 slot, ViUInt32 n) {
    RealVec wl(n), factor(n);
    check(s, hp816x_readWlRespTable(s, slot, wl.data(), factor.data()));
    return std::make_tuple(std::move(wl), std::move(factor));
}

std::tuple<RealVec, RealVec> response_table_ex(ViSession s, ViInt32 slot, ViInt32 channel, ViUInt32 n) {
    RealVec wl(n), factor(n);
    check(s, hp816x_readWlRespTableEx(s, slot, channel, wl.data(), factor.data()));
    return std::make_tuple(std::move(wl), std::move(factor));
}

}  // namespace

void add_lambdascan_functions(bind::Module& m) {
    m.def("set_LambdaScan_wavelength", hp816x_set_LambdaScan_wavelength);
    m.def("prepareLambdaScan", Q::out<2, hp816x_prepareLambdaScan>);
    m.def("getLambdaScanParameters_Q", Q::out<4, hp816x_getLambdaScanParameters_Q>);
    m.def("executeLambdaScan", execute_scan);
    m.def("registerMainframe", hp816x_registerMainframe);
    m.def("unregisterMainframe", hp816x_unregisterMainframe);
    m.def("setSweepSpeed", hp816x_setSweepSpeed);
    m.def("prepareMfLambdaScan", Q::out<2, hp816x_prepareMfLambdaScan>);
    m.def("executeMfLambdaScan", execute_mf_scan);
    m.def("getMFLambdaScanParameters_Q", Q::out<4, hp816x_getMFLambdaScanParameters_Q>);
    m.def("getLambdaScanResult", scan_result);
    m.def("getNoOfRegPWMChannels_Q", Q::out<1, hp816x_getNoOfRegPWMChannels_Q>);
    m.def("getChannelLocation", Q::out<3, hp816x_getChannelLocation>);
    m.def("excludeChannel", hp816x_excludeChannel);
    m.def("setInitialRangeParams", hp816x_setInitialRangeParams);
    m.def("setScanAttenuation", hp816x_setScanAttenuation);
    m.def("getWlRespTblSize", Q::out<2, hp816x_getWlRespTblSize>);
    m.def("getWlRespTblSizeEx", Q::out<2, hp816x_getWlRespTblSizeEx>);
    m.def("readWlRespTable", response_table);
    m.def("readWlRespTableEx", response_table_ex);
    m.def("readWlRepTblCSV", Q::out<1, hp816x_readWlRepTblCSV>);
    m.def("readWlRepTblCSV_Ex", Q::out<1, hp816x_readWlRepTblCSV_Ex>);
    m.def("spectralCalibration", hp816x_spectralCalibration);
    m.def("spectralCalibrationEx", hp816x_spectralCalibrationEx);
}

}  // namespace photonbay
