// stream_host: the smallest recorder host. It loads the driver with dlopen
// (LoadLibrary on Windows),
// opens one H.264 device from the command line, starts channel 0 and writes
// every frame the driver delivers to a file (Annex B, plays in ffplay).
//
//   stream_host ADDRESS PORT USER PASSWORD [SECONDS] [OUT] [LIBRARY]
//
// What a host must know, in the order it meets it:
//  - The driver calls the host back through the objects below. Each is an
//    abstract class whose operations are called by their position, so a host
//    derives from the SDK class and overrides; it never reorders or adds
//    virtual operations.
//  - The host owns every object it passes in and keeps it alive until the call
//    that ends its use: the debug sink, frame allocator and device description
//    until Close; a channel sink until StopChannel.
//  - Callbacks arrive on the driver's threads, several at once: DeliverFrame,
//    OnStreamSilent and OnDebugInfo must be thread-safe and must not call back
//    into the driver's video capture.
//  - Driver parameters 1..9 are what the capability query found; a host keeps
//    them with the device. Parameter 2 (0 PAL, 1 NTSC) is required.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DriverModule.h"
#include "quarnel/Quarnel.h"

using namespace dravnel;
using namespace dravnel::ipcapture;

namespace {

// Diagnostics: one line each, with its level (1 error, 2 warning, 3 information,
// 100 the line that says the driver opened).
class DebugSink : public IHostDebugSink {
public:
    void OnDebugInfo(const CDebugInfoIf* info) override {
        std::lock_guard<std::mutex> lock(mutex_);
        std::fprintf(stderr, "[%u] %s\n", static_cast<unsigned>(info->GetLevel()),
                     info->GetText() ? info->GetText() : "");
    }

private:
    std::mutex mutex_;
};

// A frame the driver fills: a buffer of the capacity it asked for, and the
// facts it sets about the frame.
class Frame : public IHostFrame {
public:
    explicit Frame(uint32_t capacity) : buffer_(capacity) {}
    uint8_t* GetBuffer() override { return buffer_.data(); }
    void SetDataSize(uint32_t size) override { size_ = size; }
    void SetTime(const dravnel::SYSTEMTIME*) override {}
    void SetCodecTag(uint32_t tag) override { tag_ = tag; }
    void SetHeight(uint32_t height) override { height_ = height; }
    uint32_t GetWidth() override { return width_; }
    void SetWidth(uint32_t width) override { width_ = width; }
    void SetSizeClass(uint32_t) override {}

    const uint8_t* data() const { return buffer_.data(); }
    uint32_t size() const { return size_ <= buffer_.size() ? size_ : 0; }

private:
    std::vector<uint8_t> buffer_;
    uint32_t size_ = 0, tag_ = 0, width_ = 0, height_ = 0;
};

// The host context: the driver asks it for each frame and gives the frame back
// right after delivering it.
class FrameAllocator : public IHostFrameAllocator {
public:
    IHostFrame* AllocateFrame(uint32_t, uint32_t capacity, const char*) override { return new Frame(capacity); }
    void ReleaseFrame(IHostFrame* frame) override { delete frame; }
};

// The device as the recorder knows it. Read during Open only.
class Device : public IHostDeviceDescription, IHostDeviceRecord, IHostConnectionRecord {
public:
    Device(std::string address, uint16_t port, std::string user, std::string password)
        : address_(std::move(address)), port_(port), user_(std::move(user)), password_(std::move(password)) {}

    IHostDeviceRecord* GetDevice() override { return this; }
    IHostConnectionRecord* GetConnection() override { return this; }
    // 1 "Video Standard", 2 device video standard (0 PAL), 3 RTSP port of older
    // devices, 4 device group (1 standard device): "(none)" where unknown.
    const char* GetParameter(int n) override {
        static const char* const kParameters[] = {"(none)", "0", "(none)", "1"};
        return n >= 1 && n <= 4 ? kParameters[n - 1] : nullptr;
    }

