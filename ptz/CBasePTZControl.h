// One PTZ channel as the host drives it (IIPPTZApiEx), with the small
// parameter interface the device layer reads (IIPParams).
//
// Motion requests are checked against the channel's capabilities and queued
// to the channel's command queue; preset requests go to the channel's preset
// list. The control remembers which kinds of motion it started, so that one
// Stop ends all of them:
//
//   started by             flag          stopped with
//   Move (pan/tilt)        panTilting    StopMoving
//   Move 8/9, ZoomIn/Out   zooming       StopZooming
//   IrisOpen/Close         irisChanging  StopIrisChanging
//   FocusNear/Far          focusing      StopFocusing
//
// Any motion the queue accepts also tells the preset list that the camera
// has left its preset.
//
// Thread-safety: the host drives one control from one thread at a time; the
// flags are not locked. The queue and the preset list lock themselves.
#pragma once

#include <memory>

#include "ptz/CBasePTZComm.h"
#include "ptz/CPrepositionList.h"
#include "ptz/CXMLPrepositionReader.h"
#include "quarnel/CaptureDriver.h"
#include "quarnel/Ptz.h"
#include "rtp/TSmartPtr.h"

namespace dravnel {

class CBasePTZControl : public IIPPTZApiEx, public IIPParams {
public:
    CBasePTZControl(IDriver* driver, unsigned channel);
    ~CBasePTZControl() override;

    // IIPPTZApi
    int IsPTZAvailable() override;
    int Move(unsigned direction, int speed) override;
    int Stop() override;
    int Center(int p1, int p2, int p3) override;
    int ZoomIn(int speed) override;
    int ZoomOut(int speed) override;
    int Unzoom(int value) override;
    int AreaZoom(int p1, int p2, int p3, int p4) override;
    int FocusNear(int speed) override;
    int FocusFar(int speed) override;
    int IrisOpen(int speed) override;
    int IrisClose(int speed) override;
    int GetPTZInfo(PTZ_INFO* info) override;
    int GetPresetCount() override;
    int GetPresetName(unsigned index, char* buffer, unsigned size) override;
    int GoToPreset(int value, const char* name) override;
    int AddPreset(const char* name) override;
    int DeletePreset(const char* name) override;
    int GetCurrentPresetName(char* buffer, unsigned size) override;
    // IIPPTZApiEx
    bool QueryFeature(int id) override { return id == 1; }

    virtual void ReleaseComm();
    // A new, unopened queue for this channel; null when none can be made.
    virtual CBasePTZComm* CreatePTZComm() = 0;
    // Creates and opens the queue and loads the channel's presets; false (and
    // no queue) when the queue does not run or there is no storage.
    virtual bool Initialize(TSmartPtr<CXMLPrepositionReader> storage);

    // IIPParams
    unsigned GetChannel() override { return channel_; }
    bool GetFlag1() override { return flag1_; }
    void SetFlag1(bool value) override { flag1_ = value; }
    bool GetFlag2() override { return flag2_; }
    void SetFlag2(bool value) override { flag2_ = value; }

    CBasePTZComm* Comm() const { return comm_.get(); }

protected:
    IDriver* Driver() const { return driver_; }
    bool PanTilting() const { return panTilting_; }

private:
    // The motion pattern: -18 without queue; on 1 the camera leaves its
    // preset and `flag` (if any) is set.
    int Started(int result, bool* flag);
    static int CopyName(const std::string& name, char* buffer, unsigned size);

    IDriver* const driver_;
    const unsigned channel_;
    std::unique_ptr<CBasePTZComm> comm_;
    CPrepositionList presets_;
    bool flag1_ = false;
    bool flag2_ = false;
    bool zooming_ = false;
    bool focusing_ = false;
    bool irisChanging_ = false;
    bool panTilting_ = false;
};

// The Vista control: the Vista queue, and repeated moves absorbed. A Move in
// the same direction as the last one whose speed differs by at most 1 queues
// nothing, so a joystick held still does not flood the camera.
class CVistaPTZControl : public CBasePTZControl {
public:
    static constexpr uint32_t kNoDirection = 10;

    CVistaPTZControl(IDriver* driver, unsigned channel) : CBasePTZControl(driver, channel) {}
    ~CVistaPTZControl() override;

    int Move(unsigned direction, int speed) override;
    int Stop() override;
    CBasePTZComm* CreatePTZComm() override;

private:
    uint32_t lastDirection_ = kNoDirection;
    int32_t lastSpeed_ = 0;
};

}  // namespace dravnel
