/* pyconfig.h of CPython 2.7 for Windows, for the cross-build. */
#ifndef Py_CONFIG_H
#define Py_CONFIG_H

#include "pyconfig-windows.h"

/* Narrow unicode: the API names are PyUnicodeUCS2_*. */
#define Py_USING_UNICODE
#define Py_UNICODE_SIZE 2
#define HAVE_USABLE_WCHAR_T
#define PY_LONG_LONG long long
#define PY_FORMAT_LONG_LONG "I64"

#endif /* !Py_CONFIG_H */
