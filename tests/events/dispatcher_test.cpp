// Inbound dispatch: per id, what the module sees (RES, replies, released
// requests) and what reaches the event thread.
#include <cstring>

#include "channel/command_queue.h"
#include "channel/module_message.h"
#include "channel/requests.h"
#include "core/sync_objects.h"
#include "event_test_util.h"
#include "events/dispatcher.h"
#include "link/bcsp_link.h"
#include "support/link_support.h"

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

class Dispatcher : public EventsTest {
protected:
    // What dispatching `id` did, with two requests waiting for release:
    // "res", "released N", "queued" (for the event thread), "reply N" (other messages written).
    std::string Run(uint16_t id) {
        ResetState();
        UartCapture wire;
        g_bCfmForTheLastREQ = 0;
        for (int i = 0; i < 2; ++i) {
            auto r = std::make_unique<CmdRecord>();
            msg::ModuleHeaderTemplate(r->header, 8);
            msg::WriteHead(r->payload, 8, 1, 3);
            r->length = 8;
            r->queuedTick = KzGetTickCount();
            g_vCmdList.push_back(std::move(r));
        }
        Dispatch(Message(id));
        std::string res, replies;
        for (const auto& m : recorder.Messages()) {
            if (m.bytes == Bytes{0x03, 0x00, 0x55, 0x02, uint8_t(id & 0xFF), uint8_t(id >> 8)} && m.mode == kSubmitReply)
                res = " res";
            else
                replies += " reply " + std::to_string(m.id());
        }
        const size_t released = 2 - g_vCmdList.size();
        const bool queued = !g_lstInbound.empty() && g_lstInbound.front()->nMsgId == id;
        std::string out = res + (released ? " released " + std::to_string(released) : "") + (queued ? " queued" : "") + replies;
        return out.empty() ? "nothing" : out.substr(1);
    }
};

TEST_F(Dispatcher, Table_EachIdGetsItsActions) {
    const std::pair<std::vector<uint16_t>, std::string> table[] = {
        {{3, 5, 6, 9, 10, 11, 16, 18, 24, 26, 30, 33, 80, 82, 84, 86, 90, 254, 256, 257, 258, 259, 288, 289, 512},
         "released 1"},
        {{4, 8, 12, 13, 14, 15, 23, 88}, "released 1 queued"},
        {{20}, "released 2 queued"},
        {{48, 50, 51, 52, 53, 59, 113, 115, 121, 122, 273, 274, 277, 308, 310, 528}, "res queued"},
        {{49, 54, 55, 56, 58, 62, 64, 112, 114, 116, 117, 118, 119, 120, 123, 124, 125, 162, 163, 164, 272, 275,
          276, 309, 311},
         "res"},
        {{160}, "reply 160"},
        {{161}, "reply 161"},
        {{290}, "released 1 reply 291"},
        {{529}, "queued reply 529"},
        // Security requests are answered by their own handlers, never by a RES.
        {{60}, "reply 60"},
        {{61}, "reply 61"},
        {{63}, "reply 63"},
        {{0, 1, 2, 7, 17, 165, 200, 253, 255, 260, 271, 278, 287, 291, 300, 307, 312, 511, 513, 527, 530, 0xFFFF},
         "nothing"},
    };
    for (const auto& [ids, did] : table)
        for (uint16_t id : ids) EXPECT_EQ(Run(id), did) << "id " << id;
}

