// The server's event log: one line per event on standard error, safe from any thread.
#pragma once

#include <functional>
#include <string>

void ServerLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Tests capture the lines; nullptr restores standard error. Returns the previous sink.
using ServerLogSink = std::function<void(const std::string&)>;
ServerLogSink SetServerLogSink(ServerLogSink sink);

// Makes a text from the network safe for a log line: control bytes and non-ASCII become escapes,
// and the result is cut at `limit` characters.
std::string LogSafe(const std::string& text, size_t limit = 64);
