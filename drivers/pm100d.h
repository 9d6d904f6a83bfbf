/* Optical power meter driver PM100D_Drv_32: C declarations.
   Text outputs are 256-byte buffers (ViChar[]) that the driver fills. */
#ifndef INSTR_PM100D_H
#define INSTR_PM100D_H

#include "visatypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Session */
ViStatus _VI_FUNC PM100D_init(ViString resourceName, ViUInt16 idQuery, ViUInt16 resetDevice, ViSession *session);
ViStatus _VI_FUNC PM100D_close(ViSession session);

/* System: clock, line frequency, registers, display */
ViStatus _VI_FUNC PM100D_setTime(ViSession session, ViInt16 year, ViInt16 month, ViInt16 day,
                                 ViInt16 hour, ViInt16 minute, ViInt16 second);
ViStatus _VI_FUNC PM100D_getTime(ViSession session, ViInt16 *year, ViInt16 *month, ViInt16 *day,
                                 ViInt16 *hour, ViInt16 *minute, ViInt16 *second);
ViStatus _VI_FUNC PM100D_setLineFrequency(ViSession session, ViInt16 lineFrequency);
ViStatus _VI_FUNC PM100D_getLineFrequency(ViSession session, ViInt16 *lineFrequency);
ViStatus _VI_FUNC PM100D_writeRegister(ViSession session, ViInt16 reg, ViInt16 value);
ViStatus _VI_FUNC PM100D_readRegister(ViSession session, ViInt16 reg, ViInt16 *value);
ViStatus _VI_FUNC PM100D_setDispBrightness(ViSession session, ViReal64 brightness);
ViStatus _VI_FUNC PM100D_getDispBrightness(ViSession session, ViReal64 *brightness);
ViStatus _VI_FUNC PM100D_setDispContrast(ViSession session, ViReal64 contrast);
ViStatus _VI_FUNC PM100D_getDispContrast(ViSession session, ViReal64 *contrast);
ViStatus _VI_FUNC PM100D_getCalibrationMsg(ViSession session, ViChar message[]);

/* Measurement configuration */
ViStatus _VI_FUNC PM100D_setAvgCnt(ViSession session, ViInt16 averageCount);
ViStatus _VI_FUNC PM100D_getAvgCnt(ViSession session, ViInt16 *averageCount);
ViStatus _VI_FUNC PM100D_setAttenuation(ViSession session, ViReal64 attenuation);
ViStatus _VI_FUNC PM100D_getAttenuation(ViSession session, ViInt16 attribute, ViReal64 *attenuation);
ViStatus _VI_FUNC PM100D_startDarkAdjust(ViSession session);
ViStatus _VI_FUNC PM100D_cancelDarkAdjust(ViSession session);
ViStatus _VI_FUNC PM100D_getDarkAdjustState(ViSession session, ViInt16 *state);
ViStatus _VI_FUNC PM100D_getDarkOffset(ViSession session, ViReal64 *darkOffset);
ViStatus _VI_FUNC PM100D_setBeamDia(ViSession session, ViReal64 beamDiameter);
ViStatus _VI_FUNC PM100D_getBeamDia(ViSession session, ViInt16 attribute, ViReal64 *beamDiameter);
ViStatus _VI_FUNC PM100D_setWavelength(ViSession session, ViReal64 wavelength);
ViStatus _VI_FUNC PM100D_getWavelength(ViSession session, ViInt16 attribute, ViReal64 *wavelength);
ViStatus _VI_FUNC PM100D_setPhotodiodeResponsivity(ViSession session, ViReal64 responsivity);
ViStatus _VI_FUNC PM100D_getPhotodiodeResponsivity(ViSession session, ViInt16 attribute, ViReal64 *responsivity);
ViStatus _VI_FUNC PM100D_setThermopileResponsivity(ViSession session, ViReal64 responsivity);
ViStatus _VI_FUNC PM100D_getThermopileResponsivity(ViSession session, ViInt16 attribute, ViReal64 *responsivity);
ViStatus _VI_FUNC PM100D_setPyrosensorResponsivity(ViSession session, ViReal64 responsivity);
ViStatus _VI_FUNC PM100D_getPyrosensorResponsivity(ViSession session, ViInt16 attribute, ViReal64 *responsivity);
ViStatus _VI_FUNC PM100D_setEnergyRange(ViSession session, ViReal64 energyRange);
ViStatus _VI_FUNC PM100D_getEnergyRange(ViSession session, ViInt16 attribute, ViReal64 *energyRange);
ViStatus _VI_FUNC PM100D_setEnergyRef(ViSession session, ViReal64 energyReference);
ViStatus _VI_FUNC PM100D_getEnergyRef(ViSession session, ViInt16 attribute, ViReal64 *energyReference);
ViStatus _VI_FUNC PM100D_setEnergyRefState(ViSession session, ViUInt16 state);
ViStatus _VI_FUNC PM100D_getEnergyRefState(ViSession session, ViUInt16 *state);
ViStatus _VI_FUNC PM100D_getFreqRange(ViSession session, ViReal64 *lowerFrequency, ViReal64 *upperFrequency);
ViStatus _VI_FUNC PM100D_setPowerAutoRange(ViSession session, ViUInt16 autoRange);
ViStatus _VI_FUNC PM100D_getPowerAutorange(ViSession session, ViUInt16 *autoRange);
ViStatus _VI_FUNC PM100D_setPowerRange(ViSession session, ViReal64 powerRange);
ViStatus _VI_FUNC PM100D_getPowerRange(ViSession session, ViInt16 attribute, ViReal64 *powerRange);
ViStatus _VI_FUNC PM100D_setPowerRef(ViSession session, ViReal64 powerReference);
ViStatus _VI_FUNC PM100D_setPowerRefState(ViSession session, ViUInt16 state);
ViStatus _VI_FUNC PM100D_getPowerRefState(ViSession session, ViUInt16 *state);
ViStatus _VI_FUNC PM100D_setPowerUnit(ViSession session, ViInt16 unit);
ViStatus _VI_FUNC PM100D_getPowerUnit(ViSession session, ViInt16 *unit);
ViStatus _VI_FUNC PM100D_setPeakThreshold(ViSession session, ViReal64 threshold);
ViStatus _VI_FUNC PM100D_getPeakThreshold(ViSession session, ViInt16 attribute, ViReal64 *threshold);
ViStatus _VI_FUNC PM100D_setInputFilterState(ViSession session, ViUInt16 state);
ViStatus _VI_FUNC PM100D_getInputFilterState(ViSession session, ViUInt16 *state);
ViStatus _VI_FUNC PM100D_setAccelState(ViSession session, ViUInt16 state);
ViStatus _VI_FUNC PM100D_getAccelState(ViSession session, ViUInt16 *state);
ViStatus _VI_FUNC PM100D_setAccelMode(ViSession session, ViUInt16 mode);
ViStatus _VI_FUNC PM100D_getAccelMode(ViSession session, ViUInt16 *mode);
ViStatus _VI_FUNC PM100D_setAccelTau(ViSession session, ViReal64 tau);
ViStatus _VI_FUNC PM100D_getAccelTau(ViSession session, ViInt16 attribute, ViReal64 *tau);
ViStatus _VI_FUNC PM100D_setInputAdapterType(ViSession session, ViInt16 sensorType);
ViStatus _VI_FUNC PM100D_getInputAdapterType(ViSession session, ViInt16 *sensorType);

