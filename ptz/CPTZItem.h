// One PTZ command on its way from a control to the camera: a work item of the
// channel's command queue.
//
//   type              param               speed   a          b    c
//   1 MSG_PTZ_MOVE     0                   speed   direction  0    0
//   2 MSG_CHANGE_FOCUS 2 near, 1 far       speed   0          0    0
//   3 MSG_CHANGE_IRIS  3 open, 4 close     speed   0          0    0
//   4 MSG_PTZ_STOP     5 move, 6 zoom,     0       0          0    0
//                      7 focus, 8 iris
//   5 MSG_AREA_ZOOM    0                   p4      p1         p2   p3
//   6 MSG_CENTER       0                   p3      p1         p2   0
//   7 MSG_UNZOOM       0                   value   0          0    0
//
// Thread-safety: a value handed from the posting thread to the queue thread.
#pragma once

#include <cstdint>

#include "quarnel/Ptz.h"

namespace dravnel {

enum PTZMessageType : uint32_t {
    MSG_PTZ_MOVE = 1,
    MSG_CHANGE_FOCUS = 2,
    MSG_CHANGE_IRIS = 3,
    MSG_PTZ_STOP = 4,
    MSG_AREA_ZOOM = 5,
    MSG_CENTER = 6,
    MSG_UNZOOM = 7,
};

// param values
enum PTZMessageParam : uint32_t {
    kFocusFar = 1,
    kFocusNear = 2,
    kIrisOpen = 3,
    kIrisClose = 4,
    kStopMoving = 5,
    kStopZooming = 6,
    kStopFocusing = 7,
    kStopIrisChanging = 8,
};

class CPTZItem {
public:
    CPTZItem(uint32_t typeValue, uint32_t paramValue, IIPParams* sourceValue, int32_t speedValue, int32_t aValue,
             int32_t bValue, int32_t cValue)
        : type(typeValue), param(paramValue), source(sourceValue), speed(speedValue), a(aValue), b(bValue), c(cValue) {}
    virtual ~CPTZItem() = default;

    uint32_t type;
    uint32_t param;
    IIPParams* source;  // the sending control; not owned
    int32_t speed;
    int32_t a;
    int32_t b;
    int32_t c;
};

}  // namespace dravnel
