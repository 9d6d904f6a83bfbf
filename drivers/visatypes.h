/* VISA base types shared by every driver declaration.  32-bit types are
   exactly 32 bits on every platform (long is 64 bits on Linux x86-64). */
#ifndef INSTR_VISATYPES_H
#define INSTR_VISATYPES_H

#include <stdint.h>

/* The typedefs, from the legend's rows (visatypes.def). */
#define VISA_TYPE(name, type, kind, stub, record) typedef type name;
#define VISA_ALIAS(name, type) typedef type name;
#define VISA_POINTER(name, type) typedef type *name;
#include "visatypes.def"

/* Calling convention of the vendor DLLs: stdcall on 32-bit Windows. */
#if defined(_WIN32) && !defined(_WIN64)
#define _VI_FUNC __stdcall
#else
#define _VI_FUNC
#endif

/* Symbols a (simulated) driver library exports.  MSVC on 32-bit exports
   them from a module-definition file instead, without the @N it would add. */
#if defined(_MSC_VER) && !defined(_WIN64)
#define DRIVER_EXPORT
#elif defined(_WIN32)
#define DRIVER_EXPORT __declspec(dllexport)
#else
#define DRIVER_EXPORT __attribute__((visibility("default")))
#endif

/* What a parameter is, where its type does not say it all; read by the
   driver tables (tools/drivertable.py), nothing to a C compiler.  By type: a
   value is an input, a `T *` an output variable, a ViString / ViConstString
   an input text, a ViChar[] (or ViChar *) a text the driver writes into 256
   bytes.  Sizes are C expressions of the parameters (`*p` once the driver
   has written p), with max() and min():
     BIND_ITEMS(n)  an array the driver writes, n items
     BIND_READS(n)  an array the driver reads, n items
     BIND_TEXT(n)   a text the driver writes into n bytes
     BIND_RAW(n)    bytes the driver writes, n of them
     BIND_ROOM      an array the driver writes as long as an earlier call of
                    the session set up (the module keeps that size)
     BIND_IN_TEXT   a ViChar[] the driver only reads: an input text
     BIND_ANY_SESSION  a session the function takes whatever it is, closed,
                    foreign or VI_NULL (error texts, close); the simulator's
                    exports check every other first ViSession */
/* Mainframe slots, for the simulator's slot and channel checks.  Kinds are
   the module kinds a slot may hold (TunableLaser, PowerMeters, Attenuator,
   ..., AnyModule; joined by |):
     BIND_SLOTS(p, kinds)      from here to the next rule in this header, a
     BIND_SLOTS(p, kinds, ch)  parameter named p addresses a slot holding one
                               of `kinds` (and one named ch a channel of it)
     BIND_SLOT(kinds)          beside a parameter: it addresses such a slot,
                               whatever the rule says */
#define BIND_SLOTS(...)
#define BIND_SLOT(kinds)
#define BIND_ITEMS(n)
#define BIND_READS(n)
#define BIND_TEXT(n)
#define BIND_RAW(n)
#define BIND_ROOM
#define BIND_IN_TEXT
#define BIND_ANY_SESSION

#define VI_SUCCESS ((ViStatus)0)
#define VI_NULL 0
#define VI_TRUE 1
#define VI_FALSE 0
#define VI_ERROR_INV_OBJECT ((ViStatus)0xBFFF000EL)
#define VI_ERROR_RSRC_NFOUND ((ViStatus)0xBFFF0011L)
#define VI_ERROR_INV_EXPR ((ViStatus)0xBFFF0010L)
#define VI_ERROR_TMO ((ViStatus)0xBFFF0015L)
#define VI_ERROR_NSUP_ATTR ((ViStatus)0xBFFF001DL)
#define VI_ERROR_NSUP_ATTR_STATE ((ViStatus)0xBFFF001EL)
#define VI_ERROR_PARAMETER1 ((ViStatus)0xBFFC0001L) /* driver: first parameter out of range */
#define VI_ERROR_INSTR_ERROR ((ViStatus)0xBFFC0D07L) /* instrument reported an error */

#endif
