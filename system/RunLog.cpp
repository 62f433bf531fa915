#include "RunLog.h"

#include "AsciiText.h"
#include "WinError.h"
#include "basFiles.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <utility>
#include <vector>

namespace rvz {

namespace {

constexpr wchar_t kPrefix[] = L"RAVoduza-";
constexpr size_t kPrefixLength = std::size(kPrefix) - 1;
constexpr size_t kStampLength = 15;  // yyyymmdd-hhmmss

// Where a log's name puts it among the others: the time in its name, then its
// number within that second (1 without a suffix). Zero number: no log's name.
struct LogOrder {
    std::wstring stamp;
    unsigned number = 0;
    bool operator<(const LogOrder& other) const {
        return stamp != other.stamp ? stamp < other.stamp : number < other.number;
    }
};

LogOrder OrderOf(const std::wstring& name) {
    const size_t tail = kPrefixLength + kStampLength;
    if (name.size() < tail + 4 || name.compare(0, kPrefixLength, kPrefix) != 0 ||
        name.compare(name.size() - 4, 4, L".log") != 0)
        return {};
    const std::wstring stamp = name.substr(kPrefixLength, kStampLength);
    if (stamp[8] != L'-' || !IsDecimal(stamp.substr(0, 8)) || !IsDecimal(stamp.substr(9))) return {};
    const std::wstring suffix = name.substr(tail, name.size() - 4 - tail);
    if (suffix.empty()) return {stamp, 1};
    if (suffix[0] != L'-' || suffix.size() > 6) return {};
    const std::optional<std::uint64_t> number = ParseDecimal(std::wstring_view(suffix).substr(1));
    if (!number) return {};
    return {stamp, static_cast<unsigned>(*number)};
}

// Administrators and the system may change a log; every user may read it, so
// that the user whose install it tells can open it without rights.
constexpr wchar_t kLogSddl[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)";

// Deletes the oldest logs in the folder but the own one, keeping kKept - 1;
// only the loader's own, checked by handle as each is deleted.
void DeleteOldLogs(const std::wstring& folder, const std::wstring& ownName, OwnerCheck isLoaders) {
    std::vector<std::pair<LogOrder, std::wstring>> others;
    for (const WIN32_FIND_DATAW& entry : FindEntries(folder + kPrefix + L"*.log")) {
        const LogOrder order = OrderOf(entry.cFileName);
        if (order.number != 0 && ownName != entry.cFileName &&
            !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            others.emplace_back(order, entry.cFileName);
    }
    if (others.size() < RunLog::kKept) return;
    std::sort(others.begin(), others.end());
    for (size_t i = 0; i + (RunLog::kKept - 1) < others.size(); ++i)
        RemoveOwnFile(folder + others[i].second, isLoaders);
}

}  // namespace

RunLog RunLog::Open(const std::wstring& folder, OwnerCheck isLoaders) noexcept {
    RunLog log;
    try {
        const UniqueLocal security = SecurityOf(kLogSddl);
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), security.get(), FALSE};
        SYSTEMTIME now;
        ::GetLocalTime(&now);
        wchar_t stamp[kStampLength + 1];
        std::swprintf(stamp, kStampLength + 1, L"%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth,
                      now.wDay, now.wHour, now.wMinute, now.wSecond);
        std::wstring name;
        for (unsigned number = 1; number < 100 && !log.file_; ++number) {
            name = kPrefix + std::wstring(stamp) +
                   (number == 1 ? L"" : L"-" + std::to_wstring(number)) + L".log";
            // A new file only: another loader's log of the same second stays its own.
            log.file_.reset(::CreateFileW((folder + name).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                          &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!log.file_ && ::GetLastError() != ERROR_FILE_EXISTS) return RunLog();
        }
        if (!log.file_) return RunLog();
        log.path_ = folder + name;
        DWORD written = 0;
        ::WriteFile(log.file_.get(), "\xEF\xBB\xBF", 3, &written, nullptr);
        DeleteOldLogs(folder, name, isLoaders);
    } catch (...) {
        // Without the log the loader works as well.
    }
    return log;
}

void RunLog::Write(const std::wstring& text) noexcept {
    if (!file_) return;
    try {
        SYSTEMTIME now;
        ::GetLocalTime(&now);
        wchar_t time[16];
        std::swprintf(time, 16, L"%02u:%02u:%02u.%03u  ", now.wHour, now.wMinute, now.wSecond,
                      now.wMilliseconds);
        const std::string line = ToUtf8(time + text + L"\r\n");
        DWORD written = 0;
        ::WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    } catch (...) {
        // A line that cannot be written is left out.
    }
}

}  // namespace rvz
