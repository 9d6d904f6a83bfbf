// Simulated KE2400: limit tests and their digital output, stored setups,
// the source memory program, and the beeper.
#include "ke2400.hpp"

using namespace ke2400;

#define SET(id, v) set_attr(c, KE2400_ATTR_##id, v)

namespace {

bool pattern(Call& c, const char* what, ViInt32 v) { return put(c, what, v, 0, 15); }  // 4-bit digital output

bool location(Call& c, ViInt32 v, ViInt32 lo, ViInt32 hi) { return put(c, "location", v, lo, hi); }

}  // namespace

extern "C" {

ViStatus body_KE2400_ConfigureDO(Call& c, ViSession vi, ViInt32 pat, ViReal64 pulse, ViInt32 mode, ViBoolean clear) {
    pattern(c, "digital output pattern", pat) && put(c, "digital output pulse width", pulse, 0, 60) &&
        put(c, "digital output mode", mode, 0, 1) && put(c, "digital output auto clear", clear != 0, 0, 1);
    return c.done();
}

ViStatus body_KE2400_ConfigureContactCheck(Call& c, ViSession vi, ViReal64 threshold, ViReal64 timeout,
                                           ViBoolean enable) {
    put(c, "contact check threshold", threshold, 0, 50) && put(c, "contact check timeout", timeout, 0, 60) &&
        put(c, "contact check enable", enable != 0, 0, 1);
    return c.done();
}

ViStatus body_KE2400_ConfigureContactCheckOutput(Call& c, ViSession vi, ViInt32 pat, ViBoolean enable) {
    pattern(c, "contact check pattern", pat) && put(c, "contact check output", enable != 0, 0, 1);
    return c.done();
}

// failMode: 0 fails in compliance, 1 fails out of compliance.
ViStatus body_KE2400_ConfigureComplianceTest(Call& c, ViSession vi, ViInt32 fail_mode, ViBoolean enable) {
    put(c, "compliance fail mode", fail_mode, 0, 1) && put(c, "compliance test enable", enable != 0, 0, 1);
    return c.done();
}

ViStatus body_KE2400_ConfigureComplianceTestOutput(Call& c, ViSession vi, ViInt32 pat) {
    pattern(c, "compliance fail pattern", pat);
    return c.done();
}

ViStatus body_KE2400_ConfigureLimitTest(Call& c, ViSession vi, ViInt32 limit, ViReal64 lower, ViReal64 upper,
                                        ViBoolean enable) {
    std::string k = "limit " + std::to_string(limit);
    if (!put(c, "limit", limit, 2, 12)) return c.done();
    if (!(lower <= upper)) return c.fail(KE2400_ERROR_INVALID_VALUE, k + ": lower limit above the upper limit"), c.done();
    put(c, (k + " lower").c_str(), lower, -9.999999e20, 9.999999e20) &&
        put(c, (k + " upper").c_str(), upper, -9.999999e20, 9.999999e20) && put(c, (k + " enable").c_str(), enable != 0, 0, 1);
    return c.done();
}

ViStatus body_KE2400_ConfigureLimitTestOutput(Call& c, ViSession vi, ViInt32 limit, ViInt32 low_fail,
                                              ViInt32 high_fail, ViInt32 pass) {
    put(c, "limit", limit, 1, 12) && pattern(c, "lower fail pattern", low_fail) &&
        pattern(c, "upper fail pattern", high_fail) && pattern(c, "pass pattern", pass);
    return c.done();
}

ViStatus body_KE2400_ConfigureCompositeTest(Call& c, ViSession vi, ViInt32 mode) {
    put(c, "composite mode (0 grading, 1 sorting)", mode, 0, 1);
    return c.done();
}

ViStatus body_KE2400_ConfigureCompositeTestOutput(Call& c, ViSession vi, ViInt32 pass, ViInt32 fail, ViInt32 binning,
                                                  ViInt32 end_of_test) {
    pattern(c, "composite pass pattern", pass) && pattern(c, "composite fail pattern", fail) &&
        put(c, "binning control", binning, 0, 1) && put(c, "end of test mode", end_of_test, 0, 2);
    return c.done();
}

ViStatus body_KE2400_PlayTone(Call& c, ViSession vi, ViReal64 frequency, ViReal64 duration) {
    put(c, "tone frequency", frequency, 65, 2e6) && put(c, "tone duration", duration, 0, 7.9);
    return c.done();
}

// ---- stored setups ---------------------------------------------------------------------------------

ViStatus body_KE2400_SaveSetup(Call& c, ViSession vi, ViInt32 loc) {
    if (location(c, loc, 0, 4)) setups(c.st().resource)[loc] = c.st().cfg;
    return c.done();
}

ViStatus body_KE2400_RecallSetup(Call& c, ViSession vi, ViInt32 loc) {
    if (!location(c, loc, 0, 4)) return c.done();
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
    if (location(c, loc, 1, 100)) c.st().steps[loc] = c.st().cfg;
    return c.done();
}

ViStatus body_KE2400_ProgramRecallStep(Call& c, ViSession vi, ViInt32 loc) {
    if (!location(c, loc, 1, 100)) return c.done();
    if (!c.st().steps.count(loc)) c.fail(KE2400_ERROR_SETUP_NOT_SAVED, "program step " + std::to_string(loc));
    else c.st().cfg = c.st().steps[loc];
    return c.done();
}

// condition: 0 never, 1 always, 2 when the step's reading passed the compliance test, 3 when it failed.
ViStatus body_KE2400_ProgramBranch(Call& c, ViSession vi, ViInt32 loc, ViInt32 condition, ViInt32 target) {
    if (location(c, loc, 1, 100) && put(c, "branch condition", condition, 0, 3) && location(c, target, 1, 100))
        c.st().branches[loc] = {condition, target};
    return c.done();
}

// Runs the steps from startLocation on, one reading each, until a location holds no step.
ViStatus body_KE2400_ProgramInitiate(Call& c, ViSession vi, ViInt32 start) {
    State& st = c.st();
    if (!location(c, start, 1, 100)) return c.done();
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
