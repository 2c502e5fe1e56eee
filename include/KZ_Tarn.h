/*
 * KZ_Tarn.h - the head unit's Bluetooth library: exports, message numbers,
 * notification codes and the byte layouts of every record that crosses the
 * library boundary or goes into a file.
 *
 * The library reports to the user interface by window messages:
 *   - KZ_MSG_NOTIFY (1974) to the window titled "Bluetooth", wParam the
 *     address of a BtNotifyRecord valid only during the call;
 *   - KZ_MSG_NAVIG_STATUS (1141) posted to "NavigRecive";
 *   - WM_COPYDATA to "KZ_INFORBAR" with a CallInfoRecord or NowPlayingRecord.
 * Notifications arrive on the library's own threads (SendMessage runs the
 * window procedure on the sender's thread).
 *
 * Plain C, so that C host programs can include it.
 */
#ifndef KZ_TARN_H
#define KZ_TARN_H

#include <stddef.h>
#include <stdint.h>

#if defined(KZ_TARN_BUILDING) && defined(_WIN32)
#define KZ_TARN_API /* KZ_Tarn.def names the exports */
#elif defined(KZ_TARN_BUILDING)
#define KZ_TARN_API __attribute__((visibility("default")))
#else
#define KZ_TARN_API
#endif

#ifdef __cplusplus
#define KZ_STATIC_ASSERT static_assert
#else
#define KZ_STATIC_ASSERT _Static_assert
#endif

/* ------------------------------------------------------- window messages */

#define KZ_MSG_NOTIFY 1974u         /* WM_USER + 950, to "Bluetooth" */
#define KZ_MSG_NAVIG_STATUS 1141u   /* WM_USER + 117, to "NavigRecive" */
#define KZ_MSG_CALL_KEY 2126u       /* WM_USER + 1102, to "KZ_BTWidnow" */
#define KZ_MSG_DELETE_LINK_KEYS 1949u /* WM_USER + 925 */
#define KZ_MSG_ACCEPTED_NO_ACTION 1950u /* WM_USER + 926 */
#define KZ_MSG_AUDIO_SOURCE 1951u   /* WM_USER + 927 */

#define KZ_WND_NOTIFY_TITLE "Bluetooth"
#define KZ_WND_NAVIG_TITLE "NavigRecive"
#define KZ_WND_INFORBAR "KZ_INFORBAR"
#define KZ_WND_CONTROL "KZ_BTWidnow"

/* Status-bar record kinds (wParam of WM_COPYDATA to "KZ_INFORBAR"). */
#define KZ_INFORBAR_NOW_PLAYING 3u
#define KZ_INFORBAR_CALL_INFO 4u
/* WM_COPYDATA to "KZ_BTWidnow" carries commands with wParam 4. */
#define KZ_COPYDATA_COMMAND 4u

