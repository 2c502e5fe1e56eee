/*
 * kz_platform.h - the platform layer shared by KZ_Tarn and its host programs.
 *
 * The head unit's library was written against the services of its operating
 * system's core library: serial port, threads, events, named mutexes, windows
 * and messages, timers, files, message boxes, processes and the EEPROM driver.
 * This interface keeps the shape of those calls (same arguments, same meaning)
 * so that a Windows back end is a thin pass-through; libKZ_Platform.so is the
 * POSIX back end. Host programs and the library link the same shared object,
 * so a process has exactly one window registry and one message system.
 *
 * Text is UTF-8 everywhere in this interface (window titles, paths, message
 * box texts); records that cross to the user interface carry UTF-16.
 * The header is plain C so that C host programs can use it.
 */
#ifndef KZ_PLATFORM_H
#define KZ_PLATFORM_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#if defined(_WIN32)
/* On Windows the platform layer is linked into KZ_Tarn.dll and not exported:
 * host programs use the system's own calls. */
#define KZ_PLATFORM_API
#else
#define KZ_PLATFORM_API __attribute__((visibility("default")))
#endif

/* The trace formats with the C99 printf of the C library in use (mingw's
 * own on Windows, so %zu and %lld mean what they mean on POSIX). */
#if defined(_WIN32)
#define KZ_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define KZ_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ handles */

typedef void* KzHandle;                     /* event, mutex, thread, serial line, device */
#define KZ_INVALID_HANDLE ((KzHandle)(intptr_t)-1)

#define KZ_INFINITE 0xFFFFFFFFu
#define KZ_WAIT_OBJECT_0 0x00000000u
#define KZ_WAIT_TIMEOUT 0x00000102u
#define KZ_WAIT_FAILED 0xFFFFFFFFu

/* Last error of the calling thread, Win32 numbering for the few codes used. */
#define KZ_ERROR_FILE_NOT_FOUND 2u
#define KZ_ERROR_ACCESS_DENIED 5u
#define KZ_ERROR_INVALID_HANDLE 6u
#define KZ_ERROR_GEN_FAILURE 31u
KZ_PLATFORM_API uint32_t KzGetLastError(void);

/* Closes any handle: event, mutex, thread (detaches if still running),
 * serial line or device. Returns nonzero on success. */
KZ_PLATFORM_API int KzCloseHandle(KzHandle h);

/* ------------------------------------------------------- events and mutexes */

/* manualReset 0 gives an auto-reset event: a satisfied wait resets it. */
KZ_PLATFORM_API KzHandle KzCreateEvent(int manualReset, int initialState);
KZ_PLATFORM_API int KzSetEvent(KzHandle ev);   /* EventModify(EVENT_SET) */
KZ_PLATFORM_API int KzResetEvent(KzHandle ev);

/* Named mutexes are process-wide and recursive: one object per name, every
 * KzCreateMutex with the same name returns a handle to it. A null name gives
 * an anonymous mutex. */
KZ_PLATFORM_API KzHandle KzCreateMutex(const char* name);
KZ_PLATFORM_API int KzReleaseMutex(KzHandle mutex);

/* Waits on an event, a mutex or a thread (signalled when it has ended).
 * Returns KZ_WAIT_OBJECT_0, KZ_WAIT_TIMEOUT or KZ_WAIT_FAILED. */
KZ_PLATFORM_API uint32_t KzWaitForSingleObject(KzHandle h, uint32_t timeoutMs);

/* Wait-any over up to 16 handles (waitAll must be 0). When several are
 * signalled, returns KZ_WAIT_OBJECT_0 + the lowest signalled index and
 * consumes only that one. */
#define KZ_MAXIMUM_WAIT_OBJECTS 16u
KZ_PLATFORM_API uint32_t KzWaitForMultipleObjects(uint32_t count, const KzHandle* handles,
                                                  int waitAll, uint32_t timeoutMs);

/* ------------------------------------------------------------------ threads */

typedef uint32_t (*KzThreadProc)(void* arg);
KZ_PLATFORM_API KzHandle KzCreateThread(KzThreadProc proc, void* arg);
/* Priorities are accepted and recorded; POSIX threads keep the default policy. */
KZ_PLATFORM_API int KzSetThreadPriority(KzHandle thread, int priority);
#define KZ_STILL_ACTIVE 259u
/* Exit code of an ended thread, KZ_STILL_ACTIVE while it runs. */
KZ_PLATFORM_API int KzGetExitCodeThread(KzHandle thread, uint32_t* exitCode);
KZ_PLATFORM_API void KzSleep(uint32_t ms);
/* Milliseconds from an arbitrary start, monotonic, wraps at 2^32. */
KZ_PLATFORM_API uint32_t KzGetTickCount(void);

