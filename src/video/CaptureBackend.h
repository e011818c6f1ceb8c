// Camera back ends behind the capture window: each lists its drivers, connects one by its index, sets and
// reads back the 44-byte capture format, and grabs one frame on demand. Device headers stay inside the
// back ends; the capture window sees only this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "video/ImageFormat.h"

// Receives a grabbed frame before Grab returns; the bytes are the device's and valid only during the call.
class ICaptureFrameSink {
public:
    virtual ~ICaptureFrameSink() = default;
    virtual void OnCaptureFrame(const uint8_t* data, size_t size) = 0;
};

// One connected driver. Used from one thread at a time (the capture window's).
class ICaptureDriver {
public:
    virtual ~ICaptureDriver() = default;
    // The format the driver delivers now.
    virtual bool GetFormat(SCaptureFormat& format) = 0;
    // Asks for a format; true when the driver took it. What it delivers is read back with GetFormat.
    virtual bool SetFormat(const SCaptureFormat& format) = 0;
    // Captures one frame and hands it to the sink; false when the driver failed (for instance a camera
    // that was unplugged). Never blocks for long.
    virtual bool Grab(ICaptureFrameSink& sink) = 0;
};

class ICaptureBackend {
public:
    virtual ~ICaptureBackend() = default;
    // The names of this back end's drivers, in index order (an empty name is an index without a driver).
    virtual std::vector<std::string> DriverNames() = 0;
    // Connects the driver at `index` of DriverNames(); null when it cannot.
    virtual std::unique_ptr<ICaptureDriver> Connect(int index) = 0;
};

// The back ends whose drivers are listed, in order; a driver's index counts through them all. The process
// starts with the V4L2 cameras, then the test-pattern camera when VELAPHON_VIRTUAL_CAMERA=1. Programs and
// tests may choose their own.
void SetCaptureBackends(std::vector<std::shared_ptr<ICaptureBackend>> backends);
std::vector<std::shared_ptr<ICaptureBackend>> GetCaptureBackends();
// Adds a back end after the others (the headless client adds the test pattern this way).
void AddCaptureBackend(std::shared_ptr<ICaptureBackend> backend);

// Every driver name of every back end, indexed as the capture window connects them.
std::vector<std::string> CaptureDriverDescriptions();
// Connects the driver with this overall index; null when there is none or it refuses.
std::unique_ptr<ICaptureDriver> ConnectCaptureDriver(int index);
