// Positions 1-58: frame functions, sessions, system and command functions.
#include "photonbay.hpp"

namespace photonbay {

bind::Checked checked(ViSession session, ViStatus status) {
    static constexpr bind::CheckPolicy policy{hp816x_error_query, hp816x_error_message, hp816x_close,
                                              VI_ERROR_INSTR_ERROR, VI_ERROR_INSTR_ERROR, -261};  // -261 goes on
    return bind::check_status(policy, session, status);
}

void check(ViSession session, ViStatus status) { checked(session, status); }

namespace {

// Module status: the summary flag and one entry per slot of the largest
// mainframe the driver serves (18 slots), into the caller's buffers; the
// result is the longest status message.
ViInt32 module_status(ViSession s, bind::Buffer<ViBoolean> statusSummary, bind::Buffer<ViInt32> moduleStatusArray) {
    const long long most_slots = 18;
    moduleStatusArray.need(most_slots, 3);
    ViInt32 longest = 0;
    check(s, bind::call(hp816x_getModuleStatus_Q, s, statusSummary.get(), moduleStatusArray.get(), &longest));
    return longest;
}

// Closing forgets the session's remembered sizes, and any close owed to it.
ViStatus close_session(ViSession s) {
    ViStatus status = bind::locked([&] {
        ViStatus st = hp816x_close(s);
        forget_session(s);
        return st;
    });
    return bind::session_closed(hp816x_close, s, status);
}

}  // namespace

void add_session_functions(bind::Module& m) {
    m.def("foo", [] { return "bar"; });
    m.def("CheckError", check);
    m.def("init", Q::opener<hp816x_init>);
    m.def("getHandle", Q::opener<hp816x_getHandle>);
    m.def("close", bind::wraps<hp816x_close>(close_session));
    m.def("reset", bind::pass<hp816x_reset>);
    m.def("self_test", Q::out<2, hp816x_self_test>);
    m.def("mainframeSelftest", Q::out<2, hp816x_mainframeSelftest>);
    m.def("error_query", Q::out<2, hp816x_error_query>);
    m.def("error_message", Q::out<1, hp816x_error_message>);
    m.def("revision_query", Q::out<2, hp816x_revision_query>);
    m.def("revision_Q", Q::out<2, hp816x_revision_Q>);
    m.def("timeOut", bind::pass<hp816x_timeOut>);
    m.def("timeOut_Q", Q::out<1, hp816x_timeOut_Q>);
    m.def("errorQueryDetect", bind::pass<hp816x_errorQueryDetect>);
    m.def("errorQueryDetect_Q", Q::out<1, hp816x_errorQueryDetect_Q>);
    m.def("dcl", bind::pass<hp816x_dcl>);
    m.def("opc_Q", Q::out<1, hp816x_opc_Q>);
    m.def("WattToDBm", Q::out<1, hp816x_WattToDBm>);
    m.def("dbmToWatt", Q::out<1, hp816x_dbmToWatt>);
    m.def("setDate", bind::pass<hp816x_setDate>);
    m.def("getDate", Q::out<3, hp816x_getDate>);
    m.def("setTime", bind::pass<hp816x_setTime>);
    m.def("getTime", Q::out<3, hp816x_getTime>);
    m.def("SystemError", Q::out<2, hp816x_SystemError>);
    m.def("cls", bind::pass<hp816x_cls>);
    m.def("readStatusByte_Q", Q::out<1, hp816x_readStatusByte_Q>);
    m.def("operEvent_Q", Q::out<1, hp816x_operEvent_Q>);
    m.def("operCond_Q", Q::out<1, hp816x_operCond_Q>);
    m.def("quesEvent_Q", Q::out<1, hp816x_quesEvent_Q>);
    m.def("quesCond_Q", Q::out<1, hp816x_quesCond_Q>);
    m.def("cmd", bind::pass<hp816x_cmd>);
    m.def("cmdString_Q", bind::sized_reply<hp816x_cmdString_Q>);
    m.def("cmdInt", bind::pass<hp816x_cmdInt>);
    m.def("cmdInt16_Q", Q::out<1, hp816x_cmdInt16_Q>);
    m.def("cmdInt32_Q", Q::out<1, hp816x_cmdInt32_Q>);
    m.def("cmdInt16Arr_Q", Q::first_element<hp816x_cmdInt16Arr_Q>);
    m.def("cmdInt32Arr_Q", Q::first_element<hp816x_cmdInt32Arr_Q>);
    m.def("cmdReal", bind::pass<hp816x_cmdReal>);
    m.def("cmdReal64_Q", Q::out<1, hp816x_cmdReal64_Q>);
    m.def("cmdReal64Arr_Q", Q::first_element<hp816x_cmdReal64Arr_Q>);
    m.def("listVisa_Q", Q::unchecked<2, hp816x_listVisa_Q>);
    m.def("getInstrumentId_Q", Q::unchecked<1, hp816x_getInstrumentId_Q>);
    m.def("setBaudrate", bind::pass<hp816x_setBaudrate>);
    m.def("driverLogg", bind::pass<hp816x_driverLogg>);
    m.def("forceTransaction", bind::pass<hp816x_forceTransaction>);
    m.def("preset", bind::pass<hp816x_preset>);
    m.def("moduleSelftest", Q::out<2, hp816x_moduleSelftest>);
    m.def("lockUnlockInstument", bind::pass<hp816x_lockUnlockInstument>);
    m.def("getLockState", Q::out<2, hp816x_getLockState>);
    m.def("enableDisableDisplay", bind::pass<hp816x_enableDisableDisplay>);
    m.def("getSlotInformation_Q", bind::guarded<hp816x_getSlotInformation_Q, bind::room<2, bind::count_at<1>>>);
    m.def("getModuleStatus_Q", bind::wraps<hp816x_getModuleStatus_Q>(module_status));
    m.def("convertQuestionableStatus_Q", Q::out<1, hp816x_convertQuestionableStatus_Q>);
    m.def("standardTriggerConfiguration", bind::pass<hp816x_standardTriggerConfiguration>);
    m.def("standardTriggerConfiguration_Q", Q::out<4, hp816x_standardTriggerConfiguration_Q>);
    m.def("trigOutConfiguration", Q::unchecked<1, hp816x_trigOutConfiguration>);
    m.def("generateTrigger", bind::pass<hp816x_generateTrigger>);
}

}  // namespace photonbay
