/*
 * libtamlib: the application core. Every program calls PlbInitialize first and PlbTerminate
 * last (see tamlib/environment.h); the other calls need the library started.
 *
 * The public interface is plain C functions with the Plb prefix, declared by topic:
 *   tamlib/environment.h  settings, installed plugins, drive choice, language, debug log
 *   tamlib/ui_port.h      messages and questions through the user-interface port
 *   tamlib/strings.h      string tables and the small text helpers
 *   tamlib/cdaz.h         CDAZ records, files and their store
 */
#ifndef TAMLIB_PLB_H
#define TAMLIB_PLB_H

#include <stdint.h>

#ifdef __cplusplus
#define PLB_EXTERN_C extern "C"
#else
#define PLB_EXTERN_C
#endif

#define PLB_API PLB_EXTERN_C __attribute__((visibility("default")))

#endif
