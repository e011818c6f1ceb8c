// Diagnostic lines of the whole program. Formats begin with "%s:%d" (source name and line).
// Nothing is written unless VELAPHON_TRACE names a file, where each formatted text is appended;
// tests may install a sink of their own.
#pragma once

#include <functional>
#include <string>

void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Replaces the sink (nullptr restores the environment's choice). Returns the previous test sink.
using TraceSink = std::function<void(const std::string&)>;
TraceSink SetTraceSink(TraceSink sink);
