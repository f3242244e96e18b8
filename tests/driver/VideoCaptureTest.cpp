// The video capture's channel table, driven with a creator of channels that
// write what they are asked into one journal.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/CIPVideoCapture.h"
#include "tools/host/ChannelSink.h"

namespace {

using dravnel::ChannelParams;
using dravnel::CIPVideoCapture;
using dravnel::ipcapture::IHostChannelSink;
using quarnel::host::ChannelDescription;

// Events such as "create 2" and "start 2 40/50/704x576" (interval, mode word, size).
struct Journal {
    std::mutex mutex;
    std::vector<std::string> events;
    std::atomic<int> created{0}, deleted{0};

    void Add(const std::string& what, unsigned index, const ChannelParams* p = nullptr) {
        std::string event = what + " " + std::to_string(index);
        if (p) {
            event += " " + std::to_string(p->FrameInterval) + "/" + std::to_string(p->ModeWord) + "/" +
                     std::to_string(p->Width) + "x" + std::to_string(p->Height);
        }
        std::lock_guard<std::mutex> guard(mutex);
        events.push_back(std::move(event));
    }
};

class FakeChannel : public dravnel::ICameraChannel {
public:
    FakeChannel(Journal& journal, unsigned index, bool startResult, int state)
        : journal_(journal), index_(index), startResult_(startResult), state_(state) {
        ++journal_.created;
    }
    ~FakeChannel() override {
        journal_.Add("delete", index_);
        ++journal_.deleted;
    }
    bool Start(const ChannelParams& params) override {
        journal_.Add("start", index_, &params);
        return startResult_;
    }
    void Stop() override { journal_.Add("stop", index_); }
    bool UpdateParams(const ChannelParams& params) override {
        journal_.Add("update", index_, &params);
        return true;
    }
    int GetChannelState() override { return state_; }

private:
    Journal& journal_;
    unsigned index_;
    bool startResult_;
    int state_;
};

class FakeCreator : public dravnel::ICustomCreator {
public:
    explicit FakeCreator(Journal& journal) : journal_(journal) {}
    dravnel::ICameraChannel* CreateChannel(unsigned channel, IHostChannelSink* sink) override {
        journal_.Add("create", channel);
        lastSink = sink;
        return create ? new FakeChannel(journal_, channel, startResult, state) : nullptr;
    }
    dravnel::ICameraChannel* CreateSecondaryChannel(unsigned channel, IHostChannelSink*) override {
        journal_.Add("secondary", channel);
        return nullptr;
    }

    std::atomic<bool> create{true};
    std::atomic<bool> startResult{true};
    std::atomic<int> state{dravnel::kChannelStreaming};
    std::atomic<IHostChannelSink*> lastSink{nullptr};

private:
    Journal& journal_;
};

class VideoCapture : public ::testing::Test {
protected:
    using Events = std::vector<std::string>;
    Events Journaled() {
        std::lock_guard<std::mutex> guard(journal.mutex);
        return journal.events;
    }

