// ISessionCallHooks: what the session controller hands on to the call logic. The controller dispatches
// every message of the connection; those that belong to a call (its signalling, text, sound and pictures)
// and the call's timers arrive here. One object implements it (CCallControl) and registers itself with
// CSessionController::SetCallHooks. Every call comes on the user-interface thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class ISessionCallHooks {
public:
    virtual ~ISessionCallHooks() = default;

    // A call-signalling record of channel 0: MSG_CALL_ID, MSG_CALL_ACCEPTED, MSG_CALL_ABORT, MSG_HANGUP,
    // MSG_CALL_SETUP, MSG_CALL_REFUSED or MSG_CALL_CONNECTED. `data` is the whole record, code first, as
    // received (its length unchecked); it is valid during the call only.
    virtual void OnCallRecord(const uint8_t* data, size_t size) = 0;
    // A video-signalling record of channel 0: MSG_VIDEO_FORMAT, MSG_VIDEO_STOP or MSG_VIDEO_KEYFRAME.
    virtual void OnVideoRecord(const uint8_t* data, size_t size) = 0;
    // WM_TRANSPORT_RECV for any channel but control: 1 text, 2 audio, 4 video (others may be ignored).
    // The channel may already be empty: a nested loop can have drained it.
    virtual void OnChannelReceived(uint8_t channel) = 0;
    // Timer 3, the answer timeout of an outgoing call, fired. It repeats until StopCallTimeout().
    virtual void OnCallTimeout() = 0;
    // Dynamic mode, at the first timer tick of the session: place the call to the target NTV.
    virtual void PlaceCall(const std::string& ntv) = 0;
    // The connection ended (lost, or closed for a new attempt); a call in progress cannot go on.
    virtual void OnConnectionLost() {}
};
