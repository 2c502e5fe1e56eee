// The phone model behind the simulated module: what the module and a phone do
// in answer to the host's requests, and the indications a phone produces on
// its own (calls, signal, battery, music, pairing, phonebook data).
//
// Every method is safe from any thread. Scripted methods queue the module's
// messages; they go out one reliable packet at a time, in the order queued.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kzsim {

using Address = std::array<uint8_t, 6>;

// Profile numbers as they travel in connect and disconnect messages.
enum class Profile : uint8_t { Hfp = 1, A2dp = 3, Avrcp = 4, Pbap = 5 };

// Phonebook list types of the pull request.
enum class ListType : uint16_t { Phonebook = 1, Received = 2, Dialed = 3, Missed = 4 };

// One telephone line of a contact: type is the vCard TEL parameter
// ("CELL", "WORK", "HOME", "FAX" or "" for none).
struct PhoneNumber {
    std::string type;
    std::string number;
};

struct Contact {
    std::string formattedName;     // FN; empty = no FN line
    std::string family, given;     // N: family;given;;;
    std::vector<PhoneNumber> numbers;
};

struct CallEntry {
    std::string name;
    std::string number;
    std::string time;              // "YYYYMMDDThhmmss"; empty = no time stamp line
};

// A phone within reach of an inquiry.
struct RemoteDevice {
    Address address{};
    std::string name;
    bool answersName = true;       // false: the remote-name request fails
};

struct Track {
    std::string title, artist, album;
};

// How the phonebook text is produced.
struct VCardStyle {
    bool version30 = false;        // "VERSION:3.0" instead of "2.1"
    bool quotedPrintable = false;  // names as CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE
    bool foldLongLines = false;    // soft line breaks in quoted-printable names
    size_t chunkSize = 200;        // text bytes per IND 529 (cut anywhere)
};

// Sink for the module's outgoing messages; the simulator implements it.
class Outbox {
public:
    virtual ~Outbox() = default;
    virtual void Indication(uint16_t id, const std::vector<uint8_t>& params) = 0;
    // A CFM for id: status (possibly overridden by the simulator's
    // SetConfirmStatus) followed by the extra result parameters.
    virtual void Confirm(uint16_t id, uint8_t status, const std::vector<uint8_t>& extra) = 0;
};

class Phone {
public:
    Phone();
    ~Phone();
    Phone(const Phone&) = delete;
    Phone& operator=(const Phone&) = delete;
    void SetOutbox(Outbox* outbox);   // simulator use
    // Back to not connected, no call, nothing streaming; keeps the
    // configuration (contacts, devices, keys, track, style). Sends nothing.
    void Reset();

    // Handles one message from the host. Returns false for ids the phone model
    // does not know (the simulator then sends a plain CFM).
    bool OnRequest(uint16_t id, const std::vector<uint8_t>& message);

    // ---- identity and profiles ----
    // The phone answers connect requests for its own address; a request for
    // a nearby device's address makes the model become that device.
    void setAddress(const Address& address);
    void setName(const std::string& name);
    Address address() const;
    bool connected(Profile p) const;
    // Connect requests for this profile are confirmed with this status.
    void setConnectStatus(Profile p, uint8_t status);
    // The phone connects a profile on its own (IND 50) or drops it (IND 51).
    void connectProfile(Profile p);
    void disconnectProfile(Profile p, uint8_t status = 0);

    // ---- pairing ----
    // With authentication on, an HFP connect request runs the module's
    // security exchange before its CFM: link-key request (IND 60); without
    // the phone's key, PIN request (IND 61), then the pairing result (IND 59)
    // with a new key. A phone-initiated HFP connection asks for authorisation
    // (IND 63) first. pin empty = any PIN is accepted. Default: off.
    void setAuthentication(bool on, const std::string& pin = "");
    std::optional<std::array<uint8_t, 16>> linkKey() const;
    void setLinkKey(const std::optional<std::array<uint8_t, 16>>& key);
    // Single security indications, for scripting by hand.
    void requestLinkKey();                        // IND 60
    void requestPin();                            // IND 61 with the phone's name
    void requestAuthorisation(uint8_t service);   // IND 63
    void pairingResult(uint8_t status, const std::array<uint8_t, 16>& key);  // IND 59

    // ---- inquiry ----
    // REQ_INQUIRY reports each (IND 49) then confirms; REQ_REMOTE_NAME answers
    // with the name, or fails for a device with answersName false.
    void setNearbyDevices(const std::vector<RemoteDevice>& devices);

    // ---- calls and indicators (IND 113: byte 6 indicator, byte 7 value) ----
    void ring(const std::string& number);         // incoming call (or waiting, while talking)
    void answer();                                // answered on the phone
    void remoteAnswer();                          // the dialled party answers
    void hangup();                                // the call ends (either side)
    void waitingCall(const std::string& number);  // second call while talking
    void setAutoRemoteAnswer(bool on);            // dialled calls are answered at once
    // Signal and battery are reported while HFP is connected (and when it
    // connects); otherwise only stored.
    void setSignal(uint8_t level);
    void setBattery(uint8_t level);
    void setService(bool on);
    void setRoaming(bool on);
    void indicator(uint8_t which, uint8_t value); // any HFP indicator
    void callAudio(bool inCar);                   // IND 52 / IND 53
    void micMute(bool muted);                     // IND 277: byte 6 1 mic on, 0 muted
    bool callActive() const;
    int callSetup() const;                        // 0 none, 1 incoming, 2 outgoing, 3 alerting
    std::string dialledNumber() const;            // last REQ_DIAL number

    // ---- music ----
    void setAvrcpVersion(uint16_t version);       // 0x0100 = 1.0, 0x0104 = 1.4 (default)
    void setTrack(const Track& track);
    void setPlaylist(const std::vector<Track>& tracks);   // forward / backward step through it
    void setAttributeFragment(size_t bytes);      // IND 308 fragment size (0 = whole)
    void openMedia();                             // IND 275 (the phone opened the stream)
    void closeMedia();                            // IND 276
    void play();                                  // IND 273 (+ play-status notification)
    void pause();                                 // IND 274 (+ play-status notification)
    void changeTrack(const Track& track);         // track-changed notification when registered
    bool playing() const;

    // ---- phonebook ----
    void setContacts(const std::vector<Contact>& contacts);
    std::vector<Contact> contacts() const;
    void setCallList(ListType type, const std::vector<CallEntry>& calls);
    void setVCardStyle(const VCardStyle& style);
    // After the next size-only pull of this list, it shrinks by this many.
    void shrinkAfterSize(ListType type, size_t entries);
    // Replaces the generated text of one list by these vCards, as given (for
    // phones that send malformed ones); each string counts as one entry.
    void setRawVCards(ListType type, const std::vector<std::string>& vcards);
    // The vCard text the phone sends for a pull.
    std::string vCardText(ListType type, size_t start, size_t count) const;

private:
    struct State;
    template <typename F>
    void Do(F&& f);   // runs f(state, outbox) under the lock, if wired

    mutable std::mutex mutex_;
    std::unique_ptr<State> state_;
    Outbox* outbox_ = nullptr;
};

}  // namespace kzsim
