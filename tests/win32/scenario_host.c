/* A head unit's user interface in miniature for KZ_Tarn.dll under Wine,
 * against the module simulator: the three windows the library reports to, a
 * real message loop on its one thread, the system scenarios. What the phone
 * must do goes out as "phone: <command>" lines (run_scenarios.sh hands them
 * to the simulator); the last line is "N passed, N failed", and the exit
 * code 0 only when all passed.   KZ_TARN_ROOT=<folder> kz_scenario_host.exe */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "KZ_Tarn.h"

#define WAIT_MS 15000
#define MAX_EVENTS 4096
#define TEXT_MAX 64
#define ANY (-1L)

enum Channel { NOTIFY = 1, NAVIG = 2, BAR = 3 };

/* One thing the library told the UI; for BAR, code is the record kind and
 * param the call kind. */
typedef struct Event {
    int channel;
    uint32_t code, param, len;
    char text[TEXT_MAX];
    char slot[8]; /* inquiry results: the index to pair with */
} Event;

static Event g_events[MAX_EVENTS];
static int g_count, g_mark, g_passed, g_failed;

static Event* Record(int channel, uint32_t code, uint32_t param, uint32_t len) {
    static Event spare;
    Event* e = g_count < MAX_EVENTS ? &g_events[g_count++] : &spare;
    memset(e, 0, sizeof *e);
    e->channel = channel, e->code = code, e->param = param, e->len = len;
    return e;
}

static void CopyText(Event* e, const char* text, size_t max) {
    size_t n = strnlen(text, max < TEXT_MAX - 1 ? max : TEXT_MAX - 1);
    memcpy(e->text, text, n);
}

static void CopyWide(Event* e, const uint16_t* text, size_t max) {
    int units = (int)wcsnlen((const wchar_t*)text, max);
    int n = WideCharToMultiByte(CP_UTF8, 0, (const wchar_t*)text, units, e->text, TEXT_MAX - 1, NULL, NULL);
    e->text[n > 0 ? n : 0] = '\0';
}

/* The records are valid only during the call: what matters is copied. */
static LRESULT CALLBACK HostProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Event* e = NULL;
    if (msg == KZ_MSG_NOTIFY && wParam) {
        const BtNotifyRecord* r = (const BtNotifyRecord*)wParam;
        const void* d = r->pData;
        int call = r->nCode == KZ_NOTIFY_CALL_RECORD && d;
        e = Record(NOTIFY, r->nCode, call ? ((const CallRecord*)d)->state : r->nParam, r->nLen);
        if (call) {
            CopyText(e, ((const CallRecord*)d)->number, 56);
        } else if (d && r->nCode == KZ_NOTIFY_PHONEBOOK_ENTRY) {
            CopyText(e, ((const structPhoneDate*)d)->PBName, 64);
        } else if (d && r->nCode == KZ_NOTIFY_INQUIRY) {
            CopyText(e, ((const DeviceInfoRecord*)d)->name, 32);
            if (r->nParam == 1) snprintf(e->slot, sizeof e->slot, "%.7s", ((const DeviceInfoRecord*)d)->slot);
        }
    } else if (msg == KZ_MSG_NAVIG_STATUS) {
        e = Record(NAVIG, (uint32_t)wParam, (uint32_t)lParam, 0);
    } else if (msg == WM_COPYDATA) {
        const COPYDATASTRUCT* cds = (const COPYDATASTRUCT*)lParam;
        if (wParam == KZ_INFORBAR_CALL_INFO && cds->cbData >= sizeof(CallInfoRecord)) {
            const CallInfoRecord* c = (const CallInfoRecord*)cds->lpData;
            CopyWide(e = Record(BAR, (uint32_t)wParam, c->kind, 0), c->number, 81);
        }
    } else {
        return DefWindowProcW(wnd, msg, wParam, lParam);
    }
    if (e) fprintf(stderr, "[%10lu ms] event %d %u %u \"%s\"\n", GetTickCount(), e->channel, e->code, e->param, e->text);
    return msg == KZ_MSG_NAVIG_STATUS ? 0 : 1;
}

