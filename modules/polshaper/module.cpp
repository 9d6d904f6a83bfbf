// _polshaper: the polarization controller module over the hp8169 driver.
#include "bind.hpp"
#include "hp8169_calls.hpp"

BIND_DRIVER(hp8169_init)  // instrbind.driver_library: the file bound for it

namespace {

// The status check: 0xBFFC0D07 means the instrument has an error to read;
// every error ends the process, -261 included.
void check(ViSession session, ViStatus status) {
    static constexpr bind::CheckPolicy policy{hp8169_error_query, hp8169_error_message, hp8169_close,
                                              VI_ERROR_INSTR_ERROR, VI_ERROR_INSTR_ERROR, 0};
    bind::check_status(policy, session, status);
}

using Q = bind::Queries<check>;

// A session closed by the script is no longer owed a close at the end.
ViStatus close_session(ViSession s) { return bind::session_closed(hp8169_close, s, bind::call(hp8169_close, s)); }

}  // namespace

BIND_MODULE(_polshaper, m) {
    m.def("foo", [] { return "bar"; });
    m.def("CheckError", check);
    m.def("init", Q::opener<hp8169_init>);
    m.def("getHandle", Q::opener<hp8169_getHandle>);  // the check gets the handle
    m.def("reset", bind::pass<hp8169_reset>);
    m.def("self_test", Q::out<2, hp8169_self_test>);
    m.def("error_query", Q::out<2, hp8169_error_query>);
    m.def("error_message", Q::out<1, hp8169_error_message>);
    m.def("revision_query", Q::out<2, hp8169_revision_query>);
    m.def("timeOut", bind::pass<hp8169_timeOut>);
    m.def("timeOut_Q", Q::out<1, hp8169_timeOut_Q>);
    m.def("errorQueryDetect", bind::pass<hp8169_errorQueryDetect>);
    m.def("errorQueryDetect_Q", Q::out<1, hp8169_errorQueryDetect_Q>);
    m.def("setDelay", bind::pass<hp8169_setDelay>);
    m.def("getDelay_Q", Q::out<2, hp8169_getDelay_Q>);
    m.def("dcl", bind::pass<hp8169_dcl>);
    m.def("opc_Q", Q::out<1, hp8169_opc_Q>);
    m.def("forceTransaction", bind::pass<hp8169_forceTransaction>);
    m.def("readStatusByte_Q", Q::out<1, hp8169_readStatusByte_Q>);
    m.def("operEvent_Q", Q::out<1, hp8169_operEvent_Q>);
    m.def("operCond_Q", Q::out<1, hp8169_operCond_Q>);
    m.def("quesEvent_Q", Q::out<1, hp8169_quesEvent_Q>);
    m.def("quesCond_Q", Q::out<1, hp8169_quesCond_Q>);
    m.def("cmd", bind::pass<hp8169_cmd>);
    m.def("cmdString_Q", bind::sized_reply<hp8169_cmdString_Q>);
    m.def("cmdInt", bind::pass<hp8169_cmdInt>);
    m.def("cmdInt16_Q", Q::out<1, hp8169_cmdInt16_Q>);
    m.def("cmdInt32_Q", Q::out<1, hp8169_cmdInt32_Q>);
    m.def("cmdInt16Arr_Q", Q::first_element<hp8169_cmdInt16Arr_Q>);
    m.def("cmdInt32Arr_Q", Q::first_element<hp8169_cmdInt32Arr_Q>);
    m.def("cmdReal", bind::pass<hp8169_cmdReal>);
    m.def("cmdReal64_Q", Q::out<1, hp8169_cmdReal64_Q>);
    m.def("cmdReal64Arr_Q", Q::first_element<hp8169_cmdReal64Arr_Q>);
    m.def("close", bind::wraps<hp8169_close>(close_session));
    m.def("enableDisplay", bind::pass<hp8169_enableDisplay>);
    m.def("setEpsilon", bind::pass<hp8169_setEpsilon>);
    m.def("getEpsilon_Q", Q::out<1, hp8169_getEpsilon_Q>);
    m.def("setTheta", bind::pass<hp8169_setTheta>);
    m.def("getTheta_Q", Q::out<1, hp8169_getTheta_Q>);
    m.def("setPolPos", bind::pass<hp8169_setPolPos>);
    m.def("getPolPos_Q", Q::out<1, hp8169_getPolPos_Q>);
    m.def("setLambdaHalfPos", bind::pass<hp8169_setLambdaHalfPos>);
    m.def("getLambdaHalfPos_Q", Q::out<1, hp8169_getLambdaHalfPos_Q>);
    m.def("setLambdaQuartPos", bind::pass<hp8169_setLambdaQuartPos>);
    m.def("getLambdaQuartPos_Q", Q::out<1, hp8169_getLambdaQuartPos_Q>);
    m.def("setPolSpeed", bind::pass<hp8169_setPolSpeed>);
    m.def("setSphereApplState", bind::pass<hp8169_setSphereApplState>);
}
