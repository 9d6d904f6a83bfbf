/* pyconfig.h of CPython 3 for Windows, for the cross-build. */
#ifndef Py_CONFIG_H
#define Py_CONFIG_H

#include "pyconfig-windows.h"

#define ALIGNOF_LONG 4
#define ALIGNOF_SIZE_T SIZEOF_SIZE_T
#define HAVE_DIRECT_H 1

#endif /* !Py_CONFIG_H */
