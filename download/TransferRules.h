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
// Redirects followed before the download fails: a loop ends here at once.
constexpr int kMaxRedirects = 10;
// A busy server (503, 429 with Retry-After) is asked again this often, after
// the time it asks for but at most this long.
constexpr int kMaxBusyRetries = 3;
constexpr uint32_t kMaxBusyWaitSeconds = 60;

enum class Failure {
    None,
    Status,          // the server answered, but not with the file
    CannotConnect,   // nothing answers at the host's address
    Refused,         // the server refused the connection
    HostNotFound,    // the name does not resolve
    ConnectionLost,  // the connection broke off
    Incomplete,      // the body ended before its announced length
    Timeout,         // no data for too long
    Secure,          // the server's certificate is not trusted
    Handshake,       // client and server agree on no TLS version or cipher
    Address,         // the URL itself is unusable
    Write,           // the local file could not be written
    DiskFull,        // no room for the file where it is saved
    Downgrade,       // a redirect from https to http
    Redirects,       // more redirects than kMaxRedirects
    Encoded,         // a body in a content encoding that cannot be decoded
    WrongPart,       // a 206 answer with a part that was not asked for
    ProxyCredentials,   // the proxy wants a sign-in, and none was given
    ServerCredentials,  // the server wants a sign-in, and none was given
    Other,
};

// The kind of failure behind a WinINet error code.
Failure ClassifyNetworkError(uint32_t code);

// A Windows that speaks TLS 1.2 only once its user or an update turns it
// on: Vista lacks it until an update, and Windows 7's Internet settings
// leave it off until Internet Explorer 11 or the user switches it on.
enum class OldWindows { None, Vista, Windows7 };
// Which of them a Windows version (major, minor) is.
OldWindows OldWindowsFor(uint32_t major, uint32_t minor);

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

// A redirect answer, whose Location names where the file is now.
inline bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

enum class RedirectVerdict { Follow, Downgrade, TooMany, NotHttp };

// Judges a redirect from `from` to the absolute address `to` after
// `redirectsDone` others. The setup runs with administrator rights: what
// began over https never goes on over anything else.
RedirectVerdict JudgeRedirect(std::wstring_view from, std::wstring_view to, int redirectsDone);

// Seconds since 1970 of an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT", and the
// two older forms); nothing for anything else.
std::optional<int64_t> ParseHttpDate(std::wstring_view text);
// The seconds a Retry-After value asks to wait (a number of seconds or an
// HTTP date, `now` in seconds since 1970); nothing when it says neither.
std::optional<uint64_t> ParseRetryAfter(std::wstring_view value, int64_t now);

// Whether an answer says the server is busy and when to ask again.
inline bool IsBusy(int status) { return status == 503 || status == 429; }
inline bool ShouldRetryWhenBusy(int status, std::optional<uint64_t> retryAfter, int retriesDone) {
    return IsBusy(status) && retryAfter && retriesDone < kMaxBusyRetries;
}
// How long to wait before asking a busy server again, in milliseconds: the
// time it asked for, at most kMaxBusyWaitSeconds, spread by `random` (0 to
// 1) over a quarter of it (at least a second) so that many users who were
// turned away together do not all return in the same second.
uint64_t BusyWaitMs(uint64_t askedSeconds, double random);

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
// The largest read, and the size of each chunk handed to the disk. Under
// Wine every read costs a round trip of its own: 256 KB reads take half as
// long again as 1 MB ones for the same file.
constexpr uint32_t kLargestReadBytes = 1024 * 1024;
uint32_t NextReadSize(uint32_t asked, uint32_t got, uint64_t tookMs, uint32_t maximum);

// The host (and port, if given) of a URL, for showing where a file comes from.
std::wstring HostOfUrl(std::wstring_view url);

// What a body's Content-Encoding means for the file. The library asks for
// the plain bytes; gzip and deflate that come anyway are decoded by WinINet
// when it agreed to decode (the size is then unknown, and a break starts
// over instead of resuming); anything else would save bytes that are not
// the file.
enum class EncodingVerdict { Plain, Decoded, Refuse };
EncodingVerdict JudgeEncoding(std::wstring_view contentEncoding, bool decoding);

// Who asks for a user name and password: a 407 comes from the proxy, a 401
// from the server.
enum class SignIn { Proxy, Server };
struct Credentials {
    std::wstring user;
    std::wstring password;
};

// A cannot-connect failure on the host's own machine is a refusal: nothing
// lies between, so nothing else could have stopped it.
bool IsLoopbackHost(std::wstring_view host);

struct FailureDetails {
    Failure failure = Failure::None;
    int status = 0;              // for Failure::Status
    std::wstring statusText;     // the server's reason phrase
    std::wstring errorText;      // the system's description, for Write and Other
    uint64_t done = 0;           // for Incomplete, WrongPart
    std::optional<uint64_t> total;  // for Incomplete, WrongPart, DiskFull
    // What the message names: the last address (Downgrade, Redirects), the
    // drive (DiskFull) or the content encoding (Encoded).
    std::wstring named;
    std::optional<uint64_t> freeBytes;  // for DiskFull
    std::optional<uint64_t> retryAfter;  // for Status: the seconds a busy server asked to wait
    OldWindows windows = OldWindows::None;  // for Handshake: the Windows it ran on
};

// One or two sentences for the user saying why the download failed.
std::wstring DescribeFailure(const Texts& texts, const FailureDetails& details,
                             std::wstring_view url);

}  // namespace rvdl
