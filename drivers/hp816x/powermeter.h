/* hp816x driver functions of this family; included by hp816x.h. */
/* Power meter channels: (slot, channel) follow the session. */

BIND_SLOTS(PWMSlot, PowerMeters, channelNumber)
ViStatus _VI_FUNC hp816x_PWM_slaveChannelCheck(ViSession ihandle, ViInt32 PWMSlot, ViUInt16 slaveChannelCheck);
ViStatus _VI_FUNC hp816x_set_PWM_parameters(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                            ViUInt16 rangeMode, ViUInt16 powerUnit, ViUInt16 internalTrigger,
                                            ViReal64 wavelength, ViReal64 averagingTime, ViReal64 powerRange);
ViStatus _VI_FUNC hp816x_get_PWM_parameters_Q(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                              ViUInt16 *rangeMode, ViUInt16 *powerUnit, ViUInt16 *internalTrigger,
                                              ViReal64 *wavelength, ViReal64 *averagingTime, ViReal64 *powerRange);
ViStatus _VI_FUNC hp816x_set_PWM_referenceSource(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                                 ViInt32 measure, ViInt32 referenceSource,
                                                 ViInt32 slotNumberReference, ViInt32 channelNumberReference);
ViStatus _VI_FUNC hp816x_get_PWM_referenceSource_Q(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                                   ViInt32 *measure, ViInt32 *referenceSource,
                                                   ViInt32 *slotNumberReference, ViInt32 *channelNumberReference);
ViStatus _VI_FUNC hp816x_set_PWM_internalTrigger(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                                 ViUInt16 internalTrigger);
ViStatus _VI_FUNC hp816x_set_PWM_averagingTime(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                               ViReal64 averagingTime);
ViStatus _VI_FUNC hp816x_get_PWM_averagingTime_Q(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                                 ViReal64 *averagingTime);
ViStatus _VI_FUNC hp816x_set_PWM_wavelength(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                            ViReal64 wavelength);
ViStatus _VI_FUNC hp816x_get_PWM_wavelength_Q(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                              ViReal64 *minWavelength, ViReal64 *maxWavelength,
                                              ViReal64 *currentWavelength);
ViStatus _VI_FUNC hp816x_set_PWM_calibration(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                             ViReal64 calibration);
ViStatus _VI_FUNC hp816x_get_PWM_calibration_Q(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                               ViReal64 *calibration);
ViStatus _VI_FUNC hp816x_set_PWM_powerRange(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                            ViUInt16 rangeMode, ViReal64 powerRange);
ViStatus _VI_FUNC hp816x_get_PWM_powerRange_Q(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                              ViUInt16 *rangeMode, ViReal64 *powerRange);
ViStatus _VI_FUNC hp816x_set_PWM_powerUnit(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                           ViInt32 powerUnit);
ViStatus _VI_FUNC hp816x_get_PWM_powerUnit_Q(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                             ViInt32 *powerUnit);
ViStatus _VI_FUNC hp816x_set_PWM_referenceValue(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                                ViReal64 internalReference, ViReal64 referenceChannel);
ViStatus _VI_FUNC hp816x_get_PWM_referenceValue_Q(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                                  ViInt32 *referenceSource, ViReal64 *internalReference,
                                                  ViReal64 *referenceChannel);
ViStatus _VI_FUNC hp816x_set_PWM_triggerConfiguration(ViSession ihandle, ViInt32 PWMSlot, ViInt32 triggerIn,
                                                      ViInt32 triggerOut);
ViStatus _VI_FUNC hp816x_get_PWM_triggerConfiguration(ViSession ihandle, ViInt32 PWMSlot, ViInt32 *triggerIn,
                                                      ViInt32 *triggerOut);
ViStatus _VI_FUNC hp816x_PWM_displayToReference(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber);
ViStatus _VI_FUNC hp816x_start_PWM_internalTrigger(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber);
ViStatus _VI_FUNC hp816x_PWM_readValue(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                       ViReal64 *measuredValue);
ViStatus _VI_FUNC hp816x_PWM_fetchValue(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                        ViReal64 *measuredValue);
/* Arrays of the caller hold 34 entries each (the most channels a mainframe
   can carry); the driver reports how many it filled. */
ViStatus _VI_FUNC hp816x_PWM_readAll(ViSession ihandle, ViUInt32 *numberOfChannels, ViInt32 slots[] BIND_ITEMS(34),
                                     ViInt32 channels[] BIND_ITEMS(34), ViReal64 values[] BIND_ITEMS(34));
ViStatus _VI_FUNC hp816x_PWM_zeroing(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                     ViInt32 *zeroStatus);
ViStatus _VI_FUNC hp816x_PWM_zeroingAll(ViSession ihandle, ViInt32 *zeroStatus);
ViStatus _VI_FUNC hp816x_PWM_ignoreError(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                         ViUInt16 ignoreError, ViInt32 errorNumber);
ViStatus _VI_FUNC hp816x_set_PWM_logging(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                         ViReal64 averagingTime, ViInt32 dataPoints, ViInt32 *estimatedTimeout);
/* The result array holds the dataPoints given to the set-up call. */
ViStatus _VI_FUNC hp816x_get_PWM_loggingResults_Q(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                                  ViUInt16 waitForCompletion, ViUInt16 resultUnit,
                                                  ViUInt16 *loggingStatus, ViReal64 loggingResult[] BIND_ROOM);
ViStatus _VI_FUNC hp816x_set_PWM_stability(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                           ViReal64 averagingTime, ViReal64 delayTime, ViReal64 totalTime,
                                           ViInt32 *estimatedResults);
ViStatus _VI_FUNC hp816x_get_PWM_stabilityResults_Q(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                                    ViUInt16 waitForCompletion, ViUInt16 resultUnit,
                                                    ViUInt16 *stabilityStatus, ViReal64 stabilityResult[] BIND_ROOM);
ViStatus _VI_FUNC hp816x_set_PWM_minMax(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                        ViInt32 minMaxMode, ViInt32 dataPoints, ViInt32 *estimatedTime);
ViStatus _VI_FUNC hp816x_get_PWM_minMaxResults_Q(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                                 ViReal64 *minimum, ViReal64 *maximum, ViReal64 *current);
ViStatus _VI_FUNC hp816x_PWM_functionStop(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber);
