/* hp816x driver functions of this family; included by hp816x.h.
   Return-loss modules.  Laser source: 0 lower wavelength, 1 upper
   wavelength, 2 external.  Channel of readings: 0 monitor, 1 return. */

/* Most values a logging or stability function records.  The result queries
   write every recorded value without being told the caller's array size. */
#define HP816X_RLM_MAX_POINTS 10000

BIND_SLOTS(slot, ReturnLoss)
ViStatus _VI_FUNC hp816x_set_RLM_parameters(ViSession ihandle, ViInt32 slot, ViUInt16 internalTrigger,
                                            ViReal64 averagingTime, ViReal64 wavelength, ViInt32 laserSource,
                                            ViUInt16 laserState);
ViStatus _VI_FUNC hp816x_get_RLM_parameters_Q(ViSession ihandle, ViInt32 slot, ViUInt16* internalTrigger,
                                              ViReal64* averagingTime, ViReal64* wavelength,
                                              ViInt32* laserSource, ViUInt16* laserState);
ViStatus _VI_FUNC hp816x_set_RLM_internalTrigger(ViSession ihandle, ViInt32 slot, ViUInt16 internalTrigger);
ViStatus _VI_FUNC hp816x_set_RLM_averagingTime(ViSession ihandle, ViInt32 slot, ViReal64 averagingTime);
ViStatus _VI_FUNC hp816x_get_RLM_averagingTime_Q(ViSession ihandle, ViInt32 slot, ViReal64* averagingTime);
ViStatus _VI_FUNC hp816x_set_RLM_wavelength(ViSession ihandle, ViInt32 slot, ViReal64 wavelength);
ViStatus _VI_FUNC hp816x_get_RLM_wavelength_Q(ViSession ihandle, ViInt32 slot, ViReal64* minimum,
                                              ViReal64* maximum, ViReal64* defaultValue, ViReal64* current);
/* calibration: 0 reference reflector, 1 termination */
ViStatus _VI_FUNC hp816x_calibrate_RLM(ViSession ihandle, ViInt32 slot, ViInt32 calibration);
ViStatus _VI_FUNC hp816x_set_RLM_triggerConfiguration(ViSession ihandle, ViInt32 slot, ViInt32 triggerIn,
                                                      ViInt32 triggerOut);
ViStatus _VI_FUNC hp816x_start_RLM_internalTrigger(ViSession ihandle, ViInt32 slot);
ViStatus _VI_FUNC hp816x_RLM_readReturnLoss(ViSession ihandle, ViInt32 slot, ViReal64* returnLoss);
ViStatus _VI_FUNC hp816x_RLM_fetchReturnLoss(ViSession ihandle, ViInt32 slot, ViReal64* returnLoss);
ViStatus _VI_FUNC hp816x_RLM_readValue(ViSession ihandle, ViInt32 slot, ViUInt16 channel, ViReal64* value);
ViStatus _VI_FUNC hp816x_RLM_fetchValue(ViSession ihandle, ViInt32 slot, ViUInt16 channel, ViReal64* value);
ViStatus _VI_FUNC hp816x_RLM_zeroing(ViSession ihandle, ViInt32 slot, ViInt32* zeroResult);
ViStatus _VI_FUNC hp816x_RLM_zeroingAll(ViSession ihandle, ViInt32* zeroResult);
ViStatus _VI_FUNC hp816x_set_RLM_powerRange(ViSession ihandle, ViInt32 slot, ViUInt16 autoRange,
                                            ViReal64 rangeMonitor, ViReal64 rangeReturn);
ViStatus _VI_FUNC hp816x_get_RLM_powerRange_Q(ViSession ihandle, ViInt32 slot, ViUInt16* autoRange,
                                              ViReal64* rangeMonitor, ViReal64* rangeReturn);
/* Return loss (dB) of the reference reflector, per laser source. */
ViStatus _VI_FUNC hp816x_set_RLM_rlReference(ViSession ihandle, ViInt32 slot, ViInt32 laserSource,
                                             ViReal64 returnLoss);
ViStatus _VI_FUNC hp816x_get_RLM_rlReference_Q(ViSession ihandle, ViInt32 slot, ViInt32 laserSource,
                                               ViReal64* returnLoss);
/* Front-panel connector correction (dB) added to return-loss readings. */
ViStatus _VI_FUNC hp816x_set_RLM_FPDelta(ViSession ihandle, ViInt32 slot, ViInt32 laserSource, ViReal64 delta);
ViStatus _VI_FUNC hp816x_get_RLM_FPDelta_Q(ViSession ihandle, ViInt32 slot, ViInt32 laserSource,
                                           ViReal64* delta);
/* Return loss (dB) from the return/monitor power pairs (W) of the reference
   reflector, the termination and the device, and the reflector's return loss. */
