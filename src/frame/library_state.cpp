// The library as one whole (see library_state.h).
#include "frame/library_state.h"

#include "channel/command_queue.h"
#include "channel/module_message.h"
#include "channel/requests.h"
#include "events/audio.h"
#include "events/calls.h"
#include "events/connection.h"
#include "events/dispatcher.h"
#include "events/inquiry.h"
#include "events/notify.h"
#include "frame/control_window.h"
#include "link/bcsp_link.h"
#include "link/link_handlers.h"
#include "phonebook/download.h"
#include "phonebook/phonebook_store.h"
#include "service/service.h"
#include "settings/registry.h"
#include "settings/settings.h"

namespace kz {

namespace {

void DeliverToDispatcher(const uint8_t* message, size_t length) {
    const uint16_t id = length >= msg::kParamOffset ? msg::Id(message) : 0;
    DispatchModuleMessage(id, message, length);
}

constexpr LinkHandlers kLinkHandlers{
    &DeliverToDispatcher,    &SendNextCmdIf,      &ReturnToQueueFront,
    &AwaitConfirmationAgain, &ConfirmationPollMs, [] { PassOverUnconfirmed(); },
};

}  // namespace

void ConnectLayers() { SetLinkHandlers(&kLinkHandlers); }

void ResetLibraryState() {
    ResetLinkState();
    ResetCommandQueue();
    ResetRequestState();
    ResetDispatcher();
    ResetNotifyState();
    ResetConnectionState();
    ResetCallState();
    ResetInquiryState();
    ResetAudioState();
    ResetSettingsState();
    ResetRegistryState();
    ResetServiceState();
    ResetPhoneBookStore();
    ResetDownloadState();
    ResetGainRestoreTimer();
    ResetControlWindowState();
    ConnectLayers();
}

}  // namespace kz