    const char* GetAddress() override { return address_.c_str(); }
    uint16_t GetPort() override { return port_; }
    int GetCodec() override { return 3; }  // H.264
    const char* GetUserName() override { return user_.c_str(); }
    const char* GetPassword() override { return password_.c_str(); }
    const char* GetModel() override { return "stream_host"; }
    uint32_t GetChannelCount() override { return 1; }
    uint32_t GetAlarmInputCount() override { return 0; }
    uint32_t GetAlarmOutputCount() override { return 0; }

private:
    std::string address_;
    uint16_t port_;
    std::string user_, password_;
};

// What the recorder wants of a channel: size, frame rate and quality.
class ChannelWish : public IHostChannelDescription, IHostPicture, IHostSize, IHostStream {
public:
    IHostPicture* GetPicture() override { return this; }
    IHostStream* GetStream() override { return this; }
    IHostSize* GetSize() override { return this; }
    uint32_t GetWidth() override { return 704; }
    uint32_t GetHeight() override { return 576; }
    uint32_t GetFrameInterval() override { return 0x7000 | 25; }  // 25 frames a second, given as a rate
    uint32_t GetModeWord() override { return 60; }                // quality 1..100
    bool WantsSecondaryStream() override { return false; }
};

// Where the frames of one channel go. DeliverFrame runs on driver threads.
//
// An H.264 frame ends with the access unit delimiter that opens the next one
// (00 00 01 09 30). The sink writes it in front of the next frame instead, so
// that the file never ends with a delimiter that opens nothing.
class FileSink : public IHostChannelSink {
public:
    explicit FileSink(FILE* file) : file_(file) {}
    bool DeliverFrame(IHostFrame* hostFrame) override {
        static const uint8_t kDelimiter[] = {0, 0, 1, 9, 0x30};
        auto* frame = static_cast<Frame*>(hostFrame);
        size_t size = frame->size();
        const bool delimited = size >= sizeof kDelimiter && std::equal(kDelimiter, kDelimiter + sizeof kDelimiter,
                                                                       frame->data() + size - sizeof kDelimiter);
        if (delimited) size -= sizeof kDelimiter;
        std::lock_guard<std::mutex> lock(mutex_);
        if (heldDelimiter_ && std::fwrite(kDelimiter, 1, sizeof kDelimiter, file_) != sizeof kDelimiter) return false;
        if (std::fwrite(frame->data(), 1, size, file_) != size) return false;
        heldDelimiter_ = delimited;
        ++frames_;
        return true;
    }
    void OnStreamSilent() override { std::fprintf(stderr, "stream_host: the camera went silent\n"); }
    unsigned frames() {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }

private:
    std::mutex mutex_;
    FILE* file_;
    bool heldDelimiter_ = false;
    unsigned frames_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: stream_host ADDRESS PORT USER PASSWORD [SECONDS] [OUT] [LIBRARY]\n");
        return 2;
    }
    const int seconds = argc > 5 ? std::atoi(argv[5]) : 10;
    const std::string out = argc > 6 ? argv[6] : "stream_host.h264";
    const std::string library = argc > 7 ? argv[7] : std::string(QUARNEL_LIBRARY_DIR) + "/" + QUARNEL_LIBRARY_SONAME;

    // The driver is loaded as recorders load it: by file, with its exports.
    void* handle = OpenDriverModule(library);
    if (!handle) {
        std::fprintf(stderr, "stream_host: cannot load %s: %s\n", library.c_str(), DriverModuleError().c_str());
        return 1;
    }
    auto create = reinterpret_cast<decltype(&CreateIPCapture)>(DriverSymbol(handle, "CreateIPCapture"));
    auto destroy = reinterpret_cast<decltype(&DeleteIPCapture)>(DriverSymbol(handle, "DeleteIPCapture"));
    if (!create || !destroy) {
        std::fprintf(stderr, "stream_host: %s is not a Quarnel driver\n", library.c_str());
        return 1;
    }
    FILE* file = std::fopen(out.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "stream_host: cannot write %s\n", out.c_str());
        return 1;
    }

    DebugSink debug;
    FrameAllocator allocator;
    Device device(argv[1], static_cast<uint16_t>(std::atoi(argv[2])), argv[3], argv[4]);
    ChannelWish wish;
    FileSink sink(file);

    int status = 1;
    IIPCaptureDriver* driver = create();
    if (driver && driver->Open(&debug, &allocator, &device)) {
        IIPVideoCapture* capture = driver->GetVideoCapture();
        if (capture && capture->StartChannel(0, &sink, &wish)) {
            // The driver connects, reconnects and reports on its own threads;
            // the host only waits. StopChannel returns once no callback runs.
            std::this_thread::sleep_for(std::chrono::seconds(seconds));
            capture->StopChannel(0);
            status = sink.frames() > 0 ? 0 : 1;
        } else {
            std::fprintf(stderr, "stream_host: channel 0 could not be started\n");
        }
        driver->Close();
    } else {
        std::fprintf(stderr, "stream_host: the driver could not be opened\n");
    }
    if (driver) destroy(driver);
    std::fclose(file);
    std::printf("stream_host: %u frames written to %s\n", sink.frames(), out.c_str());
    CloseDriverModule(handle);
    return status;
}
