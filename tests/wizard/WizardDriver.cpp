#include "WizardDriver.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <stdexcept>

namespace rvztest {

namespace {

// A 32-bit top-down DIB section selected into a memory DC.
class Canvas {
public:
    Canvas(int width, int height) : width_(width), height_(height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        dc_.reset(::CreateCompatibleDC(nullptr));
        bitmap_.reset(::CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits_, nullptr, 0));
        if (!bitmap_) throw std::runtime_error("CreateDIBSection failed");
        previous_ = ::SelectObject(dc_.get(), bitmap_.get());
    }
    ~Canvas() { ::SelectObject(dc_.get(), previous_); }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return dc_.get(); }
    Pixels Read() const {
        ::GdiFlush();
        Pixels pixels{width_, height_, {}};
        const auto* bits = static_cast<const uint32_t*>(bits_);
        for (size_t i = 0; i < static_cast<size_t>(width_ * height_); ++i)
            pixels.values.push_back(bits[i] & 0xFFFFFFu);
        return pixels;
    }

private:
    int width_, height_;
    rvz::UniqueMemoryDc dc_;
    rvz::UniqueBitmap bitmap_;
    void* bits_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};

uint32_t AsPixel(COLORREF colour) {
    return (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
}

// Posts a key message pair with the scan code and flags of a real press.
void PostKey(HWND target, UINT down, UINT up, UINT virtualKey, LPARAM extraFlags) {
    const LPARAM scan = static_cast<LPARAM>(::MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC)) << 16;
    ::PostMessageW(target, down, virtualKey, 1 | scan | extraFlags);
    ::PostMessageW(target, up, virtualKey, 1 | scan | extraFlags | 0xC0000000);
}

HWND KeyTarget(HWND wizard) {
    HWND focus = FocusOf(wizard);
    return focus ? focus : wizard;
}

}  // namespace

size_t Pixels::Differences(const Pixels& other) const {
    if (width != other.width || height != other.height) return values.size();
    size_t count = 0;
    for (size_t i = 0; i < values.size(); ++i) count += values[i] != other.values[i];
    return count;
}

bool Pixels::AllOf(COLORREF colour) const {
    for (uint32_t value : values)
        if (value != AsPixel(colour)) return false;
    return !values.empty();
}

Pixels CaptureClient(HWND window, const RECT& rect) {
    POINT origin{rect.left, rect.top};
    ::ClientToScreen(window, &origin);
    Canvas canvas(rect.right - rect.left, rect.bottom - rect.top);
    HDC screen = ::GetDC(nullptr);
    ::BitBlt(canvas.dc(), 0, 0, rect.right - rect.left, rect.bottom - rect.top, screen, origin.x, origin.y,
             SRCCOPY);
    ::ReleaseDC(nullptr, screen);
    return canvas.Read();
}

