#include "tools/cli/Options.h"

#include "tools/cli/DeviceFile.h"

namespace dravnel::cli {

bool ParseUnsigned(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

const char* DeviceOptionsHelp() {
    return "Device options:\n"
           "  --address HOST        device host name or address (default 127.0.0.1)\n"
           "  --port N              device HTTP port (default 80)\n"
           "  --user NAME           user name\n"
           "  --password TEXT       password\n"
           "  --codec h264|mpeg4|mjpeg  codec of the device's channels (default h264)\n"
           "  --channels N          video channels of the device (default 1)\n"
           "  --inputs N            alarm inputs (default 0)\n"
           "  --outputs N           relay outputs (default 0)\n"
           "  --model NAME          model name as the host knows it\n"
           "  --param N=TEXT        driver parameter N (repeatable); parameter 2 (video\n"
           "                        standard, 0 PAL, 1 NTSC) is required to open\n"
           "  --host-version X.Y    host version the driver adjusts its log levels to\n"
           "  --library PATH        driver library (default: libquarnel.so beside quarnel)\n"
           "  --device FILE         the device and its driver parameters from a file that\n"
           "                        `quarnel probe --save FILE` wrote (the password is not in\n"
           "                        it); other device options given override it\n";
}

bool ParseDeviceOptions(const std::vector<std::string>& args, DeviceOptions& options, std::vector<std::string>& rest,
                        std::string& error) {
    // The device file first, wherever it stands, so that the other options override it.
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--device") continue;
        if (i + 1 >= args.size()) {
            error = "--device needs a value";
            return false;
        }
        if (!LoadDeviceFile(args[i + 1], options, error)) {
            error = "--device: " + error;
            return false;
        }
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        const auto number = [&](uint32_t& out, uint32_t max) {
            std::string text;
            if (!value(text)) return false;
            if (!ParseUnsigned(text, out) || out > max) {
                error = arg + ": '" + text + "' is not a number up to " + std::to_string(max);
                return false;
            }
            return true;
        };
        uint32_t n = 0;
        if (arg == "--address") {
            if (!value(options.address)) return false;
        } else if (arg == "--port") {
            if (!number(n, 65535)) return false;
            options.port = static_cast<uint16_t>(n);
        } else if (arg == "--user") {
            if (!value(options.user)) return false;
        } else if (arg == "--password") {
            if (!value(options.password)) return false;
        } else if (arg == "--codec") {
            std::string codec;
            if (!value(codec)) return false;
            if (codec == "h264")
                options.codec = 3;
            else if (codec == "mpeg4")
                options.codec = 2;
            else if (codec == "mjpeg")
                options.codec = 1;
            else {
                error = "--codec: '" + codec + "' is not h264, mpeg4 or mjpeg";
                return false;
            }
        } else if (arg == "--channels") {
            if (!number(options.channels, 256)) return false;
        } else if (arg == "--inputs") {
            if (!number(options.inputs, 256)) return false;
        } else if (arg == "--outputs") {
            if (!number(options.outputs, 256)) return false;
        } else if (arg == "--model") {
            if (!value(options.model)) return false;
        } else if (arg == "--param") {
            std::string text;
            if (!value(text)) return false;
            const auto eq = text.find('=');
            uint32_t number = 0;
            if (eq == std::string::npos || !ParseUnsigned(text.substr(0, eq), number) || number < 1 || number > 64) {
                error = "--param: '" + text + "' is not N=TEXT with N from 1 to 64";
                return false;
            }
            options.parameters[static_cast<int>(number)] = text.substr(eq + 1);
        } else if (arg == "--host-version") {
            if (!value(options.hostVersion)) return false;
        } else if (arg == "--library") {
            if (!value(options.library)) return false;
        } else if (arg == "--device") {
            ++i;  // loaded above
        } else {
            rest.push_back(arg);
        }
    }
    return true;
}

}  // namespace dravnel::cli
