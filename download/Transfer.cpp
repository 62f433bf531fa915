// rand_s is declared only on request.
#define _CRT_RAND_S
#include "Transfer.h"

#include "GrowingRead.h"
#include "Handles.h"
#include "WinError.h"
#include "basFiles.h"

#include <wininet.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <new>

namespace rvdl {

using rvz::ExclusiveLock;

namespace {

// Fixed-size chunks: memory stays the same whatever the file's size.
constexpr DWORD kChunkBytes = kLargestReadBytes;

constexpr wchar_t kUserAgent[] = L"RAVoduza/1.0";

// A text that a WinINet query fills, however long. The text ends at its NUL:
// what the queries report back as its length is in bytes for some and in
// characters for others. The buffer's last character stays out of their
// reach, so that a NUL always ends the text.
std::optional<std::wstring> QueryGrowing(const std::function<BOOL(void*, DWORD*)>& query) {
    return rvz::ReadGrowing([&](wchar_t* buffer, size_t size) -> size_t {
        DWORD bytes = static_cast<DWORD>((size - 1) * sizeof(wchar_t));
        if (query(buffer, &bytes)) return size;
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return 0;
        return bytes / sizeof(wchar_t) + 2;  // the room asked for, rounded up, and the NUL
    }, 256);
}

std::optional<std::wstring> QueryHeader(HINTERNET request, DWORD info) {
    return QueryGrowing([&](void* buffer, DWORD* bytes) {
        return ::HttpQueryInfoW(request, info, buffer, bytes, nullptr);
    });
}

// WinINet describes its own errors; the system describes the rest.
std::wstring ErrorText(DWORD code) {
    return rvz::SystemErrorText(code, ::GetModuleHandleW(L"wininet.dll"));
}

// The Windows this runs on, as RtlGetVersion tells it: GetVersionEx reports
// what the program's manifest claims to know.
OldWindows RunningOldWindows() {
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto getVersion =
        rvz::FunctionOf<GetVersion>(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!getVersion || getVersion(&version) != 0) return OldWindows::None;
    return OldWindowsFor(version.dwMajorVersion, version.dwMinorVersion);
}

FailureDetails ErrorFailure(Failure failure, DWORD code) {
    FailureDetails details;
    details.failure = failure;
    details.errorText = ErrorText(code);
    // Where TLS 1.2 waits for the user or an update, the message says what turns it on.
    if (failure == Failure::Handshake) details.windows = RunningOldWindows();
    return details;
}

FailureDetails NetworkFailure(DWORD code) {
    return ErrorFailure(ClassifyNetworkError(code), code);
}

// A connection that the host's own machine could not make was refused.
FailureDetails ConnectFailure(DWORD code, const std::wstring& url) {
    FailureDetails details = NetworkFailure(code);
    if (details.failure == Failure::CannotConnect && IsLoopbackHost(HostOfUrl(url)))
        details.failure = Failure::Refused;
    return details;
}

// A number from 0 to 1 that differs from user to user.
double RandomFraction() {
    unsigned int value = 0;
    if (rand_s(&value) != 0) value = static_cast<unsigned int>(::GetTickCount64());
    return static_cast<double>(value) / static_cast<double>(UINT_MAX);
}

// The volume that holds a path ("C:\\"), or the path's folder when that fails.
std::wstring VolumeOf(const std::wstring& path) {
    const auto volume = rvz::ReadGrowing([&](wchar_t* buffer, size_t size) -> size_t {
        if (::GetVolumePathNameW(path.c_str(), buffer, static_cast<DWORD>(size))) return size;
        // Too small a buffer is a path too long for it; it does not say what it needs.
        const DWORD error = ::GetLastError();
        const bool cutOff = error == ERROR_FILENAME_EXCED_RANGE || error == ERROR_INSUFFICIENT_BUFFER;
        return cutOff ? size * 2 : 0;
    });
    return volume ? *volume : rvz::GetDirectoryPart(path);
}

}  // namespace

struct Transfer::Shared {
    std::wstring url;
    uint32_t stallMs = 0;

