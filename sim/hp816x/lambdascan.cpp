// Simulated hp816x driver functions of this family: lambda scans (single and
// multi-frame) and the power meters' wavelength response tables.
//
// A prepared scan is a wavelength grid (start + i * step) and a laser power;
// every channel reads the laser through the device under test plus a little
// noise from a per-channel generator seeded at preparation, so a channel's
// result can be regenerated (getLambdaScanResult) and comes out the same.
#include <cmath>
#include <cstdio>
#include <string>

#include "hp816x.hpp"

using namespace hp816x;

namespace {

const ViStatus no_mainframe = (ViStatus)0xBFFC0A01L;  // multi-frame call with nothing registered
const long long max_points = 10000000;
const double noise_db = 0.002;

// Sweep speeds (nm/s) by the code setSweepSpeed takes.
const double sweep_speeds[] = {0.5, 1, 2, 5, 10, 20, 40, 80};
const int sweep_speed_count = sizeof sweep_speeds / sizeof sweep_speeds[0];

// Scan state: unit 0 is the single-frame scan of session s (key "LS<s>"),
// the multi-frame scan lives under "MFS0".
struct Scan {
    const char* family;
    long long unit;
    long long& integer(const char* w, long long d = 0) const { return sim::integer(sim::key(family, unit, w), d); }
    double& real(const char* w, double d = 0) const { return sim::real(sim::key(family, unit, w), d); }
    long long& points() const { return integer("points"); }  // 0 until prepared
    long long& channels() const { return integer("channels"); }
    double& start() const { return real("start", 1520e-9); }
    double& stop() const { return real("stop", 1580e-9); }
    double& step() const { return real("step", 1e-12); }
    double& power_dbm() const { return real("power", 0.0); }
    long long& power_unit() const { return integer("unit"); }
};
Scan single(ViSession s) { return {"LS", (long long)s}; }
Scan multi() { return {"MFS", 0}; }

Int speed_code{"LS", "speed", 5, 0, sweep_speed_count - 1};
double sweep_speed() { return sweep_speeds[speed_code()] * 1e-9; }  // m/s
Real scan_attenuation{"LS", "attenuation", 0.0};

// Registered mainframes: "MF<i>.session" for i below "MF0.count".
long long& registered() { return sim::integer(sim::key("MF", 0, "count")); }
long long& registered_session(long long i) { return sim::integer(sim::key("MF", i, "session")); }
int registered_index(ViSession s) {
    for (long long i = 0; i < registered(); ++i)
        if (registered_session(i) == (long long)s) return (int)i;
    return -1;
}

// A channel number of the registered mainframes (parameter 2).
bool channel_ok(sim::Call& c, ViInt32 channel) {
    if (channel >= 0 && channel < registered() * pwm_channel_count) return true;
    c.status(param(2));
    return false;
}

ViStatus prepare(const Scan& sc, ViInt32 unit, ViReal64 power, ViInt32 output, ViInt32 scans, ViInt32 pwmChannels,
                 ViReal64 start, ViReal64 stop, ViReal64 step, int available, ViUInt32* points, ViUInt32* arrays) {
    if (unit != 0 && unit != 1) return param(2);
    if (pwmChannels < 0 || pwmChannels > 8) return param(6);
    if (!(start > 0) || !(stop > start)) return param(8);
    if (!(step > 0)) return param(9);
    double n = std::floor((stop - start) / step + 1e-6) + 1;
    if (n > max_points) return param(9);
    sc.points() = (long long)n;
    sc.channels() = pwmChannels > 0 && pwmChannels < available ? pwmChannels : available;
    sc.start() = start;
    sc.stop() = stop;
    sc.step() = step;
    sc.power_unit() = unit;
    sc.power_dbm() = unit == 1 ? watt_to_dbm(power) : power;
    sc.integer("output") = output;
    sc.integer("scans") = scans;
    sc.integer("seed") = (long long)((sim::noise() + 1) * 4503599627370496.0);
    laser_power_dbm() = sc.power_dbm();
    laser_output() = 1;
    put(points, sc.points());
    put(arrays, sc.channels());
    return VI_SUCCESS;
}

void parameters(const Scan& sc, ViReal64* start, ViReal64* stop, ViReal64* avg, ViReal64* speed) {
    put(start, sc.start());
    put(stop, sc.stop());
    put(avg, sc.step() / sweep_speed());
    put(speed, sweep_speed());
}

// Noise in [-1, 1) of one channel: a 64-bit LCG, one step per point.
struct Noise {
    uint64_t x = 0;
    Noise() {}
    Noise(long long seed, int channel) : x((uint64_t)seed * 0x9E3779B97F4A7C15ull + (uint64_t)(channel + 1) * 0xD1B54A32D192ED03ull) {}
    double next() {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        return (double)(x >> 11) * (2.0 / 9007199254740992.0) - 1.0;
    }
};

// Writes the wavelength grid into `wl` (if given) and the response of
// channels first .. first+count-1 into power[0 .. count-1] (null: skipped).
void fill(const Scan& sc, double* wl, double** power, int first, int count, bool clip, double limit_dbm) {
    const long long n = sc.points();
    const double start = sc.start(), step = sc.step(), p0 = sc.power_dbm() - scan_attenuation();
    const bool watt = sc.power_unit() == 1;
    const double half = dip_fwhm / 2, ln10_10 = std::log(10.0) / 10, lin_noise = noise_db * ln10_10;
    const double limit_w = dbm_to_watt(limit_dbm);
    Noise gen[8];
    for (int k = 0; k < count; ++k) gen[k] = Noise(sc.integer("seed"), first + k);
    for (long long i = 0; i < n; ++i) {
        const double w = start + (double)i * step;
        if (wl) wl[i] = w;
        const double x = (w - dip_center) / half;
        const double dbm = p0 - insertion_loss_db - dip_depth_db / (1 + x * x);
        if (!watt) {
            for (int k = 0; k < count; ++k) {
                double v = dbm + noise_db * gen[k].next();
                if (power[k]) power[k][i] = clip && v < limit_dbm ? limit_dbm : v;
            }
        } else {
            const double lin = 1e-3 * std::exp(dbm * ln10_10);
            for (int k = 0; k < count; ++k) {
                double v = lin * (1 + lin_noise * gen[k].next());
                if (power[k]) power[k][i] = clip && v < limit_w ? limit_w : v;
            }
        }
    }
}

// Wavelength response table of a power meter channel: nine points from
// 1250 nm to 1650 nm, the responsivity relative to its value at 1550 nm.
const int table_size = 9;
double table_wl(int i) { return (1250 + 50 * i) * 1e-9; }
double table_factor(int slot, int ch, int i) {
    double u = (table_wl(i) - 1550e-9) / 400e-9;
    return 1 - 0.8 * u * u + 0.002 * (2.0 * slot + ch) * u;  // any slot number, no int overflow
}
std::string table_csv(int slot, int ch) {
    std::string out;
    char line[64];
    for (int i = 0; i < table_size; ++i) {
        std::snprintf(line, sizeof line, "%.1f,%.5f\n", table_wl(i) * 1e9, table_factor(slot, ch, i));
        out += line;
    }
    return out;
}
void table(int slot, int ch, ViReal64* wl, ViReal64* factor) {
    for (int i = 0; i < table_size; ++i) {
        if (wl) wl[i] = table_wl(i);
        if (factor) factor[i] = table_factor(slot, ch, i);
    }
}

ViStatus calibrate(int slot, int ch, ViUInt32 n, const ViReal64* wl, const ViReal64* power, ViReal64* reference,
                   ViChar* result) {
    if (n > 0 && (!wl || !power)) return param(4);
    double mean = 0;
    for (ViUInt32 i = 0; i < n; ++i) mean += power[i] / n;
    char text[128];
    std::snprintf(text, sizeof text, "Spectral calibration of slot %d channel %d: %u points, mean %.3f dBm", slot, ch,
                  (unsigned)n, mean);
    sim::real(sim::key("PWM", slot * 10LL + ch, "spectralMean")) = mean;
    put(reference, laser_power_dbm());
    if (result) sim::put_text(result, 256, text);
    return VI_SUCCESS;
}

}  // namespace