ViStatus _VI_FUNC hp816x_calculate_RL(ViSession ihandle, ViInt32 slot, ViReal64 reflectanceReturn,
                                      ViReal64 reflectanceMonitor, ViReal64 terminationReturn,
                                      ViReal64 terminationMonitor, ViReal64 dutReturn, ViReal64 dutMonitor,
                                      ViReal64 rlReference, ViReal64* returnLoss);
ViStatus _VI_FUNC hp816x_get_RLM_reflectanceValues_Q(ViSession ihandle, ViInt32 slot, ViInt32 laserSource,
                                                     ViReal64* returnPower, ViReal64* monitorPower);
ViStatus _VI_FUNC hp816x_get_RLM_terminationValues_Q(ViSession ihandle, ViInt32 slot, ViInt32 laserSource,
                                                     ViReal64* returnPower, ViReal64* monitorPower);
ViStatus _VI_FUNC hp816x_get_RLM_dutValues_Q(ViSession ihandle, ViInt32 slot, ViReal64* returnPower,
                                             ViReal64* monitorPower);
ViStatus _VI_FUNC hp816x_get_RLM_srcWavelength_Q(ViSession ihandle, ViInt32 slot, ViReal64* wavelengthLower,
                                                 ViReal64* wavelengthUpper);
ViStatus _VI_FUNC hp816x_set_RLM_laserSourceParameters(ViSession ihandle, ViInt32 slot, ViInt32 laserSource,
                                                       ViUInt16 laserState);
ViStatus _VI_FUNC hp816x_get_RLM_laserSourceParameters_Q(ViSession ihandle, ViInt32 slot,
                                                         ViInt32* laserSource, ViUInt16* laserState);
ViStatus _VI_FUNC hp816x_set_RLM_laserState(ViSession ihandle, ViInt32 slot, ViUInt16 laserState);
ViStatus _VI_FUNC hp816x_get_RLM_modulationState_Q(ViSession ihandle, ViInt32 slot, ViInt32 laserSource,
                                                   ViUInt16* modulationState);
ViStatus _VI_FUNC hp816x_set_RLM_modulationState(ViSession ihandle, ViInt32 slot, ViInt32 laserSource,
                                                 ViUInt16 modulationState);
ViStatus _VI_FUNC hp816x_get_RLM_laserState_Q(ViSession ihandle, ViInt32 slot, ViUInt16* laserState);
ViStatus _VI_FUNC hp816x_enable_RLM_sweep(ViSession ihandle, ViUInt16 enable);
/* Starts logging `dataPoints` values; the expected duration (ms) goes to
   *estimatedTimeout when it is not null. */
ViStatus _VI_FUNC hp816x_set_RLM_logging(ViSession ihandle, ViInt32 slot, ViReal64 averagingTime,
                                         ViInt32 dataPoints, ViInt32* estimatedTimeout);
/* value: 0 return loss, 1 monitor power, 2 return power; unit 0 dB(m), 1 W
   (linear reflectance for return loss).
   Writes every logged value (at most HP816X_RLM_MAX_POINTS) to `results`. */
ViStatus _VI_FUNC hp816x_get_RLM_loggingResults_Q(ViSession ihandle, ViInt32 slot, ViUInt16 waitForCompletion,
                                                  ViUInt16 unit, ViUInt16 value, ViUInt16* complete,
                                                  ViReal64 results[] BIND_ITEMS(HP816X_RLM_MAX_POINTS));
ViStatus _VI_FUNC hp816x_set_RLM_stability(ViSession ihandle, ViInt32 slot, ViReal64 totalTime,
                                           ViReal64 periodTime, ViReal64 averagingTime, ViInt32* dataPoints);
/* Return-loss values (unit 0 dB, 1 linear reflectance), at most HP816X_RLM_MAX_POINTS. */
ViStatus _VI_FUNC hp816x_get_RLM_stabilityResults_Q(ViSession ihandle, ViInt32 slot,
                                                    ViUInt16 waitForCompletion, ViUInt16 unit,
                                                    ViUInt16* complete, ViReal64 results[] BIND_ITEMS(HP816X_RLM_MAX_POINTS));
/* mode: 0 continuous, 1 window of dataPoints, 2 refresh; duration (ms) of
   one window to *estimatedTime. */
ViStatus _VI_FUNC hp816x_set_RLM_minMax(ViSession ihandle, ViInt32 slot, ViInt32 mode, ViInt32 dataPoints,
                                        ViUInt32* estimatedTime);
ViStatus _VI_FUNC hp816x_get_RLM_minMaxResults_Q(ViSession ihandle, ViInt32 slot, ViReal64* minimum,
                                                 ViReal64* maximum, ViReal64* current);
ViStatus _VI_FUNC hp816x_RLM_functionStop(ViSession ihandle, ViInt32 slot);
ViStatus _VI_FUNC hp816x_WaitForOPC(ViSession ihandle, ViInt32 slot BIND_SLOT(AnyModule), ViUInt16 waitForCompletion);
