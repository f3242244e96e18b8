#include "rtsp/RTSPTypes.h"

namespace dravnel {

const char* MethodName(RTSPMethod method) {
    switch (method) {
    case RTSPMethod::Describe:
        return "DESCRIBE";
    case RTSPMethod::Setup:
        return "SETUP";
    case RTSPMethod::Play:
        return "PLAY";
    case RTSPMethod::Teardown:
        return "TEARDOWN";
    case RTSPMethod::Options:
        return "OPTIONS";
    case RTSPMethod::Pause:
        return "PAUSE";
    }
    return "";
}

}  // namespace dravnel
