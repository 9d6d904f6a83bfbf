/* Optical mainframe driver hp816x_32: C declarations, one file per family. */
#ifndef INSTR_HP816X_H
#define INSTR_HP816X_H

#include "visatypes.h"

#ifdef __cplusplus
extern "C" {
#endif

#include "hp816x/system.h"
#include "hp816x/attenuator.h"
#include "hp816x/powermeter.h"
#include "hp816x/fixedlaser_switch.h"
#include "hp816x/returnloss.h"
#include "hp816x/tunablelaser.h"
#include "hp816x/lambdascan.h"

#ifdef __cplusplus
}
#endif

#endif
