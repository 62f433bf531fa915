// The decisions of a download, apart from the network calls that feed them:
// which answers count, when to resume, and how a failure is put into words.
#pragma once

#include "Texts.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rvdl {

// A lost connection is resumed this often before the download fails.
constexpr int kMaxResumes = 3;
// A download that receives nothing for this long fails.
constexpr uint32_t kStallSeconds = 30;

enum class Failure {
    None,
    Status,          // the server answered, but not with the file
    CannotConnect,   // nothing answers at the host's address
    HostNotFound,    // the name does not resolve
    ConnectionLost,  // the connection broke off
    Incomplete,      // the body ended before its announced length
    Timeout,         // no data for too long
    Secure,          // TLS could not be established or trusted
    Address,         // the URL itself is unusable
    Write,           // the local file could not be written
    Other,
};

// The kind of failure behind a WinINet error code.
Failure ClassifyNetworkError(uint32_t code);

// Failures that another request may cure, starting where the last one ended.
inline bool IsResumable(Failure failure) {
    return failure == Failure::ConnectionLost || failure == Failure::Incomplete;
}
inline bool ShouldResume(Failure failure, int resumesDone) {
    return IsResumable(failure) && resumesDone < kMaxResumes;
}

struct ContentRange {
    uint64_t first = 0;
    uint64_t last = 0;
    std::optional<uint64_t> total;  // "*" when the server does not say
};

// "bytes 100-199/1000" or "bytes 100-199/*"; nothing for anything else.
std::optional<ContentRange> ParseContentRange(std::wstring_view header);
// A decimal byte count such as Content-Length, digits only.
std::optional<uint64_t> ParseLength(std::wstring_view text);

// The header that asks for the rest of the file from an offset on; empty
// for a request from the start.
std::wstring RangeHeader(uint64_t offset);

enum class BodyStart {
    Append,    // the body continues the file at the offset asked for
    FromZero,  // the body is the whole file: what was written goes
    Refuse,    // the answer is no part of the file
};

struct ResponseVerdict {
    BodyStart start = BodyStart::Refuse;
    std::optional<uint64_t> total;     // the whole file's size, when known
    Failure failure = Failure::None;   // why it was refused
};

// Judges an answer to a request for the file from `offset` on.
ResponseVerdict JudgeResponse(uint64_t offset, int status, std::optional<uint64_t> contentLength,
                              std::optional<ContentRange> range);

// Judges the end of a body: complete, or short of its announced size.
inline Failure JudgeBodyEnd(uint64_t received, std::optional<uint64_t> total) {
    return total && received < *total ? Failure::Incomplete : Failure::None;
}

// How much the next read of the body asks for. A read waits until it has
// all it asked for, so a large one holds progress (and the stall watch)
// back on a slow line, while small ones cost a round trip each on a fast
// one. Asking for what has arrived (0) is always safe; the size doubles, up
// to `maximum`, while reads come back full at once, and drops back to 0 as
// soon as one had to wait.
constexpr uint64_t kQuickReadMs = 50;
uint32_t NextReadSize(uint32_t asked, uint32_t got, uint64_t tookMs, uint32_t maximum);

// The host (and port, if given) of a URL, for showing where a file comes from.
std::wstring HostOfUrl(std::wstring_view url);

struct FailureDetails {
    Failure failure = Failure::None;
    int status = 0;              // for Failure::Status
    std::wstring statusText;     // the server's reason phrase
    std::wstring errorText;      // the system's description, for Write and Other
    uint64_t done = 0;           // for Incomplete
    std::optional<uint64_t> total;
};

// One or two sentences for the user saying why the download failed.
std::wstring DescribeFailure(const Texts& texts, const FailureDetails& details,
                             std::wstring_view url);

}  // namespace rvdl
