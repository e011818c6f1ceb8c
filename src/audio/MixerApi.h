// The mixer interface the volume faders are written against: devices made of destination lines, source
// lines under them and controls on each line, per-channel control values, and change notifications
// posted as MM_MIXM_CONTROL_CHANGE to the window given at open. The work is done by the back ends of
// MixerBackend.h (ALSA's simple mixer, virtual mixers); this layer numbers lines and controls the same
// way for every back end and checks every request.
//
// A handle is used and closed on the thread that opened it: back ends that learn of changes by asking
// are asked from a timer on that thread.
#pragma once

#include <cstdint>
#include <string>

#include "audio/WaveApi.h"
#include "platform/Messages.h"

struct HMIXER__;
using HMIXER = HMIXER__*;

constexpr MMRESULT MIXERR_INVALLINE = 1024;
constexpr MMRESULT MIXERR_INVALCONTROL = 1025;
constexpr MMRESULT MIXERR_INVALVALUE = 1026;

// wParam: the mixer handle; lParam: the line or control identifier.
constexpr UINT MM_MIXM_LINE_CHANGE = 0x3D0;
constexpr UINT MM_MIXM_CONTROL_CHANGE = 0x3D1;

// Component types of lines.
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_FIRST = 0x0000;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_UNDEFINED = 0x0000;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_DIGITAL = 0x0001;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_LINE = 0x0002;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_MONITOR = 0x0003;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 0x0004;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_HEADPHONES = 0x0005;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_TELEPHONE = 0x0006;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_WAVEIN = 0x0007;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_VOICEIN = 0x0008;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_LAST = 0x0008;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_FIRST = 0x1000;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED = 0x1000;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_DIGITAL = 0x1001;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_LINE = 0x1002;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE = 0x1003;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER = 0x1004;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC = 0x1005;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE = 0x1006;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER = 0x1007;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT = 0x1008;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY = 0x1009;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_ANALOG = 0x100A;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_LAST = 0x100A;
// Not a line: asks for the control on the destination line itself.
constexpr uint32_t MIXER_NO_SOURCE_LINE = 0x100B;

// Control types: class, subclass and units.
constexpr uint32_t MIXERCONTROL_CT_CLASS_MASK = 0xF0000000;
constexpr uint32_t MIXERCONTROL_CT_CLASS_CUSTOM = 0x00000000;
constexpr uint32_t MIXERCONTROL_CT_CLASS_METER = 0x10000000;
constexpr uint32_t MIXERCONTROL_CT_CLASS_SWITCH = 0x20000000;
constexpr uint32_t MIXERCONTROL_CT_CLASS_NUMBER = 0x30000000;
constexpr uint32_t MIXERCONTROL_CT_CLASS_SLIDER = 0x40000000;
constexpr uint32_t MIXERCONTROL_CT_CLASS_FADER = 0x50000000;
constexpr uint32_t MIXERCONTROL_CT_CLASS_TIME = 0x60000000;
constexpr uint32_t MIXERCONTROL_CT_CLASS_LIST = 0x70000000;
constexpr uint32_t MIXERCONTROL_CT_SUBCLASS_MASK = 0x0F000000;
constexpr uint32_t MIXERCONTROL_CT_SC_SWITCH_BOOLEAN = 0x00000000;
constexpr uint32_t MIXERCONTROL_CT_SC_SWITCH_BUTTON = 0x01000000;
constexpr uint32_t MIXERCONTROL_CT_SC_METER_POLLED = 0x00000000;
constexpr uint32_t MIXERCONTROL_CT_SC_TIME_MICROSECS = 0x00000000;
constexpr uint32_t MIXERCONTROL_CT_SC_TIME_MILLISECS = 0x01000000;
constexpr uint32_t MIXERCONTROL_CT_SC_LIST_SINGLE = 0x00000000;
constexpr uint32_t MIXERCONTROL_CT_SC_LIST_MULTIPLE = 0x01000000;
constexpr uint32_t MIXERCONTROL_CT_UNITS_MASK = 0x00FF0000;
constexpr uint32_t MIXERCONTROL_CT_UNITS_CUSTOM = 0x00000000;
constexpr uint32_t MIXERCONTROL_CT_UNITS_BOOLEAN = 0x00010000;
constexpr uint32_t MIXERCONTROL_CT_UNITS_SIGNED = 0x00020000;
constexpr uint32_t MIXERCONTROL_CT_UNITS_UNSIGNED = 0x00030000;
constexpr uint32_t MIXERCONTROL_CT_UNITS_DECIBELS = 0x00040000;
constexpr uint32_t MIXERCONTROL_CT_UNITS_PERCENT = 0x00050000;

