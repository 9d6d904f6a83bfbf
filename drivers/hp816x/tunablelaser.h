/* hp816x driver functions of this family; included by hp816x.h. */
/* Tunable laser sources: settings, sweeps, modulation, lambda logging.
   Functions without a slot parameter address the first tunable laser.
   wavelengthSelection and powerSelection take the HP816X_SEL_* codes. */

BIND_SLOTS(slot, TunableLaser)
ViStatus _VI_FUNC hp816x_set_TLS_parameters(ViSession session, ViInt32 slot, ViInt32 powerUnit,
                                            ViInt32 opticalOutput, ViUInt16 laserState, ViReal64 power,
                                            ViReal64 attenuation, ViReal64 wavelength);
ViStatus _VI_FUNC hp816x_get_TLS_parameters_Q(ViSession session, ViInt32 slot, ViInt32 *powerUnit,
                                              ViUInt16 *laserState, ViInt32 *opticalOutput, ViReal64 *power,
                                              ViReal64 *attenuation, ViReal64 *wavelength);
ViStatus _VI_FUNC hp816x_set_TLS_wavelength(ViSession session, ViInt32 slot, ViInt32 wavelengthSelection,
                                            ViReal64 wavelength);
ViStatus _VI_FUNC hp816x_get_TLS_wavelength_Q(ViSession session, ViInt32 slot, ViReal64 *minimum,
                                              ViReal64 *defaultWavelength, ViReal64 *maximum, ViReal64 *current);
ViStatus _VI_FUNC hp816x_set_TLS_power(ViSession session, ViInt32 slot, ViInt32 powerUnit,
                                       ViInt32 powerSelection, ViReal64 power);
ViStatus _VI_FUNC hp816x_get_TLS_power_Q(ViSession session, ViInt32 slot, ViInt32 *powerUnit, ViReal64 *minimum,
                                         ViReal64 *defaultPower, ViReal64 *maximum, ViReal64 *current);
ViStatus _VI_FUNC hp816x_set_TLS_opticalOutput(ViSession session, ViInt32 slot, ViInt32 opticalOutput);
ViStatus _VI_FUNC hp816x_get_TLS_opticalOutput_Q(ViSession session, ViInt32 slot, ViInt32 *opticalOutput);
ViStatus _VI_FUNC hp816x_get_TLS_powerMaxInRange_Q(ViSession session, ViInt32 slot, ViReal64 startWavelength,
                                                   ViReal64 stopWavelength, ViReal64 *maxPower);
ViStatus _VI_FUNC hp816x_set_TLS_laserState(ViSession session, ViInt32 slot, ViUInt16 laserState);
ViStatus _VI_FUNC hp816x_get_TLS_laserState_Q(ViSession session, ViInt32 slot, ViUInt16 *laserState);
ViStatus _VI_FUNC hp816x_set_TLS_laserRiseTime(ViSession session, ViInt32 slot, ViReal64 riseTime);
ViStatus _VI_FUNC hp816x_get_TLS_laserRiseTime(ViSession session, ViInt32 slot, ViReal64 *riseTime);
ViStatus _VI_FUNC hp816x_set_TLS_triggerConfiguration(ViSession session, ViInt32 slot, ViInt32 inputTrigger,
                                                      ViInt32 outputTrigger);
ViStatus _VI_FUNC hp816x_get_TLS_triggerConfiguration(ViSession session, ViInt32 slot, ViInt32 *inputTrigger,
                                                      ViInt32 *outputTrigger);
ViStatus _VI_FUNC hp816x_set_TLS_attenuation(ViSession session, ViInt32 slot, ViUInt16 automaticPower,
                                             ViUInt16 dark, ViReal64 attenuation);
ViStatus _VI_FUNC hp816x_get_TLS_attenuationSettings_Q(ViSession session, ViInt32 slot, ViUInt16 *automaticPower,
                                                       ViUInt16 *dark, ViReal64 *attenuation);
ViStatus _VI_FUNC hp816x_set_TLS_dark(ViSession session, ViInt32 slot, ViUInt16 dark);
ViStatus _VI_FUNC hp816x_get_TLS_darkState_Q(ViSession session, ViInt32 slot, ViUInt16 *dark);
ViStatus _VI_FUNC hp816x_get_TLS_temperatures(ViSession session, ViReal64 *temperature,
                                              ViReal64 *temperatureAtZeroing, ViReal64 *difference);
ViStatus _VI_FUNC hp816x_get_TLS_temperaturesEx(ViSession session, ViInt32 slot, ViReal64 *temperature,
                                                ViReal64 *temperatureAtZeroing, ViReal64 *difference);