    // Read by the caller's polls without the lock.
    std::atomic<int> phase{static_cast<int>(TransferPhase::Connecting)};
    std::atomic<uint64_t> done{0};
    std::atomic<int64_t> total{-1};
    std::atomic<int> resumes{0};
    std::atomic<int> busyRetries{0};
    std::atomic<ULONGLONG> busyUntil{0};
    std::atomic<int> signIn{static_cast<int>(SignIn::Server)};
    std::atomic<ULONGLONG> lastActivity{::GetTickCount64()};
    // Wakes a worker that waits for a busy server or for the user's
    // credentials: set by the answer and by abandonment.
    rvz::UniqueHandleKernel wake{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};

    // Everything below belongs to whoever holds the lock.
    SRWLOCK lock = SRWLOCK_INIT;
    bool abandoned = false;
    rvz::UniqueFile file;
    std::wstring tempPath;
    // Told of an end or a question, once named; null before.
    HWND notify = nullptr;
    UINT message = 0;
    UniqueInternet session;
    UniqueInternet connection;
    UniqueInternet request;
    FailureDetails failure;
    std::optional<Credentials> answer;

    TransferPhase Phase() const { return static_cast<TransferPhase>(phase.load()); }
    // Something the caller must take up: an end, or a question for the user.
    bool NeedsCaller() const { return Ended() || Phase() == TransferPhase::Credentials; }
    bool Ended() const {
        const TransferPhase p = Phase();
        return p == TransferPhase::Succeeded || p == TransferPhase::Failed;
    }
    // Waiting for the server's time or the user is no stall.
    bool Waiting() const {
        const TransferPhase p = Phase();
        return p == TransferPhase::Busy || p == TransferPhase::Credentials;
    }
    void Touch() { lastActivity = ::GetTickCount64(); }
    // A new phase is activity: the stall clock starts again after a wait.
    void SetPhase(TransferPhase p) {
        Touch();
        phase = static_cast<int>(p);
    }

    // Under the lock, right after what needs the caller happened: tells the
    // window named so far. A window named later is told when it is named.
    void NotifyLocked() const {
        if (notify) ::PostMessageW(notify, message, 0, 0);
    }

    // Under the lock: records the outcome unless one was recorded already.
    void EndLocked(const FailureDetails& details) {
        if (Ended()) return;
        failure = details;
        phase = static_cast<int>(details.failure == Failure::None ? TransferPhase::Succeeded
                                                                  : TransferPhase::Failed);
    }

    // Under the lock: drops the connection and the file, now.
    void DiscardLocked() {
        abandoned = true;
        request.reset();
        connection.reset();
        session.reset();
        file.reset();
        ::SetEvent(wake.get());
        if (!tempPath.empty()) ::DeleteFileW(tempPath.c_str());
        tempPath.clear();
    }

    void AbandonWith(const FailureDetails& details) {
        ExclusiveLock hold(lock);
        EndLocked(details);
        DiscardLocked();
    }

    bool Abandoned() {
        ExclusiveLock hold(lock);
        return abandoned;
    }
};

namespace {

// Writes chunks on a thread of its own while the next ones are received, so
// that receiving never waits for the disk: a ring of kSlots chunks, filled
// in turn by the receiver and written in the same order. Memory stays flat.
class ChunkWriter {
public:
    // write(data, bytes) puts one chunk into the file: 0, or the error that
    // stopped it. Chunks after an error are dropped.
    using WriteFunction = std::function<DWORD(const char*, DWORD)>;

    // The ring is not zeroed: every byte written was received first.
    explicit ChunkWriter(WriteFunction write)
        : write_(std::move(write)), buffers_(new (std::nothrow) char[kSlots * kChunkBytes]) {
        if (!buffers_) {
            error_ = ERROR_NOT_ENOUGH_MEMORY;
            return;
        }
        thread_.reset(::CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr));
    }
    ~ChunkWriter() {
        {
            ExclusiveLock hold(lock_);
            stopping_ = true;
        }
        ::WakeAllConditionVariable(&changed_);
        if (thread_) ::WaitForSingleObject(thread_.get(), INFINITE);
    }
    ChunkWriter(const ChunkWriter&) = delete;
    ChunkWriter& operator=(const ChunkWriter&) = delete;

