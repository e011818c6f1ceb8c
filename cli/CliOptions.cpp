#include "cli/CliOptions.h"

#include <charconv>

namespace {

bool ParseSeconds(const std::string& text, int& seconds) {
    int value = -1;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0)
        return false;
    seconds = value;
    return true;
}

}  // namespace

const char* CliUsage() {
    return "usage: velaphon-cli --host HOST --ntv NTV --password PASS [--status away|connected]\n"
           "                    [--duration SECONDS] [--add-contact NTV[:NICKNAME]]...\n"
           "                    [--remove-contact NTV]... [--once]\n"
           "                    [--call NTV] [--auto-answer[=RINGS]] [--reject] [--hangup-after SECONDS]\n"
           "                    [--mic FILE.wav|tone|silence] [--speaker FILE.wav] [--say TEXT]\n"
           "                    [--camera test|NAME] [--still] [--video-off-after SECONDS]\n"
           "                    [--snapshot FILE.png] [--lose-pictures N] [--stats-every SECONDS]\n"
           "       velaphon-cli --list-cameras\n"
           "       velaphon-cli --help | --version\n"
           "\n"
           "Logs in to the Velaphon server HOST (port 443) and prints one line per event.\n"
           "  --status away         report the user as away after each login\n"
           "  --duration SECONDS    end after this long (default: at SIGINT or SIGTERM)\n"
           "  --add-contact         add a contact to the user's stored list after each login\n"
           "  --remove-contact NTV  remove a contact from the user's stored list once the server has\n"
           "                        listed it after a login (then prints contact-removed NTV)\n"
           "  --once                end as soon as the login is done, every added contact is known to\n"
           "                        the server and every removed one is gone (exit code 1 if --duration\n"
           "                        ends it first, as when a contact to remove was not listed)\n"
           "  --call NTV            call NTV once logged in\n"
           "  --auto-answer[=RINGS] answer incoming calls, at once or after RINGS rings; without it\n"
           "                        or --reject an incoming call rings out (ten rings: no answer)\n"
           "  --reject              refuse incoming calls\n"
           "  --hangup-after SECS   hang up this long after a call is connected\n"
           "  --mic SOURCE          what the microphone hears: a WAV file, tone or silence (default)\n"
           "  --speaker FILE.wav    record what is heard (default: decoded and dropped)\n"
           "  --say TEXT            send TEXT as a chat line once a call is connected\n"
           "  --chat-every MS       while a call is connected, send \"chat N\" every MS milliseconds\n"
           "                        (prints chat-sent N when the call ends)\n"
           "  --chat-size BYTES     pad each of those lines to BYTES\n"
           "  --loop-report         at the end print transport-waits N (waits for the link on the main\n"
           "                        thread, which makes none) and loop-lateness P50 P99 MAX (how late\n"
           "                        each 10 ms tick of the main loop was served, in milliseconds)\n"
           "  --stats-every SECS    print the current call's counts this often and when it ends:\n"
           "                        stats audio-sent N audio-dropped N audio-received N video-sent N\n"
           "                        video-received N video-decoded N chat-sent N chat-received N\n"
           "                        control-sent N control-received N (see the README)\n"
           "  --camera test|NAME    send video during calls, switched on once a call is connected:\n"
           "                        the test pattern (test) or the camera NAME\n"
           "  --still               the test pattern repeats one frame\n"
           "  --video-off-after SECS  switch video off this long after it started\n"
           "  --move-after SECS     with --still, the test pattern starts moving this long after\n"
           "                        video started (then prints video-moving N)\n"
           "  --snapshot FILE.png   save the last picture received when a call ends\n"
           "  --lose-pictures N     drop the first N pictures received in each call, as if lost on\n"
           "                        the way (a key frame is then asked for: video-keyframe-request)\n"
           "  --list-cameras        print the cameras, one line each: camera INDEX NAME (with\n"
           "                        VELAPHON_VIRTUAL_CAMERA=1 the test pattern is one of them)\n";
}

