/*
 * tivlink: drive a serial bus of addressable four-channel colour devices.
 *
 * Usable from C and C++. The library exports every name below with a leading
 * underscore (set_serial as _set_serial, e2_cmd as _e2_cmd); this header maps
 * the plain names to those exports, so a host just calls set_serial().
 *
 * Rules for hosts: call from one thread; while a download runs, send nothing
 * else and do not call exit_tiv3; a failed precondition ends the process.
 */
#ifndef TIVLINK_H
#define TIVLINK_H

/* The library's version; the build refuses a header that disagrees with it. */
#define TIVLINK_VERSION_MAJOR 1
#define TIVLINK_VERSION_MINOR 0
#define TIVLINK_VERSION_PATCH 0
#define TIVLINK_VERSION_STRING "1.0.0"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define TIVLINK_CALL __cdecl
#if defined(TIVLINK_BUILD)
#define TIVLINK_FUNC
#define TIVLINK_DATA
#else
#define TIVLINK_FUNC __declspec(dllimport)
#define TIVLINK_DATA __declspec(dllimport)
#endif
#else
#define TIVLINK_CALL
#if defined(TIVLINK_BUILD)
#define TIVLINK_FUNC __attribute__((visibility("default")))
#define TIVLINK_DATA __attribute__((visibility("default")))
#else
#define TIVLINK_FUNC
#define TIVLINK_DATA
#endif
#endif

#if defined(__GNUC__) || defined(__clang__)
#define TIVLINK_STR2_(x) #x
#define TIVLINK_STR_(x) TIVLINK_STR2_(x)
/* Binds a plain name to its underscore export (the platform's symbol prefix
 * first, so the 32-bit Windows cdecl decoration is kept). */
#if defined(_WIN32) && !defined(TIVLINK_BUILD)
/* An imported name is decorated by the compiler itself (__imp_ and prefix). */
#define TIVLINK_EXPORT_NAME(name) __asm__("_" #name)
#else
#define TIVLINK_EXPORT_NAME(name) __asm__(TIVLINK_STR_(__USER_LABEL_PREFIX__) "_" #name)
#endif
#else
#define TIVLINK_EXPORT_NAME(name)
#define init_tiv3 _init_tiv3
#define exit_tiv3 _exit_tiv3
#define tiv_frame_send _tiv_frame_send
#define set_serial _set_serial
#define set_group _set_group
#define firmware_reset _firmware_reset
#define load_e2_file _load_e2_file
#define download _download
#define set_rgbx _set_rgbx
#define fade_rgbx _fade_rgbx
#define xd_reset _xd_reset
#define xd_prog _xd_prog
#define tiv_thread_join _tiv_thread_join
#define tiv_failed_frames _tiv_failed_frames
#define e2_data _e2_data
#define e2_adr _e2_adr
#define e2_len _e2_len
#define e2_percent _e2_percent
#define e2_cmd _e2_cmd
#endif

/* Connection. */

/* Opens COM<comnr> (1..9) at baud (<= 0: 9600; must divide 115200) and starts
 * draining incoming bytes. 0, or -1 after an error box. Closes an open one first. */
TIVLINK_FUNC int32_t TIVLINK_CALL init_tiv3(int32_t comnr, int32_t baud) TIVLINK_EXPORT_NAME(init_tiv3);
/* Waits 500 ms, then closes the connection, if any. */
TIVLINK_FUNC void TIVLINK_CALL exit_tiv3(void) TIVLINK_EXPORT_NAME(exit_tiv3);
/* Sends one frame (low 24 address bits, low 8 command bits); waits 30 ms after a
 * frame to a physical address (> 0xFFFF). 0; -1 with a beep when not connected,
 * -1 with a box when the frame was not written whole. */
TIVLINK_FUNC int32_t TIVLINK_CALL tiv_frame_send(uint32_t adr, int32_t cmd, const uint8_t* data,
                                                 uint32_t len) TIVLINK_EXPORT_NAME(tiv_frame_send);

/* Device setup. */

/* Gives the device at a the physical address nphys_adr (0x10000..0xFFFFFF; 0: a
 * random one) and returns the address stored. */