    // The chunk to receive into next, once one is free; null once a write
    // has failed, for then receiving more is of no use.
    char* Next() {
        ExclusiveLock hold(lock_);
        while (filled_ == kSlots && error_ == 0) ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
        return error_ == 0 ? Slot((first_ + filled_) % kSlots) : nullptr;
    }

    // Hands the chunk from Next, holding `bytes`, to the file. Without a
    // thread of its own (none could be made) it is written at once.
    void Submit(DWORD bytes) {
        if (!thread_) {
            WriteNow(Slot(first_), bytes);
            return;
        }
        bool wake = false;
        {
            ExclusiveLock hold(lock_);
            sizes_[(first_ + filled_) % kSlots] = bytes;
            wake = ++filled_ >= kWakeAt;
        }
        // Each wake costs a switch of threads: the writer is woken once
        // kWakeAt chunks wait, and writes them in one go.
        if (wake) ::WakeAllConditionVariable(&changed_);
    }

    // Waits until every chunk handed over is in the file: 0, or the first
    // error that stopped the writing.
    DWORD Drain() {
        ::WakeAllConditionVariable(&changed_);  // a chunk may wait alone, unwoken
        ExclusiveLock hold(lock_);
        while (filled_ > 0) ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
        return error_;
    }

private:
    static constexpr size_t kSlots = 3;
    static constexpr size_t kWakeAt = 2;
    static_assert(kWakeAt <= kSlots, "a full ring must have woken the writer");

    char* Slot(size_t index) { return buffers_.get() + index * kChunkBytes; }

    void WriteNow(const char* data, DWORD bytes) {
        if (error_ == 0) error_ = write_(data, bytes);
    }

    static DWORD WINAPI ThreadMain(void* parameter) {
        static_cast<ChunkWriter*>(parameter)->Write();
        return 0;
    }

    void Write() {
        ExclusiveLock hold(lock_);
        for (;;) {
            while (filled_ == 0 && !stopping_) ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
            if (filled_ == 0) return;
            const size_t slot = first_;
            // Only this thread touches a filled slot, and the receiver only
            // the free ones: the file is written without the ring's lock.
            ::ReleaseSRWLockExclusive(&lock_);
            const DWORD error = error_ == 0 ? write_(Slot(slot), sizes_[slot]) : error_;
            ::AcquireSRWLockExclusive(&lock_);
            if (error_ == 0) error_ = error;
            first_ = (first_ + 1) % kSlots;
            --filled_;
            ::WakeAllConditionVariable(&changed_);
        }
    }

    WriteFunction write_;
    std::unique_ptr<char[]> buffers_;
    DWORD sizes_[kSlots] = {};
    size_t first_ = 0;   // the oldest filled slot
    size_t filled_ = 0;  // how many slots wait to be written
    DWORD error_ = 0;
    bool stopping_ = false;
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
    rvz::UniqueHandleKernel thread_;
};

// The worker thread's side: fetches, resumes, writes, and reports.
class Worker {
public:
    explicit Worker(Transfer::Shared& shared)
        : s_(shared), writer_([this](const char* data, DWORD bytes) { return Write(data, bytes); }) {}

    void Run() {
        // A body that arrived whole has been drained into the file by BodyEnd.
        const FailureDetails result = Fetch();
        {
            ExclusiveLock hold(s_.lock);
            if (s_.abandoned) return;
            s_.EndLocked(result);
            s_.request.reset();
            s_.connection.reset();
            s_.session.reset();
            s_.NotifyLocked();
        }
    }

private:
    FailureDetails Fetch() {
        const HINTERNET session = OpenSession();
        if (!session) return NetworkFailure(::GetLastError());
        std::wstring url = s_.url;
        int resumes = 0;
        int busyRetries = 0;
        for (;;) {
            const FailureDetails result = Attempt(session, url);
            if (result.failure == Failure::None || s_.Abandoned()) return result;
            if (ShouldRetryWhenBusy(result.status, result.retryAfter, busyRetries)) {
                if (!WaitWhileBusy(BusyWaitMs(*result.retryAfter, RandomFraction()), ++busyRetries))
                    return result;
            } else if (ShouldResume(result.failure, resumes)) {
                s_.resumes = ++resumes;
                s_.SetPhase(TransferPhase::Resuming);
            } else {
                return result;
            }
        }
    }

