#include "download_watch.h"

#include "KZ_Tarn.h"

namespace kztool {

namespace {
constexpr int64_t kRestartedAfterCall = 0;
constexpr int64_t kPhonebookFinished = 1;
}  // namespace

void DownloadWatch::Requested(int type) {
    if (type != KZ_PB_PHONEBOOK) return;   // a call list is fetched again whole, never resumed
    running_ = answerDue_ = true;
    interrupted_ = false;
}

bool DownloadWatch::Follow(const Event& e) {
    if (e.channel == "outcome" && e.Text("command") == "phonebook" && answerDue_) {
        answerDue_ = false;
        // A request the library refused (a phonebook it has already) or the phone failed.
        if (e.name == "failed") running_ = false;
    }
    if (e.channel != "notify") return true;
    if (e.code == KZ_NOTIFY_CONNECTION && e.Number("value") == KZ_CONNECTION_DISCONNECTED && running_) {
        running_ = interrupted_ = false;
        words_ = "phonebook stopped: the phone disconnected";
    }
    if (e.code == KZ_NOTIFY_PHONEBOOK_ENTRY && e.Number("type") == KZ_PB_PHONEBOOK && interrupted_) {
        interrupted_ = false;
        words_ = "phonebook restarted after the call";
    }
    if (e.code != KZ_NOTIFY_PHONEBOOK_STATE) return true;
    if (e.Number("value") != kRestartedAfterCall) {
        if (e.Number("value") == kPhonebookFinished) running_ = interrupted_ = false;
        words_ = e.text;
        return true;
    }
    if (!running_) return false;
    interrupted_ = true;
    words_ = "phonebook interrupted by the call";
    return true;
}

}  // namespace kztool
