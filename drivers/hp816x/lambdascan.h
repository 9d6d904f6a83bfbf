/* hp816x driver functions of this family; included by hp816x.h. */
/* Lambda scans and wavelength response tables.  The array functions are not
   told the array length: the caller's arrays must hold every point the
   prepared scan (or the table size query) reports. */

BIND_SLOTS(PWMSlot, PowerMeters, channelNumber)
ViStatus _VI_FUNC hp816x_set_LambdaScan_wavelength(ViSession ihandle, ViReal64 powerMeterWavelength);
ViStatus _VI_FUNC hp816x_prepareLambdaScan(ViSession ihandle, ViInt32 powerUnit, ViReal64 power,
                                           ViInt32 opticalOutput, ViInt32 numberOfScans, ViInt32 PWMChannels,
                                           ViReal64 startWavelength, ViReal64 stopWavelength, ViReal64 stepSize,
                                           ViUInt32 *numberOfDatapoints, ViUInt32 *numberOfValueArrays);
ViStatus _VI_FUNC hp816x_getLambdaScanParameters_Q(ViSession ihandle, ViReal64 *startWavelength,
                                                   ViReal64 *stopWavelength, ViReal64 *averagingTime,
                                                   ViReal64 *sweepSpeed);
ViStatus _VI_FUNC hp816x_executeLambdaScan(ViSession ihandle, ViReal64 wavelengthArray[] BIND_ROOM,
                                           ViReal64 powerArray1[] BIND_ROOM, ViReal64 powerArray2[] BIND_ROOM,
                                           ViReal64 powerArray3[] BIND_ROOM, ViReal64 powerArray4[] BIND_ROOM,
                                           ViReal64 powerArray5[] BIND_ROOM, ViReal64 powerArray6[] BIND_ROOM,
                                           ViReal64 powerArray7[] BIND_ROOM, ViReal64 powerArray8[] BIND_ROOM);
ViStatus _VI_FUNC hp816x_registerMainframe(ViSession ihandle);
ViStatus _VI_FUNC hp816x_unregisterMainframe(ViSession ihandle);
ViStatus _VI_FUNC hp816x_setSweepSpeed(ViSession ihandle, ViInt32 sweepSpeed);
ViStatus _VI_FUNC hp816x_prepareMfLambdaScan(ViSession ihandle, ViInt32 powerUnit, ViReal64 power,
                                             ViInt32 opticalOutput, ViInt32 numberOfScans, ViInt32 PWMChannels,
                                             ViReal64 startWavelength, ViReal64 stopWavelength, ViReal64 stepSize,
                                             ViUInt32 *numberOfDatapoints, ViUInt32 *numberOfChannels);
ViStatus _VI_FUNC hp816x_executeMfLambdaScan(ViSession ihandle, ViReal64 wavelengthArray[] BIND_ROOM);
ViStatus _VI_FUNC hp816x_getMFLambdaScanParameters_Q(ViSession ihandle, ViReal64 *startWavelength,
                                                     ViReal64 *stopWavelength, ViReal64 *averagingTime,
                                                     ViReal64 *sweepSpeed);
ViStatus _VI_FUNC hp816x_getLambdaScanResult(ViSession ihandle, ViInt32 PWMChannel, ViUInt16 clipToLimit,
                                             ViReal64 clippingLimit, ViReal64 powerArray[] BIND_ROOM,
                                             ViReal64 lambdaArray[] BIND_ROOM);
ViStatus _VI_FUNC hp816x_getNoOfRegPWMChannels_Q(ViSession ihandle, ViUInt32 *numberOfPWMChannels);
ViStatus _VI_FUNC hp816x_getChannelLocation(ViSession ihandle, ViInt32 PWMChannel, ViInt32 *mainframeNumber,
                                            ViInt32 *slotNumber, ViInt32 *channelNumber);
ViStatus _VI_FUNC hp816x_excludeChannel(ViSession ihandle, ViInt32 PWMChannel, ViUInt16 excludeChannel);
ViStatus _VI_FUNC hp816x_setInitialRangeParams(ViSession ihandle, ViInt32 PWMChannel, ViUInt16 resetToDefault,
                                               ViReal64 initialRange, ViReal64 rangeDecrement);
ViStatus _VI_FUNC hp816x_setScanAttenuation(ViSession ihandle, ViReal64 powerAttenuation);
ViStatus _VI_FUNC hp816x_getWlRespTblSize(ViSession ihandle, ViInt32 PWMSlot, ViUInt32 *size,
                                          ViUInt32 *CSVSize);
ViStatus _VI_FUNC hp816x_getWlRespTblSizeEx(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                            ViUInt32 *size, ViUInt32 *CSVSize);
ViStatus _VI_FUNC hp816x_readWlRespTable(ViSession ihandle, ViInt32 PWMSlot, ViReal64 wavelength[] BIND_ROOM,
                                         ViReal64 responseFactor[] BIND_ROOM);
ViStatus _VI_FUNC hp816x_readWlRespTableEx(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                           ViReal64 wavelength[] BIND_ROOM, ViReal64 responseFactor[] BIND_ROOM);
ViStatus _VI_FUNC hp816x_readWlRepTblCSV(ViSession ihandle, ViInt32 PWMSlot, ViChar *CSVList);
ViStatus _VI_FUNC hp816x_readWlRepTblCSV_Ex(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                            ViChar *CSVList);
ViStatus _VI_FUNC hp816x_spectralCalibration(ViSession ihandle, ViInt32 PWMSlot, ViUInt32 numberOfWavelengths,
                                             ViReal64 wavelengths[] BIND_READS(numberOfWavelengths), ViReal64 powers[] BIND_READS(numberOfWavelengths),
                                             ViReal64 *referencePower, ViChar *calibrationResult);
ViStatus _VI_FUNC hp816x_spectralCalibrationEx(ViSession ihandle, ViInt32 PWMSlot, ViInt32 channelNumber,
                                               ViUInt32 numberOfWavelengths, ViReal64 wavelengths[] BIND_READS(numberOfWavelengths),
                                               ViReal64 powers[] BIND_READS(numberOfWavelengths), ViReal64 *referencePower,
                                               ViChar *calibrationResult);
