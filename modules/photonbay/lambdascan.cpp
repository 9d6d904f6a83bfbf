// Positions 261-284: lambda scans and wavelength response tables.
//
// The array functions take the element count N last; it is never passed on.
// The driver writes what the prepared scan or the table holds, so each array
// gets room for max(N, that size) and the result keeps the first N values.
// The size is the one this process last saw for the session (prepare*,
// getWlRespTblSize*), or the most the instrument produces when none was seen.
#include <algorithm>

#include "photonbay.hpp"

namespace photonbay {
namespace {

using bind::RealVec;

// The most the instrument produces: points of one scan, entries of one
// response table.  Room beyond what the driver writes stays unmapped.
const long long most_scan_points = 10000000;
const long long most_table_entries = 100000;

// A result array of n values with room for `room`.
RealVec result_array(ViUInt32 n, long long room) {
    RealVec v(std::max<long long>(n, room));
    v.resize(n);
    return v;
}

std::tuple<ViUInt32, ViUInt32> prepare_scan(ViSession s, ViInt32 unit, ViReal64 power, ViInt32 output,
                                            ViInt32 scans, ViInt32 channels, ViReal64 start, ViReal64 stop,
                                            ViReal64 step) {
    ViUInt32 points = 0, arrays = 0;
    set_up(s, {Prepared::scan, s, 0, 0}, points, [&] {
        return hp816x_prepareLambdaScan(s, unit, power, output, scans, channels, start, stop, step, &points, &arrays);
    });
    return std::make_tuple(points, arrays);
}

// The multi-frame scan belongs to the driver, not to one session.
const Key mf_scan{Prepared::mf_scan, 0, 0, 0};

std::tuple<ViUInt32, ViUInt32> prepare_mf_scan(ViSession s, ViInt32 unit, ViReal64 power, ViInt32 output,
                                               ViInt32 scans, ViInt32 channels, ViReal64 start, ViReal64 stop,
                                               ViReal64 step) {
    ViUInt32 points = 0, count = 0;
    set_up(s, mf_scan, points, [&] {
        return hp816x_prepareMfLambdaScan(s, unit, power, output, scans, channels, start, stop, step, &points, &count);
    });
    return std::make_tuple(points, count);
}

std::tuple<ViUInt32, ViUInt32> table_size(ViSession s, ViInt32 slot) {
    ViUInt32 size = 0, csv = 0;
    set_up(s, {Prepared::table, s, slot, 1}, size, [&] { return hp816x_getWlRespTblSize(s, slot, &size, &csv); });
    return std::make_tuple(size, csv);
}

std::tuple<ViUInt32, ViUInt32> table_size_ex(ViSession s, ViInt32 slot, ViInt32 channel) {
    ViUInt32 size = 0, csv = 0;
    set_up(s, {Prepared::table, s, slot, channel}, size,
           [&] { return hp816x_getWlRespTblSizeEx(s, slot, channel, &size, &csv); });
    return std::make_tuple(size, csv);
}

std::tuple<RealVec, RealVec, RealVec, RealVec, RealVec, RealVec, RealVec, RealVec, RealVec>
execute_scan(ViSession s, ViUInt32 n) {
    const Key k{Prepared::scan, s, 0, 0};
    for (;;) {
        const long long r = room(k, most_scan_points);
        RealVec wl = result_array(n, r), p1 = result_array(n, r), p2 = result_array(n, r), p3 = result_array(n, r),
                p4 = result_array(n, r), p5 = result_array(n, r), p6 = result_array(n, r), p7 = result_array(n, r),
                p8 = result_array(n, r);
        ViStatus status = 0;
        if (!call_with_room(k, most_scan_points, r, status, [&] {
                return hp816x_executeLambdaScan(s, wl.data(), p1.data(), p2.data(), p3.data(), p4.data(),
                                                p5.data(), p6.data(), p7.data(), p8.data());
            }))
            continue;
        check(s, status);
        return std::make_tuple(std::move(wl), std::move(p1), std::move(p2), std::move(p3), std::move(p4),
                               std::move(p5), std::move(p6), std::move(p7), std::move(p8));
    }
}

std::tuple<RealVec> execute_mf_scan(ViSession s, ViUInt32 n) {
    for (;;) {
        const long long r = room(mf_scan, most_scan_points);
        RealVec wl = result_array(n, r);
        ViStatus status = 0;
        if (!call_with_room(mf_scan, most_scan_points, r, status, [&] { return hp816x_executeMfLambdaScan(s, wl.data()); }))
            continue;
        check(s, status);
        return std::make_tuple(std::move(wl));
    }
}

std::tuple<RealVec, RealVec> scan_result(ViSession s, ViInt32 channel, ViUInt16 clip, ViReal64 limit, ViUInt32 n) {
    for (;;) {
        const long long r = room(mf_scan, most_scan_points);
        RealVec power = result_array(n, r), lambda = result_array(n, r);
        ViStatus status = 0;
        if (!call_with_room(mf_scan, most_scan_points, r, status, [&] {
                return hp816x_getLambdaScanResult(s, channel, clip, limit, power.data(), lambda.data());
            }))
            continue;
        check(s, status);
        return std::make_tuple(std::move(power), std::move(lambda));
    }
}

// Response table (wavelengths, factors) of a slot's channel.
std::tuple<RealVec, RealVec> read_table(ViSession s, ViInt32 slot, ViInt32 channel, ViUInt32 n, bool ex) {
    const Key k{Prepared::table, s, slot, channel};
    for (;;) {
        const long long r = room(k, most_table_entries);
        RealVec wl = result_array(n, r), factor = result_array(n, r);
        ViStatus status = 0;
        if (!call_with_room(k, most_table_entries, r, status, [&] {
                return ex ? hp816x_readWlRespTableEx(s, slot, channel, wl.data(), factor.data())
                          : hp816x_readWlRespTable(s, slot, wl.data(), factor.data());
            }))
            continue;
        check(s, status);
        return std::make_tuple(std::move(wl), std::move(factor));
    }
}

std::tuple<RealVec, RealVec> response_table(ViSession s, ViInt32 slot, ViUInt32 n) {
    return read_table(s, slot, 1, n, false);
}

std::tuple<RealVec, RealVec> response_table_ex(ViSession s, ViInt32 slot, ViInt32 channel, ViUInt32 n) {
    return read_table(s, slot, channel, n, true);
}

}  // namespace

void add_lambdascan_functions(bind::Module& m) {
    m.def("set_LambdaScan_wavelength", bind::pass<hp816x_set_LambdaScan_wavelength>);
    m.def("prepareLambdaScan", bind::wraps<hp816x_prepareLambdaScan>(prepare_scan));
    m.def("getLambdaScanParameters_Q", Q::out<4, hp816x_getLambdaScanParameters_Q>);
    m.def("executeLambdaScan", bind::around<hp816x_executeLambdaScan>(execute_scan));
    m.def("registerMainframe", bind::pass<hp816x_registerMainframe>);
    m.def("unregisterMainframe", bind::pass<hp816x_unregisterMainframe>);
    m.def("setSweepSpeed", bind::pass<hp816x_setSweepSpeed>);
    m.def("prepareMfLambdaScan", bind::wraps<hp816x_prepareMfLambdaScan>(prepare_mf_scan));
    m.def("executeMfLambdaScan", bind::around<hp816x_executeMfLambdaScan>(execute_mf_scan));
    m.def("getMFLambdaScanParameters_Q", Q::out<4, hp816x_getMFLambdaScanParameters_Q>);
    m.def("getLambdaScanResult", bind::around<hp816x_getLambdaScanResult>(scan_result));
    m.def("getNoOfRegPWMChannels_Q", Q::out<1, hp816x_getNoOfRegPWMChannels_Q>);
    m.def("getChannelLocation", Q::out<3, hp816x_getChannelLocation>);
    m.def("excludeChannel", bind::pass<hp816x_excludeChannel>);
    m.def("setInitialRangeParams", bind::pass<hp816x_setInitialRangeParams>);
    m.def("setScanAttenuation", bind::pass<hp816x_setScanAttenuation>);
    m.def("getWlRespTblSize", bind::wraps<hp816x_getWlRespTblSize>(table_size));
    m.def("getWlRespTblSizeEx", bind::wraps<hp816x_getWlRespTblSizeEx>(table_size_ex));
    m.def("readWlRespTable", bind::around<hp816x_readWlRespTable>(response_table));
    m.def("readWlRespTableEx", bind::around<hp816x_readWlRespTableEx>(response_table_ex));
    m.def("readWlRepTblCSV", Q::out<1, hp816x_readWlRepTblCSV>);
    m.def("readWlRepTblCSV_Ex", Q::out<1, hp816x_readWlRepTblCSV_Ex>);
    // numberOfWavelengths values read from each list; the result text written.
    m.def("spectralCalibration",
          bind::guarded<hp816x_spectralCalibration, bind::room<3, bind::count_at<2>>, bind::room<4, bind::count_at<2>>,
                        bind::room<6, bind::items<bind::text_reply>>>);
    m.def("spectralCalibrationEx",
          bind::guarded<hp816x_spectralCalibrationEx, bind::room<4, bind::count_at<3>>,
                        bind::room<5, bind::count_at<3>>, bind::room<7, bind::items<bind::text_reply>>>);
}

}  // namespace photonbay