    HINTERNET OpenSession() {
        UniqueInternet session(
            ::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (!session) return nullptr;
        ExclusiveLock hold(s_.lock);
        if (s_.abandoned) return nullptr;
        s_.session = std::move(session);
        return s_.session.get();
    }

    // Hands a new connection and request to the shared state, where Abandon
    // can close them; false (and closed) when the transfer was abandoned.
    bool Adopt(UniqueInternet connection, UniqueInternet request) {
        ExclusiveLock hold(s_.lock);
        if (s_.abandoned) return false;
        s_.request = std::move(request);
        s_.connection = std::move(connection);
        return true;
    }

    void CloseRequest() {
        ExclusiveLock hold(s_.lock);
        s_.request.reset();
        s_.connection.reset();
    }

    // One request for the file from what is already written on, through the
    // redirects and sign-ins it meets; `url` ends as the address that
    // answered, so that a resume does not go through the redirects again.
    FailureDetails Attempt(HINTERNET session, std::wstring& url) {
        for (int redirects = 0;;) {
            const uint64_t offset = rangeUsable_ ? s_.done.load() : 0;
            s_.Touch();
            FailureDetails failure;
            const HINTERNET request = Send(session, url, offset, failure);
            if (!request) return failure;
            DWORD status = 0;
            DWORD size = sizeof(status);
            ::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                             &size, nullptr);
            if (IsRedirect(static_cast<int>(status))) {
                const std::optional<std::wstring> next = RedirectTarget(request, url);
                if (!next) {
                    // Read while the request is open: closing it ends its headers.
                    failure = StatusFailure(request, status);
                    CloseRequest();
                    return failure;
                }
                CloseRequest();
                failure.named = *next;
                switch (JudgeRedirect(url, *next, redirects)) {
                    case RedirectVerdict::Downgrade: failure.failure = Failure::Downgrade; return failure;
                    case RedirectVerdict::TooMany: failure.failure = Failure::Redirects; return failure;
                    case RedirectVerdict::NotHttp: return ErrorFailure(Failure::Address, ERROR_INTERNET_UNRECOGNIZED_SCHEME);
                    case RedirectVerdict::Follow: break;
                }
                url = *next;
                ++redirects;
                continue;
            }
            if (status == HTTP_STATUS_PROXY_AUTH_REQ || status == HTTP_STATUS_DENIED) {
                // WinINet has tried what it can by itself (the Windows logon
                // for NTLM and Negotiate, credentials given before): ask.
                const SignIn who = status == HTTP_STATUS_PROXY_AUTH_REQ ? SignIn::Proxy : SignIn::Server;
                CloseRequest();
                if (AskCredentials(who)) continue;
                failure.failure = who == SignIn::Proxy ? Failure::ProxyCredentials : Failure::ServerCredentials;
                return failure;
            }
            const FailureDetails result = Answer(request, offset, static_cast<int>(status));
            CloseRequest();
            return result;
        }
    }