/* -------------------------------------------------------------- serial line */

/* Device control block: the fields the library reads and writes. */
typedef struct KzDcb {
    uint32_t BaudRate;
    uint8_t ByteSize;   /* 5..8 */
    uint8_t Parity;     /* 0 none, 1 odd, 2 even */
    uint8_t StopBits;   /* 0 one, 2 two */
    uint32_t fBinary;   /* bit 0 */
    uint32_t fParity;   /* bit 0: check parity on input */
    uint32_t fOutxCtsFlow, fRtsControl, fOutX, fInX; /* flow control, left as found */
} KzDcb;

typedef struct KzComStat {
    uint32_t cbInQue;   /* bytes waiting to be read */
    uint32_t cbOutQue;
} KzComStat;

#define KZ_CE_FRAME 0x0008u
#define KZ_CE_RXPARITY 0x0004u
#define KZ_CE_OVERRUN 0x0002u
#define KZ_CE_BREAK 0x0010u
#define KZ_CE_HANGUP 0x8000u /* line hung up or device gone (POSIX back end) */

#define KZ_PURGE_TXCLEAR 0x0004u
#define KZ_PURGE_RXCLEAR 0x0008u

#define KZ_GENERIC_READ 0x80000000u
#define KZ_GENERIC_WRITE 0x40000000u
#define KZ_CREATE_ALWAYS 2u
#define KZ_OPEN_EXISTING 3u

/* Opens a device by its head-unit name:
 *   "COM<n>:"  the serial device named by $KZ_TARN_COM<n>, else /dev/ttyS<n-1>,
 *              in raw mode, non-blocking, 8E1 until KzSetCommState says otherwise;
 *   "E2P1:"    the EEPROM stand-in file named by $KZ_TARN_E2P1; without it the
 *              open fails with KZ_ERROR_FILE_NOT_FOUND.
 * Returns KZ_INVALID_HANDLE on failure (KzGetLastError tells why). */
KZ_PLATFORM_API KzHandle KzCreateFile(const char* name, uint32_t access, uint32_t share,
                                      uint32_t creation, uint32_t flags);
KZ_PLATFORM_API int KzSetupComm(KzHandle port, uint32_t inQueue, uint32_t outQueue);
KZ_PLATFORM_API int KzGetCommState(KzHandle port, KzDcb* dcb);
KZ_PLATFORM_API int KzSetCommState(KzHandle port, const KzDcb* dcb);
/* Bytes waiting (FIONREAD); errors receives line errors since the last call. */
KZ_PLATFORM_API int KzClearCommError(KzHandle port, uint32_t* errors, KzComStat* stat);
/* Never blocks: reads at most what is waiting. */
KZ_PLATFORM_API int KzReadFile(KzHandle h, void* buf, uint32_t count, uint32_t* read);
KZ_PLATFORM_API int KzWriteFile(KzHandle h, const void* buf, uint32_t count, uint32_t* written);
KZ_PLATFORM_API int KzPurgeComm(KzHandle port, uint32_t flags);
/* Blocks until input is waiting (1), the timeout passed (0), the wait was
 * cancelled by KzCancelCommWait (2), or the line hung up / failed (-1). */
KZ_PLATFORM_API int KzWaitCommInput(KzHandle port, uint32_t timeoutMs);
/* Wakes a thread blocked in KzWaitCommInput on this port (sticky until it wakes). */
KZ_PLATFORM_API int KzCancelCommWait(KzHandle port);
/* The EEPROM driver's one control call: writes outBuf (outLen bytes) to the
 * stand-in file at offset 0. */
KZ_PLATFORM_API int KzDeviceIoControl(KzHandle dev, uint32_t code, void* inBuf, uint32_t inLen,
                                      void* outBuf, uint32_t outLen, uint32_t* returned);

/* ------------------------------------------------------ windows and messages */

typedef struct KzWindow* KzHwnd;
typedef uintptr_t KzWParam;
typedef intptr_t KzLParam;
typedef intptr_t KzLResult;
typedef KzLResult (*KzWndProc)(KzHwnd wnd, uint32_t msg, KzWParam wParam, KzLParam lParam);
typedef void (*KzTimerProc)(KzHwnd wnd, uint32_t msg, uintptr_t idEvent, uint32_t time);

#define KZ_WM_NULL 0x0000u
#define KZ_WM_QUIT 0x0012u
#define KZ_WM_COPYDATA 0x004Au
#define KZ_WM_TIMER 0x0113u
#define KZ_WM_USER 0x0400u

