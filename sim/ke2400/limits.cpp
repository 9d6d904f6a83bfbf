// Simulated KE2400: limit tests and their digital output, stored setups,
// the source memory program, and the beeper.
#include "ke2400.hpp"

using namespace ke2400;

#define SET(id, v) set_attr(c, KE2400_ATTR_##id, v)

namespace {

// Patterns of the 4-bit digital output.
constexpr Extra digital_output_pattern{driver, "digital output pattern", 0, 0, 15};
constexpr Extra contact_check_pattern{driver, "contact check pattern", 0, 0, 15};
constexpr Extra compliance_fail_pattern{driver, "compliance fail pattern", 0, 0, 15};
constexpr Extra lower_fail_pattern{driver, "lower fail pattern", 0, 0, 15};
constexpr Extra upper_fail_pattern{driver, "upper fail pattern", 0, 0, 15}, pass_pattern{driver, "pass pattern", 0, 0, 15};
constexpr Extra composite_pass_pattern{driver, "composite pass pattern", 0, 0, 15};
constexpr Extra composite_fail_pattern{driver, "composite fail pattern", 0, 0, 15};
constexpr Extra pulse_width{driver, "digital output pulse width", 0, 0, 60};  // s
constexpr Extra output_mode{driver, "digital output mode", 0, 0, 1}, auto_clear{driver, "digital output auto clear", 0, 0, 1};
constexpr Extra contact_threshold{driver, "contact check threshold", 0, 0, 50};  // ohm
constexpr Extra contact_timeout{driver, "contact check timeout", 0, 0, 60};      // s
constexpr Extra contact_enable{driver, "contact check enable", 0, 0, 1}, contact_output{driver, "contact check output", 0, 0, 1};
constexpr Extra composite_mode{driver, "composite mode (0 grading, 1 sorting)", 0, 0, 1};
constexpr Extra binning_control{driver, "binning control", 0, 0, 1}, end_of_test{driver, "end of test mode", 0, 0, 2};
constexpr Extra tone_frequency{driver, "tone frequency", 0, 65, 2e6}, tone_duration{driver, "tone duration", 0, 0, 7.9};
// Limit tests: 1 the compliance test (outputs only), 2 to 12 on the reading; each limit's bounds (key "limit <n> ...").
constexpr Extra limit_test{driver, "limit", 0, 2, 12}, limit_output{driver, "limit", 0, 1, 12};
constexpr double limit_bound = 9.999999e20;
// Locations of the stored setups and of the source memory program.
constexpr Extra setup_location{driver, "location", 0, 0, 4}, step_location{driver, "location", 0, 1, 100};
constexpr Extra branch_condition{driver, "branch condition", 0, 0, 3};

}  // namespace

