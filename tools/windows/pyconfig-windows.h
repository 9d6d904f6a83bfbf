/* What CPython's pyconfig.h says of Windows in both interpreter lines, as far
   as an extension module built by MinGW-w64 needs it: LLP64 sizes, 2-byte
   wchar_t, the API imported from pythonXY.dll.  For the cross-build only
   (python2/ and python3/ add their own); a build on Windows uses the
   installed interpreter's headers. */
#ifndef PYCONFIG_WINDOWS_H
#define PYCONFIG_WINDOWS_H

#define MS_WIN32
#define MS_WINDOWS
#define NT_THREADS
#define WITH_THREAD
#define WITH_DOC_STRINGS 1
#ifdef _WIN64
#define MS_WIN64
#endif

/* The interpreter is a DLL: the API is imported, the init function exported. */
#define Py_ENABLE_SHARED 1
#define HAVE_DECLSPEC_DLL

#define SIZEOF_SHORT 2
#define SIZEOF_INT 4
#define SIZEOF_LONG 4
#define SIZEOF_LONG_LONG 8
#define SIZEOF_FLOAT 4
#define SIZEOF_DOUBLE 8
#define SIZEOF_WCHAR_T 2
#define SIZEOF_TIME_T 8
#define SIZEOF_OFF_T 4
#define SIZEOF_FPOS_T 8
#define SIZEOF__BOOL 1
#ifdef _WIN64
#define SIZEOF_VOID_P 8
#define SIZEOF_SIZE_T 8
#else
#define SIZEOF_VOID_P 4
#define SIZEOF_SIZE_T 4
#endif

#define HAVE_SSIZE_T 1 /* MinGW's ssize_t is pointer sized, as Py_ssize_t */
#define PY_FORMAT_SIZE_T "I"
#define HAVE_LONG_LONG 1
#define HAVE_STDARG_PROTOTYPES
#define HAVE_STDDEF_H 1
#define HAVE_STDLIB_H 1
#define HAVE_LIMITS_H 1
#define HAVE_WCHAR_H 1
#define HAVE_ERRNO_H 1
#define HAVE_SIGNAL_H 1
#define HAVE_FCNTL_H 1
#define HAVE_SYS_STAT_H 1
#define HAVE_SYS_TYPES_H 1
#define HAVE_PROCESS_H 1
#define HAVE_IO_H 1
#define HAVE_UINTPTR_T 1
#define HAVE_INTPTR_T 1
#define HAVE_STDINT_H 1
#define STDC_HEADERS 1

#endif