#define KZ_CS_VREDRAW 0x0001u
#define KZ_CS_HREDRAW 0x0002u
#define KZ_WS_POPUP 0x80000000u
#define KZ_SW_HIDE 0
#define KZ_NULL_BRUSH 5

typedef struct KzCopyDataStruct {
    uintptr_t dwData;
    uint32_t cbData;
    void* lpData;
} KzCopyDataStruct;

typedef struct KzMsg {
    KzHwnd hwnd;
    uint32_t message;
    KzWParam wParam;
    KzLParam lParam;
    uint32_t time;
    KzTimerProc timerProc; /* set for timer messages that carry a procedure */
} KzMsg;

/* Returns nonzero on success; registering a class name twice fails. */
KZ_PLATFORM_API int KzRegisterClass(const char* className, KzWndProc proc, uint32_t style);
/* The window belongs to the calling thread: its posted messages and timers
 * arrive through that thread's message loop. */
KZ_PLATFORM_API KzHwnd KzCreateWindow(const char* className, const char* title, uint32_t style);
KZ_PLATFORM_API int KzDestroyWindow(KzHwnd wnd);
KZ_PLATFORM_API int KzSetWindowText(KzHwnd wnd, const char* title);
KZ_PLATFORM_API int KzShowWindow(KzHwnd wnd, int cmd);
KZ_PLATFORM_API int KzUpdateWindow(KzHwnd wnd);
/* Either argument may be null (matches any). Exact, case-sensitive match. */
KZ_PLATFORM_API KzHwnd KzFindWindow(const char* className, const char* title);
KZ_PLATFORM_API int KzIsWindow(KzHwnd wnd);

/* Calls the window procedure synchronously on the caller's thread. */
KZ_PLATFORM_API KzLResult KzSendMessage(KzHwnd wnd, uint32_t msg, KzWParam wParam, KzLParam lParam);
/* Queues the message for the window's owning thread. */
KZ_PLATFORM_API int KzPostMessage(KzHwnd wnd, uint32_t msg, KzWParam wParam, KzLParam lParam);
/* Queues a KZ_WM_QUIT for the calling thread's loop. */
KZ_PLATFORM_API void KzPostQuitMessage(int exitCode);

/* Blocks until a message for the calling thread arrives; 0 on KZ_WM_QUIT. */
KZ_PLATFORM_API int KzGetMessage(KzMsg* msg);
/* Like KzGetMessage but waits at most timeoutMs: 1 got one, 0 none. A quit
 * message is returned as a message (msg->message == KZ_WM_QUIT). */
KZ_PLATFORM_API int KzPeekMessage(KzMsg* msg, uint32_t timeoutMs);
/* Calls the window procedure, or the timer procedure of a timer message. */
KZ_PLATFORM_API KzLResult KzDispatchMessage(const KzMsg* msg);
/* Runs the calling thread's loop for about ms milliseconds, dispatching. */
KZ_PLATFORM_API void KzPumpMessages(uint32_t ms);

/* Window timers (wnd non-null) keep idEvent; thread timers (wnd null) get a
 * fresh nonzero id, which is returned. The calling thread's loop delivers them. */
KZ_PLATFORM_API uintptr_t KzSetTimer(KzHwnd wnd, uintptr_t idEvent, uint32_t elapseMs, KzTimerProc proc);
KZ_PLATFORM_API int KzKillTimer(KzHwnd wnd, uintptr_t idEvent);

/* ----------------------------------------------------- message box, process */

#define KZ_MB_YESNO 0x00000004u
#define KZ_MB_TOPMOST 0x00040000u
#define KZ_IDYES 6
#define KZ_IDNO 7
typedef int (*KzMessageBoxHandler)(const char* text, const char* caption, uint32_t style, void* ctx);
/* Without a handler, the answer is KZ_IDNO and the text goes to standard error. */
KZ_PLATFORM_API void KzSetMessageBoxHandler(KzMessageBoxHandler handler, void* ctx);
KZ_PLATFORM_API int KzMessageBox(KzHwnd owner, const char* text, const char* caption, uint32_t style);

/* Spawns the program at a head-unit path (mapped below the root). Returns
 * nonzero when it started. A hook, when installed, is called instead. */
typedef int (*KzProcessHook)(const char* unitPath, void* ctx);
KZ_PLATFORM_API void KzSetProcessHook(KzProcessHook hook, void* ctx);
KZ_PLATFORM_API int KzCreateProcess(const char* unitPath);

/* -------------------------------------------------------------------- files */

/* Head-unit paths ("\BACKUP\KZ_Config\x.ini", also without the leading "\",
 * "\" or "/" separators) live below one root directory: $KZ_TARN_ROOT, or
 * what KzSetRootDir chose. Each component is matched case-insensitively
 * against what exists and created with the spelling given. */