    // Opens and sends a request for `url` from `offset` on; null, with the
    // failure filled in, when no answer came.
    HINTERNET Send(HINTERNET session, const std::wstring& url, uint64_t offset,
                   FailureDetails& failure) {
        URL_COMPONENTSW parts{};
        parts.dwStructSize = sizeof(parts);
        parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
        parts.dwUserNameLength = parts.dwPasswordLength = 1;
        if (!::InternetCrackUrlW(url.c_str(), 0, 0, &parts)) {
            failure = NetworkFailure(::GetLastError());
            return nullptr;
        }
        if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
            failure = ErrorFailure(Failure::Address, ERROR_INTERNET_UNRECOGNIZED_SCHEME);
            return nullptr;
        }
        const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
        std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                            std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
        if (path.empty()) path = L"/";
        // A user name and password in the address sign in to the server.
        const std::wstring user(parts.lpszUserName, parts.dwUserNameLength);
        const std::wstring password(parts.lpszPassword, parts.dwPasswordLength);
        UniqueInternet connection(::InternetConnectW(
            session, host.c_str(), parts.nPort, user.empty() ? nullptr : user.c_str(),
            user.empty() ? nullptr : password.c_str(), INTERNET_SERVICE_HTTP, 0, 0));
        const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0;
        UniqueInternet owned(connection ? ::HttpOpenRequestW(connection.get(), L"GET", path.c_str(),
                                                             nullptr, nullptr, nullptr,
                                                             kRequestFlags | secure, 0)
                                        : nullptr);
        if (!owned) {
            failure = NetworkFailure(::GetLastError());
            return nullptr;
        }
        const HINTERNET request = owned.get();
        if (!Adopt(std::move(connection), std::move(owned))) {
            failure = ErrorFailure(Failure::Other, ERROR_CANCELLED);
            return nullptr;
        }
        BOOL decode = TRUE;
        decoding_ = ::InternetSetOptionW(request, INTERNET_OPTION_HTTP_DECODING, &decode,
                                         sizeof(decode)) != FALSE;
        SetCredentials(request);
        const std::wstring headers = kAcceptHeader + RangeHeader(offset);
        if (!::HttpSendRequestW(request, headers.c_str(), static_cast<DWORD>(headers.size()),
                                nullptr, 0)) {
            failure = ConnectFailure(::GetLastError(), url);
            return nullptr;
        }
        return request;
    }

    // The absolute address a redirect's Location names, relative ones
    // resolved against the address that answered.
    static std::optional<std::wstring> RedirectTarget(HINTERNET request, const std::wstring& url) {
        const std::optional<std::wstring> location = QueryHeader(request, HTTP_QUERY_LOCATION);
        if (!location || location->empty()) return std::nullopt;
        return QueryGrowing([&](void* buffer, DWORD* bytes) {
            DWORD characters = *bytes / sizeof(wchar_t);
            const BOOL done = ::InternetCombineUrlW(url.c_str(), location->c_str(),
                                                    static_cast<wchar_t*>(buffer), &characters,
                                                    ICU_ENCODE_SPACES_ONLY);
            *bytes = characters * sizeof(wchar_t);
            return done;
        });
    }

    // Credentials the user gave go with every later request of the transfer.
    void SetCredentials(HINTERNET request) const {
        const struct {
            const std::optional<Credentials>& credentials;
            DWORD user;
            DWORD password;
        } sets[] = {
            {proxyCredentials_, INTERNET_OPTION_PROXY_USERNAME, INTERNET_OPTION_PROXY_PASSWORD},
            {serverCredentials_, INTERNET_OPTION_USERNAME, INTERNET_OPTION_PASSWORD},
        };
        for (const auto& set : sets) {
            if (!set.credentials) continue;
            const std::wstring& user = set.credentials->user;
            const std::wstring& password = set.credentials->password;
            ::InternetSetOptionW(request, set.user, const_cast<wchar_t*>(user.c_str()),
                                 static_cast<DWORD>(user.size()));
            ::InternetSetOptionW(request, set.password, const_cast<wchar_t*>(password.c_str()),
                                 static_cast<DWORD>(password.size()));
        }
    }

    // Asks the user through the dialog and waits for the answer; true with
    // credentials to try, false when the user declined or left.
    bool AskCredentials(SignIn who) {
        s_.signIn = static_cast<int>(who);
        {
            ExclusiveLock hold(s_.lock);
            s_.SetPhase(TransferPhase::Credentials);
            s_.NotifyLocked();
        }
        ::WaitForSingleObject(s_.wake.get(), INFINITE);
        ExclusiveLock hold(s_.lock);
        if (s_.abandoned || !s_.answer) return false;
        (who == SignIn::Proxy ? proxyCredentials_ : serverCredentials_) = std::move(s_.answer);
        s_.answer.reset();
        return true;
    }

    // Waits the time a busy server asked for; false when abandoned meanwhile.
    bool WaitWhileBusy(uint64_t waitMs, int retry) {
        s_.busyRetries = retry;
        s_.busyUntil = ::GetTickCount64() + waitMs;
        s_.SetPhase(TransferPhase::Busy);
        ::WaitForSingleObject(s_.wake.get(), static_cast<DWORD>(waitMs));
        if (s_.Abandoned()) return false;
        s_.SetPhase(TransferPhase::Connecting);
        return true;
    }