/* ------------------------------------------------------ notification codes */
/* BtNotifyRecord.nCode values (channel 1, "Bluetooth"). */
enum KzNotifyCode {
    KZ_NOTIFY_DEVICE_READY = 1,        /* nParam 1 ready, 0 failure */
    KZ_NOTIFY_CONNECTION = 2,          /* nParam 0 connected, 1 failed finally, 3 disconnected/attempt failed; nLen 1 */
    KZ_NOTIFY_SIGNAL = 3,              /* nParam signal level */
    KZ_NOTIFY_BATTERY = 6,             /* nLen battery level */
    KZ_NOTIFY_CALL_RECORD = 16,        /* pData CallRecord, nLen 120 */
    KZ_NOTIFY_CALL_AUDIO = 17,         /* nParam 1 car, 0 phone */
    KZ_NOTIFY_CALL_COUNT = 18,         /* nParam number of calls */
    KZ_NOTIFY_CALL_HELD = 20,          /* nParam held state */
    KZ_NOTIFY_PHONEBOOK_ENTRY = 32,    /* pData structPhoneDate, nLen 176 */
    KZ_NOTIFY_PHONEBOOK_SIZE = 34,     /* nParam type, nLen entry count */
    KZ_NOTIFY_PHONEBOOK_NUMBER = 35,   /* pData structPhoneNum, nLen 44 */
    KZ_NOTIFY_PHONEBOOK_CHANGED = 36,  /* nParam 1 entries (nLen count), 2 numbers */
    KZ_NOTIFY_PHONEBOOK_STATE = 37,    /* nParam 0 restarted after call, 1 phonebook done, 2 call lists done */
    KZ_NOTIFY_PLAY_STATE = 50,         /* nParam 1 playing, 2 paused */
    KZ_NOTIFY_TRACK_INFO = 51,         /* pData track block, nLen 780 */
    KZ_NOTIFY_DEVICE_INFO = 64,        /* pData DeviceInfoRecord, nLen 5 */
    KZ_NOTIFY_INQUIRY = 65,            /* nParam 1: pData DeviceInfoRecord, nLen 57; 0: inquiry over */
    KZ_NOTIFY_PAIRING = 66,            /* nParam 1 chosen, 2 connected, 3 failed; pData "NN", nLen 2 */
    KZ_NOTIFY_DEVICE_DELETED = 68,     /* nParam 1, pData "NN", nLen 0 */
    KZ_NOTIFY_AUTO_CONNECT = 80,       /* nParam setting value */
    KZ_NOTIFY_PIN_CODE = 81,           /* pData 4-character PIN, nLen 4 */
    KZ_NOTIFY_MIC_MODE = 82,           /* nParam microphone mode */
    KZ_NOTIFY_MIC_GAIN = 83,           /* nParam microphone gain */
    KZ_NOTIFY_MODULE_VERSION = 84,     /* pData version text, nLen its length */
    KZ_NOTIFY_MIC_MUTE = 87,           /* nParam 1 unmuted, 0 muted */
    KZ_NOTIFY_AUTO_ANSWER = 88,        /* nParam setting value */
    KZ_NOTIFY_SETTING_NOT_SAVED = 89,  /* nParam 1 settings (BTSetting.ini), 2 pairings (tarn.ini); pData key name, nLen its length */
    KZ_NOTIFY_CONNECT_COMPLETE = 96,
    KZ_NOTIFY_PBAP_PENDING = 97        /* nParam 1 pending, 0 no longer */
};

/* Values of KZ_NOTIFY_CONNECTION's nParam. */
#define KZ_CONNECTION_CONNECTED 0u
#define KZ_CONNECTION_FAILED 1u
#define KZ_CONNECTION_DISCONNECTED 3u

/* Status posts (channel 2, "NavigRecive"): wParam, lParam pairs. */
#define KZ_NAVIG_STARTED_W 2
#define KZ_NAVIG_STARTED_L 9
#define KZ_NAVIG_HFP_CONNECTED_W 1
#define KZ_NAVIG_HFP_CONNECTED_L 2
#define KZ_NAVIG_STATE_W 2
#define KZ_NAVIG_AUDIO_IN_CAR_L 0
#define KZ_NAVIG_AUDIO_ON_PHONE_L 1
#define KZ_NAVIG_MUSIC_PLAYING_L 2
#define KZ_NAVIG_MUSIC_PAUSED_L 3
#define KZ_NAVIG_CALL_PRESENT_L 4
#define KZ_NAVIG_CALL_ENDED_L 5
#define KZ_NAVIG_SOURCE_W 5
#define KZ_NAVIG_SOURCE_NOT_A2DP_L 0

/* Phonebook types and number types. */
#define KZ_PB_PHONEBOOK 1u
#define KZ_PB_RECEIVED 2u
#define KZ_PB_DIALED 3u
#define KZ_PB_MISSED 4u
#define KZ_NUMBER_CELL 0u
#define KZ_NUMBER_WORK 1u
#define KZ_NUMBER_HOME 2u
#define KZ_NUMBER_FAX 3u

