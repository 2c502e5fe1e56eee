// Inquiry, naming pass and the answers to the module's security requests.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "KZ_Tarn.h"

namespace kz {

// Inquiry results in discovery order; every access holds g_InquiryMutex
// (results arrive on the receive thread, the naming pass runs on the event
// thread, pairing reads it on the caller's thread).
extern std::vector<std::unique_ptr<PairedDeviceRecord>> g_vecInquiry;
extern std::mutex g_InquiryMutex;
extern std::atomic<int32_t> g_nNameReqIndex;
extern std::atomic<uint8_t> g_bInquiryRunning;
extern std::atomic<uint8_t> g_bInquiryWanted;
extern std::atomic<uint8_t> g_bNameFetching;

void StartInquiry();
void OnInquiryResult(const uint8_t* msg, size_t len);     // receive thread
void OnInquiryComplete(const uint8_t* msg, size_t len);   // receive thread
void RequestNextName();                                   // event thread
void OnRemoteName(const uint8_t* msg, size_t len);        // event thread
void OnLinkKeyRequest(const uint8_t* msg, size_t len);    // receive thread
void OnPinRequest(const uint8_t* msg, size_t len);        // receive thread
void REQ_PIN_CODE_REPLY(const uint8_t address[6]);        // id 61, at once, the stored PIN
void OnAuthoriseRequest(const uint8_t* msg, size_t len);  // receive thread
void OnPairingResult(const uint8_t* msg, size_t len);     // event thread
// Copies inquiry result n's address; false when n is outside the list.
bool GetInquiryAddress(size_t n, uint8_t out[6]);

// Frees the inquiry results (close: a new session starts a new inquiry).
void ClearInquiryList();

void ResetInquiryState();

}  // namespace kz
