/* Source-measure unit driver KE2400_32 (IVI-C style): C declarations.
   Fixed text outputs are 256-byte buffers (ViChar[]).  The functions that take
   a buffer size write at most that many bytes, zero byte included; when the
   text does not fit they write what fits and return the size they would need
   (a positive warning).  A size of 0 writes nothing and returns the size
   needed; a negative size is an invalid value. */
#ifndef INSTR_KE2400_H
#define INSTR_KE2400_H

#include "visatypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- status codes ---------------------------------------------------------- */
/* IVI errors (0xBFFA0000 + n) */
#define KE2400_ERROR_CANNOT_RECOVER          ((ViStatus)0xBFFA0000L)
#define KE2400_ERROR_INSTRUMENT_STATUS       ((ViStatus)0xBFFA0001L) /* instrument error queue not empty */
#define KE2400_ERROR_INVALID_ATTRIBUTE       ((ViStatus)0xBFFA000CL)
#define KE2400_ERROR_ATTR_NOT_WRITABLE       ((ViStatus)0xBFFA000DL)
#define KE2400_ERROR_ATTR_NOT_READABLE       ((ViStatus)0xBFFA000EL)
#define KE2400_ERROR_INVALID_PARAMETER       ((ViStatus)0xBFFA000FL)
#define KE2400_ERROR_INVALID_VALUE           ((ViStatus)0xBFFA0010L)
#define KE2400_ERROR_FUNCTION_NOT_SUPPORTED  ((ViStatus)0xBFFA0011L)
#define KE2400_ERROR_ATTRIBUTE_NOT_SUPPORTED ((ViStatus)0xBFFA0012L)
#define KE2400_ERROR_VALUE_NOT_SUPPORTED     ((ViStatus)0xBFFA0013L)
#define KE2400_ERROR_TYPES_DO_NOT_MATCH      ((ViStatus)0xBFFA0015L)
#define KE2400_ERROR_NOT_INITIALIZED         ((ViStatus)0xBFFA001DL)
#define KE2400_ERROR_UNKNOWN_CHANNEL_NAME    ((ViStatus)0xBFFA0020L)
#define KE2400_ERROR_MISSING_OPTION_NAME     ((ViStatus)0xBFFA0049L)
#define KE2400_ERROR_MISSING_OPTION_VALUE    ((ViStatus)0xBFFA004AL)
#define KE2400_ERROR_BAD_OPTION_NAME         ((ViStatus)0xBFFA004BL)
#define KE2400_ERROR_BAD_OPTION_VALUE        ((ViStatus)0xBFFA004CL)
#define KE2400_ERROR_OUT_OF_MEMORY           ((ViStatus)0xBFFA0056L)
#define KE2400_ERROR_NULL_POINTER            ((ViStatus)0xBFFA0058L)
#define KE2400_ERROR_UNEXPECTED_RESPONSE     ((ViStatus)0xBFFA0059L)
#define KE2400_ERROR_ID_QUERY_FAILED         ((ViStatus)0xBFFA005EL)
#define KE2400_ERROR_RESET_FAILED            ((ViStatus)0xBFFA005FL)
/* errors of this driver (0xBFFA4000 + n) */
#define KE2400_ERROR_NO_DATA                 ((ViStatus)0xBFFA4001L) /* fetch before any acquisition */
#define KE2400_ERROR_TRIGGER_NOT_SOFTWARE    ((ViStatus)0xBFFA4002L)
#define KE2400_ERROR_SETUP_NOT_SAVED         ((ViStatus)0xBFFA4003L)
#define KE2400_ERROR_SESSION_NOT_LOCKED      ((ViStatus)0xBFFA4004L) /* unlock without a lock */
/* IVI warnings (0x3FFA0000 + n) */
#define KE2400_WARN_NSUP_ID_QUERY            ((ViStatus)0x3FFA0065L)
#define KE2400_WARN_NSUP_RESET               ((ViStatus)0x3FFA0066L)
#define KE2400_WARN_NSUP_SELF_TEST           ((ViStatus)0x3FFA0067L)
#define KE2400_WARN_NSUP_ERROR_QUERY         ((ViStatus)0x3FFA0068L)
#define KE2400_WARN_NSUP_REV_QUERY           ((ViStatus)0x3FFA0069L)