static int CreateHostWindow(const wchar_t* cls, const wchar_t* title) {
    WNDCLASSW wc = {0};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleW(NULL);
    wc.lpszClassName = cls;
    RegisterClassW(&wc);
    return CreateWindowExW(0, cls, title, WS_POPUP, 0, 0, 0, 0, NULL, NULL, wc.hInstance, NULL) != NULL;
}

/* The message loop, for at most ms milliseconds. */
static void Pump(DWORD ms) {
    DWORD start = GetTickCount(), spent;
    MSG msg;
    do {
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        spent = GetTickCount() - start;
        if (spent < ms) MsgWaitForMultipleObjectsEx(0, NULL, ms - spent, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    } while (spent < ms);
}

/* Events since the scenario began that match (param and text when given). */
static int CountSince(int channel, uint32_t code, long param, const char* text) {
    int n = 0;
    for (const Event* e = &g_events[g_mark]; e < &g_events[g_count]; ++e)
        n += e->channel == channel && e->code == code && (param == ANY || e->param == (uint32_t)param) &&
             (!text || strcmp(e->text, text) == 0);
    return n;
}

/* Runs the loop until `count` matching events have come, or WAIT_MS passed. */
static int WaitFor(const char* what, int count, int channel, uint32_t code, long param, const char* text) {
    DWORD start = GetTickCount();
    while (CountSince(channel, code, param, text) < count) {
        if (GetTickCount() - start > WAIT_MS) {
            printf("  no %s within %d ms; since the scenario began:\n", what, WAIT_MS);
            for (const Event* e = &g_events[g_mark]; e < &g_events[g_count]; ++e)
                printf("    channel %d code %u param %u \"%s\"\n", e->channel, e->code, e->param, e->text);
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
    for (; CountSince(NOTIFY, KZ_NOTIFY_PHONEBOOK_STATE, 2, NULL) == 0; Pump(20)) {
        for (; answered < g_count; ++answered) {
            const Event* e = &g_events[answered];
            if (e->channel == NOTIFY && e->code == KZ_NOTIFY_PHONEBOOK_SIZE && e->param != KZ_PB_PHONEBOOK)
                KZ_BT_GetPhonebookData((int)e->param, (int)e->len);
        }
        if (GetTickCount() - start > WAIT_MS) {
            printf("  call lists not done within %d ms\n", WAIT_MS);
            return 0;
        }
    }
    printf("  call lists downloaded: %d entries\n", CountSince(NOTIFY, KZ_NOTIFY_PHONEBOOK_ENTRY, ANY, NULL));
    return CountSince(NOTIFY, KZ_NOTIFY_PHONEBOOK_ENTRY, ANY, NULL) >= atLeast;
}

static void Phone(const char* command) {
    printf("phone: %s\n", command);
    fflush(stdout);
}

static long FileSize(const char* unitPath) {
    char path[MAX_PATH];
    WIN32_FILE_ATTRIBUTE_DATA data;
    snprintf(path, sizeof path, "%s%s", getenv("KZ_TARN_ROOT") ? getenv("KZ_TARN_ROOT") : ".", unitPath);
    return GetFileAttributesExA(path, GetFileExInfoStandard, &data) ? (long)data.nFileSizeLow : -1;
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
    ok ? ++g_passed : ++g_failed;
}

/* ------------------------------------------------------------ scenarios */

static int StartUp(void) {
    KZ_BT_DeviceInit();
    return Check("control window \"KZ_BTWidnow\" exists", FindWindowW(L"KZ_BTWidnow", L"KZ_BTWidnow") != NULL) &&
           WaitFor("start posted to NavigRecive (2, 9)", 1, NAVIG, KZ_NAVIG_STARTED_W, KZ_NAVIG_STARTED_L, NULL) &&
           WaitFor("device ready", 1, NOTIFY, KZ_NOTIFY_DEVICE_READY, 1, NULL);
}

static int InquiryAndPairing(void) {
    const char* slot = "0";
    KZ_BT_SetInitialValue();
    if (!WaitFor("microphone gain reported", 1, NOTIFY, KZ_NOTIFY_MIC_GAIN, ANY, NULL)) return 0;
    KZ_BT_InquiryDevice(1);
    if (!WaitFor("inquiry found \"Pixel Demo\"", 1, NOTIFY, KZ_NOTIFY_INQUIRY, 1, "Pixel Demo")) return 0;
    for (const Event* e = &g_events[g_mark]; e < &g_events[g_count]; ++e)
        if (e->code == KZ_NOTIFY_INQUIRY && strcmp(e->text, "Pixel Demo") == 0) slot = e->slot;
    KZ_BT_PairRemoteDevice(slot, "1234");
    return WaitFor("pairing reports the phone connected", 1, NOTIFY, KZ_NOTIFY_PAIRING, 2, NULL) &&
           WaitFor("hands-free connection", 1, NOTIFY, KZ_NOTIFY_CONNECTION, KZ_CONNECTION_CONNECTED, NULL) &&
           DownloadCallLists(3) && /* one received, one dialed, one missed call */
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
    if (!WaitFor("phonebook size", 1, NOTIFY, KZ_NOTIFY_PHONEBOOK_SIZE, ANY, NULL)) return 0;
    KZ_BT_GetPhonebookData(KZ_PB_PHONEBOOK, 3);
    if (!WaitFor("phonebook downloaded", 1, NOTIFY, KZ_NOTIFY_PHONEBOOK_STATE, 1, NULL)) return 0;
    KZ_BT_CloseDevice(); /* waits for the file thread */
    long entries = FileSize("\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBook00.dat");
    long numbers = FileSize("\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBookNum00.dat");
    if (!Check("PhoneBook00.dat holds the 3 contacts", entries == 3 * (long)sizeof(structPhoneDate)) ||
        !Check("PhoneBookNum00.dat holds whole records", numbers > 0 && numbers % sizeof(structPhoneNum) == 0))
        return 0;
    g_mark = g_count;
    KZ_BT_DeviceInit();
    Phone("restart"); /* the module restarts with the unit */
    if (!WaitFor("device ready again", 1, NOTIFY, KZ_NOTIFY_DEVICE_READY, 1, NULL)) return 0;
    KZ_BT_SetInitialValue(); /* connects the remembered phone */
    if (!WaitFor("remembered phone connected", 1, NOTIFY, KZ_NOTIFY_CONNECT_COMPLETE, ANY, NULL) ||
        !DownloadCallLists(3))
        return 0;
    g_mark = g_count;
    KZ_BT_GetContactsFromFile();
    return WaitFor("3 contacts loaded from the files", 3, NOTIFY, KZ_NOTIFY_PHONEBOOK_ENTRY, ANY, NULL) &&
           Check("John Doe among them", CountSince(NOTIFY, KZ_NOTIFY_PHONEBOOK_ENTRY, ANY, "John Doe") == 1);
}

static int CloseTwice(void) {
    int first = KZ_BT_CloseDevice(), second = KZ_BT_CloseDevice();
    return Check("the first close closes the port", first != -1) &&
           Check("the second close reports it is not open", second == -1);
}

int main(void) {
    if (!CreateHostWindow(L"KzScenarioHost", L"Bluetooth") || !CreateHostWindow(L"KzScenarioHost", L"NavigRecive") ||
        !CreateHostWindow(L"KZ_INFORBAR", L"KZ_INFORBAR")) {
        printf("cannot create the host windows (error %lu)\n", GetLastError());
        return 2;
    }
    Scenario("start-up to device ready", StartUp);
    Scenario("inquiry and pairing by PIN", InquiryAndPairing);
    Scenario("incoming call answered and ended", IncomingCall);
    Scenario("phonebook downloaded into its files, loaded again after a restart", PhonebookAndRestart);
    Scenario("close, and a second close", CloseTwice);
    printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed ? 1 : 0;
}
