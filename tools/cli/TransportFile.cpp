#include "tools/cli/TransportFile.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/Process.h"

namespace dravnel::cli {

namespace {
std::string XmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}
}  // namespace

std::optional<std::string> TransportFile::ModeName(const std::string& transport) {
    if (transport == "udp") return "RTPoverUDP";
    if (transport == "tcp") return "RTPoverTCP";
    if (transport == "interleaved") return "RTPoverRTSP";
    if (transport == "http") return "RTPoverHTTP";
    return std::nullopt;
}

std::string TransportFile::Path() { return platform::ExecutableDirectory() + "Quarnel.xml"; }

bool TransportFile::Apply(const std::string& address, uint16_t port, const std::string& transport, std::string& error) {
    const auto mode = ModeName(transport);
    if (!mode) {
        error = "--transport: '" + transport + "' is not udp, tcp, interleaved or http";
        return false;
    }
    Restore();
    path_ = Path();
    if (path_ == "Quarnel.xml") {
        error = "cannot tell where the driver looks for its settings file";
        return false;
    }
    std::ifstream in(path_, std::ios::binary);
    if (in) previous_ = std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<!-- Written by quarnel --transport for one run; put back when the run ends. -->\n"
        << "<Configuration>\n"
        << "  <Device address=\"" << XmlEscape(address) << "\" port=\"" << port << "\">\n"
        << "    <RTPMode>" << *mode << "</RTPMode>\n"
        << "  </Device>\n"
        << "</Configuration>\n";
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << xml.str();
    if (!out) {
        error = "cannot write " + path_;
        previous_.reset();
        return false;
    }
    applied_ = true;
    return true;
}

void TransportFile::Restore() {
    if (!applied_) return;
    applied_ = false;
    if (previous_) {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out << *previous_;
    } else {
        std::remove(path_.c_str());
    }
    previous_.reset();
}

}  // namespace dravnel::cli