/* ---- attribute IDs ------------------------------------------------------------ */
#define KE2400_ATTR_RANGE_CHECK             1050002UL /* Boolean */
#define KE2400_ATTR_QUERY_INSTRUMENT_STATUS 1050003UL /* Boolean */
#define KE2400_ATTR_CACHE                   1050004UL /* Boolean */
#define KE2400_ATTR_SIMULATE                1050005UL /* Boolean */
#define KE2400_ATTR_RECORD_COERCIONS        1050006UL /* Boolean */
#define KE2400_ATTR_DRIVER_SETUP            1050007UL /* String, read-only */
#define KE2400_ATTR_INTERCHANGE_CHECK       1050021UL /* Boolean */
#define KE2400_ATTR_IO_SESSION              1050322UL /* Session, read-only */
#define KE2400_ATTR_RESOURCE_DESCRIPTOR     1050304UL /* String, read-only */
#define KE2400_ATTR_INSTRUMENT_MANUFACTURER 1050511UL /* String, read-only */
#define KE2400_ATTR_INSTRUMENT_MODEL        1050512UL /* String, read-only */
#define KE2400_ATTR_INSTRUMENT_FIRMWARE_REVISION 1050510UL /* String, read-only */
#define KE2400_ATTR_SPECIFIC_DRIVER_REVISION 1050551UL /* String, read-only */

#define KE2400_ATTR_OUTPUT_ENABLED          1150001UL /* Boolean */
#define KE2400_ATTR_OUTPUT_OFF_MODE         1150002UL /* Int32: KE2400_VAL_OFF_* */
#define KE2400_ATTR_SOURCE_FUNCTION         1150003UL /* Int32: KE2400_VAL_VOLTAGE / _CURRENT */
#define KE2400_ATTR_SOURCE_MODE             1150004UL /* Int32: KE2400_VAL_MODE_* */
#define KE2400_ATTR_SOURCE_VOLTAGE_LEVEL    1150005UL /* Real64, V */
#define KE2400_ATTR_SOURCE_CURRENT_LEVEL    1150006UL /* Real64, A */
#define KE2400_ATTR_SOURCE_VOLTAGE_RANGE    1150007UL /* Real64, coerced to 0.2, 2, 20, 200 V */
#define KE2400_ATTR_SOURCE_CURRENT_RANGE    1150008UL /* Real64, coerced to 1 uA ... 1 A decades */
#define KE2400_ATTR_SOURCE_AUTO_RANGE       1150009UL /* Boolean */
#define KE2400_ATTR_SOURCE_DELAY            1150010UL /* Real64, s */
#define KE2400_ATTR_VOLTAGE_COMPLIANCE      1150011UL /* Real64, V */
#define KE2400_ATTR_CURRENT_COMPLIANCE      1150012UL /* Real64, A */
#define KE2400_ATTR_SENSE_VOLTAGE_RANGE     1150013UL /* Real64 */
#define KE2400_ATTR_SENSE_CURRENT_RANGE     1150014UL /* Real64 */
#define KE2400_ATTR_SENSE_RESISTANCE_RANGE  1150015UL /* Real64 */
#define KE2400_ATTR_SENSE_VOLTAGE_AUTO_RANGE 1150016UL /* Boolean */
#define KE2400_ATTR_SENSE_CURRENT_AUTO_RANGE 1150017UL /* Boolean */
#define KE2400_ATTR_SENSE_RESISTANCE_AUTO_RANGE 1150018UL /* Boolean */
#define KE2400_ATTR_CONCURRENT_MEASUREMENTS 1150019UL /* Boolean */
#define KE2400_ATTR_REMOTE_SENSE            1150020UL /* Boolean: 4-wire */
#define KE2400_ATTR_RESISTANCE_MODE         1150021UL /* Int32: 0 manual, 1 auto */
#define KE2400_ATTR_OFFSET_COMPENSATION     1150022UL /* Boolean */
#define KE2400_ATTR_MEASUREMENT_FUNCTION    1150023UL /* Int32: KE2400_VAL_VOLTAGE ... */
#define KE2400_ATTR_NPLC                    1150024UL /* Real64, 0.01 ... 10 */
#define KE2400_ATTR_POWER_LINE_FREQUENCY    1150025UL /* Real64, 50 or 60 Hz */
#define KE2400_ATTR_AUTO_ZERO               1150026UL /* Int32: 0 off, 1 on, 2 once */
#define KE2400_ATTR_TERMINALS               1150027UL /* Int32: 0 front, 1 rear */
#define KE2400_ATTR_TRIGGER_SOURCE          1150028UL /* Int32: KE2400_VAL_TRIG_* */
#define KE2400_ATTR_TRIGGER_COUNT           1150029UL /* Int32, 1 ... 2500 */
#define KE2400_ATTR_TRIGGER_DELAY           1150030UL /* Real64, s */
#define KE2400_ATTR_ARM_SOURCE              1150031UL /* Int32 */
#define KE2400_ATTR_ARM_COUNT               1150032UL /* Int32, 1 ... 2500 */
#define KE2400_ATTR_ARM_TIMER               1150033UL /* Real64, s */
#define KE2400_ATTR_TRIGGER_SLOPE           1150034UL /* Int32: 0 positive, 1 negative */
#define KE2400_ATTR_SWEEP_START             1150035UL /* Real64 */
#define KE2400_ATTR_SWEEP_STOP              1150036UL /* Real64 */
#define KE2400_ATTR_SWEEP_STEP              1150037UL /* Real64 */
#define KE2400_ATTR_SWEEP_POINTS            1150038UL /* Int32, 1 ... 2500 */
#define KE2400_ATTR_SWEEP_SPACING           1150039UL /* Int32: 0 linear, 1 logarithmic */
#define KE2400_ATTR_SWEEP_DIRECTION         1150040UL /* Int32: 0 up, 1 down */
#define KE2400_ATTR_BUFFER_SIZE             1150041UL /* Int32, 1 ... 2500 */
#define KE2400_ATTR_BUFFER_ENABLED          1150042UL /* Boolean */
#define KE2400_ATTR_FILTER_ENABLED          1150043UL /* Boolean */
#define KE2400_ATTR_FILTER_COUNT            1150044UL /* Int32, 1 ... 100 */
#define KE2400_ATTR_REL_ENABLED             1150045UL /* Boolean */
#define KE2400_ATTR_REL_OFFSET              1150046UL /* Real64 */
#define KE2400_ATTR_MATH_EXPRESSION         1150047UL /* String */
#define KE2400_ATTR_OVP_LIMIT               1150048UL /* Real64, coerced to 20 ... 160 V or 210 (none) */
#define KE2400_ATTR_SRQ_ENABLE_MASK         1150049UL /* Int32, 0 ... 255 */
#define KE2400_ATTR_TRIGGER_LINK_SESSION    1150050UL /* Session: instrument at the other end of the link */
#define KE2400_ATTR_APERTURE_TIME           1150051UL /* Real64 (units of APERTURE_UNITS) */
#define KE2400_ATTR_APERTURE_UNITS          1150052UL /* Int32: 0 seconds, 1 power-line cycles */
#define KE2400_ATTR_INTERLOCK_ENABLED       1150053UL /* Boolean */
#define KE2400_ATTR_POWER_ON_SETUP          1150054UL /* Int32: -1 reset defaults, 0 ... 4 saved */