constexpr uint32_t MIXERCONTROL_CONTROLTYPE_CUSTOM =
    MIXERCONTROL_CT_CLASS_CUSTOM | MIXERCONTROL_CT_UNITS_CUSTOM;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_BOOLEANMETER =
    MIXERCONTROL_CT_CLASS_METER | MIXERCONTROL_CT_SC_METER_POLLED | MIXERCONTROL_CT_UNITS_BOOLEAN;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_SIGNEDMETER =
    MIXERCONTROL_CT_CLASS_METER | MIXERCONTROL_CT_SC_METER_POLLED | MIXERCONTROL_CT_UNITS_SIGNED;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_PEAKMETER = MIXERCONTROL_CONTROLTYPE_SIGNEDMETER + 1;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_UNSIGNEDMETER =
    MIXERCONTROL_CT_CLASS_METER | MIXERCONTROL_CT_SC_METER_POLLED | MIXERCONTROL_CT_UNITS_UNSIGNED;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_BOOLEAN =
    MIXERCONTROL_CT_CLASS_SWITCH | MIXERCONTROL_CT_SC_SWITCH_BOOLEAN | MIXERCONTROL_CT_UNITS_BOOLEAN;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_ONOFF = MIXERCONTROL_CONTROLTYPE_BOOLEAN + 1;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MUTE = MIXERCONTROL_CONTROLTYPE_BOOLEAN + 2;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MONO = MIXERCONTROL_CONTROLTYPE_BOOLEAN + 3;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_LOUDNESS = MIXERCONTROL_CONTROLTYPE_BOOLEAN + 4;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_STEREOENH = MIXERCONTROL_CONTROLTYPE_BOOLEAN + 5;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_BUTTON =
    MIXERCONTROL_CT_CLASS_SWITCH | MIXERCONTROL_CT_SC_SWITCH_BUTTON | MIXERCONTROL_CT_UNITS_BOOLEAN;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_DECIBELS =
    MIXERCONTROL_CT_CLASS_NUMBER | MIXERCONTROL_CT_UNITS_DECIBELS;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_SIGNED =
    MIXERCONTROL_CT_CLASS_NUMBER | MIXERCONTROL_CT_UNITS_SIGNED;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_UNSIGNED =
    MIXERCONTROL_CT_CLASS_NUMBER | MIXERCONTROL_CT_UNITS_UNSIGNED;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_PERCENT =
    MIXERCONTROL_CT_CLASS_NUMBER | MIXERCONTROL_CT_UNITS_PERCENT;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_SLIDER =
    MIXERCONTROL_CT_CLASS_SLIDER | MIXERCONTROL_CT_UNITS_SIGNED;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_PAN = MIXERCONTROL_CONTROLTYPE_SLIDER + 1;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_QSOUNDPAN = MIXERCONTROL_CONTROLTYPE_SLIDER + 2;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_FADER =
    MIXERCONTROL_CT_CLASS_FADER | MIXERCONTROL_CT_UNITS_UNSIGNED;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_VOLUME = MIXERCONTROL_CONTROLTYPE_FADER + 1;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_BASS = MIXERCONTROL_CONTROLTYPE_FADER + 2;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_TREBLE = MIXERCONTROL_CONTROLTYPE_FADER + 3;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_EQUALIZER = MIXERCONTROL_CONTROLTYPE_FADER + 4;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_SINGLESELECT =
    MIXERCONTROL_CT_CLASS_LIST | MIXERCONTROL_CT_SC_LIST_SINGLE | MIXERCONTROL_CT_UNITS_BOOLEAN;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MUX = MIXERCONTROL_CONTROLTYPE_SINGLESELECT + 1;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MULTIPLESELECT =
    MIXERCONTROL_CT_CLASS_LIST | MIXERCONTROL_CT_SC_LIST_MULTIPLE | MIXERCONTROL_CT_UNITS_BOOLEAN;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MIXER = MIXERCONTROL_CONTROLTYPE_MULTIPLESELECT + 1;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MICROTIME =
    MIXERCONTROL_CT_CLASS_TIME | MIXERCONTROL_CT_SC_TIME_MICROSECS | MIXERCONTROL_CT_UNITS_UNSIGNED;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MILLITIME =
    MIXERCONTROL_CT_CLASS_TIME | MIXERCONTROL_CT_SC_TIME_MILLISECS | MIXERCONTROL_CT_UNITS_UNSIGNED;