ViStatus _VI_FUNC hp816x_set_TLS_autoCalibration(ViSession session, ViInt32 slot, ViUInt16 autoCalibration);
ViStatus _VI_FUNC hp816x_get_TLS_autoCalState(ViSession session, ViInt32 slot, ViUInt16 *autoCalibration);
ViStatus _VI_FUNC hp816x_get_TLS_accClass(ViSession session, ViInt32 slot, ViInt32 *accuracyClass);
ViStatus _VI_FUNC hp816x_TLS_zeroing(ViSession session);
ViStatus _VI_FUNC hp816x_TLS_zeroingAll(ViSession session);
ViStatus _VI_FUNC hp816x_TLS_zeroingEx(ViSession session, ViInt32 slot);
ViStatus _VI_FUNC hp816x_displayToLambdaZero(ViSession session, ViInt32 slot);
ViStatus _VI_FUNC hp816x_get_TLS_lambdaZero_Q(ViSession session, ViInt32 slot, ViReal64 *lambdaZero);
ViStatus _VI_FUNC hp816x_set_TLS_frequencyOffset(ViSession session, ViInt32 slot, ViReal64 offset);
ViStatus _VI_FUNC hp816x_get_TLS_frequencyOffset_Q(ViSession session, ViInt32 slot, ViReal64 *offset);
ViStatus _VI_FUNC hp816x_TLS_configureBNC(ViSession session, ViInt32 slot, ViInt32 bncOutput);
ViStatus _VI_FUNC hp816x_get_TLS_BNC_config_Q(ViSession session, ViInt32 slot, ViInt32 *bncOutput);
ViStatus _VI_FUNC hp816x_set_TLS_sweep(ViSession session, ViInt32 slot, ViInt32 sweepMode, ViInt32 repeatMode,
                                       ViUInt32 cycles, ViReal64 dwellTime, ViReal64 startWavelength,
                                       ViReal64 stopWavelength, ViReal64 stepSize, ViReal64 sweepSpeed);
ViStatus _VI_FUNC hp816x_TLS_sweepControl(ViSession session, ViInt32 slot, ViInt32 action);
ViStatus _VI_FUNC hp816x_get_TLS_sweepState_Q(ViSession session, ViInt32 slot, ViInt32 *sweepState);
ViStatus _VI_FUNC hp816x_TLS_sweepNextStep(ViSession session, ViInt32 slot);
ViStatus _VI_FUNC hp816x_TLS_sweepPreviousStep(ViSession session, ViInt32 slot);
ViStatus _VI_FUNC hp816x_TLS_sweepWait(ViSession session, ViInt32 slot);
ViStatus _VI_FUNC hp816x_set_TLS_modulation(ViSession session, ViInt32 slot, ViInt32 modulationSource,
                                            ViUInt16 modulationOutput, ViUInt16 modulationState,
                                            ViReal64 modulationFrequency);
ViStatus _VI_FUNC hp816x_get_TLS_modulationSettings_Q(ViSession session, ViInt32 slot, ViInt32 *modulationSource,
                                                      ViUInt16 *modulationOutput, ViUInt16 *modulationState,
                                                      ViReal64 *modulationFrequency);
ViStatus _VI_FUNC hp816x_set_TLS_SBS_control(ViSession session, ViInt32 slot, ViUInt16 sbsState,
                                             ViReal64 sbsFrequency);
ViStatus _VI_FUNC hp816x_get_TLS_SBS_control_q(ViSession session, ViInt32 slot, ViUInt16 *sbsState,
                                               ViReal64 *sbsFrequency);
ViStatus _VI_FUNC hp816x_set_TLS_ccLevel(ViSession session, ViInt32 slot, ViReal64 ccLevel);
ViStatus _VI_FUNC hp816x_get_TLS_ccLevel_Q(ViSession session, ViInt32 slot, ViReal64 *ccLevel);
ViStatus _VI_FUNC hp816x_set_TLS_SBSLevel(ViSession session, ViInt32 slot, ViReal64 sbsLevel);
ViStatus _VI_FUNC hp816x_get_TLS_SBSLevel_Q(ViSession session, ViInt32 slot, ViReal64 *sbsLevel);
ViStatus _VI_FUNC hp816x_set_TLS_lambdaLoggingState(ViSession session, ViUInt16 lambdaLogging);
ViStatus _VI_FUNC hp816x_set_TLS_lambdaLoggingStateEx(ViSession session, ViInt32 slot, ViUInt16 lambdaLogging);
ViStatus _VI_FUNC hp816x_get_TLS_lambdaLoggingState_Q(ViSession session, ViUInt16 *lambdaLogging);
ViStatus _VI_FUNC hp816x_get_TLS_lambdaLoggingStateEx_Q(ViSession session, ViInt32 slot, ViUInt16 *lambdaLogging);
/* The logged wavelengths of the last sweep: `arraySize` values into `wavelengthData`. */
ViStatus _VI_FUNC hp816x_get_TLS_wavelengthData_Q(ViSession session, ViInt32 arraySize, ViReal64 wavelengthData[] BIND_ITEMS(arraySize));
/* As above for the laser in `slot`; note the count comes before the slot. */
ViStatus _VI_FUNC hp816x_get_TLS_wavelengthDataEx_Q(ViSession session, ViInt32 arraySize, ViInt32 slot,
                                                    ViReal64 wavelengthData[] BIND_ITEMS(arraySize));
ViStatus _VI_FUNC hp816x_get_TLS_wavelengthPoints_Q(ViSession session, ViInt32 *points);
ViStatus _VI_FUNC hp816x_get_TLS_wavelengthPointsEx_Q(ViSession session, ViInt32 slot, ViInt32 *points);
ViStatus _VI_FUNC hp816x_get_TLS_powerPoints_Q(ViSession session, ViInt32 slot, ViInt32 *points);
/* Logged wavelengths and powers of the last sweep, `arraySize` values each. */
ViStatus _VI_FUNC hp816x_get_TLS_powerData_Q(ViSession session, ViInt32 slot, ViInt32 arraySize,
                                             ViReal64 wavelengthData[] BIND_ITEMS(arraySize), ViReal64 powerData[] BIND_ITEMS(arraySize));
ViStatus _VI_FUNC hp816x_enableHighSweepSpeed(ViSession session, ViUInt16 highSweepSpeed);
ViStatus _VI_FUNC hp816x_returnEquidistantData(ViSession session, ViUInt16 equidistantData);