/* ---- values ---------------------------------------------------------------------- */
#define KE2400_VAL_VOLTAGE      0  /* source and measurement functions */
#define KE2400_VAL_CURRENT      1
#define KE2400_VAL_RESISTANCE   2
#define KE2400_VAL_TIME         3  /* buffer element: time stamp, s */
#define KE2400_VAL_MODE_FIXED   0
#define KE2400_VAL_MODE_SWEEP   1
#define KE2400_VAL_MODE_LIST    2
#define KE2400_VAL_TRIG_IMMEDIATE 0
#define KE2400_VAL_TRIG_LINK    1
#define KE2400_VAL_TRIG_SOFTWARE 2
#define KE2400_VAL_TRIG_TIMER   3
#define KE2400_VAL_OFF_NORMAL   0
#define KE2400_VAL_OFF_ZERO     1
#define KE2400_VAL_OFF_HIMP     2
#define KE2400_VAL_OFF_GUARD    3
#define KE2400_VAL_STAT_MEAN    0  /* FetchStatistics */
#define KE2400_VAL_STAT_SDEV    1
#define KE2400_VAL_STAT_MIN     2
#define KE2400_VAL_STAT_MAX     3
#define KE2400_VAL_STAT_PKPK    4
#define KE2400_VAL_LIMIT_PASS   0  /* FetchTestStatus */
#define KE2400_VAL_LIMIT_FAIL_LOW 1
#define KE2400_VAL_LIMIT_FAIL_HIGH 2
#define KE2400_VAL_OVER_RANGE   9.9e37

