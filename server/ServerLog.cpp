#include "server/ServerLog.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform/Format.h"

namespace {

std::mutex& LogMutex() {
    static std::mutex m;
    return m;
}

ServerLogSink& Sink() {
    static ServerLogSink sink;
    return sink;
}

}  // namespace

void ServerLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string line = FormatV(format, args);
    va_end(args);

    std::lock_guard<std::mutex> guard(LogMutex());
    if (Sink()) {
        Sink()(line);
        return;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

ServerLogSink SetServerLogSink(ServerLogSink sink) {
    std::lock_guard<std::mutex> guard(LogMutex());
    ServerLogSink previous = std::move(Sink());
    Sink() = std::move(sink);
    return previous;
}

std::string LogSafe(const std::string& text, size_t limit) {
    std::string out;
    for (size_t i = 0; i < text.size() && i < limit; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    if (text.size() > limit)
        out += "...";
    return out;
}