/* ------------------------------------------------------------- records */

/* Channel 1 record. pData is pointer-sized, as on 64-bit Windows. */
typedef struct BtNotifyRecord {
    uint32_t nCode;
    uint32_t nParam;
    const void* pData;
    uint32_t nLen;
} BtNotifyRecord;

#pragma pack(push, 1)

/* A phone: registry slot, inquiry result, or the current phone. 56 bytes. */
typedef struct PairedDeviceRecord {
    uint8_t address[6];
    uint8_t key[16];      /* sixteen 0xFF: no key */
    char name[32];        /* UTF-8, zero-terminated */
    uint8_t id;           /* slot 0..4, 255 empty */
    uint8_t pb;           /* 1 phonebook stored, 255 none */
} PairedDeviceRecord;

/* Block of notifications 64 and 65. 57 bytes. */
typedef struct DeviceInfoRecord {
    char slot[8];          /* "%0.2d", zero-filled */
    char name[32];         /* UTF-8, zero-terminated */
    char address[16];      /* 12 lower-case hex digits, zero-filled */
    uint8_t connected;     /* 1 for the connected phone */
} DeviceInfoRecord;

/* The current call, notification 16. 120 bytes. */
typedef struct CallRecord {
    uint32_t index;
    uint32_t state;        /* 0 active, 2 outgoing, 4 incoming */
    uint8_t reserved[56];
    char number[56];       /* UTF-8, zero-terminated */
} CallRecord;

/* Phonebook entry: notification 32 and the PhoneBookNN.dat record. 176 bytes. */
typedef struct structPhoneDate {
    uint8_t type;
    uint8_t filler1[3];
    uint32_t index;
    uint32_t PNCount;
    uint8_t reserved;
    uint8_t numberType;
    char PBNumber[32];
    char PBName[64];
    char date[32];         /* YYYY/MM/DD */
    char time[32];         /* hh:mm:ss */
    uint8_t filler2[2];
} structPhoneDate;

/* Further number of a contact: notification 35 and PhoneBookNumNN.dat. 44 bytes. */
typedef struct structPhoneNum {
    uint32_t entryIndex;
    uint32_t ordinal;
    uint8_t numberType;
    uint8_t type;
    char number[32];
    uint8_t filler[2];
} structPhoneNum;

/* Track information, notification 51. 780 bytes. */
typedef struct TrackInfoBlock {
    uint8_t zero1[12];
    char title[255];
    char artist[255];
    char album[255];
    uint8_t zero2[3];
} TrackInfoBlock;

/* Status-bar call record, WM_COPYDATA wParam 4, dwData 2. 168 bytes. */
typedef struct CallInfoRecord {
    uint8_t tag;           /* 20 */
    uint8_t zero;
    uint16_t number[81];   /* UTF-16, at most 79 characters and a zero */
    uint32_t kind;         /* 0 incoming, 1 outgoing, 2 active, 3 ended */
} CallInfoRecord;

/* Status-bar now-playing record, WM_COPYDATA wParam 3, dwData 0. 664 bytes. */
typedef struct NowPlayingRecord {
    uint8_t tag;           /* 13 */
    uint8_t zero1[3];
    uint32_t flags;        /* 0x01 texts, 0x40 field20 = 2, 0x80 clear fourth text, 0x100 play state only */
    uint32_t playState;    /* 1 playing, 2 paused, 0 other */
    uint8_t zero2[8];
    uint32_t field20;
    uint16_t title[80];
    uint16_t artist[80];
    uint16_t album[80];
    uint16_t fourth[80];
} NowPlayingRecord;

#pragma pack(pop)