/* ---- sessions, errors, utilities ------------------------------------------------ */
ViStatus _VI_FUNC KE2400_init(ViString resourceName, ViBoolean idQuery, ViBoolean resetDevice, ViSession *vi);
ViStatus _VI_FUNC KE2400_InitWithOptions(ViString resourceName, ViBoolean idQuery, ViBoolean resetDevice,
                                         ViConstString optionString, ViSession *vi);
ViStatus _VI_FUNC KE2400_Disconnect(ViSession vi);
ViStatus _VI_FUNC KE2400_close(ViSession vi);
/* Disconnect leaves the instrument as it is; Reconnect takes it up again. */
ViStatus _VI_FUNC KE2400_Reconnect(ViString resourceName, ViSession *vi);
ViStatus _VI_FUNC KE2400_GetError(ViSession BIND_ANY_SESSION vi, ViStatus *code, ViInt32 bufferSize, ViChar description[] BIND_TEXT(bufferSize));
ViStatus _VI_FUNC KE2400_ClearError(ViSession BIND_ANY_SESSION vi);
ViStatus _VI_FUNC KE2400_GetNextCoercionRecord(ViSession vi, ViInt32 bufferSize, ViChar record[] BIND_TEXT(bufferSize));
ViStatus _VI_FUNC KE2400_GetNextInterchangeWarning(ViSession vi, ViInt32 bufferSize, ViChar warning[] BIND_TEXT(bufferSize));
ViStatus _VI_FUNC KE2400_ClearInterchangeWarnings(ViSession vi);
ViStatus _VI_FUNC KE2400_ResetInterchangeCheck(ViSession vi);
/* The session lock is recursive; both write whether the caller still holds it. */
ViStatus _VI_FUNC KE2400_LockSession(ViSession vi, ViBoolean *callerHasLock);
ViStatus _VI_FUNC KE2400_UnlockSession(ViSession vi, ViBoolean *callerHasLock);
ViStatus _VI_FUNC KE2400_error_query(ViSession vi, ViInt32 *errorCode, ViChar errorMessage[]);
ViStatus _VI_FUNC KE2400_InvalidateAllAttributes(ViSession vi);
ViStatus _VI_FUNC KE2400_GetErrorInfo(ViSession BIND_ANY_SESSION vi, ViStatus *primaryError, ViStatus *secondaryError,
                                      ViChar errorElaboration[]);
ViStatus _VI_FUNC KE2400_ClearErrorInfo(ViSession BIND_ANY_SESSION vi);
ViStatus _VI_FUNC KE2400_error_message(ViSession BIND_ANY_SESSION vi, ViStatus errorCode, ViChar errorMessage[]);
ViStatus _VI_FUNC KE2400_reset(ViSession vi);
ViStatus _VI_FUNC KE2400_self_test(ViSession vi, ViInt16 *testResult, ViChar testMessage[]);
ViStatus _VI_FUNC KE2400_ResetWithDefaults(ViSession vi);
ViStatus _VI_FUNC KE2400_Disable(ViSession vi);
ViStatus _VI_FUNC KE2400_revision_query(ViSession vi, ViChar driverRevision[], ViChar firmwareRevision[]);
ViStatus _VI_FUNC KE2400_WriteInstrData(ViSession vi, ViConstString writeBuffer);
/* Reads at most byteCount bytes of the pending reply; no zero byte is added when
   byteCount bytes are read. */
ViStatus _VI_FUNC KE2400_ReadInstrData(ViSession vi, ViInt32 byteCount, ViChar readBuffer[] BIND_RAW(max(256, byteCount + 1)), ViInt32 *bytesRead);

/* ---- attributes (channel name "" or "1": the one output) ---------------------- */
ViStatus _VI_FUNC KE2400_GetAttributeViInt32(ViSession vi, ViConstString channelName, ViAttr attributeId, ViInt32 *value);
ViStatus _VI_FUNC KE2400_GetAttributeViReal64(ViSession vi, ViConstString channelName, ViAttr attributeId, ViReal64 *value);
ViStatus _VI_FUNC KE2400_GetAttributeViString(ViSession vi, ViConstString channelName, ViAttr attributeId,
                                              ViInt32 bufferSize, ViChar value[] BIND_TEXT(bufferSize));
