/*
 * Control interface of the hidapi stand-in (libhidapi-hidraw.so.0 of the test tree). Tests
 * find these calls in the loaded stand-in with dlsym; the production library never sees them.
 * The programmer and its chip live from Qs71StandinReset to the next, across any number of
 * calls of Qs71UsbWriter, as a real programmer on the bench does.
 */
#pragma once

#include <stdint.h>

#define QS71_STANDIN_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* What the stand-in saw since the last reset. */
typedef struct Qs71StandinRecord {
  uint32_t inits;             /* hid_init calls that succeeded */
  uint32_t exits;             /* hid_exit calls */
  uint32_t openHandles;       /* handles open now */
  uint32_t openEnumerations;  /* enumerations not yet freed */
  uint32_t timeouts;          /* reads answered with 0, the time-out */
  uint32_t interrupts;        /* reads answered with -1 and EINTR */
  uint32_t requests[256];     /* reports that reached the programmer, per command byte */
} Qs71StandinRecord;

/* A fresh, blank 262144-byte part, no faults, the record cleared. */
QS71_STANDIN_API void Qs71StandinReset(void);

/* Adds faults, a comma-separated list in the syntax of standin_faults.h; 0, or -1 when the list
 * cannot be parsed (then nothing is added). */
QS71_STANDIN_API int32_t Qs71StandinAddFaults(const char* faults);

QS71_STANDIN_API void Qs71StandinGetRecord(Qs71StandinRecord* record);

/* The hidapi and hidraw rules the caller broke since the reset, one per line; "" if none. */
QS71_STANDIN_API const char* Qs71StandinViolations(void);

/* Copies the chip's cells; returns the chip's size. */
QS71_STANDIN_API uint32_t Qs71StandinCopyOtp(uint8_t* destination, uint32_t capacity);

typedef void (*Qs71StandinResetFunction)(void);
typedef int32_t (*Qs71StandinAddFaultsFunction)(const char*);
typedef void (*Qs71StandinGetRecordFunction)(Qs71StandinRecord*);
typedef const char* (*Qs71StandinViolationsFunction)(void);
typedef uint32_t (*Qs71StandinCopyOtpFunction)(uint8_t*, uint32_t);

#ifdef __cplusplus
}
#endif
