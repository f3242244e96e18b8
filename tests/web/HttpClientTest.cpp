// The libcurl transfer under the senders: what the senders cannot show.
#include <gtest/gtest.h>

#include <thread>

#include "platform/HttpClient.h"
#include "WebSimFixture.h"

namespace quarnel::test {
namespace {

using platform::HttpClient;
using platform::HttpResult;

class HttpClientTest : public WebSimTest {
protected:
    platform::HttpTransferSpec Spec(const std::string& target) const {
        platform::HttpTransferSpec spec;
        spec.host = "127.0.0.1";
        spec.port = server.Port();
        spec.target = target;
        return spec;
    }
};

// A client that does not read holds at most its window, however fast and
// long the server streams; what it holds comes out whole and in order.
TEST_F(HttpClientTest, BuffersAtMostItsWindowWhileTheCallerDoesNotRead) {
    uint32_t sequence = 0;
    SetStreamPage("/fast", "", 0, [&sequence](std::string& chunk) {
        chunk.clear();
        for (int i = 0; i < 1024; ++i) chunk += std::to_string(sequence++ % 10);
        return true;
    });
    HttpClient client("test", 1000, 1000);
    ASSERT_EQ(client.Open(Spec("/fast")), HttpResult::Ok);
    size_t available = 0;
    size_t most = 0;
    for (int round = 0; round < 50; ++round) {
        ASSERT_EQ(client.WaitAvailable(available), HttpResult::Ok);
        most = std::max(most, available);
    }
    EXPECT_GT(most, 0u);
    EXPECT_LE(most, HttpClient::kWindow + 16 * 1024);

    std::vector<uint8_t> body;
    size_t appended = 0;
    while (body.size() < 4 * HttpClient::kWindow)
        ASSERT_EQ(client.Read(body, 8192, appended), HttpResult::Ok);
    for (size_t i = 0; i < body.size(); ++i) ASSERT_EQ(body[i], '0' + i % 10) << i;
}

TEST_F(HttpClientTest, CloseFromAnotherThreadWhileIdleEndsTheRequest) {
    server.SetPageText("/a", "res=200\r\n");
    HttpClient client("test", 1000, 1000);
    ASSERT_EQ(client.Open(Spec("/a")), HttpResult::Ok);
    std::thread([&client] { client.Close(); }).join();
    EXPECT_FALSE(client.RequestOpen());
    std::vector<uint8_t> body;
    size_t appended = 0;
    EXPECT_EQ(client.Read(body, 100, appended), HttpResult::Aborted);
    // A new request is not affected by the old Close.
    ASSERT_EQ(client.Open(Spec("/a")), HttpResult::Ok);
    EXPECT_EQ(client.Read(body, 100, appended), HttpResult::Ok);
    EXPECT_EQ(client.Read(body, 100, appended), HttpResult::End);
    EXPECT_EQ(Text(body), "res=200\r\n");
}

}  // namespace
}  // namespace quarnel::test
