// Everything a host needs to build against the driver.
#pragma once

#include "quarnel/CapabilityQuery.h"
#include "quarnel/CaptureDriver.h"
#include "quarnel/CaptureIO.h"
#include "quarnel/Exports.h"
#include "quarnel/HostObjects.h"
#include "quarnel/Ptz.h"
#include "quarnel/Types.h"
#include "quarnel/Version.h"
#include "quarnel/VideoCapture.h"