/* Measurements */
ViStatus _VI_FUNC PM100D_measPower(ViSession session, ViReal64 *power);
ViStatus _VI_FUNC PM100D_measEnergy(ViSession session, ViReal64 *energy);
ViStatus _VI_FUNC PM100D_measFreq(ViSession session, ViReal64 *frequency);
ViStatus _VI_FUNC PM100D_measPowerDens(ViSession session, ViReal64 *powerDensity);
ViStatus _VI_FUNC PM100D_measEnergyDens(ViSession session, ViReal64 *energyDensity);

/* Identification and utility */
ViStatus _VI_FUNC PM100D_getSensorInfo(ViSession session, ViChar name[], ViChar serialNumber[],
                                       ViChar calibrationMessage[], ViInt16 *type, ViInt16 *subtype,
                                       ViInt16 *flags);
ViStatus _VI_FUNC PM100D_identificationQuery(ViSession session, ViChar manufacturer[], ViChar device[],
                                             ViChar serialNumber[], ViChar firmwareRevision[]);
ViStatus _VI_FUNC PM100D_reset(ViSession session);
ViStatus _VI_FUNC PM100D_selfTest(ViSession session, ViInt16 *result);
ViStatus _VI_FUNC PM100D_errorQueryMode(ViSession session, ViUInt16 mode);
ViStatus _VI_FUNC PM100D_errorQuery(ViSession session, ViInt32 *errorCode, ViChar message[]);
ViStatus _VI_FUNC PM100D_errorMessage(ViSession BIND_ANY_SESSION session, ViStatus statusCode, ViChar message[]);
ViStatus _VI_FUNC PM100D_revisionQuery(ViSession session, ViChar driverRevision[], ViChar firmwareRevision[]);

/* Raw instrument input and output; readRaw writes at most `size` bytes. */
ViStatus _VI_FUNC PM100D_writeRaw(ViSession session, ViString command);
ViStatus _VI_FUNC PM100D_readRaw(ViSession session, ViChar buffer[] BIND_RAW(max(256, size + 1)), ViUInt32 size, ViUInt32 *returnCount);

#ifdef __cplusplus
}
#endif

#endif
