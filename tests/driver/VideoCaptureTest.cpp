// The video capture's channel table, driven with a creator of recording
// channels.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/CIPVideoCapture.h"
#include "tests/support/OpenDriver.h"
#include "tools/host/ChannelSink.h"

namespace {

using dravnel::ChannelParams;
using dravnel::CIPVideoCapture;
using quarnel::host::ChannelDescription;
using quarnel::host::ChannelSink;

// Everything the channels and the creator were asked, in order.
struct Journal {
    std::mutex mutex;
    std::vector<std::string> events;
    std::vector<ChannelParams> started;
    std::vector<ChannelParams> updated;
    std::atomic<int> created{0}, deleted{0};

    void Add(std::string event) {
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
        journal_.Add("delete " + std::to_string(index_));
        ++journal_.deleted;
    }
    bool Start(const ChannelParams& params) override {
        {
            std::lock_guard<std::mutex> guard(journal_.mutex);
            journal_.started.push_back(params);
        }
        journal_.Add("start " + std::to_string(index_));
        return startResult_;
    }
    void Stop() override { journal_.Add("stop " + std::to_string(index_)); }
    bool UpdateParams(const ChannelParams& params) override {
        std::lock_guard<std::mutex> guard(journal_.mutex);
        journal_.updated.push_back(params);
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
    dravnel::ICameraChannel* CreateChannel(unsigned channel, dravnel::ipcapture::IHostChannelSink* sink) override {
        journal_.Add("create " + std::to_string(channel));
        lastSink = sink;
        if (!create) return nullptr;
        return new FakeChannel(journal_, channel, startResult, state);
    }
    dravnel::ICameraChannel* CreateSecondaryChannel(unsigned channel, dravnel::ipcapture::IHostChannelSink*) override {
        journal_.Add("secondary " + std::to_string(channel));
        return nullptr;
    }

    std::atomic<bool> create{true};
    std::atomic<bool> startResult{true};
    std::atomic<int> state{dravnel::kChannelStreaming};
    std::atomic<dravnel::ipcapture::IHostChannelSink*> lastSink{nullptr};

private:
    Journal& journal_;
};

class VideoCapture : public ::testing::Test {
protected:
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> guard(journal.mutex);
        return journal.events;
    }

    Journal journal;
    FakeCreator creator{journal};
    ChannelSink sink{false};
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
    ASSERT_EQ(journal.started.size(), 1u);
    EXPECT_EQ(journal.started[0].FrameInterval, 40u);
    EXPECT_EQ(journal.started[0].ModeWord, 50u);
    EXPECT_EQ(journal.started[0].Width, 704u);
    EXPECT_EQ(journal.started[0].Height, 576u);
    EXPECT_EQ(Events(), (std::vector<std::string>{"create 2", "start 2"}));
}

TEST_F(VideoCapture, IndexesAtOrAboveTheCountAreRefusedOrEmpty) {
    CIPVideoCapture capture(&creator, 2);
    int state = -1;
    EXPECT_FALSE(capture.StartChannel(2, &sink, &description));
    EXPECT_FALSE(capture.StopChannel(2));
    EXPECT_FALSE(capture.UpdateChannel(7, &description, 40));
    EXPECT_FALSE(capture.GetChannelStatus(2, &state, nullptr, nullptr, 0));
    EXPECT_TRUE(Events().empty());
}

TEST_F(VideoCapture, StartOnARunningIndexStopsAndDeletesTheOldChannelFirst) {
    CIPVideoCapture capture(&creator, 1);
    ASSERT_TRUE(capture.StartChannel(0, &sink, &description));
    ASSERT_TRUE(capture.StartChannel(0, &sink, &description));
    EXPECT_EQ(Events(),
              (std::vector<std::string>{"create 0", "start 0", "stop 0", "delete 0", "create 0", "start 0"}));
}

TEST_F(VideoCapture, NoChannelFromTheCreatorFailsAndLeavesTheEntryEmpty) {
    CIPVideoCapture capture(&creator, 1);
    creator.create = false;
    EXPECT_FALSE(capture.StartChannel(0, &sink, &description));
    EXPECT_FALSE(capture.StopChannel(0));
}

TEST_F(VideoCapture, AChannelThatFailedToStartStaysUntilStopped) {
    CIPVideoCapture capture(&creator, 1);
    creator.startResult = false;
    description.secondary = true;
    EXPECT_FALSE(capture.StartChannel(0, &sink, &description));
    int state = -1;
    EXPECT_TRUE(capture.GetChannelStatus(0, &state, nullptr, nullptr, 0));
    EXPECT_TRUE(capture.StopChannel(0));
    EXPECT_FALSE(capture.StopChannel(0));
    // No secondary stream is asked for after a failed start.
    EXPECT_EQ(Events(), (std::vector<std::string>{"create 0", "start 0", "stop 0", "delete 0"}));
}

TEST_F(VideoCapture, ASecondaryStreamIsAskedForOnlyWhenWanted) {
    CIPVideoCapture capture(&creator, 1);
    ASSERT_TRUE(capture.StartChannel(0, &sink, &description));
    description.secondary = true;
    ASSERT_TRUE(capture.StartChannel(0, &sink, &description));
    const auto events = Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "secondary 0"), 1);
    EXPECT_EQ(events.back(), "secondary 0");
}

