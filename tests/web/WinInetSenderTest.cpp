// CWinInetSender against the simulated camera: credentials for whatever the
// server challenges with, and its one retry on a new connection.
#include <gtest/gtest.h>

#include "web/CWinInetSender.h"
#include "web/HttpRequests.h"
#include "WebSimFixture.h"

namespace quarnel::test {
namespace {

using dravnel::CResultDef;
using dravnel::HUtils::RequestGetNoBody;
using Web::CWinInetSender;

using WinInetSenderTest = WebSimTest;

TEST_F(WinInetSenderTest, AnswersWhicheverSchemeIsChallenged) {
    for (const auto mode : {sim::WebAuth::Basic, sim::WebAuth::Digest}) {
        server.SetAuth(mode, "admin", "s3cret");
        server.SetPageText("/ptz/control.php", "res=200\r\n");
        server.ClearLog();
        CWinInetSender sender(Device("admin", "s3cret"));
        const CResultDef result = RequestGetNoBody("/ptz/control.php?ch=1&move=left", sender);
        EXPECT_EQ(result.code, 0u);
        const auto log = server.Log();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back().status, 200);
        EXPECT_EQ(log.back().authScheme, mode == sim::WebAuth::Basic ? "Basic" : "Digest");
        EXPECT_EQ(log.back().userAgent, "Dravnel::WinInetSender");
    }
}

TEST_F(WinInetSenderTest, RefusedCredentialsAreTriedOnceMoreOnANewConnection) {
    server.SetAuth(sim::WebAuth::Basic, "admin", "s3cret");
    server.SetPageText("/ptz/control.php", "res=200\r\n");
    CWinInetSender sender(Device("admin", "wrong"));
    const CResultDef result = RequestGetNoBody("/ptz/control.php?ch=1&move=stop", sender);
    EXPECT_EQ(result.level, 1u);
    EXPECT_EQ(result.code, 6u);
    EXPECT_EQ(sender.StatusCode(), 401u);
    const auto log = server.Log();
    // The first attempt starts unauthenticated; the second, on a new
    // connection, may present Basic at once.
    ASSERT_GE(log.size(), 3u);
    ASSERT_LE(log.size(), 4u);
    EXPECT_EQ(log[0].authScheme, "");
    EXPECT_EQ(log[1].authScheme, "Basic");
    EXPECT_EQ(log.back().authScheme, "Basic");
    EXPECT_NE(log[2].clientPort, log[1].clientPort);
}

}  // namespace
}  // namespace quarnel::test