extern "C" {

ViStatus body_KE2400_ConfigureDO(Call& c, ViSession vi, ViInt32 pat, ViReal64 pulse, ViInt32 mode, ViBoolean clear) {
    put(c, digital_output_pattern, pat) && put(c, pulse_width, pulse) && put(c, output_mode, mode) &&
        put(c, auto_clear, clear != 0);
    return c.done();
}

ViStatus body_KE2400_ConfigureContactCheck(Call& c, ViSession vi, ViReal64 threshold, ViReal64 timeout,
                                           ViBoolean enable) {
    put(c, contact_threshold, threshold) && put(c, contact_timeout, timeout) && put(c, contact_enable, enable != 0);
    return c.done();
}

ViStatus body_KE2400_ConfigureContactCheckOutput(Call& c, ViSession vi, ViInt32 pat, ViBoolean enable) {
    put(c, contact_check_pattern, pat) && put(c, contact_output, enable != 0);
    return c.done();
}

// failMode: 0 fails in compliance, 1 fails out of compliance.
ViStatus body_KE2400_ConfigureComplianceTest(Call& c, ViSession vi, ViInt32 fail_mode, ViBoolean enable) {
    put(c, compliance_fail_mode, fail_mode) && put(c, compliance_test_enable, enable != 0);
    return c.done();
}

ViStatus body_KE2400_ConfigureComplianceTestOutput(Call& c, ViSession vi, ViInt32 pat) {
    put(c, compliance_fail_pattern, pat);
    return c.done();
}

ViStatus body_KE2400_ConfigureLimitTest(Call& c, ViSession vi, ViInt32 limit, ViReal64 lower, ViReal64 upper,
                                        ViBoolean enable) {
    std::string k = "limit " + std::to_string(limit);
    if (!put(c, limit_test, limit)) return c.done();
    if (!(lower <= upper)) return c.fail(KE2400_ERROR_INVALID_VALUE, k + ": lower limit above the upper limit"), c.done();
    put(c, (k + " lower").c_str(), lower, -limit_bound, limit_bound) &&
        put(c, (k + " upper").c_str(), upper, -limit_bound, limit_bound) && put(c, (k + " enable").c_str(), enable != 0, 0, 1);
    return c.done();
}

ViStatus body_KE2400_ConfigureLimitTestOutput(Call& c, ViSession vi, ViInt32 limit, ViInt32 low_fail,
                                              ViInt32 high_fail, ViInt32 pass) {
    put(c, limit_output, limit) && put(c, lower_fail_pattern, low_fail) && put(c, upper_fail_pattern, high_fail) &&
        put(c, pass_pattern, pass);
    return c.done();
}

ViStatus body_KE2400_ConfigureCompositeTest(Call& c, ViSession vi, ViInt32 mode) {
    put(c, composite_mode, mode);
    return c.done();
}

ViStatus body_KE2400_ConfigureCompositeTestOutput(Call& c, ViSession vi, ViInt32 pass, ViInt32 fail, ViInt32 binning,
                                                  ViInt32 end_of_test) {
    put(c, composite_pass_pattern, pass) && put(c, composite_fail_pattern, fail) && put(c, binning_control, binning) &&
        put(c, ::end_of_test, end_of_test);
    return c.done();
}

ViStatus body_KE2400_PlayTone(Call& c, ViSession vi, ViReal64 frequency, ViReal64 duration) {
    put(c, tone_frequency, frequency) && put(c, tone_duration, duration);
    return c.done();
}

// ---- stored setups ---------------------------------------------------------------------------------

ViStatus body_KE2400_SaveSetup(Call& c, ViSession vi, ViInt32 loc) {
    if (put(c, setup_location, loc)) setups(c.st().resource)[loc] = c.st().cfg;
    return c.done();
}

ViStatus body_KE2400_RecallSetup(Call& c, ViSession vi, ViInt32 loc) {
    if (!put(c, setup_location, loc)) return c.done();
    auto& saved = setups(c.st().resource);
    if (!saved.count(loc)) c.fail(KE2400_ERROR_SETUP_NOT_SAVED, "setup " + std::to_string(loc));
    else c.st().cfg = saved[loc];
    return c.done();
}

ViStatus body_KE2400_SelectPowerOnSetup(Call& c, ViSession vi, ViInt32 loc) {
    SET(POWER_ON_SETUP, loc);
    return c.done();
}

// ---- source memory: steps 1 to 100, each a whole setup ------------------------------------------------

ViStatus body_KE2400_ProgramClear(Call& c, ViSession vi) {
    c.st().steps.clear();
    c.st().branches.clear();
    return c.done();
}

ViStatus body_KE2400_ProgramSaveStep(Call& c, ViSession vi, ViInt32 loc) {
    if (put(c, step_location, loc)) c.st().steps[loc] = c.st().cfg;
    return c.done();
}

ViStatus body_KE2400_ProgramRecallStep(Call& c, ViSession vi, ViInt32 loc) {
    if (!put(c, step_location, loc)) return c.done();
    if (!c.st().steps.count(loc)) c.fail(KE2400_ERROR_SETUP_NOT_SAVED, "program step " + std::to_string(loc));
    else c.st().cfg = c.st().steps[loc];
    return c.done();
}

// condition: 0 never, 1 always, 2 when the step's reading passed the compliance test, 3 when it failed.
ViStatus body_KE2400_ProgramBranch(Call& c, ViSession vi, ViInt32 loc, ViInt32 condition, ViInt32 target) {
    if (put(c, step_location, loc) && put(c, branch_condition, condition) && put(c, step_location, target))
        c.st().branches[loc] = {condition, target};
    return c.done();
}

// Runs the steps from startLocation on, one reading each, until a location holds no step.
ViStatus body_KE2400_ProgramInitiate(Call& c, ViSession vi, ViInt32 start) {
    State& st = c.st();
    if (!put(c, step_location, start)) return c.done();
    if (!st.steps.count(start)) return c.fail(KE2400_ERROR_SETUP_NOT_SAVED, "program step " + std::to_string(start)), c.done();
    std::vector<Reading> readings;
    for (int loc = start, n = 0; st.steps.count(loc) && n < 1000; ++n) {
        st.cfg = st.steps[loc];
        Reading r = measure(st, source_level(st));
        readings.push_back(r);
        if (num(st, KE2400_ATTR_BUFFER_ENABLED) && st.buffer.size() < (size_t)num(st, KE2400_ATTR_BUFFER_SIZE))
            st.buffer.push_back(r);
        auto b = st.branches.find(loc);
        int cond = b == st.branches.end() ? 0 : b->second.first;
        bool jump = cond == 1 || (cond == 2 && !r.compliance) || (cond == 3 && r.compliance);
        loc = jump ? b->second.second : loc + 1;
    }
    st.last = readings;
    return c.done();
}

}  // extern "C"