ViStatus _VI_FUNC KE2400_GetAttributeViSession(ViSession vi, ViConstString channelName, ViAttr attributeId, ViSession *value);
ViStatus _VI_FUNC KE2400_GetAttributeViBoolean(ViSession vi, ViConstString channelName, ViAttr attributeId, ViBoolean *value);
ViStatus _VI_FUNC KE2400_SetAttributeViInt32(ViSession vi, ViConstString channelName, ViAttr attributeId, ViInt32 value);
ViStatus _VI_FUNC KE2400_SetAttributeViReal64(ViSession vi, ViConstString channelName, ViAttr attributeId, ViReal64 value);
ViStatus _VI_FUNC KE2400_SetAttributeViString(ViSession vi, ViConstString channelName, ViAttr attributeId, ViConstString value);
ViStatus _VI_FUNC KE2400_SetAttributeViSession(ViSession vi, ViConstString channelName, ViAttr attributeId, ViSession value);
ViStatus _VI_FUNC KE2400_SetAttributeViBoolean(ViSession vi, ViConstString channelName, ViAttr attributeId, ViBoolean value);
ViStatus _VI_FUNC KE2400_CheckAttributeViInt32(ViSession vi, ViConstString channelName, ViAttr attributeId, ViInt32 value);
ViStatus _VI_FUNC KE2400_CheckAttributeViReal64(ViSession vi, ViConstString channelName, ViAttr attributeId, ViReal64 value);
ViStatus _VI_FUNC KE2400_CheckAttributeViString(ViSession vi, ViConstString channelName, ViAttr attributeId, ViConstString value);
ViStatus _VI_FUNC KE2400_CheckAttributeViSession(ViSession vi, ViConstString channelName, ViAttr attributeId, ViSession value);
ViStatus _VI_FUNC KE2400_CheckAttributeViBoolean(ViSession vi, ViConstString channelName, ViAttr attributeId, ViBoolean value);

/* ---- sense ------------------------------------------------------------------------ */
/* range 0: auto range */
ViStatus _VI_FUNC KE2400_ConfigureMeasurement(ViSession vi, ViInt32 measurementFunction, ViReal64 range, ViReal64 nplc);
ViStatus _VI_FUNC KE2400_ConfigureApertureTimeInfo(ViSession vi, ViReal64 apertureTime, ViInt32 units);
ViStatus _VI_FUNC KE2400_GetApertureTimeInfo(ViSession vi, ViReal64 *apertureTime, ViInt32 *units);
ViStatus _VI_FUNC KE2400_ConfigureDCVSense(ViSession vi, ViReal64 compliance, ViReal64 range, ViBoolean autoRange,
                                           ViBoolean concurrent, ViBoolean remoteSense);
ViStatus _VI_FUNC KE2400_ConfigureDCISense(ViSession vi, ViReal64 compliance, ViReal64 range, ViBoolean autoRange,
                                           ViBoolean concurrent);
ViStatus _VI_FUNC KE2400_ConfigureRESSense(ViSession vi, ViReal64 range, ViReal64 nplc, ViBoolean autoRange,
                                           ViBoolean offsetCompensation);
ViStatus _VI_FUNC KE2400_ConfigureAutoRangeLimits(ViSession vi, ViReal64 lowerLimit, ViReal64 upperLimit);
ViStatus _VI_FUNC KE2400_ConfigureAutoRangeLimitsEx(ViSession vi, ViInt32 function, ViReal64 lowerLimit, ViReal64 upperLimit);
/* autoRange: 0 off (manualRange applies), 1 on, 2 once */
ViStatus _VI_FUNC KE2400_ConfigureAutoRange(ViSession vi, ViInt32 function, ViInt32 autoRange, ViReal64 manualRange);
ViStatus _VI_FUNC KE2400_GetAutoRangeValue(ViSession vi, ViReal64 *range);
ViStatus _VI_FUNC KE2400_ConfigureAutoZeroMode(ViSession vi, ViInt32 mode);
ViStatus _VI_FUNC KE2400_ConfigurePowerLineFrequency(ViSession vi, ViReal64 frequency);