extern "C" {

ViStatus body_hp816x_set_LambdaScan_wavelength(Call& c, ViSession s, ViReal64 wl) {
    single(s).real("pwmWavelength") = wl;
    return c.done();
}

ViStatus body_hp816x_prepareLambdaScan(Call& c, ViSession s, ViInt32 unit, ViReal64 power, ViInt32 output,
                                       ViInt32 scans, ViInt32 pwmChannels, ViReal64 start, ViReal64 stop,
                                       ViReal64 step, ViUInt32* points, ViUInt32* arrays) {
    c.status(prepare(single(s), unit, power, output, scans, pwmChannels, start, stop, step, pwm_channel_count,
                     points, arrays));
    return c.done();
}

ViStatus body_hp816x_getLambdaScanParameters_Q(Call& c, ViSession s, ViReal64* start, ViReal64* stop, ViReal64* avg,
                                               ViReal64* speed) {
    parameters(single(s), start, stop, avg, speed);
    return c.done();
}

// Writes the prepared number of points into the wavelength array and into
// one power array per channel (every array in hostile mode); an unprepared
// scan has no points.
ViStatus body_hp816x_executeLambdaScan(Call& c, ViSession s, ViReal64 wl[], ViReal64 p1[], ViReal64 p2[],
                                       ViReal64 p3[], ViReal64 p4[], ViReal64 p5[], ViReal64 p6[], ViReal64 p7[],
                                       ViReal64 p8[]) {
    Scan sc = single(s);
    double* power[8] = {p1, p2, p3, p4, p5, p6, p7, p8};
    fill(sc, wl, power, 0, sim::hostile() ? 8 : (int)sc.channels(), false, 0);
    if (sc.points()) laser_wavelength() = sc.stop(), c.take((sc.stop() - sc.start()) / sweep_speed());
    return c.done();
}

ViStatus body_hp816x_registerMainframe(Call& c, ViSession s) {
    if (registered_index(s) < 0) registered_session(registered()++) = s;
    return c.done();
}

ViStatus body_hp816x_unregisterMainframe(Call& c, ViSession s) {
    int at = registered_index(s);
    if (at >= 0) {
        for (long long i = at; i + 1 < registered(); ++i) registered_session(i) = registered_session(i + 1);
        --registered();
    }
    return c.done();
}

ViStatus body_hp816x_setSweepSpeed(Call& c, ViSession s, ViInt32 code) {
    speed_code.set(c, 0, code, 2);
    return c.done();
}

ViStatus body_hp816x_prepareMfLambdaScan(Call& c, ViSession s, ViInt32 unit, ViReal64 power, ViInt32 output,
                                         ViInt32 scans, ViInt32 pwmChannels, ViReal64 start, ViReal64 stop,
                                         ViReal64 step, ViUInt32* points, ViUInt32* channels) {
    if (!registered()) return c.status(no_mainframe), c.done();
    c.status(prepare(multi(), unit, power, output, scans, pwmChannels, start, stop, step,
                     (int)registered() * pwm_channel_count, points, channels));
    return c.done();
}

ViStatus body_hp816x_executeMfLambdaScan(Call& c, ViSession s, ViReal64 wl[]) {
    fill(multi(), wl, nullptr, 0, 0, false, 0);
    if (multi().points()) c.take((multi().stop() - multi().start()) / sweep_speed());
    return c.done();
}

ViStatus body_hp816x_getMFLambdaScanParameters_Q(Call& c, ViSession s, ViReal64* start, ViReal64* stop, ViReal64* avg,
                                                 ViReal64* speed) {
    parameters(multi(), start, stop, avg, speed);
    return c.done();
}

// The last multi-frame scan as one registered channel saw it.
ViStatus body_hp816x_getLambdaScanResult(Call& c, ViSession s, ViInt32 channel, ViUInt16 clip, ViReal64 limit,
                                         ViReal64 power[], ViReal64 lambda[]) {
    if (!channel_ok(c, channel)) return c.done();
    fill(multi(), lambda, &power, channel, 1, clip != 0, limit);
    return c.done();
}

ViStatus body_hp816x_getNoOfRegPWMChannels_Q(Call& c, ViSession s, ViUInt32* count) {
    put(count, registered() * pwm_channel_count);
    return c.done();
}

// Registered channel numbers run over the mainframes in registration order,
// each mainframe's channels in slot order.
ViStatus body_hp816x_getChannelLocation(Call& c, ViSession s, ViInt32 channel, ViInt32* mainframe, ViInt32* slot,
                                        ViInt32* ch) {
    if (!channel_ok(c, channel)) return c.done();
    put(mainframe, channel / pwm_channel_count);
    put(slot, pwm_channels[channel % pwm_channel_count].slot);
    put(ch, pwm_channels[channel % pwm_channel_count].channel);
    return c.done();
}

ViStatus body_hp816x_excludeChannel(Call& c, ViSession s, ViInt32 channel, ViUInt16 exclude) {
    if (!channel_ok(c, channel)) return c.done();
    sim::integer(sim::key("MFX", channel, "excluded")) = exclude;
    return c.done();
}

ViStatus body_hp816x_setInitialRangeParams(Call& c, ViSession s, ViInt32 channel, ViUInt16 reset,
                                           ViReal64 initialRange, ViReal64 decrement) {
    sim::real(sim::key("MFX", channel, "initialRange")) = reset ? -10.0 : initialRange;
    sim::real(sim::key("MFX", channel, "rangeDecrement")) = reset ? 20.0 : decrement;
    return c.done();
}

ViStatus body_hp816x_setScanAttenuation(Call& c, ViSession s, ViReal64 attenuation) {
    scan_attenuation() = attenuation;
    return c.done();
}

ViStatus body_hp816x_getWlRespTblSize(Call& c, ViSession s, ViInt32 slot, ViUInt32* size, ViUInt32* csv) {
    put(size, table_size);
    put(csv, table_csv(slot, 1).size() + 1);
    return c.done();
}

ViStatus body_hp816x_getWlRespTblSizeEx(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViUInt32* size, ViUInt32* csv) {
    put(size, table_size);
    put(csv, table_csv(slot, ch).size() + 1);
    return c.done();
}

ViStatus body_hp816x_readWlRespTable(Call& c, ViSession s, ViInt32 slot, ViReal64 wl[], ViReal64 factor[]) {
    table(slot, 1, wl, factor);
    return c.done();
}

ViStatus body_hp816x_readWlRespTableEx(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViReal64 wl[],
                                       ViReal64 factor[]) {
    table(slot, ch, wl, factor);
    return c.done();
}

ViStatus body_hp816x_readWlRepTblCSV(Call& c, ViSession s, ViInt32 slot, ViChar* csv) {
    sim::put_text(csv, 256, table_csv(slot, 1));
    return c.done();
}

ViStatus body_hp816x_readWlRepTblCSV_Ex(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViChar* csv) {
    sim::put_text(csv, 256, table_csv(slot, ch));
    return c.done();
}

// Reads numberOfWavelengths wavelengths and reference powers; writes the
// laser power as reference and a result text.
ViStatus body_hp816x_spectralCalibration(Call& c, ViSession s, ViInt32 slot, ViUInt32 n, ViReal64 wl[],
                                         ViReal64 power[], ViReal64* reference, ViChar* result) {
    c.status(calibrate(slot, 1, n, wl, power, reference, result));
    return c.done();
}

ViStatus body_hp816x_spectralCalibrationEx(Call& c, ViSession s, ViInt32 slot, ViInt32 ch, ViUInt32 n, ViReal64 wl[],
                                           ViReal64 power[], ViReal64* reference, ViChar* result) {
    c.status(calibrate(slot, ch, n, wl, power, reference, result));
    return c.done();
}

}  // extern "C"
