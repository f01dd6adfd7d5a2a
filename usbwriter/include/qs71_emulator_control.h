/*
 * Control interface of qs71_usb_writer_emulated, the build of qs71_usb_writer that talks to
 * an emulated programmer in the same process instead of a USB device. Tests use these calls
 * to choose the chip and the faults; hosts use the QS71_EMU_* environment variables instead
 * (docs/emulator.md). Settings made here outlive calls of
 * Qs71UsbWriter, take precedence over the environment, and last until Qs71EmuReset. The
 * production library has none of this.
 */
#pragma once

#include <stdint.h>

#include "qs71_usb_writer.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Back to the default: one programmer holding a good, blank 262144-byte part, no faults, no
 * OTP file, no transcript, no sockets, and the records of the last calls cleared. */
QS71_USB_WRITER_API void QS71_CDECL Qs71EmuReset(void);

/* The four ID bytes the chip reports (0x6D 0x61 <size code> <revision> for a good part;
 * size codes 0x02, 0x04, 0x08, 0x16; an unknown code gets a 262144-byte array). */
QS71_USB_WRITER_API void QS71_CDECL Qs71EmuSetChipId(uint8_t id0, uint8_t id1, uint8_t id2,
                                                     uint8_t id3);

/* Adds faults, a comma-separated list in the syntax of QS71_EMU_FAULTS. Returns 0, or -1 for
 * a list it cannot parse (then nothing is added). */
QS71_USB_WRITER_API int32_t QS71_CDECL Qs71EmuAddFaults(const char* faults);

/* Keeps the chip in this file between calls (NULL or "" for a fresh chip every call). */
QS71_USB_WRITER_API void QS71_CDECL Qs71EmuSetOtpFile(const char* path);

/* Appends the report transcript to this file (NULL or "" for none). */
QS71_USB_WRITER_API void QS71_CDECL Qs71EmuSetTranscript(const char* path);

/* The device's hardware-ID list, strings separated by '|', most specific first. */
QS71_USB_WRITER_API void QS71_CDECL Qs71EmuSetHardwareIds(const char* ids);

/* A cell of the chip holds this value when the programmer is attached, as if so made. */
QS71_USB_WRITER_API void QS71_CDECL Qs71EmuPresetCell(uint32_t cell, uint8_t value);

/* How many programmers are attached, 1 to 99, as QS71_EMU_PROGRAMMERS sets it. Returns 0, or
 * -1 for a count out of range (then nothing changes). */
QS71_USB_WRITER_API int32_t QS71_CDECL Qs71EmuSetProgrammers(int32_t count);

/* Puts the part kept in this file (QS71_EMU_SOCKET's part files: an empty or missing file is
 * a fresh part) into the socket of programmer 1..99, in place of whatever it held. From then
 * on that programmer has a socket: the part stays until it is removed (or an emulated
 * operator, QS71_EMU_OPERATOR, takes it out after its job), and the file is never taken from
 * a socket folder again. Returns 0, or -1 for a programmer out of range or no path. */
QS71_USB_WRITER_API int32_t QS71_CDECL Qs71EmuInsertChip(int32_t programmer, const char* path);

/* Takes the part out of programmer 1..99's socket; its file keeps it and stays where it is,
 * and this process does not take it again. The next call finds the next part file of the
 * socket's folder, or an empty socket. Returns 0, or -1 for a programmer out of range. */
QS71_USB_WRITER_API int32_t QS71_CDECL Qs71EmuRemoveChip(int32_t programmer);

/* Requests of one command byte (0..255) that reached the programmer during the last call,
 * or all requests for -1. With several programmers: the last call that began. */
QS71_USB_WRITER_API uint32_t QS71_CDECL Qs71EmuRequestCount(int32_t command);

/* Copies the chip as the last call (that began) left it; returns its size (0 before any
 * call). */
QS71_USB_WRITER_API uint32_t QS71_CDECL Qs71EmuCopyOtp(uint8_t* destination, uint32_t capacity);

#ifdef __cplusplus
}
#endif