/* ---- source -------------------------------------------------------------------------- */
/* Source current, measure voltage. */
ViStatus _VI_FUNC KE2400_Configure_DC_IV(ViSession vi, ViReal64 currentLevel, ViReal64 voltageCompliance,
                                         ViReal64 voltageRange, ViReal64 nplc, ViReal64 sourceDelay);
/* Source voltage, measure current. */
ViStatus _VI_FUNC KE2400_Configure_DC_VI(ViSession vi, ViReal64 voltageLevel, ViReal64 currentCompliance,
                                         ViReal64 currentRange, ViReal64 sourceRange, ViReal64 nplc, ViReal64 sourceDelay);
/* Linear sweeps take their points from step (StepCount), logarithmic ones from points. */
ViStatus _VI_FUNC KE2400_Configure_Sweep_IV(ViSession vi, ViInt32 spacing, ViInt32 direction, ViInt32 ranging,
                                            ViReal64 start, ViReal64 stop, ViReal64 step, ViInt32 points,
                                            ViReal64 voltageCompliance, ViReal64 sourceDelay);
ViStatus _VI_FUNC KE2400_Configure_Sweep_VI(ViSession vi, ViInt32 spacing, ViInt32 direction, ViInt32 ranging,
                                            ViReal64 start, ViReal64 stop, ViReal64 step, ViReal64 currentCompliance,
                                            ViInt32 points, ViReal64 nplc, ViReal64 sourceDelay);
ViStatus _VI_FUNC KE2400_Configure_List_IV(ViSession vi, ViInt32 count, ViReal64 currentList[] BIND_READS(count),
                                           ViReal64 voltageCompliance, ViReal64 nplc, ViReal64 sourceDelay);
ViStatus _VI_FUNC KE2400_Configure_List_VI(ViSession vi, ViInt32 count, ViReal64 voltageList[] BIND_READS(count),
                                           ViReal64 currentCompliance, ViReal64 currentRange, ViReal64 nplc,
                                           ViReal64 sourceDelay);
ViStatus _VI_FUNC KE2400_ConfigureSourceBias(ViSession vi, ViInt32 function, ViReal64 level, ViReal64 compliance,
                                             ViReal64 sourceDelay, ViInt32 offMode);
ViStatus _VI_FUNC KE2400_ConfigureSourceDC(ViSession vi, ViInt32 function, ViReal64 level, ViReal64 range,
                                           ViBoolean autoRange, ViReal64 compliance, ViInt32 terminals);
ViStatus _VI_FUNC KE2400_ConfigureSourceRamp(ViSession vi, ViInt32 function, ViReal64 start, ViInt32 spacing,
                                             ViReal64 stop, ViReal64 sourceDelay, ViInt32 points, ViBoolean autoRange,
                                             ViReal64 compliance, ViInt32 direction);
ViStatus _VI_FUNC KE2400_ConfigureSourceCustom(ViSession vi, ViInt32 function, ViReal64 sourceDelay, ViInt32 count,
                                               ViReal64 values[] BIND_READS(count), ViBoolean autoRange, ViReal64 compliance,
                                               ViInt32 triggerCount);
ViStatus _VI_FUNC KE2400_ConfigureSourceInterlock(ViSession vi, ViBoolean enable);
ViStatus _VI_FUNC KE2400_EnableSource(ViSession vi, ViInt32 enable, ViInt32 offMode);
/* action: 0 output off, 1 output on */
ViStatus _VI_FUNC KE2400_ControlSource(ViSession vi, ViInt32 action);
/* Points of a linear sweep from start to stop in steps of step (0 if step is 0). */
ViInt32 _VI_FUNC KE2400_StepCount(ViReal64 start, ViReal64 stop, ViReal64 step);
ViStatus _VI_FUNC KE2400_ConfigureOverVoltageProtection(ViSession vi, ViReal64 limit);

/* ---- triggering ---------------------------------------------------------------------- */
ViStatus _VI_FUNC KE2400_ConfigureTrigger(ViSession vi, ViInt32 triggerSource, ViReal64 triggerDelay);
ViStatus _VI_FUNC KE2400_ConfigureArmLayer(ViSession vi, ViInt32 armSource, ViInt32 armCount, ViReal64 armTimer,
                                           ViInt32 inputLine, ViInt32 outputLine, ViInt32 outputEvents, ViInt32 bypass);
