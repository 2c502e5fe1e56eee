/*
 * scenario_host.c - a head unit's user interface in miniature, for
 * KZ_Tarn.dll on Windows (run under Wine against the module simulator).
 *
 * It owns the three windows the library reports to, "Bluetooth",
 * "NavigRecive" and "KZ_INFORBAR", runs a real message loop on its one
 * thread, and drives the library through the system scenarios. What the
 * simulated phone must do is printed as "phone: <command>" lines, which the
 * driver (run_scenarios.sh) hands to the simulator. The last line is
 * "N passed, N failed"; the exit code is 0 only when all passed.
 *
 *   KZ_TARN_ROOT=<folder> kz_scenario_host.exe
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "KZ_Tarn.h"

#define WAIT_MS 15000
#define MAX_EVENTS 4096
#define TEXT_MAX 64

enum Channel { NOTIFY = 1, NAVIG = 2, BAR = 3 };

/* One thing the library told the user interface. For BAR, code is the
 * record kind (wParam) and param the call kind or the play state. */
typedef struct Event {
    int channel;
    uint32_t code, param, len;
    char text[TEXT_MAX];
    char slot[8];   /* inquiry results: the index to pair with */
} Event;

static Event g_events[MAX_EVENTS];
static int g_count, g_mark, g_passed, g_failed;

static void Record(int channel, uint32_t code, uint32_t param, const char* text, size_t len) {
    if (g_count == MAX_EVENTS) return;
    Event* e = &g_events[g_count++];
    e->channel = channel;
    e->code = code;
    e->param = param;
    e->text[0] = '\0';
    e->slot[0] = '\0';
    e->len = 0;
    if (text) {
        size_t n = strnlen(text, len < TEXT_MAX - 1 ? len : TEXT_MAX - 1);
        memcpy(e->text, text, n);
        e->text[n] = '\0';
    }
    fprintf(stderr, "[%10lu ms] event %d %u %u \"%s\"\n", GetTickCount(), channel, code, param, e->text);
}

static void Utf16ToUtf8(const uint16_t* in, size_t units, char* out, int outSize) {
    int n = WideCharToMultiByte(CP_UTF8, 0, (const wchar_t*)in, (int)units, out, outSize - 1, NULL, NULL);
    out[n > 0 ? n : 0] = '\0';
}

/* The records are valid only during the call: the text that matters is copied. */
static LRESULT CALLBACK NotifyProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != KZ_MSG_NOTIFY || !wParam) return DefWindowProcW(wnd, msg, wParam, lParam);
    const BtNotifyRecord* r = (const BtNotifyRecord*)wParam;
    const char* text = NULL;
    size_t len = 0;
    if (r->pData) switch (r->nCode) {
        case KZ_NOTIFY_CALL_RECORD: text = ((const CallRecord*)r->pData)->number; len = 56; break;
        case KZ_NOTIFY_PHONEBOOK_ENTRY: text = ((const structPhoneDate*)r->pData)->PBName; len = 64; break;
        case KZ_NOTIFY_TRACK_INFO: text = ((const TrackInfoBlock*)r->pData)->title; len = 255; break;
        case KZ_NOTIFY_INQUIRY: text = ((const DeviceInfoRecord*)r->pData)->name; len = 32; break;
        default: break;
    }
    uint32_t param = r->nCode == KZ_NOTIFY_CALL_RECORD && r->pData ? ((const CallRecord*)r->pData)->state
                                                                   : r->nParam;
    Record(NOTIFY, r->nCode, param, text, len);
    g_events[g_count - 1].len = r->nLen;
    if (r->nCode == KZ_NOTIFY_INQUIRY && r->nParam == 1 && r->pData && g_count > 0)
        snprintf(g_events[g_count - 1].slot, sizeof g_events[0].slot, "%.7s",
                 ((const DeviceInfoRecord*)r->pData)->slot);
    return 1;
}

static LRESULT CALLBACK NavigProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != KZ_MSG_NAVIG_STATUS) return DefWindowProcW(wnd, msg, wParam, lParam);
    Record(NAVIG, (uint32_t)wParam, (uint32_t)lParam, NULL, 0);
    return 0;
}

