// quarnel soak as the suite runs it: 16 channels through 50 faults of every
// kind, with the goals checked by the soak itself (every channel streams again
// after the last fault, threads and descriptors back at their baseline after
// the stop, every file decodes in FFmpeg without a complaint) and its report
// read here.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "tests/support/RunCli.h"

namespace {

using dravnel::test::Cli;

TEST(Soak, SixteenChannelsThroughFiftyFaultsOfEveryKind) {
    const std::filesystem::path out =
        std::filesystem::temp_directory_path() / ("quarnel-soak-" + std::to_string(::getpid()));
    const auto run =
        Cli("soak --channels 16 --faults all --fault-count 50 --fault-every 500ms --fault-hold 200ms "
            "--fault-seed 7 --sample 5 --out " +
            out.string());
    std::filesystem::remove_all(out);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("\n50 faults in "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("threads and descriptors after stop: back at the baseline"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("every channel streams again after the last fault: yes"), std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("FFmpeg complains"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("NOT STREAMING"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("(failed: "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("[ch 15]"), std::string::npos) << run.output;
}

// A bad schedule is refused before anything starts, with one line that says why.
TEST(Soak, RefusesABadScheduleWithOneLine) {
    struct Row {
        const char* args;
        const char* says;
    };
    const Row rows[] = {
        {"soak --faults drop,reboot", "quarnel soak: --faults: 'reboot' is not a fault"},
        {"soak --fault-every 2x", "quarnel soak: --fault-every: '2x' is not a duration"},
        {"soak --fault-every 1s --fault-hold 1s", "must be shorter than the interval"},
        {"soak --channels 0", "quarnel soak: --channels: '0' is not a number from 1 to 64"},
        {"sim --faults nothing", "quarnel sim: --faults: 'nothing' is not a fault"},
        {"sim --fault-every 2s", "quarnel sim: --fault-every needs --faults"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        const auto run = Cli(row.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.output.find(row.says), std::string::npos) << run.output;
        EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    }
}

}  // namespace