    // The Content-Encoding header, looked up by name: Wine drops the header
    // when it decodes the body, and then answers HTTP_QUERY_CONTENT_ENCODING
    // with another header's value. A value too long for this buffer is no
    // encoding WinINet decodes, and is refused as "?".
    static std::wstring ContentEncoding(HINTERNET request) {
        wchar_t value[64] = L"Content-Encoding";
        DWORD bytes = sizeof(value);
        if (::HttpQueryInfoW(request, HTTP_QUERY_CUSTOM, value, &bytes, nullptr)) return value;
        return ::GetLastError() == ERROR_INSUFFICIENT_BUFFER ? L"?" : L"";
    }

    static FailureDetails StatusFailure(HINTERNET request, DWORD status) {
        FailureDetails details;
        details.failure = Failure::Status;
        details.status = static_cast<int>(status);
        details.statusText = QueryHeader(request, HTTP_QUERY_STATUS_TEXT).value_or(L"");
        if (const auto retryAfter = QueryHeader(request, HTTP_QUERY_RETRY_AFTER))
            details.retryAfter = ParseRetryAfter(*retryAfter, std::time(nullptr));
        return details;
    }

    FailureDetails Answer(HINTERNET request, uint64_t offset, int status) {
        const auto length = QueryHeader(request, HTTP_QUERY_CONTENT_LENGTH);
        const auto range = QueryHeader(request, HTTP_QUERY_CONTENT_RANGE);
        const ResponseVerdict verdict =
            JudgeResponse(offset, status, length ? ParseLength(*length) : std::nullopt,
                          range ? ParseContentRange(*range) : std::nullopt);
        if (verdict.failure == Failure::WrongPart) {
            FailureDetails details;
            details.failure = Failure::WrongPart;
            details.done = s_.done;
            if (s_.total >= 0) details.total = static_cast<uint64_t>(s_.total.load());
            return details;
        }
        if (verdict.start == BodyStart::Refuse) return StatusFailure(request, static_cast<DWORD>(status));
        std::optional<uint64_t> total = verdict.total;
        const std::wstring encoding = ContentEncoding(request);
        switch (JudgeEncoding(encoding, decoding_)) {
            case EncodingVerdict::Refuse: {
                FailureDetails details;
                details.failure = Failure::Encoded;
                details.named = encoding;
                return details;
            }
            case EncodingVerdict::Decoded:
                // The length is the encoded body's, and a range would count
                // encoded bytes: the size is unknown, and no resume by range.
                total.reset();
                rangeUsable_ = false;
                break;
            case EncodingVerdict::Plain: break;
        }
        const bool restart = verdict.start == BodyStart::FromZero || (offset == 0 && s_.done > 0);
        if (restart) {
            if (const DWORD error = Rewind()) return WriteFailure(error);
        }
        s_.total = total ? static_cast<int64_t>(*total) : -1;
        s_.SetPhase(TransferPhase::Receiving);
        return Receive(request, total);
    }

    FailureDetails Receive(HINTERNET request, std::optional<uint64_t> total) {
        DWORD size = 0;
        for (;;) {
            DWORD want = size;
            if (want == 0) {
                // Waits for data, and says how much has come; none means the end.
                DWORD available = 0;
                if (!::InternetQueryDataAvailable(request, &available, 0, 0)) return Broken();
                if (available == 0) return BodyEnd(total);
                want = available < kChunkBytes ? available : kChunkBytes;
            }
            const ULONGLONG started = ::GetTickCount64();
            char* const chunk = writer_.Next();
            if (!chunk) return WriteFailure(writer_.Drain());
            DWORD read = 0;
            if (!::InternetReadFile(request, chunk, want, &read)) return Broken();
            if (read == 0) return BodyEnd(total);
            writer_.Submit(read);
            s_.done += read;
            s_.Touch();
            size = NextReadSize(want, read, ::GetTickCount64() - started, kChunkBytes);
        }
    }

