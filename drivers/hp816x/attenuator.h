/* hp816x driver functions of this family; included by hp816x.h.
   Optical attenuators.  Four-value queries report (minimum, maximum, default,
   current); the selection arguments of their setters pick one of those or the
   value passed along. */

/* The selection argument of every hp816x setter that takes one: these
   attenuator setters, hp816x_set_FLS_modulation, hp816x_set_TLS_wavelength
   and hp816x_set_TLS_power. */
#define HP816X_SEL_VALUE 0
#define HP816X_SEL_MIN 1
#define HP816X_SEL_DEF 2
#define HP816X_SEL_MAX 3

/* Longest text of hp816x_get_ATT_operStatus, terminating zero included: the
   caller's buffer must hold this many bytes. */
#define HP816X_ATT_OPER_STATUS_LEN 64

BIND_SLOTS(slot, Attenuator)
ViStatus _VI_FUNC hp816x_set_ATT_attenuation(ViSession ihandle, ViInt32 slot, ViInt32 selection,
                                             ViReal64 attenuation, ViUInt16 waitForCompletion);
ViStatus _VI_FUNC hp816x_get_ATT_attenuation_Q(ViSession ihandle, ViInt32 slot, ViReal64* minimum,
                                               ViReal64* maximum, ViReal64* defaultValue, ViReal64* current);
ViStatus _VI_FUNC hp816x_set_ATT_attenuationOffset(ViSession ihandle, ViInt32 slot, ViInt32 selection,
                                                   ViReal64 offset);
ViStatus _VI_FUNC hp816x_get_ATT_attenuationOffset_Q(ViSession ihandle, ViInt32 slot, ViReal64* minimum,
                                                     ViReal64* maximum, ViReal64* defaultValue,
                                                     ViReal64* current);
ViStatus _VI_FUNC hp816x_set_ATT_attenuatorSpeed(ViSession ihandle, ViInt32 slot, ViInt32 selection,
                                                 ViReal64 speed);
ViStatus _VI_FUNC hp816x_get_ATT_attenuatorSpeed_Q(ViSession ihandle, ViInt32 slot, ViReal64* minimum,
                                                   ViReal64* maximum, ViReal64* defaultValue, ViReal64* current);
ViStatus _VI_FUNC hp816x_ATT_displayToOffset(ViSession ihandle, ViInt32 slot);
ViStatus _VI_FUNC hp816x_set_ATT_wavelength(ViSession ihandle, ViInt32 slot, ViInt32 selection,
                                            ViReal64 wavelength);
ViStatus _VI_FUNC hp816x_get_ATT_wavelength_Q(ViSession ihandle, ViInt32 slot, ViReal64* minimum,
                                              ViReal64* maximum, ViReal64* defaultValue, ViReal64* current);
/* unit: 0 dBm, 1 W */
ViStatus _VI_FUNC hp816x_set_ATT_powerUnit(ViSession ihandle, ViInt32 slot, ViUInt16 unit);
ViStatus _VI_FUNC hp816x_get_ATT_powerUnit_Q(ViSession ihandle, ViInt32 slot, ViUInt16* unit);
ViStatus _VI_FUNC hp816x_set_ATT_absPowerMode(ViSession ihandle, ViInt32 slot, ViUInt16 absPowerMode);
ViStatus _VI_FUNC hp816x_get_ATT_absPowerMode_Q(ViSession ihandle, ViInt32 slot, ViUInt16* absPowerMode);
ViStatus _VI_FUNC hp816x_set_ATT_power(ViSession ihandle, ViInt32 slot, ViUInt16 unit, ViUInt16 absPowerMode,
                                       ViInt32 selection, ViReal64 power);
ViStatus _VI_FUNC hp816x_get_ATT_power_Q(ViSession ihandle, ViInt32 slot, ViUInt16* unit,
                                         ViUInt16* absPowerMode, ViReal64* minimum, ViReal64* maximum,
                                         ViReal64* defaultValue, ViReal64* current);
ViStatus _VI_FUNC hp816x_cp_ATT_refFromExtPM(ViSession ihandle, ViInt32 slot, ViInt32 pmSlot,
                                             ViInt32 pmChannel);
ViStatus _VI_FUNC hp816x_set_ATT_powerReference(ViSession ihandle, ViInt32 slot, ViInt32 selection,
                                                ViReal64 reference);
ViStatus _VI_FUNC hp816x_get_ATT_powerReference_Q(ViSession ihandle, ViInt32 slot, ViReal64* minimum,
                                                  ViReal64* maximum, ViReal64* defaultValue, ViReal64* current);
/* shutter: 0 closed, 1 open */
ViStatus _VI_FUNC hp816x_set_ATT_shutterState(ViSession ihandle, ViInt32 slot, ViUInt16 open);
ViStatus _VI_FUNC hp816x_get_ATT_shutterState_Q(ViSession ihandle, ViInt32 slot, ViUInt16* open);
ViStatus _VI_FUNC hp816x_set_ATT_shutterAtPowerOn(ViSession ihandle, ViInt32 slot, ViUInt16 open);
ViStatus _VI_FUNC hp816x_get_ATT_shutterStateAtPowerOn_Q(ViSession ihandle, ViInt32 slot, ViUInt16* open);
/* Writes the status text (at most HP816X_ATT_OPER_STATUS_LEN bytes) into the caller's buffer. */
ViStatus _VI_FUNC hp816x_get_ATT_operStatus(ViSession ihandle, ViInt32 slot, ViInt32* operStatus,
                                            ViChar operStatusText[]);