bool ParseCliArguments(const std::vector<std::string>& args, SCliOptions& o, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--list-cameras") {
            o.m_bListCameras = true;
            continue;
        }
        if (arg == "--once") {
            o.m_bOnce = true;
            continue;
        }
        if (arg == "--still") {
            o.m_Call.m_bStill = true;
            continue;
        }
        if (arg == "--loop-report") {
            o.m_bLoopReport = true;
            continue;
        }
        if (arg == "--reject") {
            o.m_Call.m_bReject = true;
            continue;
        }
        if (arg == "--auto-answer") {
            o.m_Call.m_nAutoAnswerRings = 0;
            continue;
        }
        if (arg.rfind("--auto-answer=", 0) == 0) {
            if (!ParseSeconds(arg.substr(14), o.m_Call.m_nAutoAnswerRings)) {
                error = "--auto-answer=RINGS wants a whole number of rings";
                return false;
            }
            continue;
        }
        const bool known = arg == "--host" || arg == "--ntv" || arg == "--password" || arg == "--status" ||
                           arg == "--duration" || arg == "--add-contact" || arg == "--call" ||
                           arg == "--remove-contact" || arg == "--hangup-after" || arg == "--mic" ||
                           arg == "--speaker" || arg == "--say" || arg == "--camera" ||
                           arg == "--video-off-after" || arg == "--move-after" || arg == "--snapshot" ||
                           arg == "--lose-pictures" || arg == "--chat-every" || arg == "--chat-size" ||
                           arg == "--stats-every";
        if (!known) {
            error = "unknown argument " + arg;
            return false;
        }
        if (i + 1 >= args.size()) {
            error = arg + " needs a value";
            return false;
        }
        const std::string& value = args[++i];
        if (arg == "--host") {
            o.m_strHost = value;
        } else if (arg == "--ntv") {
            o.m_strNtv = value;
        } else if (arg == "--password") {
            o.m_strPassword = value;
        } else if (arg == "--status") {
            if (value != "away" && value != "connected") {
                error = "--status is away or connected";
                return false;
            }
            o.m_bAway = value == "away";
        } else if (arg == "--duration") {
            if (!ParseSeconds(value, o.m_nDurationSeconds)) {
                error = "--duration wants a whole number of seconds";
                return false;
            }
        } else if (arg == "--call") {
            o.m_strCall = value;
        } else if (arg == "--remove-contact") {
            if (value.empty()) {
                error = "--remove-contact wants an NTV";
                return false;
            }
            o.m_RemoveContacts.push_back(value);
        } else if (arg == "--hangup-after") {
            if (!ParseSeconds(value, o.m_Call.m_nHangupAfterSeconds)) {
                error = "--hangup-after wants a whole number of seconds";
                return false;
            }
        } else if (arg == "--mic") {
            o.m_strMic = value;
        } else if (arg == "--speaker") {
            o.m_strSpeaker = value;
        } else if (arg == "--chat-every") {
            if (!ParseSeconds(value, o.m_Call.m_nChatEveryMs) || o.m_Call.m_nChatEveryMs < 1) {
                error = "--chat-every wants a whole number of milliseconds";
                return false;
            }
        } else if (arg == "--chat-size") {
            if (!ParseSeconds(value, o.m_Call.m_nChatSize) || o.m_Call.m_nChatSize > 1000000) {
                error = "--chat-size wants a number of bytes up to 1000000";
                return false;
            }
        } else if (arg == "--stats-every") {
            if (!ParseSeconds(value, o.m_Call.m_nStatsEverySeconds) || o.m_Call.m_nStatsEverySeconds < 1) {
                error = "--stats-every wants a whole number of seconds";
                return false;
            }
        } else if (arg == "--say") {
            o.m_Call.m_strSay = value;
        } else if (arg == "--camera") {
            o.m_Call.m_strCamera = value;
        } else if (arg == "--snapshot") {
            o.m_Call.m_strSnapshot = value;
        } else if (arg == "--move-after") {
            if (!ParseSeconds(value, o.m_Call.m_nMoveAfterSeconds)) {
                error = "--move-after wants a whole number of seconds";
                return false;
            }
        } else if (arg == "--lose-pictures") {
            if (!ParseSeconds(value, o.m_Call.m_nLosePictures)) {
                error = "--lose-pictures wants a whole number of pictures";
                return false;
            }
        } else if (arg == "--video-off-after") {
            if (!ParseSeconds(value, o.m_Call.m_nVideoOffAfterSeconds)) {
                error = "--video-off-after wants a whole number of seconds";
                return false;
            }
        } else {
            const size_t colon = value.find(':');
            std::string ntv = value.substr(0, colon);
            if (ntv.empty()) {
                error = "--add-contact wants NTV[:NICKNAME]";
                return false;
            }
            o.m_AddContacts.emplace_back(ntv, colon == std::string::npos ? "" : value.substr(colon + 1));
        }
    }
    if (o.m_Call.m_bReject && o.m_Call.m_nAutoAnswerRings >= 0) {
        error = "--reject and --auto-answer exclude each other";
        return false;
    }
    if (o.m_bListCameras)
        return true;
    if (o.m_strHost.empty() || o.m_strNtv.empty() || o.m_strPassword.empty()) {
        error = "--host, --ntv and --password are required";
        return false;
    }
    return true;
}