ViStatus _VI_FUNC KE2400_ConfigureTriggerLayer(ViSession vi, ViInt32 triggerSource, ViInt32 triggerCount,
                                               ViReal64 triggerDelay, ViInt32 inputLine, ViInt32 outputLine,
                                               ViInt32 inputEvents, ViInt32 outputEvents);
ViStatus _VI_FUNC KE2400_ConfigureSourceTrigger(ViSession vi, ViInt32 inputLine, ViReal64 delay);
ViStatus _VI_FUNC KE2400_ConfigureMeasurementTrigger(ViSession vi, ViInt32 inputLine, ViReal64 delay);
ViStatus _VI_FUNC KE2400_ConfigureTriggerSlope(ViSession vi, ViInt32 slope);
ViStatus _VI_FUNC KE2400_ConfigureMeasCompleteDest(ViSession vi, ViInt32 outputLine);
ViStatus _VI_FUNC KE2400_ConfigureMultiPoint(ViSession vi, ViInt32 triggerCount, ViInt32 armCount,
                                             ViInt32 triggerSource, ViReal64 triggerDelay);
ViStatus _VI_FUNC KE2400_SendSoftwareTrigger(ViSession vi);
ViStatus _VI_FUNC KE2400_Abort(ViSession vi);
ViStatus _VI_FUNC KE2400_Initiate(ViSession vi);

/* ---- readings ----------------------------------------------------------------------- */
/* function: KE2400_VAL_VOLTAGE, _CURRENT, _RESISTANCE, _TIME */
ViStatus _VI_FUNC KE2400_Read(ViSession vi, ViInt32 function, ViReal64 *reading);
ViStatus _VI_FUNC KE2400_Fetch(ViSession vi, ViInt32 function, ViReal64 *reading);
/* Takes the readings of one acquisition (trigger count x arm count points) and
   writes at most arraySize of them; actualPoints is the number written. */
ViStatus _VI_FUNC KE2400_ReadMultiPoint(ViSession vi, ViInt32 function, ViInt32 arraySize, ViReal64 readings[] BIND_ITEMS(arraySize),
                                        ViInt32 *actualPoints);
ViStatus _VI_FUNC KE2400_FetchMultiPoint(ViSession vi, ViInt32 function, ViInt32 arraySize, ViReal64 readings[] BIND_ITEMS(arraySize),
                                         ViInt32 *actualPoints);
/* Comma-separated readings, as many whole ones as fit in bufferSize bytes. */
ViStatus _VI_FUNC KE2400_ReadMultiPointChar(ViSession vi, ViInt32 function, ViInt32 bufferSize, ViChar readings[] BIND_TEXT(bufferSize),
                                            ViInt32 *actualPoints);
ViStatus _VI_FUNC KE2400_FetchMultiPointChar(ViSession vi, ViInt32 function, ViInt32 bufferSize, ViChar readings[] BIND_TEXT(bufferSize),
                                             ViInt32 *actualPoints);
ViStatus _VI_FUNC KE2400_IsOverRange(ViSession vi, ViReal64 value, ViBoolean *overRange);
ViStatus _VI_FUNC KE2400_AcquireNewRelativeReference(ViSession vi);
ViStatus _VI_FUNC KE2400_Spoll(ViSession vi, ViUInt16 *statusByte);
ViStatus _VI_FUNC KE2400_ConfigureSRQEvents(ViSession vi, ViInt32 enableMask);
ViStatus _VI_FUNC KE2400_EnableSRQEvents(ViSession vi, ViBoolean enable);

/* ---- reading buffer and statistics ------------------------------------------------ */
/* elements: bit mask, 1 voltage, 2 current, 4 resistance, 8 time */
ViStatus _VI_FUNC KE2400_ConfigureBuffer(ViSession vi, ViInt32 bufferSize, ViInt32 control, ViInt32 timestampFormat,
                                         ViInt32 elements);
ViStatus _VI_FUNC KE2400_EnableBuffer(ViSession vi, ViBoolean enable);
ViStatus _VI_FUNC KE2400_ClearBuffer(ViSession vi);
ViStatus _VI_FUNC KE2400_GetBufferInfo(ViSession vi, ViInt32 *pointsStored, ViInt32 *bufferSize);
/* startIndex counts from 0, the oldest stored reading. */
ViStatus _VI_FUNC KE2400_FetchBufferData(ViSession vi, ViInt32 function, ViInt32 startIndex, ViInt32 arraySize,
                                         ViReal64 readings[] BIND_ITEMS(arraySize), ViInt32 *actualPoints);