static LRESULT CALLBACK InforbarProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != WM_COPYDATA) return DefWindowProcW(wnd, msg, wParam, lParam);
    const COPYDATASTRUCT* cds = (const COPYDATASTRUCT*)lParam;
    char text[TEXT_MAX];
    if (wParam == KZ_INFORBAR_CALL_INFO && cds->cbData >= sizeof(CallInfoRecord)) {
        const CallInfoRecord* c = (const CallInfoRecord*)cds->lpData;
        Utf16ToUtf8(c->number, wcsnlen((const wchar_t*)c->number, 81), text, sizeof text);
        Record(BAR, (uint32_t)wParam, c->kind, text, sizeof text);
    } else if (wParam == KZ_INFORBAR_NOW_PLAYING && cds->cbData >= sizeof(NowPlayingRecord)) {
        const NowPlayingRecord* p = (const NowPlayingRecord*)cds->lpData;
        Utf16ToUtf8(p->title, wcsnlen((const wchar_t*)p->title, 80), text, sizeof text);
        Record(BAR, (uint32_t)wParam, p->playState, text, sizeof text);
    }
    return TRUE;
}

static int CreateHostWindow(const wchar_t* cls, const wchar_t* title, WNDPROC proc) {
    WNDCLASSW wc = {0};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(NULL);
    wc.lpszClassName = cls;
    if (!RegisterClassW(&wc)) return 0;
    return CreateWindowExW(0, cls, title, WS_POPUP, 0, 0, 0, 0, NULL, NULL, wc.hInstance, NULL) != NULL;
}