    FailureDetails BodyEnd(std::optional<uint64_t> total) {
        if (const DWORD error = writer_.Drain()) return WriteFailure(error);
        FailureDetails details;
        details.failure = JudgeBodyEnd(s_.done, total);
        details.done = s_.done;
        details.total = total;
        return details;
    }

    // Whatever breaks a body off midway counts as a lost connection.
    static FailureDetails Broken() {
        const DWORD error = ::GetLastError();
        const Failure kind = ClassifyNetworkError(error);
        return ErrorFailure(kind == Failure::Other ? Failure::ConnectionLost : kind, error);
    }

    // The chunk goes to the file whole, or the error says why not. A write
    // that stops short without an error (Wine's, on a full disk) is a full disk.
    // On the writer's thread.
    DWORD Write(const char* data, DWORD bytes) {
        ExclusiveLock hold(s_.lock);
        if (!s_.file) return ERROR_CANCELLED;
        DWORD written = 0;
        if (!::WriteFile(s_.file.get(), data, bytes, &written, nullptr)) return ::GetLastError();
        return written == bytes ? ERROR_SUCCESS : ERROR_DISK_FULL;
    }

    // The server sent the whole file instead of the rest: start over. 0, or
    // the error that stopped it.
    DWORD Rewind() {
        if (const DWORD error = writer_.Drain()) return error;
        ExclusiveLock hold(s_.lock);
        if (!s_.file) return ERROR_CANCELLED;
        LARGE_INTEGER zero{};
        if (!::SetFilePointerEx(s_.file.get(), zero, nullptr, FILE_BEGIN) || !::SetEndOfFile(s_.file.get()))
            return ::GetLastError();
        s_.done = 0;
        return ERROR_SUCCESS;
    }

    // A full disk names the drive and, where known, the sizes: the file's
    // and what is free once its partial copy is gone.
    FailureDetails WriteFailure(DWORD error) const {
        if (error != ERROR_DISK_FULL && error != ERROR_HANDLE_DISK_FULL)
            return ErrorFailure(Failure::Write, error);
        FailureDetails details;
        details.failure = Failure::DiskFull;
        ExclusiveLock hold(s_.lock);
        details.named = VolumeOf(s_.tempPath);
        ULARGE_INTEGER free{};
        LARGE_INTEGER partial{};
        if (::GetDiskFreeSpaceExW(details.named.c_str(), &free, nullptr, nullptr) &&
            ::GetFileSizeEx(s_.file.get(), &partial))
            details.freeBytes = free.QuadPart + static_cast<uint64_t>(partial.QuadPart);
        if (s_.total >= 0) details.total = static_cast<uint64_t>(s_.total.load());
        return details;
    }

    Transfer::Shared& s_;
    ChunkWriter writer_;
    // False once a decoded body arrived: its bytes cannot be asked for by range.
    bool rangeUsable_ = true;
    bool decoding_ = false;  // WinINet agreed to decode gzip and deflate
    std::optional<Credentials> proxyCredentials_;
    std::optional<Credentials> serverCredentials_;
};

struct WorkerStart {
    std::shared_ptr<Transfer::Shared> shared;
    HMODULE module;
};

DWORD WINAPI WorkerMain(void* parameter) {
    HMODULE module = nullptr;
    {
        const std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(parameter));
        module = start->module;
        Worker(*start->shared).Run();
    }
    // An abandoned worker may outlive the call that started it: the library
    // stays loaded until its last worker has left it.
    ::FreeLibraryAndExitThread(module, 0);
}

}  // namespace

