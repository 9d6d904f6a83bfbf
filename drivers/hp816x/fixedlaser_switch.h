/* hp816x driver functions of this family; included by hp816x.h.
   Fixed (dual-wavelength) laser sources and optical switches.
   Laser source: 0 lower wavelength, 1 upper wavelength, 2 both.
   Modulation source: 0 off, 1 internal, 2 coherence control, 3 external. */

BIND_SLOTS(slot, FixedLaser)
ViStatus _VI_FUNC hp816x_set_FLS_parameters(ViSession ihandle, ViInt32 slot, ViInt32 laserSource,
                                            ViUInt16 laserState, ViInt32 modulationLower,
                                            ViInt32 modulationUpper, ViReal64 frequencyLower,
                                            ViReal64 frequencyUpper, ViReal64 attenuationLower,
                                            ViReal64 attenuationUpper);
ViStatus _VI_FUNC hp816x_get_FLS_parameters_Q(ViSession ihandle, ViInt32 slot, ViInt32* laserSource,
                                              ViUInt16* laserState, ViInt32* modulationLower,
                                              ViInt32* modulationUpper, ViReal64* frequencyLower,
                                              ViReal64* frequencyUpper, ViReal64* attenuationLower,
                                              ViReal64* attenuationUpper);
/* selection (HP816X_SEL_*): 0 the frequency given, 1 minimum, 2 default, 3 maximum */
ViStatus _VI_FUNC hp816x_set_FLS_modulation(ViSession ihandle, ViInt32 slot, ViInt32 laserSource,
                                            ViInt32 modulationSource, ViInt32 selection, ViReal64 frequency);
ViStatus _VI_FUNC hp816x_get_FLS_modulationSettings_Q(ViSession ihandle, ViInt32 slot, ViInt32 laserSource,
                                                      ViUInt16* modulationState, ViInt32* modulationSource,
                                                      ViReal64* minimum, ViReal64* maximum,
                                                      ViReal64* defaultValue, ViReal64* current);
ViStatus _VI_FUNC hp816x_set_FLS_triggerState(ViSession ihandle, ViInt32 slot, ViUInt16 state);
ViStatus _VI_FUNC hp816x_get_FLS_triggerState_Q(ViSession ihandle, ViInt32 slot, ViUInt16* state);
ViStatus _VI_FUNC hp816x_set_FLS_laserSource(ViSession ihandle, ViInt32 slot, ViInt32 laserSource);
ViStatus _VI_FUNC hp816x_get_FLS_laserSource_Q(ViSession ihandle, ViInt32 slot, ViInt32* laserSource);
ViStatus _VI_FUNC hp816x_get_FLS_wavelength_Q(ViSession ihandle, ViInt32 slot, ViReal64* wavelengthLower,
                                              ViReal64* wavelengthUpper);
ViStatus _VI_FUNC hp816x_set_FLS_attenuation(ViSession ihandle, ViInt32 slot, ViReal64 attenuationLower,
                                             ViReal64 attenuationUpper);
ViStatus _VI_FUNC hp816x_get_FLS_attenuation_Q(ViSession ihandle, ViInt32 slot, ViReal64* attenuationLower,
                                               ViReal64* attenuationUpper);
/* Output power (dBm) of one source (0 lower, 1 upper). */
ViStatus _VI_FUNC hp816x_get_FLS_power(ViSession ihandle, ViInt32 slot, ViInt32 laserSource, ViReal64* power);
ViStatus _VI_FUNC hp816x_set_FLS_laserState(ViSession ihandle, ViInt32 slot, ViUInt16 state);
ViStatus _VI_FUNC hp816x_get_FLS_laserState_Q(ViSession ihandle, ViInt32 slot, ViUInt16* state);

BIND_SLOTS(slot, Switch)
/* Switch type code and description (256-byte buffer). */
ViStatus _VI_FUNC hp816x_get_SWT_type(ViSession ihandle, ViInt32 slot, ViInt32* switchType,
                                      ViChar description[]);
/* Connects input port `input` (1 = A) to output port `output` (1 = B1, ...). */
ViStatus _VI_FUNC hp816x_set_SWT_route(ViSession ihandle, ViInt32 slot, ViInt32 input, ViInt32 output);
ViStatus _VI_FUNC hp816x_get_SWT_route(ViSession ihandle, ViInt32 slot, ViInt32 input, ViInt32* output);
/* Every possible route as text (256-byte buffer). */
ViStatus _VI_FUNC hp816x_get_SWT_routeTable(ViSession ihandle, ViInt32 slot, ViChar routeTable[]);
