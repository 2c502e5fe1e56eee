// Inbound dispatch: per id, what the module sees (RES, replies, released
// requests) and what reaches the event thread.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "channel/command_queue.h"
#include "channel/module_message.h"
#include "core/sync_objects.h"
#include "events/connection.h"
#include "events/dispatcher.h"
#include "link/bcsp_link.h"
#include "support/link_support.h"
#include "support/test_support.h"

namespace {

using namespace kz;
using namespace kztest;

Bytes Message(uint16_t id, uint8_t status = 0, size_t size = 8) {
    Bytes m(size, 0);
    msg::WriteHead(m.data(), m.size(), 2, id);
    m[msg::kParamOffset] = status;
    return m;
}

void Dispatch(const Bytes& m) { DispatchModuleMessage(msg::Id(m.data()), m.data(), m.size()); }

// Two requests wait for release; the count of those sent tells how often R ran.
void FillQueue() {
    g_bCfmForTheLastREQ = 0;
    for (int i = 0; i < 2; ++i) {
        auto r = std::make_unique<CmdRecord>();
        msg::ModuleHeaderTemplate(r->header, 8);
        msg::WriteHead(r->payload, 8, 1, 3);
        r->length = 8;
        r->queuedTick = KzGetTickCount();
        g_vCmdList.push_back(std::move(r));
    }
}

struct Observed {
    bool res = false;
    size_t releases = 0;
    bool queued = false;
    std::vector<uint16_t> replies;   // other messages written (id)
};

class Dispatcher : public ::testing::Test {
protected:
    void SetUp() override { ResetAllState(); }
    void TearDown() override { ResetAllState(); }