ViStatus _VI_FUNC hp816x_read_ATT_outputPower(ViSession ihandle, ViInt32 slot, ViReal64* power);
ViStatus _VI_FUNC hp816x_fetch_ATT_outputPower(ViSession ihandle, ViInt32 slot, ViReal64* power);
ViStatus _VI_FUNC hp816x_set_ATT_wlOffsRefPowermeter(ViSession ihandle, ViInt32 slot, ViInt32 pmSlot,
                                                     ViInt32 pmChannel);
ViStatus _VI_FUNC hp816x_get_ATT_wlOffsRefPowermeter_Q(ViSession ihandle, ViInt32 slot, ViInt32* pmSlot,
                                                       ViInt32* pmChannel);
ViStatus _VI_FUNC hp816x_set_ATT_wavelengthOffsetState(ViSession ihandle, ViInt32 slot, ViUInt16 state);
ViStatus _VI_FUNC hp816x_get_ATT_wavelengthOffsetState_Q(ViSession ihandle, ViInt32 slot, ViUInt16* state);
/* Adds (or replaces) the offset-table entry at `wavelength`.  source 0: the
   offset given; 1: the offset measured through the reference power meter. */
ViStatus _VI_FUNC hp816x_set_ATT_wavelengthOffset(ViSession ihandle, ViInt32 slot, ViReal64 wavelength,
                                                  ViUInt16 source, ViReal64 offset);
/* index counts from 0 in order of wavelength */
ViStatus _VI_FUNC hp816x_get_ATT_wavelengthOffsetIndex_Q(ViSession ihandle, ViInt32 slot, ViUInt32 index,
                                                         ViReal64* wavelength, ViReal64* offset);
ViStatus _VI_FUNC hp816x_get_ATT_offsetFromWavelength_Q(ViSession ihandle, ViInt32 slot, ViReal64 wavelength,
                                                        ViReal64* offset);
/* all 0: the entry at `wavelength`; 1: every entry */
ViStatus _VI_FUNC hp816x_delete_ATT_offsetTblEntries(ViSession ihandle, ViInt32 slot, ViUInt16 all,
                                                     ViReal64 wavelength);
/* Fills each non-null array with the table (room for its size entries). */
ViStatus _VI_FUNC hp816x_get_ATT_offsetTable_Q(ViSession ihandle, ViInt32 slot, ViReal64 wavelengths[] BIND_ROOM,
                                               ViReal64 offsets[] BIND_ROOM);
ViStatus _VI_FUNC hp816x_get_ATT_offsetTblSize_Q(ViSession ihandle, ViInt32 slot, ViUInt32* size,
                                                 ViUInt32* maxSize);
ViStatus _VI_FUNC hp816x_set_ATT_powerOffset(ViSession ihandle, ViInt32 slot, ViInt32 selection,
                                             ViReal64 offset);
ViStatus _VI_FUNC hp816x_get_ATT_powerOffset_Q(ViSession ihandle, ViInt32 slot, ViReal64* minimum,
                                               ViReal64* maximum, ViReal64* defaultValue, ViReal64* current);
ViStatus _VI_FUNC hp816x_set_ATT_pwrOffsRefPM(ViSession ihandle, ViInt32 slot, ViInt32 pmSlot,
                                              ViInt32 pmChannel);
ViStatus _VI_FUNC hp816x_set_ATT_offsByRefPM(ViSession ihandle, ViInt32 slot, ViInt32 pmSlot,
                                             ViInt32 pmChannel);
ViStatus _VI_FUNC hp816x_set_ATT_controlLoopState(ViSession ihandle, ViInt32 slot, ViUInt16 state);
ViStatus _VI_FUNC hp816x_get_ATT_controlLoopState_Q(ViSession ihandle, ViInt32 slot, ViUInt16* state);
ViStatus _VI_FUNC hp816x_set_ATT_avTime(ViSession ihandle, ViInt32 slot, ViReal64 averagingTime);
ViStatus _VI_FUNC hp816x_get_ATT_avTime_Q(ViSession ihandle, ViInt32 slot, ViReal64* averagingTime);
ViStatus _VI_FUNC hp816x_set_ATT_triggerConfig(ViSession ihandle, ViInt32 slot, ViInt32 triggerConfig);
ViStatus _VI_FUNC hp816x_get_ATT_triggerConfig_Q(ViSession ihandle, ViInt32 slot, ViInt32* triggerConfig);
ViStatus _VI_FUNC hp816x_zero_ATT_powermeter(ViSession ihandle, ViInt32 slot);
ViStatus _VI_FUNC hp816x_get_ATT_zeroResult_Q(ViSession ihandle, ViInt32 slot, ViInt32* zeroResult);
ViStatus _VI_FUNC hp816x_zero_ATT_all(ViSession ihandle);