Transfer::Transfer(const std::wstring& url, const std::wstring& target, uint32_t stallMs)
    : target_(target), shared_(std::make_shared<Shared>()) {
    shared_->url = url;
    shared_->stallMs = stallMs;
    // Without it no wait for a busy server or for the user would wait.
    if (!shared_->wake) {
        shared_->AbandonWith(ErrorFailure(Failure::Other, ::GetLastError()));
        return;
    }

    // Beside the target, so that the final rename stays on one volume.
    std::wstring folder = rvz::GetDirectoryPart(target);
    if (folder.empty()) folder = L".";
    // GetTempFileName takes no size: it writes up to MAX_PATH characters.
    wchar_t temp[MAX_PATH];
    if (!::GetTempFileNameW(folder.c_str(), L"rvd", 0, temp)) {
        shared_->AbandonWith(ErrorFailure(Failure::Write, ::GetLastError()));
        return;
    }
    shared_->tempPath = temp;
    // The name's empty file is opened as it is: truncating it would make
    // Linux's ext4 (under Wine) flush the whole file to disk when it closes.
    shared_->file.reset(::CreateFileW(temp, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!shared_->file) {
        shared_->AbandonWith(ErrorFailure(Failure::Write, ::GetLastError()));
        return;
    }

    auto start = std::make_unique<WorkerStart>(WorkerStart{shared_, nullptr});
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                         reinterpret_cast<const wchar_t*>(&WorkerMain), &start->module);
    const rvz::UniqueHandleKernel thread(
        ::CreateThread(nullptr, 0, WorkerMain, start.get(), 0, nullptr));
    if (!thread) {
        const DWORD error = ::GetLastError();
        ::FreeLibrary(start->module);
        shared_->AbandonWith(ErrorFailure(Failure::Other, error));
        return;
    }
    start.release();  // the worker owns it now
}

Transfer::~Transfer() { Abandon(); }

void Transfer::NotifyTo(HWND window, UINT message) {
    ExclusiveLock hold(shared_->lock);
    shared_->notify = window;
    shared_->message = message;
    // What happened before there was a window to tell.
    if (shared_->NeedsCaller()) shared_->NotifyLocked();
}

TransferProgress Transfer::Progress() const {
    TransferProgress progress;
    progress.phase = shared_->Phase();
    progress.done = shared_->done;
    const int64_t total = shared_->total;
    if (total >= 0) progress.total = static_cast<uint64_t>(total);
    progress.resumes = shared_->resumes;
    progress.busyRetries = shared_->busyRetries;
    const ULONGLONG now = ::GetTickCount64();
    const ULONGLONG until = shared_->busyUntil;
    progress.busyWaitLeftMs = until > now ? until - now : 0;
    progress.signIn = static_cast<SignIn>(shared_->signIn.load());
    return progress;
}

bool Transfer::Poll() {
    if (shared_->Ended()) return true;
    if (shared_->Waiting()) return false;
    // Read the last activity first: it may move on, but never past "now".
    const ULONGLONG last = shared_->lastActivity;
    if (::GetTickCount64() - last < shared_->stallMs) return false;
    FailureDetails details;
    details.failure = Failure::Timeout;
    shared_->AbandonWith(details);
    return true;
}

FailureDetails Transfer::Outcome() const {
    ExclusiveLock hold(shared_->lock);
    return shared_->failure;
}

void Transfer::AnswerCredentials(std::optional<Credentials> credentials) {
    ExclusiveLock hold(shared_->lock);
    if (shared_->Phase() != TransferPhase::Credentials) return;
    shared_->answer = std::move(credentials);
    // At once, not when the worker wakes: a poll meanwhile must not ask again.
    shared_->SetPhase(TransferPhase::Connecting);
    ::SetEvent(shared_->wake.get());
}

bool Transfer::Commit() {
    ExclusiveLock hold(shared_->lock);
    if (shared_->Phase() != TransferPhase::Succeeded || shared_->abandoned) return false;
    shared_->file.reset();
    if (::MoveFileExW(shared_->tempPath.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        shared_->tempPath.clear();
        shared_->abandoned = true;  // nothing left to discard
        return true;
    }
    shared_->failure = ErrorFailure(Failure::Write, ::GetLastError());
    shared_->phase = static_cast<int>(TransferPhase::Failed);
    shared_->DiscardLocked();
    return false;
}

void Transfer::Abandon() {
    // A committed or abandoned transfer has nothing left to drop: no need
    // to look up the words for a cancel either.
    if (shared_->Abandoned()) return;
    FailureDetails details;
    details.failure = Failure::Other;
    details.errorText = ErrorText(ERROR_CANCELLED);
    shared_->AbandonWith(details);
}

std::wstring Transfer::TemporaryPath() const {
    ExclusiveLock hold(shared_->lock);
    return shared_->tempPath;
}

}  // namespace rvdl
