/* Polarization controller driver hp8169_32: C declarations.
   Text outputs are 256-byte buffers (ViChar[]) unless a size is passed. */
#ifndef INSTR_HP8169_H
#define INSTR_HP8169_H

#include "visatypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Session */
ViStatus _VI_FUNC hp8169_init(ViString resourceName, ViUInt16 idQuery, ViUInt16 reset, ViSession *session);
ViStatus _VI_FUNC hp8169_getHandle(ViSession session, ViSession *handle);
ViStatus _VI_FUNC hp8169_close(ViSession session);

/* Common instrument functions */
ViStatus _VI_FUNC hp8169_reset(ViSession session);
ViStatus _VI_FUNC hp8169_self_test(ViSession session, ViInt16 *result, ViChar message[]);
ViStatus _VI_FUNC hp8169_error_query(ViSession session, ViInt32 *code, ViChar message[]);
ViStatus _VI_FUNC hp8169_error_message(ViSession BIND_ANY_SESSION session, ViStatus status, ViChar message[]);
ViStatus _VI_FUNC hp8169_revision_query(ViSession session, ViChar driverRevision[], ViChar firmwareRevision[]);
ViStatus _VI_FUNC hp8169_timeOut(ViSession session, ViInt32 timeOut);
ViStatus _VI_FUNC hp8169_timeOut_Q(ViSession session, ViInt32 *timeOut);
ViStatus _VI_FUNC hp8169_errorQueryDetect(ViSession session, ViUInt16 detect);
ViStatus _VI_FUNC hp8169_errorQueryDetect_Q(ViSession session, ViUInt16 *detect);
ViStatus _VI_FUNC hp8169_setDelay(ViSession session, ViInt32 commandDelay, ViInt32 queryDelay);
ViStatus _VI_FUNC hp8169_getDelay_Q(ViSession session, ViInt32 *commandDelay, ViInt32 *queryDelay);
ViStatus _VI_FUNC hp8169_dcl(ViSession session);
ViStatus _VI_FUNC hp8169_opc_Q(ViSession session, ViUInt16 *complete);
ViStatus _VI_FUNC hp8169_forceTransaction(ViSession session, ViUInt16 force);
ViStatus _VI_FUNC hp8169_readStatusByte_Q(ViSession session, ViInt16 *statusByte);
ViStatus _VI_FUNC hp8169_operEvent_Q(ViSession session, ViInt32 *value);
ViStatus _VI_FUNC hp8169_operCond_Q(ViSession session, ViInt32 *value);
ViStatus _VI_FUNC hp8169_quesEvent_Q(ViSession session, ViInt32 *value);
ViStatus _VI_FUNC hp8169_quesCond_Q(ViSession session, ViInt32 *value);

/* Instrument commands and queries; the array queries write at most `size` values. */
ViStatus _VI_FUNC hp8169_cmd(ViSession session, ViString command);
ViStatus _VI_FUNC hp8169_cmdString_Q(ViSession session, ViString query, ViInt32 size, ViChar reply[] BIND_TEXT(size));
ViStatus _VI_FUNC hp8169_cmdInt(ViSession session, ViString command, ViInt32 value);
ViStatus _VI_FUNC hp8169_cmdInt16_Q(ViSession session, ViString query, ViInt16 *value);
ViStatus _VI_FUNC hp8169_cmdInt32_Q(ViSession session, ViString query, ViInt32 *value);
ViStatus _VI_FUNC hp8169_cmdInt16Arr_Q(ViSession session, ViString query, ViInt32 size, ViInt16 values[] BIND_ITEMS(max(size, 1)),
                                       ViInt32 *count);
ViStatus _VI_FUNC hp8169_cmdInt32Arr_Q(ViSession session, ViString query, ViInt32 size, ViInt32 values[] BIND_ITEMS(max(size, 1)),
                                       ViInt32 *count);
ViStatus _VI_FUNC hp8169_cmdReal(ViSession session, ViString command, ViReal64 value);
ViStatus _VI_FUNC hp8169_cmdReal64_Q(ViSession session, ViString query, ViReal64 *value);
ViStatus _VI_FUNC hp8169_cmdReal64Arr_Q(ViSession session, ViString query, ViInt32 size, ViReal64 values[] BIND_ITEMS(max(size, 1)),
                                        ViInt32 *count);

/* Polarization controller.  The ViInt32 of the setters selects the value:
   0 the one given, 1 minimum, 2 maximum, 3 default. */
ViStatus _VI_FUNC hp8169_enableDisplay(ViSession session, ViUInt16 enable);
ViStatus _VI_FUNC hp8169_setEpsilon(ViSession session, ViInt32 select, ViReal64 epsilon);
ViStatus _VI_FUNC hp8169_getEpsilon_Q(ViSession session, ViReal64 *epsilon);
ViStatus _VI_FUNC hp8169_setTheta(ViSession session, ViInt32 select, ViReal64 theta);
ViStatus _VI_FUNC hp8169_getTheta_Q(ViSession session, ViReal64 *theta);
ViStatus _VI_FUNC hp8169_setPolPos(ViSession session, ViInt32 select, ViReal64 position);
ViStatus _VI_FUNC hp8169_getPolPos_Q(ViSession session, ViReal64 *position);
ViStatus _VI_FUNC hp8169_setLambdaHalfPos(ViSession session, ViInt32 select, ViReal64 position);
ViStatus _VI_FUNC hp8169_getLambdaHalfPos_Q(ViSession session, ViReal64 *position);
ViStatus _VI_FUNC hp8169_setLambdaQuartPos(ViSession session, ViInt32 select, ViReal64 position);
ViStatus _VI_FUNC hp8169_getLambdaQuartPos_Q(ViSession session, ViReal64 *position);
ViStatus _VI_FUNC hp8169_setPolSpeed(ViSession session, ViUInt16 speed);
ViStatus _VI_FUNC hp8169_setSphereApplState(ViSession session, ViUInt16 state);

#ifdef __cplusplus
}
#endif

#endif