// Control flags.
constexpr uint32_t MIXERCONTROL_CONTROLF_UNIFORM = 0x00000001;  // one value for all channels
constexpr uint32_t MIXERCONTROL_CONTROLF_MULTIPLE = 0x00000002;
constexpr uint32_t MIXERCONTROL_CONTROLF_DISABLED = 0x80000000;

// Query flags.
constexpr uint32_t MIXER_GETLINEINFOF_DESTINATION = 0x0;
constexpr uint32_t MIXER_GETLINEINFOF_SOURCE = 0x1;
constexpr uint32_t MIXER_GETLINEINFOF_LINEID = 0x2;
constexpr uint32_t MIXER_GETLINEINFOF_COMPONENTTYPE = 0x3;
constexpr uint32_t MIXER_GETLINECONTROLSF_ALL = 0x0;
constexpr uint32_t MIXER_GETLINECONTROLSF_ONEBYID = 0x1;
constexpr uint32_t MIXER_GETLINECONTROLSF_ONEBYTYPE = 0x2;
constexpr uint32_t MIXER_GETCONTROLDETAILSF_VALUE = 0x0;
constexpr uint32_t MIXER_SETCONTROLDETAILSF_VALUE = 0x0;

struct MIXERCAPS {
    std::string szPname;
    uint32_t cDestinations;
};

struct MIXERLINE {
    uint32_t dwDestination;    // in: the destination index
    uint32_t dwSource;         // in: the source index under it (MIXER_GETLINEINFOF_SOURCE)
    uint32_t dwLineID;         // in for MIXER_GETLINEINFOF_LINEID
    uint32_t dwComponentType;  // in for MIXER_GETLINEINFOF_COMPONENTTYPE
    uint32_t cChannels;
    uint32_t cConnections;  // sources under a destination; 0 for a source
    uint32_t cControls;
    std::string szShortName;
    std::string szName;
};

struct MIXERCONTROL {
    uint32_t dwControlID;
    uint32_t dwControlType;
    uint32_t fdwControl;
    uint32_t cMultipleItems;
    std::string szShortName;
    std::string szName;
    struct {
        uint32_t dwMinimum;
        uint32_t dwMaximum;
    } Bounds;
    struct {
        uint32_t cSteps;
    } Metrics;
};

struct MIXERLINECONTROLS {
    uint32_t dwLineID;
    uint32_t dwControl;  // the control type (ONEBYTYPE) or identifier (ONEBYID)
    uint32_t cControls;  // room in pamxctrl; ALL needs the line's count
    MIXERCONTROL* pamxctrl;
};

// The values block holds cChannels values, times cMultipleItems for a control with several items.
struct MIXERCONTROLDETAILS {
    uint32_t dwControlID;
    uint32_t cChannels;
    uint32_t cMultipleItems;
    uint32_t cbDetails;  // 4: one unsigned 32-bit value each
    void* paDetails;
};

// Devices are listed afresh by each call; ids given to mixerOpen are positions in the latest list.
UINT mixerGetNumDevs();
// With CALLBACK_WINDOW, changes of any control (made by this or any other handle or program) are posted
// to `hWndCallback` as MM_MIXM_CONTROL_CHANGE.
MMRESULT mixerOpen(HMIXER* phmx, UINT uMxId, HWND hWndCallback, uintptr_t dwInstance, uint32_t fdwOpen);
MMRESULT mixerClose(HMIXER hmx);
MMRESULT mixerGetDevCaps(HMIXER hmx, MIXERCAPS* pmxcaps);
MMRESULT mixerGetLineInfo(HMIXER hmx, MIXERLINE* pmxl, uint32_t fdwInfo);
MMRESULT mixerGetLineControls(HMIXER hmx, MIXERLINECONTROLS* pmxlc, uint32_t fdwControls);
MMRESULT mixerGetControlDetails(HMIXER hmx, MIXERCONTROLDETAILS* pmxcd, uint32_t fdwDetails);
// Values outside the control's bounds are refused (MIXERR_INVALVALUE) and nothing is changed.
MMRESULT mixerSetControlDetails(HMIXER hmx, const MIXERCONTROLDETAILS* pmxcd, uint32_t fdwDetails);