TEST_F(Dispatcher, DependData_TakesTheTypeOfItsOwnHeader_ThoughTheNextHeaderArrivedBeforeItWasHandled) {
    g_bHfpConnected = 1;
    // A GetElementAttributes answer (type 12) with the title "T", then the
    // interim answer to a play-status registration (type 15), both received
    // before the event thread takes the first data message.
    const Bytes attributes = {0x20, 0, 0, 0x0A, 1, 0, 0, 0, 1, 0, 0x6A, 0, 1, 'T'};
    const Bytes interim = {0x31, 0, 0, 2, 1, 1};
    Bytes data1 = {0, uint8_t(attributes.size())}, data2 = {0, uint8_t(interim.size())};
    data1.insert(data1.end(), attributes.begin(), attributes.end());
    data2.insert(data2.end(), interim.begin(), interim.end());
    for (const auto& m : {Msg(310, {12, 0, uint8_t(attributes.size())}), Msg(308, data1),
                          Msg(310, {15, 0, uint8_t(interim.size())}), Msg(308, data2)})
        Dispatch(m);
    DrainInboundQueue();
    EXPECT_EQ(Take(), (std::vector<std::string>{"id 310 -", "id 308 -", "id 310 -", "id 308 -", "mask 15",
                                                "51/0:780 T||", "50/1", "navig 2/2"}));
}

TEST_F(Dispatcher, ModuleReadyMarkedPendingForTheLinkAck_FailedDialForgetsTheNumber) {
    Run(48);
    EXPECT_EQ(g_bModuleReadyPending, 1);
    std::strcpy(g_CallSetupNum, "112");
    Dispatch(Message(82, 0));
    EXPECT_STREQ(g_CallSetupNum, "112");
    Dispatch(Message(82, 1));
    EXPECT_STREQ(g_CallSetupNum, "");
}

TEST_F(Dispatcher, MediaFlag_FollowsOpenAndCloseWithTheirStatus) {
    const struct {
        uint16_t id;
        uint8_t status, before, after;
    } cases[] = {
        {258, 0, 0, 1}, {258, 1, 0, 0}, {259, 0, 1, 0}, {259, 3, 1, 1},
        {275, 0, 0, 1}, {275, 9, 0, 1},   // an indication has no status
        {276, 0, 1, 0}, {276, 9, 1, 0},
    };
    for (const auto& c : cases) {
        g_bMediaOpen = c.before;
        Dispatch(Message(c.id, c.status));
        EXPECT_EQ(g_bMediaOpen, c.after) << c.id << " status " << int(c.status);
    }
}

TEST_F(Dispatcher, PhonebookData_AcceptedOnlyWithHfpAndQueuedEitherWay) {
    for (uint8_t hfp : {0, 1}) {
        g_bHfpConnected = hfp;
        Dispatch(Message(529));
        ASSERT_EQ(recorder.Messages().size(), 1u);
        EXPECT_EQ(recorder.Messages()[0].mode, kSubmitReply);
        EXPECT_EQ(Take(), std::vector<std::string>{"id 529 " + std::to_string(hfp)});
        EXPECT_EQ(g_lstInbound.size(), hfp + 1u);
    }
}

TEST_F(Dispatcher, OversizedMessage_IsDropped_QueuedCopyIsZeroFilledAfterTheMessage) {
    Dispatch(Message(54, 0, msg::kMaxInbound + 2));
    Dispatch(Message(48, 0, msg::kMaxInbound + 2));
    EXPECT_TRUE(recorder.Messages().empty());
    EXPECT_TRUE(g_lstInbound.empty());
    Bytes fits = Message(48, 0, msg::kMaxInbound);
    std::fill(fits.begin() + 7, fits.end(), 0xEE);   // left in the dispatch buffer
    Dispatch(fits);
    EXPECT_EQ(g_lstInbound.back()->nLength, msg::kMaxInbound);
    Bytes small = Message(50, 7);
    small.resize(7);
    Dispatch(small);
    ASSERT_EQ(g_lstInbound.size(), 2u);
    const InboundRecord* r = g_lstInbound.back().get();
    EXPECT_EQ(r->nLength, 7);
    EXPECT_EQ(r->abData[6], 7);
    for (size_t i = 7; i < sizeof r->abData; ++i) ASSERT_EQ(r->abData[i], 0) << i;
}

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
    const std::string failed = "DUT Mode|Enter DUT Mode FAILED|262148", ok = "DUT Mode|Enter DUT Mode SUCCESS|262148";
    EXPECT_EQ(g_boxes, (std::vector<std::string>{failed, ok, failed, ok}));
}

}  // namespace
