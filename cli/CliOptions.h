// The command line of velaphon-cli.
#pragma once

#include <string>
#include <utility>
#include <vector>

// How the headless client answers and conducts a call.
struct SCallScript {
    int m_nAutoAnswerRings = -1;  // -1: no automatic answer; 0: at once; N: after N rings
    bool m_bReject = false;
    int m_nHangupAfterSeconds = -1;
    std::string m_strSay;     // sent once the call is connected; nothing when empty
    std::string m_strCamera;  // video is switched on once the call is connected; none when empty
    bool m_bStill = false;    // the test pattern repeats one frame
    int m_nVideoOffAfterSeconds = -1;
    int m_nMoveAfterSeconds = -1;  // a still test pattern starts moving this long after video started
    std::string m_strSnapshot;     // the last decoded picture is saved here when a call ends
    int m_nLosePictures = 0;       // received pictures dropped at the start of each call
    int m_nChatEveryMs = -1;       // a numbered chat line this often while a call is connected
    int m_nChatSize = 0;           // each padded to this many bytes
    int m_nStatsEverySeconds = 0;  // a stats line this often, and at the end of each call; 0: none
};

struct SCliOptions {
    std::string m_strHost;
    std::string m_strNtv;
    std::string m_strPassword;
    bool m_bAway = false;
    int m_nDurationSeconds = -1;                                     // -1: until SIGINT or SIGTERM
    std::vector<std::pair<std::string, std::string>> m_AddContacts;  // NTV, nickname
    std::vector<std::string> m_RemoveContacts;
    bool m_bOnce = false;
    std::string m_strCall;     // placed once, after the first login
    std::string m_strMic;      // a WAV file, "tone" or "silence" (also when empty)
    std::string m_strSpeaker;  // a WAV file; empty: received sound is decoded and dropped
    SCallScript m_Call;
    bool m_bListCameras = false;  // print the cameras and end; nothing else is needed
    bool m_bLoopReport = false;   // at the end, how the main loop kept up (see the usage)
};

// Parses the arguments after the program name. False with a reason for anything it does not accept.
bool ParseCliArguments(const std::vector<std::string>& args, SCliOptions& options, std::string& error);

const char* CliUsage();
