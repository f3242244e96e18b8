// The video capture's channel table, driven by a fixture that creates the
// channels and journals what they are asked.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/CIPVideoCapture.h"
#include "tools/host/ChannelSink.h"
#include "web/HUtils.h"

namespace {

using dravnel::ChannelParams;
using dravnel::CIPVideoCapture;
using dravnel::ipcapture::IHostChannelSink;
using Events = std::vector<std::string>;

// Events such as "create 2" and "start 2 40/50/704x576" (interval, mode word,
// size), and what the channels answer.
struct Journal {
    void Add(const std::string& what, unsigned index, const ChannelParams* p = nullptr) {
        std::string event = what + " " + std::to_string(index);
        if (p) event += dravnel::HUtils::Format(" %u/%u/%ux%u", p->FrameInterval, p->ModeWord, p->Width, p->Height);
        std::lock_guard<std::mutex> guard(mutex);
        events.push_back(std::move(event));
    }

    std::mutex mutex;
    Events events;
    std::atomic<bool> startResult{true};
    std::atomic<int> state{dravnel::kChannelStreaming};
    std::atomic<int> live{0};  // channels not yet deleted
};

class FakeChannel : public dravnel::ICameraChannel {
public:
    FakeChannel(Journal& journal, unsigned index) : journal_(journal), index_(index) { ++journal_.live; }
    ~FakeChannel() override {
        journal_.Add("delete", index_);
        --journal_.live;
    }
    bool Start(const ChannelParams& params) override {
        journal_.Add("start", index_, &params);
        return journal_.startResult;
    }
    void Stop() override { journal_.Add("stop", index_); }
    bool UpdateParams(const ChannelParams& params) override {
        journal_.Add("update", index_, &params);
        return true;
    }
    int GetChannelState() override { return journal_.state; }

private:
    Journal& journal_;
    const unsigned index_;
};

class VideoCapture : public ::testing::Test, public dravnel::ICustomCreator {
protected:
    dravnel::ICameraChannel* CreateChannel(unsigned channel, IHostChannelSink* hostSink) override {
        journal.Add("create", channel);
        lastSink = hostSink;
        return create ? new FakeChannel(journal, channel) : nullptr;
    }
    dravnel::ICameraChannel* CreateSecondaryChannel(unsigned channel, IHostChannelSink*) override {
        journal.Add("secondary", channel);
        return nullptr;
    }

    Journal journal;
    std::atomic<bool> create{true};
    std::atomic<IHostChannelSink*> lastSink{nullptr};
    dravnel::host::ChannelSink sink{false};
    dravnel::host::ChannelDescription description;
};

// Indexes at or above the count are refused or empty. A start builds the
// parameters from the low 16 bits of the description and hands the channel
// the host's sink; a start on a running index stops and deletes the old
// channel first, and asks for a secondary stream only when one is wanted. A
// channel that fails to start stays in its entry until stopped. The status is
// streaming (0) or signal lost (2), a stopped channel counting as lost;
// detail and text are cleared, the text only when it has a size. An update of
// an empty entry creates nothing; otherwise it gives the size and interval
// and leaves the mode word to the channel. Destruction stops and deletes
// every channel.
TEST_F(VideoCapture, StartStatusUpdateAndDestroy) {
    {
        CIPVideoCapture capture(this, 3);
        int state = -1;
        int detail = 99;
        char text[8] = "junk";
        EXPECT_FALSE(capture.StartChannel(3, &sink, &description));
        EXPECT_FALSE(capture.StopChannel(3));
        EXPECT_FALSE(capture.UpdateChannel(7, &description, 40));
        EXPECT_FALSE(capture.GetChannelStatus(3, &state, nullptr, nullptr, 0));
        EXPECT_FALSE(capture.GetChannelStatus(0, &state, &detail, text, sizeof text));
        EXPECT_EQ(state, -1);
        EXPECT_EQ(detail, 0);
        EXPECT_STREQ(text, "");
        EXPECT_FALSE(capture.UpdateChannel(0, &description, 100));

        description.frameInterval = 0x10028;  // 40 ms
        description.modeWord = 0x20032;       // quality 50
        description.width = 0x102C0;          // 704
        ASSERT_TRUE(capture.StartChannel(0, &sink, &description));
        EXPECT_EQ(lastSink.load(), &sink);
        description.secondary = true;
        ASSERT_TRUE(capture.StartChannel(0, &sink, &description));
        // channel state, as the host sees it
        const std::pair<int, int> states[] = {
            {dravnel::kChannelStreaming, 0}, {dravnel::kChannelSignalLost, 2}, {dravnel::kChannelStopped, 2}};
        for (const auto& [channelState, reported] : states) {
            journal.state = channelState;
            detail = 99;
            std::strcpy(text, "junk");
            EXPECT_TRUE(capture.GetChannelStatus(0, &state, &detail, text, sizeof text));
            EXPECT_EQ(state, reported);
            EXPECT_EQ(detail, 0);
            EXPECT_STREQ(text, "");
        }
        std::strcpy(text, "keep");
        capture.GetChannelStatus(0, &state, &detail, text, 0);
        EXPECT_STREQ(text, "keep");

        description.width = 0x10160;  // 352
        description.height = 288;
        EXPECT_TRUE(capture.UpdateChannel(0, &description, 0x7019));
        ASSERT_TRUE(capture.StartChannel(2, &sink, &description));

        create = false;  // no channel from the creator: the entry stays empty
        EXPECT_FALSE(capture.StartChannel(1, &sink, &description));
        EXPECT_FALSE(capture.StopChannel(1));
        create = true;
        journal.startResult = false;  // no secondary stream is asked for then
        EXPECT_FALSE(capture.StartChannel(1, &sink, &description));
        EXPECT_TRUE(capture.GetChannelStatus(1, &state, nullptr, nullptr, 0));
        EXPECT_TRUE(capture.StopChannel(1));
        EXPECT_FALSE(capture.StopChannel(1));
    }
    std::string events;
    for (const std::string& e : journal.events) events += (events.empty() ? "" : ", ") + e;
    EXPECT_EQ(events,
              "create 0, start 0 40/50/704x576, stop 0, delete 0, create 0, start 0 40/50/704x576, secondary 0, "
              "update 0 28697/0/352x288, create 2, start 2 40/50/352x288, secondary 2, create 1, create 1, "
              "start 1 40/50/352x288, stop 1, delete 1, stop 0, delete 0, stop 2, delete 2");
}

// Starts, stops, updates and status queries race on the same indexes: every
// channel created is deleted (a displaced one too), and no call reaches a
// channel after its deletion (ASan would see it).
TEST_F(VideoCapture, HostThreadsWorkingOnTheSameIndexesLoseNoChannel) {
    {
        CIPVideoCapture capture(this, 2);
        std::vector<std::thread> threads;
        for (unsigned t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                int state = 0;
                for (unsigned i = 0; i < 300; ++i) {
                    switch ((i + t) % 4) {
                    case 0:
                        capture.StartChannel(i % 2, &sink, &description);
                        break;
                    case 1:
                        capture.StopChannel(i % 2);
                        break;
                    case 2:
                        capture.UpdateChannel(i % 2, &description, 40);
                        break;
                    default:
                        capture.GetChannelStatus(i % 2, &state, nullptr, nullptr, 0);
                        break;
                    }
                }
            });
        for (auto& thread : threads) thread.join();
    }
    EXPECT_FALSE(journal.events.empty());
    EXPECT_EQ(journal.live, 0);
}

}  // namespace