/* The message loop, for at most ms milliseconds. */
static void Pump(DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        DWORD spent = GetTickCount() - start;
        if (spent >= ms) return;
        MsgWaitForMultipleObjectsEx(0, NULL, ms - spent, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

/* Events since the scenario began that match (param and text when given). */
static int CountSince(int channel, uint32_t code, long param, const char* text) {
    int n = 0;
    for (int i = g_mark; i < g_count; ++i) {
        const Event* e = &g_events[i];
        if (e->channel == channel && e->code == code && (param < 0 || e->param == (uint32_t)param) &&
            (!text || strcmp(e->text, text) == 0))
            ++n;
    }
    return n;
}

/* Runs the loop until `count` matching events have come, or WAIT_MS passed. */
static int WaitFor(const char* what, int count, int channel, uint32_t code, long param, const char* text) {
    DWORD start = GetTickCount();
    while (CountSince(channel, code, param, text) < count) {
        if (GetTickCount() - start > WAIT_MS) {
            printf("  no %s within %d ms; since the scenario began:\n", what, WAIT_MS);
            for (int i = g_mark; i < g_count; ++i)
                printf("    channel %d code %u param %u \"%s\"\n", g_events[i].channel, g_events[i].code,
                       g_events[i].param, g_events[i].text);
            return 0;
        }
        Pump(20);
    }
    printf("  %s\n", what);
    return 1;
}

/* A head unit downloads each call list whose size the library reports,
 * until the library says the call lists are done. */
static int DownloadCallLists(int atLeast) {
    DWORD start = GetTickCount();
    int answered = g_mark;
    while (CountSince(NOTIFY, KZ_NOTIFY_PHONEBOOK_STATE, 2, NULL) == 0) {
        for (; answered < g_count; ++answered) {
            const Event* e = &g_events[answered];
            if (e->channel == NOTIFY && e->code == KZ_NOTIFY_PHONEBOOK_SIZE && e->param != KZ_PB_PHONEBOOK)
                KZ_BT_GetPhonebookData((int)e->param, (int)e->len);
        }
        if (GetTickCount() - start > WAIT_MS) {
            printf("  call lists not done within %d ms\n", WAIT_MS);
            return 0;
        }
        Pump(20);
    }
    int entries = CountSince(NOTIFY, KZ_NOTIFY_PHONEBOOK_ENTRY, -1, NULL);
    printf("  call lists downloaded: %d entries\n", entries);
    return entries >= atLeast;
}

static void Phone(const char* command) {
    printf("phone: %s\n", command);
    fprintf(stderr, "[%10lu ms] phone: %s\n", GetTickCount(), command);
    fflush(stdout);
}

static long FileSize(const char* unitPath) {
    char path[MAX_PATH];
    const char* root = getenv("KZ_TARN_ROOT");
    snprintf(path, sizeof path, "%s%s", root ? root : ".", unitPath);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
    return (long)data.nFileSizeLow;
}

static int Check(const char* what, int ok) {
    printf("  %s: %s\n", what, ok ? "yes" : "NO");
    return ok;
}

static void Scenario(const char* name, int (*body)(void)) {
    printf("== %s\n", name);
    fflush(stdout);
    g_mark = g_count;
    int ok = body();
    printf("%s %s\n", ok ? "PASS" : "FAIL", name);
    fflush(stdout);
    if (ok) ++g_passed; else ++g_failed;
}

/* ------------------------------------------------------------ scenarios */

static char g_inquiryIndex[8] = "0";

static int StartUp(void) {
    KZ_BT_DeviceInit();
    return Check("control window \"KZ_BTWidnow\" exists", FindWindowW(L"KZ_BTWidnow", L"KZ_BTWidnow") != NULL) &&
           WaitFor("start posted to NavigRecive (2, 9)", 1, NAVIG, KZ_NAVIG_STARTED_W, KZ_NAVIG_STARTED_L, NULL) &&
           WaitFor("device ready", 1, NOTIFY, KZ_NOTIFY_DEVICE_READY, 1, NULL);
}

static int InquiryAndPairing(void) {
    KZ_BT_SetInitialValue();
    if (!WaitFor("microphone gain reported", 1, NOTIFY, KZ_NOTIFY_MIC_GAIN, -1, NULL)) return 0;
    KZ_BT_InquiryDevice(1);
    if (!WaitFor("inquiry found \"Pixel Demo\"", 1, NOTIFY, KZ_NOTIFY_INQUIRY, 1, "Pixel Demo")) return 0;
    for (int i = g_mark; i < g_count; ++i)
        if (g_events[i].code == KZ_NOTIFY_INQUIRY && strcmp(g_events[i].text, "Pixel Demo") == 0)
            memcpy(g_inquiryIndex, g_events[i].slot, sizeof g_inquiryIndex);
    KZ_BT_PairRemoteDevice(g_inquiryIndex, "1234");
    return WaitFor("pairing reports the phone connected", 1, NOTIFY, KZ_NOTIFY_PAIRING, 2, NULL) &&
           WaitFor("hands-free connection", 1, NOTIFY, KZ_NOTIFY_CONNECTION, KZ_CONNECTION_CONNECTED, NULL) &&
           DownloadCallLists(3) &&   /* one received, one dialed, one missed call */
           (KZ_BT_InquiryDevice(0), WaitFor("inquiry over", 1, NOTIFY, KZ_NOTIFY_INQUIRY, 0, NULL)) &&
           Check("registry file written", FileSize("\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini") > 0);
}

static int IncomingCall(void) {
    Phone("ring +4912345");
    if (!WaitFor("incoming call record", 1, NOTIFY, KZ_NOTIFY_CALL_RECORD, 4, "+4912345") ||
        !WaitFor("status bar: incoming +4912345", 1, BAR, KZ_INFORBAR_CALL_INFO, 0, "+4912345"))
        return 0;
    KZ_BT_Answer();
    if (!WaitFor("call active", 1, NOTIFY, KZ_NOTIFY_CALL_RECORD, 0, "+4912345") ||
        !WaitFor("status bar: active", 1, BAR, KZ_INFORBAR_CALL_INFO, 2, "+4912345"))
        return 0;
    KZ_BT_Hangup();
    /* After a call the library fetches the call lists again. */
    return WaitFor("call ended posted to NavigRecive", 1, NAVIG, KZ_NAVIG_STATE_W, KZ_NAVIG_CALL_ENDED_L, NULL) &&
           WaitFor("status bar: ended", 1, BAR, KZ_INFORBAR_CALL_INFO, 3, NULL) &&
           WaitFor("call lists restarted after the call", 1, NOTIFY, KZ_NOTIFY_PHONEBOOK_STATE, 0, NULL) &&
           DownloadCallLists(3);
}

static int PhonebookAndRestart(void) {
    KZ_BT_GetPhonBookSize(KZ_PB_PHONEBOOK);
    if (!WaitFor("phonebook size", 1, NOTIFY, KZ_NOTIFY_PHONEBOOK_SIZE, -1, NULL)) return 0;
    KZ_BT_GetPhonebookData(KZ_PB_PHONEBOOK, 3);
    if (!WaitFor("phonebook downloaded", 1, NOTIFY, KZ_NOTIFY_PHONEBOOK_STATE, 1, NULL)) return 0;
    KZ_BT_CloseDevice();   /* waits for the file thread */
    long entries = FileSize("\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBook00.dat");
    long numbers = FileSize("\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBookNum00.dat");
    if (!Check("PhoneBook00.dat holds the 3 contacts", entries == 3 * (long)sizeof(structPhoneDate)) ||
        !Check("PhoneBookNum00.dat holds whole records", numbers > 0 && numbers % sizeof(structPhoneNum) == 0))
        return 0;

    g_mark = g_count;
    KZ_BT_DeviceInit();
    Phone("restart");   /* the module restarts with the unit */
    if (!WaitFor("device ready again", 1, NOTIFY, KZ_NOTIFY_DEVICE_READY, 1, NULL)) return 0;
    KZ_BT_SetInitialValue();   /* connects the remembered phone */
    if (!WaitFor("remembered phone connected", 1, NOTIFY, KZ_NOTIFY_CONNECT_COMPLETE, -1, NULL) ||
        !DownloadCallLists(3))
        return 0;
    g_mark = g_count;
    KZ_BT_GetContactsFromFile();
    return WaitFor("3 contacts loaded from the files", 3, NOTIFY, KZ_NOTIFY_PHONEBOOK_ENTRY, -1, NULL) &&
           Check("John Doe among them", CountSince(NOTIFY, KZ_NOTIFY_PHONEBOOK_ENTRY, -1, "John Doe") == 1);
}

static int Music(void) {
    KZ_BT_SetAudioService();
    KZ_BT_AVRCPCmd(0x44);   /* play */
    if (!WaitFor("music playing", 1, NOTIFY, KZ_NOTIFY_PLAY_STATE, 1, NULL)) return 0;
    Phone("track \"So What\" \"Miles Davis\" \"Kind of Blue\"");
    return WaitFor("track information \"So What\"", 1, NOTIFY, KZ_NOTIFY_TRACK_INFO, -1, "So What") &&
           WaitFor("status bar: now playing \"So What\"", 1, BAR, KZ_INFORBAR_NOW_PLAYING, -1, "So What");
}

static int CloseTwice(void) {
    int first = KZ_BT_CloseDevice();
    int second = KZ_BT_CloseDevice();
    printf("  first close %d, second close %d\n", first, second);
    return Check("the first close closes the port", first != -1) &&
           Check("the second close reports it is not open", second == -1);
}

int main(void) {
    if (!CreateHostWindow(L"KzScenarioNotify", L"Bluetooth", NotifyProc) ||
        !CreateHostWindow(L"KzScenarioNavig", L"NavigRecive", NavigProc) ||
        !CreateHostWindow(L"KZ_INFORBAR", L"KZ_INFORBAR", InforbarProc)) {
        printf("cannot create the host windows (error %lu)\n", GetLastError());
        return 2;
    }
    Scenario("start-up to device ready", StartUp);
    Scenario("inquiry and pairing by PIN", InquiryAndPairing);
    Scenario("incoming call answered and ended", IncomingCall);
    Scenario("phonebook downloaded into its files, loaded again after a restart", PhonebookAndRestart);
    Scenario("music with track information", Music);
    Scenario("close, and a second close", CloseTwice);
    printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed ? 1 : 0;
}