KZ_STATIC_ASSERT(sizeof(PairedDeviceRecord) == 56, "PairedDeviceRecord is 56 bytes");
KZ_STATIC_ASSERT(offsetof(PairedDeviceRecord, key) == 6, "key at 6");
KZ_STATIC_ASSERT(offsetof(PairedDeviceRecord, name) == 22, "name at 22");
KZ_STATIC_ASSERT(offsetof(PairedDeviceRecord, id) == 54, "id at 54");
KZ_STATIC_ASSERT(offsetof(PairedDeviceRecord, pb) == 55, "pb at 55");

KZ_STATIC_ASSERT(sizeof(DeviceInfoRecord) == 57, "DeviceInfoRecord is 57 bytes");
KZ_STATIC_ASSERT(offsetof(DeviceInfoRecord, name) == 8, "name at 8");
KZ_STATIC_ASSERT(offsetof(DeviceInfoRecord, address) == 40, "address at 40");
KZ_STATIC_ASSERT(offsetof(DeviceInfoRecord, connected) == 56, "connected at 56");

KZ_STATIC_ASSERT(sizeof(CallRecord) == 120, "CallRecord is 120 bytes");
KZ_STATIC_ASSERT(offsetof(CallRecord, state) == 4, "state at 4");
KZ_STATIC_ASSERT(offsetof(CallRecord, reserved) == 8, "reserved at 8");
KZ_STATIC_ASSERT(offsetof(CallRecord, number) == 64, "number at 64");

KZ_STATIC_ASSERT(sizeof(structPhoneDate) == 176, "structPhoneDate is 176 bytes");
KZ_STATIC_ASSERT(offsetof(structPhoneDate, index) == 4, "index at 4");
KZ_STATIC_ASSERT(offsetof(structPhoneDate, PNCount) == 8, "PNCount at 8");
KZ_STATIC_ASSERT(offsetof(structPhoneDate, reserved) == 12, "reserved at 12");
KZ_STATIC_ASSERT(offsetof(structPhoneDate, numberType) == 13, "numberType at 13");
KZ_STATIC_ASSERT(offsetof(structPhoneDate, PBNumber) == 14, "PBNumber at 14");
KZ_STATIC_ASSERT(offsetof(structPhoneDate, PBName) == 46, "PBName at 46");
KZ_STATIC_ASSERT(offsetof(structPhoneDate, date) == 110, "date at 110");
KZ_STATIC_ASSERT(offsetof(structPhoneDate, time) == 142, "time at 142");
KZ_STATIC_ASSERT(offsetof(structPhoneDate, filler2) == 174, "filler at 174");

KZ_STATIC_ASSERT(sizeof(structPhoneNum) == 44, "structPhoneNum is 44 bytes");
KZ_STATIC_ASSERT(offsetof(structPhoneNum, ordinal) == 4, "ordinal at 4");
KZ_STATIC_ASSERT(offsetof(structPhoneNum, numberType) == 8, "numberType at 8");
KZ_STATIC_ASSERT(offsetof(structPhoneNum, type) == 9, "type at 9");
KZ_STATIC_ASSERT(offsetof(structPhoneNum, number) == 10, "number at 10");

KZ_STATIC_ASSERT(sizeof(TrackInfoBlock) == 780, "track block is 780 bytes");
KZ_STATIC_ASSERT(offsetof(TrackInfoBlock, title) == 12, "title at 12");
KZ_STATIC_ASSERT(offsetof(TrackInfoBlock, artist) == 267, "artist at 267");
KZ_STATIC_ASSERT(offsetof(TrackInfoBlock, album) == 522, "album at 522");
KZ_STATIC_ASSERT(offsetof(TrackInfoBlock, zero2) == 777, "tail at 777");

KZ_STATIC_ASSERT(sizeof(CallInfoRecord) == 168, "CallInfoRecord is 168 bytes");
KZ_STATIC_ASSERT(offsetof(CallInfoRecord, number) == 2, "number at 2");
KZ_STATIC_ASSERT(offsetof(CallInfoRecord, kind) == 164, "kind at 164");