Pixels RenderLabel(const std::wstring& text, const wchar_t* face, int height, int weight, COLORREF colour,
                   int width, int boxHeight) {
    Canvas canvas(width, boxHeight);
    RECT box{0, 0, width, boxHeight};
    ::FillRect(canvas.dc(), &box, ::GetSysColorBrush(COLOR_WINDOW));
    LOGFONTW font{};
    font.lfHeight = -height;
    font.lfWeight = weight;
    font.lfCharSet = ANSI_CHARSET;
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    rvz::UniqueFont created(::CreateFontIndirectW(&font));
    HGDIOBJ previous = ::SelectObject(canvas.dc(), created.get());
    ::SetTextColor(canvas.dc(), colour);
    ::SetBkMode(canvas.dc(), TRANSPARENT);
    ::DrawTextW(canvas.dc(), text.c_str(), static_cast<int>(text.size()), &box,
                DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
    ::SelectObject(canvas.dc(), previous);
    return canvas.Read();
}

Pixels LoadPicture(const std::wstring& loaderPath) {
    const rvz::UniqueModule loader = LoadAsData(loaderPath);
    rvz::UniqueBitmap picture(static_cast<HBITMAP>(
        ::LoadImageW(loader.get(), MAKEINTRESOURCEW(1), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    BITMAP size{};
    if (!picture || !::GetObjectW(picture.get(), sizeof(size), &size)) return {};
    Canvas canvas(size.bmWidth, size.bmHeight);
    rvz::UniqueMemoryDc source(::CreateCompatibleDC(nullptr));
    HGDIOBJ previous = ::SelectObject(source.get(), picture.get());
    ::BitBlt(canvas.dc(), 0, 0, size.bmWidth, size.bmHeight, source.get(), 0, 0, SRCCOPY);
    ::SelectObject(source.get(), previous);
    return canvas.Read();
}

void ExpectLabels(HWND wizard, const std::wstring& title, const std::wstring& info) {
    struct Label {
        const char* name;
        const std::wstring& text;
        RECT place;
        int height, weight;
        COLORREF colour;
    };
    // MS Sans Serif 12 pt bold and 9.75 pt regular at 96 dpi.
    const Label labels[] = {{"lblTitle", title, {176, 16, 473, 57}, 16, FW_BOLD, ::GetSysColor(COLOR_BTNTEXT)},
                            {"lblInfo", info, {176, 72, 473, 225}, 13, FW_NORMAL, RGB(0, 0, 0)}};
    for (const Label& label : labels) {
        const Pixels expected = RenderLabel(label.text, L"MS Sans Serif", label.height, label.weight, label.colour,
                                            label.place.right - label.place.left,
                                            label.place.bottom - label.place.top);
        ASSERT_FALSE(expected.AllOf(::GetSysColor(COLOR_WINDOW))) << label.name << ": nothing to compare";
        Pixels shown;
        WaitUntil([&] {
            shown = CaptureClient(wizard, label.place);
            return shown == expected;
        });
        EXPECT_EQ(shown.Differences(expected), 0u) << label.name << " does not show: " << Utf8(label.text);
    }
}

void ExpectTexts(const WizardRun& run, const WizardTexts& texts) {
    EXPECT_EQ(WindowText(run.wizard()), texts.caption);
    EXPECT_EQ(WindowText(run.control(kSettingsId)), texts.settings);
    EXPECT_EQ(WindowText(run.control(kAutostartId)), texts.autostart);
    EXPECT_EQ(WindowText(run.control(kInstallId)), texts.install);
    EXPECT_EQ(WindowText(run.control(kCancelId)), texts.cancel);
    ExpectLabels(run.wizard(), texts.title, texts.info);
}

RECT ClientRectOf(HWND child) {
    RECT rect;
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

void PressKey(HWND wizard, UINT virtualKey) { PostKey(KeyTarget(wizard), WM_KEYDOWN, WM_KEYUP, virtualKey, 0); }

void PressAltKey(HWND wizard, wchar_t letter) {
    // What TranslateMessage makes of Alt+letter: the character as WM_SYSCHAR
    // with the context bit that says Alt is down.
    constexpr LPARAM kAltDown = 1 << 29;
    HWND target = KeyTarget(wizard);
    const UINT key = static_cast<UINT>(::towupper(letter));
    const LPARAM scan = static_cast<LPARAM>(::MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
    ::PostMessageW(target, WM_SYSCHAR, letter, 1 | scan | kAltDown);
}

WizardRun::WizardRun(const std::wstring& appName)
    : run_("[Loader]\r\nAppName=" + Utf8(appName) + "\r\nGridCommand=/app:Test\r\n") {
    wizard_ = WaitForWindow(run_.Start(run_.folder()).id());
    if (!wizard_) throw std::runtime_error("the loader showed no window");
    // Answered only once the loader has shown and painted the wizard and
    // reached its message loop.
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(wizard_, WM_NULL, 0, 0, SMTO_BLOCK, 20000, &ignored);
}

HWND WizardRun::WaitForMessageBox() const { return rvztest::WaitForMessageBox(process().id()).window; }

DWORD WizardRun::WaitForExit() const {
    process().Wait();
    return process().ExitCode();
}

}  // namespace rvztest
