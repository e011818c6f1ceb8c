#include "platform/Trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/Format.h"

namespace {

// One lock for every call, so lines of different threads never interleave.
std::mutex& TraceMutex() {
    static std::mutex m;
    return m;
}

TraceSink& TestSink() {
    static TraceSink sink;
    return sink;
}

void WriteToFile(const std::string& text) {
    const char* path = std::getenv("VELAPHON_TRACE");
    if (path == nullptr || *path == '\0')
        return;
    if (FILE* f = std::fopen(path, "a")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}

}  // namespace

void Trace(const char* format, ...) {
    if (format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    const std::string text = FormatV(format, args);
    va_end(args);

    std::lock_guard<std::mutex> guard(TraceMutex());
    if (TestSink()) {
        TestSink()(text);
    } else {
        WriteToFile(text);
    }
}

TraceSink SetTraceSink(TraceSink sink) {
    std::lock_guard<std::mutex> guard(TraceMutex());
    TraceSink old = std::move(TestSink());
    TestSink() = std::move(sink);
    return old;
}