KZ_STATIC_ASSERT(sizeof(NowPlayingRecord) == 664, "NowPlayingRecord is 664 bytes");
KZ_STATIC_ASSERT(offsetof(NowPlayingRecord, flags) == 4, "flags at 4");
KZ_STATIC_ASSERT(offsetof(NowPlayingRecord, playState) == 8, "play state at 8");
KZ_STATIC_ASSERT(offsetof(NowPlayingRecord, field20) == 20, "field at 20");
KZ_STATIC_ASSERT(offsetof(NowPlayingRecord, title) == 24, "title at 24");
KZ_STATIC_ASSERT(offsetof(NowPlayingRecord, artist) == 184, "artist at 184");
KZ_STATIC_ASSERT(offsetof(NowPlayingRecord, album) == 344, "album at 344");
KZ_STATIC_ASSERT(offsetof(NowPlayingRecord, fourth) == 504, "fourth at 504");

/* --------------------------------------------------------------- exports */

#ifdef __cplusplus
extern "C" {
#endif

KZ_TARN_API int KZ_BT_DeviceInit(void);
KZ_TARN_API int KZ_BT_CloseDevice(void);
KZ_TARN_API void KZ_BT_InquiryDevice(int start);
KZ_TARN_API void KZ_BT_PairRemoteDevice(const char* index, const char* pin);
KZ_TARN_API void KZ_BT_ConnectPairedDevice(const char* index);
KZ_TARN_API void KZ_BT_PairingRetry(void);
KZ_TARN_API void KZ_BT_DisConnectPairedDevice(void);
KZ_TARN_API void KZ_BT_DisconnectA2DP(void);
KZ_TARN_API void KZ_BT_DeletePairedDevice(const char* index);
KZ_TARN_API void KZ_BT_GetPairedDevices(void);
KZ_TARN_API void KZ_BT_Dial(const char* number);
KZ_TARN_API void KZ_BT_Answer(void);
KZ_TARN_API void KZ_BT_Hangup(void);
KZ_TARN_API void KZ_BT_End1stCall(void);
KZ_TARN_API void KZ_BT_Hold1stCall(void);
KZ_TARN_API void KZ_BT_SwitchCalls(void);   /* the same entry point as KZ_BT_Hold1stCall */
KZ_TARN_API void KZ_BT_EndWaitingCall(void);
KZ_TARN_API void KZ_BT_DTMF(int character);
KZ_TARN_API void KZ_BT_AudioTransfer(int where);
KZ_TARN_API void KZ_BT_SetPhoneMute(int mute);
KZ_TARN_API void KZ_BT_AVRCPCmd(int operation);
KZ_TARN_API void KZ_BT_SetAudioService(void);
KZ_TARN_API void KZ_BT_GetPhonBookSize(int type);
KZ_TARN_API void KZ_BT_GetPhonebookData(int type, int count);
KZ_TARN_API void KZ_BT_GetContactsFromFile(void);
KZ_TARN_API void KZ_BT_ResetATCommand(void);
KZ_TARN_API void KZ_BT_SetInitialValue(void);
KZ_TARN_API void KZ_BT_SetPinCode(const char* pin);
KZ_TARN_API void KZ_BT_SetLocalDeviceName(void); /* any argument a caller passes is ignored */
KZ_TARN_API void KZ_BT_SetAutoAnswer(int on);
KZ_TARN_API void KZ_BT_SetAutoConnect(int value);
KZ_TARN_API void KZ_BT_SetMicrophoneMode(int mode);
KZ_TARN_API void KZ_BT_GetMicrophoneMode(void);
KZ_TARN_API void KZ_BT_SetMicrophoneGain(int gain);
KZ_TARN_API void KZ_BT_GetMicrophoneGain(void);

#ifdef __cplusplus
}
/* Exported under its C++ name: does nothing. */
KZ_TARN_API void KZ_BT_SetMute(bool on);
#endif

#endif /* KZ_TARN_H */