ViStatus _VI_FUNC KE2400_ConfigureStatistics(ViSession vi, ViInt32 function);
ViStatus _VI_FUNC KE2400_FetchStatistics(ViSession vi, ViInt32 statistic, ViReal64 *value);

/* ---- filters, math, relative -------------------------------------------------------- */
ViStatus _VI_FUNC KE2400_ConfigureFilter(ViSession vi, ViInt32 type, ViInt32 count, ViReal64 window, ViBoolean enable);
ViStatus _VI_FUNC KE2400_ConfigureMedianFilter(ViSession vi, ViInt32 rank, ViBoolean enable);
ViStatus _VI_FUNC KE2400_ConfigureRelative(ViSession vi, ViReal64 offset, ViBoolean enable);
ViStatus _VI_FUNC KE2400_ConfigureMath(ViSession vi, ViInt32 operation, ViBoolean enable);
ViStatus _VI_FUNC KE2400_ConfigureMathExpression(ViSession vi, ViString expressionName);
ViStatus _VI_FUNC KE2400_ConfigureMathMXB(ViSession vi, ViReal64 m, ViReal64 b);
ViStatus _VI_FUNC KE2400_ConfigureMathPercent(ViSession vi, ViReal64 target);

/* ---- limit tests, contact check, digital output ------------------------------------ */
ViStatus _VI_FUNC KE2400_ConfigureDO(ViSession vi, ViInt32 pattern, ViReal64 pulseWidth, ViInt32 mode, ViBoolean autoClear);
ViStatus _VI_FUNC KE2400_ConfigureContactCheck(ViSession vi, ViReal64 threshold, ViReal64 timeout, ViBoolean enable);
ViStatus _VI_FUNC KE2400_ConfigureContactCheckOutput(ViSession vi, ViInt32 pattern, ViBoolean enable);
ViStatus _VI_FUNC KE2400_ConfigureComplianceTest(ViSession vi, ViInt32 failMode, ViBoolean enable);
ViStatus _VI_FUNC KE2400_ConfigureComplianceTestOutput(ViSession vi, ViInt32 pattern);
ViStatus _VI_FUNC KE2400_ConfigureLimitTest(ViSession vi, ViInt32 limit, ViReal64 lower, ViReal64 upper, ViBoolean enable);
ViStatus _VI_FUNC KE2400_ConfigureLimitTestOutput(ViSession vi, ViInt32 limit, ViInt32 lowerFailPattern,
                                                  ViInt32 upperFailPattern, ViInt32 passPattern);
ViStatus _VI_FUNC KE2400_ConfigureCompositeTest(ViSession vi, ViInt32 mode);
ViStatus _VI_FUNC KE2400_ConfigureCompositeTestOutput(ViSession vi, ViInt32 passPattern, ViInt32 failPattern,
                                                      ViInt32 binning, ViInt32 endOfTestMode);
ViStatus _VI_FUNC KE2400_FetchTestStatus(ViSession vi, ViInt32 limit, ViInt32 *status);

/* ---- stored setups, source memory, beeper ------------------------------------------ */
ViStatus _VI_FUNC KE2400_SaveSetup(ViSession vi, ViInt32 location);
ViStatus _VI_FUNC KE2400_RecallSetup(ViSession vi, ViInt32 location);
ViStatus _VI_FUNC KE2400_SelectPowerOnSetup(ViSession vi, ViInt32 location);
ViStatus _VI_FUNC KE2400_ProgramClear(ViSession vi);
ViStatus _VI_FUNC KE2400_ProgramBranch(ViSession vi, ViInt32 location, ViInt32 condition, ViInt32 target);
ViStatus _VI_FUNC KE2400_ProgramSaveStep(ViSession vi, ViInt32 location);
ViStatus _VI_FUNC KE2400_ProgramRecallStep(ViSession vi, ViInt32 location);
ViStatus _VI_FUNC KE2400_ProgramInitiate(ViSession vi, ViInt32 startLocation);
ViStatus _VI_FUNC KE2400_PlayTone(ViSession vi, ViReal64 frequency, ViReal64 duration);

#ifdef __cplusplus
}
#endif

#endif