TEST_F(VideoCapture, UpdateGivesTheSizeAndIntervalAndLeavesTheModeWordToTheChannel) {
    CIPVideoCapture capture(&creator, 1);
    description.width = 0x10160;  // 352
    description.height = 288;
    EXPECT_FALSE(capture.UpdateChannel(0, &description, 100));  // empty: nothing created
    EXPECT_TRUE(Events().empty());

    ASSERT_TRUE(capture.StartChannel(0, &sink, &description));
    EXPECT_TRUE(capture.UpdateChannel(0, &description, 0x7019));
    ASSERT_EQ(journal.updated.size(), 1u);
    EXPECT_EQ(journal.updated[0].FrameInterval, 0x7019u);
    EXPECT_EQ(journal.updated[0].ModeWord, 0u);
    EXPECT_EQ(journal.updated[0].Width, 352u);
    EXPECT_EQ(journal.updated[0].Height, 288u);
}

struct StatusCase {
    int channelState;
    int reported;
};

class ChannelStatus : public VideoCapture, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ChannelStatus, ReportsStreamingOrSignalLostAndClearsDetailAndText) {
    CIPVideoCapture capture(&creator, 1);
    creator.state = GetParam().channelState;
    ASSERT_TRUE(capture.StartChannel(0, &sink, &description));
    int state = -1;
    int detail = 99;
    char text[8] = "junk";
    EXPECT_TRUE(capture.GetChannelStatus(0, &state, &detail, text, sizeof text));
    EXPECT_EQ(state, GetParam().reported);
    EXPECT_EQ(detail, 0);
    EXPECT_STREQ(text, "");
}

INSTANTIATE_TEST_SUITE_P(VideoCapture, ChannelStatus,
                         ::testing::Values(StatusCase{dravnel::kChannelStreaming, 0},
                                           StatusCase{dravnel::kChannelSignalLost, 2},
                                           StatusCase{dravnel::kChannelStopped, 2}));

TEST_F(VideoCapture, StatusOfAnEmptyEntryClearsDetailAndTextAndFails) {
    CIPVideoCapture capture(&creator, 1);
    int state = -1;
    int detail = 99;
    char text[8] = "junk";
    EXPECT_FALSE(capture.GetChannelStatus(0, &state, &detail, text, sizeof text));
    EXPECT_EQ(state, -1);
    EXPECT_EQ(detail, 0);
    EXPECT_STREQ(text, "");
    // Without a size the text is left alone.
    char untouched[8] = "keep";
    capture.GetChannelStatus(0, &state, &detail, untouched, 0);
    EXPECT_STREQ(untouched, "keep");
}

TEST_F(VideoCapture, ReservedOperationsAnswerNothing) {
    CIPVideoCapture capture(&creator, 1);
    ASSERT_TRUE(capture.StartChannel(0, &sink, &description));
    EXPECT_EQ(capture.GetReservedC(), nullptr);
    EXPECT_FALSE(capture.QueryReservedD(1, 2, 3));
    EXPECT_FALSE(capture.QueryReservedE(1, 2, 3));
    EXPECT_FALSE(capture.IsChannelReservedA(0));
    EXPECT_FALSE(capture.IsChannelReservedB(0));
    EXPECT_FALSE(capture.IsChannelReservedA(5));
}

TEST_F(VideoCapture, DestructionStopsAndDeletesEveryChannel) {
    {
        CIPVideoCapture capture(&creator, 3);
        ASSERT_TRUE(capture.StartChannel(0, &sink, &description));
        ASSERT_TRUE(capture.StartChannel(2, &sink, &description));
    }
    EXPECT_EQ(journal.deleted, 2);
    const auto events = Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "stop 0"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "stop 2"), 1);
}

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

TEST(VideoCaptureOfTheDriver, OpenCreatesItWithTheChannelCountAndCloseDestroysIt) {
    quarnel::test::OpenDriver d;
    d.description.channels = 3;
    ASSERT_TRUE(d.Open());
    auto* capture = d.driver->GetVideoCapture();
    ASSERT_NE(capture, nullptr);
    EXPECT_EQ(capture->GetChannelCount(), 3u);
    EXPECT_EQ(d.driver->GetVideoCaptureEx(), capture);
    d.driver->Close();
    EXPECT_EQ(d.driver->GetVideoCapture(), nullptr);
}

}  // namespace
