// Positions 160-201: return-loss modules.
#include <algorithm>
#include <memory>

#include "photonbay.hpp"

namespace photonbay {
namespace {

// Room for the logging and stability results.  The driver is not told the
// caller's N and writes every value it recorded (at most
// HP816X_RLM_MAX_POINTS), so for a smaller N it writes into a spare buffer of
// that size and the caller gets the first N values.
class Results {
public:
    explicit Results(ViUInt32 n) : vec_(n) {
        if (n < HP816X_RLM_MAX_POINTS) spare_.reset(new ViReal64[HP816X_RLM_MAX_POINTS]());
    }
    ViReal64* data() { return spare_ ? spare_.get() : vec_.data(); }
    bind::RealVec take() {
        if (spare_) std::copy(spare_.get(), spare_.get() + vec_.size(), vec_.data());
        return std::move(vec_);
    }

private:
    bind::RealVec vec_;
    std::unique_ptr<ViReal64[]> spare_;
};

}  // namespace

void add_returnloss_functions(bind::Module& m) {
    m.def("set_RLM_parameters", bind::pass<hp816x_set_RLM_parameters>);
    m.def("get_RLM_parameters_Q", Q::out<5, hp816x_get_RLM_parameters_Q>);
    m.def("set_RLM_internalTrigger", bind::pass<hp816x_set_RLM_internalTrigger>);
    m.def("set_RLM_averagingTime", bind::pass<hp816x_set_RLM_averagingTime>);
    m.def("get_RLM_averagingTime_Q", Q::out<1, hp816x_get_RLM_averagingTime_Q>);
    m.def("set_RLM_wavelength", bind::pass<hp816x_set_RLM_wavelength>);
    m.def("get_RLM_wavelength_Q", Q::out<4, hp816x_get_RLM_wavelength_Q>);
    m.def("calibrate_RLM", bind::pass<hp816x_calibrate_RLM>);
    m.def("set_RLM_triggerConfiguration", bind::pass<hp816x_set_RLM_triggerConfiguration>);
    m.def("start_RLM_internalTrigger", bind::pass<hp816x_start_RLM_internalTrigger>);
    m.def("RLM_readReturnLoss", Q::out<1, hp816x_RLM_readReturnLoss>);
    m.def("RLM_fetchReturnLoss", Q::out<1, hp816x_RLM_fetchReturnLoss>);
    m.def("RLM_readValue", Q::out<1, hp816x_RLM_readValue>);
    m.def("RLM_fetchValue", Q::out<1, hp816x_RLM_fetchValue>);
    m.def("RLM_zeroing", Q::out<1, hp816x_RLM_zeroing>);        // the zero result, not the status
    m.def("RLM_zeroingAll", Q::out<1, hp816x_RLM_zeroingAll>);
    m.def("set_RLM_powerRange", bind::pass<hp816x_set_RLM_powerRange>);
    m.def("get_RLM_powerRange_Q", Q::out<3, hp816x_get_RLM_powerRange_Q>);
    m.def("set_RLM_rlReference", bind::pass<hp816x_set_RLM_rlReference>);
    m.def("get_RLM_rlReference_Q", Q::out<1, hp816x_get_RLM_rlReference_Q>);
    m.def("set_RLM_FPDelta", bind::pass<hp816x_set_RLM_FPDelta>);
    m.def("get_RLM_FPDelta_Q", Q::out<1, hp816x_get_RLM_FPDelta_Q>);
    m.def("calculate_RL", Q::out<1, hp816x_calculate_RL>);
    m.def("get_RLM_reflectanceValues_Q", Q::out<2, hp816x_get_RLM_reflectanceValues_Q>);
    m.def("get_RLM_terminationValues_Q", Q::out<2, hp816x_get_RLM_terminationValues_Q>);
    m.def("get_RLM_dutValues_Q", Q::out<2, hp816x_get_RLM_dutValues_Q>);
    m.def("get_RLM_srcWavelength_Q", Q::out<2, hp816x_get_RLM_srcWavelength_Q>);
    m.def("set_RLM_laserSourceParameters", bind::pass<hp816x_set_RLM_laserSourceParameters>);
    m.def("get_RLM_laserSourceParameters_Q", Q::out<2, hp816x_get_RLM_laserSourceParameters_Q>);
    m.def("set_RLM_laserState", bind::pass<hp816x_set_RLM_laserState>);
    m.def("get_RLM_modulationState_Q", Q::out<1, hp816x_get_RLM_modulationState_Q>);
    m.def("set_RLM_modulationState", bind::pass<hp816x_set_RLM_modulationState>);
    m.def("get_RLM_laserState_Q", Q::out<1, hp816x_get_RLM_laserState_Q>);
    m.def("enable_RLM_sweep", bind::pass<hp816x_enable_RLM_sweep>);
    m.def("set_RLM_logging", bind::pass<hp816x_set_RLM_logging>);
    m.def("get_RLM_loggingResults_Q",
          bind::around<hp816x_get_RLM_loggingResults_Q>([](ViSession s, ViInt32 slot, ViUInt16 wait, ViUInt16 unit,
                                                           ViUInt16 value, ViUInt32 n) {
        Results values(n);
        ViUInt16 complete = 0;
        check(s, bind::call(hp816x_get_RLM_loggingResults_Q, s, slot, wait, unit, value, &complete, values.data()));
        return std::make_tuple(complete, values.take());
    }));
    m.def("set_RLM_stability", Q::out<1, hp816x_set_RLM_stability>);  // the number of values
    m.def("get_RLM_stabilityResults_Q",
          bind::around<hp816x_get_RLM_stabilityResults_Q>([](ViSession s, ViInt32 slot, ViUInt16 wait, ViUInt16 unit,
                                                             ViUInt32 n) {
        Results values(n);
        ViUInt16 complete = 0;
        check(s, bind::call(hp816x_get_RLM_stabilityResults_Q, s, slot, wait, unit, &complete, values.data()));
        return std::make_tuple(complete, values.take());
    }));
    m.def("set_RLM_minMax", Q::out<1, hp816x_set_RLM_minMax>);  // the time of one window
    m.def("get_RLM_minMaxResults_Q", Q::out<3, hp816x_get_RLM_minMaxResults_Q>);
    m.def("RLM_functionStop", bind::pass<hp816x_RLM_functionStop>);
    m.def("WaitForOPC", bind::pass<hp816x_WaitForOPC>);
}

}  // namespace photonbay
