/* libZTHOOK.so: window move and resize events of the whole desktop, queued
 * for the server's screen capture, and the last pointer position and cursor.
 * Plain C exports; everything else in the library is hidden. */
#pragma once

#include <stdint.h>

#define ZTHOOK_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* Stores both arguments and starts the window-event watcher (its own
 * connection to $DISPLAY): 1 when it runs, 0 when there is no display or it
 * lacks XInput 2.2 (the reason goes to stderr). */
ZTHOOK_API uint8_t SetHooks(uintptr_t ownerWindow, uint32_t ownerMessage);
/* Clears the hide-mouse flag, stops the watcher, stores the pointer's
 * position, empties the queue: 1. */
ZTHOOK_API uint8_t SetUnHooks(void);
/* Takes the oldest record into `record` (40 bytes, a HOOKEVENT): 1, or 0
 * leaving it untouched when the queue is empty or busy for 100 ms. */
ZTHOOK_API uint8_t GetQue(void* record);
ZTHOOK_API int32_t GetQueCount(void);
/* point[0] = x, point[1] = y of the last pointer position seen. */
ZTHOOK_API void GetMousePos(int32_t* point);
/* The serial of the cursor shape last seen (0 before any). */
ZTHOOK_API uintptr_t GetCurrentCursor(void);
ZTHOOK_API uint8_t SetHideMouse(uint8_t flag);

#ifdef __cplusplus
}
#endif
