#include "CredentialsPrompt.h"

#include "DialogIds.h"

#include <cstddef>
#include <vector>

namespace rvdl {

namespace {

// A dialog template built in memory: the texts come from the language
// file, so a resource template would need them patched in anyway. The
// vector's storage is aligned for any type, as DLGTEMPLATE needs.
class DialogTemplate {
public:
    DialogTemplate(const std::wstring& title, short width, short height) {
        AddDword(DS_MODALFRAME | DS_SHELLFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
        AddDword(0);  // extended style
        Add(0);       // items, counted as they are added
        for (short value : {short{0}, short{0}, width, height}) Add(static_cast<WORD>(value));
        Add(0);  // no menu
        Add(0);  // the standard dialog class
        AddText(title.c_str());
        Add(8);  // point size of the shell dialog font
        AddText(L"MS Shell Dlg");
    }

    void AddItem(WORD atom, int id, DWORD style, RECT rect, const wchar_t* text) {
        ++words_[kItemCount];
        if (words_.size() % 2) Add(0);  // items start on a DWORD boundary
        AddDword(WS_CHILD | WS_VISIBLE | style);
        AddDword(0);
        for (LONG value : {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top})
            Add(static_cast<WORD>(value));
        Add(static_cast<WORD>(id));
        Add(0xFFFF);  // a predefined class by its atom
        Add(atom);
        AddText(text);
        Add(0);  // no creation data
    }

    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    // The header's item count, in words from the start.
    static constexpr size_t kItemCount = offsetof(DLGTEMPLATE, cdit) / sizeof(WORD);

    void Add(WORD word) { words_.push_back(word); }
    void AddDword(DWORD value) {
        Add(LOWORD(value));
        Add(HIWORD(value));
    }
    void AddText(const wchar_t* text) {
        for (; *text; ++text) Add(*text);
        Add(0);
    }

    std::vector<WORD> words_;
};

constexpr WORD kButton = 0x0080;
constexpr WORD kEdit = 0x0081;
constexpr WORD kStatic = 0x0082;

INT_PTR CALLBACK PromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            return TRUE;  // the focus goes to the user name
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (id != IDOK && id != IDCANCEL) return FALSE;
            if (id == IDOK) {
                auto* answer = reinterpret_cast<Credentials*>(::GetWindowLongPtrW(dialog, DWLP_USER));
                for (auto [field, text] : {std::pair{kUserNameId, &answer->user},
                                           std::pair{kPasswordId, &answer->password}}) {
                    const HWND edit = ::GetDlgItem(dialog, field);
                    text->resize(static_cast<size_t>(::GetWindowTextLengthW(edit)) + 1);
                    text->resize(static_cast<size_t>(
                        ::GetWindowTextW(edit, text->data(), static_cast<int>(text->size()))));
                }
            }
            ::EndDialog(dialog, id);
            return TRUE;
        }
        default: return FALSE;
    }
}

}  // namespace

std::optional<Credentials> PromptForCredentials(HWND owner, const Texts& texts,
                                                const std::wstring& title,
                                                const std::wstring& question) {
    // Layout in dialog units.
    const struct {
        WORD atom;
        int id;
        DWORD style;
        RECT rect;
        const wchar_t* text;
    } items[] = {
        {kStatic, -1, SS_LEFT | SS_NOPREFIX, {8, 8, 222, 30}, question.c_str()},
        {kStatic, -1, SS_LEFT, {8, 36, 68, 46}, texts.Get(TextId::UserName).c_str()},
        {kEdit, kUserNameId, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, {70, 34, 222, 46}, L""},
        {kStatic, -1, SS_LEFT, {8, 54, 68, 64}, texts.Get(TextId::Password).c_str()},
        {kEdit, kPasswordId, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD,
         {70, 52, 222, 64}, L""},
        {kButton, IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, {118, 80, 168, 94},
         texts.Get(TextId::Ok).c_str()},
        {kButton, IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, {172, 80, 222, 94},
         texts.Get(TextId::Cancel).c_str()},
    };
    DialogTemplate form(title, 230, 102);
    for (const auto& item : items) form.AddItem(item.atom, item.id, item.style, item.rect, item.text);
    Credentials answer;
    const INT_PTR result = ::DialogBoxIndirectParamW(
        reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(owner, GWLP_HINSTANCE)), form.get(), owner,
        PromptProc, reinterpret_cast<LPARAM>(&answer));
    if (result != IDOK) return std::nullopt;
    return answer;
}

}  // namespace rvdl
