/*
 * host.c - the smallest host program of KZ_Tarn.
 *
 * A head unit's user interface owns the window titled "Bluetooth"; the
 * library sends it its notifications (message 1974, wParam the address of a
 * BtNotifyRecord that is valid only during the call). SendMessage runs the
 * window procedure on the library's own threads, so the procedure only
 * reads the record and sets atomic flags. The main thread runs the message
 * loop, which delivers the library's posted messages and timers.
 *
 *   KZ_TARN_COM3=/dev/pts/5 KZ_TARN_ROOT=/tmp/unit ./host [--until-ready SECONDS]
 *
 * With --until-ready the program ends as soon as the module reports ready
 * (exit 0), or after SECONDS without it (exit 1). Without it, it runs until
 * interrupted.
 */
#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <KZ_Tarn.h>
#include <kz_platform.h>

static atomic_int g_ready;
static volatile sig_atomic_t g_stop;

static void on_signal(int sig) {
    (void)sig;
    g_stop = 1;
}

static KzLResult notify_proc(KzHwnd wnd, uint32_t msg, KzWParam wParam, KzLParam lParam) {
    (void)wnd;
    (void)lParam;
    if (msg != KZ_MSG_NOTIFY || wParam == 0) return 0;
    const BtNotifyRecord* r = (const BtNotifyRecord*)wParam;
    printf("notification %u param %u len %u\n", r->nCode, r->nParam, r->nLen);
    if (r->nCode == KZ_NOTIFY_DEVICE_READY && r->nParam == 1) {
        printf("device ready\n");
        atomic_store(&g_ready, 1);
    }
    fflush(stdout);
    return 1;
}

int main(int argc, char** argv) {
    long untilReadyMs = -1;
    if (argc == 3 && strcmp(argv[1], "--until-ready") == 0) {
        untilReadyMs = strtol(argv[2], NULL, 10) * 1000;
    } else if (argc != 1) {
        fprintf(stderr, "usage: %s [--until-ready SECONDS]\n", argv[0]);
        return 2;
    }
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);

    if (!KzRegisterClass("ExampleHostNotify", notify_proc, 0) ||
        !KzCreateWindow("ExampleHostNotify", KZ_WND_NOTIFY_TITLE, KZ_WS_POPUP)) {
        fprintf(stderr, "cannot create the window \"Bluetooth\"\n");
        return 1;
    }
    KZ_BT_DeviceInit();

    const uint32_t start = KzGetTickCount();
    int rc = 0;
    while (!g_stop) {
        KzMsg msg;
        if (KzPeekMessage(&msg, 100) && msg.message != KZ_WM_QUIT) KzDispatchMessage(&msg);
        if (untilReadyMs >= 0) {
            if (atomic_load(&g_ready)) break;
            if ((long)(KzGetTickCount() - start) > untilReadyMs) {
                fprintf(stderr, "no device-ready notification within %ld s\n", untilReadyMs / 1000);
                rc = 1;
                break;
            }
        }
    }
    KZ_BT_CloseDevice();
    return rc;
}
