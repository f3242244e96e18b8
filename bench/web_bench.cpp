// Device HTTP access: body throughput of a sender over loopback, a small CGI
// request round trip, and the value lookup over a typical reply.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "sim/web/WebServer.h"
#include "web/CHttpRequest.h"
#include "web/CHttpSender.h"
#include "web/HUtils.h"
#include "web/HttpRequests.h"

namespace {

dravnel::DEVICE_INFO DeviceOf(const dravnel::sim::WebServer& server) {
    return dravnel::DEVICE_INFO(dravnel::sim::WebServer::Address(), server.Port(), "", "");
}

// A large body pulled in 8 KiB reads through the bounded window.
void BM_ReadResponse(benchmark::State& state) {
    dravnel::sim::WebServer server;
    server.Start();
    const size_t size = static_cast<size_t>(state.range(0));
    server.SetPageText("/big", std::string(size, 'x'));
    Web::CHttpSender sender(DeviceOf(server));
    std::vector<uint8_t> body;
    for (auto _ : state) {
        sender.SendRequest(Web::CHttpRequest("GET", "/big"));
        if (sender.ReadResponse(body) != size) state.SkipWithError("short body");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}
BENCHMARK(BM_ReadResponse)->Arg(64 << 10)->Arg(4 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

// One CGI request with its reply on a kept connection.
void BM_RequestGetBody(benchmark::State& state) {
    dravnel::sim::WebServer server;
    server.Start();
    server.SetPageText("/system/network.php", "res=200\r\nrtsp_port=554\r\n");
    Web::CHttpSender sender(DeviceOf(server));
    std::vector<uint8_t> reply;
    for (auto _ : state)
        if (!dravnel::HUtils::RequestGetBody("/system/network.php?app=get", sender, reply))
            state.SkipWithError("request failed");
}
BENCHMARK(BM_RequestGetBody)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The lookups a stream configuration makes over a video page reply.
void BM_GetValueOverVideoReply(benchmark::State& state) {
    std::string reply = "res=200\r\n";
    for (int ch = 1; ch <= 4; ++ch)
        for (int strm = 1; strm <= 2; ++strm) {
            const std::string p = "ch" + std::to_string(ch) + "_strm" + std::to_string(strm) + "_";
            reply += p + "codec=H264\r\n" + p + "res=1920x1080\r\n" + p + "fps=25\r\n" + p + "bitrate=4096\r\n" + p +
                     "gop=50\r\n" + p + "res_list=1920x1080|1280x720|704x576|352x288\r\n" + p +
                     "fps_list=1|5|10|15|20|25\r\n";
        }
    for (auto _ : state) {
        benchmark::DoNotOptimize(dravnel::HUtils::GetValue(reply, "ch4_strm2_gop", "=", "&\r\n"));
        benchmark::DoNotOptimize(dravnel::HUtils::GetListValue(reply, "ch4_strm2_res_list", "=", "&\r\n", "|"));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(reply.size()) * 2);
}
BENCHMARK(BM_GetValueOverVideoReply);

}  // namespace

BENCHMARK_MAIN();