TIVLINK_FUNC int32_t TIVLINK_CALL set_serial(uint32_t a, int32_t nphys_adr) TIVLINK_EXPORT_NAME(set_serial);
/* Puts the device(s) at a into group grp_adr (1..255); returns 0. */
TIVLINK_FUNC int32_t TIVLINK_CALL set_group(uint32_t a, int32_t grp_adr) TIVLINK_EXPORT_NAME(set_group);
/* Runs the firmware-reset sequence on a; returns 0. */
TIVLINK_FUNC int32_t TIVLINK_CALL firmware_reset(uint32_t a) TIVLINK_EXPORT_NAME(firmware_reset);

/* EEPROM image and background download. */

/* Loads an image file (image bytes, then a 4-byte big-endian start address)
 * into e2_data, e2_adr and e2_len. 0, or -1 after an error box. */
TIVLINK_FUNC int32_t TIVLINK_CALL load_e2_file(const char* path) TIVLINK_EXPORT_NAME(load_e2_file);
/* Starts writing the image to a on a worker thread; set e2_cmd = 1 first. The
 * returned thread handle is the host's: its exit code is 0 when every frame was
 * written whole, 1 otherwise. */
TIVLINK_FUNC void* TIVLINK_CALL download(uint32_t a) TIVLINK_EXPORT_NAME(download);
#if !defined(_WIN32)
/* Waits for a download thread, releases its handle and returns its exit code
 * (what WaitForSingleObject, GetExitCodeThread and CloseHandle do on Windows). */
TIVLINK_FUNC int32_t TIVLINK_CALL tiv_thread_join(void* handle) TIVLINK_EXPORT_NAME(tiv_thread_join);
/* Frames not written whole (a write error, or no connection) since the library
 * was loaded, by any thread. set_serial, set_group and firmware_reset return
 * their usual result whatever their frames did; comparing this count before
 * and after tells a host whether every frame of such a call went out. */
TIVLINK_FUNC uint32_t TIVLINK_CALL tiv_failed_frames(void) TIVLINK_EXPORT_NAME(tiv_failed_frames);
#endif

/* Light output. Each returns the result of its last frame. */

/* Sets the four channels of a to colour (bytes sent most significant first). */
TIVLINK_FUNC int32_t TIVLINK_CALL set_rgbx(uint32_t a, uint32_t colour) TIVLINK_EXPORT_NAME(set_rgbx);
/* Fades a to colour; the low 8 bits of value go with it. */
TIVLINK_FUNC int32_t TIVLINK_CALL fade_rgbx(uint32_t a, uint32_t colour, int32_t value) TIVLINK_EXPORT_NAME(fade_rgbx);
/* Sends a reset to a. */
TIVLINK_FUNC int32_t TIVLINK_CALL xd_reset(uint32_t a) TIVLINK_EXPORT_NAME(xd_reset);
/* Sends program nr (0..7 or 9) to a. */
TIVLINK_FUNC int32_t TIVLINK_CALL xd_prog(uint32_t a, int32_t nr) TIVLINK_EXPORT_NAME(xd_prog);

/* Image block and download control, shared with the worker thread. */
extern TIVLINK_DATA uint8_t e2_data[2048] TIVLINK_EXPORT_NAME(e2_data);  /* image bytes */
extern TIVLINK_DATA uint32_t e2_adr TIVLINK_EXPORT_NAME(e2_adr);         /* EEPROM start address */
extern TIVLINK_DATA uint32_t e2_len TIVLINK_EXPORT_NAME(e2_len);         /* image length */
/* Progress 0..99 while a download runs, 0 when idle. */
extern TIVLINK_DATA volatile int32_t e2_percent TIVLINK_EXPORT_NAME(e2_percent);
/* Run flag: 1 before download(); 0 to stop; the worker sets 0 when it ends. */
extern TIVLINK_DATA volatile int32_t e2_cmd TIVLINK_EXPORT_NAME(e2_cmd);

#ifdef __cplusplus
}
#endif

#endif /* TIVLINK_H */
