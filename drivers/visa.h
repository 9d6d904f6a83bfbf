/* The VISA library functions the bus module calls, with the standard
   signatures, so that the platform's own VISA library can be linked in
   place of the simulated one. */
#ifndef INSTR_VISA_H
#define INSTR_VISA_H

#include "visatypes.h"

/* Attribute values are as wide as a pointer-sized unsigned integer on
   64-bit platforms, 32 bits elsewhere (VISA_DECLARED in visatypes.def). */
#if defined(_WIN64) || defined(_LP64) || defined(__LP64__)
typedef ViUInt64 ViAttrState;
#else
typedef ViUInt32 ViAttrState;
#endif

#ifdef __cplusplus
extern "C" {
#endif

ViStatus _VI_FUNC viOpenDefaultRM(ViPSession vi);
ViStatus _VI_FUNC viFindRsrc(ViSession BIND_ANY_SESSION sesn, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt,
                             ViChar desc[]);
ViStatus _VI_FUNC viFindNext(ViFindList vi, ViChar desc[]);
ViStatus _VI_FUNC viOpen(ViSession BIND_ANY_SESSION sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
                         ViPSession vi);
ViStatus _VI_FUNC viClose(ViObject vi);
ViStatus _VI_FUNC viGetAttribute(ViObject vi, ViAttr attrName, void *attrValue BIND_RAW(256));
ViStatus _VI_FUNC viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue);

#ifdef __cplusplus
}
#endif

/* Largest resource description or text attribute, zero byte included. */
#define VI_FIND_BUFLEN 256

/* Access modes of viOpen. */
#define VI_NO_LOCK 0
#define VI_EXCLUSIVE_LOCK 1
#define VI_SHARED_LOCK 2
#define VI_LOAD_CONFIG 4

#define VI_TMO_IMMEDIATE 0L
#define VI_TMO_INFINITE 0xFFFFFFFFUL
#define VI_NO_SEC_ADDR 0xFFFF

/* Attributes: generic resource attributes. */
#define VI_ATTR_RSRC_CLASS 0xBFFF0001UL        /* text */
#define VI_ATTR_RSRC_NAME 0xBFFF0002UL         /* text */
#define VI_ATTR_RSRC_IMPL_VERSION 0x3FFF0003UL /* ViVersion (32 bits) */
#define VI_ATTR_RSRC_LOCK_STATE 0x3FFF0004UL   /* ViAccessMode */
#define VI_ATTR_RSRC_SPEC_VERSION 0x3FFF0170UL /* ViVersion */
#define VI_ATTR_RSRC_MANF_NAME 0xBFFF0174UL    /* text: maker of the VISA library */
#define VI_ATTR_RSRC_MANF_ID 0x3FFF0175UL      /* ViUInt16 */

/* Attributes: INSTR sessions. */
#define VI_ATTR_SEND_END_EN 0x3FFF0016UL /* ViBoolean */
#define VI_ATTR_TERMCHAR 0x3FFF0018UL    /* ViUInt8 */
#define VI_ATTR_TMO_VALUE 0x3FFF001AUL   /* ViUInt32, milliseconds */
#define VI_ATTR_TERMCHAR_EN 0x3FFF0038UL /* ViBoolean */
#define VI_ATTR_INTF_TYPE 0x3FFF0171UL   /* ViUInt16, VI_INTF_* */
#define VI_ATTR_INTF_NUM 0x3FFF0176UL    /* ViUInt16, board number */
#define VI_ATTR_MANF_ID 0x3FFF00D9UL     /* ViUInt16 */
#define VI_ATTR_MODEL_CODE 0x3FFF00DFUL  /* ViUInt16 */
#define VI_ATTR_MANF_NAME 0xBFFF0072UL   /* text: instrument maker */
#define VI_ATTR_MODEL_NAME 0xBFFF0077UL  /* text: instrument model */

/* Attributes: interface specific. */
#define VI_ATTR_GPIB_PRIMARY_ADDR 0x3FFF0172UL   /* ViUInt16 */
#define VI_ATTR_GPIB_SECONDARY_ADDR 0x3FFF0173UL /* ViUInt16 */
#define VI_ATTR_ASRL_BAUD 0x3FFF0021UL           /* ViUInt32 */
#define VI_ATTR_ASRL_DATA_BITS 0x3FFF0022UL      /* ViUInt16 */
#define VI_ATTR_TCPIP_ADDR 0xBFFF0195UL          /* text */
#define VI_ATTR_TCPIP_HOSTNAME 0xBFFF0196UL      /* text */
#define VI_ATTR_TCPIP_DEVICE_NAME 0xBFFF0199UL   /* text */
#define VI_ATTR_USB_SERIAL_NUM 0xBFFF01A0UL      /* text */

/* Interface types (VI_ATTR_INTF_TYPE). */
#define VI_INTF_GPIB 1
#define VI_INTF_VXI 2
#define VI_INTF_GPIB_VXI 3
#define VI_INTF_ASRL 4
#define VI_INTF_PXI 5
#define VI_INTF_TCPIP 6
#define VI_INTF_USB 7

/* Statuses beyond those of visatypes.h. */
#define VI_WARN_NULL_OBJECT ((ViStatus)0x3FFF0082L)
#define VI_ERROR_RSRC_LOCKED ((ViStatus)0xBFFF000FL)
#define VI_ERROR_INV_RSRC_NAME ((ViStatus)0xBFFF0012L)
#define VI_ERROR_INV_ACC_MODE ((ViStatus)0xBFFF0013L)
#define VI_ERROR_ATTR_READONLY ((ViStatus)0xBFFF001FL)
#define VI_ERROR_USER_BUF ((ViStatus)0xBFFF0071L)

#endif
