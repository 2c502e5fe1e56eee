// Resets the process-wide state of every subsystem between tests. Each
// subsystem adds its reset here when it lands.
#include "channel/command_queue.h"
#include "channel/requests.h"
#include "events/audio.h"
#include "events/calls.h"
#include "events/connection.h"
#include "events/dispatcher.h"
#include "events/inquiry.h"
#include "events/notify.h"
#include "frame/control_window.h"
#include "link/bcsp_codec.h"
#include "link/bcsp_link.h"
#include "phonebook/download.h"
#include "phonebook/phonebook_store.h"
#include "service/service.h"
#include "settings/registry.h"
#include "settings/settings.h"
#include "support/test_support.h"

namespace kztest {

void ResetAllState() {
    kz::ResetCommandQueue();
    kz::ResetLinkState();
    kz::SetDeliveryBoundForTest(0);
    kz::ResetDispatcher();
    kz::ResetConnectionState();
    kz::ResetCallState();
    kz::ResetRequestState();
    kz::ResetNotifyState();
    kz::ResetControlWindowState();
    kz::ResetSettingsState();
    kz::ResetRegistryState();
    kz::ResetServiceState();
    kz::ResetInquiryState();
    kz::ResetAudioState();
    kz::ResetPhoneBookStore();
    kz::ResetDownloadState();
}

}  // namespace kztest