    Observed Run(uint16_t id, uint8_t status = 0) {
        ResetAllState();
        UartCapture wire;
        SubmitRecorder sent;
        FillQueue();
        Dispatch(Message(id, status));
        Observed o;
        o.releases = 2 - g_vCmdList.size();
        o.queued = !g_lstInbound.empty() && g_lstInbound.front()->nMsgId == id;
        for (const auto& m : sent.Messages()) {
            const Bytes res = {0x03, 0x00, 0x55, 0x02, uint8_t(id & 0xFF), uint8_t(id >> 8)};
            if (m.bytes == res && m.mode == kSubmitReply) o.res = true;
            else o.replies.push_back(m.id());
        }
        return o;
    }
};

struct Expect {
    std::vector<uint16_t> ids;
    bool res;
    size_t releases;
    bool queued;
    std::vector<uint16_t> replies;
};

TEST_F(Dispatcher, Table_EachIdGetsItsActions) {
    const Expect table[] = {
        {{3, 5, 6, 9, 10, 11, 16, 18, 24, 26, 30, 33, 80, 82, 84, 86, 90, 254, 256, 257, 258, 259,
          288, 289, 512},
         false, 1, false, {}},
        {{4, 8, 12, 13, 14, 15, 23, 88}, false, 1, true, {}},
        {{20}, false, 2, true, {}},
        {{48, 50, 51, 52, 53, 59, 113, 115, 121, 122, 273, 274, 277, 308, 310, 528}, true, 0, true, {}},
        {{49, 54, 55, 56, 58, 62, 64, 112, 114, 116, 117, 118, 119, 120, 123, 124, 125, 162, 163,
          164, 272, 275, 276, 309, 311},
         true, 0, false, {}},
        {{160}, false, 0, false, {160}},
        {{161}, false, 0, false, {161}},
        {{290}, false, 1, false, {291}},
        {{529}, false, 0, true, {529}},
        // Security requests are answered by their own handlers, never by a RES.
        {{60}, false, 0, false, {60}},
        {{61}, false, 0, false, {61}},
        {{63}, false, 0, false, {63}},
        {{0, 1, 2, 7, 17, 165, 200, 253, 255, 260, 271, 278, 287, 291, 300, 307, 312, 511, 513,
          527, 530, 0xFFFF},
         false, 0, false, {}},
    };
    for (const auto& row : table) {
        for (uint16_t id : row.ids) {
            const Observed o = Run(id);
            EXPECT_EQ(o.res, row.res) << "id " << id;
            EXPECT_EQ(o.releases, row.releases) << "id " << id;
            EXPECT_EQ(o.queued, row.queued) << "id " << id;
            EXPECT_EQ(o.replies, row.replies) << "id " << id;
        }
    }
}

// A module message with these parameters from byte 6.
Bytes WithParams(uint16_t id, const Bytes& params) {
    Bytes m(6 + params.size() + (params.size() & 1), 0);
    msg::WriteHead(m.data(), m.size(), 2, id);
    std::copy(params.begin(), params.end(), m.begin() + msg::kParamOffset);
    return m;
}

TEST_F(Dispatcher, DependData_TakesTheTypeOfItsOwnHeader_ThoughTheNextHeaderArrivedBeforeItWasHandled) {
    HostWindows host;
    SubmitRecorder sent;
    g_bHfpConnected = 1;
    // GetElementAttributes answer (type 12) with the title "T", then the interim
    // answer to a play-status registration (type 15), both received before
    // the event thread takes the first data message.
    const Bytes attributes = {0x20, 0x00, 0x00, 0x0A, 0x01, 0x00, 0x00, 0x00,
                              0x01, 0x00, 0x6A, 0x00, 0x01, 'T'};
    const Bytes interim = {0x31, 0x00, 0x00, 0x02, 0x01, 0x01};
    Bytes data1 = {0x00, uint8_t(attributes.size())};
    data1.insert(data1.end(), attributes.begin(), attributes.end());
    Bytes data2 = {0x00, uint8_t(interim.size())};
    data2.insert(data2.end(), interim.begin(), interim.end());
    Dispatch(WithParams(310, {12, 0x00, uint8_t(attributes.size())}));
    Dispatch(WithParams(308, data1));
    Dispatch(WithParams(310, {15, 0x00, uint8_t(interim.size())}));
    Dispatch(WithParams(308, data2));
    DrainInboundQueue();

    std::vector<uint32_t> codes;
    for (const auto& n : host.Notifications())
        if (n.code == KZ_NOTIFY_TRACK_INFO || n.code == KZ_NOTIFY_PLAY_STATE) codes.push_back(n.code);
    EXPECT_EQ(codes, (std::vector<uint32_t>{KZ_NOTIFY_TRACK_INFO, KZ_NOTIFY_PLAY_STATE}));
    const auto notes = host.Notifications();
    for (const auto& n : notes) {
        if (n.code != KZ_NOTIFY_TRACK_INFO) continue;
        TrackInfoBlock t;
        std::memcpy(&t, n.data.data(), sizeof t);
        EXPECT_STREQ(t.title, "T");
    }
}

TEST_F(Dispatcher, ModuleReady_IsMarkedPendingForTheLinkAck) {
    Run(48);
    EXPECT_EQ(g_bModuleReadyPending, 1);
}

TEST_F(Dispatcher, MediaFlag_FollowsOpenAndCloseWithTheirStatus) {
    const struct {
        uint16_t id;
        uint8_t status;
        uint8_t before, after;
    } cases[] = {
        {258, 0, 0, 1}, {258, 1, 0, 0}, {259, 0, 1, 0}, {259, 3, 1, 1},
        {275, 0, 0, 1}, {275, 9, 0, 1},   // an indication has no status
        {276, 0, 1, 0}, {276, 9, 1, 0},
    };
    for (const auto& c : cases) {
        SubmitRecorder sent;
        g_bMediaOpen = c.before;
        Dispatch(Message(c.id, c.status));
        EXPECT_EQ(g_bMediaOpen, c.after) << c.id << " status " << int(c.status);
    }
}

TEST_F(Dispatcher, PhonebookData_AcceptedOnlyWithHfpAndQueuedEitherWay) {
    for (uint8_t hfp : {0, 1}) {
        ResetAllState();
        SubmitRecorder sent;
        g_bHfpConnected = hfp;
        Dispatch(Message(529));
        auto msgs = sent.Messages();
        ASSERT_EQ(msgs.size(), 1u);
        EXPECT_EQ(msgs[0].id(), 529);
        EXPECT_EQ(msgs[0].mode, kSubmitReply);
        EXPECT_EQ(msgs[0].bytes[6], hfp);
        ASSERT_EQ(g_lstInbound.size(), 1u);
    }
}

TEST_F(Dispatcher, OversizedMessage_IsDropped) {
    SubmitRecorder sent;
    Bytes big = Message(54, 0, msg::kMaxInbound + 2);
    Dispatch(big);
    Bytes big48 = Message(48, 0, msg::kMaxInbound + 2);
    Dispatch(big48);
    EXPECT_TRUE(sent.Messages().empty());
    EXPECT_TRUE(g_lstInbound.empty());
    Bytes fits = Message(48, 0, msg::kMaxInbound);
    Dispatch(fits);
    EXPECT_EQ(g_lstInbound.size(), 1u);
    EXPECT_EQ(g_lstInbound.front()->nLength, msg::kMaxInbound);
}

TEST_F(Dispatcher, QueuedCopy_IsZeroFilledAfterTheMessage) {
    SubmitRecorder sent;
    Dispatch(Message(308, 0, 600));   // leaves stale bytes in the dispatch buffer
    Bytes small = Message(50, 7);
    small.resize(7);
    Dispatch(small);
    ASSERT_EQ(g_lstInbound.size(), 2u);
    const InboundRecord* r = g_lstInbound.back().get();
    EXPECT_EQ(r->nLength, 7);
    EXPECT_EQ(r->abData[6], 7);
    for (size_t i = 7; i < sizeof r->abData; ++i) ASSERT_EQ(r->abData[i], 0) << i;
}

// ------------------------------------------------------------ test mode

// The event thread's handling of a burst in arrival order is the spine
// scenario's; here, what one confirmation does.
std::vector<std::string> g_boxes;

int RecordBox(const char* text, const char* caption, uint32_t style, void*) {
    g_boxes.push_back(std::string(caption) + "|" + text + "|" + std::to_string(style));
    return KZ_IDNO;
}

TEST_F(Dispatcher, TestModeConfirmation_SetsTheFlagAndShowsTheBox) {
    g_boxes.clear();
    KzSetMessageBoxHandler(&RecordBox, nullptr);
    Bytes noStatus = Message(20, 2);
    noStatus.resize(6);   // a byte past the end reads 0: success
    for (const auto& [m, dut] : {std::pair{Message(20, 2), 0}, {Message(20, 0), 1}, {Message(20, 2), 0}, {noStatus, 1}}) {
        OnTestModeCfm(m.data(), m.size());
        EXPECT_EQ(g_bDutMode, dut) << m.size();
    }
    KzSetMessageBoxHandler(nullptr, nullptr);
    EXPECT_EQ(g_boxes, (std::vector<std::string>{"DUT Mode|Enter DUT Mode FAILED|262148",
                                                 "DUT Mode|Enter DUT Mode SUCCESS|262148",
                                                 "DUT Mode|Enter DUT Mode FAILED|262148",
                                                 "DUT Mode|Enter DUT Mode SUCCESS|262148"}));
}

}  // namespace