KZ_PLATFORM_API void KzSetRootDir(const char* hostDir);
KZ_PLATFORM_API const char* KzGetRootDir(void);
/* Writes the host path for a head-unit path. Returns its length, or -1 when
 * it does not fit. */
KZ_PLATFORM_API int KzMapPath(const char* unitPath, char* out, size_t outSize);

KZ_PLATFORM_API FILE* KzFopen(const char* unitPath, const char* mode);
/* Replaces the whole file: writes a temporary file beside it, flushes and
 * syncs it, then renames it over the old one. The old content survives any
 * failure. Returns nonzero on success. */
KZ_PLATFORM_API int KzWriteFileAtomic(const char* unitPath, const void* data, size_t length);
/* Appends like fopen("ab") + fwrite + fflush. Returns the bytes written. */
KZ_PLATFORM_API size_t KzAppendFile(const char* unitPath, const void* data, size_t length);

#define KZ_FILE_ATTRIBUTE_DIRECTORY 0x10u
#define KZ_FILE_ATTRIBUTE_NORMAL 0x80u
#define KZ_FILE_ATTRIBUTE_READONLY 0x01u
#define KZ_INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
KZ_PLATFORM_API uint32_t KzGetFileAttributes(const char* unitPath);
KZ_PLATFORM_API int KzSetFileAttributes(const char* unitPath, uint32_t attributes);
KZ_PLATFORM_API int KzCreateDirectory(const char* unitPath);
KZ_PLATFORM_API int KzRemoveDirectory(const char* unitPath);
KZ_PLATFORM_API int KzDeleteFile(const char* unitPath);

typedef struct KzFindData {
    uint32_t dwFileAttributes;
    uint64_t nFileSize;
    char cFileName[260];
} KzFindData;
/* Pattern: a head-unit path whose last component may be "*" (list a folder)
 * or an exact name (case-insensitive). Returns KZ_INVALID_HANDLE when nothing matches. */
KZ_PLATFORM_API KzHandle KzFindFirstFile(const char* unitPattern, KzFindData* data);
KZ_PLATFORM_API int KzFindNextFile(KzHandle find, KzFindData* data);
KZ_PLATFORM_API int KzFindClose(KzHandle find);

/* The running program's file name as a head-unit path:
 * "\" + $KZ_TARN_EXE_DIR (default: none, the root) + "\" + program name. */
KZ_PLATFORM_API uint32_t KzGetModuleFileName(char* out, uint32_t size);

/* Test seam: the next KzWriteFileAtomic/KzAppendFile calls fail after writing
 * failAfterBytes bytes of their temporary file (-1 turns failures off). */
KZ_PLATFORM_API void KzInjectWriteFailure(long failAfterBytes);

/* --------------------------------------------------------------------- text */

/* UTF-8 to UTF-16: converts at most inLen bytes (or to the first NUL when
 * inLen is (size_t)-1); invalid sequences become U+FFFD. Writes at most
 * outCap units including a terminating zero, never past the buffer. Returns
 * the units written without the terminator. */
KZ_PLATFORM_API size_t KzUtf8ToUtf16(const char* in, size_t inLen, uint16_t* out, size_t outCap);
/* UTF-16 to UTF-8, same rules; a lone surrogate becomes U+FFFD. */
KZ_PLATFORM_API size_t KzUtf16ToUtf8(const uint16_t* in, size_t inLen, char* out, size_t outCap);

/* Text in another character set (an IANA name such as "ISO-8859-1" or
 * "Shift_JIS") to UTF-8: a byte that cannot be decoded becomes U+FFFD.
 * Writes at most outCap bytes, without a terminator, and returns the length
 * of the whole result (larger than outCap: call again with that much room),
 * or -1 when the character set is unknown. Four bytes out per byte in are
 * always enough. */
KZ_PLATFORM_API long KzCharsetToUtf8(const char* charset, const char* in, size_t inLen, char* out,
                                     size_t outCap);

/* -------------------------------------------------------------------- trace */

/* Debug trace: off unless $KZ_TARN_TRACE=1 (or KzSetTrace(1)); then one line
 * on standard error with time and thread. It has no other effect. */
KZ_PLATFORM_API void KzSetTrace(int on);
KZ_PLATFORM_API int KzTraceEnabled(void);
KZ_PLATFORM_API void KzTrace(const char* fmt, ...) KZ_PRINTF_FORMAT(1, 2);
/* Kernel debug output stand-in (standard error). */
KZ_PLATFORM_API void KzDebugPrint(const char* fmt, ...) KZ_PRINTF_FORMAT(1, 2);

#ifdef __cplusplus
}
#endif

#endif /* KZ_PLATFORM_H */
