// A volume slider bound to a mixer control: moving the slider sets the volume, and a change of the
// volume made anywhere else moves the slider. The slider itself belongs to the user interface, which
// adapts it to IFaderSlider and reports the user's moves with OnScroll.
#pragma once

#include <cstdint>

#include "audio/MixerBase.h"
#include "platform/Messages.h"

// Scroll codes of a slider, as its owner reports them.
constexpr UINT TB_LINEUP = 0;
constexpr UINT TB_LINEDOWN = 1;
constexpr UINT TB_PAGEUP = 2;
constexpr UINT TB_PAGEDOWN = 3;
constexpr UINT TB_THUMBPOSITION = 4;
constexpr UINT TB_THUMBTRACK = 5;
constexpr UINT TB_TOP = 6;
constexpr UINT TB_BOTTOM = 7;
constexpr UINT TB_ENDTRACK = 8;

// Positions are counted as on a trackbar: a vertical slider has 0 at the top. Setting the position
// from here is not a move of the user's and must not come back through OnScroll.
class IFaderSlider {
public:
    virtual ~IFaderSlider() = default;
    virtual void SetRange(int minimum, int maximum, bool redraw) = 0;
    virtual int GetRangeMin() const = 0;
    virtual int GetRangeMax() const = 0;
    virtual int GetPos() const = 0;
    virtual void SetPos(int pos, bool redraw) = 0;
    virtual bool IsVertical() const = 0;
    virtual void Enable(bool enable) = 0;
};

// Lives on the user-interface thread: the mixer's change messages come to it there.
class CMixerFader : public CMessageTarget, public CMixerBase {
public:
    // What the slider shows: the first channel, the second, the louder of both keeping their balance
    // (the one volume sliders use), or the balance itself.
    enum EFaderType { kFaderFirst = 0, kFaderSecond = 1, kFaderMain = 2, kFaderBalance = 3 };

    CMixerFader() = default;
    ~CMixerFader() override;

    // The slider must outlive the fader or be detached (OnDestroy) first.
    void Attach(IFaderSlider* pSlider) { m_pSlider = pSlider; }
    IFaderSlider* GetSlider() const { return m_pSlider; }

    // 1 when bound (the slider stays disabled if the first read failed), 0 when not bound; a failure
    // leaves the slider disabled.
    int Init(uint32_t dstType, uint32_t srcType, uint32_t controlType, int faderType);
    // The user moved the slider; pages, dragging and the end of a move set the volume.
    void OnScroll(UINT code);
    // The slider is going: close the mixer and forget it.
    void OnDestroy();

    bool IsBound() const { return m_Value != nullptr; }
    uint32_t GetRange() const { return m_nRange; }
    uint32_t GetStep() const { return m_nStep; }
    int GetMax() const { return m_nMax; }
    double GetBalance() const { return m_dBalance; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // Channels the values block holds: a control with one value for all channels counts as one.
    uint32_t ValueChannels() const;
    void ShowValue();
    void SetValue();

    IFaderSlider* m_pSlider = nullptr;
    uint32_t m_nRange = 0;
    uint32_t m_nStep = 0;
    int m_nMax = 0;
    int m_nType = kFaderMain;
    double m_dBalance = 0.0;
    uint32_t* m_Value = nullptr;
};
