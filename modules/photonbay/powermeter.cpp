// Positions 107-141: power meter channels.
#include <algorithm>

#include "photonbay.hpp"

namespace photonbay {
namespace {

// The most readings one logging or stability run of the instrument holds.
const long long most_points = 10000000;

// Logging and stability set-ups: the driver will later write that many
// points into a result array it is not told the size of.
ViInt32 set_logging(ViSession s, ViInt32 slot, ViInt32 channel, ViReal64 averaging, ViInt32 points) {
    ViInt32 timeout = 0;
    set_up(s, {Prepared::logging, s, slot, channel}, points,
           [&] { return hp816x_set_PWM_logging(s, slot, channel, averaging, points, &timeout); });
    return timeout;
}

ViInt32 set_stability(ViSession s, ViInt32 slot, ViInt32 channel, ViReal64 averaging, ViReal64 delay,
                      ViReal64 total) {
    ViInt32 estimated = 0;
    set_up(s, {Prepared::stability, s, slot, channel}, estimated,
           [&] { return hp816x_set_PWM_stability(s, slot, channel, averaging, delay, total, &estimated); });
    return estimated;
}

// Logging and stability results: (flag, dataPoints values).  dataPoints only
// sizes the result; the driver writes the points of the last set-up call, so
// the array has room for those (or the most a run holds, none seen).
template <auto F, Prepared What>
std::tuple<ViUInt16, bind::RealVec> result_array(ViSession s, ViInt32 slot, ViInt32 channel, ViUInt16 wait,
                                                 ViUInt16 unit, ViUInt32 dataPoints) {
    const Key k{What, s, slot, channel};
    for (;;) {
        const long long r = room(k, most_points);
        bind::RealVec values(std::max<long long>(dataPoints, r));
        values.resize(dataPoints);
        ViUInt16 flag = 0;
        ViStatus status = 0;
        if (!call_with_room(k, most_points, r, status, [&] { return F(s, slot, channel, wait, unit, &flag, values.data()); }))
            continue;
        check(s, status);
        return std::make_tuple(flag, std::move(values));
    }
}
template <auto F, Prepared What> constexpr auto results = bind::around<F>(result_array<F, What>);

// All channels of the mainframe: three arrays of 34 entries (the most a
// mainframe carries), returned whole whatever count the driver reports.
std::tuple<bind::IntVec, bind::IntVec, bind::RealVec> read_all(ViSession s) {
    const int entries = 34;
    bind::IntVec slots(entries), channels(entries);
    bind::RealVec values(entries);
    ViUInt32 count = 0;
    check(s, bind::call(hp816x_PWM_readAll, s, &count, slots.data(), channels.data(), values.data()));
    return std::make_tuple(std::move(slots), std::move(channels), std::move(values));
}

}  // namespace

void add_powermeter_functions(bind::Module& m) {
    m.def("PWM_slaveChannelCheck", bind::pass<hp816x_PWM_slaveChannelCheck>);
    m.def("set_PWM_parameters", bind::pass<hp816x_set_PWM_parameters>);
    m.def("get_PWM_parameters_Q", Q::out<6, hp816x_get_PWM_parameters_Q>);
    m.def("set_PWM_referenceSource", bind::pass<hp816x_set_PWM_referenceSource>);
    m.def("get_PWM_referenceSource_Q", bind::pass<hp816x_get_PWM_referenceSource_Q>);
    m.def("PWM_internalTrigger", bind::pass<hp816x_set_PWM_internalTrigger>);
    m.def("set_PWM_averagingTime", bind::pass<hp816x_set_PWM_averagingTime>);
    m.def("get_PWM_averagingTime_Q", Q::out<1, hp816x_get_PWM_averagingTime_Q>);
    m.def("set_PWM_wavelength", bind::pass<hp816x_set_PWM_wavelength>);
    m.def("get_PWM_wavelength_Q", Q::out<3, hp816x_get_PWM_wavelength_Q>);
    m.def("set_PWM_calibration", bind::pass<hp816x_set_PWM_calibration>);
    m.def("get_PWM_calibration_Q", Q::out<1, hp816x_get_PWM_calibration_Q>);
    m.def("set_PWM_powerRange", bind::pass<hp816x_set_PWM_powerRange>);
    m.def("get_PWM_powerRange_Q", Q::out<2, hp816x_get_PWM_powerRange_Q>);
    m.def("set_PWM_powerUnit", bind::pass<hp816x_set_PWM_powerUnit>);
    m.def("get_PWM_powerUnit_Q", Q::out<1, hp816x_get_PWM_powerUnit_Q>);
    m.def("set_PWM_referenceValue", bind::pass<hp816x_set_PWM_referenceValue>);
    m.def("get_PWM_referenceValue_Q", Q::out<3, hp816x_get_PWM_referenceValue_Q>);
    m.def("set_PWM_triggerConfiguration", bind::pass<hp816x_set_PWM_triggerConfiguration>);
    m.def("get_PWM_triggerConfiguration", Q::out<2, hp816x_get_PWM_triggerConfiguration>);
    m.def("PWM_displayToReference", bind::pass<hp816x_PWM_displayToReference>);
    m.def("start_PWM_internalTrigger", bind::pass<hp816x_start_PWM_internalTrigger>);
    m.def("PWM_readValue", Q::out<1, hp816x_PWM_readValue>);
    m.def("PWM_fetchValue", Q::out<1, hp816x_PWM_fetchValue>);
    m.def("PWM_readAll", bind::wraps<hp816x_PWM_readAll>(read_all));
    m.def("PWM_zeroing", Q::out<1, hp816x_PWM_zeroing>);
    m.def("PWM_zeroingAll", Q::out<1, hp816x_PWM_zeroingAll>);
    m.def("PWM_ignoreError", bind::pass<hp816x_PWM_ignoreError>);
    m.def("set_PWM_logging", bind::wraps<hp816x_set_PWM_logging>(set_logging));
    m.def("get_PWM_loggingResults_Q", results<hp816x_get_PWM_loggingResults_Q, Prepared::logging>);
    m.def("set_PWM_stability", bind::wraps<hp816x_set_PWM_stability>(set_stability));
    m.def("get_PWM_stabilityResults_Q", results<hp816x_get_PWM_stabilityResults_Q, Prepared::stability>);
    m.def("set_PWM_minMax", Q::out<1, hp816x_set_PWM_minMax>);
    m.def("get_PWM_minMaxResults_Q", Q::out<3, hp816x_get_PWM_minMaxResults_Q>);
    m.def("PWM_functionStop", bind::pass<hp816x_PWM_functionStop>);
}

}  // namespace photonbay