    Journal journal;
    FakeCreator creator{journal};
    quarnel::host::ChannelSink sink{false};
    ChannelDescription description;
};

TEST_F(VideoCapture, StartBuildsTheParametersFromTheLow16BitsOfTheDescription) {
    CIPVideoCapture capture(&creator, 4);
    EXPECT_EQ(capture.GetChannelCount(), 4u);
    description.frameInterval = 0x10028;  // 40 ms
    description.modeWord = 0x20032;       // quality 50
    description.width = 0x102C0;          // 704
    description.height = 576;
    ASSERT_TRUE(capture.StartChannel(2, &sink, &description));
    EXPECT_EQ(creator.lastSink.load(), &sink);
    EXPECT_EQ(Journaled(), (Events{"create 2", "start 2 40/50/704x576"}));
}

TEST_F(VideoCapture, IndexesAtOrAboveTheCountAreRefusedOrEmpty) {
    CIPVideoCapture capture(&creator, 2);
    int state = -1;
    EXPECT_FALSE(capture.StartChannel(2, &sink, &description));
    EXPECT_FALSE(capture.StopChannel(2));
    EXPECT_FALSE(capture.UpdateChannel(7, &description, 40));
    EXPECT_FALSE(capture.GetChannelStatus(2, &state, nullptr, nullptr, 0));
    EXPECT_TRUE(Journaled().empty());
}

TEST_F(VideoCapture, StartOnARunningIndexStopsAndDeletesTheOldChannelFirst) {
    CIPVideoCapture capture(&creator, 1);
    ASSERT_TRUE(capture.StartChannel(0, &sink, &description));
    ASSERT_TRUE(capture.StartChannel(0, &sink, &description));
    EXPECT_EQ(Journaled(), (Events{"create 0", "start 0 40/50/704x576", "stop 0", "delete 0", "create 0",
                                   "start 0 40/50/704x576"}));
}

TEST_F(VideoCapture, AChannelThatFailedToStartStaysUntilStopped) {
    CIPVideoCapture capture(&creator, 1);
    creator.create = false;  // no channel from the creator: the entry stays empty
    EXPECT_FALSE(capture.StartChannel(0, &sink, &description));
    EXPECT_FALSE(capture.StopChannel(0));

    creator.create = true;
    creator.startResult = false;
    description.secondary = true;
    EXPECT_FALSE(capture.StartChannel(0, &sink, &description));
    int state = -1;
    EXPECT_TRUE(capture.GetChannelStatus(0, &state, nullptr, nullptr, 0));
    EXPECT_TRUE(capture.StopChannel(0));
    EXPECT_FALSE(capture.StopChannel(0));
    // No secondary stream is asked for after a failed start.
    EXPECT_EQ(Journaled(), (Events{"create 0", "create 0", "start 0 40/50/704x576", "stop 0", "delete 0"}));
}

TEST_F(VideoCapture, ASecondaryStreamIsAskedForOnlyWhenWanted) {
    CIPVideoCapture capture(&creator, 1);
    ASSERT_TRUE(capture.StartChannel(0, &sink, &description));
    description.secondary = true;
    ASSERT_TRUE(capture.StartChannel(0, &sink, &description));
    const auto events = Journaled();
    EXPECT_EQ(std::count(events.begin(), events.end(), "secondary 0"), 1);
    EXPECT_EQ(events.back(), "secondary 0");
}

TEST_F(VideoCapture, UpdateGivesTheSizeAndIntervalAndLeavesTheModeWordToTheChannel) {
    CIPVideoCapture capture(&creator, 1);
    description.width = 0x10160;  // 352
    description.height = 288;
    EXPECT_FALSE(capture.UpdateChannel(0, &description, 100));  // empty: nothing created
    EXPECT_TRUE(Journaled().empty());

    ASSERT_TRUE(capture.StartChannel(0, &sink, &description));
    EXPECT_TRUE(capture.UpdateChannel(0, &description, 0x7019));
    EXPECT_EQ(Journaled().back(), "update 0 28697/0/352x288");
}

struct StatusCase {
    int channelState;  // -1: no channel in the entry
    bool found;
    int reported;
};

class ChannelStatus : public VideoCapture, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ChannelStatus, ReportsStreamingOrSignalLostAndClearsDetailAndText) {
    CIPVideoCapture capture(&creator, 1);
    creator.state = GetParam().channelState;
    if (GetParam().channelState >= 0) {
        ASSERT_TRUE(capture.StartChannel(0, &sink, &description));
    }
    int state = -1;
    int detail = 99;
    char text[8] = "junk";
    EXPECT_EQ(capture.GetChannelStatus(0, &state, &detail, text, sizeof text), GetParam().found);
    EXPECT_EQ(state, GetParam().reported);
    EXPECT_EQ(detail, 0);
    EXPECT_STREQ(text, "");
    char untouched[8] = "keep";  // without a size the text is left alone
    capture.GetChannelStatus(0, &state, &detail, untouched, 0);
    EXPECT_STREQ(untouched, "keep");
}

INSTANTIATE_TEST_SUITE_P(VideoCapture, ChannelStatus,
                         ::testing::Values(StatusCase{dravnel::kChannelStreaming, true, 0},
                                           StatusCase{dravnel::kChannelSignalLost, true, 2},
                                           StatusCase{dravnel::kChannelStopped, true, 2},
                                           StatusCase{-1, false, -1}));

TEST_F(VideoCapture, DestructionStopsAndDeletesEveryChannel) {
    {
        CIPVideoCapture capture(&creator, 3);
        ASSERT_TRUE(capture.StartChannel(0, &sink, &description));
        ASSERT_TRUE(capture.StartChannel(2, &sink, &description));
    }
    EXPECT_EQ(journal.deleted, 2);
    const auto events = Journaled();
    EXPECT_EQ(std::count(events.begin(), events.end(), "stop 0"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "stop 2"), 1);
}

// Starts, stops, updates and status queries race on the same indexes: every
// channel created is deleted (a displaced one too), and no call reaches a
// channel after its deletion (ASan would see it).
TEST_F(VideoCapture, HostThreadsWorkingOnTheSameIndexesLoseNoChannel) {
    {
        CIPVideoCapture capture(&creator, 2);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                ChannelDescription mine;
                for (int i = 0; i < 300; ++i) {
                    const unsigned index = static_cast<unsigned>(i % 2);
                    int state = 0;
                    switch ((i + t) % 4) {
                    case 0: capture.StartChannel(index, &sink, &mine); break;
                    case 1: capture.StopChannel(index); break;
                    case 2: capture.UpdateChannel(index, &mine, 40); break;
                    default: capture.GetChannelStatus(index, &state, nullptr, nullptr, 0); break;
                    }
                }
            });
        }
        for (auto& thread : threads) thread.join();
    }
    EXPECT_GT(journal.created, 0);
    EXPECT_EQ(journal.deleted, journal.created.load());
}

}  // namespace
