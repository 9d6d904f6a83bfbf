/* pyconfig.h of CPython 2.7 for Windows, as far as an extension module built
   by MinGW-w64 needs it: the sizes and conventions of the Windows
   interpreter (LLP64, UCS-2 unicode, the API imported from python27.dll).
   For the cross-build only; a build on Windows uses the installed
   interpreter's own headers. */
#ifndef Py_CONFIG_H
#define Py_CONFIG_H

#define MS_WIN32
#define MS_WINDOWS
#define NT_THREADS
#define WITH_THREAD
#define WITH_DOC_STRINGS 1
#ifdef _WIN64
#define MS_WIN64
#endif

/* The interpreter is a DLL: the API is imported, init* exported. */
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

/* Narrow unicode: the API names are PyUnicodeUCS2_*. */
#define Py_USING_UNICODE
#define Py_UNICODE_SIZE 2
#define HAVE_USABLE_WCHAR_T
#define HAVE_WCHAR_H 1

#define HAVE_SSIZE_T 1 /* MinGW's ssize_t is pointer sized, as Py_ssize_t */
#define PY_FORMAT_SIZE_T "I"
#define PY_FORMAT_LONG_LONG "I64"
#define HAVE_LONG_LONG 1
#define PY_LONG_LONG long long
#define HAVE_STDARG_PROTOTYPES
#define HAVE_STDDEF_H 1
#define HAVE_STDLIB_H 1
#define HAVE_LIMITS_H 1
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

#endif /* !Py_CONFIG_H */
